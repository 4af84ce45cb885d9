#pragma once
// SMBIOS reader: the system UUID from the firmware's type-1 structure.

#include <cstdint>
#include <span>

namespace probes {

// Fills uuid (zeroed first) and returns 0, or -1 / -2 when no UUID was found.
// Prints nothing.
int readSystemUUID(std::span<std::uint8_t, 16> uuid);

}  // namespace probes
