#include "fleet/fleet_record.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

namespace fleet {
namespace {

// The keys of the decoder's two records. Others are passed over: a later
// decoder may add some (the input's line number, say).
enum Key : unsigned {
  kLabel,
  kToken,
  kVersion,
  kTime,
  kTimeUtc,
  kUuid,
  kLegacy,
  kMachine,
  kWarnings,
  kInput,
  kError,
  kKeyCount,
  kUnknown = kKeyCount,
};

constexpr std::array<std::string_view, kKeyCount> kKeyNames = {
    "label", "token", "version", "time", "time_utc", "uuid",
    "legacy", "machine", "warnings", "input", "error",
};

constexpr unsigned bit(Key key) { return 1u << key; }
constexpr unsigned kTokenKeys = bit(kToken) | bit(kVersion) | bit(kTime) | bit(kTimeUtc) |
                                bit(kUuid) | bit(kLegacy) | bit(kMachine) | bit(kWarnings);
constexpr unsigned kErrorKeys = bit(kInput) | bit(kError);

// Nesting deeper than this, in a value passed over, is not a decoder's.
constexpr int kMaxDepth = 16;
constexpr std::size_t kTokenDigits = 58;
constexpr std::size_t kUuidTextSize = 36;
// Integers up to 2^53, exact in every JSON reader.
constexpr std::uint64_t kMaxInteger = 9007199254740992ULL;

constexpr std::array<std::uint8_t, 256> kHexValue = [] {
  std::array<std::uint8_t, 256> table{};
  for (auto& v : table) v = 0xFF;
  for (int c = 0; c < 10; ++c) table[static_cast<std::size_t>('0' + c)] = static_cast<std::uint8_t>(c);
  for (int c = 0; c < 6; ++c) {
    table[static_cast<std::size_t>('A' + c)] = static_cast<std::uint8_t>(10 + c);
    table[static_cast<std::size_t>('a' + c)] = static_cast<std::uint8_t>(10 + c);
  }
  return table;
}();

// Bytes a string's contents are copied over in runs: not a quote, a
// backslash, a control character or the start of a multi-byte sequence.
constexpr std::array<bool, 256> kPlainStringByte = [] {
  std::array<bool, 256> table{};
  for (int c = 0x20; c < 0x80; ++c) table[static_cast<std::size_t>(c)] = c != '"' && c != '\\';
  return table;
}();

bool isUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// Length of the UTF-8 sequence at text[at] if it is a valid one (no
// overlong forms, no surrogates, at most U+10FFFF), else 0.
std::size_t utf8Length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const std::size_t left = text.size() - at;
  const unsigned c = byte(0);
  const auto cont = [&](std::size_t i) { return i < left && (byte(i) & 0xC0) == 0x80; };
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (!cont(1) || !cont(2)) return 0;
    if (c == 0xE0 && byte(1) < 0xA0) return 0;
    if (c == 0xED && byte(1) >= 0xA0) return 0;
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3)) return 0;
    if (c == 0xF0 && byte(1) < 0x90) return 0;
    if (c == 0xF4 && byte(1) >= 0x90) return 0;
    return 4;
  }
  return 0;
}

struct Reader {
  std::string_view text;
  std::size_t at = 0;
  std::string& scratch;
  RecordError& error;
};

// Records what is wrong at byte index where (reported from 1), or with
// the record as a whole (kWhole); always false, for `return fail(...)`.
constexpr std::size_t kWhole = std::numeric_limits<std::size_t>::max();

[[gnu::format(printf, 3, 4)]] bool fail(Reader& r, std::size_t where, const char* format, ...) {
  r.error.position = where == kWhole ? 0 : where + 1;
  va_list args;
  va_start(args, format);
  std::vsnprintf(r.error.message.data(), r.error.message.size(), format, args);
  va_end(args);
  return false;
}

void skipSpace(Reader& r) {
  while (r.at < r.text.size()) {
    const char c = r.text[r.at];
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return;
    ++r.at;
  }
}

bool atEnd(const Reader& r) { return r.at >= r.text.size(); }
char peek(const Reader& r) { return atEnd(r) ? '\0' : r.text[r.at]; }

bool expect(Reader& r, char c, const char* what) {
  if (peek(r) != c || atEnd(r)) return fail(r, r.at, "expected %s", what);
  ++r.at;
  return true;
}

bool readHex4(Reader& r, std::size_t at, unsigned& value) {
  if (r.text.size() - at < 4) return fail(r, at, "a \\u escape needs four hex digits");
  value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const std::uint8_t v = kHexValue[static_cast<unsigned char>(r.text[at + i])];
    if (v == 0xFF) return fail(r, at + i, "a \\u escape needs four hex digits");
    value = value << 4 | v;
  }
  return true;
}

