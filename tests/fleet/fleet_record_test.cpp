// The record reader: the decoder's two records read back, the JSON they
// may be written in read alike, and every other line refused with what is
// wrong, whatever key (known or not) the fault is under.
#include "fleet/fleet_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fleet/example_token.h"
#include "fleet/fleet_internal.h"

namespace {

using fleet::ParsedRecord;
using fleet::RecordError;
using fleet::RecordKind;

const std::string kUuid = "f0efeeed-eceb-eae9-e8e7-e6e5e4e3e2e1";

// The decoder's token record with its members replaced or added, in order.
std::string record(const std::string& label = "\"web-01\"", const std::string& after = "",
                   const std::string& warnings = "", const std::string& version = "1",
                   const std::string& time = "1796861430") {
  std::string line = "{";
  if (!label.empty()) line += "\"label\": " + label + ", ";
  return line + "\"token\": \"" + kToken + "\", \"version\": " + version + ", \"time\": " + time +
         ", \"time_utc\": \"2026-12-10T00:10:30Z\", \"uuid\": \"" + kUuid +
         "\", \"legacy\": \"12153A58\", \"machine\": \"" + kUuid + "/12153A58\", \"warnings\": [" +
         warnings + "]" + after + "}";
}

struct Good {
  const char* name;
  std::string line;
  RecordKind kind;
  bool hasLabel;
  std::string label;
  std::vector<std::string> warnings;
  fleet::ErrorKind errorKind = fleet::ErrorKind::kInvalid;
};

std::vector<Good> goodLines() {
  return {
      {"decoder-layout", record(), RecordKind::kToken, true, "web-01", {}},
      {"unlabelled", record(""), RecordKind::kToken, false, "", {}},
      {"warnings", record("\"nas\"", "", "\"placeholder-uuid\", \"time-in-future\""), RecordKind::kToken,
       true, "nas", {"placeholder-uuid", "time-in-future"}},
      // Keys a later decoder may add, after the others or before them,
      // with values of any kind.
      {"line-number-after", record("\"web-01\"", ", \"line\": 7"), RecordKind::kToken, true, "web-01", {}},
      {"line-number-first", "{\"line\": 7, " + record().substr(1), RecordKind::kToken, true, "web-01", {}},
      {"unknown-values",
       record("\"web-01\"", ", \"x\": {\"a\": [1, -2.5e3, true, false, null, \"s\"]}, \"y\": []"),
       RecordKind::kToken, true, "web-01", {}},
      {"compact-and-spaced",
       "  {\"warnings\":[],\"machine\":\"" + kUuid + "/12153A58\",\"legacy\":\"12153A58\",\"uuid\":\"" +
           kUuid + "\",\"time_utc\":\"x\",\"time\":0,\"version\":1,\"token\":\"" + kToken +
           "\"}\t\r",
       RecordKind::kToken, false, "", {}},
      {"escapes", record("\"a\\\"b\\\\c\\/d\\n\\u00e9\\ud83d\\ude00\""), RecordKind::kToken, true,
       "a\"b\\c/d\n\xc3\xa9\xf0\x9f\x98\x80", {}},
      {"utf8-label", record("\"caf\xc3\xa9\""), RecordKind::kToken, true, "caf\xc3\xa9", {}},
      {"error-record", "{\"label\": \"db-01\", \"input\": \"XYZ\", \"error\": \"not 58 hex digits (3)\"}",
       RecordKind::kError, true, "db-01", {}},
      {"unlabelled-error", "{\"input\": \"\", \"error\": \"e\", \"argument\": 2}", RecordKind::kError,
       false, "", {}},
      // A host that gave no token, as the decoder writes it; "kind" is
      // "invalid" where written, and where not (an older decoder).
      {"unreachable",
       "{\"label\": \"db1\", \"kind\": \"unreachable\", \"input\": \"!unreachable refused\", "
       "\"error\": \"host unreachable: refused\", \"line\": 3}",
       RecordKind::kError, true, "db1", {}, fleet::ErrorKind::kUnreachable},
      {"no-token",
       "{\"label\": \"db1\", \"kind\": \"no-token\", \"input\": \"!no-token\", \"error\": \"host gave no token\"}",
       RecordKind::kError, true, "db1", {}, fleet::ErrorKind::kNoToken},
      {"invalid", "{\"kind\": \"invalid\", \"input\": \"x\", \"error\": \"e\", \"line\": 1}", RecordKind::kError,
       false, "", {}, fleet::ErrorKind::kInvalid},
  };
}

void PrintTo(const Good& g, std::ostream* os) { *os << g.name; }

class GoodLines : public testing::TestWithParam<Good> {};

TEST_P(GoodLines, AreRead) {
  const Good& g = GetParam();
  ParsedRecord fast;
  std::string scratch;
  RecordError error;
  ASSERT_TRUE(fleet::parseRecord(g.line, fast, scratch, error)) << error.message.data();
  for (const ParsedRecord* r : {&fast}) {
    EXPECT_EQ(r->kind, g.kind);
    EXPECT_EQ(r->hasLabel, g.hasLabel);
    EXPECT_EQ(r->label, g.label);
    EXPECT_EQ(r->errorKind, g.errorKind);
    std::vector<std::string> warnings(r->warnings.begin(), r->warnings.begin() + static_cast<long>(r->warningCount));
    EXPECT_EQ(warnings, g.warnings);
    if (g.kind == RecordKind::kToken) {
      EXPECT_EQ(r->uuid[0], 0xF0);
      EXPECT_EQ(r->uuid[15], 0xE1);
      EXPECT_EQ(std::string(r->legacy.data(), r->legacy.size()), "12153A58");
    }
  }
  if (g.kind == RecordKind::kToken && g.name != std::string("compact-and-spaced")) {
    EXPECT_EQ(fast.time, 1796861430u);
  }
}

INSTANTIATE_TEST_SUITE_P(Records, GoodLines, testing::ValuesIn(goodLines()),
                         [](const testing::TestParamInfo<Good>& p) {
                           std::string name = p.param.name;
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

struct Bad {
  const char* name;
  std::string line;
  std::string message;
};

void PrintTo(const Bad& b, std::ostream* os) { *os << b.name; }

std::vector<Bad> badLines() {
  const std::string good = record();
  const auto without = [&](const std::string& key) {
    std::string line = good;
    const std::size_t at = line.find("\"" + key + "\"");
    const std::size_t end = line.find(", \"", at + 1);
    return line.erase(at, end + 2 - at);
  };
  const std::string twice = record("\"a\"", ", \"label\": \"b\"");
  const auto timed = [&](const std::string& time) { return record("\"a\"", "", "", "1", time); };
  const auto versioned = [&](const std::string& version) { return record("\"a\"", "", "", version); };
  return {
      {"not-an-object", "[1]", "expected '{': a record is one JSON object"},
      {"truncated", good.substr(0, 40), "unterminated string"},
      {"text-after", good + " x", "not one JSON value (a bracket, ',' or ':' out of place, or text after it)"},
      {"missing-comma", "{\"label\": \"a\" \"x\": 1}", "not one JSON value (a bracket, ',' or ':' out of place, or text after it)"},
      {"trailing-comma", "{\"label\": \"a\", }", "not one JSON value (a bracket, ',' or ':' out of place, or text after it)"},
      {"no-token", without("token"), "no \"token\""},
      {"no-warnings",
       [&] {
         std::string line = good;
         return line.erase(line.find(", \"warnings\""), 16);
       }(), "no \"warnings\""},
      {"neither", "{\"label\": \"a\"}", "neither a token nor an error"},
      {"both", "{\"label\": \"a\", \"uuid\": \"" + kUuid + "\", \"error\": \"e\"}", "both a token's keys and an error's"},
      {"error-without-input", "{\"error\": \"e\"}", "no \"input\""},
      {"unknown-kind", "{\"kind\": \"lost\", \"input\": \"x\", \"error\": \"e\"}", "an unknown error kind"},
      {"kind-on-a-token", record("\"a\"", ", \"kind\": \"invalid\""), "both a token's keys and an error's"},
      {"key-twice", twice, "\"label\" given twice"},
      {"other-version", versioned("2"), "a version 2 record (this reads version 1)"},
      {"time-too-large", timed("4294967296"), "\"time\" is out of a token's range"},
      {"time-fraction", timed("1.5"), "\"time\" is not a whole number"},
      {"time-negative", timed("-1"), "\"time\" is not a whole number"},
      {"time-leading-zero", timed("01"), "not a JSON number"},
      {"version-string", versioned("\"1\""), "\"version\" is not a whole number"},
      {"short-token", "{\"token\": \"ABC\"}", "\"token\" is not 58 hex digits"},
      {"bad-uuid", "{\"uuid\": \"f0efeeed-eceb-eae9-e8e7-e6e5e4e3e2eg\"}", "\"uuid\" is not a UUID (8-4-4-4-12 hex digits)"},
      {"lower-case-legacy", "{\"legacy\": \"12153a58\"}", "\"legacy\" is not 8 hex digits"},
      {"other-machine",
       [&] {
         std::string line = good;
         line.replace(line.find("/12153A58"), 9, "/12153A59");
         return line;
       }(),
       "\"machine\" is not \"uuid/legacy\""},
      {"empty-label", record("\"\""), "an empty label"},
      {"label-null", record("null"), "\"label\" is not a string"},
      {"warning-not-string", record("\"a\"", "", "1"), "a warning is not a string"},
      {"lone-high-surrogate", record("\"\\ud83d\""), "a bad escape in a string"},
      {"lone-low-surrogate", record("\"\\ude00x\""), "a bad escape in a string"},
      {"bad-escape", record("\"\\x41\""), "a bad escape in a string"},
      {"short-u-escape", record("\"\\u12\""), "a bad escape in a string"},
      {"control-character", record("\"a\tb\""), "a control character in a string"},
      {"not-utf8", record("\"a\xff\""), "not UTF-8"},
      {"too-deep", "{\"x\": " + std::string(20, '[') + std::string(20, ']') + "}", "nested too deep"},
      {"bad-literal", "{\"x\": nul}", "not a JSON value"},
      // A value under a key the reader does not know is validated all the
      // same: the line is refused, not half read.
      {"bad-unknown-value", record("\"a\"", ", \"x\": [1, ]"), "not one JSON value (a bracket, ',' or ':' out of place, or text after it)"},
      {"unknown-key-not-utf8", record("\"a\"", ", \"x\xc3\": 1"), "not UTF-8"},
      {"unknown-value-control", record("\"a\"", ", \"x\": [\"a\x01\"]"), "a control character in a string"},
      {"empty-line", "", "no JSON value"},
      {"too-many-warnings",
       record("\"a\"", "", [] {
         std::string list = "\"w\"";
         for (int i = 0; i < 16; ++i) list += ", \"w\"";
         return list;
       }()),
       "too many warnings"},
      {"empty-warning", record("\"a\"", "", "\"\""), "an empty warning"},
  };
}

class BadLines : public testing::TestWithParam<Bad> {};

TEST_P(BadLines, AreRefusedSayingWhat) {
  const Bad& b = GetParam();
  ParsedRecord out;
  std::string scratch;
  RecordError error;
  ASSERT_FALSE(fleet::parseRecord(b.line, out, scratch, error)) << b.line;
  EXPECT_EQ(std::string(error.message.data()), b.message) << b.line;
  EXPECT_LE(error.position, b.line.size() + 1) << b.line;
}

INSTANTIATE_TEST_SUITE_P(Records, BadLines, testing::ValuesIn(badLines()),
                         [](const testing::TestParamInfo<Bad>& p) {
                           std::string name = p.param.name;
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

TEST(RecordUuid, ByteReversedTurnsTheFirstThreeFields) {
  fleet::Uuid uuid;
  for (std::size_t i = 0; i < uuid.size(); ++i) uuid[i] = static_cast<std::uint8_t>(i);
  const fleet::Uuid reversed = fleet::internal::byteReversed(uuid);
  const fleet::Uuid expected = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  EXPECT_EQ(reversed, expected);
  EXPECT_EQ(fleet::internal::byteReversed(reversed), uuid);
}

}  // namespace
