#include "decode/record.h"

#include <cstdint>
#include <cstring>

#include "common/decoded_record.h"
#include "decode/warnings.h"
#include "token/token_text.h"

namespace {

char* put(char* p, std::string_view text) {
  std::memcpy(p, text.data(), text.size());
  return p + text.size();
}

char* putDecimal(char* p, std::uint64_t value) {
  char digits[20];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n != 0) *p++ = digits[--n];
  return p;
}

// The token's 58 hex digits as given, in upper case: letters are the only
// digits with bit 0x40 set, and clearing their 0x20 bit makes them upper
// case. Eight at a time, the last eight overlapping.
char* putTokenDigits(char* p, std::string_view digits) {
  constexpr std::uint64_t kLetterBits = 0x4040404040404040ULL;
  const auto eight = [&](std::size_t at) {
    std::uint64_t x;
    std::memcpy(&x, digits.data() + at, 8);
    x &= ~((x & kLetterBits) >> 1);
    std::memcpy(p + at, &x, 8);
  };
  for (std::size_t at = 0; at + 8 <= kTokenDigits; at += 8) eight(at);
  eight(kTokenDigits - 8);
  return p + kTokenDigits;
}

using decoded::Key;
using FieldName = decoded::KeyName;

constexpr const FieldName& kLabel = decoded::keyName(Key::kLabel);
constexpr const FieldName& kToken = decoded::keyName(Key::kToken);
constexpr const FieldName& kVersion = decoded::keyName(Key::kVersion);
constexpr const FieldName& kTime = decoded::keyName(Key::kTime);
constexpr const FieldName& kTimeUtc = decoded::keyName(Key::kTimeUtc);
constexpr const FieldName& kUuid = decoded::keyName(Key::kUuid);
constexpr const FieldName& kLegacy = decoded::keyName(Key::kLegacy);
constexpr const FieldName& kMachine = decoded::keyName(Key::kMachine);
constexpr const FieldName& kWarnings = decoded::keyName(Key::kWarnings);
constexpr const FieldName& kKind = decoded::keyName(Key::kKind);
constexpr const FieldName& kInput = decoded::keyName(Key::kInput);
constexpr const FieldName& kError = decoded::keyName(Key::kError);

// Writes one record's fields in either form: JSON members of one object, or
// "name:" lines.
struct RecordWriter {
  char* p;
  bool json;
  bool started = false;
};

inline void beginField(RecordWriter& w, const FieldName& name, bool quoted) {
  if (w.json) {
    w.p = put(w.p, w.started ? ", \"" : "{\"");
    w.p = put(w.p, name.json);
    w.p = put(w.p, quoted ? "\": \"" : "\": ");
  } else {
    w.p = put(w.p, name.text);
  }
  w.started = true;
}

inline void endField(RecordWriter& w, bool quoted) {
  if (!w.json)
    *w.p++ = '\n';
  else if (quoted)
    *w.p++ = '"';
}

// Bytes from the input: escaped for the form they appear in.
inline void untrustedField(RecordWriter& w, const FieldName& name, std::string_view bytes) {
  beginField(w, name, true);
  w.p = w.json ? report::putJsonEscaped(w.p, bytes) : report::putTextEscaped(w.p, bytes);
  endField(w, true);
}

// JSON only: the text record shows what the input held, and messages name
// the origin themselves.
void originField(RecordWriter& w, const InputOrigin& origin) {
  if (!w.json) return;
  beginField(w, FieldName{origin.kind, ""}, false);
  w.p = putDecimal(w.p, origin.number);
  endField(w, false);
}

char* endRecord(RecordWriter& w) {
  if (w.json) w.p = put(w.p, "}\n");
  return w.p;
}

void warningsField(RecordWriter& w, unsigned warnings) {
  // JSON always has the list, so a consumer need not test for the key; the
  // text shows the line only when there is something to say.
  if (!w.json && warnings == 0) return;
  beginField(w, kWarnings, false);
  if (w.json) *w.p++ = '[';
  const auto names = warningNames();
  bool first = true;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if ((warnings & (1u << i)) == 0) continue;
    if (!first) w.p = put(w.p, ", ");
    first = false;
    if (w.json) *w.p++ = '"';
    w.p = put(w.p, names[i]);
    if (w.json) *w.p++ = '"';
  }
  if (w.json) *w.p++ = ']';
  endField(w, false);
}

}  // namespace

char* putTokenRecord(char* p, bool json, bool first, const InputOrigin& origin,
                     const TokenLine& line, unsigned warnings) {
  const TokenFields& f = line.fields;
  if (!json && !first) *p++ = '\n';
  RecordWriter w{p, json};
  if (!line.label.empty()) untrustedField(w, kLabel, line.label);
  beginField(w, kToken, true);
  w.p = putTokenDigits(w.p, line.input);
  endField(w, true);
  beginField(w, kVersion, false);
  w.p = putDecimal(w.p, f.version);
  endField(w, false);
  // JSON carries the time twice, as a number for programs and as text; the
  // text shows it once, read as a date with the number after it.
  if (json) {
    beginField(w, kTime, false);
    w.p = putDecimal(w.p, f.time);
    endField(w, false);
    beginField(w, kTimeUtc, true);
    report::writeUtc(w.p, f.time);
    w.p += report::kUtcTextSize;
    endField(w, true);
  } else {
    beginField(w, kTime, false);
    report::writeUtc(w.p, f.time);
    w.p += report::kUtcTextSize;
    w.p = put(w.p, " (");
    w.p = putDecimal(w.p, f.time);
    *w.p++ = ')';
    endField(w, false);
  }
  beginField(w, kUuid, true);
  char* const uuid = w.p;
  w.p = putUuidText(w.p, f.uuid);
  endField(w, true);
  beginField(w, kLegacy, true);
  w.p = putLegacyText(w.p, f);
  endField(w, true);
  beginField(w, kMachine, true);
  w.p = put(w.p, std::string_view(uuid, kUuidTextSize));
  *w.p++ = '/';
  w.p = putLegacyText(w.p, f);
  endField(w, true);
  warningsField(w, warnings);
  originField(w, origin);
  return endRecord(w);
}

char* putErrorRecord(char* p, const InputOrigin& origin, std::string_view label,
                     std::string_view input, const Failure& failure) {
  RecordWriter w{p, true};
  if (!label.empty()) untrustedField(w, kLabel, label);
  beginField(w, kKind, true);
  w.p = put(w.p, decoded::errorKindName(failure.kind));
  endField(w, true);
  untrustedField(w, kInput, input);
  beginField(w, kError, true);
  w.p = report::putJsonEscaped(w.p, failure.message);
  if (!failure.reason.empty()) {
    w.p = put(w.p, ": ");
    w.p = report::putJsonEscaped(w.p, failure.reason.substr(0, kMaxInputBytes));
  }
  endField(w, true);
  originField(w, origin);
  return endRecord(w);
}

char* putFailureMessage(char* p, const InputOrigin& origin, std::string_view label,
                        const Failure& failure) {
  p = put(p, "orlim-decode: ");
  p = put(p, origin.kind);
  *p++ = ' ';
  p = putDecimal(p, origin.number);
  if (!label.empty()) {
    p = put(p, " (");
    p = report::putTextEscaped(p, label.substr(0, kMaxInputBytes));
    *p++ = ')';
  }
  p = put(p, ": ");
  p = put(p, failure.message);
  if (!failure.reason.empty()) {
    p = put(p, ": ");
    p = report::putTextEscaped(p, failure.reason.substr(0, kMaxInputBytes));
  }
  *p++ = '\n';
  return p;
}
