#pragma once
// A time in seconds since 1970 as an ISO 8601 UTC text, written without the
// C library's time zone machinery: the decoder and orlim-fleet write one per
// record.

#include <cstddef>
#include <cstdint>

namespace report {

// "YYYY-MM-DDTHH:MM:SSZ" (kUtcTextSize characters, no terminating zero) at out.
inline constexpr std::size_t kUtcTextSize = 20;
void writeUtc(char* out, std::uint32_t seconds);

}  // namespace report
