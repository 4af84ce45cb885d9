// orlim-fleet: compares a fleet's decoded tokens with the last collection's:
// which machines are new, gone, the same, or changed and how.

#include <fcntl.h>
#include <sys/stat.h>
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "common/unique_fd.h"
#include "common/tool_options.h"
#include "fleet/fleet.h"
#include "report/escape.h"

namespace {

const char kTool[] = "orlim-fleet";

const char kUsage[] =
    "Usage: orlim-fleet [OPTION]... [NOW.jsonl | -]\n"
    "Compares the records orlim-decode --json printed for this collection of\n"
    "tokens (NOW, standard input when absent or '-') with the last one's, and\n"
    "says per label what changed: same, new, gone, card-changed, uuid-changed,\n"
    "uuid-byte-order, replaced or failed; and which labels share a machine or\n"
    "a UUID.\n"
    "\n"
    "  --previous OLD.jsonl  the last collection's records\n"
    "  --json                one JSON object per label, then a summary object\n"
    "  -h, --help            show this help and exit\n"
    "      --version         show the version and exit\n"
    "\n"
    "Exit status: 0 when every label is same, new, gone or uuid-byte-order\n"
    "with no warnings; 1 when anything needs a look (a change, a failure, a\n"
    "shared identity, a warning, a line that is not a record, a read or write\n"
    "error); 2 on a usage error or when a file cannot be opened.\n";

// Standard input for "-", else the file opened for reading; a directory
// is refused here like a file that is not there (-1, errno EISDIR).
int openInput(const char* name) {
  if (std::string_view(name) == "-") return STDIN_FILENO;
  UniqueFd fd(::open(name, O_RDONLY | O_CLOEXEC));
  struct stat file {};
  if (fd.valid() && fstat(fd.get(), &file) == 0 && S_ISDIR(file.st_mode)) {
    errno = EISDIR;
    return -1;
  }
  return fd.release();
}

// "orlim-fleet: NAME: REASON", the name as a terminal may show it.
int cannotOpen(const char* name) {
  const int error = errno;
  std::fprintf(stderr, "orlim-fleet: %s: %s\n", report::escapeText(name).c_str(), std::strerror(error));
  return 2;
}

enum : int { kOptJson = 256, kOptPrevious };

}  // namespace

int main(int argc, char** argv) {
  fleet::FleetOptions options;
  const char* previous = nullptr;
  const option longOptions[] = {
      {"json", no_argument, nullptr, kOptJson},
      {"previous", required_argument, nullptr, kOptPrevious},
      kHelpOption,
      kVersionOption,
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
        if (previous != nullptr) return usageError(kTool, "--previous given twice: ", optarg);
        previous = optarg;
        break;
      default:
        return answerOtherOption(kTool, kUsage, opt, argv);
    }
  }
  for (int i = optind; i < argc; ++i) {  // after "--"
    if (now != nullptr) return usageError(kTool, "one collection to compare, not also ", argv[i]);
    now = argv[i];
  }
  if (now == nullptr) now = "-";
  if (previous != nullptr && std::string_view(previous) == "-" && std::string_view(now) == "-")
    return usageError(kTool, "standard input can be one collection, not both: ", "-");

  UniqueFd nowFd(openInput(now));
  if (!nowFd.valid()) return cannotOpen(now);
  UniqueFd previousFd(previous == nullptr ? -1 : openInput(previous));
  if (previous != nullptr && !previousFd.valid()) return cannotOpen(previous);
  const fleet::FleetSource nowSource{now, nowFd.get()};
  const fleet::FleetSource previousSource{previous == nullptr ? "" : previous, previousFd.get()};
  const int status = fleet::runFleet(
      options, nowSource, previous == nullptr ? nullptr : &previousSource, fleet::FleetIo{});
  // Standard input is not this program's to close.
  if (nowFd.get() == STDIN_FILENO) nowFd.release();
  if (previousFd.get() == STDIN_FILENO) previousFd.release();
  return status;
}
