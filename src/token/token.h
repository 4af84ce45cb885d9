#pragma once
// What decides a system-ID token: the record layout, the token key and its
// preparation, and the encryption around them. Shared by the field tool and
// the key holder's decoder, so both always agree.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "cipher/cipher_context.h"

inline constexpr std::size_t kTokenRecordSize = 29;
inline constexpr std::uint8_t kTokenRecordVersion = 1;
inline constexpr std::size_t kTokenUuidSize = 16;
inline constexpr std::size_t kTokenLegacySize = 8;
inline constexpr std::size_t kTokenKeyBufferSize = 15;  // 14 characters and a zero byte
// The cipher writes whole 16-byte blocks, so a 29-byte record needs 32 bytes.
inline constexpr std::size_t kTokenCipherRoom = 32;

struct TokenFields {
  std::uint8_t version = 0;
  std::uint32_t time = 0;  // low 32 bits of seconds since 1970 UTC
  std::array<std::uint8_t, kTokenUuidSize> uuid{};
  std::array<char, kTokenLegacySize> legacy{};
};

// Builds the 14-character token key into key, terminated, from pieces so
// that the whole text never stands among the binary's constants.
void buildTokenKey(std::span<char, kTokenKeyBufferSize> key);

// Record layout: version, time (little-endian), UUID, legacy characters.
void packTokenRecord(std::span<std::uint8_t, kTokenRecordSize> record, const TokenFields& fields);
TokenFields unpackTokenRecord(std::span<const std::uint8_t, kTokenRecordSize> record);

// Changes the zero-terminated key in place (+3 per character, mod 256) and
// reports where the cipher key starts and how long it is (at most the last
// 32 characters; a character that became zero ends it).
void prepareTokenKey(char* key, const char** start, std::uint32_t* length);

// Prepares key (in place, see above), encrypts length bytes of input into
// output and returns the count of output bytes. output must hold whole
// 16-byte blocks (see kTokenCipherRoom). No capacity argument, by design of
// the callers: they pass fixed buffers.
int encryptWithKey(const std::uint8_t* input, int length, char* key, std::uint8_t* output);
// The inverse, for the decoder.
int decryptWithKey(const std::uint8_t* input, int length, char* key, std::uint8_t* output);

// For opening many tokens in one run: the token key built, prepared and
// expanded once, or null when memory is exhausted. The key text is wiped.
CipherContextOwner makeTokenCipher();

// Opens one sealed record with a cipher from makeTokenCipher: the same bytes
// as decryptWithKey gives, from two block operations and no key setup.
void openTokenRecord(const CipherContext& cipher,
                     std::span<const std::uint8_t, kTokenRecordSize> sealed,
                     std::span<std::uint8_t, kTokenRecordSize> record);
