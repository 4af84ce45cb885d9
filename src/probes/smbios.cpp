// The SMBIOS reader's source chain: which source is asked when, and what
// each failure leaves to the next.

#include "probes/smbios.h"

#include <algorithm>
#include <array>
#include <limits>

#include "common/owner.h"
#include "probes/smbios_internal.h"

namespace smbios {

int readStructureTable(const TableLocation& location, const char* path, UuidSpan uuid) {
  if (location.length > kMaxTableLength) return kTableTooLarge;
  ByteBuffer table;
  std::size_t size = location.length;
  int loaded = kLoaded;
  if ((location.flags & kTableInFile) != 0) {
    loaded = loadFileBytes(path, size, table);
  } else {
    // Physical addresses are file offsets of the memory device; one past the
    // signed range can't be read there.
    if (location.address > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
      return kEmptyOrOutside;
    loaded = loadPhysicalRange(static_cast<std::int64_t>(location.address), size, path, table);
  }
  if (loaded != kLoaded) return loaded;
  return walkStructureTable(ByteView(table.get(), size), location.count, location.version,
                            location.flags, uuid) == 0
             ? 0
             : kNoUsableUuid;
}

int decodeSysfsEntryPoint(ByteView entryPoint, const char* tablePath, UuidSpan uuid) {
  TableLocation location;
  if (locateSysfsTable(entryPoint, location) != 0) return -1;
  return readStructureTable(location, tablePath, uuid) == 0 ? 0 : -1;
}

int readViaSystab(std::FILE* stream, const char* memoryPath, UuidSpan uuid) {
  std::uint64_t address = 0;
  if (findSystabEntryPoint(stream, address) != 0) return -2;
  if (address > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return -2;
  ByteBuffer bytes;
  if (loadPhysicalRange(static_cast<std::int64_t>(address), kEntryPointBufferSize, memoryPath,
                        bytes) != kLoaded)
    return -2;
  TableLocation location;
  if (locateSystabTable(ByteView(bytes.get(), kEntryPointBufferSize), location) != 0) return -1;
  return readStructureTable(location, memoryPath, uuid) == 0 ? 0 : -1;
}

namespace {

bool sameWalk(const TableLocation& a, const TableLocation& b) {
  return a.address == b.address && a.length == b.length && a.count == b.count &&
         a.version == b.version && a.flags == b.flags;
}

}  // namespace

int scanMemoryWindow(const char* memoryPath, UuidSpan uuid) {
  ByteBuffer window;
  if (loadPhysicalRange(kScanWindowAddress, kScanWindowSize, memoryPath, window) != kLoaded)
    return -2;
  // A window may hold an entry point in each of its 4096 slots, and each may
  // state up to kMaxTableLength. Real windows hold one to three anchors (an
  // _SM3_, an _SM_ and the _DMI_ inside it) whose tables are a few KiB each,
  // so neither rule below ever passes over a table on a real machine; they
  // keep a crafted window from multiplying the work: a walk already done is
  // not done again, and all tables read together stay within
  // kScanTableBytes.
  std::array<TableLocation, kScanRememberedTables> walked{};
  std::size_t walkedCount = 0;
  std::uint64_t bytesLeft = kScanTableBytes;
  return scanWindowBytes(ByteView(window.get(), kScanWindowSize),
                         [&](const TableLocation& location) {
                           if (location.length > kMaxTableLength) return kTableTooLarge;
                           for (std::size_t i = 0; i < walkedCount; ++i)
                             if (sameWalk(walked[i], location)) return kTableAlreadyWalked;
                           if (location.length > bytesLeft) return kScanBytesSpent;
                           bytesLeft -= location.length;
                           if (walkedCount < walked.size()) walked[walkedCount++] = location;
                           return readStructureTable(location, memoryPath, uuid);
                         });
}

int readProductUuid(const char* path, UuidSpan uuid) {
  std::size_t textSize = kProductUuidTextSize;
  ByteBuffer text;
  if (loadFileBytes(path, textSize, text) != kLoaded || textSize != kProductUuidTextSize) return -1;
  parseProductUuidText(std::span<std::uint8_t, kProductUuidTextSize>(text.get(), textSize), uuid);
  return 0;
}

int readSystemUUID(UuidSpan uuid, const SmbiosPaths& paths) {
  std::fill(uuid.begin(), uuid.end(), std::uint8_t{0});

  // 1. The kernel's copy of the entry point and table. Whatever goes wrong
  //    here, the next source decides the result code.
  std::size_t entryPointSize = kEntryPointBufferSize;
  ByteBuffer entryPoint;
  if (loadFileBytes(paths.entryPoint, entryPointSize, entryPoint) == kLoaded) {
    if (decodeSysfsEntryPoint(ByteView(entryPoint.get(), entryPointSize), paths.table, uuid) == 0)
      return 0;
  }

  // 2. The EFI system table; if one opens, the memory scan is never tried.
  int result = 0;
  UniqueFile systab = openFirmwareStream(paths.efiSystab);
  if (!systab) systab = openFirmwareStream(paths.procSystab);
  if (systab) {
    result = readViaSystab(systab.get(), paths.memory, uuid);
    systab.reset();
  } else {
    // 3. The legacy BIOS window.
    result = scanMemoryWindow(paths.memory, uuid);
  }
  if (result == 0) return 0;

  // 4. The kernel's text, which hides every earlier failure.
  if (readProductUuid(paths.productUuid, uuid) != 0) return result;
  return 0;
}

}  // namespace smbios

int readSystemUUID(std::span<std::uint8_t, 16> uuid) {
  return smbios::readSystemUUID(uuid, smbios::SmbiosPaths{});
}
