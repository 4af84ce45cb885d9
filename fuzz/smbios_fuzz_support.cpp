#include "smbios_fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace smbiosfuzz {

int walkTableIn(std::span<const std::uint8_t> memory, const probes::TableLocation& location,
                probes::UuidSpan uuid) {
  if (location.length > probes::kMaxTableLength) return -1;
  if (location.address > memory.size() || location.length > memory.size() - location.address)
    return -1;
  return probes::walkStructureTable(memory.subspan(location.address, location.length),
                                    location.count, location.version, location.flags, uuid);
}

void checkResult(int result, std::span<const std::uint8_t, 16> uuid, bool minusTwoAllowed) {
  const bool allZero = std::all_of(uuid.begin(), uuid.end(), [](std::uint8_t b) { return b == 0; });
  if (result == 0) {
    if (allZero) fail("success with an all-zero UUID");
  } else if (result == -1 || (result == -2 && minusTwoAllowed)) {
    if (!allZero) fail("failure left UUID bytes behind");
  } else {
    fail("unexpected result code");
  }
}

void fail(const char* what) {
  std::fprintf(stderr, "smbios fuzz invariant broken: %s\n", what);
  std::abort();
}

}  // namespace smbiosfuzz
