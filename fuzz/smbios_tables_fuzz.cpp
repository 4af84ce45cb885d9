// Entry point decoders and the structure-table walk on arbitrary bytes.
//
// Input: byte 0 picks how many of the following bytes (0 to 32) form the
// entry point as a sysfs file would hold them; the rest is the table file.
// The same input then serves as a memory image: it lies at address 0 and at
// both ends of the 0xF0000 window, so the window scan finds entry points in
// its 16-byte slots (the last ones included) and their small table
// addresses land back inside the input.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "probes/smbios_internal.h"
#include "smbios_fuzz_support.h"

namespace {

using smbiosfuzz::checkResult;
using smbiosfuzz::fail;

// What the sysfs source must give, computed by walking the table in memory.
int expectedFromMemory(std::span<const std::uint8_t> entryPoint,
                       std::span<const std::uint8_t> table, std::span<std::uint8_t, 16> uuid) {
  const std::size_t n = entryPoint.size();
  const auto starts = [&](const char* anchor) {
    return n >= std::strlen(anchor) &&
           std::memcmp(entryPoint.data(), anchor, std::strlen(anchor)) == 0;
  };
  smbios::TableLocation location;
  int parsed = -1;
  if (n >= 24 && starts("_SM3_"))
    parsed = smbios::parseSmbios3EntryPoint(entryPoint, smbios::kTableInFile, location);
  else if (n >= 31 && starts("_SM_"))
    parsed = smbios::parseSmbios2EntryPoint(entryPoint, smbios::kTableInFile, location);
  else if (n >= 15 && starts("_DMI_"))
    parsed = smbios::parseDmiEntryPoint(entryPoint, smbios::kTableInFile, location);
  if (parsed != 0) return -1;
  const std::size_t length = std::min<std::size_t>(location.length, table.size());
  return smbios::walkStructureTable(table.first(length), location.count, location.version,
                                    location.flags, uuid);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static smbiosfuzz::MemFile tableFile;
  static smbiosfuzz::MemFile memory;
  const std::span<const std::uint8_t> input(data, size);

  const std::size_t entrySize = std::min<std::size_t>(data[0] % 33, size - 1);
  const auto entryPoint = input.subspan(1, entrySize);
  const auto table = input.subspan(1 + entrySize);

  // The sysfs pair, through the file loader, against the in-memory walk.
  tableFile.assign(table);
  std::array<std::uint8_t, 16> fromFile{};
  const int result = smbios::decodeSysfsEntryPoint(entryPoint, tableFile.path(), fromFile);
  checkResult(result, fromFile, false);
  std::array<std::uint8_t, 16> fromMemory{};
  if (expectedFromMemory(entryPoint, table, fromMemory) != result || fromMemory != fromFile)
    fail("file and in-memory decoding disagree");

  // The legacy window scan over a memory image made of the input.
  const auto window = input.first(std::min<std::size_t>(size, 0x10000));
  const std::uint64_t addresses[] = {0, 0xF0000, 0x100000 - window.size()};
  memory.image(0x100000, window, addresses);
  std::array<std::uint8_t, 16> scanned{};
  checkResult(smbios::scanMemoryWindow(memory.path(), scanned), scanned, false);
  return 0;
}
