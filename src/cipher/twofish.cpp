#include "cipher/twofish.h"

#include <bit>

alignas(64) MdsTables mdsTables;
std::uint32_t mdsTablesReady = 0;

namespace {

// Multiplication by the MDS entries in GF(2^8) mod 0x169, by feedback steps;
// 0xB4 and 0x5A are that polynomial shifted right by one and by two.
constexpr std::uint32_t lfsr1(std::uint32_t x) { return (x >> 1) ^ ((x & 1u) != 0 ? 0xB4u : 0u); }
constexpr std::uint32_t lfsr2(std::uint32_t x) {
  return (x >> 2) ^ ((x & 2u) != 0 ? 0xB4u : 0u) ^ ((x & 1u) != 0 ? 0x5Au : 0u);
}
constexpr std::uint32_t times5B(std::uint32_t a) { return a ^ lfsr2(a); }
constexpr std::uint32_t timesEF(std::uint32_t a) { return a ^ lfsr1(a) ^ lfsr2(a); }

constexpr std::uint32_t packRows(std::uint32_t row0, std::uint32_t row1, std::uint32_t row2,
                                 std::uint32_t row3) {
  return row0 | row1 << 8 | row2 << 16 | row3 << 24;
}

// One step of the Reed-Solomon remainder mod 0x14D (0xA6 is 0x14D >> 1).
constexpr std::uint32_t rsRemainderStep(std::uint32_t r) {
  const std::uint32_t b = r >> 24;
  const std::uint32_t g2 = ((b << 1) ^ ((b & 0x80u) != 0 ? 0x14Du : 0u)) & 0xFFu;
  const std::uint32_t g3 = (b >> 1) ^ ((b & 1u) != 0 ? 0xA6u : 0u) ^ g2;
  return (r << 8) ^ (g3 << 24) ^ (g2 << 16) ^ (g3 << 8) ^ b;
}

// The key bytes one lane of h XORs in, in the order it applies them:
// byte j of L3, L2, L1, L0 for lane j.
using LaneKey = std::array<std::uint32_t, 4>;
using LaneKeys = std::array<LaneKey, 4>;

LaneKeys laneKeysOf(const std::array<std::uint32_t, 4>& l) {
  LaneKeys keys{};
  for (unsigned lane = 0; lane < 4; ++lane)
    for (unsigned stage = 0; stage < 4; ++stage) keys[lane][stage] = byteOf(l[3 - stage], lane);
  return keys;
}

// The lanes of h after their first q permutation, which lanes 0 and 3 (q1)
// and lanes 1 and 2 (q0) share for a given byte: the remaining three q
// permutations with their key bytes, then the MDS table that holds the last.
inline std::uint32_t lane0(std::uint32_t afterQ1, const LaneKey& k) {
  const auto& q0 = twofishQ.q0;
  const auto& q1 = twofishQ.q1;
  return mdsTables[0][q0[q0[q1[afterQ1 ^ k[0]] ^ k[1]] ^ k[2]] ^ k[3]];
}
inline std::uint32_t lane1(std::uint32_t afterQ0, const LaneKey& k) {
  const auto& q0 = twofishQ.q0;
  const auto& q1 = twofishQ.q1;
  return mdsTables[1][q0[q1[q1[afterQ0 ^ k[0]] ^ k[1]] ^ k[2]] ^ k[3]];
}
inline std::uint32_t lane2(std::uint32_t afterQ0, const LaneKey& k) {
  const auto& q0 = twofishQ.q0;
  const auto& q1 = twofishQ.q1;
  return mdsTables[2][q1[q0[q0[afterQ0 ^ k[0]] ^ k[1]] ^ k[2]] ^ k[3]];
}
inline std::uint32_t lane3(std::uint32_t afterQ1, const LaneKey& k) {
  const auto& q0 = twofishQ.q0;
  const auto& q1 = twofishQ.q1;
  return mdsTables[3][q1[q1[q0[afterQ1 ^ k[0]] ^ k[1]] ^ k[2]] ^ k[3]];
}

inline std::uint32_t hWithLaneKeys(std::uint8_t y0, std::uint8_t y1, std::uint8_t y2,
                                   std::uint8_t y3, const LaneKeys& k) {
  return lane0(twofishQ.q1[y0], k[0]) ^ lane1(twofishQ.q0[y1], k[1]) ^
         lane2(twofishQ.q0[y2], k[2]) ^ lane3(twofishQ.q1[y3], k[3]);
}

}  // namespace

void twofishBuildMdsTables() {
  for (std::size_t x = 0; x < 256; ++x) {
    const std::uint32_t a = twofishQ.q1[x];
    const std::uint32_t b = twofishQ.q0[x];
    const std::uint32_t a5B = times5B(a);
    const std::uint32_t aEF = timesEF(a);
    const std::uint32_t b5B = times5B(b);
    const std::uint32_t bEF = timesEF(b);
    mdsTables[0][x] = packRows(a, a5B, aEF, aEF);
    mdsTables[1][x] = packRows(bEF, bEF, b5B, b);
    mdsTables[2][x] = packRows(a5B, aEF, a, aEF);
    mdsTables[3][x] = packRows(b5B, b, bEF, b5B);
  }
  mdsTablesReady = 1;
}

std::uint32_t twofishRsEncode(std::uint32_t even, std::uint32_t odd) {
  std::uint32_t r = odd;
  for (int i = 0; i < 4; ++i) r = rsRemainderStep(r);
  r ^= even;
  for (int i = 0; i < 4; ++i) r = rsRemainderStep(r);
  return r;
}

std::uint32_t twofishH(std::uint32_t x, const std::array<std::uint32_t, 4>& l) {
  return hWithLaneKeys(byteOf(x, 0), byteOf(x, 1), byteOf(x, 2), byteOf(x, 3), laneKeysOf(l));
}