void appendUtf8(std::string& out, unsigned code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | code >> 18);
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// One escape after its backslash (at r.at), appended to the scratch.
bool readEscape(Reader& r) {
  const std::size_t start = r.at - 1;
  if (atEnd(r)) return fail(r, start, "unterminated string");
  const char c = r.text[r.at++];
  switch (c) {
    case '"': case '\\': case '/': r.scratch += c; return true;
    case 'b': r.scratch += '\b'; return true;
    case 'f': r.scratch += '\f'; return true;
    case 'n': r.scratch += '\n'; return true;
    case 'r': r.scratch += '\r'; return true;
    case 't': r.scratch += '\t'; return true;
    case 'u': break;
    default: return fail(r, start, "unknown escape \\%c", c >= 0x20 && c < 0x7F ? c : '?');
  }
  unsigned code = 0;
  if (!readHex4(r, r.at, code)) return false;
  r.at += 4;
  if (code >= 0xDC00 && code <= 0xDFFF) return fail(r, start, "a low surrogate alone");
  if (code >= 0xD800 && code <= 0xDBFF) {
    if (r.text.size() - r.at < 2 || r.text[r.at] != '\\' || r.text[r.at + 1] != 'u')
      return fail(r, start, "a high surrogate alone");
    unsigned low = 0;
    if (!readHex4(r, r.at + 2, low)) return false;
    if (low < 0xDC00 || low > 0xDFFF) return fail(r, start, "a high surrogate alone");
    r.at += 6;
    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
  }
  appendUtf8(r.scratch, code);
  return true;
}

// A string at r.at. Without escapes its contents are a view of the line;
// with them, of the scratch, whose capacity was made to hold the whole
// line, so earlier views stay valid.
bool readString(Reader& r, std::string_view& out) {
  const std::size_t open = r.at;
  if (!expect(r, '"', "a string")) return false;
  const char* const text = r.text.data();
  const std::size_t size = r.text.size();
  std::size_t i = r.at;
  bool escaped = false;
  std::size_t scratchStart = 0;
  std::size_t runStart = i;
  for (;;) {
    while (i < size && kPlainStringByte[static_cast<unsigned char>(text[i])]) ++i;
    if (i == size) return fail(r, open, "unterminated string");
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"') break;
    if (c >= 0x80) {
      const std::size_t n = utf8Length(r.text, i);
      if (n == 0) return fail(r, i, "not UTF-8");
      i += n;
      continue;
    }
    if (c < 0x20) return fail(r, i, "a control character in a string");
    // A backslash: from here on the contents are built in the scratch.
    if (!escaped) {
      escaped = true;
      scratchStart = r.scratch.size();
    }
    r.scratch.append(text + runStart, i - runStart);
    r.at = i + 1;
    if (!readEscape(r)) return false;
    i = runStart = r.at;
  }
  if (escaped) {
    r.scratch.append(text + runStart, i - runStart);
    out = std::string_view(r.scratch).substr(scratchStart);
  } else {
    out = r.text.substr(r.at, i - r.at);
  }
  r.at = i + 1;
  return true;
}

// A whole number without sign, fraction or exponent.
bool readInteger(Reader& r, std::uint64_t& value, const char* key) {
  const std::size_t start = r.at;
  if (peek(r) < '0' || peek(r) > '9')
    return fail(r, start, "\"%s\" is not a whole number", key);
  value = 0;
  while (!atEnd(r) && r.text[r.at] >= '0' && r.text[r.at] <= '9') {
    value = value * 10 + static_cast<std::uint64_t>(r.text[r.at] - '0');
    ++r.at;
    if (value > kMaxInteger) return fail(r, start, "\"%s\" is too large", key);
  }
  if (r.at - start > 1 && r.text[start] == '0')
    return fail(r, start, "\"%s\" has a leading zero", key);
  const char next = peek(r);
  if (next == '.' || next == 'e' || next == 'E')
    return fail(r, start, "\"%s\" is not a whole number", key);
  return true;
}

bool readLiteral(Reader& r, std::string_view word) {
  if (r.text.substr(r.at, word.size()) != word) return fail(r, r.at, "not a JSON value");
  r.at += word.size();
  return true;
}

