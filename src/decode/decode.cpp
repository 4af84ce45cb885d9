#include "decode/decode.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <algorithm>
#include <cstdio>
#include <new>

#include "decode/decode_internal.h"

#include "common/wipe.h"

namespace {

using decodeinternal::kJsonEscapeGrowth;
using decodeinternal::kTextEscapeGrowth;

// Input is read, and output written, in blocks of this size: a million
// tokens then cost a few thousand system calls rather than a million.
constexpr std::size_t kReadBlock = 64 * 1024;
constexpr std::size_t kWriteBlock = 64 * 1024;
// The largest record: a JSON error record with a label and an input of a
// whole line each, every byte escaped, and the message.
constexpr std::size_t kMaxRecordBytes = 2 * kMaxLineBytes * kJsonEscapeGrowth + 512;

// Clock readings before this (2005-01-01T00:00:00Z) predate every token: a
// machine whose clock says so has lost it (a flat CMOS battery starts the
// clock in 1970 or 2000).
constexpr std::uint32_t kEarliestPlausibleTime = 1104537600;
constexpr std::int64_t kSecondsPerDay = 86400;

// UUIDs that firmware vendors ship in place of a per-machine one, so every
// machine of such a model gives the same. In record order, each in both byte
// orders: as read from SMBIOS 2.6 and later, and as a table older than 2.6
// gives the same stored bytes.
//  - 03000200-0400-0500-0006-000700080009: the default of a widespread BIOS
//    code base, seen in the tables of two unrelated products (a NAS and a
//    mini PC). The same template, with board-specific bytes filled in,
//    appears in a Gigabyte X399 table (032e02b4-0499-0533-a106-940700080009),
//    which is therefore unique and not listed. The other real tables we hold
//    carry per-machine UUIDs (Dell's service-tag form, a Supermicro board's
//    zeros followed by its MAC address, an HP serial number in ASCII) or an
//    all-FF UUID, which the reader refuses, so no token carries it.
constexpr std::array<std::array<std::uint8_t, kTokenUuidSize>, 2> kPlaceholderUuids = {{
    {0x03, 0x00, 0x02, 0x00, 0x04, 0x00, 0x05, 0x00, 0x00, 0x06, 0x00, 0x07, 0x00, 0x08, 0x00,
     0x09},
    {0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 0x05, 0x00, 0x06, 0x00, 0x07, 0x00, 0x08, 0x00,
     0x09},
}};

// Hex digit values, 0xFF for anything else.
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

constexpr char kUpperDigits[] = "0123456789ABCDEF";
constexpr char kLowerDigits[] = "0123456789abcdef";

constexpr std::array<bool, 256> kSpace = [] {
  std::array<bool, 256> table{};
  for (char c : {' ', '\t', '\n', '\r', '\v', '\f'}) table[static_cast<unsigned char>(c)] = true;
  return table;
}();

bool isSpace(char c) { return kSpace[static_cast<unsigned char>(c)]; }

// A message for one input, built without the heap: the failure path runs as
// often as the input is bad.
struct Message {
  std::array<char, 128> text{};
  std::size_t size = 0;
  std::string_view view() const { return {text.data(), size}; }
};

[[gnu::format(printf, 1, 2)]] Message makeMessage(const char* format, ...) {
  Message m;
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(m.text.data(), m.text.size(), format, args);
  va_end(args);
  m.size = n < 0 ? 0 : std::min(static_cast<std::size_t>(n), m.text.size() - 1);
  return m;
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

// Opens the token text at [begin, end) of line, which holds no white space
// at either end; positions in messages count from the start of the line.
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
    if (kHexValue[text[i]] == 0xFF) {
      out.status = DecodeStatus::kNotHex;
      out.badAt = begin + i + 1;
      return;
    }
  }
  out.status = DecodeStatus::kWrongLength;
  out.digits = size;
}

