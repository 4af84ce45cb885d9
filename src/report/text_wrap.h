#pragma once
// Text laid out for a terminal of a given width: columns counted as a
// terminal counts them (a wide East Asian character or emoji takes two, a
// combining mark none), long text broken into lines that fit.

#include <cstddef>
#include <string>
#include <string_view>

namespace report {

// The columns escaped text (valid UTF-8) takes.
std::size_t textColumns(std::string_view text);

// Appends text as if it started at column (0 the first) of lines width
// columns wide, carrying it on at column: broken at the last space that
// fits (the space goes), or where the line is full when no space does, so
// that a line broken without a space is full to the width (but for a wide
// character that would not fit).
void appendWrapped(std::string& out, std::string_view text, std::size_t column, std::size_t width);

}  // namespace report
