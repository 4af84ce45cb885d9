#pragma once
// The SMBIOS reader's file and physical-memory access: whole small files,
// and byte ranges of the memory device (or a regular file standing in for
// it). Nothing here knows what the bytes mean.
//
// Every firmware path is opened without blocking and read only when it is
// a regular file or a character device: a FIFO, socket, directory or block
// device put where firmware data belongs is a failed source, never a hang.

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "common/owner.h"

namespace smbios {

// Heap bytes from malloc: allocation failure is an ordinary failed source,
// never an exception.
using ByteBuffer = UniqueMalloc<std::uint8_t[]>;

// What a load came to. Any failure is a failed source and the chain goes on
// as for a missing file; the distinct codes only say why, for whoever
// reports on the sources.
inline constexpr int kLoaded = 0;
inline constexpr int kCannotOpen = -1;       // missing, not permitted, or fstat failed
inline constexpr int kNotFileOrDevice = -2;  // a FIFO, socket, directory or block device
inline constexpr int kEmptyOrOutside = -3;   // an empty file, or a range outside the memory image
inline constexpr int kReadError = -4;        // the read failed or came up short
inline constexpr int kNoMemory = -5;
inline constexpr int kTableTooLarge = -6;  // a stated table length over kMaxTableLength

// Opens path read-only without blocking (a FIFO with no writer would hold
// an ordinary open for ever) and returns the descriptor with status filled,
// or kCannotOpen / kNotFileOrDevice. Only regular files and character
// devices are let through.
int openFirmwareFile(const char* path, struct stat& status);

// The same file as a stdio stream (the EFI system table is read by lines),
// or null when openFirmwareFile refuses it or no stream can be made.
UniqueFile openFirmwareStream(const char* path);

// 0 when exactly count bytes were read; EINTR is retried.
int readExactly(int fd, std::uint8_t* destination, std::size_t count);

// The same at a file offset, with pread: a page that can't be read in (a
// sparse file on a full file system, a file cut short since fstat) is an
// error here where a mapping would raise SIGBUS.
int readExactlyAt(int fd, std::uint8_t* destination, std::size_t count, std::uint64_t offset);

// The file's bytes, at most maxLength of them, into bytes; maxLength
// becomes the count read. kLoaded, or why not (an empty file is
// kEmptyOrOutside).
int loadFileBytes(const char* path, std::size_t& maxLength, ByteBuffer& bytes);

// length bytes at a physical address of the device into bytes. A regular
// file standing in for the device is bounded by its size and read with
// pread; the device itself through a read-only mapping. kLoaded, or why not.
int loadPhysicalRange(std::int64_t address, std::size_t length, const char* devicePath,
                      ByteBuffer& bytes);

}  // namespace smbios
