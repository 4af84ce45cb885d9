#include "report/tool_options.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "report/escape.h"

#ifndef ORLIM_VERSION
#error "ORLIM_VERSION comes from the orlim_tool_options build target"
#endif

int usageError(const char* tool, const char* before, const char* given, const char* after) {
  std::string shown;
  report::appendTextEscaped(shown, given);
  std::fprintf(stderr, "%s: %s'%s'%s\nTry '%s --help' for more information.\n", tool, before,
               shown.c_str(), after, tool);
  return 2;
}

int optionError(const char* tool, int opt, char* const* argv) {
  const char* given = argv[optind - 1];
  if (opt == ':') return usageError(tool, "option ", given, " needs a value");
  if (optopt != 0 && std::string_view(given).starts_with("--"))
    return usageError(tool, "option ", given, " takes no value");
  if (optopt != 0) {
    const char shortOption[3] = {'-', static_cast<char>(optopt), '\0'};
    return usageError(tool, "unknown option ", shortOption);
  }
  return usageError(tool, "unknown option ", given);
}

int finishStandardOutput(const char* tool) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "%s: write error: %s\n", tool, std::strerror(errno));
    return 1;
  }
  return 0;
}

int answerOtherOption(const char* tool, const char* usage, int opt, char* const* argv) {
  if (opt == 'h') {
    std::fputs(usage, stdout);
    return finishStandardOutput(tool);
  }
  if (opt == kVersionOptionValue) {
    std::printf("%s %s\n", tool, ORLIM_VERSION);
    return finishStandardOutput(tool);
  }
  return optionError(tool, opt, argv);
}
