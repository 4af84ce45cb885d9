#include "decode/decode.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "decode/decode_internal.h"

#include "support/token_seal.h"

namespace {

using orlimtest::sealToken;

// The decoder's clock in these tests: 2026-12-10T12:00:00Z.
constexpr std::int64_t kNow = 1796904000;

TokenFields sampleFields() {
  TokenFields fields;
  fields.version = kTokenRecordVersion;
  fields.time = 1796861430;  // 2026-12-10T00:10:30Z
  for (std::size_t i = 0; i < fields.uuid.size(); ++i)
    fields.uuid[i] = static_cast<std::uint8_t>(i * 0x11);
  std::copy_n("33F3A401", 8, fields.legacy.begin());
  return fields;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

TEST(DecodeToken, ReadsBackWhatWasSealed) {
  const std::string token = sealToken(sampleFields());
  for (const std::string& text : {token, lower(token), "  \t" + token + " \r\n"}) {
    DecodeResult r = decodeToken(text);
    ASSERT_EQ(r.status, DecodeStatus::kOk) << describeFailure(r);
    EXPECT_EQ(r.token, token);
    EXPECT_EQ(r.fields.time, sampleFields().time);
    EXPECT_EQ(r.fields.uuid, sampleFields().uuid);
    EXPECT_EQ(r.fields.legacy, sampleFields().legacy);
  }
}

TEST(DecodeToken, NamesWhatIsWrong) {
  const std::string token = sealToken(sampleFields());
  TokenFields version2 = sampleFields();
  version2.version = 2;
  TokenFields lowerLegacy = sampleFields();
  std::copy_n("33f3a401", 8, lowerLegacy.legacy.begin());
  std::string flipped = token;
  flipped[10] = flipped[10] == '0' ? '1' : '0';

  struct Case {
    const char* name;
    std::string text;
    DecodeStatus status;
    std::string message;
  };
  const Case cases[] = {
      {"Empty", "", DecodeStatus::kWrongLength, "not 58 hex digits (0)"},
      {"OneShort", token.substr(1), DecodeStatus::kWrongLength, "not 58 hex digits (57)"},
      {"OneLong", token + "0", DecodeStatus::kWrongLength, "not 58 hex digits (59)"},
      {"NotHex", token.substr(0, 4) + "G" + token.substr(5), DecodeStatus::kNotHex,
       "character 5 is not a hex digit"},
      {"InnerSpace", token.substr(0, 20) + " " + token.substr(20), DecodeStatus::kNotHex,
       "character 21 is not a hex digit"},
      {"PositionCountsLeadingSpace", " \t" + token.substr(0, 4) + "G" + token.substr(5),
       DecodeStatus::kNotHex, "character 7 is not a hex digit"},
      {"OtherKey", sealToken(sampleFields(), "another key"), DecodeStatus::kNotOurs,
       "not a token of this key, or corrupted"},
      {"Corrupted", flipped, DecodeStatus::kNotOurs, "not a token of this key, or corrupted"},
      {"OtherVersion", sealToken(version2), DecodeStatus::kNotOurs,
       "not a token of this key, or corrupted"},
      {"LegacyNotUpperHex", sealToken(lowerLegacy), DecodeStatus::kNotOurs,
       "not a token of this key, or corrupted"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DecodeResult r = decodeToken(c.text);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(describeFailure(r), c.message);
  }
}

// --- a stream run -------------------------------------------------------------

// A file in memory for one of the decoder's descriptors.
struct MemoryFile {
  int fd = memfd_create("decode-test", 0);
  ~MemoryFile() { close(fd); }
  std::string contents() const {
    std::string text;
    char buffer[65536];
    ssize_t n;
    for (off_t at = 0; (n = pread(fd, buffer, sizeof buffer, at)) > 0; at += n)
      text.append(buffer, static_cast<std::size_t>(n));
    return text;
  }
};

struct RunOutput {
  std::string out;
  std::string err;
  int status = -1;
};

// Input handed out in pieces, then a failure or the end: the read seam.
struct ScriptedInput {
  std::vector<std::string> pieces;
  int errorAtEnd = 0;  // errno for the read after the last piece; 0: end of input
  std::size_t next = 0;
};
ScriptedInput* scripted = nullptr;

ssize_t scriptedRead(int, void* buffer, std::size_t size) {
  if (scripted->next == scripted->pieces.size()) {
    if (scripted->errorAtEnd == 0) return 0;
    errno = scripted->errorAtEnd;
    return -1;
  }
  std::string& piece = scripted->pieces[scripted->next];
  const std::size_t n = std::min(size, piece.size());
  std::memcpy(buffer, piece.data(), n);
  piece.erase(0, n);
  if (piece.empty()) ++scripted->next;
  return static_cast<ssize_t>(n);
}

RunOutput runStream(ScriptedInput input, DecodeOptions options = {}) {
  MemoryFile out;
  MemoryFile err;
  scripted = &input;
  DecodeIo io;
  io.read = scriptedRead;
  io.out = out.fd;
  io.err = err.fd;
  if (options.now == 0) options.now = kNow;
  RunOutput result;
  {
    DecoderOwner decoder = makeDecoder(options, io);
    if (decoder == nullptr) return result;
    decodeStream(*decoder);
    result.status = finishDecoder(*decoder);
  }
  scripted = nullptr;
  result.out = out.contents();
  result.err = err.contents();
  return result;
}

RunOutput runText(const std::string& text, DecodeOptions options = {}) {
  return runStream(ScriptedInput{{text}, 0, 0}, options);
}

TokenFields withUuid(std::string_view hex) {
  TokenFields fields = sampleFields();
  for (std::size_t i = 0; i < kTokenUuidSize; ++i)
    fields.uuid[i] = static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(2 * i, 2)), nullptr, 16));
  return fields;
}

