#pragma once
// The SMBIOS reader's file and physical-memory access: whole small files,
// and byte ranges of the memory device (or a regular file standing in for
// it). Nothing here knows what the bytes mean.

#include <cstddef>
#include <cstdint>

#include "common/owner.h"

namespace smbios {

// Heap bytes from malloc: allocation failure is an ordinary failed source,
// never an exception.
using ByteBuffer = UniqueMalloc<std::uint8_t[]>;

// 0 when exactly count bytes were read; EINTR is retried.
int readExactly(int fd, std::uint8_t* destination, std::size_t count);

// The file's bytes, at most maxLength of them; maxLength becomes the count
// read. Null on any failure, and for a file whose size is known to be 0.
ByteBuffer loadFileBytes(const char* path, std::size_t& maxLength);

// length bytes at a physical address of the device (a regular file standing
// in for it is bounded by its size). Null on any failure.
ByteBuffer loadPhysicalRange(std::int64_t address, std::size_t length, const char* devicePath);

}  // namespace smbios
