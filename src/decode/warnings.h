#pragma once
// What a decoded identity's fields say about whether it can be trusted, and
// the token's time as text.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "token/token.h"

// Seconds since 1970 as "YYYY-MM-DDTHH:MM:SSZ" (kUtcTextSize characters) at out.
inline constexpr std::size_t kUtcTextSize = 20;
void writeUtc(char* out, std::uint32_t seconds);

// Why an identity can't be trusted to be unique, as flags.
inline constexpr unsigned kWarnPlaceholderUuid = 1u;  // a firmware vendor's default UUID
inline constexpr unsigned kWarnFutureTime = 2u;       // made after the decoder's clock, skew aside
inline constexpr unsigned kWarnTimeBefore2005 = 4u;   // before any of our tokens existed

// Clocks of a fleet disagree by seconds or minutes: a token counts as made
// in the future only when its time lies more than this after the decoder's.
inline constexpr std::int64_t kClockSkewSeconds = 5 * 60;

unsigned identityWarnings(const TokenFields& fields, std::int64_t now);

// "placeholder-uuid", "time-in-future", "time-before-2005" in that order.
std::array<std::string_view, 3> warningNames();

// Whether a token made at time is older than maxAgeDays whole days at now
// (-1: no limit).
inline bool tokenTooOld(std::uint32_t time, std::int64_t now, std::int64_t maxAgeDays) {
  constexpr std::int64_t kSecondsPerDay = 86400;
  return maxAgeDays >= 0 && now - static_cast<std::int64_t>(time) > maxAgeDays * kSecondsPerDay;
}
