#pragma once
// Word wrapping for the text reports, after escaping: a line is measured in
// characters as a terminal shows them (a UTF-8 sequence is one, an escape
// such as \x1b is as wide as it is written), and is never cut inside a
// character or an escape, so a wrapped report is as valid UTF-8 and as
// faithful as the unwrapped one.

#include <cstddef>
#include <string>
#include <string_view>

namespace report {

// The widest line a text report writes.
inline constexpr std::size_t kReportWidth = 78;

// Appends text, already escaped for a terminal, as lines of at most width
// columns, each ending in '\n': the first starts with label, the rest with
// as many spaces as label is wide plus more. Breaks at spaces; a word
// longer than a line is cut between characters. Empty text adds nothing.
void appendWrapped(std::string& out, std::string_view label, std::string_view text,
                   std::size_t more = 0, std::size_t width = kReportWidth);

// The columns text takes on a terminal, counted as appendWrapped counts.
std::size_t displayWidth(std::string_view text);

}  // namespace report
