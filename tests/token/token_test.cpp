#include "token/token.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "cipher/cipher_context.h"
#include "support/files.h"

namespace {

std::vector<std::uint8_t> sampleInput() {
  std::vector<std::uint8_t> input(kTokenRecordSize);
  for (std::size_t i = 0; i < input.size(); ++i) input[i] = static_cast<std::uint8_t>(i * 7 + 1);
  return input;
}

// Encrypts with the cipher directly, as the key preparation should have set it up.
std::array<std::uint8_t, kTokenCipherRoom> directEncrypt(const std::string& cipherKey) {
  std::array<std::uint8_t, kTokenCipherRoom> out{};
  CipherContextOwner context(
      cipherContextCreate(cipherKey.data(), static_cast<std::uint32_t>(cipherKey.size())));
  std::vector<std::uint8_t> input = sampleInput();
  cipherContextEncrypt(input.data(), out.data(), static_cast<std::uint32_t>(input.size()),
                       context.get());
  return out;
}

std::string plus3(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = static_cast<char>(static_cast<unsigned char>(c) + 3u);
  return out;
}

struct KeyCase {
  const char* name;
  std::string key;          // the text handed to encryptWithKey
  std::string changedText;  // the buffer afterwards
  std::string cipherKey;    // what the cipher must be keyed with
};

std::string builtTokenKey() {
  std::array<char, kTokenKeyBufferSize> key{};
  buildTokenKey(key);
  return std::string(key.data());
}

std::vector<KeyCase> keyCases() {
  std::string forty;
  for (int i = 0; i < 40; ++i) forty += static_cast<char>('A' + i % 26);
  std::string with253 = std::string("ab") + static_cast<char>(253) + "cdef";
  std::string token = builtTokenKey();
  return {
      {"EmptyKeyUsesDefaultKey", "", "", ""},
      {"FortyCharactersUseLast32", forty, plus3(forty), plus3(forty).substr(8)},
      {"WrappedCharacterEndsKey", with253, plus3(with253), plus3("ab")},
      {"TokenKey", token, plus3(token), plus3(token)},
  };
}

TEST(EncryptWithKey, PreparesKeyAsTheCipherExpects) {
  for (const KeyCase& c : keyCases()) {
    SCOPED_TRACE(c.name);
    std::vector<char> buffer(c.key.begin(), c.key.end());
    buffer.push_back('\0');
    std::array<std::uint8_t, kTokenCipherRoom> out{};
    std::vector<std::uint8_t> input = sampleInput();
    int count =
        encryptWithKey(input.data(), static_cast<int>(input.size()), buffer.data(), out.data());
    EXPECT_EQ(count, static_cast<int>(kTokenRecordSize));
    EXPECT_EQ(std::string(buffer.data(), c.key.size()), c.changedText);
    EXPECT_EQ(out, directEncrypt(c.cipherKey));
  }
}

TEST(EncryptWithKey, DecryptWithKeyInvertsIt) {
  std::string token = builtTokenKey();
  std::vector<std::uint8_t> input = sampleInput();
  std::array<std::uint8_t, kTokenCipherRoom> sealed{};
  std::array<std::uint8_t, kTokenCipherRoom> opened{};
  std::string keyA = token, keyB = token;
  encryptWithKey(input.data(), static_cast<int>(input.size()), keyA.data(), sealed.data());
  int count =
      decryptWithKey(sealed.data(), static_cast<int>(input.size()), keyB.data(), opened.data());
  ASSERT_EQ(count, static_cast<int>(input.size()));
  EXPECT_TRUE(std::equal(input.begin(), input.end(), opened.begin()));
}

// A token issued with this key must decode forever: a fixed record sealed
// with the built key gives one fixed line. A change to the key pieces, the
// preparation or the cipher breaks this first.
TEST(TokenKey, SealsAKnownRecordToAKnownToken) {
  TokenFields fields;
  fields.version = kTokenRecordVersion;
  fields.time = 1796861430;
  for (std::size_t i = 0; i < fields.uuid.size(); ++i)
    fields.uuid[i] = static_cast<std::uint8_t>(0xF0 - i);
  std::copy_n("12153A58", 8, fields.legacy.begin());
  std::array<std::uint8_t, kTokenRecordSize> record{};
  packTokenRecord(record, fields);
  std::string key = builtTokenKey();
  std::array<std::uint8_t, kTokenCipherRoom> out{};
  ASSERT_EQ(encryptWithKey(record.data(), static_cast<int>(record.size()), key.data(), out.data()),
            static_cast<int>(kTokenRecordSize));
  std::string hex;
  for (std::size_t i = 0; i < kTokenRecordSize; ++i) {
    hex += "0123456789ABCDEF"[out[i] >> 4];
    hex += "0123456789ABCDEF"[out[i] & 0xF];
  }
  EXPECT_EQ(hex, "828351548306B6F3931109457B2CC953FF9FBEE0C4776C332A26651B2A");
}

TEST(TokenKey, IsFourteenCharactersThatNeverWrapToZero) {
  std::string token = builtTokenKey();
  ASSERT_EQ(token.size(), 14u);
  for (char c : token) EXPECT_LT(static_cast<unsigned char>(c), 253u) << c;
}

TEST(TokenKey, NeverStandsWholeInTheBinaries) {
  std::stringstream carriers(ORLIM_KEY_CARRIERS);
  for (std::string path; std::getline(carriers, path, ':');) {
    std::string image;
    ASSERT_TRUE(testfiles::readWholeFile(path, image)) << path;
    EXPECT_EQ(image.find(builtTokenKey()), std::string::npos) << path;
  }
}

TEST(TokenRecord, LayoutIsVersionTimeUuidLegacy) {
  TokenFields fields;
  fields.version = kTokenRecordVersion;
  fields.time = 0x11223344;
  for (std::size_t i = 0; i < fields.uuid.size(); ++i)
    fields.uuid[i] = static_cast<std::uint8_t>(0xA0 + i);
  std::copy_n("33F3A401", 8, fields.legacy.begin());
  std::array<std::uint8_t, kTokenRecordSize> record{};
  packTokenRecord(record, fields);

  const std::array<std::uint8_t, kTokenRecordSize> expected = {
      0x01, 0x44, 0x33, 0x22, 0x11, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9,
      0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF, '3',  '3',  'F',  '3',  'A',  '4',  '0',  '1'};
  EXPECT_EQ(record, expected);
  TokenFields back = unpackTokenRecord(record);
  EXPECT_EQ(back.version, fields.version);
  EXPECT_EQ(back.time, fields.time);
  EXPECT_EQ(back.uuid, fields.uuid);
  EXPECT_EQ(back.legacy, fields.legacy);
}

}  // namespace
