// The SMBIOS reader's source chain: which source is asked when, and what
// each failure leaves to the next.

#include "probes/smbios.h"

#include <algorithm>
#include <limits>

#include "common/owner.h"
#include "probes/smbios_internal.h"

namespace smbios {

int readStructureTable(const TableLocation& location, const char* path, UuidSpan uuid) {
  ByteBuffer table;
  std::size_t size = location.length;
  if ((location.flags & kTableInFile) != 0) {
    table = loadFileBytes(path, size);
  } else {
    // Physical addresses are file offsets of the memory device; one past the
    // signed range can't be read there.
    if (location.address > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
      return -1;
    table = loadPhysicalRange(static_cast<std::int64_t>(location.address), size, path);
  }
  if (!table) return -1;
  return walkStructureTable(ByteView(table.get(), size), location.count, location.version,
                            location.flags, uuid);
}

int decodeSysfsEntryPoint(ByteView entryPoint, const char* tablePath, UuidSpan uuid) {
  TableLocation location;
  if (locateSysfsTable(entryPoint, location) != 0) return -1;
  return readStructureTable(location, tablePath, uuid);
}

int readViaSystab(std::FILE* stream, const char* memoryPath, UuidSpan uuid) {
  std::uint64_t address = 0;
  if (findSystabEntryPoint(stream, address) != 0) return -2;
  if (address > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return -2;
  ByteBuffer bytes =
      loadPhysicalRange(static_cast<std::int64_t>(address), kEntryPointBufferSize, memoryPath);
  if (!bytes) return -2;
  TableLocation location;
  if (locateSystabTable(ByteView(bytes.get(), kEntryPointBufferSize), location) != 0) return -1;
  return readStructureTable(location, memoryPath, uuid) == 0 ? 0 : -1;
}

int scanMemoryWindow(const char* memoryPath, UuidSpan uuid) {
  ByteBuffer window = loadPhysicalRange(kScanWindowAddress, kScanWindowSize, memoryPath);
  if (!window) return -2;
  return scanWindowBytes(ByteView(window.get(), kScanWindowSize),
                         [&](const TableLocation& location) {
                           return readStructureTable(location, memoryPath, uuid);
                         });
}

int readProductUuid(const char* path, UuidSpan uuid) {
  std::size_t textSize = kProductUuidTextSize;
  ByteBuffer text = loadFileBytes(path, textSize);
  if (!text || textSize != kProductUuidTextSize) return -1;
  parseProductUuidText(std::span<std::uint8_t, kProductUuidTextSize>(text.get(), textSize), uuid);
  return 0;
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
  UniqueFile systab(std::fopen(paths.efiSystab, "re"));
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
  if (readProductUuid(paths.productUuid, uuid) != 0) return result;
  return 0;
}

}  // namespace smbios

int readSystemUUID(std::span<std::uint8_t, 16> uuid) {
  return smbios::readSystemUUID(uuid, smbios::SmbiosPaths{});
}
