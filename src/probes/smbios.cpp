#include "probes/smbios.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "common/little_endian.h"
#include "probes/smbios_internal.h"
#include "common/unique_fd.h"

namespace smbios {
namespace {

// --- Small owners -----------------------------------------------------------

class Mapping {
 public:
  Mapping(void* address, std::size_t length) : address_(address), length_(length) {}
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  ~Mapping() {
    if (address_ != MAP_FAILED) munmap(address_, length_);
  }
  bool valid() const { return address_ != MAP_FAILED; }
  const std::uint8_t* bytes() const { return static_cast<const std::uint8_t*>(address_); }

 private:
  void* address_;
  std::size_t length_;
};

struct FileCloser {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using StreamOwner = std::unique_ptr<std::FILE, FileCloser>;

// malloc(0) may legitimately return null; one spare byte keeps "no bytes"
// apart from "no memory".
ByteBuffer allocateBytes(std::size_t length) {
  return ByteBuffer(static_cast<std::uint8_t*>(std::malloc(length == 0 ? 1 : length)));
}

// --- Little-endian fields ---------------------------------------------------

std::uint64_t loadLittleEndian(ByteView bytes, std::size_t offset, std::size_t width) {
  return le::load(bytes.subspan(offset, width).data(), width);
}
std::uint16_t load16(ByteView bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(loadLittleEndian(bytes, offset, 2));
}
std::uint32_t load32(ByteView bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(loadLittleEndian(bytes, offset, 4));
}
std::uint64_t load64(ByteView bytes, std::size_t offset) {
  return loadLittleEndian(bytes, offset, 8);
}

bool startsWith(ByteView bytes, const char* anchor) {
  const std::size_t n = std::strlen(anchor);
  // Most of the 4096 window slots fail on the first byte; don't call out for them.
  return bytes.size() >= n && bytes[0] == static_cast<std::uint8_t>(anchor[0]) &&
         std::memcmp(bytes.data(), anchor, n) == 0;
}

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

int decodeWith(int (*parse)(ByteView, std::uint32_t, TableLocation&), ByteView entryPoint,
               const char* tablePath, std::uint32_t flags, UuidSpan uuid) {
  TableLocation location;
  if (parse(entryPoint, flags, location) != 0) return -1;
  return scanStructureTable(location.address, location.length, location.count, location.version,
                            tablePath, location.flags, uuid);
}

}  // namespace

// --- Entry points -------------------------------------------------------------

int parseSmbios3EntryPoint(ByteView entryPoint, std::uint32_t flags, TableLocation& location) {
  if (entryPoint.size() < 24 || !lengthByteChecksumHolds(entryPoint, entryPoint[6])) return -1;
  location.version =
      (std::uint32_t{entryPoint[7]} << 16) | (std::uint32_t{entryPoint[8]} << 8) | entryPoint[9];
  location.length = load32(entryPoint, 12);
  location.address = load64(entryPoint, 16);
  location.count = 0;  // SMBIOS 3 has no count; the length and type 127 end the walk
  location.flags = flags | kStopAtEndOfTable;
  return 0;
}

int parseSmbios2EntryPoint(ByteView entryPoint, std::uint32_t flags, TableLocation& location) {
  if (entryPoint.size() < 31 || !lengthByteChecksumHolds(entryPoint, entryPoint[5])) return -1;
  if (std::memcmp(entryPoint.data() + 16, "_DMI_", 5) != 0) return -1;
  if (!sumsToZero(entryPoint.subspan(16, 15))) return -1;
  std::uint32_t major = entryPoint[6];
  std::uint32_t minor = entryPoint[7];
  // Known firmware slips: some BIOSes store version 2.3 with minor 31 or 33,
  // and 2.6 with minor 51.
  if (major == 2 && (minor == 31 || minor == 33)) minor = 3;
  if (major == 2 && minor == 51) minor = 6;
  location.version = (major << 16) | (minor << 8);
  location.length = load16(entryPoint, 22);
  location.address = load32(entryPoint, 24);
  location.count = load16(entryPoint, 28);
  location.flags = flags;
  return 0;
}

int parseDmiEntryPoint(ByteView entryPoint, std::uint32_t flags, TableLocation& location) {
  if (entryPoint.size() < 15 || !sumsToZero(entryPoint.first(15))) return -1;
  const std::uint32_t bcdRevision = entryPoint[14];
  location.version = ((bcdRevision & 0xF0) << 12) | ((bcdRevision & 0x0F) << 8);
  location.length = load16(entryPoint, 6);
  location.address = load32(entryPoint, 8);
  location.count = load16(entryPoint, 12);
  location.flags = flags;
  return 0;
}

int decodeSmbios3EntryPoint(ByteView entryPoint, const char* tablePath, std::uint32_t flags,
                            UuidSpan uuid) {
  return decodeWith(parseSmbios3EntryPoint, entryPoint, tablePath, flags, uuid);
}

int decodeSmbios2EntryPoint(ByteView entryPoint, const char* tablePath, std::uint32_t flags,
                            UuidSpan uuid) {
  return decodeWith(parseSmbios2EntryPoint, entryPoint, tablePath, flags, uuid);
}

int decodeDmiEntryPoint(ByteView entryPoint, const char* tablePath, std::uint32_t flags,
                        UuidSpan uuid) {
  return decodeWith(parseDmiEntryPoint, entryPoint, tablePath, flags, uuid);
}

// --- Structure table ----------------------------------------------------------

int extractSystemUUID(RawUuid raw, std::uint16_t version, UuidSpan uuid) {
  if (allBytesAre(raw, 0x00) || allBytesAre(raw, 0xFF)) {
    std::fill(uuid.begin(), uuid.end(), std::uint8_t{0});
    return -1;
  }
  std::copy(raw.begin(), raw.end(), uuid.begin());
  if (version > 0x0205) {
    // SMBIOS 2.6 defined the first three UUID fields (time_low, time_mid,
    // time_hi_and_version) as little-endian, as RFC 4122's layout stores
    // them in memory on x86; earlier tables are taken byte for byte. Turn
    // them around so the bytes come out in the order the UUID is written.
    std::reverse(uuid.begin(), uuid.begin() + 4);
    std::reverse(uuid.begin() + 4, uuid.begin() + 6);
    std::reverse(uuid.begin() + 6, uuid.begin() + 8);
  }
  return 0;
}

int walkStructureTable(ByteView table, std::uint16_t count, std::uint32_t version,
                       std::uint32_t flags, UuidSpan uuid) {
  const std::size_t n = table.size();
  if (n < 4) return -1;
  const auto uuidVersion = static_cast<std::uint16_t>((version >> 8) & 0xFFFF);
  std::size_t p = 0;  // invariant: p + 4 <= n, so the header is in the table
  unsigned examined = 0;
  for (;;) {
    const std::uint8_t type = table[p];
    const std::uint8_t length = table[p + 1];
    if (length < 4) return -1;
    ++examined;
    // The string set ends with two zero bytes; the search never reads the
    // last byte as a pair's first, and starts past the end for a formatted
    // area that runs out of the table.
    std::size_t q = p + length;
    while (q + 1 < n && (table[q] != 0 || table[q + 1] != 0)) ++q;
    if (q + 2 > n) return -1;  // no terminator inside the table
    if (type == 1 && length >= 25) {
      if (extractSystemUUID(table.subspan(p + 8).first<16>(), uuidVersion, uuid) == 0) return 0;
    }
    if (type == 127 && (flags & kStopAtEndOfTable) != 0) return -1;
    if (count != 0 && examined >= count) return -1;
    if (q + 2 + 4 > n) return -1;
    p = q + 2;
  }
}

int scanStructureTable(std::uint64_t address, std::uint32_t length, std::uint16_t count,
                       std::uint32_t version, const char* tablePath, std::uint32_t flags,
                       UuidSpan uuid) {
  ByteBuffer table;
  std::size_t size = length;
  if ((flags & kTableInFile) != 0) {
    table = loadFileBytes(tablePath, size);
  } else {
    // Physical addresses are file offsets of the memory device; one past the
    // signed range can't be read there.
    if (address > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return -1;
    table = loadPhysicalRange(static_cast<std::int64_t>(address), size, tablePath);
  }
  if (!table) return -1;
  return walkStructureTable(ByteView(table.get(), size), count, version, flags, uuid);
}

// --- Sources ------------------------------------------------------------------

int decodeSysfsEntryPoint(ByteView entryPoint, const char* tablePath, UuidSpan uuid) {
  // Exactly one decoder, chosen by anchor and by whether the file holds all
  // of that entry point's fields.
  const std::size_t n = entryPoint.size();
  if (n >= 24 && startsWith(entryPoint, "_SM3_"))
    return decodeSmbios3EntryPoint(entryPoint, tablePath, kTableInFile, uuid);
  if (n >= 31 && startsWith(entryPoint, "_SM_"))
    return decodeSmbios2EntryPoint(entryPoint, tablePath, kTableInFile, uuid);
  if (n >= 15 && startsWith(entryPoint, "_DMI_"))
    return decodeDmiEntryPoint(entryPoint, tablePath, kTableInFile, uuid);
  return -1;
}

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
  std::array<char, kSystabLineBufferSize> line{};
  while (std::fgets(line.data(), static_cast<int>(line.size()), stream) != nullptr) {
    if (parseSystabLine(line.data(), address) != 0) return 0;
  }
  return -1;
}

int readViaSystab(std::FILE* stream, const char* memoryPath, UuidSpan uuid) {
  std::uint64_t address = 0;
  if (findSystabEntryPoint(stream, address) != 0) return -2;
  if (address > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return -2;
  ByteBuffer bytes =
      loadPhysicalRange(static_cast<std::int64_t>(address), kEntryPointBufferSize, memoryPath);
  if (!bytes) return -2;
  const ByteView entryPoint(bytes.get(), kEntryPointBufferSize);
  int result = -1;  // a legacy "_DMI_" entry point is not looked for here
  if (startsWith(entryPoint, "_SM3_"))
    result = decodeSmbios3EntryPoint(entryPoint, memoryPath, 0, uuid);
  else if (startsWith(entryPoint, "_SM_"))
    result = decodeSmbios2EntryPoint(entryPoint, memoryPath, 0, uuid);
  return result == 0 ? 0 : -1;
}

int scanWindowBytes(ByteView window, const char* memoryPath, UuidSpan uuid) {
  constexpr std::size_t kSlot = 16;
  // SMBIOS 3 entry points take precedence over 2.1 and legacy ones wherever
  // they lie, so they get a pass of their own.
  for (std::size_t offset = 0; offset + kEntryPointBufferSize <= window.size(); offset += kSlot) {
    const ByteView slot = window.subspan(offset);
    if (startsWith(slot, "_SM3_") && decodeSmbios3EntryPoint(slot, memoryPath, 0, uuid) == 0)
      return 0;
  }
  for (std::size_t offset = 0; offset + kSlot <= window.size(); offset += kSlot) {
    const ByteView slot = window.subspan(offset);
    int result = -1;
    if (offset + kEntryPointBufferSize <= window.size() && startsWith(slot, "_SM_"))
      result = decodeSmbios2EntryPoint(slot, memoryPath, 0, uuid);
    else if (startsWith(slot, "_DMI_"))
      result = decodeDmiEntryPoint(slot, memoryPath, 0, uuid);
    if (result == 0) return 0;
  }
  return -1;
}

int scanMemoryWindow(const char* memoryPath, UuidSpan uuid) {
  ByteBuffer window = loadPhysicalRange(kScanWindowAddress, kScanWindowSize, memoryPath);
  if (!window) return -2;
  return scanWindowBytes(ByteView(window.get(), kScanWindowSize), memoryPath, uuid);
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

int readSystemUUID(UuidSpan uuid, const SmbiosPaths& paths) {
  std::fill(uuid.begin(), uuid.end(), std::uint8_t{0});

  // 1. The kernel's copy of the entry point and table. Whatever goes wrong
  //    here, the next source decides the result code.
  std::size_t entryPointSize = kEntryPointBufferSize;
  if (ByteBuffer entryPoint = loadFileBytes(paths.entryPoint, entryPointSize)) {
    if (decodeSysfsEntryPoint(ByteView(entryPoint.get(), entryPointSize), paths.table, uuid) == 0)
      return 0;
  }

  // 2. The EFI system table; if one opens, the memory scan is never tried.
  int result = 0;
  StreamOwner systab(std::fopen(paths.efiSystab, "re"));
  if (!systab) systab.reset(std::fopen(paths.procSystab, "re"));
  if (systab) {
    result = readViaSystab(systab.get(), paths.memory, uuid);
    systab.reset();
  } else {
    // 3. The legacy BIOS window.
    result = scanMemoryWindow(paths.memory, uuid);
  }
  if (result == 0) return 0;

  // 4. The kernel's text, which hides every earlier failure.
  std::size_t textSize = kProductUuidTextSize;
  ByteBuffer text = loadFileBytes(paths.productUuid, textSize);
  if (!text || textSize != kProductUuidTextSize) return result;
  parseProductUuidText(std::span<std::uint8_t, kProductUuidTextSize>(text.get(), textSize), uuid);
  return 0;
}

// --- I/O ----------------------------------------------------------------------

int readExactly(int fd, std::uint8_t* destination, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = read(fd, destination + done, count - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) return -1;
    done += static_cast<std::size_t>(got);
  }
  return 0;
}

ByteBuffer loadFileBytes(const char* path, std::size_t& maxLength) {
  UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return nullptr;
  struct stat status {};
  if (fstat(fd.get(), &status) == 0) {
    if (status.st_size <= 0) return nullptr;
    const auto size = static_cast<std::uint64_t>(status.st_size);
    if (size < maxLength) maxLength = static_cast<std::size_t>(size);
  }
  ByteBuffer bytes = allocateBytes(maxLength);
  if (!bytes) return nullptr;
  // A descriptor just opened reads from offset 0: no seek needed.
  if (readExactly(fd.get(), bytes.get(), maxLength) != 0) return nullptr;
  return bytes;
}

ByteBuffer loadPhysicalRange(std::int64_t address, std::size_t length, const char* devicePath) {
  if (address < 0) return nullptr;
  const auto start = static_cast<std::uint64_t>(address);
  UniqueFd fd(open(devicePath, O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return nullptr;
  struct stat status {};
  if (fstat(fd.get(), &status) != 0) return nullptr;
  if (S_ISREG(status.st_mode)) {
    // A memory image: the range must lie inside it. Written so that no
    // length, however large, can wrap the sum.
    const auto size = static_cast<std::uint64_t>(std::max<off_t>(status.st_size, 0));
    if (start > size || length > size - start) return nullptr;
  }
  ByteBuffer bytes = allocateBytes(length);
  if (!bytes) return nullptr;

  const long pageSizeValue = sysconf(_SC_PAGESIZE);
  const auto pageSize = static_cast<std::uint64_t>(pageSizeValue > 0 ? pageSizeValue : 4096);
  const std::uint64_t pageOffset = start % pageSize;
  if (length > 0 && length <= std::numeric_limits<std::size_t>::max() - pageOffset) {
    const std::size_t mapLength = static_cast<std::size_t>(pageOffset) + length;
    const Mapping mapping(mmap(nullptr, mapLength, PROT_READ, MAP_SHARED, fd.get(),
                               static_cast<off_t>(start - pageOffset)),
                          mapLength);
    if (mapping.valid()) {
      std::memcpy(bytes.get(), mapping.bytes() + pageOffset, length);
      return bytes;
    }
  }
  if (lseek(fd.get(), static_cast<off_t>(address), SEEK_SET) != static_cast<off_t>(address))
    return nullptr;
  if (readExactly(fd.get(), bytes.get(), length) != 0) return nullptr;
  return bytes;
}

}  // namespace smbios

int readSystemUUID(std::span<std::uint8_t, 16> uuid) {
  return smbios::readSystemUUID(uuid, smbios::SmbiosPaths{});
}
