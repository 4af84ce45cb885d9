// The identifying strings of the structure table, for orlim-inspect: a unit
// of its own, so that orlim never links it in.

#include <algorithm>
#include <cstring>

#include "probes/smbios_parse.h"

namespace probes {

void structureString(ByteView table, std::size_t p, std::uint8_t length, std::uint8_t index,
                     FirmwareString& out) {
  out.fill('\0');
  if (index == 0) return;
  std::size_t q = p + length;
  for (std::uint8_t n = 1; q < table.size(); ++n) {
    std::size_t end = q;
    while (end < table.size() && table[end] != 0) ++end;
    if (end == table.size()) return;  // no terminator inside the table
    // An empty string ends the set: the two zero bytes.
    if (end == q) return;
    if (n == index) {
      const std::size_t copied = std::min(end - q, out.size() - 1);
      std::memcpy(out.data(), table.data() + q, copied);
      return;
    }
    q = end + 1;
  }
}

int findFirmwareStrings(ByteView table, std::uint16_t count, std::uint32_t flags,
                        FirmwareStrings& strings) {
  const std::size_t n = table.size();
  bool biosSeen = false;
  bool boardSeen = false;
  unsigned examined = 0;
  // invariant: p + kStructureHeaderLength <= n, as in walkStructureTable
  for (std::size_t p = 0; p + kStructureHeaderLength <= n;) {
    const std::uint8_t type = table[p];
    const std::uint8_t length = table[p + 1];
    if (length < kStructureHeaderLength) return -1;
    ++examined;
    std::size_t q = p + length;
    while (q + 1 < n && (table[q] != 0 || table[q + 1] != 0)) ++q;
    if (q + 2 > n) return -1;
    const auto field = [&](std::size_t offset, FirmwareString& out) {
      if (offset < length) structureString(table, p, length, table[p + offset], out);
    };
    if (type == kTypeBiosInformation && !biosSeen) {
      biosSeen = true;
      field(kBiosVendorOffset, strings.biosVendor);
      if (kBiosExtensionByte2Offset < length)
        strings.virtualMachineBit =
            (table[p + kBiosExtensionByte2Offset] & kBiosVirtualMachineBit) != 0;
    } else if (type == kTypeSystemInformation && !strings.systemInformationSeen) {
      strings.systemInformationSeen = true;
      field(kSystemManufacturerOffset, strings.systemManufacturer);
      field(kSystemProductOffset, strings.systemProduct);
      field(kSystemVersionOffset, strings.systemVersion);
    } else if (type == kTypeBaseboardInformation && !boardSeen) {
      boardSeen = true;
      field(kBoardManufacturerOffset, strings.boardManufacturer);
    }
    if (type == kTypeEndOfTable && (flags & kStopAtEndOfTable) != 0) break;
    if (count != 0 && examined >= count) break;
    p = q + 2;
  }
  return 0;
}

}  // namespace probes
