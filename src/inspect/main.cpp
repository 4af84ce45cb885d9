// orlim-inspect: shows an administrator where this machine's identity comes
// from, by running orlim's own probes and reporting what they saw. It never
// prints a token or the token key, and writes nothing but its report.

#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "common/io.h"
#include "report/tool_options.h"
#include "inspect/inspect.h"

namespace {

const char kTool[] = "orlim-inspect";

const char kUsage[] =
    "Usage: orlim-inspect [--json]\n"
    "Shows where this machine's orlim identity comes from and how long it lasts.\n"
    "Prints no token. Run it as root to see what orlim sees. The report has four\n"
    "parts:\n"
    "  Environment     bare metal, a virtual machine or a container, which\n"
    "                  hypervisor or runtime, and every signal that says so\n"
    "  Firmware UUID   the UUID, the source it came from and every source tried\n"
    "  Network card    each interface, chosen or passed over and why, and the\n"
    "                  chosen card's address\n"
    "  Identity        what a token made now would carry, or why none would be;\n"
    "                  what would change it; and its stability: stable, stable\n"
    "                  while the VM exists, stable while configured, changes on\n"
    "                  restart or no token, with what to do about it\n"
    "\n"
    "  --json          the same report as one JSON object\n"
    "  -h, --help      show this help and exit\n"
    "      --version   show the version and exit\n"
    "\n"
    "Exit status: 0 when the report was printed, 1 when it could not be written,\n"
    "2 on a usage error.\n";

enum : int { kOptJson = 256 };

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  const option longOptions[] = {
      {"json", no_argument, nullptr, kOptJson},
      kHelpOption,
      kVersionOption,
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;  // the messages say it in this tool's words
  for (;;) {
    const int opt = getopt_long(argc, argv, "-:h", longOptions, nullptr);
    if (opt == -1) break;
    switch (opt) {
      case 1:
        return usageError(kTool, "unexpected argument ", optarg);
      case kOptJson:
        json = true;
        break;
      default:
        return answerOtherOption(kTool, kUsage, opt, argv);
    }
  }
  if (optind < argc) return usageError(kTool, "unexpected argument ", argv[optind]);  // after "--"

  // The observations are large for a stack; one report per run.
  const auto report = std::make_unique<inspect::InspectReport>();
  inspect::gatherReport(*report);
  const std::string text =
      json ? inspect::formatReportJson(*report) : inspect::formatReportText(*report);
  const int written = writeAll(STDOUT_FILENO, text);
  if (written != 0) {
    std::fprintf(stderr, "%s: write error: %s\n", kTool, std::strerror(-written));
    return 1;
  }
  return 0;
}
