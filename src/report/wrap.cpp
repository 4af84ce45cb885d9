#include "report/wrap.h"

#include <array>
#include <cstdint>

#include "report/escape.h"

namespace report {
namespace {

struct Range {
  std::uint32_t first;
  std::uint32_t last;
};

// Code points a terminal shows two columns wide: the East Asian wide and
// full-width blocks and the emoji most fonts draw wide.
constexpr std::array<Range, 12> kWide = {{
    {0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},
    {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},
    {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},   {0x1F300, 0x1FAFF}, {0x20000, 0x3FFFD},
}};

// Combining marks, drawn over the character before them.
constexpr std::array<Range, 4> kCombining = {{
    {0x0300, 0x036F}, {0x1AB0, 0x1AFF}, {0x20D0, 0x20FF}, {0xFE20, 0xFE2F},
}};

template <std::size_t N>
bool within(const std::array<Range, N>& ranges, std::uint32_t c) {
  for (const Range& r : ranges)
    if (c >= r.first && c <= r.last) return true;
  return false;
}

bool isHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// One character or escape: its bytes and the columns it takes.
struct Unit {
  std::size_t length;
  std::size_t columns;
};

// The unit that starts at text[at]. An escape is a backslash and what
// follows it (\xNN, \uNNNN, \UNNNNNNNN, \u{...}, \\); a byte that is no
// valid UTF-8 stands alone, one column (escaped text has none).
Unit unitAt(std::string_view text, std::size_t at) {
  const std::size_t left = text.size() - at;
  if (text[at] == '\\' && left >= 2) {
    const auto hexRun = [&](std::size_t from, std::size_t most) {
      std::size_t n = 0;
      while (n < most && from + n < text.size() && isHex(text[from + n])) ++n;
      return n;
    };
    const char kind = text[at + 1];
    std::size_t n = 0;
    if (kind == 'x') {
      n = 2 + hexRun(at + 2, 2);
    } else if (kind == 'u' && left >= 3 && text[at + 2] == '{') {
      const std::size_t digits = hexRun(at + 3, 8);
      const bool closed = at + 3 + digits < text.size() && text[at + 3 + digits] == '}';
      n = 3 + digits + (closed ? 1 : 0);
    } else if (kind == 'u') {
      n = 2 + hexRun(at + 2, 4);
    } else if (kind == 'U') {
      n = 2 + hexRun(at + 2, 8);
    } else {
      const std::size_t next = utf8SequenceLength(text, at + 1);
      n = 1 + (next == 0 ? 1 : next);
    }
    return {n, n};
  }
  const std::size_t n = utf8SequenceLength(text, at);
  if (n <= 1) return {1, 1};
  std::uint32_t c = static_cast<unsigned char>(text[at]) & (0x7F >> n);
  for (std::size_t i = 1; i < n; ++i) c = (c << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
  if (within(kCombining, c)) return {n, 0};
  return {n, within(kWide, c) ? 2u : 1u};
}

// Where the line that starts at text[at] ends (end, spaces at a break
// already dropped) and where the next one starts (next).
struct LineBreak {
  std::size_t end;
  std::size_t next;
};

LineBreak breakLine(std::string_view text, std::size_t at, std::size_t room) {
  std::size_t end = at;
  std::size_t columns = 0;
  std::size_t lastSpace = std::string_view::npos;
  while (end < text.size()) {
    const Unit u = unitAt(text, end);
    if (columns + u.columns > room && end > at) break;
    if (text[end] == ' ') lastSpace = end;
    columns += u.columns;
    end += u.length;
  }
  if (end == text.size()) return {end, end};
  // A space just past a full line is where it breaks; else the last one
  // inside it, if any; else the line is cut where it is full.
  std::size_t cut = end;
  if (text[end] != ' ' && lastSpace != std::string_view::npos && lastSpace > at) cut = lastSpace;
  std::size_t next = cut;
  while (next < text.size() && text[next] == ' ') ++next;
  while (cut > at && text[cut - 1] == ' ') --cut;
  return {cut, next};
}

}  // namespace

std::size_t textColumns(std::string_view text) {
  std::size_t columns = 0;
  for (std::size_t at = 0; at < text.size();) {
    const Unit u = unitAt(text, at);
    columns += u.columns;
    at += u.length;
  }
  return columns;
}

void appendWrapped(std::string& out, std::string_view label, std::string_view text,
                   std::size_t more, std::size_t width) {
  std::size_t at = 0;
  while (at < text.size() && text[at] == ' ') ++at;
  std::size_t indent = textColumns(label);
  bool first = true;
  while (at < text.size()) {
    // Room for at least one character, however deep the indent.
    const std::size_t room = width > indent ? width - indent : 1;
    const LineBreak line = breakLine(text, at, room);
    if (first)
      out += label;
    else
      out.append(indent, ' ');
    out.append(text.substr(at, line.end - at));
    out += '\n';
    if (first) {
      indent += more;
      first = false;
    }
    at = line.next;
  }
}

void appendWrappedAt(std::string& out, std::string_view text, std::size_t column,
                     std::size_t width) {
  const std::size_t room = width > column ? width - column : 1;
  std::size_t at = 0;
  for (;;) {
    const LineBreak line = breakLine(text, at, room);
    out.append(text.substr(at, line.end - at));
    if (line.next >= text.size()) return;
    out += '\n';
    out.append(column, ' ');
    at = line.next;
  }
}

}  // namespace report
