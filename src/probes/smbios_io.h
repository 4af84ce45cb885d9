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

namespace probes {

// The kernel's copy of the SMBIOS tables: the first source of the UUID, and
// where orlim-inspect reads the firmware's own strings.
inline constexpr const char* kSysfsEntryPointPath = "/sys/firmware/dmi/tables/smbios_entry_point";
inline constexpr const char* kSysfsTablePath = "/sys/firmware/dmi/tables/DMI";

// Heap bytes from malloc: allocation failure is an ordinary failed source,
// never an exception.
using ByteBuffer = UniqueMalloc<std::uint8_t[]>;

// Every function here reports why it failed as -errno, the cause of the
// system call that failed or one of these, named after what they mean here:
//   -EBADFD  a FIFO, socket, directory or block device at a firmware path;
//   -ENODATA an empty file, or a range outside the memory image;
//   -EIO     the input ended before the count was read;
//   -ENOMEM  no memory for the bytes.
// Any failure is a failed source, and the chain goes on as for a missing
// file; the cause only says why, for whoever reports on the sources.

// Opens path read-only without blocking (a FIFO with no writer would hold
// an ordinary open for ever) and returns the descriptor with status filled,
// or -errno (-EBADFD for what is neither a regular file nor a character
// device).
int openFirmwareFile(const char* path, struct stat& status);

// The same file as a stdio stream (the EFI system table is read by lines),
// or null with cause set to why: openFirmwareFile's -errno, or fdopen's.
UniqueFile openFirmwareStream(const char* path, int& cause);

// 0 when exactly count bytes were read, else -1; EINTR is retried. cause,
// when given, says why: the read's -errno, or -EIO for an early end.
int readExactly(int fd, std::uint8_t* destination, std::size_t count, int* cause = nullptr);

// The same at a file offset, with pread: a page that can't be read in (a
// sparse file on a full file system, a file cut short since fstat) is an
// error here where a mapping would raise SIGBUS.
int readExactlyAt(int fd, std::uint8_t* destination, std::size_t count, std::uint64_t offset,
                  int* cause = nullptr);

// The file's bytes, at most maxLength of them, into bytes; maxLength
// becomes the count read. 0, or -errno (an empty file is -ENODATA).
int loadFileBytes(const char* path, std::size_t& maxLength, ByteBuffer& bytes);

// length bytes at a physical address of the device into bytes. A regular
// file standing in for the device is bounded by its size and read with
// pread; the device itself through a read-only mapping. 0, or -errno.
int loadPhysicalRange(std::int64_t address, std::size_t length, const char* devicePath,
                      ByteBuffer& bytes);

}  // namespace probes
