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

#include "report/escape.h"
#include "report/wrap.h"
#include "support/json.h"

namespace {

using namespace inspect;

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
  probes::UuidAttempt& a = r->uuidSeen.attempts[r->uuidSeen.count++];
  a.source = probes::UuidSource::kSysfs;
  a.outcome = probes::AttemptOutcome::kFound;
  a.located = true;
  a.location.kind = probes::EntryPointKind::kSmbios3;
  a.location.version = a.location.declaredVersion = 0x030200;
  a.location.flags = probes::kTableInFile | probes::kStopAtEndOfTable;
  std::snprintf(r->legacy.data(), r->legacy.size(), "%s", "12153A58000906EA");
  r->legacyLength = 16;
  probes::LegacyIdObservation& l = r->legacySeen;
  l.scan.listed = true;
  for (const char* name : {cardName, "eth1"}) {
    probes::ScannedInterface& seen = *probes::addScannedInterface(l.scan);
    std::snprintf(seen.name.data(), seen.name.size(), "%s", name);
    seen.kind = probes::InterfaceKind::kCard;
  }
  l.cardFound = true;
  std::snprintf(l.card.data(), l.card.size(), "%s", cardName);
  l.source = probes::AddressSource::kPermanent;
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
    EXPECT_EQ(other.at("reason").text,
              std::string("ranked after ") + c.inText + " by the naming rules");

