#include "decode/token_line.h"

#include "common/hex.h"

namespace {

// Exactly a token's number of hex digits.
bool isTokenText(std::string_view text) {
  if (text.size() != kTokenDigits) return false;
  for (char c : text)
    if (hexValue(c) == kNotHex) return false;
  return true;
}

std::size_t skipSpace(std::string_view text, std::size_t at) {
  while (at < text.size() && isSpace(text[at])) ++at;
  return at;
}

// A record that came out of the right key carries version 1 and eight
// upper-case hex digits; anything else means the wrong key or damage.
bool looksLikeOurs(const TokenFields& fields) {
  if (fields.version != kTokenRecordVersion) return false;
  for (char c : fields.legacy)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

}  // namespace

void openToken(const CipherContext& cipher, std::string_view line, std::size_t begin,
               std::size_t end, TokenLine& out) {
  out.input = line.substr(begin, end - begin);
  const auto* text = reinterpret_cast<const unsigned char*>(out.input.data());
  const std::size_t size = out.input.size();
  if (size == kTokenDigits) {
    // The usual case: decode first, look for the culprit only on failure.
    unsigned bad = 0;
    for (std::size_t i = 0; i < kTokenRecordSize; ++i) {
      const unsigned high = kHexValue[text[2 * i]];
      const unsigned low = kHexValue[text[2 * i + 1]];
      bad |= high | low;
      out.sealed[i] = static_cast<std::uint8_t>(high << 4 | (low & 0xF));
    }
    if (bad <= 0xF) {
      std::array<std::uint8_t, kTokenRecordSize> record;
      openTokenRecord(cipher, out.sealed, record);
      out.fields = unpackTokenRecord(record);
      out.status = looksLikeOurs(out.fields) ? DecodeStatus::kOk : DecodeStatus::kNotOurs;
      return;
    }
  }
  for (std::size_t i = 0; i < size; ++i) {
    if (kHexValue[text[i]] == kNotHex) {
      out.status = DecodeStatus::kNotHex;
      out.badAt = begin + i + 1;
      return;
    }
  }
  out.status = DecodeStatus::kWrongLength;
  out.digits = size;
}

Message describeStatus(const TokenLine& line) {
  switch (line.status) {
    case DecodeStatus::kOk:
      return makeMessage("decoded");
    case DecodeStatus::kNotHex:
      return makeMessage("character %zu is not a hex digit", line.badAt);
    case DecodeStatus::kWrongLength:
      return makeMessage("not %zu hex digits (%zu)", kTokenDigits, line.digits);
    case DecodeStatus::kNotOurs:
      return makeMessage("not a token of this key, or corrupted");
    case DecodeStatus::kTwoTokens:
      return makeMessage("two tokens on one line");
    case DecodeStatus::kUnreachable:
      return makeMessage("host unreachable");
    case DecodeStatus::kNoToken:
      return makeMessage("host gave no token");
  }
  return makeMessage("unknown failure");
}

TokenLine parseTokenLine(const CipherContext& cipher, std::string_view line) {
  TokenLine out;
  // The usual line is a bare token and nothing else: it is opened straight
  // away, and anything else in 58 characters falls through to the long way.
  if (line.size() == kTokenDigits) {
    openToken(cipher, line, 0, line.size(), out);
    if (out.status != DecodeStatus::kNotHex) return out;
    out = TokenLine{};
  }
  const std::size_t begin = skipSpace(line, 0);
  std::size_t end = line.size();
  while (end > begin && isSpace(line[end - 1])) --end;
  // A bare token is the usual line: no white space inside.
  std::size_t split = begin;
  while (split < end && !isSpace(line[split])) ++split;
  if (split == end) {
    openToken(cipher, line, begin, end, out);
    return out;
  }
  out.label = line.substr(begin, split - begin);
  const std::size_t second = skipSpace(line, split);
  if (isTokenText(out.label) && isTokenText(line.substr(second, end - second))) {
    // Two tokens pasted onto one line: taking the first for a label would
    // lose a machine in silence.
    out.status = DecodeStatus::kTwoTokens;
    out.label = {};
    out.input = line.substr(begin, end - begin);
    return out;
  }
  // A host the collector could not get a token from: its word and why.
  // No token starts with '!', so a token costs one comparison here.
  if (line[second] == '!') {
    std::size_t wordEnd = second;
    while (wordEnd < end && !isSpace(line[wordEnd])) ++wordEnd;
    const std::string_view word = line.substr(second, wordEnd - second);
    if (word != kUnreachableWord && word != kNoTokenWord) {
      openToken(cipher, line, second, end, out);
      return out;
    }
    out.status = word == kUnreachableWord ? DecodeStatus::kUnreachable : DecodeStatus::kNoToken;
    out.input = line.substr(second, end - second);
    const std::size_t reason = skipSpace(line, wordEnd);
    out.reason = line.substr(reason, end - reason);
    return out;
  }
  openToken(cipher, line, second, end, out);
  return out;
}

InputEncoding inputEncoding(std::string_view start) {
  if (start.starts_with(kUtf8Mark)) return InputEncoding::kUtf8WithMark;
  if (start.size() < 2) return InputEncoding::kPlain;
  const auto first = static_cast<unsigned char>(start[0]);
  const auto second = static_cast<unsigned char>(start[1]);
  // The mark, or the zero byte beside each ASCII character: text of ours
  // never holds a zero byte.
  if ((first == 0xFF && second == 0xFE) || (first != 0 && second == 0))
    return InputEncoding::kUtf16LittleEndian;
  if ((first == 0xFE && second == 0xFF) || (first == 0 && second != 0))
    return InputEncoding::kUtf16BigEndian;
  return InputEncoding::kPlain;
}
