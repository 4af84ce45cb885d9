#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "common/enum_names.h"
#include "report/escape.h"
#include "report/json_writer.h"
#include "report/utc_text.h"
#include "report/wrap.h"

namespace {

// Every tool shows outside bytes the same way: a label in orlim-decode and
// an interface name in orlim-inspect included.
TEST(Escape, OnePolicyForJsonAndText) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string json;
    std::string text;
  };
  const Case cases[] = {
      {"Plain", "host-01.example", "host-01.example", "host-01.example"},
      {"QuoteAndBackslash", "a\"b\\c", "a\\\"b\\\\c", "a\"b\\\\c"},
      {"C0AndDel", std::string("\x00\x07\n\t\r\x1b\x7f", 7),
       "\\u0000\\u0007\\n\\t\\r\\u001b\\u007f", "\\x00\\x07\\x0a\\x09\\x0d\\x1b\\x7f"},
      {"EscSequence", "eth\x1b[31mred\x07", "eth\\u001b[31mred\\u0007", "eth\\x1b[31mred\\x07"},
      {"Utf8", "caf\xc3\xa9 h\xc3\xa9t\xe2\x82\xac\xf0\x9f\x98\x80",
       "caf\xc3\xa9 h\xc3\xa9t\xe2\x82\xac\xf0\x9f\x98\x80",
       "caf\xc3\xa9 h\xc3\xa9t\xe2\x82\xac\xf0\x9f\x98\x80"},
      {"C1Control",
       "\xc2\x9b"
       "31m",
       "\\u009b31m", "\\xc2\\x9b31m"},
      {"NotUtf8", "\xff\xc3(\xe0\x80\x80\xed\xa0\x80\xf4\x90\x80\x80",
       "\\ufffd\\ufffd(\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd",
       "\\xff\\xc3(\\xe0\\x80\\x80\\xed\\xa0\\x80\\xf4\\x90\\x80\\x80"},
      {"Latin1Byte", "caf\xe9", "caf\\ufffd", "caf\\xe9"},
      {"CutShort", "a\xe2\x82", "a\\ufffd\\ufffd", "a\\xe2\\x82"},
      // Invisible code points: a label that reads as another, or text that
      // runs backwards, shows what it holds in both forms.
      {"ZeroWidthSpace", "db1\xe2\x80\x8b", "db1\\u200b", "db1\\u200b"},
      {"ZeroWidthJoiner", "a\xe2\x80\x8d" "b", "a\\u200db", "a\\u200db"},
      {"ByteOrderMark", "\xef\xbb\xbf" "db1", "\\ufeffdb1", "\\ufeffdb1"},
      {"RightToLeftOverride", "x\xe2\x80\xaegpj.exe", "x\\u202egpj.exe", "x\\u202egpj.exe"},
      {"BidiIsolate", "\xe2\x81\xa6" "a\xe2\x81\xa9", "\\u2066a\\u2069", "\\u2066a\\u2069"},
      {"SoftHyphen", "a\xc2\xad" "b", "a\\u00adb", "a\\u00adb"},
      {"LineSeparator", "a\xe2\x80\xa8" "b\xe2\x80\xa9", "a\\u2028b\\u2029", "a\\u2028b\\u2029"},
      {"HangulFiller", "\xe3\x85\xa4", "\\u3164", "\\u3164"},
      {"Tag", "a\xf3\xa0\x80\x81", "a\\udb40\\udc01", "a\\U000e0001"},
      {"VisibleNeighbours", "\xe2\x80\x8a\xe2\x80\x90\xef\xbb\xbe",
       "\xe2\x80\x8a\xe2\x80\x90\xef\xbb\xbe", "\xe2\x80\x8a\xe2\x80\x90\xef\xbb\xbe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(report::escapeJson(c.bytes), c.json);
    EXPECT_EQ(report::escapeText(c.bytes), c.text);
  }
}

