#include "fleet/fleet_record.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <simdjson.h>

#include "common/hex.h"
#include "common/uuid.h"

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

// Nesting deeper than this (the record itself the first level) is not a
// decoder's.
constexpr std::size_t kMaxDepth = 17;
// Integers up to 2^53, exact in every JSON reader.
constexpr std::uint64_t kMaxInteger = 9007199254740992ULL;
using decoded::kTokenDigits;
using decoded::kUuidTextSize;

struct Reader {
  std::string& scratch;
  RecordError& error;
};

// Records what is wrong; always false, for `return fail(...)`. The library
// validates the whole line before any value is looked at and gives no byte
// positions, so every fault is reported at position 0.
[[gnu::format(printf, 2, 3)]] bool fail(Reader& r, const char* format, ...) {
  r.error.position = 0;
  va_list args;
  va_start(args, format);
  std::vsnprintf(r.error.message.data(), r.error.message.size(), format, args);
  va_end(args);
  return false;
}

// Why the line is not JSON at all, in a few words: simdjson's own messages
// run past the bound of a RecordError.
const char* jsonFault(simdjson::error_code code) {
  switch (code) {
    case simdjson::TAPE_ERROR: return "not one JSON value (a bracket, ',' or ':' out of place, or text after it)";
    case simdjson::DEPTH_ERROR: return "nested too deep";
    case simdjson::STRING_ERROR: return "a bad escape in a string";
    case simdjson::T_ATOM_ERROR:
    case simdjson::F_ATOM_ERROR:
    case simdjson::N_ATOM_ERROR: return "not a JSON value";
    case simdjson::NUMBER_ERROR: return "not a JSON number";
    case simdjson::UTF8_ERROR: return "not UTF-8";
    case simdjson::EMPTY: return "no JSON value";
    case simdjson::UNESCAPED_CHARS: return "a control character in a string";
    case simdjson::UNCLOSED_STRING: return "unterminated string";
    case simdjson::CAPACITY: return "too long";
    case simdjson::MEMALLOC: return "out of memory";
    default: return simdjson::error_message(code);
  }
}

unsigned keyOf(std::string_view name) {
  for (unsigned k = 0; k < kKeyCount; ++k)
    if (decoded::kKeyNames[k].json == name) return k;
  return kUnknown;
}

const char* keyText(unsigned key) { return decoded::kKeyNames[key].json.data(); }

// A string value as the library holds it (unescaped, in its own buffer,
// valid until the next line).
bool readString(Reader& r, simdjson::dom::element value, unsigned key, std::string_view& out) {
  if (value.get_string().get(out) != simdjson::SUCCESS)
    return fail(r, "\"%s\" is not a string", keyText(key));
  return true;
}

// A string the record keeps, copied into the scratch, whose capacity was
// made to hold the whole line (no string grows by unescaping), so earlier
// views stay valid.
std::string_view kept(Reader& r, std::string_view text) {
  const std::size_t start = r.scratch.size();
  r.scratch.append(text);
  return std::string_view(r.scratch).substr(start);
}

// A whole number without sign, fraction or exponent, up to 2^53.
bool readInteger(Reader& r, simdjson::dom::element value, unsigned key, std::uint64_t& number) {
  const simdjson::dom::element_type type = value.type();
  if ((type != simdjson::dom::element_type::INT64 && type != simdjson::dom::element_type::UINT64) ||
      value.get_uint64().get(number) != simdjson::SUCCESS)
    return fail(r, "\"%s\" is not a whole number", keyText(key));
  if (number > kMaxInteger) return fail(r, "\"%s\" is too large", keyText(key));
  return true;
}

bool readWarnings(Reader& r, simdjson::dom::element value, ParsedRecord& out) {
  simdjson::dom::array warnings;
  if (value.get_array().get(warnings) != simdjson::SUCCESS) return fail(r, "\"warnings\" is not an array");
  for (simdjson::dom::element item : warnings) {
    std::string_view warning;
    if (item.get_string().get(warning) != simdjson::SUCCESS) return fail(r, "a warning is not a string");
    if (out.warningCount == kMaxRecordWarnings) return fail(r, "too many warnings");
    if (warning.empty()) return fail(r, "an empty warning");
    out.warnings[out.warningCount++] = kept(r, warning);
  }
  return true;
}

// Every digit checked, without a branch per digit (the compiler makes the
// loop vector code): the token's 58 digits are most of a record's bytes.
bool isUpperHex(std::string_view text, std::size_t size) {
  if (text.size() != size) return false;
  bool all = true;
  for (char c : text) all &= isUpperHexDigit(c);
  return all;
}

// The values of one record, as read, before the record is checked whole.
struct Values {
  std::string_view uuidText;
  std::string_view legacyText;
  std::string_view machine;
};

