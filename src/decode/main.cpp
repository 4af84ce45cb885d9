// orlim-decode: reads system-ID tokens back into their fields, for whoever
// holds the token key.

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

#include "report/tool_options.h"
#include "decode/decode.h"

namespace {

const char kTool[] = "orlim-decode";

const char kUsage[] =
    "Usage: orlim-decode [OPTION]... [TOKEN | 'LABEL TOKEN' | -]...\n"
    "Decodes orlim system-ID tokens given as arguments or, with none, one per\n"
    "line on standard input ('-' reads standard input at that place). A line\n"
    "of two fields, LABEL TOKEN, keeps its label, a host name for instance.\n"
    "\n"
    "  --json           one JSON object per line of input, a failed one included\n"
    "  --max-age DAYS   refuse tokens made more than DAYS days ago\n"
    "  -h, --help       show this help and exit\n"
    "      --version    show the version and exit\n"
    "\n"
    "Exit status: 0 when every token decoded, 1 when any failed or input could\n"
    "not be read or output written, 2 on a usage error.\n";

constexpr std::int64_t kMaxAgeLimitDays = 1000000;

bool parseDays(const char* text, std::int64_t& days) {
  if (*text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || value > kMaxAgeLimitDays) return false;
  days = value;
  return true;
}

enum : int { kOptJson = 256, kOptMaxAge };

}  // namespace

int main(int argc, char** argv) {
  DecodeOptions options;
  const option longOptions[] = {
      {"json", no_argument, nullptr, kOptJson},
      {"max-age", required_argument, nullptr, kOptMaxAge},
      kHelpOption,
      kVersionOption,
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;  // the messages below say it in this tool's words
  // Inputs in command-line order, by their position there, for messages;
  // options may come after them ("-" first: arguments are not reordered).
  std::vector<int> inputs;
  for (;;) {
    const int opt = getopt_long(argc, argv, "-:h", longOptions, nullptr);
    if (opt == -1) break;
    switch (opt) {
      case 1:
        inputs.push_back(optind - 1);
        break;
      case kOptJson:
        options.json = true;
        break;
      case kOptMaxAge:
        if (!parseDays(optarg, options.maxAgeDays))
          return usageError(kTool, "--max-age takes a whole number of days, not ", optarg);
        break;
      default:
        return answerOtherOption(kTool, kUsage, opt, argv);
    }
  }
  for (int i = optind; i < argc; ++i) inputs.push_back(i);  // after "--"

  options.now = static_cast<std::int64_t>(std::time(nullptr));
  DecoderOwner decoder = makeDecoder(options, DecodeIo{});
  if (decoder == nullptr) {
    std::fprintf(stderr, "orlim-decode: out of memory\n");
    return 1;
  }
  if (inputs.empty()) decodeStream(*decoder);
  // An argument is named by its place among the inputs, options not
  // counted: the third argument of "--json a b c" is c.
  int position = 0;
  for (int i : inputs) {
    ++position;
    if (std::string_view(argv[i]) == "-")
      decodeStream(*decoder);
    else
      decodeArgument(*decoder, argv[i], position);
  }
  return finishDecoder(*decoder);
}
