#pragma once
// Lines of a file or a pipe, read in large blocks, never held whole: the one
// set of rules for every tool that reads lists of lines from outside.
//  - a line ends at '\n'; a CR before it (a list saved on Windows) is not
//    part of the line;
//  - a UTF-8 byte-order mark at the start of a line (the input's first, or
//    a file appended to another, as an editor saved it) is not part of the
//    line: it never reaches a label;
//  - a line of white space only is passed over, but counted;
//  - a line longer than the limit (mark and CR not counted) is reported as
//    such, with its start, and the rest of it is passed over unkept;
//  - the last line need not end in '\n'.
// The caller owns the buffers, so a reader costs no allocation.

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <span>
#include <string_view>

#include "common/io.h"

inline constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// White space around and between fields, as the C locale's isspace.
inline constexpr std::array<bool, 256> kSpaceBytes = [] {
  std::array<bool, 256> table{};
  for (char c : {' ', '\t', '\n', '\r', '\v', '\f'}) table[static_cast<unsigned char>(c)] = true;
  return table;
}();

inline bool isSpace(char c) { return kSpaceBytes[static_cast<unsigned char>(c)]; }

inline bool isBlank(std::string_view line) {
  for (char c : line)
    if (!isSpace(c)) return false;
  return true;
}

// What a line may carry besides its limit: a mark before it, a CR after.
inline constexpr std::size_t kLineFraming = kUtf8Mark.size() + 1;

// The buffer a reader needs for blocks of block bytes and lines of up to
// maxLineBytes: a block after the start of a line carried over.
constexpr std::size_t lineBufferSize(std::size_t block, std::size_t maxLineBytes) {
  return block + maxLineBytes + kLineFraming;
}

struct LineReader {
  int fd = -1;
  ReadFunction read = ::read;
  std::size_t maxLineBytes = 0;
  std::span<char> buffer;     // lineBufferSize(block, maxLineBytes) bytes
  std::span<char> longStart;  // maxLineBytes bytes: the start of a line too long
  // The unread part of buffer is [start, end).
  std::size_t start = 0;
  std::size_t end = 0;
  std::size_t number = 0;  // of the last line given, counting from 1
  bool ended = false;      // the input's end was read
  bool skipping = false;   // within a line too long: its start is in longStart
};

enum class LineStatus {
  kLine,       // a line that is not blank
  kTooLong,    // a line past the limit: its first maxLineBytes bytes
  kNeedInput,  // no whole line buffered: call fillLines
  kEnd,        // the input has ended and every line was given
};

struct Line {
  std::string_view text;  // into the reader's buffers, until the next call
  std::size_t number = 0;
};

// The bytes not yet given as lines: what the input starts with, before the
// first line is taken.
inline std::string_view unreadBytes(const LineReader& r) {
  return {r.buffer.data() + r.start, r.end - r.start};
}

namespace line_reader_detail {

// A line's bytes without its framing.
inline std::string_view unframed(std::string_view raw) {
  if (raw.starts_with(kUtf8Mark)) raw.remove_prefix(kUtf8Mark.size());
  if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
  return raw;
}

// One line's bytes: kLine, kTooLong, or kNeedInput for a blank line (the
// caller goes on).
inline LineStatus give(LineReader& r, std::string_view raw, Line& out) {
  ++r.number;
  out.number = r.number;
  const std::string_view text = unframed(raw);
  if (text.size() > r.maxLineBytes) {
    out.text = text.substr(0, r.maxLineBytes);
    return LineStatus::kTooLong;
  }
  if (isBlank(text)) return LineStatus::kNeedInput;
  out.text = text;
  return LineStatus::kLine;
}

inline LineStatus giveLong(LineReader& r, Line& out) {
  r.skipping = false;
  out.number = ++r.number;
  out.text = std::string_view(r.longStart.data(), r.maxLineBytes);
  return LineStatus::kTooLong;
}

}  // namespace line_reader_detail

// The next line, from what is buffered.
inline LineStatus nextLine(LineReader& r, Line& out) {
  using namespace line_reader_detail;
  char* const buffer = r.buffer.data();
  while (r.start < r.end) {
    const auto* newline = static_cast<const char*>(std::memchr(buffer + r.start, '\n', r.end - r.start));
    if (newline == nullptr) break;
    const std::string_view raw(buffer + r.start, static_cast<std::size_t>(newline - buffer) - r.start);
    r.start += raw.size() + 1;
    if (r.skipping) return giveLong(r, out);
    const LineStatus status = give(r, raw, out);
    if (status != LineStatus::kNeedInput) return status;
  }
  if (!r.ended) return LineStatus::kNeedInput;
  if (r.skipping) return giveLong(r, out);
  if (r.start < r.end) {
    const std::string_view raw(buffer + r.start, r.end - r.start);
    r.start = r.end;
    const LineStatus status = give(r, raw, out);
    if (status != LineStatus::kNeedInput) return status;
  }
  return LineStatus::kEnd;
}

// Reads once more after the buffered start of a line: the count read (0 at
// the input's end), or -errno. A failure is never taken for the end: the
// lines before it were given, a partly read line is not.
inline ssize_t fillLines(LineReader& r) {
  char* const buffer = r.buffer.data();
  const std::size_t partial = r.end - r.start;
  if (r.skipping) {
    r.start = r.end = 0;
  } else if (partial > r.maxLineBytes + kLineFraming) {
    // Too long to be a line whatever follows: keep its start, pass over
    // the rest.
    std::string_view text(buffer + r.start, partial);
    if (text.starts_with(kUtf8Mark)) text.remove_prefix(kUtf8Mark.size());
    std::memcpy(r.longStart.data(), text.data(), r.maxLineBytes);
    r.skipping = true;
    r.start = r.end = 0;
  } else {
    std::memmove(buffer, buffer + r.start, partial);
    r.start = 0;
    r.end = partial;
  }
  const ssize_t n = readSome(r.fd, r.buffer.subspan(r.end), r.read);
  if (n == 0) r.ended = true;
  if (n > 0) r.end += static_cast<std::size_t>(n);
  return n;
}
