#pragma once
// A UUID's 16 bytes as text, both ways, and the SMBIOS 2.6 byte-order rule:
// the one writer and parser every tool shows and reads UUIDs with.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "common/hex.h"

inline constexpr std::size_t kUuidByteCount = 16;
inline constexpr std::size_t kUuidTextLength = 36;  // 8-4-4-4-12 digits and dashes

namespace uuid_detail {
// A dash goes before these bytes.
constexpr bool dashBefore(std::size_t byte) { return byte == 4 || byte == 6 || byte == 8 || byte == 10; }
}  // namespace uuid_detail

// The bytes in order as 8-4-4-4-12 lower-case hex digits; p has room for
// kUuidTextLength. Returns the end.
inline char* putUuidText(char* p, std::span<const std::uint8_t, kUuidByteCount> bytes) {
#pragma GCC unroll 16
  for (std::size_t i = 0; i < kUuidByteCount; ++i) {
    if (uuid_detail::dashBefore(i)) *p++ = '-';
    p = putHexByte(p, bytes[i], kLowerHexDigits);
  }
  return p;
}

// 8-4-4-4-12 hex digits of either case into bytes: false for anything else
// (bytes then undefined).
inline bool parseUuidText(std::string_view text, std::span<std::uint8_t, kUuidByteCount> bytes) {
  if (text.size() != kUuidTextLength) return false;
  unsigned bad = 0;
  std::size_t at = 0;
  for (std::size_t i = 0; i < kUuidByteCount; ++i) {
    if (uuid_detail::dashBefore(i)) bad |= text[at++] == '-' ? 0u : 0x100u;
    const unsigned high = hexValue(text[at]);
    const unsigned low = hexValue(text[at + 1]);
    bad |= high | low;
    bytes[i] = static_cast<std::uint8_t>(high << 4 | (low & 0xF));
    at += 2;
  }
  return bad <= 0xF;
}

// SMBIOS 2.6 defined the first three UUID fields (time_low, time_mid,
// time_hi_and_version) as little-endian, as RFC 4122's layout stores them
// in memory on x86; earlier tables are taken byte for byte. Turning them
// around is its own inverse: it gives the order the UUID is written in from
// a 2.6 table's bytes, and what one machine's UUID reads as on the other
// side of the rule.
inline void swapUuidFieldOrder(std::span<std::uint8_t, kUuidByteCount> bytes) {
  std::reverse(bytes.begin(), bytes.begin() + 4);
  std::reverse(bytes.begin() + 4, bytes.begin() + 6);
  std::reverse(bytes.begin() + 6, bytes.begin() + 8);
}