Message describe(DecodeStatus status, std::size_t badAt, std::size_t digits) {
  switch (status) {
    case DecodeStatus::kOk:
      return makeMessage("decoded");
    case DecodeStatus::kNotHex:
      return makeMessage("character %zu is not a hex digit", badAt);
    case DecodeStatus::kWrongLength:
      return makeMessage("not %zu hex digits (%zu)", kTokenDigits, digits);
    case DecodeStatus::kNotOurs:
      return makeMessage("not a token of this key, or corrupted");
  }
  return makeMessage("unknown failure");
}

// --- output -----------------------------------------------------------------

char* put(char* p, std::string_view text) {
  std::memcpy(p, text.data(), text.size());
  return p + text.size();
}

template <std::size_t N>
char* putLiteral(char* p, const char (&text)[N]) {
  std::memcpy(p, text, N - 1);
  return p + N - 1;
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

// The same text once more, from earlier in the record.
char* putCopy(char* p, const char* from, std::size_t n) {
  std::memcpy(p, from, n);
  return p + n;
}

char* putSealed(char* p, const std::array<std::uint8_t, kTokenRecordSize>& sealed) {
  for (std::uint8_t byte : sealed) {
    *p++ = kUpperDigits[byte >> 4];
    *p++ = kUpperDigits[byte & 0xF];
  }
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

// U+0080..U+009F, the C1 controls: C2 80 .. C2 9F.
bool isC1(std::string_view text, std::size_t at) {
  return static_cast<unsigned char>(text[at]) == 0xC2 &&
         static_cast<unsigned char>(text[at + 1]) < 0xA0;
}

char* putHexEscape(char* p, const char* prefix, unsigned value, std::size_t digits) {
  p = put(p, prefix);
  for (std::size_t i = digits; i-- != 0;) *p++ = kLowerDigits[(value >> (4 * i)) & 0xF];
  return p;
}

// Printable ASCII other than a quote and a backslash: shown as it is in both
// forms. Runs of it are copied whole.
constexpr std::array<bool, 256> kPlain = [] {
  std::array<bool, 256> table{};
  for (int c = 0x20; c < 0x7F; ++c) table[static_cast<std::size_t>(c)] = c != '"' && c != '\\';
  return table;
}();

std::size_t plainRun(std::string_view text, std::size_t at) {
  std::size_t end = at;
  while (end < text.size() && kPlain[static_cast<unsigned char>(text[end])]) ++end;
  return end - at;
}

char* putJsonEscaped(char* p, std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    if (const std::size_t run = plainRun(text, i); run != 0) {
      p = put(p, text.substr(i, run));
      i += run;
      continue;
    }
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      *p++ = '\\';
      *p++ = static_cast<char>(c);
      ++i;
      continue;
    }
    const std::size_t n = c < 0x80 ? 1 : utf8Length(text, i);
    if (n == 0) {
      p = putLiteral(p, "\\ufffd");
      ++i;
    } else if (n == 1) {
      switch (c) {
        case '\n': p = putLiteral(p, "\\n"); break;
        case '\t': p = putLiteral(p, "\\t"); break;
        case '\r': p = putLiteral(p, "\\r"); break;
        default: p = putHexEscape(p, "\\u", c, 4);
      }
      ++i;
    } else if (n == 2 && isC1(text, i)) {
      p = putHexEscape(p, "\\u", static_cast<unsigned char>(text[i + 1]), 4);
      i += 2;
    } else {
      p = put(p, text.substr(i, n));
      i += n;
    }
  }
  return p;
}

char* putTextEscaped(char* p, std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    if (const std::size_t run = plainRun(text, i); run != 0) {
      p = put(p, text.substr(i, run));
      i += run;
      continue;
    }
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      if (c == '\\') *p++ = '\\';
      *p++ = static_cast<char>(c);
      ++i;
      continue;
    }
    const std::size_t n = c < 0x80 ? 1 : utf8Length(text, i);
    if (n < 2 || isC1(text, i)) {
      // One byte at a time: a C1 control's second byte is shown as well.
      const std::size_t count = n == 2 ? 2 : 1;
      for (std::size_t k = 0; k < count; ++k)
        p = putHexEscape(p, "\\x", static_cast<unsigned char>(text[i + k]), 2);
      i += count;
    } else {
      p = put(p, text.substr(i, n));
      i += n;
    }
  }
  return p;
}

}  // namespace

