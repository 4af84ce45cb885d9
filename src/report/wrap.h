#pragma once
// Text laid out for a terminal, after escaping. A line is measured in the
// columns a terminal gives it: a wide East Asian character or emoji takes
// two, a combining mark none, any other character one, and an escape such
// as \x1b or \u200b as many as it is written with. A line is never cut
// inside a character or an escape, so a wrapped report is as valid UTF-8
// and as faithful as the unwrapped one.

#include <cstddef>
#include <string>
#include <string_view>

namespace report {

// The widest line a text report writes.
inline constexpr std::size_t kReportWidth = 78;

// The columns text, already escaped for a terminal, takes.
std::size_t textColumns(std::string_view text);

// Both forms below break a line at the last space that fits (the spaces at
// the break go), or, when none does, where the line is full; a character
// or escape wider than the whole line gets a line of its own.

// Appends text as lines of at most width columns, each ending in '\n': the
// first starts with label, the rest with as many spaces as label is wide
// plus more. Empty text adds nothing.
void appendWrapped(std::string& out, std::string_view label, std::string_view text,
                   std::size_t more = 0, std::size_t width = kReportWidth);

// Appends text as if it started at column (0 the first) of lines width
// columns wide, carrying it on at column; no '\n' after the last line.
void appendWrappedAt(std::string& out, std::string_view text, std::size_t column,
                     std::size_t width);

}  // namespace report
