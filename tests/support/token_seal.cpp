#include "support/token_seal.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace orlimtest {

std::string sealToken(const TokenFields& fields, const char* key) {
  std::array<std::uint8_t, kTokenRecordSize> record{};
  packTokenRecord(record, fields);
  std::array<char, kTokenKeyBufferSize> tokenKey{};
  buildTokenKey(tokenKey);
  std::string keyText = key != nullptr ? key : tokenKey.data();
  std::array<std::uint8_t, kTokenCipherRoom> out{};
  const int count =
      encryptWithKey(record.data(), static_cast<int>(record.size()), keyText.data(), out.data());
  std::string text;
  std::array<char, 3> digits{};
  for (int i = 0; i < count; ++i) {
    std::snprintf(digits.data(), digits.size(), "%02X", out[static_cast<std::size_t>(i)]);
    text += digits.data();
  }
  return text;
}

}  // namespace orlimtest