// --- pieces -----------------------------------------------------------------

namespace decodeinternal {

void writeUtc(char* out, std::uint32_t seconds) {
  // Days to a civil date (proleptic Gregorian, March-based years).
  const std::uint32_t days = seconds / 86400;
  std::uint32_t rest = seconds % 86400;
  const std::uint32_t z = days + 719468;
  const std::uint32_t era = z / 146097;
  const std::uint32_t doe = z - era * 146097;
  const std::uint32_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::uint32_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::uint32_t mp = (5 * doy + 2) / 153;
  const std::uint32_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::uint32_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::uint32_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  const std::uint32_t hour = rest / 3600;
  rest %= 3600;
  const auto two = [&](std::size_t at, std::uint32_t v) {
    out[at] = static_cast<char>('0' + v / 10);
    out[at + 1] = static_cast<char>('0' + v % 10);
  };
  two(0, year / 100);
  two(2, year % 100);
  out[4] = '-';
  two(5, month);
  out[7] = '-';
  two(8, day);
  out[10] = 'T';
  two(11, hour);
  out[13] = ':';
  two(14, rest / 60);
  out[16] = ':';
  two(17, rest % 60);
  out[19] = 'Z';
}

std::string escapeJson(std::string_view bytes) {
  std::string out(bytes.size() * kJsonEscapeGrowth, '\0');
  out.resize(static_cast<std::size_t>(putJsonEscaped(out.data(), bytes) - out.data()));
  return out;
}

std::string escapeText(std::string_view bytes) {
  std::string out(bytes.size() * kTextEscapeGrowth, '\0');
  out.resize(static_cast<std::size_t>(putTextEscaped(out.data(), bytes) - out.data()));
  return out;
}

unsigned identityWarnings(const TokenFields& fields, std::int64_t now) {
  unsigned warnings = 0;
  for (const auto& placeholder : kPlaceholderUuids)
    if (fields.uuid == placeholder) warnings |= kWarnPlaceholderUuid;
  if (fields.time > now) warnings |= kWarnFutureTime;
  if (fields.time < kEarliestPlausibleTime) warnings |= kWarnTimeBefore2005;
  return warnings;
}

std::array<std::string_view, 3> warningNames() {
  return {"placeholder-uuid", "time-in-future", "time-before-2005"};
}

}  // namespace decodeinternal

DecodeResult decodeToken(std::string_view text) {
  DecodeResult result;
  CipherContextOwner cipher = makeTokenCipher();
  const std::size_t begin = skipSpace(text, 0);
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
    result.token.resize(kTokenDigits);
    putSealed(result.token.data(), line.sealed);
  }
  if (line.status != DecodeStatus::kOk) result.fields = TokenFields{};
  return result;
}

std::string describeFailure(const DecodeResult& result) {
  return std::string(describe(result.status, result.badAt, result.digits).view());
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
  openToken(cipher, line, skipSpace(line, split), end, out);
  return out;
}

// --- the stream ---------------------------------------------------------------

struct Decoder {
  DecodeOptions options;
  DecodeIo io;
  CipherContextOwner cipher;
  bool failed = false;
  bool firstRecord = true;
  int writeErrno = 0;
  std::size_t lineNumber = 0;
  std::size_t outUsed = 0;
  std::array<char, kWriteBlock + kMaxRecordBytes> out;
  // Messages for standard error wait in their own buffer and go out with
  // the records; when both streams are the same file (a terminal, 2>&1) they
  // go into the records' buffer instead, so that they read in order.
  bool messagesWithRecords = false;
  std::size_t errUsed = 0;
  std::array<char, kWriteBlock + kMaxRecordBytes> err;
  std::array<char, kReadBlock + kMaxLineBytes> in;
  // The start of a line too long to keep, for its error record.
  std::array<char, kMaxLineBytes> longStart;
};

