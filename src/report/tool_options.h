#pragma once
// The options that orlim-inspect, orlim-decode and orlim-fleet take alike,
// answered in one way: -h and --help print the usage to standard output,
// --version prints "TOOL VERSION", and both then exit 0 (1 when standard
// output would not take it); anything the tool does not know is a usage
// error on standard error with status 2. orlim's own three options are its
// own and do not come through here.
//
// A usage error is one wording: one line saying what is wrong and quoting
// what was given, then where to look. What was given came from the command
// line, so it is shown as the text escaper shows anything from outside: an
// ESC or a bidi override in an argument never reaches the terminal raw. The
// caller turns getopt's own messages off (opterr = 0) and starts its short
// options with ':' so that a missing value is told apart.
//
// The version is the project's, handed down by the build to this unit's
// library (orlim_tool_options).

#include <getopt.h>

// getopt_long's value for --version: past every character, clear of the
// tools' own long-option values.
inline constexpr int kVersionOptionValue = 0x10000;

// The two entries every tool's long-option table carries.
inline constexpr option kHelpOption = {"help", no_argument, nullptr, 'h'};
inline constexpr option kVersionOption = {"version", no_argument, nullptr, kVersionOptionValue};

// Prints the two lines for tool, given escaped, and returns the usage-error
// status, 2.
int usageError(const char* tool, const char* before, const char* given, const char* after = "");

// For getopt_long's ':' and '?': the option as the user wrote it. An unknown
// long option is the whole argument, an unknown short one its letter, and a
// long option given a value it does not take is named whole.
int optionError(const char* tool, int opt, char* const* argv);

// The status for what was written to standard output: output that could not
// be written is a failure, and says so.
int finishStandardOutput(const char* tool);

// For what getopt_long returned where the tool's own options are done:
// -h, --help and --version are answered and their status returned; any
// other value is a usage error (unknown option, missing or extra value).
int answerOtherOption(const char* tool, const char* usage, int opt, char* const* argv);