void twofishExpandKey(CipherContext& context) {
  const std::span<const std::uint8_t, 32> key(context.keyBytes);
  std::array<std::uint32_t, 4> even{};
  std::array<std::uint32_t, 4> odd{};
  std::array<std::uint32_t, 4> sboxKey{};
  for (std::size_t i = 0; i < 4; ++i) {
    even[i] = le::load32(key, 8 * i);
    odd[i] = le::load32(key, 8 * i + 4);
    sboxKey[3 - i] = twofishRsEncode(even[i], odd[i]);
  }

  // The h inputs i * 0x02020202 and i * 0x02020202 + 0x01010101 repeat one
  // byte in all four lanes, so the lanes share their first lookups.
  const LaneKeys evenKeys = laneKeysOf(even);
  const LaneKeys oddKeys = laneKeysOf(odd);
  for (std::uint32_t i = 0; i < 20; ++i) {
    const auto y = static_cast<std::uint8_t>(2 * i);
    const auto z = static_cast<std::uint8_t>(2 * i + 1);
    const std::uint32_t a = hWithLaneKeys(y, y, y, y, evenKeys);
    const std::uint32_t b = std::rotl(hWithLaneKeys(z, z, z, z, oddKeys), 8);
    context.subkeys[2 * i] = a + b;
    context.subkeys[2 * i + 1] = std::rotl(a + 2 * b, 9);
  }

  // Lanes that start with the same q permutation run together, two at a
  // time, so that their eight key bytes and the table bases stay in
  // registers.
  const LaneKeys keys = laneKeysOf(sboxKey);
#pragma GCC unroll 2
  for (std::size_t x = 0; x < 256; ++x) {
    const std::uint32_t afterQ1 = twofishQ.q1[x];
    context.sboxes[0][x][0] = lane0(afterQ1, keys[0]);
    context.sboxes[1][x][1] = lane3(afterQ1, keys[3]);
  }
#pragma GCC unroll 2
  for (std::size_t x = 0; x < 256; ++x) {
    const std::uint32_t afterQ0 = twofishQ.q0[x];
    context.sboxes[0][x][1] = lane1(afterQ0, keys[1]);
    context.sboxes[1][x][0] = lane2(afterQ0, keys[2]);
  }
}

namespace {

// One direction of the cipher on a block's words: whitening, sixteen rounds
// in eight passes of two, whitening. Each direction is its own function, so
// that it has the registers to itself, and its passes are unrolled; the
// subkeys are read where they are needed rather than held in registers,
// which would only spill.
template <bool kDecrypt>
[[gnu::noinline]] void processWords(std::uint32_t r0, std::uint32_t r1, std::uint32_t r2,
                                    std::uint32_t r3, std::span<std::uint8_t, 16> output,
                                    const CipherContext& context) {
  const auto& k = context.subkeys;
  if constexpr (!kDecrypt) {
    r0 ^= k[0];
    r1 ^= k[1];
    r2 ^= k[2];
    r3 ^= k[3];
    const std::uint32_t* round = k.data() + 8;
#pragma GCC unroll 8
    for (int pass = 0; pass < 8; ++pass, round += 4) {
      std::uint32_t t0 = twofishG(context, r0);
      std::uint32_t t1 = twofishGRotated(context, r1);
      r2 = std::rotr(r2 ^ (t0 + t1 + round[0]), 1);
      r3 = std::rotl(r3, 1) ^ (t0 + 2 * t1 + round[1]);
      t0 = twofishG(context, r2);
      t1 = twofishGRotated(context, r3);
      r0 = std::rotr(r0 ^ (t0 + t1 + round[2]), 1);
      r1 = std::rotl(r1, 1) ^ (t0 + 2 * t1 + round[3]);
    }
    le::store32(output, 0, r2 ^ k[4]);
    le::store32(output, 4, r3 ^ k[5]);
    le::store32(output, 8, r0 ^ k[6]);
    le::store32(output, 12, r1 ^ k[7]);
  } else {
    r0 ^= k[4];
    r1 ^= k[5];
    r2 ^= k[6];
    r3 ^= k[7];
    const std::uint32_t* round = k.data() + 36;
#pragma GCC unroll 8
    for (int pass = 0; pass < 8; ++pass, round -= 4) {
      std::uint32_t t0 = twofishG(context, r0);
      std::uint32_t t1 = twofishGRotated(context, r1);
      r3 = std::rotr(r3 ^ (t0 + 2 * t1 + round[3]), 1);
      r2 = std::rotl(r2, 1) ^ (t0 + t1 + round[2]);
      t0 = twofishG(context, r2);
      t1 = twofishGRotated(context, r3);
      r1 = std::rotr(r1 ^ (t0 + 2 * t1 + round[1]), 1);
      r0 = std::rotl(r0, 1) ^ (t0 + t1 + round[0]);
    }
    le::store32(output, 0, r2 ^ k[0]);
    le::store32(output, 4, r3 ^ k[1]);
    le::store32(output, 8, r0 ^ k[2]);
    le::store32(output, 12, r1 ^ k[3]);
  }
}

}  // namespace

void twofishProcessBlock(std::span<const std::uint8_t, 16> input,
                         std::span<std::uint8_t, 16> output, int decrypt,
                         const CipherContext& context) {
  const std::uint32_t r0 = le::load32(input, 0);
  const std::uint32_t r1 = le::load32(input, 4);
  const std::uint32_t r2 = le::load32(input, 8);
  const std::uint32_t r3 = le::load32(input, 12);
  if (decrypt == 0)
    processWords<false>(r0, r1, r2, r3, output, context);
  else
    processWords<true>(r0, r1, r2, r3, output, context);
}
