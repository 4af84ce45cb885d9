#include "decode/record.h"

#include <cstdint>
#include <cstring>
#include <utility>

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
  beginField(w, decoded::keyName(Key::kWarnings), false);
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

// One key of a token record. The key is a template argument so that each
// name's length is known where it is copied: the loop over the keys costs
// nothing over writing them out by hand.
struct TokenRecordSource {
  const TokenLine& line;
  unsigned warnings;
  char* uuid = nullptr;  // the UUID's text, written once and copied into "machine"
};

template <Key key>
void putTokenField(RecordWriter& w, TokenRecordSource& s) {
  constexpr FieldName name = decoded::keyName(key);
  const TokenFields& f = s.line.fields;
  if constexpr (key == Key::kLabel) {
    if (!s.line.label.empty()) untrustedField(w, name, s.line.label);
  } else if constexpr (key == Key::kToken) {
    beginField(w, name, true);
    w.p = putTokenDigits(w.p, s.line.input);
    endField(w, true);
  } else if constexpr (key == Key::kVersion) {
    beginField(w, name, false);
    w.p = putDecimal(w.p, f.version);
    endField(w, false);
  } else if constexpr (key == Key::kTime) {
    // JSON carries the time twice, as a number for programs and as text;
    // the text shows it once, read as a date with the number after it.
    beginField(w, name, false);
    if (w.json) {
      w.p = putDecimal(w.p, f.time);
    } else {
      report::writeUtc(w.p, f.time);
      w.p += report::kUtcTextSize;
      w.p = put(w.p, " (");
      w.p = putDecimal(w.p, f.time);
      *w.p++ = ')';
    }
    endField(w, false);
  } else if constexpr (key == Key::kTimeUtc) {
    if (!w.json) return;
    beginField(w, name, true);
    report::writeUtc(w.p, f.time);
    w.p += report::kUtcTextSize;
    endField(w, true);
  } else if constexpr (key == Key::kUuid) {
    beginField(w, name, true);
    s.uuid = w.p;
    w.p = putUuidText(w.p, f.uuid);
    endField(w, true);
  } else if constexpr (key == Key::kLegacy) {
    beginField(w, name, true);
    w.p = putLegacyText(w.p, f);
    endField(w, true);
  } else if constexpr (key == Key::kMachine) {
    beginField(w, name, true);
    w.p = put(w.p, std::string_view(s.uuid, kUuidTextSize));
    *w.p++ = '/';
    w.p = putLegacyText(w.p, f);
    endField(w, true);
  } else if constexpr (key == Key::kWarnings) {
    warningsField(w, s.warnings);
  } else {
    static_assert(key == Key::kLabel, "not a token record's key");
  }
}

// The keys in the record's order (common/decoded_record.h), the one list
// orlim-fleet reads them back by.
template <std::size_t... I>
void putTokenFields(RecordWriter& w, TokenRecordSource& s, std::index_sequence<I...>) {
  (putTokenField<decoded::kTokenKeys[I]>(w, s), ...);
}

}  // namespace

char* putTokenRecord(char* p, bool json, bool first, const InputOrigin& origin,
                     const TokenLine& line, unsigned warnings) {
  if (!json && !first) *p++ = '\n';
  RecordWriter w{p, json};
  TokenRecordSource source{line, warnings};
  putTokenFields(w, source, std::make_index_sequence<decoded::kTokenKeys.size()>());
  originField(w, origin);
  return endRecord(w);
}

char* putErrorRecord(char* p, const InputOrigin& origin, std::string_view label,
                     std::string_view input, const Failure& failure) {
  RecordWriter w{p, true};
  for (const Key key : decoded::kErrorKeys) {
    const FieldName& name = decoded::keyName(key);
    switch (key) {
      case Key::kLabel:
        if (!label.empty()) untrustedField(w, name, label);
        break;
      case Key::kKind:
        beginField(w, name, true);
        w.p = put(w.p, decoded::errorKindName(failure.kind));
        endField(w, true);
        break;
      case Key::kInput:
        untrustedField(w, name, input);
        break;
      case Key::kError:
        beginField(w, name, true);
        w.p = report::putJsonEscaped(w.p, failure.message);
        if (!failure.reason.empty()) {
          w.p = put(w.p, ": ");
          w.p = report::putJsonEscaped(w.p, failure.reason.substr(0, kMaxInputBytes));
        }
        endField(w, true);
        break;
      default:
        break;  // not an error record's
    }
  }
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