void releaseDecoder(Decoder* decoder) { delete decoder; }

namespace {

void writeAll(int fd, const char* data, std::size_t size, int& error) {
  while (size != 0 && error == 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno != EINTR) error = errno;
      continue;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

void flushOutput(Decoder& d) {
  if (d.outUsed != 0) writeAll(d.io.out, d.out.data(), d.outUsed, d.writeErrno);
  d.outUsed = 0;
  int ignored = 0;
  if (d.errUsed != 0) writeAll(d.io.err, d.err.data(), d.errUsed, ignored);
  d.errUsed = 0;
}

// Room for one more record, flushing first when the block is full.
char* recordStart(Decoder& d) {
  if (d.outUsed >= kWriteBlock) flushOutput(d);
  return d.out.data() + d.outUsed;
}

void recordEnd(Decoder& d, char* end) { d.outUsed = static_cast<std::size_t>(end - d.out.data()); }

// Where an input came from, for messages: "line 7", "argument 2".
struct Origin {
  const char* kind;
  std::size_t number;
};

// The message for standard error, after the records before it.
void reportFailure(Decoder& d, const Origin& origin, std::string_view label,
                   std::string_view message) {
  d.failed = true;
  char* start;
  if (d.messagesWithRecords) {
    start = recordStart(d);
  } else {
    if (d.errUsed >= kWriteBlock) flushOutput(d);
    start = d.err.data() + d.errUsed;
  }
  char* p = start;
  p += std::snprintf(p, 64, "orlim-decode: %s %zu", origin.kind, origin.number);
  if (!label.empty()) {
    p = putLiteral(p, " (");
    p = putTextEscaped(p, label.substr(0, kMaxLineBytes));
    *p++ = ')';
  }
  p = putLiteral(p, ": ");
  p = put(p, message);
  *p++ = '\n';
  if (d.messagesWithRecords)
    recordEnd(d, p);
  else
    d.errUsed = static_cast<std::size_t>(p - d.err.data());
}

// One record for an input that gave no token: its JSON error record in
// place (text output shows the message only), and the message.
void failRecord(Decoder& d, const Origin& origin, std::string_view label, std::string_view input,
                std::string_view message) {
  if (d.options.json) {
    char* p = recordStart(d);
    *p++ = '{';
    if (!label.empty()) {
      p = putLiteral(p, "\"label\": \"");
      p = putJsonEscaped(p, label);
      p = putLiteral(p, "\", ");
    }
    p = putLiteral(p, "\"input\": \"");
    p = putJsonEscaped(p, input);
    p = putLiteral(p, "\", \"error\": \"");
    p = putJsonEscaped(p, message);
    p = putLiteral(p, "\"}\n");
    recordEnd(d, p);
  }
  reportFailure(d, origin, label, message);
}

char* putWarnings(char* p, unsigned warnings, const char* separator, bool quoted) {
  const auto names = decodeinternal::warningNames();
  bool first = true;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if ((warnings & (1u << i)) == 0) continue;
    if (!first) p = put(p, separator);
    first = false;
    if (quoted) *p++ = '"';
    p = put(p, names[i]);
    if (quoted) *p++ = '"';
  }
  return p;
}

void okRecord(Decoder& d, const TokenLine& line) {
  const TokenFields& f = line.fields;
  const unsigned warnings = decodeinternal::identityWarnings(f, d.options.now);
  char* p = recordStart(d);
  if (d.options.json) {
    *p++ = '{';
    if (!line.label.empty()) {
      p = putLiteral(p, "\"label\": \"");
      p = putJsonEscaped(p, line.label);
      p = putLiteral(p, "\", ");
    }
    p = putLiteral(p, "\"token\": \"");
    p = putTokenDigits(p, line.input);
    p = putLiteral(p, "\", \"version\": ");
    p = putDecimal(p, f.version);
    p = putLiteral(p, ", \"time\": ");
    p = putDecimal(p, f.time);
    p = putLiteral(p, ", \"time_utc\": \"");
    decodeinternal::writeUtc(p, f.time);
    p += decodeinternal::kUtcTextSize;
    p = putLiteral(p, "\", \"uuid\": \"");
    char* const uuid = p;
    p = putUuidText(p, f.uuid);
    p = putLiteral(p, "\", \"legacy\": \"");
    p = putLegacyText(p, f);
    p = putLiteral(p, "\", \"machine\": \"");
    p = putCopy(p, uuid, kUuidTextSize);
    *p++ = '/';
    p = putLegacyText(p, f);
    p = putLiteral(p, "\", \"warnings\": [");
    p = putWarnings(p, warnings, ", ", true);
    p = putLiteral(p, "]}\n");
  } else {
    if (!d.firstRecord) *p++ = '\n';
    if (!line.label.empty()) {
      p = putLiteral(p, "label:   ");
      p = putTextEscaped(p, line.label);
      *p++ = '\n';
    }
    p = putLiteral(p, "token:   ");
    p = putTokenDigits(p, line.input);
    p = putLiteral(p, "\nversion: ");
    p = putDecimal(p, f.version);
    p = putLiteral(p, "\ntime:    ");
    decodeinternal::writeUtc(p, f.time);
    p += decodeinternal::kUtcTextSize;
    p = putLiteral(p, " (");
    p = putDecimal(p, f.time);
    p = putLiteral(p, ")\nuuid:    ");
    char* const uuid = p;
    p = putUuidText(p, f.uuid);
    p = putLiteral(p, "\nlegacy:  ");
    p = putLegacyText(p, f);
    p = putLiteral(p, "\nmachine: ");
    p = putCopy(p, uuid, kUuidTextSize);
    *p++ = '/';
    p = putLegacyText(p, f);
    *p++ = '\n';
    if (warnings != 0) {
      p = putLiteral(p, "warning: ");
      p = putWarnings(p, warnings, ", ", false);
      *p++ = '\n';
    }
  }
  d.firstRecord = false;
  recordEnd(d, p);
}

// A token older than --max-age allows is refused: a licence server does not
// take stale tokens. Ages are whole days counted down.
bool tooOld(const Decoder& d, const TokenFields& f) {
  if (d.options.maxAgeDays < 0) return false;
  return d.options.now - static_cast<std::int64_t>(f.time) > d.options.maxAgeDays * kSecondsPerDay;
}

void decodeOneLine(Decoder& d, std::string_view text, const Origin& origin) {
  TokenLine line = parseTokenLine(*d.cipher, text);
  if (line.status != DecodeStatus::kOk) {
    failRecord(d, origin, line.label, line.input,
               describe(line.status, line.badAt, line.digits).view());
    return;
  }
  if (tooOld(d, line.fields)) {
    std::array<char, decodeinternal::kUtcTextSize> when;
    decodeinternal::writeUtc(when.data(), line.fields.time);
    failRecord(d, origin, line.label, line.input,
               makeMessage("older than %lld days (made %.20s)",
                           static_cast<long long>(d.options.maxAgeDays), when.data())
                   .view());
    return;
  }
  okRecord(d, line);
}

Message longLineMessage() { return makeMessage("longer than %zu bytes", kMaxLineBytes); }

bool isBlank(std::string_view line) {
  for (char c : line)
    if (!isSpace(c)) return false;
  return true;
}

// longer: the line went on past what line holds.
void decodeInputLine(Decoder& d, std::string_view line, bool longer = false) {
  ++d.lineNumber;
  const Origin origin{"line", d.lineNumber};
  if (longer || line.size() > kMaxLineBytes) {
    failRecord(d, origin, {}, line.substr(0, kMaxLineBytes), longLineMessage().view());
    return;
  }
  if (isBlank(line)) return;
  decodeOneLine(d, line, origin);
}

}  // namespace

