#pragma once
// Twofish (Schneier et al.) with 256-bit keys: the process-wide MDS tables,
// the key schedule into a cipher context and single-block encryption and
// decryption. Internal to the cipher: the envelope in cipher_context.cpp,
// the tests and the benchmarks are its only users.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "cipher/cipher_context.h"
#include "common/little_endian.h"

// The two fixed byte permutations of Twofish, one after the other.
struct TwofishPermutations {
  std::array<std::uint8_t, 256> q0;
  std::array<std::uint8_t, 256> q1;
};
extern const TwofishPermutations twofishQ;

// T0..T3: column j of the MDS matrix times the last q permutation of lane j,
// row 0 in the low byte. Built once per process, never freed.
using MdsTables = std::array<std::array<std::uint32_t, 256>, 4>;
extern MdsTables mdsTables;
// 0 until mdsTables has been filled. Unsynchronised: contexts are created on
// one thread only.
extern std::uint32_t mdsTablesReady;

inline constexpr std::uint8_t byteOf(std::uint32_t word, unsigned n) {
  return static_cast<std::uint8_t>(word >> (8u * (n % 4u)));
}

void twofishBuildMdsTables();

// One S-box key word from the even and odd key words of an 8-byte group
// (the Reed-Solomon code over GF(2^8) mod 0x14D).
std::uint32_t twofishRsEncode(std::uint32_t even, std::uint32_t odd);

// h(X, L) for four key words L = (L0, L1, L2, L3); mdsTables must be built.
std::uint32_t twofishH(std::uint32_t x, const std::array<std::uint32_t, 4>& l);

// Turns context.keyBytes into its subkeys and keyed sboxes; mdsTables must
// be built.
void twofishExpandKey(CipherContext& context);

// Byte n of x as a table index. Widening first lets the compiler pick the
// byte with high-byte registers and scaled shifts instead of copies.
inline std::size_t byteIndex(std::uint32_t x, unsigned n) {
  return static_cast<std::size_t>((std::uint64_t{x} >> (8u * n)) & 0xFFu);
}

// g(X) with the context's keyed S-boxes.
inline std::uint32_t twofishG(const CipherContext& context, std::uint32_t x) {
  return context.sboxes[0][byteIndex(x, 0)][0] ^ context.sboxes[0][byteIndex(x, 1)][1] ^
         context.sboxes[1][byteIndex(x, 2)][0] ^ context.sboxes[1][byteIndex(x, 3)][1];
}

// g(ROL(X, 8)), taking the bytes in rotated order instead of rotating.
inline std::uint32_t twofishGRotated(const CipherContext& context, std::uint32_t x) {
  return context.sboxes[0][byteIndex(x, 3)][0] ^ context.sboxes[0][byteIndex(x, 0)][1] ^
         context.sboxes[1][byteIndex(x, 1)][0] ^ context.sboxes[1][byteIndex(x, 2)][1];
}

// Encrypts (decrypt == 0) or decrypts one block. All of input is read before
// output is written, so both may be the same block.
void twofishProcessBlock(std::span<const std::uint8_t, 16> input,
                         std::span<std::uint8_t, 16> output, int decrypt,
                         const CipherContext& context);

