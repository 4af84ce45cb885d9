#pragma once
// Inside the SMBIOS reader: each source of the chain on its own, for the
// tests (the chain itself, watched, is in smbios_watched.h).
//
// Parsing lives in smbios_parse.h and file and memory access in
// smbios_io.h; the chain only decides which source is asked when and what
// its result means. Everything that touches a file or a device takes its
// path as an argument, so tests can point the reader at files they built.
// The tool itself only ever uses the default SmbiosPaths.

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "probes/smbios_io.h"
#include "probes/smbios_parse.h"
#include "probes/smbios_watched.h"

namespace probes {

// The causes readStructureTable and the memory scan report besides those of
// smbios_io.h, as -errno too. Each is a failed source or a candidate passed
// over; they only say why.
inline constexpr int kTableTooLarge = -EFBIG;         // a stated length over kMaxTableLength
inline constexpr int kAddressTooHigh = -ERANGE;       // an address no file offset can reach
inline constexpr int kNoUsableUuid = -ENOMSG;         // walked: no type-1 with a usable UUID
inline constexpr int kTableAlreadyWalked = -EALREADY;  // the scan walked this very table already
inline constexpr int kScanBytesSpent = -ENOBUFS;      // the scan has read its kScanTableBytes

// The memory scan's bounds: all tables it reads together, and how many
// walks it remembers to pass over repeats (past that, the byte bound alone
// holds).
inline constexpr std::uint64_t kScanTableBytes = kMaxTableLength;
inline constexpr std::size_t kScanRememberedTables = 32;

// --- The sources, in the order the chain asks them ------------------------

// Entry point bytes as read from the sysfs file, with the table in the file
// at tablePath. 0 when the table gave a UUID, else -1 (readStructureTable
// says why).
int decodeSysfsEntryPoint(ByteView entryPoint, const char* tablePath, UuidSpan uuid,
                          UuidAttempt* attempt = nullptr);

// The kernel's copy of the entry point at paths.entryPoint, with its table
// at paths.table: 0 when it gave a UUID, else -1.
int readSysfsSource(const SmbiosPaths& paths, UuidSpan uuid, UuidAttempt* attempt = nullptr);

// The EFI system table, from paths.efiSystab or else paths.procSystab: 0,
// -1 or -2 as the chain reports them; opened is set when a table opened
// (the memory scan is then never tried). The attempt names the file it
// read, or the one whose failure says the most.
int readEfiSource(const SmbiosPaths& paths, UuidSpan uuid, bool& opened,
                  UuidAttempt* attempt = nullptr);

// After an EFI system table opened: 0, or the chain's result code -1 / -2.
int readViaSystab(std::FILE* stream, const char* memoryPath, UuidSpan uuid,
                  UuidAttempt* attempt = nullptr);

// The 0xF0000 window scan on a device: 0, -1 or -2 as the chain reports them.
// Each table is read at most once, and at most kScanTableBytes of tables in
// all. Each entry point found becomes an attempt of its own in observation.
int scanMemoryWindow(const char* memoryPath, UuidSpan uuid, UuidObservation* observation = nullptr);

// The kernel's text: 0 with the UUID, or -1 when the file can't be read or
// doesn't hold exactly the 37 bytes.
int readProductUuid(const char* path, UuidSpan uuid, UuidAttempt* attempt = nullptr);

// Reads the table an entry point located (the whole file at path with
// kTableInFile, else a physical range of the device at path) and walks it:
// 0 with the UUID, kTableTooLarge for a stated length over kMaxTableLength
// (nothing read), kAddressTooHigh, a load's -errno, or kNoUsableUuid.
int readStructureTable(const TableLocation& location, const char* path, UuidSpan uuid,
                       UuidAttempt* attempt = nullptr);

}  // namespace probes
