#pragma once
// Small helpers shared by the cipher tests.

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string_view>
#include <vector>

#include "cipher/cipher_context.h"

using Bytes = std::vector<std::uint8_t>;
using Block = std::array<std::uint8_t, 16>;
using Key = std::array<std::uint8_t, 32>;

inline Bytes fromHex(std::string_view hex) {
  auto nibble = [](char c) {
    return static_cast<std::uint8_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
  };
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<std::uint8_t>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
  return bytes;
}

template <std::size_t N>
std::array<std::uint8_t, N> arrayFromHex(std::string_view hex) {
  const Bytes bytes = fromHex(hex);
  std::array<std::uint8_t, N> out{};
  std::copy_n(bytes.begin(), std::min(N, bytes.size()), out.begin());
  return out;
}

template <typename Container>
void fillRandom(Container& bytes, std::mt19937& rng) {
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
}

// A context keyed with exactly these 32 bytes.
inline CipherContextOwner contextWithKey(const Key& key) {
  return CipherContextOwner(
      cipherContextCreate(key.data(), static_cast<std::uint32_t>(key.size())));
}