// In a page, outside bytes read as the terminal shows them, and markup in
// them is text: nothing of a label can open an element or end an attribute.
TEST(Escape, HtmlIsTheTextFormWithReferences) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string html;
  };
  const Case cases[] = {
      {"Plain", "host-01.example", "host-01.example"},
      {"Markup", "<img src=x onerror=alert(1)>", "&lt;img src=x onerror=alert(1)&gt;"},
      {"EndOfScript", "</script><b>", "&lt;/script&gt;&lt;b&gt;"},
      {"Quotes", "a\"b'c&d", "a&quot;b&#39;c&amp;d"},
      {"Reference", "&lt;", "&amp;lt;"},
      {"ControlsAsText", std::string("<\x1b\x00>", 4), "&lt;\\x1b\\x00&gt;"},
      {"Utf8Kept", "caf\xc3\xa9<", "caf\xc3\xa9&lt;"},
      {"AllSpecials", std::string(100, '"'), [] {
         std::string s;
         for (int i = 0; i < 100; ++i) s += "&quot;";
         return s;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out = "kept<";
    report::appendHtmlEscaped(out, c.bytes);
    EXPECT_EQ(out, "kept<" + c.html);
  }
}

TEST(JsonWriter, NestsWithTheProjectsSeparators) {
  using namespace report;
  JsonWriter w;
  jsonBeginObject(w);
  jsonKey(w, "name");
  jsonString(w, "caf\xc3\xa9\n");
  jsonKey(w, "list");
  jsonBeginArray(w);
  jsonInt(w, -3);
  jsonBeginObject(w);
  jsonEndObject(w);
  jsonBeginArray(w);
  jsonEndArray(w);
  jsonStringOrNull(w, nullptr);
  jsonEndArray(w);
  jsonKey(w, "ok");
  jsonBool(w, true);
  jsonKey(w, "raw");
  jsonRaw(w, "{\"a\": 1}");
  jsonEndObject(w);
  EXPECT_EQ(w.out,
            "{\"name\": \"caf\xc3\xa9\\n\", \"list\": [-3, {}, [], null], \"ok\": true, "
            "\"raw\": {\"a\": 1}}");
}

// Past its depth limit the writer leaves the inner value out as null, says
// so, and the output is still one valid value with every level closed.
TEST(JsonWriter, RefusesNestingPastItsLimit) {
  using namespace report;
  for (std::size_t depth : {kJsonMaxDepth, kJsonMaxDepth + 1, kJsonMaxDepth + 40}) {
    SCOPED_TRACE(depth);
    JsonWriter w;
    for (std::size_t i = 0; i < depth; ++i) {
      jsonBeginObject(w);
      jsonKey(w, "a");
      jsonInt(w, 1);
      jsonKey(w, "b");
    }
    jsonString(w, "deepest");
    for (std::size_t i = 0; i < depth; ++i) {
      jsonKey(w, "after");
      jsonBool(w, true);
      jsonEndObject(w);
    }
    EXPECT_EQ(w.refused, depth > kJsonMaxDepth);
    const std::size_t kept = std::min(depth, kJsonMaxDepth);
    std::string expected;
    for (std::size_t i = 0; i < kept; ++i) expected += "{\"a\": 1, \"b\": ";
    expected += depth > kJsonMaxDepth ? "null" : "\"deepest\"";
    for (std::size_t i = 0; i < kept; ++i) expected += ", \"after\": true}";
    EXPECT_EQ(w.out, expected);
  }
}

bool validUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t n = report::utf8SequenceLength(text, at);
    if (n == 0) return false;
    at += n;
  }
  return true;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

