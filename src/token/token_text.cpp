#include "token/token_text.h"

#include <cstring>

char* putUuidText(char* p, const std::array<std::uint8_t, kTokenUuidSize>& b) {
  static constexpr char kLowerDigits[] = "0123456789abcdef";
#pragma GCC unroll 16
  for (std::size_t i = 0; i < kTokenUuidSize; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) *p++ = '-';
    *p++ = kLowerDigits[b[i] >> 4];
    *p++ = kLowerDigits[b[i] & 0xF];
  }
  return p;
}

char* putLegacyText(char* p, const TokenFields& fields) {
  std::memcpy(p, fields.legacy.data(), kTokenLegacySize);
  return p + kTokenLegacySize;
}

std::string formatUuid(const std::array<std::uint8_t, kTokenUuidSize>& uuid) {
  std::string text(kUuidTextSize, '\0');
  putUuidText(text.data(), uuid);
  return text;
}

std::string formatLegacy(const TokenFields& fields) {
  std::string text(kTokenLegacySize, '\0');
  putLegacyText(text.data(), fields);
  return text;
}

std::string formatIdentityJson(const TokenFields& fields) {
  return "{\"version\": " + std::to_string(fields.version) + ", \"uuid\": \"" +
         formatUuid(fields.uuid) + "\", \"legacy\": \"" + formatLegacy(fields) + "\"}";
}
