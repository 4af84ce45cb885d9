#pragma once
// The hash for tables whose keys come from outside (labels, UUIDs): SipHash
// 1-3 under a key drawn for each run. With an unkeyed hash anyone who can
// write a line of the input can choose keys that all land in one slot and
// make every insertion a walk over the others; keyed, crafting them needs
// the key, which never leaves the process.

#include <sys/random.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

struct HashKey {
  std::uint64_t k0 = 0;
  std::uint64_t k1 = 0;
};

// A fresh key from the kernel's generator: 0, or -errno. getrandom blocks
// only until the generator is first seeded, early in boot.
inline int drawHashKey(HashKey& key) {
  std::uint64_t words[2];
  std::size_t done = 0;
  auto* bytes = reinterpret_cast<unsigned char*>(words);
  while (done < sizeof words) {
    const ssize_t n = getrandom(bytes + done, sizeof words - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    done += static_cast<std::size_t>(n);
  }
  key = HashKey{words[0], words[1]};
  return 0;
}

namespace keyed_hash_detail {

inline std::uint64_t rotl(std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

inline void sipRound(std::uint64_t& v0, std::uint64_t& v1, std::uint64_t& v2, std::uint64_t& v3) {
  v0 += v1;
  v1 = rotl(v1, 13);
  v1 ^= v0;
  v0 = rotl(v0, 32);
  v2 += v3;
  v3 = rotl(v3, 16);
  v3 ^= v2;
  v0 += v3;
  v3 = rotl(v3, 21);
  v3 ^= v0;
  v2 += v1;
  v1 = rotl(v1, 17);
  v1 ^= v2;
  v2 = rotl(v2, 32);
}

// Little-endian words on either architecture, so a key hashes alike.
inline std::uint64_t load64(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) word = __builtin_bswap64(word);
  return word;
}

}  // namespace keyed_hash_detail

// SipHash-1-3 of the bytes under key: one round per word, three to finish.
inline std::uint64_t keyedHash(const HashKey& key, const void* data, std::size_t size) {
  using namespace keyed_hash_detail;
  std::uint64_t v0 = key.k0 ^ 0x736f6d6570736575ULL;
  std::uint64_t v1 = key.k1 ^ 0x646f72616e646f6dULL;
  std::uint64_t v2 = key.k0 ^ 0x6c7967656e657261ULL;
  std::uint64_t v3 = key.k1 ^ 0x7465646279746573ULL;
  const auto* p = static_cast<const unsigned char*>(data);
  const std::size_t words = size / 8;
  for (std::size_t i = 0; i < words; ++i, p += 8) {
    const std::uint64_t m = load64(p);
    v3 ^= m;
    sipRound(v0, v1, v2, v3);
    v0 ^= m;
  }
  std::uint64_t last = static_cast<std::uint64_t>(size) << 56;
  for (std::size_t i = 0; i < size % 8; ++i) last |= static_cast<std::uint64_t>(p[i]) << (8 * i);
  v3 ^= last;
  sipRound(v0, v1, v2, v3);
  v0 ^= last;
  v2 ^= 0xFF;
  sipRound(v0, v1, v2, v3);
  sipRound(v0, v1, v2, v3);
  sipRound(v0, v1, v2, v3);
  return v0 ^ v1 ^ v2 ^ v3;
}