// Columns as a terminal shows them: wide characters two, combining marks
// none, an escape as wide as it is written.
TEST(Wrap, CountsColumnsAsATerminalDoes) {
  EXPECT_EQ(report::textColumns("web-01"), 6u);
  EXPECT_EQ(report::textColumns("caf\xc3\xa9"), 4u);             // é: one
  EXPECT_EQ(report::textColumns("e\xcc\x81"), 1u);               // e and a combining accent
  EXPECT_EQ(report::textColumns("\xe6\x9d\xb1\xe4\xba\xac"), 4u);  // 東京: two each
  EXPECT_EQ(report::textColumns("\xf0\x9f\x98\x80"), 2u);        // an emoji
  EXPECT_EQ(report::textColumns("a\\x1bb"), 6u);                 // \x1b: four
  EXPECT_EQ(report::textColumns("\\u200b\\\\"), 8u);             // \u200b and a doubled backslash
}

// Both layouts over one breaker: at the last space that fits, or where the
// line is full; a long run of "é", of wide characters or of escapes is cut
// between characters, never inside one, and nothing is lost but the spaces
// the lines break at.
TEST(Wrap, BreaksWhereItFitsAndKeepsCharactersWhole) {
  std::string accents;
  for (int i = 0; i < 3000; ++i) accents += "\xc3\xa9";
  const std::string escapes = report::escapeText(std::string(300, '\x1b'));
  const std::string invisibles = report::escapeText(std::string(40, 'a') + "\xe2\x80\x8b\xe2\x80\xae");
  constexpr std::size_t kAt = std::string::npos;  // the label form
  struct Case {
    const char* name;
    std::string label;   // the label form: label, then a hanging indent
    std::size_t column;  // the other form (label unused): continuing at column
    std::string text;
    std::size_t more;
    std::size_t width;
    std::vector<std::string> expected;  // empty: checked by the invariants alone
  };
  const Case cases[] = {
      {"fits", "  Lasts:  ", kAt, "one line", 0, report::kReportWidth, {"  Lasts:  one line"}},
      {"breaks at spaces", "  ", kAt, std::string(70, 'a') + " bbbbbbbb cc", 0, report::kReportWidth,
       {"  " + std::string(70, 'a'), "  bbbbbbbb cc"}},
      {"more indent after the first", "    ", kAt, std::string(74, 'x') + " y", 2, report::kReportWidth,
       {"    " + std::string(74, 'x'), "      y"}},
      {"3000 accented letters", "    ", kAt, accents, 2, report::kReportWidth, {}},
      {"a word of escapes", "    ", kAt, "sys_vendor: \"" + escapes + "\"", 2, report::kReportWidth, {}},
      {"a quote then escapes", "  ", kAt, "x" + escapes, 0, report::kReportWidth, {}},
      {"at a column: short", "", 2, "short", 0, 10, {"short"}},
      {"at a column: exactly full", "", 2, "exactly8", 0, 10, {"exactly8"}},
      {"at a column: at the last space", "", 2, "one two three", 0, 10, {"one two", "  three"}},
      {"at a column: no space, cut full", "", 2, "abcdefghijkl", 0, 10, {"abcdefgh", "  ijkl"}},
      // The space that would end a full line goes, and so does one just past it.
      {"at a column: a space at the end", "", 2, "abcdefg h", 0, 10, {"abcdefg", "  h"}},
      {"at a column: a space past a full line", "", 2, "abcdefgh ij", 0, 10, {"abcdefgh", "  ij"}},
      {"at a column: wide characters", "", 0,
       "\xe6\x9d\xb1\xe4\xba\xac\xe6\x9d\xb1\xe4\xba\xac\xe6\x9d\xb1", 0, 5,
       {"\xe6\x9d\xb1\xe4\xba\xac", "\xe6\x9d\xb1\xe4\xba\xac", "\xe6\x9d\xb1"}},
      // A wide character where only one column is left has a line of its own.
      {"at a column: wider than the room", "", 9, "\xe6\x9d\xb1\xe4\xba\xac", 0, 10,
       {"\xe6\x9d\xb1", "         \xe4\xba\xac"}},
      {"at a column: escapes", "", 24, escapes, 0, 100, {}},
      {"at a column: invisible characters spelled out", "", 30, invisibles, 0, 50, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out;
    if (c.column == kAt) {
      report::appendWrapped(out, c.label, c.text, c.more, c.width);
      ASSERT_EQ(out.back(), '\n');
    } else {
      report::appendWrappedAt(out, c.text, c.column, c.width);
      out += '\n';
    }
    const std::vector<std::string> lines = linesOf(out);
    if (!c.expected.empty()) {
      EXPECT_EQ(lines, c.expected);
    }
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::string& line = lines[i];
      EXPECT_TRUE(validUtf8(line)) << line;
      const std::size_t start = c.column == kAt ? 0 : (i == 0 ? c.column : 0);
      const std::size_t indent =
          c.column == kAt ? c.label.size() + (i == 0 ? 0 : c.more) : (i == 0 ? 0 : c.column);
      ASSERT_GE(line.size(), indent);
      const std::string body = line.substr(indent);
      // Over the width only as a lone character wider than the room left.
      if (report::utf8SequenceLength(body, 0) != body.size()) {
        EXPECT_LE(start + report::textColumns(line), c.width) << line;
      }
      // An escape cut would leave a line ending in "\x", "\x1", "\u20" or "\".
      const std::size_t slash = body.rfind('\\');
      if (slash != std::string::npos && slash + 1 < body.size() &&
          ((body[slash + 1] == 'x' && body.size() - slash < 4) ||
           (body[slash + 1] == 'u' && body.size() - slash < 6)))
        ADD_FAILURE() << "an escape cut at the end of: " << line;
      if (slash + 1 == body.size()) ADD_FAILURE() << "a line ends in a lone backslash: " << line;
      joined += body;
    }
    std::string unspaced = c.text;
    std::erase(unspaced, ' ');
    std::erase(joined, ' ');
    EXPECT_EQ(joined, unspaced);
  }
}

