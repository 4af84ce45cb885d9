// EFI system table text: line pieces, keys and addresses, and the entry
// point read at the address. The input is both the system table text and
// the memory device from address 0, so an address that points into it
// finds bytes the fuzzer chose.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "probes/smbios_parse.h"
#include "smbios_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::span<const std::uint8_t> input(data, size);

  std::vector<char> text(data, data + size);
  std::FILE* stream = fmemopen(text.data(), text.size(), "r");
  if (stream == nullptr) smbiosfuzz::fail("fmemopen");
  std::uint64_t address = 0;
  const int found = probes::findSystabEntryPoint(stream, address);
  std::fclose(stream);

  // The entry point and its table, as the chain reads them from memory.
  std::array<std::uint8_t, 16> uuid{};
  if (found == 0 && address <= size && probes::kEntryPointBufferSize <= size - address) {
    probes::TableLocation location;
    const auto entryPoint = input.subspan(address, probes::kEntryPointBufferSize);
    if (probes::locateSystabTable(entryPoint, location) == 0) {
      const int result = smbiosfuzz::walkTableIn(input, location, uuid);
      smbiosfuzz::checkResult(result, uuid, false);
    }
  }

  // One line on its own, as any piece of a stream would be seen.
  text.push_back('\0');
  const int line = probes::parseSystabLine(text.data(), address);
  if (line != 0 && line != 1) smbiosfuzz::fail("line result");
  return 0;
}
