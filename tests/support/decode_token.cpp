// A single token decoded on its own, for tests that hold one.
#include "support/decode_token.h"

DecodeResult decodeToken(std::string_view text) {
  static constexpr char kUpperDigits[] = "0123456789ABCDEF";
  DecodeResult result;
  CipherContextOwner cipher = makeTokenCipher();
  std::size_t begin = 0;
  while (begin < text.size() && isSpace(text[begin])) ++begin;
  std::size_t end = text.size();
  while (end > begin && isSpace(text[end - 1])) --end;
  TokenLine line;
  if (cipher == nullptr) {
    // Memory exhausted: nothing can be opened.
    line.status = DecodeStatus::kNotOurs;
  } else {
    openToken(*cipher, text, begin, end, line);
  }
  result.status = line.status;
  result.fields = line.fields;
  result.badAt = line.badAt;
  result.digits = line.digits;
  if (line.status == DecodeStatus::kOk || line.status == DecodeStatus::kNotOurs) {
    for (std::uint8_t byte : line.sealed) {
      result.token += kUpperDigits[byte >> 4];
      result.token += kUpperDigits[byte & 0xF];
    }
  }
  if (line.status != DecodeStatus::kOk) result.fields = TokenFields{};
  return result;
}

std::string describeFailure(const DecodeResult& result) {
  TokenLine line;
  line.status = result.status;
  line.badAt = result.badAt;
  line.digits = result.digits;
  return std::string(describeStatus(line).view());
}
