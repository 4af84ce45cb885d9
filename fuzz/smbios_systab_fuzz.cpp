// EFI system table text: line pieces, keys and addresses, and the entry
// point read at the address. The input is both the system table text and
// the memory device, so an address that points into it finds bytes the
// fuzzer chose.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "probes/smbios_internal.h"
#include "smbios_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static smbiosfuzz::MemFile memory;
  const std::span<const std::uint8_t> input(data, size);
  memory.assign(input);

  std::vector<char> text(data, data + size);
  std::FILE* stream = fmemopen(text.data(), text.size(), "r");
  if (stream == nullptr) smbiosfuzz::fail("fmemopen");
  std::array<std::uint8_t, 16> uuid{};
  const int result = smbios::readViaSystab(stream, memory.path(), uuid);
  std::fclose(stream);
  smbiosfuzz::checkResult(result, uuid, true);

  // One line on its own, as any piece of a stream would be seen.
  text.push_back('\0');
  std::uint64_t address = 0;
  const int found = smbios::parseSystabLine(text.data(), address);
  if (found != 0 && found != 1) smbiosfuzz::fail("line result");
  return 0;
}
