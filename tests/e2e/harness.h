#pragma once
// End-to-end scenarios: the real binary, run as root inside private mount
// and network namespaces with a synthetic firmware view, an optional regular
// file as /dev/mem and chosen network cards. A scenario is plain data; what
// the tool should print follows from it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/json.h"
#include "support/netns.h"
#include "support/smbios_builders.h"

namespace orlimtest {

struct Scenario {
  // Firmware files under /sys; absent when not set.
  std::optional<std::string> smbiosEntryPoint;    // /sys/firmware/dmi/tables/smbios_entry_point
  std::optional<std::string> dmiTable;            // /sys/firmware/dmi/tables/DMI
  std::optional<std::string> efiSystab;           // /sys/firmware/efi/systab
  std::optional<std::string> productUuid;         // /sys/devices/virtual/dmi/id/product_uuid
  std::optional<smbiostest::MemoryImage> devMem;  // a regular file as /dev/mem
  std::vector<FakeInterface> interfaces;          // besides lo
  bool hideNetworkListing = false;                // no /sys/class/net at all

  // What no ordinary firmware file is, laid last at any of the paths above
  // (/dev/mem included), replacing what is there.
  std::vector<std::string> fifos;        // a FIFO nobody writes to
  std::vector<std::string> zeroDevices;  // the character device /dev/zero is (1, 5)
  std::vector<std::pair<std::string, smbiostest::MemoryImage>> sparseFiles;
  // devMem lives on a tmpfs too small for it, filled up: a page of the
  // image's holes can't be brought in, so touching one through a mapping
  // raises SIGBUS (reading it with read or pread gives zeros).
  bool devMemOnFullFileSystem = false;

  // The commands run in a root of their own (chroot): / as it is, less the
  // named top-level entries (so the host's own /.dockerenv can be hidden),
  // plus files laid at any path: over a file that exists (procfs ones such
  // as /proc/1/cgroup too), or new, in which case a directory of the real
  // root that would hold it gets a tmpfs of its own first. Nothing reaches
  // the host's files.
  bool ownRoot = false;
  std::vector<std::string> rootHidden;
  std::vector<std::pair<std::string, std::string>> rootFiles;  // path, contents
};

struct RunResult {
  int status = -1;  // exit status, or -1 if the process did not exit normally
  std::string out;
  std::string err;
  int signal = 0;      // the signal that ended it, if one did (SIGALRM: the deadline)
  double seconds = 0;  // wall time from fork to its end
  long peakKiB = 0;    // its peak resident memory (ru_maxrss)
};

struct Command {
  std::vector<std::string> argv;   // argv[0] is the program path
  bool asNobody = false;           // drop to uid/gid 65534 first
  unsigned deadlineSeconds = 120;  // then SIGALRM ends it: a hang fails, not blocks, the suite
};

// A machine on which a run makes a token: SMBIOS 3.0 tables in sysfs whose
// type-1 UUID is 00 11 .. FF as stored, and one card, eth0, at
// 52:54:00:12:34:56 (a tap, known by its current address).
Scenario workingMachine();

// Sets the scenario up in fresh namespaces and runs the commands there, one
// after the other. A setup failure gives a single result with status 125 and
// the reason in err.
std::vector<RunResult> runScenario(const Scenario& scenario, const std::vector<Command>& commands);

// The built binary under test.
std::string orlimBinary();

// The built orlim-inspect under test.
std::string inspectBinary();

// Shorthand: runs the built binary with args in the scenario, then
// `orlim-inspect --json` there, and expects the two to agree (see below).
RunResult runOrlim(const Scenario& scenario, const std::vector<std::string>& args,
                   bool asNobody = false);

// Checks (with gtest expectations) that an `orlim-inspect --json` run agrees
// with an orlim run in the same scenario: exit 0, nothing on stderr, one JSON
// object; token_fields equal to what the decoder reads from orlim's token,
// or null when orlim printed none; uuid.result and the legacy length equal
// to the numbers orlim -v printed; never the token itself. The report, when
// it parsed.
std::optional<Json> expectInspectAgrees(const RunResult& orlim, const RunResult& inspect,
                                        bool asNobody = false);

// What orlim says where no card gives the legacy ID its characters.
inline constexpr char kNoCard[] = "[snprintLegacySystemId] No network card detected\n";

// A product_uuid file's text, as the kernel writes it.
inline constexpr char kProductUuid[] = "00112233-4455-6677-8899-AABBCCDDEEFF\n";

// Whether out is one token line: 58 upper-case hex digits and a newline.
bool isTokenLine(const std::string& out);

// Bytes as the contents of a scenario's file.
std::string text(const smbiostest::Bytes& bytes);

}  // namespace orlimtest
