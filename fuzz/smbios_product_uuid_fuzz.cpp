// The kernel's product UUID text, parsed where one byte too many would fault.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "probes/smbios_parse.h"
#include "smbios_fuzz_support.h"

namespace {

int hexValue(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The canonical 8-4-4-4-12 form must give its digit pairs in written order.
bool canonical(std::span<const std::uint8_t, 37> text, std::array<std::uint8_t, 16>& bytes) {
  std::size_t out = 0;
  for (std::size_t i = 0; i < 36;) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return false;
      ++i;
      continue;
    }
    const int high = hexValue(text[i]);
    const int low = hexValue(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[out++] = static_cast<std::uint8_t>(high * 16 + low);
    i += 2;
  }
  return true;
}

// 37 bytes that end where an inaccessible page begins, so that reading one
// byte too far faults even inside the C library, where ASan doesn't look.
std::span<std::uint8_t, 37> guardedText() {
  static std::uint8_t* end = [] {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* area =
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area == MAP_FAILED) smbiosfuzz::fail("mmap");
    auto* bytes = static_cast<std::uint8_t*>(area);
    if (mprotect(bytes + page, page, PROT_NONE) != 0) smbiosfuzz::fail("mprotect");
    return bytes + page;
  }();
  return std::span<std::uint8_t, 37>(end - 37, 37);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::array<std::uint8_t, 37> text{};
  std::copy_n(data, std::min<std::size_t>(size, text.size()), text.begin());

  std::array<std::uint8_t, 16> parsed{};
  const std::span<std::uint8_t, 37> guarded = guardedText();
  std::copy(text.begin(), text.end(), guarded.begin());
  probes::parseProductUuidText(guarded, parsed);
  std::array<std::uint8_t, 16> reference{};
  if (canonical(text, reference) && reference != parsed) smbiosfuzz::fail("canonical text misread");

  return 0;
}
