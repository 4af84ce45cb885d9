#pragma once
// Usage errors of the tools that take long options, in one wording: one line
// saying what is wrong and quoting what was given, then where to look. The
// caller turns getopt's own messages off (opterr = 0) and starts its short
// options with ':' so that a missing value is told apart.

#include <getopt.h>

#include <cstdio>
#include <string_view>

// Prints the two lines for TOOL and returns the usage-error status, 2.
inline int usageError(const char* tool, const char* before, const char* given,
                      const char* after = "") {
  std::fprintf(stderr, "%s: %s'%s'%s\nTry '%s --help' for more information.\n", tool, before, given,
               after, tool);
  return 2;
}

// For getopt_long's ':' and '?': the option as the user wrote it. An unknown
// long option is the whole argument, an unknown short one its letter, and a
// long option given a value it does not take is named whole.
inline int optionError(const char* tool, int opt, char* const* argv) {
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
