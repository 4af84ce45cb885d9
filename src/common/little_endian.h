#pragma once
// Little-endian loads and stores byte by byte: firmware tables, kernel
// requests, the token record and cipher blocks are all little-endian, and
// byte access needs no alignment and no pointer casts.

#include <cstddef>
#include <cstdint>

namespace le {

// width bytes (at most 8) at bytes, least significant first.
inline std::uint64_t load(const std::uint8_t* bytes, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i > 0; --i) value = (value << 8) | bytes[i - 1];
  return value;
}

inline std::uint32_t load32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

inline void store32(std::uint8_t* bytes, std::uint32_t value) {
  bytes[0] = static_cast<std::uint8_t>(value);
  bytes[1] = static_cast<std::uint8_t>(value >> 8);
  bytes[2] = static_cast<std::uint8_t>(value >> 16);
  bytes[3] = static_cast<std::uint8_t>(value >> 24);
}

}  // namespace le
