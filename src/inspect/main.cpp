// orlim-inspect: shows an administrator where this machine's identity comes
// from, by running orlim's own probes and reporting what they saw. It never
// prints a token or the token key, and writes nothing but its report.

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "common/io.h"
#include "inspect/inspect.h"

namespace {

const char kUsage[] =
    "Usage: orlim-inspect [--json]\n"
    "Shows where this machine's orlim identity comes from: the firmware UUID and\n"
    "its source, the network card chosen and why, and the fields a token made now\n"
    "would carry. Prints no token. Run it as root to see what orlim sees.\n"
    "\n"
    "  --json     the same report as one JSON object\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Exit status: 0 when the report was printed, 1 when it could not be written,\n"
    "2 on a usage error.\n";

// The status for output written so far: lost output is a failure.
int finishOutput() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "orlim-inspect: write error: %s\n", std::strerror(errno));
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--json") {
      json = true;
    } else if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return finishOutput();
    } else if (arg == "--version") {
      std::puts("orlim-inspect " ORLIM_VERSION);
      return finishOutput();
    } else {
      std::fprintf(stderr, "orlim-inspect: unexpected argument '%s'\n%s", argv[i], kUsage);
      return 2;
    }
  }

  // The observations are large for a stack; one report per run.
  const auto report = std::make_unique<InspectReport>();
  gatherReport(*report);
  const std::string text = json ? formatReportJson(*report) : formatReportText(*report);
  const int written = writeAll(STDOUT_FILENO, text);
  if (written != 0) {
    std::fprintf(stderr, "orlim-inspect: write error: %s\n", std::strerror(-written));
    return 1;
  }
  return 0;
}
