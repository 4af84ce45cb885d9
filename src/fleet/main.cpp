// orlim-fleet: compares a fleet's decoded tokens with what earlier
// collections knew: which machines are new, gone, the same, or changed and
// how, which could not be reached, which moved.

#include <fcntl.h>
#include <sys/stat.h>
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string_view>
#include <vector>

#include "common/unique_fd.h"
#include "report/tool_options.h"
#include "fleet/fleet.h"
#include "fleet/registry_command.h"
#include "report/escape.h"

namespace {

const char kTool[] = "orlim-fleet";

const char kUsage[] =
    "Usage: orlim-fleet [OPTION]... [NOW.jsonl | -]\n"
    "  or:  orlim-fleet --registry FILE record [--name NAME] [OPTION]... [NOW.jsonl | -]\n"
    "  or:  orlim-fleet --registry FILE collections | history LABEL | export [NAME]\n"
    "  or:  orlim-fleet --registry FILE report [--html OUT.html] [--json]\n"
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
    "  --registry FILE       the registry of collections (SQLite): record compares\n"
    "                        NOW with each label's last known record there and\n"
    "                        keeps it; collections lists what it holds, history\n"
    "                        a label's records, export a collection's records\n"
    "                        (the latest when unnamed) as orlim-decode wrote them\n"
    "  --name NAME           record: the collection's name (default: the time)\n"
    "  --html OUT.html       report: one self-contained page of the registry (the\n"
    "                        verdicts per collection, the latest collection's\n"
    "                        labels that need a look); --json prints those labels\n"
    "  -h, --help            show this help and exit\n"
    "      --version         show the version and exit\n"
    "\n"
    "Exit status: 0 when every label is same, new, gone or uuid-byte-order\n"
    "with no warnings; 1 when anything needs a look (a change, a failure, an\n"
    "unreachable host, a shared identity, a warning, a line that is not a\n"
    "record, a collection without records, a read or write error); 2 on a\n"
    "usage error or when a file cannot be opened; with --registry, 2 when the\n"
    "registry cannot be used (record then keeps nothing).\n";

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

enum : int { kOptJson = 256, kOptPrevious, kOptWide, kOptRegistry, kOptName, kOptHtml };

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
      {"registry", required_argument, nullptr, kOptRegistry},
      {"name", required_argument, nullptr, kOptName},
      {"html", required_argument, nullptr, kOptHtml},
      kHelpOption,
      kVersionOption,
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;  // the messages below say it in this tool's words
  const char* registry = nullptr;
  const char* collectionName = nullptr;
  const char* html = nullptr;
  std::vector<const char*> operands;
  for (;;) {
    const int opt = getopt_long(argc, argv, "-:h", longOptions, nullptr);
    if (opt == -1) break;
    switch (opt) {
      case 1:
        operands.push_back(optarg);
        break;
      case kOptRegistry:
        registry = optarg;
        break;
      case kOptName:
        collectionName = optarg;
        break;
      case kOptHtml:
        html = optarg;
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
      default:
        return answerOtherOption(kTool, kUsage, opt, argv);
    }
  }
  for (int i = optind; i < argc; ++i) operands.push_back(argv[i]);  // after "--"
  fleet::RegistryCommand command{registry, {}, nullptr, collectionName};
  std::size_t first = 0;  // the operand naming NOW
  if (registry != nullptr) {
    if (!previous.empty())
      return usageError(kTool, "--previous names files; with --registry the registry holds the past: ",
                        previous[0]);
    if (operands.empty())
      return usageError(kTool,
                        "--registry needs a command (record, collections, history, export, "
                        "report): ",
                        registry);
    if (!fleet::registryVerb(operands[0], command.verb))
      return usageError(kTool, "unknown registry command ", operands[0]);
    using fleet::RegistryVerb;
    const std::size_t most =
        command.verb == RegistryVerb::kCollections || command.verb == RegistryVerb::kReport ? 1 : 2;
    if (operands.size() > most) return usageError(kTool, "one operand too many: ", operands[most]);
    if (command.verb == RegistryVerb::kHistory && operands.size() < 2)
      return usageError(kTool, "history needs a LABEL: ", operands[0]);
    if (collectionName != nullptr && command.verb != RegistryVerb::kRecord)
      return usageError(kTool, "--name names what record keeps: ", collectionName);
    if (html != nullptr && command.verb != RegistryVerb::kReport)
      return usageError(kTool, "--html names the page report writes: ", html);
    if (command.verb == RegistryVerb::kReport && html == nullptr && !options.json)
      return usageError(kTool, "report needs --html OUT.html or --json: ", operands[0]);
    command.html = html;
    if (command.verb != RegistryVerb::kRecord) {
      command.operand = operands.size() > 1 ? operands[1] : nullptr;
      return fleet::runRegistryCommand(options, command, nullptr, fleet::FleetIo{});
    }
    first = 1;
  } else if (collectionName != nullptr) {
    return usageError(kTool, "--name needs --registry: ", collectionName);
  } else if (html != nullptr) {
    return usageError(kTool, "--html needs --registry: ", html);
  }
  if (operands.size() > first + 1)
    return usageError(kTool, "one collection to compare, not also ", operands[first + 1]);
  const char* now = operands.size() > first ? operands[first] : "-";
  std::size_t fromStdin = std::string_view(now) == "-" ? 1u : 0u;
  for (const char* name : previous) fromStdin += std::string_view(name) == "-" ? 1u : 0u;
  if (fromStdin > 1)
    return usageError(kTool, "standard input can be one collection, not more: ", "-");

  // Opened in order, so that the first one missing is the one named.
  std::deque<UniqueFd> previousFds;  // grows in place: an owner is not moved
  std::vector<fleet::FleetSource> previousSources;
  for (const char* name : previous) {
    previousFds.emplace_back(openInput(name));
    if (!previousFds.back().valid()) return cannotOpen(name);
    previousSources.push_back(fleet::FleetSource{name, previousFds.back().get()});
  }
  UniqueFd nowFd(openInput(now));
  if (!nowFd.valid()) return cannotOpen(now);
  const fleet::FleetSource nowSource{now, nowFd.get()};
  const int status =
      registry != nullptr
          ? fleet::runRegistryCommand(options, command, &nowSource, fleet::FleetIo{})
          : fleet::runFleet(options, nowSource, previousSources, fleet::FleetIo{});
  // Standard input is not this program's to close.
  if (nowFd.get() == STDIN_FILENO) nowFd.release();
  for (UniqueFd& fd : previousFds)
    if (fd.get() == STDIN_FILENO) fd.release();
  return status;
}
