#pragma once
// What a decoded identity's fields say about whether it can be trusted, and
// the token's time as text (report/utc_text.h).

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "common/decoded_record.h"

#include "report/utc_text.h"
#include "token/token.h"

// Why an identity can't be trusted to be unique, as flags.
inline constexpr unsigned kWarnPlaceholderUuid = 1u;  // a firmware vendor's default UUID
inline constexpr unsigned kWarnFutureTime = 2u;       // made after the decoder's clock, skew aside
inline constexpr unsigned kWarnTimeBefore2005 = 4u;   // before any of our tokens existed

// Clocks of a fleet disagree by seconds or minutes: a token counts as made
// in the future only when its time lies more than this after the decoder's.
inline constexpr std::int64_t kClockSkewSeconds = 5 * 60;

unsigned identityWarnings(const TokenFields& fields, std::int64_t now);

// The names of the flags above, in their order (common/decoded_record.h).
inline std::span<const std::string_view> warningNames() {
  return std::span(decoded::kWarningNames).subspan(decoded::kFirstDecoderWarning);
}

// Whether a token made at time is older than maxAgeDays whole days at now
// (-1: no limit).
inline bool tokenTooOld(std::uint32_t time, std::int64_t now, std::int64_t maxAgeDays) {
  constexpr std::int64_t kSecondsPerDay = 86400;
  return maxAgeDays >= 0 && now - static_cast<std::int64_t>(time) > maxAgeDays * kSecondsPerDay;
}
