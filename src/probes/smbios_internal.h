#pragma once
// Inside the SMBIOS reader: the source chain with its paths as a parameter,
// and each source on its own.
//
// Parsing lives in smbios_parse.h and file and memory access in
// smbios_io.h; the chain only decides which source is asked when and what
// its result means. Everything that touches a file or a device takes its
// path as an argument, so tests can point the reader at files they built.
// The tool itself only ever uses the default SmbiosPaths.

#include <cstdint>
#include <cstdio>

#include "probes/smbios_io.h"
#include "probes/smbios_parse.h"

namespace smbios {

// readStructureTable's and the memory scan's outcomes besides 0 and the
// load codes of smbios_io.h (kTableTooLarge among them). Each is a failed
// source or a candidate passed over; they only say why.
inline constexpr int kNoUsableUuid = -7;        // walked: no type-1 structure with a usable UUID
inline constexpr int kTableAlreadyWalked = -8;  // the scan walked this very table already
inline constexpr int kScanBytesSpent = -9;      // the scan has read its kScanTableBytes

// The memory scan's bounds: all tables it reads together, and how many
// walks it remembers to pass over repeats (past that, the byte bound alone
// holds).
inline constexpr std::uint64_t kScanTableBytes = kMaxTableLength;
inline constexpr std::size_t kScanRememberedTables = 32;

struct SmbiosPaths {
  const char* entryPoint = "/sys/firmware/dmi/tables/smbios_entry_point";
  const char* table = "/sys/firmware/dmi/tables/DMI";
  const char* efiSystab = "/sys/firmware/efi/systab";
  const char* procSystab = "/proc/efi/systab";
  const char* memory = "/dev/mem";
  const char* productUuid = "/sys/devices/virtual/dmi/id/product_uuid";
};

// The whole chain of sources, read from the given paths: the kernel's copy
// of the tables, then the EFI system table or (when none opens) the legacy
// window, then the kernel's product UUID text. 0, -1 or -2.
int readSystemUUID(UuidSpan uuid, const SmbiosPaths& paths);

// --- The sources, in the order the chain asks them ------------------------

// Entry point bytes as read from the sysfs file, with the table in the file
// at tablePath. 0 when the table gave a UUID, else -1 (readStructureTable
// says why).
int decodeSysfsEntryPoint(ByteView entryPoint, const char* tablePath, UuidSpan uuid);

// After an EFI system table opened: 0, or the chain's result code -1 / -2.
int readViaSystab(std::FILE* stream, const char* memoryPath, UuidSpan uuid);

// The 0xF0000 window scan on a device: 0, -1 or -2 as the chain reports them.
// Each table is read at most once, and at most kScanTableBytes of tables in
// all.
int scanMemoryWindow(const char* memoryPath, UuidSpan uuid);

// The kernel's text: 0 with the UUID, or -1 when the file can't be read or
// doesn't hold exactly the 37 bytes.
int readProductUuid(const char* path, UuidSpan uuid);

// Reads the table an entry point located (the whole file at path with
// kTableInFile, else a physical range of the device at path) and walks it:
// 0 with the UUID, kTableTooLarge for a stated length over kMaxTableLength
// (nothing read), a load code, or kNoUsableUuid.
int readStructureTable(const TableLocation& location, const char* path, UuidSpan uuid);

}  // namespace smbios
