#pragma once
// Inside the SMBIOS reader: the source chain with its paths as a parameter,
// the entry point decoders, the structure-table walk and the loaders.
//
// The parsers are pure functions over byte spans; everything that touches a
// file or a device takes its path as an argument, so tests and fuzz targets
// can point the reader at files they built. The tool itself only ever uses
// the default SmbiosPaths.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>

namespace smbios {

using UuidSpan = std::span<std::uint8_t, 16>;
using RawUuid = std::span<const std::uint8_t, 16>;
using ByteView = std::span<const std::uint8_t>;

// Structure-table walk flags.
inline constexpr std::uint32_t kTableInFile = 1;       // table = whole file, address ignored
inline constexpr std::uint32_t kStopAtEndOfTable = 2;  // stop at the first type-127 structure

// The physical window that legacy BIOSes keep their entry points in.
inline constexpr std::int64_t kScanWindowAddress = 0xF0000;
inline constexpr std::size_t kScanWindowSize = 0x10000;

inline constexpr std::size_t kEntryPointBufferSize = 32;
inline constexpr std::size_t kProductUuidTextSize = 37;  // 36 characters and a line end
inline constexpr std::size_t kSystabLineBufferSize = 63;

struct SmbiosPaths {
  const char* entryPoint = "/sys/firmware/dmi/tables/smbios_entry_point";
  const char* table = "/sys/firmware/dmi/tables/DMI";
  const char* efiSystab = "/sys/firmware/efi/systab";
  const char* procSystab = "/proc/efi/systab";
  const char* memory = "/dev/mem";
  const char* productUuid = "/sys/devices/virtual/dmi/id/product_uuid";
};

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
// Heap bytes from malloc: allocation failure is an ordinary failed source,
// never an exception.
using ByteBuffer = std::unique_ptr<std::uint8_t[], FreeDeleter>;

// Where an entry point says its structure table is, and how to walk it.
struct TableLocation {
  std::uint64_t address = 0;
  std::uint32_t length = 0;
  std::uint16_t count = 0;    // 0: no limit
  std::uint32_t version = 0;  // (major << 16) | (minor << 8) | revision
  std::uint32_t flags = 0;
};

// The whole chain of sources, read from the given paths.
int readSystemUUID(UuidSpan uuid, const SmbiosPaths& paths);

// --- Pure parsers -------------------------------------------------------

// Each returns 0 and fills location, or -1 when the entry point is rejected.
// They never read outside entryPoint: a field or checksum range that the span
// doesn't hold rejects the entry point.
int parseSmbios3EntryPoint(ByteView entryPoint, std::uint32_t flags, TableLocation& location);
int parseSmbios2EntryPoint(ByteView entryPoint, std::uint32_t flags, TableLocation& location);
int parseDmiEntryPoint(ByteView entryPoint, std::uint32_t flags, TableLocation& location);

// 0 with the UUID in uuid, or -1 with uuid zeroed when the raw bytes are
// all 0x00 or all 0xFF. version is (major << 8) | minor.
int extractSystemUUID(RawUuid raw, std::uint16_t version, UuidSpan uuid);

// Walks a table already in memory; 0 when a usable type-1 UUID was written.
int walkStructureTable(ByteView table, std::uint16_t count, std::uint32_t version,
                       std::uint32_t flags, UuidSpan uuid);

// The kernel's product UUID text: 37 bytes, the last one (the line end) is
// overwritten with the terminator. Always fills uuid; positions without hex
// digits give zero bytes. Nothing after the 37 bytes is read.
void parseProductUuidText(std::span<std::uint8_t, kProductUuidTextSize> text, UuidSpan uuid);

// One EFI system table line: 1 and the address when its key is "SMBIOS3" or
// "SMBIOS", else 0. line is zero-terminated.
int parseSystabLine(const char* line, std::uint64_t& address);

// Reads the stream in 62-character pieces up to the first keyed line:
// 0 and the address, or -1 when the stream has none.
int findSystabEntryPoint(std::FILE* stream, std::uint64_t& address);

// --- Sources --------------------------------------------------------------

// Entry point bytes as read from the sysfs file: picks the decoder by anchor
// and size. 0 when the table gave a UUID.
int decodeSysfsEntryPoint(ByteView entryPoint, const char* tablePath, UuidSpan uuid);

// After an EFI system table opened: 0, or the chain's result code -1 / -2.
int readViaSystab(std::FILE* stream, const char* memoryPath, UuidSpan uuid);

// The 0xF0000 window scan on a device: 0, -1 or -2 as the chain reports them.
int scanMemoryWindow(const char* memoryPath, UuidSpan uuid);
// The search itself over a window already read (window.size() may be less
// than 64 KiB for tests; slot rules are relative to the window's end).
int scanWindowBytes(ByteView window, const char* memoryPath, UuidSpan uuid);

// --- Decoders and the walk over a table source ----------------------------

int decodeSmbios3EntryPoint(ByteView entryPoint, const char* tablePath, std::uint32_t flags,
                            UuidSpan uuid);
int decodeSmbios2EntryPoint(ByteView entryPoint, const char* tablePath, std::uint32_t flags,
                            UuidSpan uuid);
int decodeDmiEntryPoint(ByteView entryPoint, const char* tablePath, std::uint32_t flags,
                        UuidSpan uuid);

int scanStructureTable(std::uint64_t address, std::uint32_t length, std::uint16_t count,
                       std::uint32_t version, const char* tablePath, std::uint32_t flags,
                       UuidSpan uuid);

// --- I/O --------------------------------------------------------------------

// 0 when exactly count bytes were read; EINTR is retried.
int readExactly(int fd, std::uint8_t* destination, std::size_t count);

// The file's bytes, at most maxLength of them; maxLength becomes the count
// read. Null on any failure, and for a file whose size is known to be 0.
ByteBuffer loadFileBytes(const char* path, std::size_t& maxLength);

// length bytes at a physical address of the device (a regular file standing
// in for it is bounded by its size). Null on any failure.
ByteBuffer loadPhysicalRange(std::int64_t address, std::size_t length, const char* devicePath);

}  // namespace smbios