TokenFields withTime(std::uint32_t time) {
  TokenFields fields = sampleFields();
  fields.time = time;
  return fields;
}

// ", "line": N}": the end of the JSON record of input line N.
std::string atLine(std::size_t line) { return ", \"line\": " + std::to_string(line) + "}\n"; }

// The records a sample token gives on input line `line`, with its time and
// UUID text as given.
std::string jsonRecord(std::size_t line, const std::string& token, const std::string& label = "",
                       const std::string& warnings = "",
                       std::uint32_t time = 1796861430,
                       const std::string& timeUtc = "2026-12-10T00:10:30Z",
                       const std::string& uuid = "00112233-4455-6677-8899-aabbccddeeff") {
  return "{" + (label.empty() ? "" : "\"label\": \"" + label + "\", ") + "\"token\": \"" + token +
         "\", \"version\": 1, \"time\": " + std::to_string(time) + ", \"time_utc\": \"" + timeUtc +
         "\", \"uuid\": \"" + uuid + "\", \"legacy\": \"33F3A401\", \"machine\": \"" + uuid +
         "/33F3A401\", \"warnings\": [" + warnings + "]" + atLine(line);
}

std::string textRecord(const std::string& token, const std::string& label = "",
                       const std::string& warning = "") {
  return (label.empty() ? "" : "label:   " + label + "\n") + "token:   " + token +
         "\n"
         "version: 1\n"
         "time:    2026-12-10T00:10:30Z (1796861430)\n"
         "uuid:    00112233-4455-6677-8899-aabbccddeeff\n"
         "legacy:  33F3A401\n"
         "machine: 00112233-4455-6677-8899-aabbccddeeff/33F3A401\n" +
         (warning.empty() ? "" : "warning: " + warning + "\n");
}

