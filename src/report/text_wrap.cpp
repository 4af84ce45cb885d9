#include "report/text_wrap.h"

#include <array>
#include <cstdint>

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

// The code point at text[at] and its length in bytes; a byte that starts
// no sequence counts as one column.
std::uint32_t decode(std::string_view text, std::size_t at, std::size_t& length) {
  const auto b = static_cast<unsigned char>(text[at]);
  length = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
  if (at + length > text.size()) length = 1;
  if (length == 1) return b;
  std::uint32_t c = b & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) c = (c << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
  return c;
}

std::size_t columnsOf(std::uint32_t c) {
  if (within(kCombining, c)) return 0;
  return within(kWide, c) ? 2 : 1;
}

}  // namespace

std::size_t textColumns(std::string_view text) {
  std::size_t columns = 0;
  for (std::size_t at = 0, length = 0; at < text.size(); at += length)
    columns += columnsOf(decode(text, at, length));
  return columns;
}

void appendWrapped(std::string& out, std::string_view text, std::size_t column, std::size_t width) {
  const std::size_t room = width > column ? width - column : 1;
  while (textColumns(text) > room) {
    // end: the bytes that fit in room columns.
    std::size_t end = 0;
    for (std::size_t used = 0, length = 0; end < text.size(); end += length) {
      const std::size_t c = columnsOf(decode(text, end, length));
      if (used + c > room) break;
      used += c;
    }
    if (end == 0) end = 1;  // a character wider than the room: on a line of its own
    std::size_t cut = text.rfind(' ', end - 1);
    std::size_t resume = cut + 1;
    if (cut == std::string_view::npos || cut == 0) cut = resume = end;
    out.append(text.substr(0, cut));
    out += '\n';
    out.append(column, ' ');
    text.remove_prefix(resume);
  }
  out.append(text);
}

}  // namespace report
