// orlim-fleet: compares a fleet's decoded tokens with what earlier
// collections knew: which machines are new, gone, the same, or changed and
// how, which could not be reached, which moved.

#include <fcntl.h>
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string_view>
#include <vector>

#include "common/unique_fd.h"
#include "common/usage_error.h"
#include "fleet/fleet.h"

namespace {

const char kTool[] = "orlim-fleet";

const char kUsage[] =
    "Usage: orlim-fleet [OPTION]... [NOW.jsonl | -]\n"
    "Compares the records orlim-decode --json printed for this collection of\n"
    "tokens (NOW, standard input when absent or '-') with each label's last\n"
    "known record, and says per label what changed: same, new, gone,\n"
    "card-changed, uuid-changed, uuid-byte-order, replaced, failed or\n"
    "unreachable; which labels share a machine or a UUID; which machine moved\n"
    "to another label.\n"
    "\n"
    "  --previous OLD.jsonl  an earlier collection's records; given several\n"
    "                        times, oldest first\n"
    "  --json                one JSON object per label, then a summary object\n"
    "  --wide                the text as one wide row per label\n"
    "  -h, --help            show this help and exit\n"
    "      --version         show the version and exit\n"
    "\n"
    "Exit status: 0 when every label is same, new, gone or uuid-byte-order\n"
    "with no warnings; 1 when anything needs a look (a change, a failure, an\n"
    "unreachable host, a shared identity, a warning, a line that is not a\n"
    "record, a collection without records, a read or write error); 2 on a\n"
    "usage error or when a file cannot be opened.\n";

// Standard input for "-", else the file opened for reading.
int openInput(const char* name) {
  if (std::string_view(name) == "-") return STDIN_FILENO;
  return ::open(name, O_RDONLY | O_CLOEXEC);
}

enum : int { kOptJson = 256, kOptPrevious, kOptVersion, kOptWide };

// Every --previous is open at once, so their number is bounded.
constexpr std::size_t kMaxPrevious = 256;

}  // namespace

int main(int argc, char** argv) {
  fleet::FleetOptions options;
  std::vector<const char*> previous;
  const option longOptions[] = {
      {"json", no_argument, nullptr, kOptJson},
      {"previous", required_argument, nullptr, kOptPrevious},
      {"wide", no_argument, nullptr, kOptWide},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, kOptVersion},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;  // the messages below say it in this tool's words
  const char* now = nullptr;
  for (;;) {
    const int opt = getopt_long(argc, argv, "-:h", longOptions, nullptr);
    if (opt == -1) break;
    switch (opt) {
      case 1:
        if (now != nullptr)
          return usageError(kTool, "one collection to compare, not also ", optarg);
        now = optarg;
        break;
      case kOptJson:
        options.json = true;
        break;
      case kOptPrevious:
        if (previous.size() == kMaxPrevious)
          return usageError(kTool, "more --previous than this takes: ", optarg);
        previous.push_back(optarg);
        break;
      case kOptWide:
        options.wide = true;
        break;
      case 'h':
        std::fputs(kUsage, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
      case kOptVersion:
        std::puts("orlim-fleet " ORLIM_VERSION);
        return std::fflush(stdout) == 0 ? 0 : 1;
      default:
        return optionError(kTool, opt, argv);
    }
  }
  for (int i = optind; i < argc; ++i) {  // after "--"
    if (now != nullptr) return usageError(kTool, "one collection to compare, not also ", argv[i]);
    now = argv[i];
  }
  if (now == nullptr) now = "-";
  std::size_t fromStdin = std::string_view(now) == "-" ? 1u : 0u;
  for (const char* name : previous) fromStdin += std::string_view(name) == "-" ? 1u : 0u;
  if (fromStdin > 1)
    return usageError(kTool, "standard input can be one collection, not more: ", "-");

  // Opened in order, so that the first one missing is the one named.
  std::deque<UniqueFd> previousFds;  // grows in place: an owner is not moved
  std::vector<fleet::FleetSource> previousSources;
  for (const char* name : previous) {
    previousFds.emplace_back(openInput(name));
    if (!previousFds.back().valid()) {
      std::fprintf(stderr, "orlim-fleet: %s: %s\n", name, std::strerror(errno));
      return 2;
    }
    previousSources.push_back(fleet::FleetSource{name, previousFds.back().get()});
  }
  UniqueFd nowFd(openInput(now));
  if (!nowFd.valid()) {
    std::fprintf(stderr, "orlim-fleet: %s: %s\n", now, std::strerror(errno));
    return 2;
  }
  const fleet::FleetSource nowSource{now, nowFd.get()};
  const int status = fleet::runFleet(options, nowSource, previousSources, fleet::FleetIo{});
  // Standard input is not this program's to close.
  if (nowFd.get() == STDIN_FILENO) nowFd.release();
  for (UniqueFd& fd : previousFds)
    if (fd.get() == STDIN_FILENO) fd.release();
  return status;
}
