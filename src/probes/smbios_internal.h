#pragma once
// Inside the SMBIOS reader: the source chain with its paths as a parameter,
// and each source on its own.
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

namespace smbios {

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

struct SmbiosPaths {
  const char* entryPoint = kSysfsEntryPointPath;
  const char* table = kSysfsTablePath;
  const char* efiSystab = "/sys/firmware/efi/systab";
  const char* procSystab = "/proc/efi/systab";
  const char* memory = "/dev/mem";
  const char* productUuid = "/sys/devices/virtual/dmi/id/product_uuid";
};

// Only x86 machines have the legacy BIOS area that the window scan searches.
// Elsewhere (64-bit ARM) the chain goes from the EFI system table straight
// to the kernel's product UUID, as dmidecode does; reading /dev/mem at an
// address the EFI system table gives works the same everywhere.
#if defined(__x86_64__) || defined(__i386__)
inline constexpr bool kHasLegacyBiosArea = true;
#else
inline constexpr bool kHasLegacyBiosArea = false;
#endif

// --- What the chain saw, for orlim-inspect ---------------------------------
//
// Every entry point below takes an optional record to fill; the tool passes
// none, and then nothing is recorded and nothing extra is read.

enum class UuidSource : std::uint8_t { kSysfs, kEfi, kMemoryScan, kProductUuid };

// Why a source gave no UUID (or that it gave one). New reasons go at the end.
enum class AttemptOutcome : std::uint8_t {
  kFound,
  kMissing,              // the file or device does not exist
  kPermissionDenied,     // it exists, but this user may not read it
  kUnreadable,           // it opened, but reading it failed (error kept)
  kNotTried,             // the memory scan, when an EFI system table opened
  kNoEntryPoint,         // no "_SM3_", "_SM_" or "_DMI_" anchor where one was looked for
  kEntryPointInvalid,    // an anchor, but its checksum or length is wrong
  kNoSmbiosLine,         // the EFI system table has no SMBIOS3= or SMBIOS= line
  kAddressOutOfRange,    // an address the memory device can't be read at
  kNotSmbiosEntryPoint,  // the EFI address leads to neither "_SM3_" nor "_SM_"
  kTableUnreadable,      // the structure table could not be read
  kNoSystemInformation,  // the table has no type-1 structure that holds a UUID
  kUuidAllZero,          // the type-1 UUID is all 0x00: not set
  kUuidAllFF,            // the type-1 UUID is all 0xFF: not present
  kTableMalformed,       // a structure runs out of the table
  kWrongTextLength,      // the product UUID text is not 36 characters and a line end
  kNotAFileOrDevice,      // a FIFO, socket, directory or block device at a firmware path
  kEmptyOrOutsideImage,       // an empty file, or a range outside the memory image
  kOutOfMemory,             // memory ran out for the bytes
  kTableOverLimit,        // the stated table length is over the reader's limit
  kTableWalkedBefore,   // the memory scan walked this very table already
  kScanLimitReached,       // the memory scan has read all the table bytes it allows
};

// One source asked (for the memory scan: one entry point found in the window).
struct UuidAttempt {
  UuidSource source = UuidSource::kSysfs;
  AttemptOutcome outcome = AttemptOutcome::kNotTried;
  int error = 0;               // errno where the outcome is the system's (missing,
                               // permission denied, unreadable), else 0
  const char* path = nullptr;  // the file or device it failed on or read
  bool hasAddress = false;     // EFI: the entry point's address; scan: the anchor's
  std::uint64_t address = 0;
  bool located = false;  // an entry point was decoded: location is filled
  TableLocation location;
  bool walked = false;  // the table was read and walked: walk is filled
  WalkObservation walk;
};

struct UuidObservation {
  static constexpr std::size_t kMaxAttempts = 24;
  std::array<UuidAttempt, kMaxAttempts> attempts{};
  std::size_t count = 0;
  std::size_t dropped = 0;  // attempts beyond kMaxAttempts, not recorded
  int result = -2;          // what readSystemUUID returned
};

// The whole chain of sources, read from the given paths: the kernel's copy
// of the tables, then the EFI system table or (when none opens) the legacy
// window where there is one, then the kernel's product UUID text. 0, -1 or
// -2; -2 also where neither an EFI system table nor a window exists.
int readSystemUUID(UuidSpan uuid, const SmbiosPaths& paths, UuidObservation* observation = nullptr);

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

}  // namespace smbios
