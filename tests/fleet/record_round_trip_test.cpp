// The record across the seam: every field of both kinds of record as the
// decoder writes them, read back by orlim-fleet's reader. A key added,
// renamed or moved on one side shows here.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/decoded_record.h"
#include "decode/record.h"
#include "decode/warnings.h"
#include "fleet/fleet_record.h"

namespace {

constexpr std::string_view kTokenText = "828351548306b6f3931109457b2cc953ff9fbee0c4776c332a26651b2a";

struct Parsed {
  fleet::ParsedRecord record;
  std::string scratch;
};

// The line read back.
std::vector<Parsed> readBack(const std::string& line) {
  std::vector<Parsed> read(1);
  fleet::RecordError error;
  EXPECT_TRUE(fleet::parseRecord(line, read[0].record, read[0].scratch, error)) << error.message.data() << "\n" << line;
  return read;
}

std::string written(char* (*put)(char*, const InputOrigin&, std::string_view, std::string_view,
                                 const Failure&),
                    const InputOrigin& origin, std::string_view label, std::string_view input,
                    const Failure& failure) {
  std::string out(kMaxRecordBytes, '\0');
  out.resize(static_cast<std::size_t>(put(out.data(), origin, label, input, failure) - out.data()));
  return out;
}

struct TokenCase {
  const char* name;
  std::string label;
  std::uint32_t time;
  unsigned warnings;
  InputOrigin origin;
};

TEST(RecordRoundTrip, TokenRecordsReadBackFieldByField) {
  const TokenCase cases[] = {
      {"labelled", "web-01", 1796861430, 0, {"line", 7}},
      {"bare", "", 1796861430, 0, {"argument", 2}},
      {"every-warning", "nas", 0, kWarnPlaceholderUuid | kWarnFutureTime | kWarnTimeBefore2005, {"line", 1}},
      {"latest-time", "x", 0xFFFFFFFFu, kWarnFutureTime, {"line", 123456}},
      // Escaped in the record, the same bytes once read.
      {"escaped-label", "a\"b\\c\x1b\xe2\x80\xae\xf0\x9f\x98\x80", 1796861430, 0, {"line", 3}},
  };
  for (const TokenCase& c : cases) {
    SCOPED_TRACE(c.name);
    TokenLine line;
    line.status = DecodeStatus::kOk;
    line.label = c.label;
    line.input = kTokenText;
    line.fields.version = kTokenRecordVersion;
    line.fields.time = c.time;
    for (std::size_t i = 0; i < line.fields.uuid.size(); ++i)
      line.fields.uuid[i] = static_cast<std::uint8_t>(0x0F + 17 * i);
    const char legacy[] = "0A1B2C3D";
    for (std::size_t i = 0; i < line.fields.legacy.size(); ++i) line.fields.legacy[i] = legacy[i];
    std::string text(kMaxRecordBytes, '\0');
    text.resize(static_cast<std::size_t>(
        putTokenRecord(text.data(), true, true, c.origin, line, c.warnings) - text.data()));
    ASSERT_EQ(text.back(), '\n');
    text.pop_back();
    for (const Parsed& p : readBack(text)) {
      const fleet::ParsedRecord& r = p.record;
      EXPECT_EQ(r.kind, fleet::RecordKind::kToken);
      EXPECT_EQ(r.hasLabel, !c.label.empty());
      EXPECT_EQ(r.label, c.label);
      EXPECT_EQ(r.time, c.time);
      EXPECT_TRUE(std::equal(r.uuid.begin(), r.uuid.end(), line.fields.uuid.begin()));
      EXPECT_EQ(std::string_view(r.legacy.data(), r.legacy.size()), "0A1B2C3D");
      std::vector<std::string_view> names;
      for (std::size_t i = 0; i < warningNames().size(); ++i)
        if ((c.warnings & (1u << i)) != 0) names.push_back(warningNames()[i]);
      EXPECT_EQ(std::vector<std::string_view>(r.warnings.begin(), r.warnings.begin() + static_cast<long>(r.warningCount)),
                names);
    }
  }
}

struct ErrorCase {
  const char* name;
  std::string label;
  std::string input;
  Failure failure;
  std::string error;  // as read back
};

TEST(RecordRoundTrip, ErrorRecordsReadBackFieldByField) {
  const ErrorCase cases[] = {
      {"invalid", "db-01", "XYZ", {decoded::ErrorKind::kInvalid, "character 1 is not a hex digit", {}},
       "character 1 is not a hex digit"},
      {"unlabelled", "", "", {decoded::ErrorKind::kInvalid, "longer than 1024 bytes", {}}, "longer than 1024 bytes"},
      {"unreachable", "db1", "!unreachable refused", {decoded::ErrorKind::kUnreachable, "host unreachable", "refused"},
       "host unreachable: refused"},
      {"no-token", "db1", "!no-token", {decoded::ErrorKind::kNoToken, "host gave no token", {}}, "host gave no token"},
      {"hostile-reason", "db\xe2\x80\x8b" "1", "!no-token \x1b[2J\"\\",
       {decoded::ErrorKind::kNoToken, "host gave no token", "\x1b[2J\"\\"}, "host gave no token: \x1b[2J\"\\"},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = written(putErrorRecord, {"line", 4}, c.label, c.input, c.failure);
    text.pop_back();
    for (const Parsed& p : readBack(text)) {
      const fleet::ParsedRecord& r = p.record;
      EXPECT_EQ(r.kind, fleet::RecordKind::kError);
      EXPECT_EQ(r.errorKind, c.failure.kind);
      EXPECT_EQ(r.hasLabel, !c.label.empty());
      EXPECT_EQ(r.label, c.label);
      EXPECT_EQ(r.input, c.input);
      EXPECT_EQ(r.error, c.error);
    }
  }
}

}  // namespace
