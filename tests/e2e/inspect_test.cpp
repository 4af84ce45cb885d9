// orlim-inspect on machines set up to fail in one way each: the report names
// the reason, and still agrees with what orlim does there. (Every scenario
// that runs orlim through runOrlim also checks the agreement itself.)

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "decode/decode.h"
#include "e2e/harness.h"
#include "report/escape.h"
#include "probes/smbios_internal.h"
#include "support/smbios_builders.h"

namespace orlimtest {
namespace {

using smbiostest::Bytes;
using smbiostest::operator+;
using smbiostest::kRawUuid;

// One expected UUID attempt: its source and outcome.
struct Attempt {
  std::string source;
  std::string outcome;
};

struct InterfaceLine {
  std::string name;
  std::string verdict;
  std::string reasonStart;  // the reason begins with this
};

struct ReasonCase {
  const char* name = "";
  Scenario scenario;
  bool asNobody = false;
  std::vector<Attempt> attempts;          // the whole list, in order
  std::string source;                     // uuid.source; empty: null
  std::string card;                       // network.card; empty: null
  std::string addressSource;              // network.address_source; empty: null
  std::vector<InterfaceLine> interfaces;  // the whole list, in order
  std::string textHas;                    // a phrase the text report must hold
  std::string textLacks;                  // one it must not; empty: no such check
};

std::vector<ReasonCase> reasonCases() {
  const Bytes goodTable = smbiostest::type1(kRawUuid) + smbiostest::endOfTable();
  const auto goodLength = static_cast<std::uint16_t>(goodTable.size());
  std::vector<ReasonCase> cases;

  ReasonCase none;
  none.name = "NoFirmwareSource";
  none.scenario.interfaces = workingMachine().interfaces;
  none.attempts = {{"sysfs", "missing"},
                   {"efi", "missing"},
                   {"memory-scan", "missing"},
                   {"product-uuid", "missing"}};
  none.card = "eth0";
  none.addressSource = "current";
  none.interfaces = {{"eth0", "chosen", "no card has a device"}, {"lo", "passed-over", "loopback"}};
  none.textHas = "UUID:         none (result -2)";
  cases.push_back(none);

  // A type-1 structure whose UUID is all FF; the product text then answers.
  ReasonCase allFF;
  allFF.name = "AllFFUuidTable";
  const Bytes ffTable =
      smbiostest::type1(smbiostest::uuidFilledWith(0xFF)) + smbiostest::endOfTable();
  allFF.scenario = workingMachine();
  allFF.scenario.smbiosEntryPoint =
      text(smbiostest::smbios3EntryPoint(3, 0, static_cast<std::uint32_t>(ffTable.size()), 0));
  allFF.scenario.dmiTable = text(ffTable);
  allFF.scenario.productUuid = kProductUuid;
  allFF.attempts = {{"sysfs", "uuid-all-ff"},
                    {"efi", "missing"},
                    {"memory-scan", "missing"},
                    {"product-uuid", "found"}};
  allFF.source = "product-uuid";
  allFF.card = "eth0";
  allFF.addressSource = "current";
  allFF.interfaces = none.interfaces;
  allFF.textHas = "sysfs entry point: all-FF UUID";
  cases.push_back(allFF);

  // The sysfs entry point's checksum is off by one; the legacy window holds
  // a good one.
  ReasonCase checksum;
  checksum.name = "ChecksumFailureThenNextSource";
  Bytes badEntryPoint = smbiostest::smbios3EntryPoint(3, 0, goodLength, 0);
  badEntryPoint[5] = static_cast<std::uint8_t>(badEntryPoint[5] + 1);
  checksum.scenario = workingMachine();
  checksum.scenario.smbiosEntryPoint = text(badEntryPoint);
  checksum.scenario.devMem =
      smbiostest::MemoryImage(1u << 20)
          .put(0xF5A30, smbiostest::smbios2EntryPoint(2, 31, goodLength, 0xE0000, 0))
          .put(0xE0000, goodTable);
  checksum.attempts = {{"sysfs", "entry-point-invalid"},
                       {"efi", "missing"},
                       {"memory-scan", "found"}};
  checksum.source = "memory-scan";
  checksum.card = "eth0";
  checksum.addressSource = "current";
  checksum.interfaces = none.interfaces;
  // 2.31 is a known slip for 2.3: the version rule then keeps the raw order.
  checksum.textHas = "the entry point says 2.31, a known firmware slip, read as 2.3";
  cases.push_back(checksum);

  ReasonCase noCard;
  noCard.name = "NoCard";
  noCard.scenario.productUuid = kProductUuid;
  noCard.attempts = {{"sysfs", "missing"},
                     {"efi", "missing"},
                     {"memory-scan", "missing"},
                     {"product-uuid", "found"}};
  noCard.source = "product-uuid";
  noCard.interfaces = {{"lo", "passed-over", "loopback"}};
  noCard.textHas = "Chosen card:  none";
  cases.push_back(noCard);

  // Virtual cards only: a tun without any hardware address, a bridge and a
  // tap. The first with an address stands in; "dummy" and hidden names never count.
  ReasonCase virtualOnly;
  virtualOnly.name = "OnlyVirtualCards";
  virtualOnly.scenario.productUuid = kProductUuid;
  virtualOnly.scenario.interfaces = {tunInterface("aaa0"),
                                     bridgeInterface("br0").withMac("52:54:00:00:00:01"),
                                     tapInterface("dummy0").withMac("52:54:00:00:00:02"),
                                     tapInterface(".hidden").withMac("52:54:00:00:00:03"),
                                     tapInterface("tap0").withMac("52:54:00:00:00:04")};
  virtualOnly.attempts = noCard.attempts;
  virtualOnly.source = "product-uuid";
  virtualOnly.card = "br0";
  virtualOnly.addressSource = "current";
  virtualOnly.interfaces = {
      {".hidden", "passed-over", "hidden name"}, {"aaa0", "passed-over", "no address"},
      {"br0", "chosen", "no card has a device"}, {"dummy0", "passed-over", "filtered name"},
      {"lo", "passed-over", "loopback"},         {"tap0", "passed-over", "no device"}};
  virtualOnly.textHas = "br0: chosen";
  cases.push_back(virtualOnly);

  // A card with a device, ranked by the naming rules ahead of a Wi-Fi card
  // and a bridge that come first in byte order.
  ReasonCase ranked;
  ranked.name = "CardRankedByNamingRules";
  ranked.scenario = workingMachine();
  ranked.scenario.interfaces = {
      bridgeInterface("docker0").withMac("52:54:00:00:00:05"),
      tapInterface("abc0").withMac("52:54:00:00:00:06").withBacking(Backing::kWirelessDir),
      tapInterface("eth1").withMac("52:54:00:00:00:07").withBacking(Backing::kDeviceDir)};
  ranked.attempts = {{"sysfs", "found"}};
  ranked.source = "sysfs";
  ranked.card = "eth1";
  ranked.addressSource = "current";
  ranked.interfaces = {{"eth1", "chosen", "first card with an address and a device"},
                       {"abc0", "passed-over", "ranked after eth1"},
                       {"docker0", "passed-over", "no device"},
                       {"lo", "passed-over", "loopback"}};
  ranked.textHas = "SMBIOS 3.0.0";
  cases.push_back(ranked);

  // Not root: the firmware files are root's, as the kernel makes them.
  ReasonCase nobody;
  nobody.name = "NonRoot";
  nobody.scenario = workingMachine();
  nobody.scenario.productUuid = kProductUuid;
  nobody.asNobody = true;
  nobody.attempts = {{"sysfs", "permission-denied"},
                     {"efi", "missing"},
                     {"memory-scan", "missing"},
                     {"product-uuid", "permission-denied"}};
  nobody.card = "eth0";
  nobody.addressSource = "current";
  nobody.interfaces = none.interfaces;
  nobody.textHas = "(\"permission denied\" above)";
  cases.push_back(nobody);

  // Not root on a machine without firmware files: nothing was denied, and
  // the text says only what it saw.
  ReasonCase nobodyNothing;
  nobodyNothing.name = "NonRootEverySourceMissing";
  nobodyNothing.scenario.interfaces = workingMachine().interfaces;
  nobodyNothing.asNobody = true;
  nobodyNothing.attempts = none.attempts;
  nobodyNothing.card = "eth0";
  nobodyNothing.addressSource = "current";
  nobodyNothing.interfaces = none.interfaces;
  nobodyNothing.textHas = "No token: orlim needs root, and this user is not root.";
  nobodyNothing.textLacks = "permission denied";
  cases.push_back(nobodyNothing);

  // A FIFO where the EFI system table belongs is named, with its path.
  ReasonCase fifo;
  fifo.name = "EfiSystabFifo";
  fifo.scenario.interfaces = workingMachine().interfaces;
  fifo.scenario.productUuid = kProductUuid;
  fifo.scenario.fifos = {"/sys/firmware/efi/systab"};
  fifo.attempts = {{"sysfs", "missing"},
                   {"efi", "not-a-file-or-device"},
                   {"memory-scan", "missing"},
                   {"product-uuid", "found"}};
  fifo.source = "product-uuid";
  fifo.card = "eth0";
  fifo.addressSource = "current";
  fifo.interfaces = none.interfaces;
  fifo.textHas = "EFI system table: not a regular file or device (a FIFO, socket, directory "
                 "or block device where firmware data belongs) [/sys/firmware/efi/systab]";
  cases.push_back(fifo);
  return cases;
}

std::string nullOr(const std::string& value) { return value.empty() ? "(null)" : value; }
std::string nullOr(const Json& value) { return value.isNull() ? "(null)" : value.text; }

TEST(Inspect, NamesTheReason) {
  for (const ReasonCase& c : reasonCases()) {
    SCOPED_TRACE(c.name);
    // Where there is no legacy BIOS area (ARM) the window is never read: a
    // row whose UUID comes from it has no counterpart there.
    if (!probes::kHasLegacyBiosArea && c.source == "memory-scan") continue;
    std::vector<RunResult> runs =
        runScenario(c.scenario, {{{orlimBinary(), "-u", "-v"}, c.asNobody},
                                 {{inspectBinary(), "--json"}, c.asNobody},
                                 {{inspectBinary()}, c.asNobody}});
    ASSERT_EQ(runs.size(), 3u) << runs.front().err;
    std::optional<Json> report = expectInspectAgrees(runs[0], runs[1], c.asNobody);
    ASSERT_TRUE(report.has_value());

    const Json& attempts = report->at("uuid.attempts");
    std::vector<std::string> got, want;
    for (const Json& a : attempts.items)
      got.push_back(a.at("source").text + ": " + a.at("outcome").text);
    for (const Attempt& a : c.attempts) {
      if (probes::kHasLegacyBiosArea || a.source != "memory-scan") {
        want.push_back(a.source + ": " + a.outcome);
      } else if (want.empty() || want.back() != "memory-scan: not-tried") {
        want.push_back("memory-scan: not-tried");  // one line, whatever the window held
      }
    }
    EXPECT_EQ(got, want);
    EXPECT_EQ(nullOr(report->at("uuid.source")), nullOr(c.source));
    EXPECT_EQ(nullOr(report->at("network.card")), nullOr(c.card));
    EXPECT_EQ(nullOr(report->at("network.address_source")), nullOr(c.addressSource));

    const Json& interfaces = report->at("network.interfaces");
    ASSERT_EQ(interfaces.items.size(), c.interfaces.size()) << runs[1].out;
    for (std::size_t i = 0; i < c.interfaces.size(); ++i) {
      const Json& seen = interfaces.items[i];
      EXPECT_EQ(seen.at("name").text, c.interfaces[i].name);
      EXPECT_EQ(seen.at("verdict").text, c.interfaces[i].verdict) << c.interfaces[i].name;
      EXPECT_EQ(seen.at("reason").text.rfind(c.interfaces[i].reasonStart, 0), 0u)
          << c.interfaces[i].name << ": " << seen.at("reason").text;
    }

    const RunResult& textRun = runs[2];
    EXPECT_EQ(textRun.status, 0);
    EXPECT_EQ(textRun.err, "");
    for (const char* block : {"Firmware UUID\n", "\nNetwork card\n", "\nIdentity\n"})
      EXPECT_NE(textRun.out.find(block), std::string::npos) << block;
    EXPECT_NE(textRun.out.find(c.textHas), std::string::npos) << textRun.out;
    if (!c.textLacks.empty()) {
      EXPECT_EQ(textRun.out.find(c.textLacks), std::string::npos) << textRun.out;
    }
  }
}

// What orlim-decode prints for a label, as JSON string contents or as text.
std::string decodedLabel(const std::string& label, const std::string& token, bool json) {
  const int in = ::memfd_create("in", MFD_CLOEXEC);
  const int out = ::memfd_create("out", MFD_CLOEXEC);
  const std::string line = label + " " + token;
  EXPECT_EQ(::write(in, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  ::lseek(in, 0, SEEK_SET);
  DecodeIo io;
  io.in = in;
  io.out = out;
  DecodeOptions options;
  options.json = json;
  options.now = ::time(nullptr);
  {
    DecoderOwner decoder = makeDecoder(options, io);
    decodeStream(*decoder);
    finishDecoder(*decoder);
  }
  std::string printed(4096, '\0');
  const ssize_t n = ::pread(out, printed.data(), printed.size(), 0);
  printed.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  ::close(in);
  ::close(out);
  const std::string start = json ? "{\"label\": \"" : "label:   ";
  if (printed.rfind(start, 0) != 0) return "(no label: " + printed + ")";
  return printed.substr(start.size(), printed.find(json ? "\"," : "\n") - start.size());
}

// A container host's hundreds of veths all listed in both forms, and names
// holding ESC and BEL or UTF-8 shown by the one policy both tools share.
TEST(Inspect, EveryInterfaceAndOddNames) {
  const std::string escBel = "e\x1b[31m\x07";
  const std::string cafe = "caf\xc3\xa9";
  Scenario scenario = workingMachine();
  scenario.interfaces.push_back(vethPair(escBel, cafe));
  scenario.interfaces.push_back(tapInterface("tap0"));
  for (int i = 0; i < 99; ++i) {
    char name[16], peer[16];
    std::snprintf(name, sizeof name, "veth%03d", i);
    std::snprintf(peer, sizeof peer, "vpeer%03d", i);
    scenario.interfaces.push_back(vethPair(name, peer));
  }
  std::vector<RunResult> runs = runScenario(
      scenario, {{{orlimBinary(), "-u", "-v"}}, {{inspectBinary(), "--json"}}, {{inspectBinary()}}});
  ASSERT_EQ(runs.size(), 3u) << runs.front().err;
  std::optional<Json> report = expectInspectAgrees(runs[0], runs[1]);
  ASSERT_TRUE(report.has_value());

  // lo, eth0, tap0, the odd pair and 99 more pairs: 203.
  const std::vector<Json>& listed = report->at("network.interfaces").items;
  EXPECT_EQ(listed.size(), 203u);
  std::vector<std::string> names;
  for (const Json& seen : listed) names.push_back(seen.at("name").text);
  for (const std::string& name : {escBel, cafe, std::string("veth098"), std::string("vpeer098")})
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;

  const std::string& json = runs[1].out;
  const std::string& text = runs[2].out;
  EXPECT_EQ(runs[2].status, 0);
  std::size_t lines = 0;
  for (std::size_t at = 0; (at = text.find("\n    ", at)) != std::string::npos; ++at)
    if (text.find(": passed over (", at) < text.find('\n', at + 1) ||
        text.find(": chosen (", at) < text.find('\n', at + 1))
      ++lines;
  EXPECT_EQ(lines, 203u) << text;
  for (char control : {'\x1b', '\x07'}) {
    EXPECT_EQ(text.find(control), std::string::npos) << "raw control in the text";
    EXPECT_EQ(json.find(control), std::string::npos) << "raw control in the JSON";
  }
  EXPECT_NE(json.find("\"name\": \"caf\xc3\xa9\""), std::string::npos) << "UTF-8 kept";

  // The same bytes as orlim-decode labels come out the same in both forms.
  const std::string token = runs[0].out.substr(0, runs[0].out.find('\n'));
  for (const std::string& name : {escBel, cafe}) {
    SCOPED_TRACE(report::escapeText(name));
    const std::string inJson = decodedLabel(name, token, true);
    EXPECT_EQ(inJson, report::escapeJson(name));
    EXPECT_NE(json.find("\"name\": \"" + inJson + "\""), std::string::npos) << inJson;
    const std::string inText = decodedLabel(name, token, false);
    EXPECT_EQ(inText, report::escapeText(name));
    EXPECT_NE(text.find("\n    " + inText + ": "), std::string::npos) << inText;
  }
}

TEST(Inspect, CommandLine) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string outStart;
    std::string err;  // the first line of standard error
  };
  // -h, --help and --version as orlim-decode and orlim-fleet take them; a
  // usage error is two lines on standard error.
  const Case cases[] = {
      {{"--help"}, 0, "Usage: orlim-inspect [--json]\n", ""},
      {{"-h"}, 0, "Usage: orlim-inspect [--json]\n", ""},
      {{"--json", "-h"}, 0, "Usage: orlim-inspect [--json]\n", ""},
      {{"--version"}, 0, "orlim-inspect ", ""},
      {{"-u"}, 2, "", "orlim-inspect: unknown option '-u'"},
      {{"--json", "extra"}, 2, "", "orlim-inspect: unexpected argument 'extra'"},
      {{"--", "extra"}, 2, "", "orlim-inspect: unexpected argument 'extra'"},
      {{"--json=1"}, 2, "", "orlim-inspect: option '--json=1' takes no value"},
  };
  std::vector<Command> commands;
  for (const Case& c : cases) {
    commands.push_back({{inspectBinary()}});
    commands.back().argv.insert(commands.back().argv.end(), c.args.begin(), c.args.end());
  }
  std::vector<RunResult> runs = runScenario(Scenario{}, commands);
  ASSERT_EQ(runs.size(), std::size(cases)) << runs.front().err;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    SCOPED_TRACE(testing::PrintToString(cases[i].args));
    EXPECT_EQ(runs[i].status, cases[i].status);
    EXPECT_EQ(runs[i].out.rfind(cases[i].outStart, 0), 0u) << runs[i].out;
    if (cases[i].err.empty())
      EXPECT_EQ(runs[i].err, "");
    else
      EXPECT_EQ(runs[i].err,
                cases[i].err + "\nTry 'orlim-inspect --help' for more information.\n");
  }
}

TEST(Inspect, LostOutputIsAFailure) {
  // /dev/full takes nothing: exit 1, and the reason on stderr.
  std::vector<RunResult> runs = runScenario(
      workingMachine(),
      {{{"/bin/sh", "-c", "exec $1 \"$0\" --json >/dev/full", inspectBinary(), ORLIM_E2E_EMULATOR}}});
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].status, 1);
  EXPECT_NE(runs[0].err.find("orlim-inspect: write error"), std::string::npos) << runs[0].err;
}

}  // namespace
}  // namespace orlimtest
