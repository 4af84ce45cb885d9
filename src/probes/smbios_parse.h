#pragma once
// SMBIOS parsers: entry points, the structure-table walk, the system UUID,
// the EFI system table's lines and the kernel's product UUID text. Pure
// functions over bytes already in memory: nothing here opens a file or a
// device, so the fuzz targets and tests drive them on bytes they made.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

namespace probes {

using UuidSpan = std::span<std::uint8_t, 16>;
using RawUuid = std::span<const std::uint8_t, 16>;
using ByteView = std::span<const std::uint8_t>;

// Structure-table walk flags.
inline constexpr std::uint32_t kTableInFile = 1;       // table = whole file, address ignored
inline constexpr std::uint32_t kStopAtEndOfTable = 2;  // stop at the first end-of-table structure

// Structures: the header and the two types the reader looks at.
inline constexpr std::size_t kStructureHeaderLength = 0x04;
inline constexpr std::uint8_t kTypeSystemInformation = 1;
inline constexpr std::uint8_t kTypeEndOfTable = 127;
// System information (type 1): the UUID field and the length that holds it.
inline constexpr std::size_t kSystemUuidOffset = 0x08;
inline constexpr std::size_t kSystemInformationMinLength = 0x19;

// SMBIOS 3 entry point ("_SM3_").
inline constexpr std::size_t kSmbios3LengthOffset = 0x06;
inline constexpr std::size_t kSmbios3VersionOffset = 0x07;  // major, minor, docrev
inline constexpr std::size_t kSmbios3TableLengthOffset = 0x0C;
inline constexpr std::size_t kSmbios3TableAddressOffset = 0x10;
inline constexpr std::size_t kSmbios3EntryPointSize = 0x18;

// SMBIOS 2.1 entry point ("_SM_") with its intermediate "_DMI_" part.
inline constexpr std::size_t kSmbios2LengthOffset = 0x05;
inline constexpr std::size_t kSmbios2MajorOffset = 0x06;
inline constexpr std::size_t kSmbios2MinorOffset = 0x07;
inline constexpr std::size_t kSmbios2IntermediateOffset = 0x10;
inline constexpr std::size_t kSmbios2IntermediateLength = 0x0F;
inline constexpr std::size_t kSmbios2TableLengthOffset = 0x16;
inline constexpr std::size_t kSmbios2TableAddressOffset = 0x18;
inline constexpr std::size_t kSmbios2StructureCountOffset = 0x1C;
inline constexpr std::size_t kSmbios2EntryPointSize = 0x1F;

// Legacy DMI entry point ("_DMI_").
inline constexpr std::size_t kDmiTableLengthOffset = 0x06;
inline constexpr std::size_t kDmiTableAddressOffset = 0x08;
inline constexpr std::size_t kDmiStructureCountOffset = 0x0C;
inline constexpr std::size_t kDmiBcdRevisionOffset = 0x0E;
inline constexpr std::size_t kDmiEntryPointSize = 0x0F;

// How many entry point bytes are read and checked at most.
inline constexpr std::size_t kEntryPointBufferSize = 32;

// The physical window that legacy BIOSes keep their entry points in, and
// the paragraph alignment the entry points sit on there.
inline constexpr std::int64_t kScanWindowAddress = 0xF0000;
inline constexpr std::size_t kScanWindowSize = 0x10000;
inline constexpr std::size_t kScanWindowSlot = 0x10;

inline constexpr std::size_t kProductUuidTextSize = 37;  // 36 characters and a line end
inline constexpr std::size_t kSystabLineBufferSize = 63;
inline constexpr std::size_t kSystabMaxPieces = 0x10000;

// The longest structure table the reader will read. Real tables are small:
// the largest of 93 dumps from real machines, multi-socket servers
// included, is under 64 KiB, and SMBIOS 2.x can't even state more than
// 64 KiB. 16 MiB leaves room for any firmware to come, while what a larger
// claim would cost stays bounded: a hostile or broken entry point may state
// up to 4 GiB, and trusting that meant allocating and reading all of it
// (seconds and gigabytes for one run, the sum of them for a window full of
// such entry points). A table stated longer than this is a failed source,
// checked before anything is allocated, mapped or read.
inline constexpr std::uint32_t kMaxTableLength = 16u << 20;

enum class EntryPointKind : std::uint8_t {
  kNone,
  kSmbios3,  // "_SM3_"
  kSmbios2,  // "_SM_" with its "_DMI_" part
  kDmi,      // legacy "_DMI_" alone
};

// Where an entry point says its structure table is, and how to walk it.
struct TableLocation {
  std::uint64_t address = 0;
  std::uint32_t length = 0;
  std::uint16_t count = 0;    // 0: no limit
  std::uint32_t version = 0;  // (major << 16) | (minor << 8) | revision
  std::uint32_t flags = 0;
  EntryPointKind kind = EntryPointKind::kNone;
  // The version as the entry point states it, before any known slip is
  // corrected; differs from version only when a correction applied.
  std::uint32_t declaredVersion = 0;
};

// How a structure-table walk ended, for whoever asked to watch it.
enum class WalkEnd : std::uint8_t {
  kUuidFound,
  kNoSystemInformation,  // the table ended without a usable type-1 structure
  kUuidAllZero,          // the last type-1 UUID seen was all 0x00
  kUuidAllFF,            // ... or all 0xFF
  kMalformed,            // a structure shorter than its header, or no string-set end
};

// What a walk saw: the structures it examined and the type-1 structure that
// gave the UUID (or the last one it rejected).
struct WalkObservation {
  WalkEnd end = WalkEnd::kNoSystemInformation;
  unsigned examined = 0;
  bool systemInformationSeen = false;
  unsigned index = 0;  // 0-based position of that type-1 structure
  std::uint16_t handle = 0;
  std::uint8_t length = 0;
  std::size_t offset = 0;  // its offset in the table
};

inline bool startsWith(ByteView bytes, const char* anchor) {
  const std::size_t n = std::strlen(anchor);
  // Most of the 4096 window slots fail on the first byte; don't call out for them.
  return bytes.size() >= n && bytes[0] == static_cast<std::uint8_t>(anchor[0]) &&
         std::memcmp(bytes.data(), anchor, n) == 0;
}

// --- Entry points -------------------------------------------------------

// Each returns 0 and fills location, or -1 when the entry point is rejected.
// They never read outside entryPoint: a field or checksum range that the span
// doesn't hold rejects the entry point.
int parseSmbios3EntryPoint(ByteView entryPoint, std::uint32_t flags, TableLocation& location);
int parseSmbios2EntryPoint(ByteView entryPoint, std::uint32_t flags, TableLocation& location);
int parseDmiEntryPoint(ByteView entryPoint, std::uint32_t flags, TableLocation& location);

// The kernel's copy of the entry point (sysfs): exactly one decoder, chosen
// by anchor and by whether the bytes hold all of that entry point's fields.
// The table is the whole companion file (kTableInFile). 0 or -1.
int locateSysfsTable(ByteView entryPoint, TableLocation& location);

// The entry point an EFI system table line points at: SMBIOS 3 or 2.1 (a
// legacy "_DMI_" one is not looked for there). 0 or -1.
int locateSystabTable(ByteView entryPoint, TableLocation& location);

// --- Structure table ------------------------------------------------------

// Whether a table of this version ((major << 8) | minor) stores the UUID's
// first three fields little-endian, so that they are turned around: from
// SMBIOS 2.6 on.
inline bool uuidFieldsLittleEndian(std::uint16_t version) { return version > 0x0205; }

// 0 with the UUID in uuid, or -1 with uuid zeroed when the raw bytes are
// all 0x00 or all 0xFF. version is (major << 8) | minor.
int extractSystemUUID(RawUuid raw, std::uint16_t version, UuidSpan uuid);

// Walks a table already in memory; 0 when a usable type-1 UUID was written.
// observation, when given, records what the walk saw.
int walkStructureTable(ByteView table, std::uint16_t count, std::uint32_t version,
                       std::uint32_t flags, UuidSpan uuid, WalkObservation* observation = nullptr);

// --- Identifying strings ------------------------------------------------------

// The strings that name the maker of a machine, or of the virtual machine it
// is: what the kernel also shows in /sys/class/dmi/id (bios_vendor,
// sys_vendor, product_name, product_version, board_vendor).
inline constexpr std::uint8_t kTypeBiosInformation = 0;
inline constexpr std::uint8_t kTypeBaseboardInformation = 2;
inline constexpr std::size_t kBiosVendorOffset = 0x04;
inline constexpr std::size_t kSystemManufacturerOffset = 0x04;
inline constexpr std::size_t kSystemProductOffset = 0x05;
inline constexpr std::size_t kSystemVersionOffset = 0x06;
inline constexpr std::size_t kBoardManufacturerOffset = 0x04;
// BIOS characteristics extension byte 2 (SMBIOS 2.4 on), bit 4: "the table
// describes a virtual machine".
inline constexpr std::size_t kBiosExtensionByte2Offset = 0x13;
inline constexpr std::uint8_t kBiosVirtualMachineBit = 0x10;

inline constexpr std::size_t kFirmwareStringSize = 65;  // 64 bytes and a terminator
using FirmwareString = std::array<char, kFirmwareStringSize>;

struct FirmwareStrings {
  FirmwareString biosVendor{};
  FirmwareString systemManufacturer{};
  FirmwareString systemProduct{};
  FirmwareString systemVersion{};
  FirmwareString boardManufacturer{};
  int virtualMachineBit = -1;  // -1: no BIOS structure long enough to hold it
  bool systemInformationSeen = false;
};

// The n-th (from 1) string of the structure at offset p with formatted
// length `length`, copied into out (cut to fit, zero-terminated); "" for
// index 0, an index past its strings, or a structure that runs out of the
// table.
void structureString(ByteView table, std::size_t p, std::uint8_t length, std::uint8_t index,
                     FirmwareString& out);

// Walks a table as walkStructureTable does (count, kStopAtEndOfTable) and
// takes the strings from the first structure of types 0, 1 and 2; a field
// beyond a structure's stated length counts as absent. 0 when the walk
// reached the table's end cleanly, -1 when a structure was malformed (what
// was found before it is kept).
int findFirmwareStrings(ByteView table, std::uint16_t count, std::uint32_t flags,
                        FirmwareStrings& strings);

// --- The legacy window ------------------------------------------------------

// Searches a window already read (window.size() may be less than 64 KiB for
// tests; slot rules are relative to the window's end) for entry points, in
// the order they are preferred: SMBIOS 3 anywhere first, then 2.1 and legacy
// ones slot by slot. For each one that parses, walkTable(location, offset)
// reads and walks its table (offset: where the anchor is in the window); the
// first 0 it returns ends the search with 0. Otherwise -1.
template <typename WalkTable>
int scanWindowBytes(ByteView window, WalkTable&& walkTable) {
  TableLocation location;
  for (std::size_t offset = 0; offset + kEntryPointBufferSize <= window.size();
       offset += kScanWindowSlot) {
    const ByteView slot = window.subspan(offset);
    if (startsWith(slot, "_SM3_") && parseSmbios3EntryPoint(slot, 0, location) == 0 &&
        walkTable(location, offset) == 0)
      return 0;
  }
  for (std::size_t offset = 0; offset + kScanWindowSlot <= window.size();
       offset += kScanWindowSlot) {
    const ByteView slot = window.subspan(offset);
    int parsed = -1;
    if (offset + kEntryPointBufferSize <= window.size() && startsWith(slot, "_SM_"))
      parsed = parseSmbios2EntryPoint(slot, 0, location);
    else if (startsWith(slot, "_DMI_"))
      parsed = parseDmiEntryPoint(slot, 0, location);
    if (parsed == 0 && walkTable(location, offset) == 0) return 0;
  }
  return -1;
}

// --- Text sources -----------------------------------------------------------

// The kernel's product UUID text: 37 bytes, the last one (the line end) is
// overwritten with the terminator. Always fills uuid; positions without hex
// digits give zero bytes. Nothing after the 37 bytes is read.
void parseProductUuidText(std::span<std::uint8_t, kProductUuidTextSize> text, UuidSpan uuid);

// One EFI system table line: 1 and the address when its key is "SMBIOS3" or
// "SMBIOS", else 0. line is zero-terminated.
int parseSystabLine(const char* line, std::uint64_t& address);

// Reads the stream in 62-character pieces up to the first keyed line:
// 0 and the address, or -1 when the stream has none within its first
// kSystabMaxPieces pieces.
int findSystabEntryPoint(std::FILE* stream, std::uint64_t& address);

}  // namespace probes
