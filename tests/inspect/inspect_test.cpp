// orlim-inspect's report from observations made up here: the JSON stays one
// valid object whatever bytes an interface name holds, and the contract keys
// carry what the observations say.

#include "inspect/inspect.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "support/json.h"

namespace {

using orlimtest::Json;
using orlimtest::parseJson;

TEST(InspectJsonEscape, EveryByteOutsidePrintableAsciiIsEscaped) {
  struct Case {
    const char* text;
    const char* escaped;
  };
  const Case cases[] = {
      {"eth0", "eth0"},    {"a\"b", "a\\\"b"},
      {"a\\b", "a\\\\b"},  {"tab\there", "tab\\u0009here"},
      {"\x7f", "\\u007f"}, {"\xc3\xa9", "\\u00c3\\u00a9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(jsonEscape(c.text), c.escaped);
  }
}

// A machine whose UUID came from sysfs and whose chosen card has an awkward
// name, with a second card ranked after it.
std::unique_ptr<InspectReport> madeUpReport(const char* cardName) {
  auto r = std::make_unique<InspectReport>();
  r->root = true;
  r->uuidResult = 0;
  r->uuid = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
             0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  smbios::UuidAttempt& a = r->uuidSeen.attempts[r->uuidSeen.count++];
  a.source = smbios::UuidSource::kSysfs;
  a.outcome = smbios::AttemptOutcome::kFound;
  a.located = true;
  a.location.kind = smbios::EntryPointKind::kSmbios3;
  a.location.version = a.location.declaredVersion = 0x030200;
  a.location.flags = smbios::kTableInFile | smbios::kStopAtEndOfTable;
  std::snprintf(r->legacy.data(), r->legacy.size(), "%s", "12153A58000906EA");
  r->legacyLength = 16;
  LegacyIdObservation& l = r->legacySeen;
  l.scan.listed = true;
  for (const char* name : {cardName, "eth1"}) {
    JudgedInterface& seen = l.scan.interfaces[l.scan.count++];
    std::snprintf(seen.name.data(), seen.name.size(), "%s", name);
    seen.verdict = InterfaceVerdict::kCard;
  }
  l.cardFound = true;
  std::snprintf(l.card.data(), l.card.size(), "%s", cardName);
  l.source = AddressSource::kPermanent;
  l.permanentFound = l.currentFound = true;
  l.permanent = {0x52, 0x54, 0x00, 0x12, 0x34, 0x56};
  l.current = {0x52, 0x54, 0x00, 0x12, 0x34, 0x57};
  return r;
}

TEST(InspectJson, AwkwardNamesStayOneValidObject) {
  for (const char* name : {"eth0", "e\"th\\0", "e\x01th\xff"}) {
    SCOPED_TRACE(name);
    const std::string json = formatReportJson(*madeUpReport(name));
    ASSERT_EQ(json.back(), '\n');
    EXPECT_EQ(json.find('\n'), json.size() - 1) << "one line";
    std::optional<Json> report = parseJson(json);
    ASSERT_TRUE(report.has_value()) << json;
    EXPECT_EQ(report->at("network.card").text, name);
    ASSERT_EQ(report->at("network.interfaces").items.size(), 2u);
    EXPECT_EQ(report->at("network.interfaces").items[0].at("name").text, name);
    EXPECT_EQ(report->at("network.interfaces").items[0].at("verdict").text, "chosen");
    EXPECT_EQ(report->at("network.interfaces").items[1].at("verdict").text, "passed over");
    EXPECT_EQ(report->at("network.address_source").text, "permanent");
    EXPECT_TRUE(report->at("network.addresses_differ").boolean);
    EXPECT_EQ(report->at("uuid.source").text, "sysfs");
    EXPECT_EQ(report->at("uuid.smbios_version").text, "3.2.0");
    EXPECT_EQ(report->at("uuid.byte_order").text, "swapped");
    EXPECT_EQ(report->at("token_fields.uuid").text, "33221100-5544-7766-8899-aabbccddeeff");
    EXPECT_EQ(report->at("token_fields.legacy").text, "12153A58");
    EXPECT_EQ(report->at("token_fields.version").text, "1");
  }
}

TEST(InspectJson, NoTokenFieldsWhereOrlimWouldPrintNone) {
  struct Case {
    const char* name;
    bool root;
    int uuidResult;
    const char* legacy;
  };
  const Case cases[] = {
      {"not root", false, 0, "12153A58000906EA"},
      {"no UUID", true, -1, "12153A58000906EA"},
      {"no card address", true, 0, "1234567890"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<InspectReport> r = madeUpReport("eth0");
    r->root = c.root;
    r->uuidResult = c.uuidResult;
    r->legacyLength = static_cast<int>(std::strlen(c.legacy));
    std::snprintf(r->legacy.data(), r->legacy.size(), "%s", c.legacy);
    std::optional<Json> report = parseJson(formatReportJson(*r));
    ASSERT_TRUE(report.has_value());
    EXPECT_TRUE(report->at("token_fields").isNull());
    EXPECT_EQ(report->at("legacy").text, c.legacy);
  }
}

}  // namespace
