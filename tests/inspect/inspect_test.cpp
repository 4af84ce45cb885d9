// orlim-inspect's report from observations made up here: the JSON stays one
// valid object whatever bytes an interface name holds, and the contract keys
// carry what the observations say.

#include "inspect/inspect.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/json.h"

namespace {

using orlimtest::Json;
using orlimtest::parseJson;

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
    JudgedInterface& seen = *addJudgedInterface(l.scan);
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

// Names as the system gave them: JSON keeps valid UTF-8 and escapes
// control characters (an invalid byte becomes U+FFFD), the text shows
// controls and invalid bytes as \xNN so nothing reaches the terminal raw.
TEST(InspectReport, AwkwardNamesByOnePolicy) {
  struct Case {
    const char* name;
    const char* fromJson;  // the name as a JSON reader gets it back
    const char* inText;
  };
  const Case cases[] = {
      {"eth0", "eth0", "eth0"},
      {"e\"th\\0", "e\"th\\0", "e\"th\\\\0"},
      {"caf\xc3\xa9", "caf\xc3\xa9", "caf\xc3\xa9"},
      {"e\x1b[31mx\x07", "e\x1b[31mx\x07", "e\\x1b[31mx\\x07"},
      {"e\x01th\xff", "e\x01th\xef\xbf\xbd", "e\\x01th\\xff"},
      // Invisible ones: one name must not read as another, nor turn the
      // rest of the line around.
      {"eth0\xe2\x80\x8b", "eth0\xe2\x80\x8b", "eth0\\u200b"},
      {"e\xe2\x80\xae" "0ht", "e\xe2\x80\xae" "0ht", "e\\u202e0ht"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inText);
    std::unique_ptr<InspectReport> r = madeUpReport(c.name);
    const std::string json = formatReportJson(*r);
    ASSERT_EQ(json.back(), '\n');
    EXPECT_EQ(json.find('\n'), json.size() - 1) << "one line";
    std::optional<Json> report = parseJson(json);
    ASSERT_TRUE(report.has_value()) << json;
    EXPECT_EQ(report->at("network.card").text, c.fromJson);
    ASSERT_EQ(report->at("network.interfaces").items.size(), 2u);
    const Json& chosen = report->at("network.interfaces").items[0];
    EXPECT_EQ(chosen.at("name").text, c.fromJson);
    EXPECT_EQ(chosen.at("verdict").text, "chosen");
    EXPECT_EQ(chosen.at("reason_id").text, "first-card");
    const Json& other = report->at("network.interfaces").items[1];
    EXPECT_EQ(other.at("verdict").text, "passed-over");
    EXPECT_EQ(other.at("reason_id").text, "ranked-after");
    EXPECT_EQ(other.at("reason").text, std::string("ranked after ") + c.inText +
                                           " by the naming rules");

    const std::string text = formatReportText(*r);
    EXPECT_NE(text.find(std::string("    ") + c.inText + ": chosen ("), std::string::npos)
        << text;
    EXPECT_NE(text.find(std::string("  Chosen card:  ") + c.inText + "\n"), std::string::npos);
    for (char control : {'\x01', '\x07', '\x1b'})
      EXPECT_EQ(text.find(control), std::string::npos) << "a control character reached the text";
  }
}

TEST(InspectJson, ContractKeysCarryTheObservations) {
  const std::string json = formatReportJson(*madeUpReport("eth0"));
  std::optional<Json> report = parseJson(json);
  ASSERT_TRUE(report.has_value()) << json;
  EXPECT_EQ(report->at("network.address_source").text, "permanent");
  EXPECT_TRUE(report->at("network.addresses_differ").boolean);
  EXPECT_EQ(report->at("uuid.source").text, "sysfs");
  EXPECT_EQ(report->at("uuid.smbios_version").text, "3.2.0");
  EXPECT_EQ(report->at("uuid.byte_order").text, "swapped");
  EXPECT_EQ(report->at("uuid.attempts").items.at(0).at("outcome").text, "found");
  EXPECT_EQ(report->at("uuid.attempts_not_listed").text, "0");
  EXPECT_EQ(report->at("token_fields.uuid").text, "33221100-5544-7766-8899-aabbccddeeff");
  EXPECT_EQ(report->at("token_fields.legacy").text, "12153A58");
  EXPECT_EQ(report->at("token_fields.version").text, "1");
}

// The signature as the text shows it: hex, the eight digits that end the
// legacy identifier, and named for what it is on this architecture.
TEST(InspectReport, CpuSignatureAsTheTextShowsIt) {
  std::unique_ptr<InspectReport> r = madeUpReport("eth0");
  r->legacySeen.signature = 0x1000906EALL;  // only the low 32 bits are shown
  std::optional<Json> report = parseJson(formatReportJson(*r));
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(report->at("cpu_signature").kind, Json::Kind::kString);
  EXPECT_EQ(report->at("cpu_signature").text, "000906EA");
  const std::string text = formatReportText(*r);
  EXPECT_NE(text.find("    000906EA: low 32 bits of the CPU signature ("), std::string::npos)
      << text;
#if defined(__aarch64__)
  EXPECT_EQ(report->at("cpu_signature_kind").text, "midr-el1");
  EXPECT_NE(text.find("(MIDR_EL1 of CPU 0)"), std::string::npos) << text;
  EXPECT_EQ(text.find("CPUID"), std::string::npos) << text;
#else
  EXPECT_EQ(report->at("cpu_signature_kind").text, "cpuid-leaves-0-4");
  EXPECT_NE(text.find("(CPUID leaves 0 to 4)"), std::string::npos) << text;
#endif
}

// Hundreds of interfaces (a container host's veths) are all listed, in
// both forms.
TEST(InspectReport, EveryInterfaceListed) {
  std::unique_ptr<InspectReport> r = madeUpReport("eth0");
  for (int i = 0; i < 201; ++i) {
    JudgedInterface& veth = *addJudgedInterface(r->legacySeen.scan);
    std::snprintf(veth.name.data(), veth.name.size(), "veth%03d", i);
    veth.verdict = InterfaceVerdict::kNoDevice;
  }
  std::optional<Json> report = parseJson(formatReportJson(*r));
  ASSERT_TRUE(report.has_value());
  const std::vector<Json>& listed = report->at("network.interfaces").items;
  ASSERT_EQ(listed.size(), 203u);
  EXPECT_EQ(listed.back().at("name").text, "veth200");
  EXPECT_EQ(listed.back().at("reason_id").text, "no-device");
  EXPECT_EQ(report->at("network.interfaces_not_listed").text, "0");
  const std::string text = formatReportText(*r);
  EXPECT_NE(text.find("    veth200: passed over (no device (virtual interface))\n"),
            std::string::npos);
  EXPECT_EQ(text.find("not listed"), std::string::npos);

  // Only memory running out leaves some out, and then they are counted.
  r->legacySeen.scan.dropped = 3;
  report = parseJson(formatReportJson(*r));
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(report->at("network.interfaces").items.size(), 203u);
  EXPECT_EQ(report->at("network.interfaces_not_listed").text, "3");
  EXPECT_NE(formatReportText(*r).find("    (3 more interfaces not listed"), std::string::npos);
}

// "permission denied" only where a source said so.
TEST(InspectText, NonRootSaysWhatItSaw) {
  struct Case {
    const char* name;
    smbios::AttemptOutcome outcome;
    bool denied;
  };
  const Case cases[] = {
      {"every source missing", smbios::AttemptOutcome::kMissing, false},
      {"a source refused", smbios::AttemptOutcome::kPermissionDenied, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = std::make_unique<InspectReport>();
    r->root = false;
    r->uuidResult = -2;
    for (smbios::UuidSource source : {smbios::UuidSource::kSysfs, smbios::UuidSource::kEfi,
                                      smbios::UuidSource::kProductUuid}) {
      smbios::UuidAttempt& a = r->uuidSeen.attempts[r->uuidSeen.count++];
      a.source = source;
      a.outcome = smbios::AttemptOutcome::kMissing;
      a.path = "/x";
    }
    r->uuidSeen.attempts[1].outcome = c.outcome;
    std::snprintf(r->legacy.data(), r->legacy.size(), "%s", "1234567890");
    r->legacyLength = 10;
    const std::string text = formatReportText(*r);
    EXPECT_EQ(text.find("permission denied") != std::string::npos, c.denied) << text;
    EXPECT_NE(text.find("No token: orlim needs root"), std::string::npos) << text;
    std::optional<Json> report = parseJson(formatReportJson(*r));
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->at("uuid.attempts").items.at(1).at("outcome").text,
              c.denied ? "permission-denied" : "missing");
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
