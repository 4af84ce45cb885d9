#include "fleet/fleet_record.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

#include "common/hex.h"
#include "common/uuid.h"
#include "report/escape.h"

namespace fleet {
namespace {

// The keys of the decoder's two records (common/decoded_record.h), by
// index. Others are passed over: a later decoder may add some.
using decoded::Key;
constexpr unsigned kKeyCount = decoded::kKeyCount;
constexpr unsigned kUnknown = kKeyCount;

constexpr unsigned bit(Key key) { return 1u << static_cast<unsigned>(key); }
template <std::size_t N>
constexpr unsigned bits(const std::array<Key, N>& keys) {
  unsigned all = 0;
  for (Key k : keys) all |= bit(k);
  return all;
}
// Keys a record may lack: the label of a bare token, the origin, and the
// kind an older decoder did not write.
constexpr unsigned kOptionalKeys = bit(Key::kLabel) | bit(Key::kKind) | bit(Key::kLine) | bit(Key::kArgument);
constexpr unsigned kTokenKeys = bits(decoded::kTokenKeys) & ~kOptionalKeys;
constexpr unsigned kErrorKeys = bits(decoded::kErrorKeys) & ~kOptionalKeys;
// Keys only one kind of record has.
constexpr unsigned kErrorOnlyKeys = bits(decoded::kErrorKeys) & ~bit(Key::kLabel);

// Nesting deeper than this, in a value passed over, is not a decoder's.
constexpr int kMaxDepth = 16;
using decoded::kTokenDigits;
using decoded::kUuidTextSize;
// Integers up to 2^53, exact in every JSON reader.
constexpr std::uint64_t kMaxInteger = 9007199254740992ULL;

// Bytes a string's contents are copied over in runs: not a quote, a
// backslash, a control character or the start of a multi-byte sequence.
constexpr std::array<bool, 256> kPlainStringByte = [] {
  std::array<bool, 256> table{};
  for (int c = 0x20; c < 0x80; ++c) table[static_cast<std::size_t>(c)] = c != '"' && c != '\\';
  return table;
}();

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
    const std::uint8_t v = hexValue(r.text[at + i]);
    if (v == kNotHex) return fail(r, at + i, "a \\u escape needs four hex digits");
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
      const std::size_t n = report::utf8SequenceLength(r.text, i);
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

unsigned keyOf(std::string_view name) {
  for (unsigned k = 0; k < kKeyCount; ++k)
    if (decoded::kKeyNames[k].json == name) return k;
  return kUnknown;
}

const char* keyText(unsigned key) { return decoded::kKeyNames[key].json.data(); }

constexpr unsigned index(Key key) { return static_cast<unsigned>(key); }

bool readUuid(Reader& r, std::size_t at, std::string_view text, Uuid& uuid) {
  if (!parseUuidText(text, uuid)) return fail(r, at, "\"uuid\" is not a UUID (8-4-4-4-12 hex digits)");
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

bool readMember(Reader& r, unsigned key, ParsedRecord& out, Values& v) {
  std::uint64_t number = 0;
  if (key == kUnknown) return skipValue(r, 1);
  v.at[key] = r.at;
  switch (static_cast<Key>(key)) {
    case Key::kLabel:
      out.hasLabel = true;
      if (!readString(r, out.label)) return false;
      if (out.label.empty()) return fail(r, v.at[key], "an empty label");
      return true;
    case Key::kToken:
      if (!readString(r, v.token)) return false;
      if (v.token.size() != kTokenDigits) return fail(r, v.at[key], "\"token\" is not 58 hex digits");
      for (char c : v.token)
        if (!isUpperHexDigit(c)) return fail(r, v.at[key], "\"token\" is not 58 hex digits");
      return true;
    case Key::kVersion:
      if (!readInteger(r, number, "version")) return false;
      if (number != static_cast<std::uint64_t>(kRecordVersion))
        return fail(r, v.at[key], "a version %llu record (this reads version %lld)",
                    static_cast<unsigned long long>(number), static_cast<long long>(kRecordVersion));
      return true;
    case Key::kTime:
      if (!readInteger(r, number, "time")) return false;
      if (number > std::numeric_limits<std::uint32_t>::max())
        return fail(r, v.at[key], "\"time\" is out of a token's range");
      out.time = static_cast<std::uint32_t>(number);
      return true;
    case Key::kTimeUtc: {
      std::string_view ignored;
      return readString(r, ignored);
    }
    case Key::kUuid:
      if (!readString(r, v.uuidText)) return false;
      return readUuid(r, v.at[key], v.uuidText, out.uuid);
    case Key::kLegacy:
      if (!readString(r, v.legacyText)) return false;
      if (v.legacyText.size() != kLegacyChars)
        return fail(r, v.at[key], "\"legacy\" is not 8 hex digits");
      for (std::size_t i = 0; i < kLegacyChars; ++i) {
        if (!isUpperHexDigit(v.legacyText[i])) return fail(r, v.at[key], "\"legacy\" is not 8 hex digits");
        out.legacy[i] = v.legacyText[i];
      }
      return true;
    case Key::kMachine:
      return readString(r, v.machine);
    case Key::kWarnings:
      return readWarnings(r, out);
    case Key::kInput:
      return readString(r, out.input);
    case Key::kError:
      return readString(r, out.error);
    case Key::kKind: {
      std::string_view name;
      if (!readString(r, name)) return false;
      for (std::size_t k = 0; k < decoded::kErrorKindCount; ++k) {
        if (decoded::kErrorKindNames[k] == name) {
          out.errorKind = static_cast<ErrorKind>(k);
          return true;
        }
      }
      return fail(r, v.at[key], "an unknown error kind");
    }
    case Key::kLine:
    case Key::kArgument:
      return readInteger(r, number, keyText(key));
  }
  return skipValue(r, 1);
}

// The record whole: one kind's keys, all of them.
bool checkRecord(Reader& r, unsigned seen, ParsedRecord& out, const Values& v) {
  const unsigned tokenKeys = seen & kTokenKeys;
  const unsigned errorKeys = seen & kErrorOnlyKeys;
  if (tokenKeys != 0 && errorKeys != 0)
    return fail(r, kWhole, "both a token's keys and an error's");
  if (tokenKeys == 0 && errorKeys == 0) return fail(r, kWhole, "neither a token nor an error");
  const unsigned wanted = errorKeys != 0 ? kErrorKeys : kTokenKeys;
  for (unsigned k = 0; k < kKeyCount; ++k)
    if ((wanted & (1u << k)) != 0 && (seen & (1u << k)) == 0)
      return fail(r, kWhole, "no \"%s\"", keyText(k));
  out.kind = errorKeys != 0 ? RecordKind::kError : RecordKind::kToken;
  if (out.kind == RecordKind::kToken) {
    const std::string_view m = v.machine;
    if (m.size() != kUuidTextSize + 1 + kLegacyChars || m.substr(0, kUuidTextSize) != v.uuidText ||
        m[kUuidTextSize] != '/' || m.substr(kUuidTextSize + 1) != v.legacyText)
      return fail(r, v.at[index(Key::kMachine)], "\"machine\" is not \"uuid/legacy\"");
  }
  return true;
}


// The members from r.at to the closing brace and what follows it; after:
// whether a member was read already (so a ',' or the '}' comes next).
bool readMembers(Reader& r, ParsedRecord& out, Values& values, unsigned seen, bool after) {
  skipSpace(r);
  if (!after && peek(r) == '}' && !atEnd(r)) {
    ++r.at;
  } else {
    for (;;) {
      if (after) {
        skipSpace(r);
        if (peek(r) == '}' && !atEnd(r)) {
          ++r.at;
          break;
        }
        if (!expect(r, ',', "',' or '}'")) return false;
        skipSpace(r);
      }
      after = true;
      const std::size_t keyAt = r.at;
      std::string_view name;
      if (peek(r) != '"') return fail(r, r.at, "expected a key");
      if (!readString(r, name)) return false;
      const unsigned key = keyOf(name);
      if (key != kUnknown) {
        if ((seen & (1u << key)) != 0)
          return fail(r, keyAt, "\"%s\" given twice", keyText(key));
        seen |= 1u << key;
      }
      skipSpace(r);
      if (!expect(r, ':', "':' after a key")) return false;
      skipSpace(r);
      if (!readMember(r, key, out, values)) return false;
    }
  }
  skipSpace(r);
  if (!atEnd(r)) return fail(r, r.at, "text after the record");
  return checkRecord(r, seen, out, values);
}

// --- the decoder's own layout -------------------------------------------------
//
// Nearly every line is a token record exactly as orlim-decode prints it:
// keys in its order, one space after each ':' and ','. Those lines are read
// by matching that layout (about four times faster); at the first byte that
// differs, the line is read again the general way, which gives the same
// result or the error. Keys after "warnings" (the origin) are read the
// general way.

struct Layout {
  std::string_view text;
  std::size_t at = 0;

  bool literal(std::string_view word) {
    if (text.size() - at < word.size() || std::memcmp(text.data() + at, word.data(), word.size()) != 0)
      return false;
    at += word.size();
    return true;
  }
  // A string without escapes, controls or bytes past ASCII, up to its quote.
  bool plainString(std::string_view& out) {
    const std::size_t start = at;
    while (at < text.size() && kPlainStringByte[static_cast<unsigned char>(text[at])] &&
           static_cast<unsigned char>(text[at]) < 0x80)
      ++at;
    if (at == text.size() || text[at] != '"') return false;
    out = text.substr(start, at - start);
    ++at;
    return true;
  }
  bool upperHex(std::size_t count) {
    if (text.size() - at < count) return false;
    for (std::size_t i = 0; i < count; ++i)
      if (!isUpperHexDigit(text[at + i])) return false;
    at += count;
    return true;
  }
};

// A whole number without a leading zero, of at most digits digits.
bool layoutNumber(Layout& l, std::size_t digits, std::uint64_t& value) {
  const std::size_t start = l.at;
  value = 0;
  while (l.at < l.text.size() && l.text[l.at] >= '0' && l.text[l.at] <= '9' && l.at - start < digits)
    value = value * 10 + static_cast<std::uint64_t>(l.text[l.at++] - '0');
  return l.at != start && (l.at - start == 1 || l.text[start] != '0');
}

// One value of the decoder's layout at l.at.
inline bool readLayoutValue(Layout& l, Key key, ParsedRecord& out, Values& v) {
  std::uint64_t number = 0;
  switch (key) {
    case Key::kLabel:
      out.hasLabel = true;
      return l.literal("\"") && l.plainString(out.label) && !out.label.empty();
    case Key::kToken:
      if (!l.literal("\"") || !l.upperHex(kTokenDigits)) return false;
      v.token = l.text.substr(l.at - kTokenDigits, kTokenDigits);
      return l.literal("\"");
    case Key::kVersion:
      return layoutNumber(l, 3, number) && number == decoded::kRecordVersion;
    case Key::kTime:
      if (!layoutNumber(l, 10, number) || number > std::numeric_limits<std::uint32_t>::max())
        return false;
      out.time = static_cast<std::uint32_t>(number);
      return true;
    case Key::kTimeUtc: {
      std::string_view utc;
      return l.literal("\"") && l.plainString(utc);
    }
    case Key::kUuid:
      if (!l.literal("\"") || l.text.size() - l.at < kUuidTextSize) return false;
      v.uuidText = l.text.substr(l.at, kUuidTextSize);
      if (!parseUuidText(v.uuidText, out.uuid)) return false;
      l.at += kUuidTextSize;
      return l.literal("\"");
    case Key::kLegacy:
      if (!l.literal("\"") || !l.upperHex(kLegacyChars)) return false;
      v.legacyText = l.text.substr(l.at - kLegacyChars, kLegacyChars);
      std::memcpy(out.legacy.data(), v.legacyText.data(), kLegacyChars);
      return l.literal("\"");
    case Key::kMachine:
      if (!l.literal("\"") || !l.literal(v.uuidText) || !l.literal("/") || !l.literal(v.legacyText))
        return false;
      v.machine = l.text.substr(l.at - decoded::kMachineTextSize, decoded::kMachineTextSize);
      return l.literal("\"");
    case Key::kWarnings:
      if (!l.literal("[")) return false;
      if (l.literal("]")) return true;
      for (;;) {
        if (out.warningCount == kMaxRecordWarnings || !l.literal("\"")) return false;
        std::string_view& warning = out.warnings[out.warningCount];
        if (!l.plainString(warning) || warning.empty()) return false;
        ++out.warningCount;
        if (l.literal("]")) return true;
        if (!l.literal(", ")) return false;
      }
    default:
      return false;  // not a token record's
  }
}

// What comes before a key's value: "{" or ", ", the quoted name and ": ",
// made at compile time so that matching it is a comparison of known length.
template <Key key, bool first>
constexpr auto keyPrefix() {
  constexpr std::string_view open = first ? "{\"" : ", \"";
  constexpr std::string_view name = decoded::keyName(key).json;
  constexpr std::string_view close = "\": ";
  std::array<char, open.size() + name.size() + close.size()> text{};
  std::size_t at = 0;
  for (char c : open) text[at++] = c;
  for (char c : name) text[at++] = c;
  for (char c : close) text[at++] = c;
  return text;
}

template <Key key, bool first>
inline constexpr auto kKeyPrefix = keyPrefix<key, first>();

// Key I of the token record, in the order the decoder writes them
// (common/decoded_record.h). Only the label, the first, may be missing: the
// key after it then opens the record.
template <std::size_t I>
bool readLayoutKey(Layout& l, ParsedRecord& out, Values& v, unsigned& seen) {
  constexpr Key key = decoded::kTokenKeys[I];
  static_assert(I == 0 ? key == Key::kLabel : key != Key::kLabel, "only the label is optional");
  const auto matches = [&]<bool first>() {
    constexpr auto& prefix = kKeyPrefix<key, first>;
    return l.literal(std::string_view(prefix.data(), prefix.size()));
  };
  bool found;
  if constexpr (I == 0)
    found = matches.template operator()<true>();
  else if constexpr (I == 1)
    found = (seen & bit(Key::kLabel)) != 0 ? matches.template operator()<false>()
                                           : matches.template operator()<true>();
  else
    found = matches.template operator()<false>();
  if (!found) return I == 0;  // a bare token's record has no label
  v.at[index(key)] = l.at;
  if (!readLayoutValue(l, key, out, v)) return false;
  seen |= bit(key);
  return true;
}

template <std::size_t... I>
bool readLayoutKeys(Layout& l, ParsedRecord& out, Values& v, unsigned& seen,
                    std::index_sequence<I...>) {
  return (readLayoutKey<I>(l, out, v, seen) && ...);
}

bool readDecoderLayout(Layout& l, ParsedRecord& out, Values& v, unsigned& seen) {
  return readLayoutKeys(l, out, v, seen, std::make_index_sequence<decoded::kTokenKeys.size()>());
}

bool parseGenerally(std::string_view line, ParsedRecord& out, std::string& scratch,
                    RecordError& error) {
  out = ParsedRecord{};
  scratch.clear();
  if (scratch.capacity() < line.size()) scratch.reserve(line.size());
  Reader r{line, 0, scratch, error};
  Values values;
  skipSpace(r);
  if (!expect(r, '{', "'{': a record is one JSON object")) return false;
  return readMembers(r, out, values, 0, false);
}

}  // namespace

namespace internal {

bool parseRecordGenerally(std::string_view line, ParsedRecord& out, std::string& scratch,
                          RecordError& error) {
  return parseGenerally(line, out, scratch, error);
}

bool matchesDecoderLayout(std::string_view line) {
  ParsedRecord out;
  Layout layout{line, 0};
  Values values;
  unsigned seen = 0;
  return readDecoderLayout(layout, out, values, seen);
}

}  // namespace internal

bool parseRecord(std::string_view line, ParsedRecord& out, std::string& scratch,
                 RecordError& error) {
  out = ParsedRecord{};
  scratch.clear();
  if (scratch.capacity() < line.size()) scratch.reserve(line.size());
  Layout layout{line, 0};
  Values values;
  unsigned seen = 0;
  if (!readDecoderLayout(layout, out, values, seen))
    return parseGenerally(line, out, scratch, error);
  Reader r{line, layout.at, scratch, error};
  return readMembers(r, out, values, seen, true);
}

}  // namespace fleet