enum class Colour { kRed, kDarkBlue, kUnnamed };
constexpr std::array<EnumName<Colour>, 2> kColours = {{
    {Colour::kRed, "red", "red"},
    {Colour::kDarkBlue, "dark-blue", "dark blue"},
}};
static_assert(enumIdsWellFormed(kColours));

TEST(EnumNames, IdForScriptsPhraseForPeople) {
  EXPECT_EQ(enumId(kColours, Colour::kDarkBlue), "dark-blue");
  EXPECT_EQ(enumPhrase(kColours, Colour::kDarkBlue), "dark blue");
  EXPECT_EQ(enumId(kColours, Colour::kUnnamed), "unknown");
  constexpr std::array<EnumName<Colour>, 1> kBad = {{{Colour::kRed, "Red Phrase", ""}}};
  EXPECT_FALSE(enumIdsWellFormed(kBad));
  // Complete up to the last value it names; a value past it is missing.
  EXPECT_TRUE(enumTableComplete(kColours, Colour::kDarkBlue));
  EXPECT_FALSE(enumTableComplete(kColours, Colour::kUnnamed));
  constexpr std::array<EnumName<Colour>, 2> kTwice = {{{Colour::kRed, "red", ""},
                                                               {Colour::kRed, "red", ""}}};
  EXPECT_FALSE(enumTableComplete(kTwice, Colour::kDarkBlue));
}

TEST(WriteUtc, AgreesWithTheCLibrary) {
  std::mt19937 rng(7);
  std::vector<std::uint32_t> times = {0, 1, 86399, 86400, 951782400 /* 2000-02-29 */,
                                      1104537600, 4107542400u /* 2100-03-01 */, 0xFFFFFFFFu};
  for (int i = 0; i < 100000; ++i) times.push_back(static_cast<std::uint32_t>(rng()));
  for (std::uint32_t seconds : times) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm parts{};
    gmtime_r(&t, &parts);
    char expected[32];
    std::strftime(expected, sizeof expected, "%Y-%m-%dT%H:%M:%SZ", &parts);
    char got[report::kUtcTextSize + 1] = {};
    report::writeUtc(got, seconds);
    ASSERT_STREQ(got, expected) << seconds;
  }
}

}  // namespace
