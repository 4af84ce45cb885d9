// The processor signature on x86: the CPUID leaves it sums, on CPU 0, and
// the thread's affinity put back afterwards.

#include <cpuid.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <array>
#include <cstdint>
#include <vector>

#include "probes/cpu_signature.h"
#include "probes/cpu_signature_internal.h"
#include "probes/cpu_signature_test_support.h"

using orlimtest::currentAffinity;
using orlimtest::kExampleSignature;
using orlimtest::referenceSignature;
using orlimtest::setAffinity;

// The signature computed here, independently: on CPU 0, leaf 4 asked for
// the sub-leaf that leaf 3 left in ECX.
std::int64_t orlimtest::referenceSignature() {
  cpu_set_t saved = orlimtest::currentAffinity();
  orlimtest::setAffinity({0});
  std::int64_t sum = 0;
  unsigned eax, ebx, ecx = 0, edx;
  for (unsigned leaf = 0; leaf <= 3; ++leaf) {
    __cpuid_count(leaf, 0, eax, ebx, ecx, edx);
    sum += static_cast<std::int32_t>(eax);
  }
  __cpuid_count(4, ecx, eax, ebx, ecx, edx);
  sum += static_cast<std::int32_t>(eax);
  pthread_setaffinity_np(pthread_self(), sizeof saved, &saved);
  return sum;
}

namespace {

// Leaf 0 to 4 outputs of a real processor; leaf 4's is negative as int32.
constexpr std::array<std::uint32_t, 5> kExampleLeaves = {0x16, 0x906EA, 0xFEFF01, 0x0, 0xFC004121};

// What getCpuSignature asked the processor, and where it ran meanwhile.
struct CpuidCall {
  std::uint32_t leaf;
  std::uint32_t subleaf;
  int cpu;
};
std::vector<CpuidCall> g_cpuidCalls;

probes::CpuidRegisters exampleProcessor(std::uint32_t leaf, std::uint32_t subleaf) {
  g_cpuidCalls.push_back({leaf, subleaf, sched_getcpu()});
  probes::CpuidRegisters r;
  r.eax = leaf < kExampleLeaves.size() ? kExampleLeaves[leaf] : 0;
  r.ebx = 0xB0B0B0B0;
  r.ecx = leaf == 3 ? 2 : 0xC0C0C0C0 + leaf;  // leaf 3's ECX picks leaf 4's sub-leaf
  r.edx = 0xD0D0D0D0;
  return r;
}

class CpuSignature : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = currentAffinity();
    g_cpuidCalls.clear();
  }
  void TearDown() override { pthread_setaffinity_np(pthread_self(), sizeof saved_, &saved_); }
  // The affinity to start from: with CPU 0, or without it.
  void startOn(std::initializer_list<int> cpus) {
    if (CPU_COUNT(&saved_) < 2) GTEST_SKIP() << "needs two CPUs";
    ASSERT_TRUE(setAffinity(cpus));
    before_ = currentAffinity();
  }
  cpu_set_t saved_;
  cpu_set_t before_;
};

TEST_F(CpuSignature, SumsSignedLeafOutputsOnCpuZeroWithLeafFourAskedForLeafThreesEcx) {
  startOn({1});
  EXPECT_EQ(probes::getCpuSignature(exampleProcessor), kExampleSignature);
  ASSERT_EQ(g_cpuidCalls.size(), 5u);
  for (std::uint32_t leaf = 0; leaf < 5; ++leaf) {
    EXPECT_EQ(g_cpuidCalls[leaf].leaf, leaf);
    EXPECT_EQ(g_cpuidCalls[leaf].cpu, 0) << "leaf " << leaf;
  }
  EXPECT_EQ(g_cpuidCalls[4].subleaf, 2u);
  cpu_set_t after = currentAffinity();
  EXPECT_TRUE(CPU_EQUAL(&after, &before_));
}

class RealCpuSignature : public CpuSignature, public ::testing::WithParamInterface<bool> {};

TEST_P(RealCpuSignature, AgreesWithTheProcessorAndPutsTheAffinityBack) {
  if (GetParam())
    startOn({1});
  else
    startOn({0, 1});
  if (IsSkipped()) return;
  std::int64_t signature = probes::getCpuSignature();
  cpu_set_t after = currentAffinity();
  EXPECT_TRUE(CPU_EQUAL(&after, &before_));
  EXPECT_EQ(signature, referenceSignature());
}

INSTANTIATE_TEST_SUITE_P(StartingSet, RealCpuSignature, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "WithoutCpu0" : "AllCpus"; });

}  // namespace
