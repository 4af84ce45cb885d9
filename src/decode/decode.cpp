#include "decode/decode.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/wipe.h"

namespace {

constexpr std::size_t kTokenDigits = 2 * kTokenRecordSize;

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// A record that came out of the right key carries version 1 and eight
// upper-case hex digits; anything else means the wrong key or damage.
bool looksLikeOurs(const TokenFields& fields) {
  if (fields.version != kTokenRecordVersion) return false;
  for (char c : fields.legacy)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

std::string utcText(std::uint32_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm parts{};
  gmtime_r(&t, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

}  // namespace

DecodeResult decodeToken(std::string_view text) {
  DecodeResult result;
  // Positions in messages count from the start of the text as given.
  std::size_t leading = 0;
  while (!text.empty() && isSpace(text.front())) {
    text.remove_prefix(1);
    ++leading;
  }
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);

  for (std::size_t i = 0; i < text.size(); ++i) {
    if (hexValue(text[i]) < 0) {
      result.status = DecodeStatus::kNotHex;
      result.badAt = leading + i + 1;
      return result;
    }
  }
  if (text.size() != kTokenDigits) {
    result.status = DecodeStatus::kWrongLength;
    result.digits = text.size();
    return result;
  }

  std::array<std::uint8_t, kTokenCipherRoom> sealed{};
  for (std::size_t i = 0; i < kTokenRecordSize; ++i) {
    sealed[i] = static_cast<std::uint8_t>(hexValue(text[2 * i]) << 4 | hexValue(text[2 * i + 1]));
    result.token += "0123456789ABCDEF"[sealed[i] >> 4];
    result.token += "0123456789ABCDEF"[sealed[i] & 0xF];
  }

  std::array<char, kTokenKeyBufferSize> key{};
  buildTokenKey(key);
  std::array<std::uint8_t, kTokenCipherRoom> record{};
  int count =
      decryptWithKey(sealed.data(), static_cast<int>(kTokenRecordSize), key.data(), record.data());
  wipe(key.data(), key.size());
  if (count != static_cast<int>(kTokenRecordSize)) {
    result.status = DecodeStatus::kNotOurs;
    return result;
  }
  result.fields = unpackTokenRecord(
      std::span<const std::uint8_t, kTokenRecordSize>(record.data(), kTokenRecordSize));
  result.status = looksLikeOurs(result.fields) ? DecodeStatus::kOk : DecodeStatus::kNotOurs;
  return result;
}

std::string describeFailure(const DecodeResult& result) {
  switch (result.status) {
    case DecodeStatus::kOk:
      return "decoded";
    case DecodeStatus::kNotHex:
      return "character " + std::to_string(result.badAt) + " is not a hex digit";
    case DecodeStatus::kWrongLength:
      return "not " + std::to_string(kTokenDigits) + " hex digits (" +
             std::to_string(result.digits) + ")";
    case DecodeStatus::kNotOurs:
      return "not a token of this key, or corrupted";
  }
  return "unknown failure";
}

std::string formatFields(const DecodeResult& r) {
  const TokenFields& f = r.fields;
  return "token:   " + r.token + "\n" + "version: " + std::to_string(f.version) + "\n" +
         "time:    " + utcText(f.time) + " (" + std::to_string(f.time) + ")\n" +
         "uuid:    " + formatUuid(f.uuid) + "\n" + "legacy:  " + formatLegacy(f) + "\n";
}

std::string formatJson(const DecodeResult& r) {
  const TokenFields& f = r.fields;
  // Every value is hex, digits or a fixed-form date: nothing needs escaping.
  return "{\"token\": \"" + r.token + "\", \"version\": " + std::to_string(f.version) +
         ", \"time\": " + std::to_string(f.time) + ", \"time_utc\": \"" + utcText(f.time) +
         "\", \"uuid\": \"" + formatUuid(f.uuid) + "\", \"legacy\": \"" + formatLegacy(f) + "\"}\n";
}
