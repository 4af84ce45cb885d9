#pragma once
// Cipher context: one key's Twofish material plus the chaining state of one
// buffer operation, and the buffer envelope (CBC, all-zero IV, ciphertext
// stealing for a partial final block).

#include <array>
#include <cstdint>

#include "common/owner.h"

struct CipherContext {
  // Keyed S-boxes: sboxes[0][x] = {S0[x], S1[x]}, sboxes[1][x] = {S2[x], S3[x]}.
  std::array<std::array<std::uint32_t, 2>, 256> sboxes[2];
  std::array<std::uint32_t, 40> subkeys;
  std::array<std::uint8_t, 32> keyBytes;
  std::uint8_t* outCursor;
  std::array<std::uint8_t, 16> lastIn;
  std::array<std::uint8_t, 16> lastOut;
  std::array<std::uint8_t, 16> priorIn;
  std::int32_t pending;
};

// A new context keyed with keyLength bytes of key (0 selects the default key),
// or null when memory is exhausted.
CipherContext* cipherContextCreate(const void* key, std::uint32_t keyLength);

// Encrypt / decrypt length bytes. Returns the number of output bytes: 0 for a
// null argument or length 0, 16 for lengths 1..16, length otherwise. output
// must hold the next multiple of 16 at or above length (at least 16 bytes).
// input and output may be the same buffer.
std::uint32_t cipherContextEncrypt(const std::uint8_t* input, std::uint8_t* output,
                                   std::uint32_t length, CipherContext* context);
std::uint32_t cipherContextDecrypt(const std::uint8_t* input, std::uint8_t* output,
                                   std::uint32_t length, CipherContext* context);

// Wipes the key material and frees the context; null is ignored.
void cipherContextRelease(CipherContext* context);

using CipherContextOwner = UniqueOwner<CipherContext, &cipherContextRelease>;

// Decrypts one buffer of 17 to 31 bytes (a whole block and a stolen partial
// one, as a short record is sealed) with two block operations, leaving the
// context's chaining state alone, so one context prepared once can open any
// number of such buffers. Returns length, or 0 for a null argument or a
// length outside 17..31. output must hold length bytes and may be input.
std::uint32_t cipherContextDecryptStolen(const std::uint8_t* input, std::uint8_t* output,
                                         std::uint32_t length, const CipherContext* context);
