#pragma once
// Hexadecimal digits, both ways: the one table every tool writes and reads
// them with (tokens, UUIDs, escapes).

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr char kLowerHexDigits[] = "0123456789abcdef";
inline constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

// A digit's value, or kNotHex.
inline constexpr std::uint8_t kNotHex = 0xFF;
inline constexpr std::array<std::uint8_t, 256> kHexValue = [] {
  std::array<std::uint8_t, 256> table{};
  for (auto& v : table) v = kNotHex;
  for (int c = 0; c < 10; ++c) table[static_cast<std::size_t>('0' + c)] = static_cast<std::uint8_t>(c);
  for (int c = 0; c < 6; ++c) {
    table[static_cast<std::size_t>('A' + c)] = static_cast<std::uint8_t>(10 + c);
    table[static_cast<std::size_t>('a' + c)] = static_cast<std::uint8_t>(10 + c);
  }
  return table;
}();

inline std::uint8_t hexValue(char c) { return kHexValue[static_cast<unsigned char>(c)]; }
inline bool isUpperHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// Two digits for a byte, from digits (kLowerHexDigits or kUpperHexDigits).
inline char* putHexByte(char* p, std::uint8_t byte, const char* digits) {
  p[0] = digits[byte >> 4];
  p[1] = digits[byte & 0xF];
  return p + 2;
}
