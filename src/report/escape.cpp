#include "report/escape.h"

#include <array>
#include <cstring>

#include "common/hex.h"

namespace report {
namespace {

char* put(char* p, std::string_view text) {
  std::memcpy(p, text.data(), text.size());
  return p + text.size();
}

char* putHexEscape(char* p, std::string_view prefix, unsigned value, std::size_t digits) {
  p = put(p, prefix);
  for (std::size_t i = digits; i-- != 0;) *p++ = kLowerHexDigits[(value >> (4 * i)) & 0xF];
  return p;
}

// Printable ASCII other than a quote and a backslash: shown as it is in both
// forms. Runs of it are copied whole, which is nearly every byte of a label.
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

// U+0080..U+009F, the C1 controls: C2 80 .. C2 9F.
bool isC1(std::string_view text, std::size_t at) {
  return static_cast<unsigned char>(text[at]) == 0xC2 &&
         static_cast<unsigned char>(text[at + 1]) < 0xA0;
}

// Code points that show nothing, or move or reorder what follows, on a
// terminal: a label holding one reads as another label, or hides a part of
// the line. Unicode's format characters (category Cf: soft hyphen,
// zero-width spaces and joiners, the bidirectional embeddings, overrides
// and isolates, the byte-order mark, tags), the line and paragraph
// separators U+2028/2029, and the Hangul fillers, which are letters that
// show as blanks. Sorted ranges, first and last included.
struct CodeRange {
  char32_t first;
  char32_t last;
};
constexpr std::array<CodeRange, 24> kInvisible = {{
    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},
    {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x115F, 0x1160},
    {0x180E, 0x180E},   {0x200B, 0x200F},   {0x2028, 0x202E},   {0x2060, 0x2064},
    {0x2066, 0x206F},   {0x3164, 0x3164},   {0xFEFF, 0xFEFF},   {0xFFA0, 0xFFA0},
    {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F},
    {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001}, {0xE0020, 0xE007F},
}};

// The code point of the valid n-byte sequence (n >= 2) at text[at].
char32_t decodeUtf8(std::string_view text, std::size_t at, std::size_t n) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  char32_t code = byte(0) & (0x7Fu >> n);
  for (std::size_t i = 1; i < n; ++i) code = code << 6 | (byte(i) & 0x3Fu);
  return code;
}

}  // namespace

bool isInvisible(char32_t code) {
  if (code < 0x00AD) return false;  // the usual case: every ASCII and Latin-1 letter
  std::size_t lo = 0;
  std::size_t hi = kInvisible.size();
  while (lo < hi) {
    const std::size_t mid = (lo + hi) / 2;
    if (code > kInvisible[mid].last)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo < kInvisible.size() && code >= kInvisible[lo].first;
}

std::size_t utf8SequenceLength(std::string_view text, std::size_t at) {
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
    const std::size_t n = c < 0x80 ? 1 : utf8SequenceLength(text, i);
    if (n == 0) {
      p = put(p, "\\ufffd");
      ++i;
    } else if (n == 1) {
      switch (c) {
        case '\n':
          p = put(p, "\\n");
          break;
        case '\t':
          p = put(p, "\\t");
          break;
        case '\r':
          p = put(p, "\\r");
          break;
        default:
          p = putHexEscape(p, "\\u", c, 4);
      }
      ++i;
    } else if (n == 2 && isC1(text, i)) {
      p = putHexEscape(p, "\\u", static_cast<unsigned char>(text[i + 1]), 4);
      i += 2;
    } else if (const char32_t code = decodeUtf8(text, i, n); isInvisible(code)) {
      // Kept, but spelled out, so that whoever reads the JSON sees it.
      if (code < 0x10000) {
        p = putHexEscape(p, "\\u", code, 4);
      } else {
        p = putHexEscape(p, "\\u", 0xD800 + ((code - 0x10000) >> 10), 4);
        p = putHexEscape(p, "\\u", 0xDC00 + ((code - 0x10000) & 0x3FF), 4);
      }
      i += n;
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
    const std::size_t n = c < 0x80 ? 1 : utf8SequenceLength(text, i);
    if (n < 2 || isC1(text, i)) {
      // One byte at a time: a C1 control's second byte is shown as well.
      const std::size_t count = n == 2 ? 2 : 1;
      for (std::size_t k = 0; k < count; ++k)
        p = putHexEscape(p, "\\x", static_cast<unsigned char>(text[i + k]), 2);
      i += count;
    } else if (const char32_t code = decodeUtf8(text, i, n); isInvisible(code)) {
      p = code < 0x10000 ? putHexEscape(p, "\\u", code, 4) : putHexEscape(p, "\\U", code, 8);
      i += n;
    } else {
      p = put(p, text.substr(i, n));
      i += n;
    }
  }
  return p;
}

void appendJsonEscaped(std::string& out, std::string_view bytes) {
  const std::size_t start = out.size();
  out.resize(start + bytes.size() * kJsonEscapeGrowth);
  out.resize(static_cast<std::size_t>(putJsonEscaped(out.data() + start, bytes) - out.data()));
}

void appendTextEscaped(std::string& out, std::string_view bytes) {
  const std::size_t start = out.size();
  out.resize(start + bytes.size() * kTextEscapeGrowth);
  out.resize(static_cast<std::size_t>(putTextEscaped(out.data() + start, bytes) - out.data()));
}

void appendHtmlEscaped(std::string& out, std::string_view bytes) {
  const std::size_t start = out.size();
  appendTextEscaped(out, bytes);
  std::size_t specials = 0;
  for (std::size_t i = start; i < out.size(); ++i)
    specials += std::strchr("&<>\"'", out[i]) != nullptr && out[i] != '\0';
  if (specials == 0) return;
  // Rewritten from the back, in place: every special grows to at most six.
  std::size_t from = out.size();
  out.resize(out.size() + specials * 5);
  std::size_t to = out.size();
  while (from > start) {
    const char c = out[--from];
    std::string_view ref;
    switch (c) {
      case '&': ref = "&amp;"; break;
      case '<': ref = "&lt;"; break;
      case '>': ref = "&gt;"; break;
      case '"': ref = "&quot;"; break;
      case '\'': ref = "&#39;"; break;
      default: out[--to] = c; continue;
    }
    to -= ref.size();
    std::memcpy(out.data() + to, ref.data(), ref.size());
  }
  // The references shorter than six left room at the front: close it up.
  out.erase(start, to - start);
}

std::string escapeJson(std::string_view bytes) {
  std::string out;
  appendJsonEscaped(out, bytes);
  return out;
}

std::string escapeText(std::string_view bytes) {
  std::string out;
  appendTextEscaped(out, bytes);
  return out;
}

}  // namespace report