// Any JSON number, for values passed over.
bool skipNumber(Reader& r) {
  const std::size_t start = r.at;
  const auto digits = [&] {
    const std::size_t from = r.at;
    while (!atEnd(r) && r.text[r.at] >= '0' && r.text[r.at] <= '9') ++r.at;
    return r.at != from;
  };
  if (peek(r) == '-') ++r.at;
  if (peek(r) == '0') {
    ++r.at;
  } else if (!digits()) {
    return fail(r, start, "not a JSON value");
  }
  if (peek(r) == '.') {
    ++r.at;
    if (!digits()) return fail(r, start, "not a JSON number");
  }
  if (peek(r) == 'e' || peek(r) == 'E') {
    ++r.at;
    if (peek(r) == '+' || peek(r) == '-') ++r.at;
    if (!digits()) return fail(r, start, "not a JSON number");
  }
  return true;
}

bool skipValue(Reader& r, int depth);

// An object or array after its opening bracket, members or items passed over.
bool skipContainer(Reader& r, char close, int depth) {
  skipSpace(r);
  if (peek(r) == close) {
    ++r.at;
    return true;
  }
  for (;;) {
    if (close == '}') {
      std::string_view key;
      if (!readString(r, key)) return false;
      skipSpace(r);
      if (!expect(r, ':', "':' after a key")) return false;
      skipSpace(r);
    }
    if (!skipValue(r, depth + 1)) return false;
    skipSpace(r);
    if (peek(r) == close && !atEnd(r)) {
      ++r.at;
      return true;
    }
    if (!expect(r, ',', close == '}' ? "',' or '}'" : "',' or ']'")) return false;
    skipSpace(r);
  }
}

bool skipValue(Reader& r, int depth) {
  if (depth > kMaxDepth) return fail(r, r.at, "nested too deep");
  std::string_view ignored;
  switch (peek(r)) {
    case '"': return readString(r, ignored);
    case '{': ++r.at; return skipContainer(r, '}', depth);
    case '[': ++r.at; return skipContainer(r, ']', depth);
    case 't': return readLiteral(r, "true");
    case 'f': return readLiteral(r, "false");
    case 'n': return readLiteral(r, "null");
    default:
      if (atEnd(r)) return fail(r, r.at, "expected a value");
      return skipNumber(r);
  }
}

Key keyOf(std::string_view name) {
  for (unsigned k = 0; k < kKeyCount; ++k)
    if (kKeyNames[k] == name) return static_cast<Key>(k);
  return kUnknown;
}

bool readUuid(Reader& r, std::size_t at, std::string_view text, Uuid& uuid) {
  bool good = text.size() == kUuidTextSize;
  std::size_t byte = 0;
  for (std::size_t i = 0; good && i < kUuidTextSize;) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      good = text[i] == '-';
      ++i;
      continue;
    }
    const std::uint8_t high = kHexValue[static_cast<unsigned char>(text[i])];
    const std::uint8_t low = kHexValue[static_cast<unsigned char>(text[i + 1])];
    good = (high | low) != 0xFF && high != 0xFF && low != 0xFF;
    uuid[byte++] = static_cast<std::uint8_t>(high << 4 | (low & 0xF));
    i += 2;
  }
  if (!good) return fail(r, at, "\"uuid\" is not a UUID (8-4-4-4-12 hex digits)");
  return true;
}

bool readWarnings(Reader& r, ParsedRecord& out) {
  if (!expect(r, '[', "an array of warnings")) return false;
  skipSpace(r);
  if (peek(r) == ']' && !atEnd(r)) {
    ++r.at;
    return true;
  }
  for (;;) {
    if (peek(r) != '"') return fail(r, r.at, "a warning is not a string");
    if (out.warningCount == kMaxRecordWarnings) return fail(r, r.at, "too many warnings");
    const std::size_t at = r.at;
    if (!readString(r, out.warnings[out.warningCount])) return false;
    if (out.warnings[out.warningCount].empty()) return fail(r, at, "an empty warning");
    ++out.warningCount;
    skipSpace(r);
    if (peek(r) == ']' && !atEnd(r)) {
      ++r.at;
      return true;
    }
    if (!expect(r, ',', "',' or ']'")) return false;
    skipSpace(r);
  }
}

// The values of one record, as read, before the record is checked whole.
struct Values {
  std::string_view token;
  std::string_view uuidText;
  std::string_view legacyText;
  std::string_view machine;
  std::array<std::size_t, kKeyCount> at{};
};

