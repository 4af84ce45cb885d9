#include "probes/smbios_parse.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "common/little_endian.h"
#include "common/uuid.h"

namespace probes {
namespace {

bool sumsToZero(ByteView bytes) {
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  return (sum & 0xFF) == 0;
}

// The length byte's checksum: 0 means "not given", above 32 is never valid,
// and a range the buffer doesn't hold (a short sysfs file) can't be checked,
// so it rejects rather than summing fewer bytes than the firmware meant.
bool lengthByteChecksumHolds(ByteView entryPoint, std::uint8_t length) {
  if (length > kEntryPointBufferSize || length > entryPoint.size()) return false;
  return length == 0 || sumsToZero(entryPoint.first(length));
}

bool allBytesAre(RawUuid raw, std::uint8_t value) {
  return std::all_of(raw.begin(), raw.end(), [value](std::uint8_t b) { return b == value; });
}

}  // namespace

// --- Entry points -------------------------------------------------------------

int parseSmbios3EntryPoint(ByteView entryPoint, std::uint32_t flags, TableLocation& location) {
  if (entryPoint.size() < kSmbios3EntryPointSize ||
      !lengthByteChecksumHolds(entryPoint, entryPoint[kSmbios3LengthOffset]))
    return -1;
  const ByteView version = entryPoint.subspan(kSmbios3VersionOffset, 3);
  location.version =
      (std::uint32_t{version[0]} << 16) | (std::uint32_t{version[1]} << 8) | version[2];
  location.length = le::load32(entryPoint, kSmbios3TableLengthOffset);
  location.address = le::load64(entryPoint, kSmbios3TableAddressOffset);
  location.count = 0;  // SMBIOS 3 has no count; the length and type 127 end the walk
  location.flags = flags | kStopAtEndOfTable;
  location.kind = EntryPointKind::kSmbios3;
  location.declaredVersion = location.version;
  return 0;
}

int parseSmbios2EntryPoint(ByteView entryPoint, std::uint32_t flags, TableLocation& location) {
  if (entryPoint.size() < kSmbios2EntryPointSize ||
      !lengthByteChecksumHolds(entryPoint, entryPoint[kSmbios2LengthOffset]))
    return -1;
  const ByteView intermediate =
      entryPoint.subspan(kSmbios2IntermediateOffset, kSmbios2IntermediateLength);
  if (!startsWith(intermediate, "_DMI_") || !sumsToZero(intermediate)) return -1;
  std::uint32_t major = entryPoint[kSmbios2MajorOffset];
  std::uint32_t minor = entryPoint[kSmbios2MinorOffset];
  location.declaredVersion = (major << 16) | (minor << 8);
  // Known firmware slips: some BIOSes store version 2.3 with minor 31 or 33,
  // and 2.6 with minor 51.
  if (major == 2 && (minor == 31 || minor == 33)) minor = 3;
  if (major == 2 && minor == 51) minor = 6;
  location.version = (major << 16) | (minor << 8);
  location.length = le::load16(entryPoint, kSmbios2TableLengthOffset);
  location.address = le::load32(entryPoint, kSmbios2TableAddressOffset);
  location.count = le::load16(entryPoint, kSmbios2StructureCountOffset);
  location.flags = flags;
  location.kind = EntryPointKind::kSmbios2;
  return 0;
}

int parseDmiEntryPoint(ByteView entryPoint, std::uint32_t flags, TableLocation& location) {
  if (entryPoint.size() < kDmiEntryPointSize || !sumsToZero(entryPoint.first(kDmiEntryPointSize)))
    return -1;
  const std::uint32_t bcdRevision = entryPoint[kDmiBcdRevisionOffset];
  location.version = ((bcdRevision & 0xF0) << 12) | ((bcdRevision & 0x0F) << 8);
  location.length = le::load16(entryPoint, kDmiTableLengthOffset);
  location.address = le::load32(entryPoint, kDmiTableAddressOffset);
  location.count = le::load16(entryPoint, kDmiStructureCountOffset);
  location.flags = flags;
  location.kind = EntryPointKind::kDmi;
  location.declaredVersion = location.version;
  return 0;
}

int locateSysfsTable(ByteView entryPoint, TableLocation& location) {
  const std::size_t n = entryPoint.size();
  if (n >= kSmbios3EntryPointSize && startsWith(entryPoint, "_SM3_"))
    return parseSmbios3EntryPoint(entryPoint, kTableInFile, location);
  if (n >= kSmbios2EntryPointSize && startsWith(entryPoint, "_SM_"))
    return parseSmbios2EntryPoint(entryPoint, kTableInFile, location);
  if (n >= kDmiEntryPointSize && startsWith(entryPoint, "_DMI_"))
    return parseDmiEntryPoint(entryPoint, kTableInFile, location);
  return -1;
}

int locateSystabTable(ByteView entryPoint, TableLocation& location) {
  if (startsWith(entryPoint, "_SM3_")) return parseSmbios3EntryPoint(entryPoint, 0, location);
  if (startsWith(entryPoint, "_SM_")) return parseSmbios2EntryPoint(entryPoint, 0, location);
  return -1;
}

// --- Structure table ----------------------------------------------------------

int extractSystemUUID(RawUuid raw, std::uint16_t version, UuidSpan uuid) {
  if (allBytesAre(raw, 0x00) || allBytesAre(raw, 0xFF)) {
    std::fill(uuid.begin(), uuid.end(), std::uint8_t{0});
    return -1;
  }
  std::copy(raw.begin(), raw.end(), uuid.begin());
  if (uuidFieldsLittleEndian(version)) {
    // SMBIOS 2.6 defined the first three UUID fields (time_low, time_mid,
    // time_hi_and_version) as little-endian, as RFC 4122's layout stores
    // them in memory on x86; earlier tables are taken byte for byte. Turn
    // them around so the bytes come out in the order the UUID is written.
    swapUuidFieldOrder(uuid);
  }
  return 0;
}

int walkStructureTable(ByteView table, std::uint16_t count, std::uint32_t version,
                       std::uint32_t flags, UuidSpan uuid, WalkObservation* observation) {
  // Only a watched walk pays for saying how it ended.
  const auto ended = [observation](WalkEnd end) {
    if (observation != nullptr) observation->end = end;
    return end == WalkEnd::kUuidFound ? 0 : -1;
  };
  const std::size_t n = table.size();
  if (n < kStructureHeaderLength) return ended(WalkEnd::kMalformed);
  const auto uuidVersion = static_cast<std::uint16_t>((version >> 8) & 0xFFFF);
  // invariant: p + kStructureHeaderLength <= n, so the header is in the table
  std::size_t p = 0;
  unsigned examined = 0;
  WalkEnd end = WalkEnd::kNoSystemInformation;
  for (;;) {
    const std::uint8_t type = table[p];
    const std::uint8_t length = table[p + 1];
    if (length < kStructureHeaderLength) return ended(WalkEnd::kMalformed);
    ++examined;
    if (observation != nullptr) observation->examined = examined;
    // The string set ends with two zero bytes; the search never reads the
    // last byte as a pair's first, and starts past the end for a formatted
    // area that runs out of the table.
    std::size_t q = p + length;
    while (q + 1 < n && (table[q] != 0 || table[q + 1] != 0)) ++q;
    if (q + 2 > n) return ended(WalkEnd::kMalformed);  // no terminator inside the table
    if (type == kTypeSystemInformation && length >= kSystemInformationMinLength) {
      const RawUuid raw = table.subspan(p + kSystemUuidOffset).first<16>();
      if (observation != nullptr) {
        observation->systemInformationSeen = true;
        observation->index = examined - 1;
        observation->handle = le::load16(table, p + 2);
        observation->length = length;
        observation->offset = p;
      }
      if (extractSystemUUID(raw, uuidVersion, uuid) == 0) return ended(WalkEnd::kUuidFound);
      end = allBytesAre(raw, 0x00) ? WalkEnd::kUuidAllZero : WalkEnd::kUuidAllFF;
    }
    if (type == kTypeEndOfTable && (flags & kStopAtEndOfTable) != 0) return ended(end);
    if (count != 0 && examined >= count) return ended(end);
    if (q + 2 + kStructureHeaderLength > n) return ended(end);
    p = q + 2;
  }
}

// --- Text sources -------------------------------------------------------------

int parseSystabLine(const char* line, std::uint64_t& address) {
  const char* equals = std::strchr(line, '=');
  if (equals == nullptr) return 0;
  const auto keyLength = static_cast<std::size_t>(equals - line);
  const auto keyIs = [&](const char* key) {
    return keyLength == std::strlen(key) && std::memcmp(line, key, keyLength) == 0;
  };
  if (!keyIs("SMBIOS3") && !keyIs("SMBIOS")) return 0;
  // Not validated on purpose: a value that doesn't convert is address 0.
  address = std::strtoull(equals + 1, nullptr, 0);
  return 1;
}

int findSystabEntryPoint(std::FILE* stream, std::uint64_t& address) {
  // A line longer than the buffer arrives in pieces, each taken as a line.
  // Each piece takes at least one byte, so the bound on pieces reads every
  // file up to kSystabMaxPieces bytes whole (the kernel's is a few lines)
  // and stops a device or a huge file there from keeping the reader going.
  std::array<char, kSystabLineBufferSize> line{};
  for (std::size_t pieces = 0; pieces < kSystabMaxPieces; ++pieces) {
    if (std::fgets(line.data(), static_cast<int>(line.size()), stream) == nullptr) break;
    if (parseSystabLine(line.data(), address) != 0) return 0;
  }
  return -1;
}

void parseProductUuidText(std::span<std::uint8_t, kProductUuidTextSize> text, UuidSpan uuid) {
  constexpr std::size_t kCharacters = kProductUuidTextSize - 1;
  text[kCharacters] = 0;  // the line end becomes the terminator
  const char* chars = reinterpret_cast<const char*>(text.data());
  std::fill(uuid.begin(), uuid.end(), std::uint8_t{0});
  std::size_t cursor = 0;
  for (std::uint8_t& byte : uuid) {
    if (cursor < kCharacters && chars[cursor] == '-') ++cursor;
    // The cursor moves in steps of two and may jump the terminator; nothing
    // past the 36 characters is ever looked at.
    if (cursor >= kCharacters) break;
    unsigned char value = 0;
    if (std::sscanf(chars + cursor, "%2hhx", &value) == 1) byte = value;
    cursor += 2;
  }
}

}  // namespace probes