bool readMember(Reader& r, unsigned key, simdjson::dom::element value, ParsedRecord& out, Values& v) {
  std::uint64_t number = 0;
  std::string_view text;
  switch (static_cast<Key>(key)) {
    case Key::kLabel:
      if (!readString(r, value, key, text)) return false;
      if (text.empty()) return fail(r, "an empty label");
      out.hasLabel = true;
      out.label = kept(r, text);
      return true;
    case Key::kToken:
      if (!readString(r, value, key, text)) return false;
      if (!isUpperHex(text, kTokenDigits)) return fail(r, "\"token\" is not 58 hex digits");
      return true;
    case Key::kVersion:
      if (!readInteger(r, value, key, number)) return false;
      if (number != static_cast<std::uint64_t>(kRecordVersion))
        return fail(r, "a version %llu record (this reads version %lld)",
                    static_cast<unsigned long long>(number), static_cast<long long>(kRecordVersion));
      return true;
    case Key::kTime:
      if (!readInteger(r, value, key, number)) return false;
      if (number > std::numeric_limits<std::uint32_t>::max())
        return fail(r, "\"time\" is out of a token's range");
      out.time = static_cast<std::uint32_t>(number);
      return true;
    case Key::kTimeUtc:
      return readString(r, value, key, text);
    case Key::kUuid:
      if (!readString(r, value, key, v.uuidText)) return false;
      if (!parseUuidText(v.uuidText, out.uuid)) return fail(r, "\"uuid\" is not a UUID (8-4-4-4-12 hex digits)");
      return true;
    case Key::kLegacy:
      if (!readString(r, value, key, v.legacyText)) return false;
      if (!isUpperHex(v.legacyText, kLegacyChars)) return fail(r, "\"legacy\" is not 8 hex digits");
      std::memcpy(out.legacy.data(), v.legacyText.data(), kLegacyChars);
      return true;
    case Key::kMachine:
      return readString(r, value, key, v.machine);
    case Key::kWarnings:
      return readWarnings(r, value, out);
    case Key::kInput:
      if (!readString(r, value, key, text)) return false;
      out.input = kept(r, text);
      return true;
    case Key::kError:
      if (!readString(r, value, key, text)) return false;
      out.error = kept(r, text);
      return true;
    case Key::kKind:
      if (!readString(r, value, key, text)) return false;
      for (std::size_t k = 0; k < decoded::kErrorKindCount; ++k) {
        if (decoded::kErrorKindNames[k] == text) {
          out.errorKind = static_cast<ErrorKind>(k);
          return true;
        }
      }
      return fail(r, "an unknown error kind");
    case Key::kLine:
    case Key::kArgument:
      return readInteger(r, value, key, number);
  }
  return true;
}

// The record whole: one kind's keys, all of them.
bool checkRecord(Reader& r, unsigned seen, ParsedRecord& out, const Values& v) {
  const unsigned tokenKeys = seen & kTokenKeys;
  const unsigned errorKeys = seen & kErrorOnlyKeys;
  if (tokenKeys != 0 && errorKeys != 0) return fail(r, "both a token's keys and an error's");
  if (tokenKeys == 0 && errorKeys == 0) return fail(r, "neither a token nor an error");
  const unsigned wanted = errorKeys != 0 ? kErrorKeys : kTokenKeys;
  for (unsigned k = 0; k < kKeyCount; ++k)
    if ((wanted & (1u << k)) != 0 && (seen & (1u << k)) == 0) return fail(r, "no \"%s\"", keyText(k));
  out.kind = errorKeys != 0 ? RecordKind::kError : RecordKind::kToken;
  if (out.kind == RecordKind::kToken) {
    const std::string_view m = v.machine;
    if (m.size() != kUuidTextSize + 1 + kLegacyChars || m.substr(0, kUuidTextSize) != v.uuidText ||
        m[kUuidTextSize] != '/' || m.substr(kUuidTextSize + 1) != v.legacyText)
      return fail(r, "\"machine\" is not \"uuid/legacy\"");
  }
  return true;
}

// The parser and the padded copy of the line it reads (simdjson loads
// whole SIMD blocks, so the bytes after a line must be ours to read),
// both kept from line to line, one pair per thread.
struct LineParser {
  simdjson::dom::parser parser;
  std::string padded;
  bool ready = false;
};

LineParser& lineParser() {
  thread_local LineParser p;
  if (!p.ready) {
    // Room for a decoder's line now; the parser grows for a longer one and
    // keeps the depth bound.
    if (p.parser.allocate(decoded::kMaxInputBytes * 2, kMaxDepth) != simdjson::SUCCESS) return p;
    p.ready = true;
  }
  return p;
}

}  // namespace

bool parseRecord(std::string_view line, ParsedRecord& out, std::string& scratch,
                 RecordError& error) {
  out = ParsedRecord{};
  scratch.clear();
  if (scratch.capacity() < line.size()) scratch.reserve(line.size());
  Reader r{scratch, error};
  LineParser& p = lineParser();
  if (!p.ready) return fail(r, "out of memory");
  p.padded.assign(line);
  p.padded.resize(line.size() + simdjson::SIMDJSON_PADDING, ' ');
  simdjson::dom::element root;
  const simdjson::error_code parsed =
      p.parser.parse(simdjson::padded_string_view(p.padded.data(), line.size(), p.padded.size())).get(root);
  if (parsed != simdjson::SUCCESS) return fail(r, "%s", jsonFault(parsed));
  simdjson::dom::object members;
  if (root.get_object().get(members) != simdjson::SUCCESS) return fail(r, "expected '{': a record is one JSON object");
  Values values;
  unsigned seen = 0;
  for (const simdjson::dom::key_value_pair member : members) {
    const unsigned key = keyOf(member.key);
    // Keys it does not know are passed over (a later decoder may add
    // some); the library has validated their values already.
    if (key == kUnknown) continue;
    if ((seen & (1u << key)) != 0) return fail(r, "\"%s\" given twice", keyText(key));
    seen |= 1u << key;
    if (!readMember(r, key, member.value, out, values)) return false;
  }
  return checkRecord(r, seen, out, values);
}

}  // namespace fleet
