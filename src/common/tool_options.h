#pragma once
// The options that orlim-inspect, orlim-decode and orlim-fleet take alike,
// answered in one way: -h and --help print the usage to standard output,
// --version prints "TOOL VERSION", and both then exit 0 (1 when standard
// output would not take it); anything the tool does not know is a usage
// error on standard error with status 2 (usage_error.h). orlim's own three
// options are its own and do not come through here.
//
// The version is the project's, handed down by the build: a tool links the
// orlim_tool_options target, which defines ORLIM_VERSION.

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/usage_error.h"

#ifndef ORLIM_VERSION
#error "ORLIM_VERSION comes from the orlim_tool_options build target"
#endif

// getopt_long's value for --version: past every character, clear of the
// tools' own long-option values.
inline constexpr int kVersionOptionValue = 0x10000;

// The two entries every tool's long-option table carries.
inline constexpr option kHelpOption = {"help", no_argument, nullptr, 'h'};
inline constexpr option kVersionOption = {"version", no_argument, nullptr, kVersionOptionValue};

// The status for what was written to standard output: output that could not
// be written is a failure, and says so.
inline int finishStandardOutput(const char* tool) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "%s: write error: %s\n", tool, std::strerror(errno));
    return 1;
  }
  return 0;
}

// For what getopt_long returned where the tool's own options are done:
// -h, --help and --version are answered and their status returned; any
// other value is a usage error (unknown option, missing or extra value).
inline int answerOtherOption(const char* tool, const char* usage, int opt, char* const* argv) {
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
