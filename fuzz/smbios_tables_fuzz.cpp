// Entry point decoders, the structure-table walk, the identifying strings
// and the legacy window search on arbitrary bytes, all over the input span itself: no files, no
// copies.
//
// Input: byte 0 picks how many of the following bytes (0 to 32) form the
// entry point as the sysfs file would hold them; the rest is the table file.
// The whole input then serves as the legacy window (its first 64 KiB) and
// as the memory device from address 0, so entry points found in its 16-byte
// slots (the last ones included) with small table addresses find their
// tables back inside the input.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "probes/smbios_parse.h"
#include "smbios_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::span<const std::uint8_t> input(data, size);

  // The sysfs pair: the table is the file, as long as the entry point says
  // or the file's own length when that is shorter.
  const std::size_t entrySize = std::min<std::size_t>(data[0] % 33, size - 1);
  const auto entryPoint = input.subspan(1, entrySize);
  const auto table = input.subspan(1 + entrySize);
  std::array<std::uint8_t, 16> fromSysfs{};
  probes::TableLocation location;
  int result = probes::locateSysfsTable(entryPoint, location);
  // As the reader does: a stated length past the limit fails the source
  // before anything is read.
  if (result == 0 && location.length > probes::kMaxTableLength) result = -1;
  if (result == 0) {
    if ((location.flags & probes::kTableInFile) == 0) smbiosfuzz::fail("sysfs table not in file");
    const std::size_t length = std::min<std::size_t>(location.length, table.size());
    result = probes::walkStructureTable(table.first(length), location.count, location.version,
                                        location.flags, fromSysfs);
  }
  smbiosfuzz::checkResult(result, fromSysfs, false);

  // The identifying strings orlim-inspect takes from the same table file:
  // every string found ends inside its buffer.
  probes::FirmwareStrings strings;
  probes::findFirmwareStrings(table, 0, 0, strings);
  for (const probes::FirmwareString* s :
       {&strings.biosVendor, &strings.systemManufacturer, &strings.systemProduct,
        &strings.systemVersion, &strings.boardManufacturer})
    if (std::find(s->begin(), s->end(), '\0') == s->end()) smbiosfuzz::fail("string not ended");

  // The legacy window search.
  const auto window = input.first(std::min(size, probes::kScanWindowSize));
  std::array<std::uint8_t, 16> scanned{};
  const int scan = probes::scanWindowBytes(
      window, [&](const probes::TableLocation& found, std::size_t /*offset*/) {
        return smbiosfuzz::walkTableIn(input, found, scanned);
      });
  smbiosfuzz::checkResult(scan, scanned, false);
  return 0;
}
