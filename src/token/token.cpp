#include "token/token.h"

#include <cstring>

#include "cipher/cipher_context.h"
#include "common/little_endian.h"
#include "common/wipe.h"

namespace {

// The pieces live in separate objects, and the copies go through an
// optimisation barrier so the compiler can't fold them back into one literal.
const char kKeyPieceA[8] = {'Q', 'u', '7', 'v', 'K', 'r', '2', 'M'};
const char kKeyPieceB[4] = {'x', '9', 'P', 'e'};
const char kKeyPieceC[2] = {'L', '4'};

void copyPiece(char* to, const char* from, std::size_t n) {
  std::memcpy(to, from, n);
  __asm__ volatile("" : : "r"(to) : "memory");
}

using CipherCall = std::uint32_t (*)(const std::uint8_t*, std::uint8_t*, std::uint32_t,
                                     CipherContext*);

int runWithKey(CipherCall call, const std::uint8_t* input, int length, char* key,
               std::uint8_t* output) {
  const char* start = nullptr;
  std::uint32_t keyLength = 0;
  prepareTokenKey(key, &start, &keyLength);
  // A context that can't be created (memory exhausted) is passed on as null:
  // the cipher then produces nothing and the caller prints an empty line.
  CipherContextOwner context(cipherContextCreate(start, keyLength));
  return static_cast<int>(call(input, output, static_cast<std::uint32_t>(length), context.get()));
}

}  // namespace

void buildTokenKey(std::span<char, kTokenKeyBufferSize> key) {
  copyPiece(key.data(), kKeyPieceA, sizeof kKeyPieceA);
  copyPiece(key.data() + 8, kKeyPieceB, sizeof kKeyPieceB);
  copyPiece(key.data() + 12, kKeyPieceC, sizeof kKeyPieceC);
  key[14] = '\0';
}

void packTokenRecord(std::span<std::uint8_t, kTokenRecordSize> record, const TokenFields& fields) {
  record[0] = fields.version;
  le::store32(record.data() + 1, fields.time);
  std::memcpy(record.data() + 5, fields.uuid.data(), kTokenUuidSize);
  std::memcpy(record.data() + 21, fields.legacy.data(), kTokenLegacySize);
}

TokenFields unpackTokenRecord(std::span<const std::uint8_t, kTokenRecordSize> record) {
  TokenFields fields;
  fields.version = record[0];
  fields.time = le::load32(record.data() + 1);
  std::memcpy(fields.uuid.data(), record.data() + 5, kTokenUuidSize);
  std::memcpy(fields.legacy.data(), record.data() + 21, kTokenLegacySize);
  return fields;
}

void prepareTokenKey(char* key, const char** start, std::uint32_t* length) {
  *start = key;
  *length = 0;
  if (key[0] == '\0') return;  // empty key: the cipher's default key, text unchanged
  std::size_t total = std::strlen(key);
  for (std::size_t i = 0; i < total; ++i)
    key[i] = static_cast<char>(static_cast<unsigned char>(key[i]) + 3u);
  if (total > 32) *start = key + (total - 32);
  // Measured after the change: a character that wrapped to zero ends the key.
  *length = static_cast<std::uint32_t>(std::strlen(*start));
}

int encryptWithKey(const std::uint8_t* input, int length, char* key, std::uint8_t* output) {
  return runWithKey(cipherContextEncrypt, input, length, key, output);
}

int decryptWithKey(const std::uint8_t* input, int length, char* key, std::uint8_t* output) {
  return runWithKey(cipherContextDecrypt, input, length, key, output);
}

CipherContextOwner makeTokenCipher() {
  std::array<char, kTokenKeyBufferSize> key{};
  buildTokenKey(key);
  const char* start = nullptr;
  std::uint32_t keyLength = 0;
  prepareTokenKey(key.data(), &start, &keyLength);
  CipherContextOwner cipher(cipherContextCreate(start, keyLength));
  wipe(key.data(), key.size());
  return cipher;
}

void openTokenRecord(const CipherContext& cipher,
                     std::span<const std::uint8_t, kTokenRecordSize> sealed,
                     std::span<std::uint8_t, kTokenRecordSize> record) {
  cipherContextDecryptStolen(sealed.data(), record.data(),
                             static_cast<std::uint32_t>(kTokenRecordSize), &cipher);
}