bool readMember(Reader& r, Key key, ParsedRecord& out, Values& v) {
  std::uint64_t number = 0;
  v.at[key] = r.at;
  switch (key) {
    case kLabel:
      out.hasLabel = true;
      if (!readString(r, out.label)) return false;
      if (out.label.empty()) return fail(r, v.at[key], "an empty label");
      return true;
    case kToken:
      if (!readString(r, v.token)) return false;
      if (v.token.size() != kTokenDigits) return fail(r, v.at[key], "\"token\" is not 58 hex digits");
      for (char c : v.token)
        if (!isUpperHex(c)) return fail(r, v.at[key], "\"token\" is not 58 hex digits");
      return true;
    case kVersion:
      if (!readInteger(r, number, "version")) return false;
      if (number != static_cast<std::uint64_t>(kRecordVersion))
        return fail(r, v.at[key], "a version %llu record (this reads version %lld)",
                    static_cast<unsigned long long>(number), static_cast<long long>(kRecordVersion));
      return true;
    case kTime:
      if (!readInteger(r, number, "time")) return false;
      if (number > std::numeric_limits<std::uint32_t>::max())
        return fail(r, v.at[key], "\"time\" is out of a token's range");
      out.time = static_cast<std::uint32_t>(number);
      return true;
    case kTimeUtc: {
      std::string_view ignored;
      return readString(r, ignored);
    }
    case kUuid:
      if (!readString(r, v.uuidText)) return false;
      return readUuid(r, v.at[key], v.uuidText, out.uuid);
    case kLegacy:
      if (!readString(r, v.legacyText)) return false;
      if (v.legacyText.size() != kLegacyChars)
        return fail(r, v.at[key], "\"legacy\" is not 8 hex digits");
      for (std::size_t i = 0; i < kLegacyChars; ++i) {
        if (!isUpperHex(v.legacyText[i])) return fail(r, v.at[key], "\"legacy\" is not 8 hex digits");
        out.legacy[i] = v.legacyText[i];
      }
      return true;
    case kMachine:
      return readString(r, v.machine);
    case kWarnings:
      return readWarnings(r, out);
    case kInput:
      return readString(r, out.input);
    case kError:
      return readString(r, out.error);
    case kUnknown:
      break;
  }
  return skipValue(r, 1);
}

// The record whole: one kind's keys, all of them.
bool checkRecord(Reader& r, unsigned seen, ParsedRecord& out, const Values& v) {
  const unsigned tokenKeys = seen & kTokenKeys;
  const unsigned errorKeys = seen & kErrorKeys;
  if (tokenKeys != 0 && errorKeys != 0)
    return fail(r, kWhole, "both a token's keys and an error's");
  if (tokenKeys == 0 && errorKeys == 0) return fail(r, kWhole, "neither a token nor an error");
  const unsigned wanted = errorKeys != 0 ? kErrorKeys : kTokenKeys;
  for (unsigned k = 0; k < kKeyCount; ++k)
    if ((wanted & (1u << k)) != 0 && (seen & (1u << k)) == 0)
      return fail(r, kWhole, "no \"%s\"", kKeyNames[k].data());
  out.kind = errorKeys != 0 ? RecordKind::kError : RecordKind::kToken;
  if (out.kind == RecordKind::kToken) {
    const std::string_view m = v.machine;
    if (m.size() != kUuidTextSize + 1 + kLegacyChars || m.substr(0, kUuidTextSize) != v.uuidText ||
        m[kUuidTextSize] != '/' || m.substr(kUuidTextSize + 1) != v.legacyText)
      return fail(r, v.at[kMachine], "\"machine\" is not \"uuid/legacy\"");
  }
  return true;
}

}  // namespace

bool parseRecord(std::string_view line, ParsedRecord& out, std::string& scratch,
                 RecordError& error) {
  out = ParsedRecord{};
  scratch.clear();
  if (scratch.capacity() < line.size()) scratch.reserve(line.size());
  Reader r{line, 0, scratch, error};
  Values values;
  skipSpace(r);
  if (!expect(r, '{', "'{': a record is one JSON object")) return false;
  skipSpace(r);
  unsigned seen = 0;
  if (peek(r) == '}' && !atEnd(r)) {
    ++r.at;
  } else {
    for (;;) {
      const std::size_t keyAt = r.at;
      std::string_view name;
      if (peek(r) != '"') return fail(r, r.at, "expected a key");
      if (!readString(r, name)) return false;
      const Key key = keyOf(name);
      if (key != kUnknown) {
        if ((seen & (1u << key)) != 0)
          return fail(r, keyAt, "\"%s\" given twice", kKeyNames[key].data());
        seen |= 1u << key;
      }
      skipSpace(r);
      if (!expect(r, ':', "':' after a key")) return false;
      skipSpace(r);
      if (!readMember(r, key, out, values)) return false;
      skipSpace(r);
      if (peek(r) == '}' && !atEnd(r)) {
        ++r.at;
        break;
      }
      if (!expect(r, ',', "',' or '}'")) return false;
      skipSpace(r);
    }
  }
  skipSpace(r);
  if (!atEnd(r)) return fail(r, r.at, "text after the record");
  return checkRecord(r, seen, out, values);
}

}  // namespace fleet
