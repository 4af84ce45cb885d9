// The command line of the real binary: privilege test, options, usage text
// and the quiet failure path.

#include <gtest/gtest.h>

#include "e2e/harness.h"

namespace orlimtest {
namespace {

const char kUsage[] =
    "Usage: orlim [-h]\n"
    "-u            | Read ID\n"
    "-v            | Verbose\n"
    "-h            | Print help\n";

// With nothing but lo and no firmware, both probes fail, and the scan says
// so on stderr: anything on stderr shows a probe ran.

TEST(CommandLine, NonRootIsRefusedBeforeAnything) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"-u"}, {"-h"}, {}}) {
    RunResult r = runOrlim(Scenario{}, args, /*asNobody=*/true);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Please run as root\n");
  }
}

struct UsageCase {
  std::vector<std::string> args;
  int status;
};

TEST(CommandLine, UsageWithoutReadingAnything) {
  const UsageCase cases[] = {
      {{}, 1},      {{"-v"}, 1},       {{"-h"}, 0},       {{"-uh"}, 0},
      {{"-hu"}, 0}, {{"-u", "-h"}, 0}, {{"-h", "-x"}, 0},
  };
  for (const UsageCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    RunResult r = runOrlim(Scenario{}, c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(r.err, "");
  }
}

TEST(CommandLine, ProbeFailureIsQuietUnlessVerbose) {
  RunResult quiet = runOrlim(Scenario{}, {"-u"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, kNoCard);

  RunResult verbose = runOrlim(Scenario{}, {"-u", "-v"});
  EXPECT_EQ(verbose.status, 0);
  EXPECT_EQ(verbose.out, "");
  EXPECT_EQ(verbose.err, std::string(kNoCard) + "Failure reading system ID (-2/10)\n");
}

TEST(CommandLine, UnknownLettersAndOperandsDoNotStopTheRun) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"-x", "-u"}, orlimBinary() + ": invalid option -- 'x'\n"},
      {{"-u", "/etc/passwd"}, ""},
      {{"/etc/passwd", "-uv"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    RunResult r = runOrlim(workingMachine(), c.args);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(isTokenLine(r.out)) << r.out;
    EXPECT_EQ(r.err, c.err);
  }
}

}  // namespace
}  // namespace orlimtest
