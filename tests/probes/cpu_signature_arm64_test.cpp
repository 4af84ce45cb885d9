// The processor signature on 64-bit ARM: MIDR_EL1 of CPU 0, from the kernel's
// file or from the register itself read on CPU 0, and the thread's affinity
// put back afterwards.

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/auxv.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "probes/cpu_signature.h"
#include "probes/cpu_signature_internal.h"
#include "probes/cpu_signature_test_support.h"

#ifndef HWCAP_CPUID
#define HWCAP_CPUID (1 << 11)
#endif

// The kernel's file where it exists, else the register read here on CPU 0
// where Linux emulates the read for user space, else nothing.
std::int64_t orlimtest::referenceSignature() {
  std::ifstream file(probes::kMidrPath);
  std::string text;
  if (file >> text) return static_cast<std::int64_t>(std::stoull(text, nullptr, 16));
  if ((getauxval(AT_HWCAP) & HWCAP_CPUID) == 0) return 0;
  cpu_set_t saved = currentAffinity();
  setAffinity({0});
  std::uint64_t midr;
  asm volatile("mrs %0, midr_el1" : "=r"(midr));
  pthread_setaffinity_np(pthread_self(), sizeof saved, &saved);
  return static_cast<std::int64_t>(midr);
}

namespace {

using orlimtest::currentAffinity;
using orlimtest::setAffinity;

// ------------------------------------------------------------ the file's text

struct MidrTextCase {
  const char* label;
  const char* text;
  int result;
  std::uint64_t value;  // when result is 0
};

void PrintTo(const MidrTextCase& c, std::ostream* os) { *os << c.label; }

class ParseMidrText : public ::testing::TestWithParam<MidrTextCase> {};

TEST_P(ParseMidrText, TakesOnlyAWholeHexNumber) {
  const MidrTextCase& c = GetParam();
  std::uint64_t value = 0xA5A5A5A5A5A5A5A5;
  EXPECT_EQ(probes::parseMidrText(c.text, value), c.result);
  EXPECT_EQ(value, c.result == 0 ? c.value : 0xA5A5A5A5A5A5A5A5);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseMidrText,
    ::testing::Values(
        // What Linux writes for a Cortex-A57.
        MidrTextCase{"KernelText", "0x00000000411fd070\n", 0, 0x411FD070},
        MidrTextCase{"UpperCase", "0X411FD070", 0, 0x411FD070},
        MidrTextCase{"AllSixtyFourBits", "0xffffffffffffffff\n", 0, 0xFFFFFFFFFFFFFFFF},
        MidrTextCase{"Empty", "", -1, 0},
        MidrTextCase{"NoPrefix", "411fd070\n", -1, 0},
        MidrTextCase{"PrefixOnly", "0x\n", -1, 0},
        MidrTextCase{"Negative", "0x-1\n", -1, 0},
        MidrTextCase{"Spaced", "0x 411fd070\n", -1, 0},
        MidrTextCase{"TrailingText", "0x411fd070 r1p0\n", -1, 0},
        MidrTextCase{"TwoLines", "0x411fd070\n\n", -1, 0},
        MidrTextCase{"TooWide", "0x1ffffffffffffffff\n", -1, 0},
        MidrTextCase{"LineEndFirst", "0x\n411fd070", -1, 0},
        MidrTextCase{"PrefixTwice", "0x0x411fd070\n", -1, 0}),
    [](const auto& p) { return std::string(p.param.label); });

// ---------------------------------------------------------- file, else register

constexpr std::uint64_t kRegisterValue = 0x410FD034;  // a Cortex-A53

// Where the register was read, and whether it may be.
struct RegisterReads {
  bool available = true;
  std::vector<int> cpus;
};
RegisterReads g_reads;

bool fakeRegister(std::uint64_t& value) {
  g_reads.cpus.push_back(sched_getcpu());
  if (!g_reads.available) return false;
  value = kRegisterValue;
  return true;
}

class TempFile {
 public:
  explicit TempFile(const char* text) {
    const char* dir = std::getenv("TMPDIR");
    path_ = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/orlim-midr-XXXXXX";
    const int fd = mkstemp(path_.data());
    if (fd >= 0) {
      std::FILE* f = fdopen(fd, "w");
      std::fputs(text, f);
      std::fclose(f);
    }
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() { std::remove(path_.c_str()); }
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

struct SourceCase {
  const char* label;
  const char* fileText;  // null: no file
  bool registerAvailable;
  std::int64_t signature;
  bool registerRead;
};

void PrintTo(const SourceCase& c, std::ostream* os) { *os << c.label; }

class MidrSource : public ::testing::TestWithParam<SourceCase> {
 protected:
  void SetUp() override {
    saved_ = currentAffinity();
    g_reads = {};
  }
  void TearDown() override { pthread_setaffinity_np(pthread_self(), sizeof saved_, &saved_); }
  cpu_set_t saved_;
};

TEST_P(MidrSource, FileFirstThenTheRegisterOnCpuZero) {
  const SourceCase& c = GetParam();
  // Start without CPU 0 where possible, so "on CPU 0" means something.
  if (CPU_COUNT(&saved_) >= 2) {
    ASSERT_TRUE(setAffinity({1}));
  }
  const cpu_set_t before = currentAffinity();
  TempFile file(c.fileText != nullptr ? c.fileText : "");
  g_reads.available = c.registerAvailable;
  const char* path = c.fileText != nullptr ? file.path() : "/nonexistent/midr_el1";
  EXPECT_EQ(probes::getCpuSignature(path, fakeRegister), c.signature);
  if (c.registerRead) {
    ASSERT_EQ(g_reads.cpus.size(), 1u);
    EXPECT_EQ(g_reads.cpus[0], 0) << "the register was read elsewhere";
  } else {
    EXPECT_TRUE(g_reads.cpus.empty()) << "the register was read although the file answered";
  }
  const cpu_set_t after = currentAffinity();
  EXPECT_TRUE(CPU_EQUAL(&after, &before)) << "the thread's affinity changed";
}

INSTANTIATE_TEST_SUITE_P(
    Table, MidrSource,
    ::testing::Values(
        SourceCase{"File", "0x00000000411fd070\n", true, 0x411FD070, false},
        SourceCase{"NoFile", nullptr, true, kRegisterValue, true},
        SourceCase{"UnreadableText", "garbage\n", true, kRegisterValue, true},
        SourceCase{"EmptyFile", "", true, kRegisterValue, true},
        SourceCase{"NeitherFileNorRegister", nullptr, false, 0, true}),
    [](const auto& p) { return std::string(p.param.label); });

TEST(RealMidr, AgreesWithTheProcessorAndPutsTheAffinityBack) {
  const cpu_set_t before = currentAffinity();
  EXPECT_EQ(probes::getCpuSignature(), orlimtest::referenceSignature());
  const cpu_set_t after = currentAffinity();
  EXPECT_TRUE(CPU_EQUAL(&after, &before));
}

}  // namespace
