// Whole runs of the real binary: each SMBIOS source alone, the reader's
// failure codes, the legacy identifier's fallbacks, and tokens that decode
// to exactly what the scenario set up.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <ctime>

#include "decode/decode.h"
#include "support/decode_token.h"
#include "token/token_text.h"
#include "e2e/harness.h"
#include "probes/smbios_internal.h"
#include "support/smbios_builders.h"

namespace orlimtest {
namespace {

using smbiostest::Bytes;
using smbiostest::operator+;
using smbiostest::kRawUuid;
using smbiostest::kSwappedUuid;
using smbiostest::Uuid;

const char kMacLegacy[] = "12153A58";  // bytes 2..5 (00 12 34 56) plus 12, 3, 6 and 2

// workingMachine's one card, a tap: the scan takes it as the fallback name
// (it has no device), and its current address gives the legacy field.
std::vector<FakeInterface> oneCard() { return workingMachine().interfaces; }

const char kDmidecode[] = "/usr/sbin/dmidecode";

// The UUID line of `dmidecode -t 1`, lower case.
std::string dmidecodeUuid(const std::string& output) {
  std::size_t at = output.find("UUID: ");
  if (at == std::string::npos) return "(none)";
  std::string uuid = output.substr(at + 6, 36);
  for (char& ch : uuid) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return uuid;
}

// A valid entry point and table in the legacy BIOS window of /dev/mem, and no
// other source.
Scenario legacyWindow() {
  const Bytes tableBytes = smbiostest::type1(kRawUuid) + smbiostest::endOfTable();
  const auto length16 = static_cast<std::uint16_t>(tableBytes.size());
  Scenario scan;
  scan.devMem = smbiostest::MemoryImage(1u << 20)
                    .put(0xF5A30, smbiostest::smbios2EntryPoint(2, 8, length16, 0xE0000, 0))
                    .put(0xE0000, tableBytes);
  return scan;
}

struct SourceCase {
  const char* name;
  Scenario scenario;
  Uuid expected;
  // How dmidecode reaches the same table, for an independent reading of
  // the UUID; empty where it has no such way (the product UUID text).
  std::vector<std::string> dmidecodeArgs;
  const char* inspectSource;  // what orlim-inspect names as uuid.source
};

std::vector<SourceCase> sourceCases() {
  std::vector<SourceCase> cases;
  const Bytes tableBytes = smbiostest::type1(kRawUuid) + smbiostest::endOfTable();
  const auto length16 = static_cast<std::uint16_t>(tableBytes.size());

  cases.push_back({"SysfsTables", workingMachine(), kSwappedUuid, {"-t", "1"}, "sysfs"});

  Scenario efi;
  efi.efiSystab = "ACPI20=0x7ffd0000\nSMBIOS=0x7ff00000\n";
  efi.devMem = smbiostest::MemoryImage(0x80000000)
                   .put(0x7ff00000, smbiostest::smbios2EntryPoint(2, 4, length16, 0x7ff10000, 2))
                   .put(0x7ff10000, tableBytes);
  // 2.4: raw order
  cases.push_back({"EfiSystemTable", efi, kRawUuid, {"--no-sysfs", "-t", "1"}, "efi"});

  if constexpr (probes::kHasLegacyBiosArea)
    cases.push_back(
        {"MemoryScan", legacyWindow(), kSwappedUuid, {"--no-sysfs", "-t", "1"}, "memory-scan"});

  Scenario text;
  text.productUuid = "00112233-4455-6677-8899-AABBCCDDEEFF\n";
  cases.push_back({"ProductUuidText", text, kRawUuid, {}, "product-uuid"});

  for (SourceCase& c : cases) c.scenario.interfaces = oneCard();
  return cases;
}

TEST(Token, EachSourceAloneDecodesToTheScenario) {
  for (const SourceCase& c : sourceCases()) {
    SCOPED_TRACE(c.name);
    std::vector<Command> commands = {{{orlimBinary(), "-u", "-v"}}};
    if (!c.dmidecodeArgs.empty()) {
      commands.push_back({{kDmidecode}});
      commands.back().argv.insert(commands.back().argv.end(), c.dmidecodeArgs.begin(),
                                  c.dmidecodeArgs.end());
    }
    commands.push_back({{inspectBinary(), "--json"}});
    auto before = static_cast<std::uint32_t>(std::time(nullptr));
    std::vector<RunResult> runs = runScenario(c.scenario, commands);
    auto after = static_cast<std::uint32_t>(std::time(nullptr));
    ASSERT_EQ(runs.size(), commands.size()) << runs.front().err;
    const RunResult& r = runs.front();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(r.out.size(), 59u) << r.out;
    EXPECT_EQ(r.out.find_first_not_of("0123456789ABCDEF"), 58u);

    DecodeResult token = decodeToken(r.out);
    ASSERT_EQ(token.status, DecodeStatus::kOk) << describeFailure(token);
    EXPECT_EQ(token.fields.version, 1);
    EXPECT_GE(token.fields.time, before);
    EXPECT_LE(token.fields.time, after);
    EXPECT_EQ(formatUuid(token.fields.uuid), formatUuid(c.expected));
    EXPECT_EQ(std::string(token.fields.legacy.begin(), token.fields.legacy.end()), kMacLegacy);
    if (runs.size() > 2) {
      EXPECT_EQ(dmidecodeUuid(runs[1].out), formatUuid(c.expected)) << runs[1].out;
    }
    std::optional<Json> report = expectInspectAgrees(r, runs.back());
    if (report) {
      EXPECT_EQ(report->at("uuid.source").text, c.inspectSource);
      EXPECT_EQ(report->at("network.card").text, "eth0");
      EXPECT_EQ(report->at("network.address_source").text, "current");
    }
  }
}

struct FailureCase {
  const char* name;
  Scenario scenario;
  std::string out;
  std::string err;  // with -v
};

TEST(Token, FailuresAreReportedWithBothNumbers) {
  std::vector<FailureCase> cases;

  Scenario legacyDmi;  // the EFI address leads to a legacy entry point, which it may not
  legacyDmi.efiSystab = "SMBIOS=0x10000\n";
  legacyDmi.devMem = smbiostest::MemoryImage(1u << 20).put(
      0x10000, smbiostest::dmiEntryPoint(0x21, 64, 0x20000, 1));
  legacyDmi.interfaces = oneCard();
  cases.push_back({"EntryPointNotSmbios", legacyDmi, "", "Failure reading system ID (-1/16)\n"});

  Scenario noLine;
  noLine.efiSystab = "ACPI20=0x7ffd0000\nSMBIOS3 =0x10000\n";
  noLine.interfaces = oneCard();
  cases.push_back({"SystabWithoutSmbiosLine", noLine, "", "Failure reading system ID (-2/16)\n"});

  if constexpr (!probes::kHasLegacyBiosArea) {
    // No legacy BIOS area to search: what lies there is never read.
    Scenario window = legacyWindow();
    window.interfaces = oneCard();
    cases.push_back({"NoWindowScan", window, "", "Failure reading system ID (-2/16)\n"});
  }

  Scenario noCard;
  noCard.productUuid = "00112233-4455-6677-8899-AABBCCDDEEFF\n";
  cases.push_back(
      {"OnlyLoopback", noCard, "", std::string(kNoCard) + "Failure reading system ID (0/10)\n"});

  Scenario noListing = noCard;
  noListing.hideNetworkListing = true;
  cases.push_back({"NoInterfaceListing", noListing, "Unable to read interfaces list\n",
                   std::string(kNoCard) + "Failure reading system ID (0/10)\n"});

  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    RunResult r = runOrlim(c.scenario, {"-u", "-v"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
}

TEST(Token, TwoRunsInOneSecondAgree) {
  Scenario s = workingMachine();
  for (int attempt = 0; attempt < 3; ++attempt) {
    auto before = std::time(nullptr);
    std::vector<RunResult> runs =
        runScenario(s, {{{orlimBinary(), "-u"}}, {{orlimBinary(), "-u"}}});
    if (std::time(nullptr) != before) continue;  // crossed a second boundary: try again
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].out, runs[1].out);
    return;
  }
  GTEST_SKIP() << "every attempt crossed a second boundary";
}

}  // namespace
}  // namespace orlimtest
