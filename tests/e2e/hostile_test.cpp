// Hostile and broken firmware through the real binary: FIFOs at each
// firmware path, an endless device, huge or empty tables, lengths no real table has, a window
// full of entry points, and a memory image whose pages can't be brought in.
// Each row has its outcome (a token carrying the UUID of the source that
// should win, or none, and what -v says), a deadline that a hang breaks,
// and a peak-memory ceiling that reading a trusted huge length breaks.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <optional>

#include "decode/decode.h"
#include "support/decode_token.h"
#include "token/token_text.h"
#include "e2e/harness.h"
#include "probes/smbios_internal.h"
#include "support/smbios_builders.h"

namespace orlimtest {
namespace {

using smbiostest::Bytes;
using smbiostest::MemoryImage;
using smbiostest::operator+;
using smbiostest::kRawUuid;
using smbiostest::kSwappedUuid;
using smbiostest::Uuid;

constexpr std::uint64_t kMiB = 1u << 20;
constexpr std::uint64_t kGiB = 1u << 30;
// Far above what a run needs (a few MiB) and far below what trusting any of
// the stated lengths here would cost.
constexpr long kPeakCeilingKiB = 64 * 1024;
// A hang ends here; a sound run takes milliseconds.
constexpr unsigned kDeadlineSeconds = 10;

const char kEntryPointPath[] = "/sys/firmware/dmi/tables/smbios_entry_point";
const char kDmiPath[] = "/sys/firmware/dmi/tables/DMI";
const char kSystabPath[] = "/sys/firmware/efi/systab";
const char kMemPath[] = "/dev/mem";
const char kProductUuidPath[] = "/sys/devices/virtual/dmi/id/product_uuid";

const char kNothingFound[] = "Failure reading system ID (-2/16)\n";

const Bytes kTable = smbiostest::type1(kRawUuid) + smbiostest::endOfTable();
const auto kTableLength = static_cast<std::uint32_t>(kTable.size());

struct HostileCase {
  const char* name;
  Scenario scenario;
  std::optional<Uuid> token;  // the UUID the token carries; none: no token
  std::string verboseErr;     // stderr with -v (without it, always empty)
};

// The product UUID text (raw order) as the last source, which the chain
// reaches when everything before it failed as a source should.
Scenario withProductUuid(Scenario scenario) {
  scenario.productUuid = kProductUuid;
  return scenario;
}

Scenario sysfsPair(std::uint32_t statedLength) {
  Scenario scenario;
  scenario.smbiosEntryPoint = text(smbiostest::smbios3EntryPoint(3, 0, statedLength, 0));
  scenario.dmiTable = text(kTable);
  return scenario;
}

// A sysfs entry point stating `stated` over a sparse DMI file of `size`
// bytes that starts with the table.
Scenario sparseDmi(std::uint32_t stated, std::uint64_t size) {
  Scenario scenario = sysfsPair(stated);
  scenario.dmiTable.reset();
  scenario.sparseFiles.push_back({kDmiPath, MemoryImage(size).put(0, kTable)});
  return scenario;
}

// A memory image whose window holds an _SM3_ entry point stating `stated`
// for a table at 1 MiB; the image reaches to the stated end, so nothing but
// the length rule stops a reader from taking all of it.
Scenario scanStating(std::uint64_t stated) {
  Scenario scenario;
  scenario.devMem = MemoryImage(kMiB + stated)
                        .put(0xF0000, smbiostest::smbios3EntryPoint(
                                          3, 0, static_cast<std::uint32_t>(stated), kMiB))
                        .put(kMiB, kTable);
  return scenario;
}

// The same through an EFI system table line.
Scenario efiStating(std::uint64_t stated) {
  Scenario scenario;
  scenario.efiSystab = "SMBIOS3=0x10000\n";
  scenario.devMem = MemoryImage(kMiB + stated)
                        .put(0x10000, smbiostest::smbios3EntryPoint(
                                          3, 0, static_cast<std::uint32_t>(stated), kMiB))
                        .put(kMiB, kTable);
  return scenario;
}

// Every other slot of the window an _SM3_ entry point stating 16 MiB, taking
// turns at four tables that hold no UUID.
Scenario crowdedWindow() {
  constexpr std::uint64_t kStated = 16 * kMiB;
  MemoryImage image(kMiB + 4 * kStated);
  for (std::uint64_t slot = 0; slot + 0x20 <= 0x10000; slot += 0x20) {
    const std::uint64_t table = kMiB + (slot / 0x20 % 4) * kStated;
    image.put(0xF0000 + slot, smbiostest::smbios3EntryPoint(3, 0, kStated, table));
  }
  Scenario scenario;
  scenario.devMem = image;
  return scenario;
}

// The window on a full file system: its entry point and table are written,
// the rest of it is a hole that can't be brought in through a mapping.
Scenario faultingImage() {
  Scenario scenario;
  scenario.devMem = MemoryImage(kMiB + 0x1000)
                        .put(0xF0000, smbiostest::smbios3EntryPoint(3, 0, kTableLength, 0xE0000))
                        .put(0xE0000, kTable);
  scenario.devMemOnFullFileSystem = true;
  return scenario;
}

Scenario withFifo(Scenario scenario, const char* path) {
  scenario.fifos.push_back(path);
  return scenario;
}

std::vector<HostileCase> hostileCases() {
  Scenario scanWindow;  // a working memory scan, for rows that must reach it
  scanWindow.devMem = MemoryImage(kMiB)
                          .put(0xF0000, smbiostest::smbios3EntryPoint(3, 0, kTableLength, 0xE0000))
                          .put(0xE0000, kTable);
  Scenario systabToMem;
  systabToMem.efiSystab = "SMBIOS3=0x10000\n";
  // What rows that must reach the window give: where there is no legacy
  // BIOS area (ARM) it is never read, and nothing else could be.
  const std::optional<Uuid> fromWindow =
      probes::kHasLegacyBiosArea ? std::optional<Uuid>(kSwappedUuid) : std::nullopt;
  const std::string windowErr = probes::kHasLegacyBiosArea ? "" : kNothingFound;

  std::vector<HostileCase> cases = {
      // A FIFO is a failed source, as a missing file is, and the chain goes on.
      {"FIFO as the entry point",
       withProductUuid(withFifo(sysfsPair(kTableLength), kEntryPointPath)), kRawUuid, ""},
      {"FIFO as the DMI table", withProductUuid(withFifo(sysfsPair(kTableLength), kDmiPath)),
       kRawUuid, ""},
      // As with no systab, the memory scan is tried.
      {"FIFO as the EFI systab", withFifo(scanWindow, kSystabPath), fromWindow, windowErr},
      {"FIFO as /dev/mem, systab leading there", withProductUuid(withFifo(systabToMem, kMemPath)),
       kRawUuid, ""},
      {"FIFO as /dev/mem, window scan", withFifo(Scenario{}, kMemPath), std::nullopt,
       kNothingFound},
      {"FIFO as product_uuid", withFifo(Scenario{}, kProductUuidPath), std::nullopt, kNothingFound},
      // Endless zeros, no line end: the systab reader gives up after its
      // bound, and the systab having opened, the chain goes to the text.
      {"/dev/zero as the EFI systab",
       [] {
         Scenario s = withProductUuid(Scenario{});
         s.zeroDevices.push_back(kSystabPath);
         return s;
       }(),
       kRawUuid, ""},
      {"0-byte DMI",
       [] {
         Scenario s = withProductUuid(sysfsPair(kTableLength));
         s.dmiTable = "";
         return s;
       }(),
       kRawUuid, ""},
      // The file's size alone costs nothing: only the stated length is read.
      {"4 GiB sparse DMI, true length stated", sparseDmi(kTableLength, 4 * kGiB), kSwappedUuid, ""},
      {"4 GiB sparse DMI, 0xFFFFFFFF stated", withProductUuid(sparseDmi(0xFFFFFFFF, 4 * kGiB)),
       kRawUuid, ""},
      {"1 GiB sparse DMI, 1 GiB stated", withProductUuid(sparseDmi(1u << 30, kGiB)), kRawUuid, ""},
      {"window entry point stating 0xFFFFFFFF", withProductUuid(scanStating(0xFFFFFFFF)), kRawUuid,
       ""},
      {"window entry point stating 1 GiB", withProductUuid(scanStating(kGiB)), kRawUuid, ""},
      {"EFI entry point stating 1 GiB", withProductUuid(efiStating(kGiB)), kRawUuid, ""},
      {"window of 2048 entry points stating 16 MiB", withProductUuid(crowdedWindow()), kRawUuid,
       ""},
      {"memory image that faults", faultingImage(), fromWindow, windowErr},
  };
  // The one card of the working machine, so the legacy field never fails.
  for (HostileCase& c : cases) c.scenario.interfaces = workingMachine().interfaces;
  return cases;
}

// One run of a row; an assertion ends only this run's checks.
void checkRun(const HostileCase& c, const RunResult& r, bool isVerbose) {
  SCOPED_TRACE(isVerbose ? "-u -v" : "-u");
  std::printf("[ hostile  ] %-46s %-6s %7.3f s %8ld KiB%s\n", c.name, isVerbose ? "-u -v" : "-u",
              r.seconds, r.peakKiB,
              r.signal != 0 ? (" signal " + std::to_string(r.signal)).c_str() : "");
  std::fflush(stdout);
  EXPECT_NE(r.signal, SIGALRM) << "still running after " << kDeadlineSeconds << " s";
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.status, 0);
  EXPECT_LE(r.peakKiB, kPeakCeilingKiB);
  EXPECT_EQ(r.err, isVerbose ? c.verboseErr : "");
  if (!c.token) {
    EXPECT_EQ(r.out, "");
    return;
  }
  ASSERT_TRUE(isTokenLine(r.out)) << r.out;
  const DecodeResult token = decodeToken(r.out);
  ASSERT_EQ(token.status, DecodeStatus::kOk) << describeFailure(token);
  EXPECT_EQ(formatUuid(token.fields.uuid), formatUuid(*c.token));
}

TEST(Hostile, EachRowEndsQuicklyInLittleMemoryWithItsOutcome) {
  for (const HostileCase& c : hostileCases()) {
    SCOPED_TRACE(c.name);
    Command quiet{{orlimBinary(), "-u"}};
    Command verbose{{orlimBinary(), "-u", "-v"}};
    // orlim-inspect runs the same probes: the same bounds hold for it, and
    // it must agree with orlim.
    Command inspect{{inspectBinary(), "--json"}};
    quiet.deadlineSeconds = verbose.deadlineSeconds = inspect.deadlineSeconds = kDeadlineSeconds;
    const std::vector<RunResult> runs = runScenario(c.scenario, {quiet, verbose, inspect});
    if (runs.size() != 3) {
      ADD_FAILURE() << runs.front().err;
      continue;
    }
    checkRun(c, runs[0], false);
    checkRun(c, runs[1], true);
    SCOPED_TRACE("orlim-inspect");
    EXPECT_EQ(runs[2].signal, 0);
    EXPECT_LE(runs[2].peakKiB, kPeakCeilingKiB);
    expectInspectAgrees(runs[1], runs[2]);
  }
}

}  // namespace
}  // namespace orlimtest
