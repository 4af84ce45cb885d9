#include "report/wrap.h"

#include "report/escape.h"

namespace report {
namespace {

// The bytes of the one character or escape that starts at text[at]: an
// escape is a backslash and what follows it (\xNN, \uNNNN, \u{...}, \\); a
// byte that is no valid UTF-8 stands alone (escaped text has none).
std::size_t unitLength(std::string_view text, std::size_t at) {
  const std::size_t left = text.size() - at;
  if (text[at] == '\\' && left >= 2) {
    const auto hexRun = [&](std::size_t from, std::size_t most) {
      std::size_t n = 0;
      while (n < most && from + n < text.size()) {
        const char c = text[from + n];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) break;
        ++n;
      }
      return n;
    };
    const char kind = text[at + 1];
    if (kind == 'x') return 2 + hexRun(at + 2, 2);
    if (kind == 'u' && left >= 3 && text[at + 2] == '{') {
      const std::size_t digits = hexRun(at + 3, 8);
      const bool closed = at + 3 + digits < text.size() && text[at + 3 + digits] == '}';
      return 3 + digits + (closed ? 1 : 0);
    }
    if (kind == 'u') return 2 + hexRun(at + 2, 4);
    if (kind == 'U') return 2 + hexRun(at + 2, 8);
    const std::size_t next = utf8SequenceLength(text, at + 1);
    return 1 + (next == 0 ? 1 : next);
  }
  const std::size_t n = utf8SequenceLength(text, at);
  return n == 0 ? 1 : n;
}

// Columns of one unit: an escape as written, a character one.
std::size_t unitWidth(std::string_view unit) { return unit[0] == '\\' ? unit.size() : 1; }

}  // namespace

std::size_t displayWidth(std::string_view text) {
  std::size_t columns = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t n = unitLength(text, at);
    columns += unitWidth(text.substr(at, n));
    at += n;
  }
  return columns;
}

void appendWrapped(std::string& out, std::string_view label, std::string_view text,
                   std::size_t more, std::size_t width) {
  std::size_t at = 0;
  while (at < text.size() && text[at] == ' ') ++at;
  std::size_t indent = displayWidth(label);
  bool first = true;
  while (at < text.size()) {
    // Room for at least one character, however deep the indent.
    const std::size_t room = width > indent ? width - indent : 1;
    // Walk units until the line is full, remembering the last space.
    std::size_t end = at;
    std::size_t columns = 0;
    std::size_t lastSpace = std::string_view::npos;
    while (end < text.size()) {
      const std::size_t n = unitLength(text, end);
      const std::size_t w = unitWidth(text.substr(end, n));
      if (columns + w > room && end > at) break;
      if (text[end] == ' ') lastSpace = end;
      columns += w;
      end += n;
    }
    std::size_t cut = end;
    std::size_t next = end;
    if (end < text.size()) {
      if (text[end] == ' ') {
        cut = end;  // the line ends just before a space: break there
      } else if (lastSpace != std::string_view::npos && lastSpace > at) {
        cut = lastSpace;
      }
      next = cut;
    }
    // No space at the end of a line.
    std::size_t trimmed = cut;
    while (trimmed > at && text[trimmed - 1] == ' ') --trimmed;
    if (first)
      out += label;
    else
      out.append(indent, ' ');
    out.append(text.substr(at, trimmed - at));
    out += '\n';
    if (first) {
      indent += more;
      first = false;
    }
    at = next;
    while (at < text.size() && text[at] == ' ') ++at;
  }
}

}  // namespace report
