#pragma once
// The decoder's pieces that the tests check on their own.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "token/token.h"

namespace decodeinternal {

// Seconds since 1970 as "YYYY-MM-DDTHH:MM:SSZ" (20 characters) at out.
void writeUtc(char* out, std::uint32_t seconds);
inline constexpr std::size_t kUtcTextSize = 20;

// Bytes from an untrusted source (a label, a refused input), made safe to
// show. JSON: quotes, backslashes and every control character escaped, C1
// controls included; bytes that are not UTF-8 become U+FFFD, so the record
// stays valid JSON. Text: printable ASCII and UTF-8 other than controls as
// they are, anything else as \xNN, a backslash doubled; no control
// character reaches a terminal raw.
std::string escapeJson(std::string_view bytes);
std::string escapeText(std::string_view bytes);

// At most this many bytes out of one byte in.
inline constexpr std::size_t kJsonEscapeGrowth = 6;
inline constexpr std::size_t kTextEscapeGrowth = 4;

// Why an identity can't be trusted to be unique, as flags.
inline constexpr unsigned kWarnPlaceholderUuid = 1u;  // a firmware vendor's default UUID
inline constexpr unsigned kWarnFutureTime = 2u;       // made after the decoder's clock
inline constexpr unsigned kWarnTimeBefore2005 = 4u;   // before any of our tokens existed

unsigned identityWarnings(const TokenFields& fields, std::int64_t now);

// "placeholder-uuid", "time-in-future", "time-before-2005" in that order.
std::array<std::string_view, 3> warningNames();

}  // namespace decodeinternal