    const std::string text = formatReportText(*r);
    EXPECT_NE(text.find(std::string("    ") + c.inText + ": chosen ("), std::string::npos) << text;
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
    probes::ScannedInterface& veth = *probes::addScannedInterface(r->legacySeen.scan);
    std::snprintf(veth.name.data(), veth.name.size(), "veth%03d", i);
    veth.kind = probes::InterfaceKind::kNoDevice;
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
    probes::AttemptOutcome outcome;
    bool denied;
  };
  const Case cases[] = {
      {"every source missing", probes::AttemptOutcome::kMissing, false},
      {"a source refused", probes::AttemptOutcome::kPermissionDenied, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = std::make_unique<InspectReport>();
    r->root = false;
    r->uuidResult = -2;
    for (probes::UuidSource source :
         {probes::UuidSource::kSysfs, probes::UuidSource::kEfi, probes::UuidSource::kProductUuid}) {
      probes::UuidAttempt& a = r->uuidSeen.attempts[r->uuidSeen.count++];
      a.source = source;
      a.outcome = probes::AttemptOutcome::kMissing;
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

// The report's words for each case: nothing said that the observations
// contradict, and advice wherever there is no lasting token and the
// environment says why.
TEST(InspectText, WordsFitTheCase) {
  using probes::Container;
  using probes::EnvironmentKind;
  using probes::Hypervisor;
  using probes::Signal;
  using probes::SignalState;
  const auto addEvidence = [](InspectReport& r, Signal signal, SignalState state,
                              const std::string& value) {
    probes::Evidence& e = r.environment.evidence[r.environment.count++];
    e.signal = signal;
    e.state = state;
    std::snprintf(e.value.data(), e.value.size(), "%s", value.c_str());
  };
  const auto noUuid = [](InspectReport& r) {
    r.uuidResult = -2;
    r.uuidSeen.count = 0;
  };
  std::string accents;
  for (int i = 0; i < 200; ++i) accents += "\xc3\xa9";
  struct Case {
    const char* name;
    void (*change)(InspectReport&);
    std::vector<std::string> said;
    std::vector<std::string> notSaid;
    std::string advice;  // part of the JSON stability advice; empty: not checked
  };
  static const auto kAddEvidence = addEvidence;
  static const auto kNoUuid = noUuid;
  static const std::string kAccents = accents;
  const Case cases[] = {
      {"root refused $container of PID 1",
       [](InspectReport& r) {
         kAddEvidence(r, Signal::kPid1ContainerVariable, SignalState::kUnreadable, "");
       },
       {"$container of PID 1 (/proc/1/environ): unknown (could not be read, even by root)"},
       {"readable by root only"},
       ""},
      {"a user refused it",
       [](InspectReport& r) {
         r.root = false;
         kAddEvidence(r, Signal::kPid1ContainerVariable, SignalState::kUnreadable, "");
       },
       {"/proc/1/environ): unknown (readable by root only)"},
       {"even by root"},
       ""},
      {"a container that shows no firmware",
       [](InspectReport& r) {
         kNoUuid(r);
         r.environment.kind = EnvironmentKind::kContainer;
         r.environment.container = Container::kPodman;
       },
       {"Stability:    no-token: Run orlim on the host", "unmask=/sys/firmware"},
       {"(see above)", "firmware update"},
       "unmask=/sys/firmware"},
      {"a VM with no UUID",
       [](InspectReport& r) {
         kNoUuid(r);
         r.environment.kind = EnvironmentKind::kVm;
         r.environment.hypervisor = Hypervisor::kKvm;
       },
       {"the hypervisor shows no SMBIOS system UUID", "-smbios type=1,uuid="},
       {"firmware update"},
       "-smbios type=1,uuid="},
      {"no UUID read: only the card's part can change",
       [](InspectReport& r) { kNoUuid(r); },
       {"No UUID was read; what would change the card's part: replacing the card eth0"},
       {"What would change this identity", "firmware update"},
       ""},
      {"a VM's UUID changes with its definition",
       [](InspectReport& r) {
         r.environment.kind = EnvironmentKind::kVm;
         r.environment.hypervisor = Hypervisor::kKvm;
       },
       {"What would change this identity: a new UUID in the VM's definition"},
       {"firmware update"},
       ""},
      {"an address software gave, reported permanent",
       [](InspectReport& r) {
         r.legacySeen.address = r.legacySeen.permanent = {0x02, 0x00, 0x00, 0x12, 0x34, 0x56};
         r.legacySeen.details.hasDevice = true;
       },
       {"the address the card reports as permanent", "assigned by software"},
       {"factory"},
       ""},
      {"a maker's address",
       [](InspectReport& r) {
         r.legacySeen.address = r.legacySeen.permanent = {0x00, 0x1b, 0x21, 0x12, 0x34, 0x56};
         r.legacySeen.details.hasDevice = true;
       },
       {"the card's factory address", "What would change this identity: a firmware update"},
       {"assigned by software"},
       ""},
      {"a long DMI string with escapes, wrapped whole",
       [](InspectReport& r) {
         kAddEvidence(r, Signal::kDmiSysVendor, SignalState::kPresent,
                      "x" + kAccents.substr(0, 60) + "\x1b\x1b\x1b" + kAccents);
       },
       {"/sys/class/dmi/id/sys_vendor: \"x\xc3\xa9"},
       {},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<InspectReport> r = madeUpReport("eth0");
    r->environment.kind = EnvironmentKind::kBareMetal;
    r->legacySeen.address = r->legacySeen.permanent;
    c.change(*r);
    const std::string text = formatReportText(*r);
    // Phrases are looked for across the lines they were wrapped into.
    std::string flat;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '\n') {
        flat += text[i];
        continue;
      }
      flat += ' ';
      while (i + 1 < text.size() && text[i + 1] == ' ') ++i;
    }
    for (const std::string& phrase : c.said)
      EXPECT_NE(flat.find(phrase), std::string::npos) << phrase << "\n" << text;
    for (const std::string& phrase : c.notSaid)
      EXPECT_EQ(flat.find(phrase), std::string::npos) << phrase << "\n" << text;
    // Every line whole: valid UTF-8, no escape cut, within the width.
    std::size_t at = 0;
    while (at < text.size()) {
      const std::size_t end = text.find('\n', at);
      const std::string line = text.substr(at, end - at);
      at = end + 1;
      EXPECT_LE(report::textColumns(line), report::kReportWidth) << line;
      for (std::size_t i = 0; i < line.size();) {
        const std::size_t n = report::utf8SequenceLength(line, i);
        ASSERT_NE(n, 0u) << "a character cut: " << line;
        i += n;
      }
      const std::size_t slash = line.rfind("\\x");
      EXPECT_FALSE(slash != std::string::npos && line.size() - slash < 4) << line;
    }
    if (!c.advice.empty()) {
      std::optional<Json> report = parseJson(formatReportJson(*r));
      ASSERT_TRUE(report.has_value());
      EXPECT_NE(report->at("stability.advice").text.find(c.advice), std::string::npos)
          << report->at("stability.advice").text;
    }
  }
}

}  // namespace