TEST(DecodeStream, OneRecordPerLine) {
  const std::string t = sealToken(sampleFields());
  const std::string placeholder = sealToken(withUuid("03000200040005000006000700080009"));
  const std::string placeholderRaw = sealToken(withUuid("00020003000400050006000700080009"));
  // A fleet's clocks disagree by minutes: the future starts past the skew.
  const std::string withinSkew =
      sealToken(withTime(static_cast<std::uint32_t>(kNow + kClockSkewSeconds)));
  const std::string future =
      sealToken(withTime(static_cast<std::uint32_t>(kNow + kClockSkewSeconds + 1)));
  const std::string old = sealToken(withTime(1000000000));  // 2001-09-09T01:46:40Z
  const std::string other = sealToken(sampleFields(), "another key");
  const std::string nearPlaceholder = sealToken(withUuid("032e02b404990533a106940700080009"));
  const std::string longLine(kMaxInputBytes + 1, 'A');
  const std::string kept(kMaxInputBytes, 'A');

  struct Case {
    const char* name;
    std::string input;
    bool json;
    std::string out;
    std::string err;
    int status;
  };
  const Case cases[] = {
      {"Bare", t + "\n", true, jsonRecord(1, t), "", 0},
      {"BareText", t + "\n", false, textRecord(t), "", 0},
      {"LowerCaseAndCrLf", "  " + lower(t) + "\r\n", true, jsonRecord(1, t), "", 0},
      {"Labelled", "web-01 " + t + "\n", true, jsonRecord(1, t, "web-01"), "", 0},
      {"LabelledText", "web-01\t" + t + "\n", false, textRecord(t, "web-01"), "", 0},
      {"NoFinalNewline", "a " + t, true, jsonRecord(1, t, "a"), "", 0},
      {"LabelOddBytesJson", "h\x01\"\\\xc3\xa9\xff\xc2\x85 " + t + "\n", true,
       jsonRecord(1, t, "h\\u0001\\\"\\\\\xc3\xa9\\ufffd\\u0085"), "", 0},
      {"LabelOddBytesText", "h\x1b[2J\\\xc3\xa9\xff\xc2\x85 " + t + "\n", false,
       textRecord(t, "h\\x1b[2J\\\\\xc3\xa9\\xff\\xc2\\x85"), "", 0},
      {"BadInTheMiddle", t + "\n\nb XYZ\n   \n" + t.substr(1) + "\nc " + other + "\n" + t + "\n",
       true,
       jsonRecord(1, t) + "{\"label\": \"b\", \"kind\": \"invalid\", \"input\": \"XYZ\", \"error\": \"character 3 is not a hex digit\"" + atLine(3) +
           "{\"kind\": \"invalid\", \"input\": \"" + t.substr(1) + "\", \"error\": \"not 58 hex digits (57)\"" + atLine(5) +
           "{\"label\": \"c\", \"kind\": \"invalid\", \"input\": \"" + other +
           "\", \"error\": \"not a token of this key, or corrupted\"" + atLine(6) + jsonRecord(7, t),
       "orlim-decode: line 3 (b): character 3 is not a hex digit\n"
       "orlim-decode: line 5: not 58 hex digits (57)\n"
       "orlim-decode: line 6 (c): not a token of this key, or corrupted\n",
       1},
      {"BadInTheMiddleText", t + "\nXYZ\n" + t + "\n", false, textRecord(t) + "\n" + textRecord(t),
       "orlim-decode: line 2: character 1 is not a hex digit\n", 1},
      {"ThreeFieldsPointAtTheSecondSpace", "a b " + t + "\n", true,
       "{\"label\": \"a\", \"kind\": \"invalid\", \"input\": \"b " + t +
           "\", \"error\": \"character 4 is not a hex digit\"" + atLine(1),
       "orlim-decode: line 1 (a): character 4 is not a hex digit\n", 1},
      {"PlaceholderUuid", placeholder + "\n", true,
       jsonRecord(1, placeholder, "", "\"placeholder-uuid\"", 1796861430, "2026-12-10T00:10:30Z",
                  "03000200-0400-0500-0006-000700080009"),
       "", 0},
      {"PlaceholderUuidRawOrder", placeholderRaw + "\n", true,
       jsonRecord(1, placeholderRaw, "", "\"placeholder-uuid\"", 1796861430, "2026-12-10T00:10:30Z",
                  "00020003-0004-0005-0006-000700080009"),
       "", 0},
      {"SameTemplateFilledInIsNoPlaceholder", nearPlaceholder + "\n", true,
       jsonRecord(1, nearPlaceholder, "", "", 1796861430, "2026-12-10T00:10:30Z",
                  "032e02b4-0499-0533-a106-940700080009"),
       "", 0},
      {"TimeWithinClockSkew", withinSkew + "\n", true,
       jsonRecord(1, withinSkew, "", "", static_cast<std::uint32_t>(kNow + kClockSkewSeconds),
                  "2026-12-10T12:05:00Z"),
       "", 0},
      {"TimeInFuture", future + "\n", true,
       jsonRecord(1, future, "", "\"time-in-future\"",
                  static_cast<std::uint32_t>(kNow + kClockSkewSeconds + 1), "2026-12-10T12:05:01Z"),
       "", 0},
      {"TimeBefore2005", old + "\n", true,
       jsonRecord(1, old, "", "\"time-before-2005\"", 1000000000, "2001-09-09T01:46:40Z"), "", 0},
      {"TimeBefore2005Text", "x " + old + "\n", false,
       "label:   x\ntoken:   " + old +
           "\nversion: 1\ntime:    2001-09-09T01:46:40Z (1000000000)\n"
           "uuid:    00112233-4455-6677-8899-aabbccddeeff\nlegacy:  33F3A401\n"
           "machine: 00112233-4455-6677-8899-aabbccddeeff/33F3A401\n"
           "warning: time-before-2005\n",
       "", 0},
      {"LineTooLong", longLine + "\n" + t + "\n", true,
       "{\"kind\": \"invalid\", \"input\": \"" + kept + "\", \"error\": \"longer than 1024 bytes\"" + atLine(1) + jsonRecord(2, t),
       "orlim-decode: line 1: longer than 1024 bytes\n", 1},
      {"LineJustShortEnough", std::string(kMaxInputBytes - t.size() - 1, 'L') + " " + t + "\n",
       true, jsonRecord(1, t, std::string(kMaxInputBytes - t.size() - 1, 'L')), "", 0},
      {"LongLineAtTheEnd", t + "\n" + longLine, true,
       jsonRecord(1, t) + "{\"kind\": \"invalid\", \"input\": \"" + kept + "\", \"error\": \"longer than 1024 bytes\"" + atLine(2),
       "orlim-decode: line 2: longer than 1024 bytes\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DecodeOptions options;
    options.json = c.json;
    RunOutput r = runText(c.input, options);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
  }
}

// UTF-16 text as PowerShell's ">" writes it: each byte of the ASCII text
// with a zero byte after it (little-endian) or before it.
std::string utf16(std::string_view text, bool littleEndian) {
  std::string out;
  for (char c : text) {
    if (!littleEndian) out += '\0';
    out += c;
    if (littleEndian) out += '\0';
  }
  return out;
}

// Lists as key holders receive them: saved by an editor that marks the
// encoding, in UTF-16, with two tokens pasted onto one line.
TEST(DecodeStream, InputAsReceived) {
  const std::string t = sealToken(sampleFields());
  const std::string lines = "web-01 " + t + "\r\n" + t + "\r\n";
  const std::string utf16Error =
      "the input is UTF-16 (little-endian) text, not UTF-8: convert it first, e.g. with iconv "
      "-f UTF-16 -t UTF-8";
  const std::string utf16BigError =
      "the input is UTF-16 (big-endian) text, not UTF-8: convert it first, e.g. with iconv "
      "-f UTF-16 -t UTF-8";
  struct Case {
    const char* name;
    std::string input;
    bool json;
    std::string out;
    std::string err;
    int status;
  };
  const Case cases[] = {
      {"Utf8MarkIsNoPartOfTheLabel", "\xEF\xBB\xBF" + lines, true,
       jsonRecord(1, t, "web-01") + jsonRecord(2, t), "", 0},
      {"Utf8MarkBeforeABareToken", "\xEF\xBB\xBF" + t, false, textRecord(t), "", 0},
      {"Utf8MarkAlone", "\xEF\xBB\xBF", true, "", "", 0},
      // A file saved with a mark and appended to another: the mark starts a
      // line, not a label, and the label reads as without it.
      {"Utf8MarkLaterIsNotLabelText", t + "\n\xEF\xBB\xBF" "db " + t + "\r\n", true,
       jsonRecord(1, t) + jsonRecord(2, t, "db"), "", 0},
      {"Utf8MarkLaterBeforeABareToken", t + "\n\xEF\xBB\xBF" + t + "\n", false,
       textRecord(t) + "\n" + textRecord(t), "", 0},
      // Inside a label it stays, shown for what it is.
      {"Utf8MarkInsideALabel", "d\xEF\xBB\xBF" "b " + t + "\n", false,
       textRecord(t, "d\\ufeffb"), "", 0},
      {"InvisibleLabelCharacters", "db\xE2\x80\x8B\xE2\x80\xAE " + t + "\n", true,
       jsonRecord(1, t, "db\\u200b\\u202e"), "", 0},
      // The limit counts the line, not its CR or mark.
      {"LineJustShortEnoughWithCrAndMark",
       "\xEF\xBB\xBF" + std::string(kMaxInputBytes - t.size() - 1, 'L') + " " + t + "\r\n", true,
       jsonRecord(1, t, std::string(kMaxInputBytes - t.size() - 1, 'L')), "", 0},
      {"Utf16LittleEndianWithMark", "\xFF\xFE" + utf16(lines, true), true,
       "{\"kind\": \"invalid\", \"input\": \"\", \"error\": \"" + utf16Error + "\"" + atLine(1),
       "orlim-decode: line 1: " + utf16Error + "\n", 1},
      {"Utf16LittleEndianText", utf16(lines, true), false, "",
       "orlim-decode: line 1: " + utf16Error + "\n", 1},
      {"Utf16BigEndianWithMark", "\xFE\xFF" + utf16(lines, false), true,
       "{\"kind\": \"invalid\", \"input\": \"\", \"error\": \"" + utf16BigError + "\"" + atLine(1),
       "orlim-decode: line 1: " + utf16BigError + "\n", 1},
      {"Utf16BigEndianNoMark", utf16(t, false), false, "",
       "orlim-decode: line 1: " + utf16BigError + "\n", 1},
      {"TwoTokensOnALine", t + "\n" + t + " \t" + lower(t) + "\n" + t + "\n", true,
       jsonRecord(1, t) + "{\"kind\": \"invalid\", \"input\": \"" + t + " \\t" + lower(t) +
           "\", \"error\": \"two tokens on one line\"" + atLine(2) + jsonRecord(3, t),
       "orlim-decode: line 2: two tokens on one line\n", 1},
      {"TwoTokensText", "  " + t + " " + t + "  \n", false, "",
       "orlim-decode: line 1: two tokens on one line\n", 1},
      // A label of 58 hex digits before something that is no token is
      // still taken as a label, and the rest named.
      {"TokenLikeLabelBeforeAShortToken", t + " " + t.substr(1) + "\n", true,
       "{\"label\": \"" + t + "\", \"kind\": \"invalid\", \"input\": \"" + t.substr(1) +
           "\", \"error\": \"not 58 hex digits (57)\"" + atLine(1),
       "orlim-decode: line 1 (" + t + "): not 58 hex digits (57)\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DecodeOptions options;
    options.json = c.json;
    RunOutput r = runText(c.input, options);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
  }
}

TEST(DecodeStream, MaxAgeRefusesStaleTokens) {
  const std::string day1 = sealToken(withTime(static_cast<std::uint32_t>(kNow - 86400)));
  const std::string day2 = sealToken(withTime(static_cast<std::uint32_t>(kNow - 86400 - 1)));
  DecodeOptions options;
  options.json = true;
  options.maxAgeDays = 1;
  RunOutput r = runText("h1 " + day1 + "\nh2 " + day2 + "\n", options);
  EXPECT_EQ(r.out, jsonRecord(1, day1, "h1", "", static_cast<std::uint32_t>(kNow - 86400),
                              "2026-12-09T12:00:00Z") +
                       "{\"label\": \"h2\", \"kind\": \"invalid\", \"input\": \"" + day2 +
                       "\", \"error\": \"older than 1 days (made 2026-12-09T11:59:59Z)\"" + atLine(2));
  EXPECT_EQ(r.err, "orlim-decode: line 2 (h2): older than 1 days (made 2026-12-09T11:59:59Z)\n");
  EXPECT_EQ(r.status, 1);
}

// Lines cut anywhere by the reads still give the same records, and the
// rest of a long line is passed over whatever the reads' sizes.
TEST(DecodeStream, LinesSplitAcrossReads) {
  const std::string t = sealToken(sampleFields());
  const std::string input = "\xEF\xBB\xBF" "a " + t + "\n" + std::string(3 * kMaxInputBytes, 'x') +
                            "\n" + t + "\r\n";
  DecodeOptions options;
  options.json = true;
  const RunOutput whole = runText(input, options);
  ASSERT_EQ(whole.status, 1);
  ASSERT_EQ(whole.out.substr(0, jsonRecord(1, t, "a").size()), jsonRecord(1, t, "a"));
  for (std::size_t size : {1u, 7u, 59u, 1000u, 1025u, 4096u}) {
    SCOPED_TRACE(size);
    ScriptedInput pieces;
    for (std::size_t at = 0; at < input.size(); at += size) pieces.pieces.push_back(input.substr(at, size));
    RunOutput r = runStream(pieces, options);
    EXPECT_EQ(r.out, whole.out);
    EXPECT_EQ(r.err, whole.err);
  }
}

// A read that fails is not the end of the input: the records before it
// stand, the message follows them, and the run fails.
TEST(DecodeStream, ReadErrorMidStream) {
  const std::string t = sealToken(sampleFields());
  struct Case {
    const char* name;
    std::vector<std::string> pieces;
    std::size_t records;
  };
  const Case cases[] = {
      {"AtALineBoundary", {t + "\n" + t + "\n", t + "\n"}, 3},
      {"InsideALine", {t + "\n" + t.substr(0, 20)}, 1},
      {"BeforeAnything", {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DecodeOptions options;
    options.json = true;
    RunOutput r = runStream(ScriptedInput{c.pieces, EIO, 0}, options);
    std::string expected;
    for (std::size_t i = 0; i < c.records; ++i) expected += jsonRecord(i + 1, t);
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "orlim-decode: read error: Input/output error\n");
    EXPECT_EQ(r.status, 1);
  }
}

// Records and messages to one file (a terminal, 2>&1) read in input order.
TEST(DecodeStream, MessagesInOrderOnOneFile) {
  const std::string t = sealToken(sampleFields());
  MemoryFile both;
  ScriptedInput input{{t + "\nXYZ\n" + t + "\n"}, 0, 0};
  scripted = &input;
  DecodeIo io;
  io.read = scriptedRead;
  io.out = both.fd;
  io.err = both.fd;
  DecodeOptions options;
  options.json = true;
  options.now = kNow;
  DecoderOwner decoder = makeDecoder(options, io);
  ASSERT_NE(decoder, nullptr);
  decodeStream(*decoder);
  EXPECT_EQ(finishDecoder(*decoder), 1);
  scripted = nullptr;
  EXPECT_EQ(both.contents(),
            jsonRecord(1, t) + "{\"kind\": \"invalid\", \"input\": \"XYZ\", \"error\": \"character 1 is not a hex digit\"" +
                atLine(2) + "orlim-decode: line 2: character 1 is not a hex digit\n" +
                jsonRecord(3, t));
}

TEST(DecodeArgument, NamedByPositionAndLengthBounded) {
  MemoryFile out;
  MemoryFile err;
  DecodeIo io;
  io.out = out.fd;
  io.err = err.fd;
  DecodeOptions options;
  options.now = kNow;
  DecoderOwner decoder = makeDecoder(options, io);
  ASSERT_NE(decoder, nullptr);
  const std::string t = sealToken(sampleFields());
  decodeArgument(*decoder, "host " + t, 2);
  decodeArgument(*decoder, std::string(kMaxInputBytes + 1, 'A'), 3);
  decodeArgument(*decoder, "", 4);
  EXPECT_EQ(finishDecoder(*decoder), 1);
  EXPECT_EQ(out.contents(), textRecord(t, "host"));
  EXPECT_EQ(err.contents(),
            "orlim-decode: argument 3: longer than 1024 bytes\n"
            "orlim-decode: argument 4: not 58 hex digits (0)\n");
}

TEST(DecodeStream, LostOutputFails) {
  const std::string t = sealToken(sampleFields());
  const int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  MemoryFile err;
  ScriptedInput input{{t + "\n"}, 0, 0};
  scripted = &input;
  DecodeIo io;
  io.read = scriptedRead;
  io.out = full;
  io.err = err.fd;
  DecoderOwner decoder = makeDecoder(DecodeOptions{}, io);
  decodeStream(*decoder);
  EXPECT_EQ(finishDecoder(*decoder), 1);
  scripted = nullptr;
  close(full);
  EXPECT_EQ(err.contents(), "orlim-decode: write error: No space left on device\n");
}

// --- pieces -------------------------------------------------------------------


}  // namespace
