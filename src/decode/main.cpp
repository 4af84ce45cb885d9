// orlim-decode: reads system-ID tokens back into their fields, for whoever
// holds the token key.

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>
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
  std::vector<std::string_view> tokens;
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
    tokens.push_back(arg);
  }

  bool allDecoded = true;
  bool first = true;
  if (!tokens.empty()) {
    for (std::size_t i = 0; i < tokens.size(); ++i)
      allDecoded &= decodeOne(tokens[i], "argument " + std::to_string(i + 1), json, first);
  } else {
    std::string line;
    for (std::size_t number = 1; std::getline(std::cin, line); ++number) {
      if (isBlank(line)) continue;
      allDecoded &= decodeOne(line, "line " + std::to_string(number), json, first);
    }
  }
  std::fflush(stdout);
  return allDecoded ? 0 : 1;
}
