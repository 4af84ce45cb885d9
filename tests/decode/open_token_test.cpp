// The decoder's fast path against the cipher's general buffer decryption:
// the same bytes for every buffer of a whole block and a stolen part, under
// random keys and for random tokens under the token key.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "cipher/cipher_context.h"
#include "token/token.h"

namespace {

TEST(DecryptStolen, AgreesWithTheBufferDecryption) {
  std::mt19937 rng(13);
  for (int key = 0; key < 20; ++key) {
    std::array<std::uint8_t, 32> keyBytes{};
    for (auto& b : keyBytes) b = static_cast<std::uint8_t>(rng());
    CipherContextOwner context(cipherContextCreate(keyBytes.data(), 32));
    ASSERT_NE(context, nullptr);
    for (std::uint32_t length = 17; length <= 31; ++length) {
      for (int n = 0; n < 200; ++n) {
        std::array<std::uint8_t, 32> input{};
        for (std::uint32_t i = 0; i < length; ++i) input[i] = static_cast<std::uint8_t>(rng());
        std::array<std::uint8_t, 32> expected{};
        ASSERT_EQ(cipherContextDecrypt(input.data(), expected.data(), length, context.get()),
                  length);
        std::array<std::uint8_t, 32> got{};
        ASSERT_EQ(cipherContextDecryptStolen(input.data(), got.data(), length, context.get()),
                  length);
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + length, expected.begin()))
            << "length " << length;
        // In place, as the buffer decryption allows too.
        ASSERT_EQ(cipherContextDecryptStolen(input.data(), input.data(), length, context.get()),
                  length);
        ASSERT_TRUE(std::equal(input.begin(), input.begin() + length, expected.begin()));
      }
    }
  }
}

TEST(DecryptStolen, RefusesOtherLengths) {
  std::array<std::uint8_t, 32> key{};
  CipherContextOwner context(cipherContextCreate(key.data(), 32));
  std::array<std::uint8_t, 48> buffer{};
  for (std::uint32_t length : {0u, 1u, 16u, 32u, 33u})
    EXPECT_EQ(cipherContextDecryptStolen(buffer.data(), buffer.data(), length, context.get()), 0u);
  EXPECT_EQ(cipherContextDecryptStolen(buffer.data(), buffer.data(), 29, nullptr), 0u);
}

TEST(OpenTokenRecord, AgreesWithDecryptWithKey) {
  CipherContextOwner cipher = makeTokenCipher();
  ASSERT_NE(cipher, nullptr);
  std::mt19937 rng(29);
  for (int n = 0; n < 10000; ++n) {
    std::array<std::uint8_t, kTokenRecordSize> sealed{};
    for (auto& b : sealed) b = static_cast<std::uint8_t>(rng());
    std::array<char, kTokenKeyBufferSize> key{};
    buildTokenKey(key);
    std::array<std::uint8_t, kTokenCipherRoom> expected{};
    ASSERT_EQ(decryptWithKey(sealed.data(), static_cast<int>(sealed.size()), key.data(),
                             expected.data()),
              static_cast<int>(kTokenRecordSize));
    std::array<std::uint8_t, kTokenRecordSize> got{};
    openTokenRecord(*cipher, sealed, got);
    ASSERT_TRUE(std::equal(got.begin(), got.end(), expected.begin())) << n;
  }
}

}  // namespace