DecoderOwner makeDecoder(const DecodeOptions& options, const DecodeIo& io) {
  DecoderOwner decoder(new (std::nothrow) Decoder);
  if (decoder == nullptr) return nullptr;
  decoder->options = options;
  decoder->io = io;
  struct stat out {};
  struct stat err {};
  decoder->messagesWithRecords = fstat(io.out, &out) == 0 && fstat(io.err, &err) == 0 &&
                                 out.st_dev == err.st_dev && out.st_ino == err.st_ino;
  decoder->cipher = makeTokenCipher();
  if (decoder->cipher == nullptr) return nullptr;
  return decoder;
}

void decodeArgument(Decoder& d, std::string_view argument, int position) {
  const Origin origin{"argument", static_cast<std::size_t>(position)};
  if (argument.size() > kMaxLineBytes) {
    failRecord(d, origin, {}, argument.substr(0, kMaxLineBytes), longLineMessage().view());
    return;
  }
  decodeOneLine(d, argument, origin);
}

void decodeStream(Decoder& d) {
  char* const buffer = d.in.data();
  std::size_t start = 0;  // the unread part of the buffer is [start, end)
  std::size_t end = 0;
  // Within a line longer than kMaxLineBytes: its start is kept in longStart
  // and the rest is passed over up to the next newline.
  bool skipping = false;
  for (;;) {
    while (start < end) {
      const auto* newline =
          static_cast<const char*>(std::memchr(buffer + start, '\n', end - start));
      if (newline == nullptr) break;
      const auto stop = static_cast<std::size_t>(newline - buffer);
      if (skipping) {
        skipping = false;
        decodeInputLine(d, std::string_view(d.longStart.data(), kMaxLineBytes), true);
      } else {
        decodeInputLine(d, std::string_view(buffer + start, stop - start));
      }
      start = stop + 1;
      if (d.writeErrno != 0) return;
    }
    // What is left is the start of a line: keep it at the front, unless it
    // is already too long to be one.
    const std::size_t partial = end - start;
    if (skipping) {
      start = end = 0;
    } else if (partial > kMaxLineBytes) {
      std::memcpy(d.longStart.data(), buffer + start, kMaxLineBytes);
      skipping = true;
      start = end = 0;
    } else {
      std::memmove(buffer, buffer + start, partial);
      start = 0;
      end = partial;
    }
    // Output waits for no more input than it answers: an interactive user
    // sees each record before typing the next line.
    flushOutput(d);
    if (d.writeErrno != 0) return;
    ssize_t n;
    do {
      n = d.io.read(d.io.in, buffer + end, d.in.size() - end);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
      // A failure is never taken for the end of the input: the lines before
      // it have their records, a partly read line gets none.
      const int error = errno;
      d.failed = true;
      flushOutput(d);
      const std::string text = std::string("orlim-decode: read error: ") + std::strerror(error) + "\n";
      int ignored = 0;
      writeAll(d.io.err, text.data(), text.size(), ignored);
      return;
    }
    if (n == 0) {
      // The last line need not end in a newline.
      if (skipping) {
        decodeInputLine(d, std::string_view(d.longStart.data(), kMaxLineBytes), true);
      } else if (end > start) {
        decodeInputLine(d, std::string_view(buffer + start, end - start));
      }
      return;
    }
    end += static_cast<std::size_t>(n);
  }
}

int finishDecoder(Decoder& d) {
  flushOutput(d);
  if (d.writeErrno != 0) {
    const std::string text =
        std::string("orlim-decode: write error: ") + std::strerror(d.writeErrno) + "\n";
    int ignored = 0;
    writeAll(d.io.err, text.data(), text.size(), ignored);
    return 1;
  }
  return d.failed ? 1 : 0;
}
