#pragma once
// One policy for showing bytes that came from outside (a host label, an
// interface name, a path, a refused input), shared by every tool, in JSON
// and in text for a terminal:
//  - valid UTF-8 other than control characters is kept as it is, so a name
//    "café" reads as written in both forms;
//  - control characters (C0, DEL and the C1 range U+0080..U+009F) and every
//    byte that is not part of valid UTF-8 are escaped, so no ESC sequence
//    reaches a terminal and every JSON record stays valid;
//  - invisible code points (isInvisible: zero-width characters, bidi
//    overrides and isolates, U+FEFF, line separators) are spelled out, so
//    that "db1" and "db1<U+200B>" never read alike.
// JSON: '"' and '\\' escaped, \n \t \r by name, other controls and
// invisible code points as \uXXXX (a surrogate pair past U+FFFF), an
// invalid byte as \ufffd. Text: a backslash doubled, controls and invalid
// bytes as \xNN (a C1 control as the two bytes of its encoding), invisible
// code points as \uXXXX or \UXXXXXXXX.

#include <cstddef>
#include <string>
#include <string_view>

namespace report {

// At most this many bytes out for one byte in.
inline constexpr std::size_t kJsonEscapeGrowth = 6;
inline constexpr std::size_t kTextEscapeGrowth = 4;

// Length of the valid UTF-8 sequence at text[at] (1 for ASCII), or 0 when it
// is not one: overlong forms, surrogates and values past U+10FFFF are not.
std::size_t utf8SequenceLength(std::string_view text, std::size_t at);

// Whether a code point shows nothing or moves what follows: Unicode's format
// characters (Cf), U+2028/2029 and the Hangul fillers.
bool isInvisible(char32_t code);

// Buffer forms for output paths that build records in place: p must have
// room for bytes.size() * growth; they return the end of what they wrote.
char* putJsonEscaped(char* p, std::string_view bytes);
char* putTextEscaped(char* p, std::string_view bytes);

// JSON string contents (without the quotes), and terminal-safe text.
void appendJsonEscaped(std::string& out, std::string_view bytes);
void appendTextEscaped(std::string& out, std::string_view bytes);
std::string escapeJson(std::string_view bytes);
std::string escapeText(std::string_view bytes);

// HTML text and attribute values (quoted with '"' or '\''): the text form,
// with & < > " ' then written as character references, so a label shows in a
// page as the terminal would show it and is never markup.
void appendHtmlEscaped(std::string& out, std::string_view bytes);

}  // namespace report
