#include "token/token_text.h"

#include <cstdio>

std::string formatUuid(const std::array<std::uint8_t, kTokenUuidSize>& b) {
  char text[37];
  std::snprintf(text, sizeof text,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  return text;
}

std::string formatLegacy(const TokenFields& fields) {
  return std::string(fields.legacy.begin(), fields.legacy.end());
}

std::string formatIdentityJson(const TokenFields& fields) {
  return "{\"version\": " + std::to_string(fields.version) + ", \"uuid\": \"" +
         formatUuid(fields.uuid) + "\", \"legacy\": \"" + formatLegacy(fields) + "\"}";
}
