#include "decode/decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <string>

#include "support/token_seal.h"

namespace {

using orlimtest::sealToken;

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

TEST(DecodeToken, FormatsFieldsAndJson) {
  DecodeResult r = decodeToken(sealToken(sampleFields()));
  ASSERT_EQ(r.status, DecodeStatus::kOk);
  EXPECT_EQ(formatFields(r), "token:   " + r.token +
                                 "\n"
                                 "version: 1\n"
                                 "time:    2026-12-10T00:10:30Z (1796861430)\n"
                                 "uuid:    00112233-4455-6677-8899-aabbccddeeff\n"
                                 "legacy:  33F3A401\n");
  EXPECT_EQ(formatJson(r),
            "{\"token\": \"" + r.token +
                "\", \"version\": 1, \"time\": 1796861430, \"time_utc\": "
                "\"2026-12-10T00:10:30Z\", \"uuid\": "
                "\"00112233-4455-6677-8899-aabbccddeeff\", \"legacy\": \"33F3A401\"}\n");
}

}  // namespace
