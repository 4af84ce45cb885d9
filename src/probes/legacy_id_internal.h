#pragma once
// Inside the legacy system identifier: the formatting and the IPv4 query on
// their own, for the tests (the identifier watched, with its kernel access
// replaceable, is in legacy_id_watched.h).

#include <array>
#include <cstdint>
#include <span>

#include "probes/legacy_id.h"
#include "probes/legacy_id_watched.h"
#include "probes/netscan.h"

namespace probes {

// "%02X%02X%02X%02X%08X": address bytes 2 to 5 plus 0x12, 3, 6 and 2 (each
// wrapping within a byte), then the signature's low 32 bits. Returns
// snprintf's result, always 16. A negative size counts as 0.
int formatLegacySystemId(char* buffer, int size,
                         std::span<const std::uint8_t, kMacAddressSize> address,
                         std::int64_t signature);

// The first IPv4 address of the named interface, its octets in address
// bytes 2 to 5 (first octet in byte 2). Returns 0, or -1 (address then
// means nothing).
int getIpv4AddressBytes(const char* name, MacAddressSpan address);

}  // namespace probes
