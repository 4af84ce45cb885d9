#include "token/token_text.h"

#include <cstring>

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
