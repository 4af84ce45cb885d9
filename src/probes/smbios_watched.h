#pragma once
// The SMBIOS reader watched, for orlim-inspect: the same chain of sources
// orlim runs, read from paths it is given, with a record of what each
// source said. orlim itself calls readSystemUUID of smbios.h, which passes
// the fixed paths and no record.

#include <array>
#include <cstddef>
#include <cstdint>

#include "probes/smbios_io.h"
#include "probes/smbios_parse.h"

namespace probes {

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
  kNotAFileOrDevice,     // a FIFO, socket, directory or block device at a firmware path
  kEmptyOrOutsideImage,  // an empty file, or a range outside the memory image
  kOutOfMemory,          // memory ran out for the bytes
  kTableOverLimit,       // the stated table length is over the reader's limit
  kTableWalkedBefore,    // the memory scan walked this very table already
  kScanLimitReached,     // the memory scan has read all the table bytes it allows
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

}  // namespace probes
