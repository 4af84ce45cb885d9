#pragma once
// Little-endian loads and stores, byte by byte: firmware tables, the token
// record and cipher blocks are little-endian whatever the processor, and
// byte access needs no alignment and no pointer casts. The compilers turn
// each into a single move on a little-endian machine.
//
// Kernel request structures are not among them: those are filled as the
// kernel's own structs, in the machine's byte order.

#include <cstddef>
#include <cstdint>
#include <span>

namespace le {

inline std::uint16_t load16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

inline std::uint32_t load32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

inline std::uint64_t load64(const std::uint8_t* bytes) {
  return static_cast<std::uint64_t>(load32(bytes)) |
         static_cast<std::uint64_t>(load32(bytes + 4)) << 32;
}

inline void store16(std::uint8_t* bytes, std::uint16_t value) {
  bytes[0] = static_cast<std::uint8_t>(value);
  bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void store32(std::uint8_t* bytes, std::uint32_t value) {
  bytes[0] = static_cast<std::uint8_t>(value);
  bytes[1] = static_cast<std::uint8_t>(value >> 8);
  bytes[2] = static_cast<std::uint8_t>(value >> 16);
  bytes[3] = static_cast<std::uint8_t>(value >> 24);
}

inline void store64(std::uint8_t* bytes, std::uint64_t value) {
  store32(bytes, static_cast<std::uint32_t>(value));
  store32(bytes + 4, static_cast<std::uint32_t>(value >> 32));
}

// The same at a byte offset of a span; the field must lie inside it
// (checked where the standard library checks subspan).
inline std::uint16_t load16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return load16(bytes.subspan(at, 2).data());
}
inline std::uint32_t load32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return load32(bytes.subspan(at, 4).data());
}
inline std::uint64_t load64(std::span<const std::uint8_t> bytes, std::size_t at) {
  return load64(bytes.subspan(at, 8).data());
}
inline void store16(std::span<std::uint8_t> bytes, std::size_t at, std::uint16_t value) {
  store16(bytes.subspan(at, 2).data(), value);
}
inline void store32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value) {
  store32(bytes.subspan(at, 4).data(), value);
}
inline void store64(std::span<std::uint8_t> bytes, std::size_t at, std::uint64_t value) {
  store64(bytes.subspan(at, 8).data(), value);
}

}  // namespace le
