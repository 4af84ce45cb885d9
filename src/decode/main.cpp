// orlim-decode: reads system-ID tokens back into their fields, for whoever
// holds the token key.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "decode/decode.h"

namespace {

const char kUsage[] =
    "Usage: orlim-decode [--json] [TOKEN...]\n"
    "Decodes orlim system-ID tokens given as arguments or, with none, one per\n"
    "line on standard input.\n"
    "\n"
    "  --json     one JSON object per token, one per line\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Exit status: 0 when every token decoded, 1 when any failed, 2 on a usage error.\n";

bool isBlank(std::string_view line) {
  return line.find_first_not_of(" \t\r\n\v\f") == std::string_view::npos;
}

// Decodes one token and prints its fields or what is wrong with it; where
// names it for the message ("argument 2", "line 7").
bool decodeOne(std::string_view text, const std::string& where, bool json, bool& first) {
  DecodeResult result = decodeToken(text);
  if (result.status != DecodeStatus::kOk) {
    std::fprintf(stderr, "orlim-decode: %s: %s\n", where.c_str(), describeFailure(result).c_str());
    return false;
  }
  if (json) {
    std::fputs(formatJson(result).c_str(), stdout);
  } else {
    if (!first) std::putchar('\n');
    std::fputs(formatFields(result).c_str(), stdout);
  }
  first = false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  // Each token with its position on the command line, for messages.
  std::vector<std::pair<std::string_view, int>> tokens;
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
      if (arg == "--json") {
        json = true;
      } else if (arg == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
      } else if (arg == "--version") {
        std::puts("orlim-decode " ORLIM_VERSION);
        return 0;
      } else if (arg == "--") {
        optionsDone = true;
      } else {
        std::fprintf(stderr, "orlim-decode: unknown option '%s'\n%s", argv[i], kUsage);
        return 2;
      }
      continue;
    }
    tokens.emplace_back(arg, i);
  }

  bool allDecoded = true;
  bool first = true;
  if (!tokens.empty()) {
    for (const auto& [token, position] : tokens)
      allDecoded &= decodeOne(token, "argument " + std::to_string(position), json, first);
  } else {
    std::string line;
    for (std::size_t number = 1; std::getline(std::cin, line); ++number) {
      if (isBlank(line)) continue;
      allDecoded &= decodeOne(line, "line " + std::to_string(number), json, first);
    }
  }
  // Output that never arrived is not a success.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "orlim-decode: write error: %s\n", std::strerror(errno));
    return 1;
  }
  return allDecoded ? 0 : 1;
}
