#pragma once
// Shared pieces of the SMBIOS parsers' fuzz targets: a memory device made of
// the input itself, and the invariants every result must keep.

#include <cstddef>
#include <cstdint>
#include <span>

#include "probes/smbios_parse.h"

namespace smbiosfuzz {

// Walks the table a location names inside memory, which stands for the
// physical memory device from address 0: a table that doesn't lie wholly
// inside it can't be read, as a memory image's bounds reject it, and one
// stated longer than kMaxTableLength is refused as the reader refuses it.
int walkTableIn(std::span<const std::uint8_t> memory, const probes::TableLocation& location,
                probes::UuidSpan uuid);

// Aborts unless the result and the 16 bytes agree: 0 with a UUID that is
// not all zero, anything else with all zeros (the output started zeroed),
// and only the codes the reader defines.
void checkResult(int result, std::span<const std::uint8_t, 16> uuid, bool minusTwoAllowed);

[[noreturn]] void fail(const char* what);

}  // namespace smbiosfuzz
