#pragma once
// What only the tests of orlim-fleet use besides the units' headers.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/keyed_hash.h"
#include "fleet/fleet_record.h"

namespace fleet::internal {

// The UUID with its first three fields byte-reversed: what reading one
// machine's stored UUID on either side of the SMBIOS 2.6 byte-order rule
// gives.
Uuid byteReversed(const Uuid& uuid);

// The hash the label and UUID tables use, under the run's key, which
// compare draws afresh each time (drawRunKey).
std::uint32_t hashBytes(const void* data, std::size_t size);
const HashKey& hashKey();
void drawRunKey();

}  // namespace fleet::internal
