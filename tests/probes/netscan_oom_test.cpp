// Memory running out in the middle of a scan: the scan must give back what
// it holds and report -1. This binary replaces strdup so that a chosen call
// fails; nothing else here relies on strdup.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "probes/netscan_internal.h"
#include "support/namespace.h"
#include "support/netns.h"

namespace {
// Copies left before strdup starts failing; negative: never fails.
int g_copiesLeft = -1;
}  // namespace

extern "C" char* strdup(const char* text) noexcept {
  if (g_copiesLeft == 0) {
    errno = ENOMEM;
    return nullptr;
  }
  if (g_copiesLeft > 0) --g_copiesLeft;
  std::size_t size = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(std::malloc(size));
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}

namespace {

using orlimtest::Backing;
using orlimtest::FakeInterface;

struct OomCase {
  const char* label;
  std::vector<FakeInterface> cards;
  int copiesBeforeFailure;
};

void PrintTo(const OomCase& c, std::ostream* os) { *os << c.label; }

class ScanOutOfMemory : public ::testing::TestWithParam<OomCase> {};

TEST_P(ScanOutOfMemory, ReleasesEverythingAndFails) {
  const OomCase& c = GetParam();
  orlimtest::NamespaceResult child = orlimtest::runInPrivateNamespaces([&]() -> std::string {
    if (!orlimtest::setUpInterfaces(c.cards)) return "setup failed";
    static char* notReset[1] = {nullptr};
    char** names = notReset;
    g_copiesLeft = c.copiesBeforeFailure;
    int count = 0;
    orlimtest::CapturedOutput output =
        orlimtest::captureOutput([&] { count = probes::getNetworkInterfaces(&names); });
    g_copiesLeft = -1;
    std::string verdict = "count " + std::to_string(count);
    if (names != nullptr) verdict += ", list handed out";
    if (!output.out.empty() || !output.err.empty())
      verdict += ", printed " + output.out + output.err;
    if (orlimtest::leaksFound()) verdict += ", leaks";
    return verdict;
  });
  ASSERT_EQ(child.status, 0);
  EXPECT_EQ(child.output, "count -1");
}

FakeInterface card(const char* name) {
  return orlimtest::tapInterface(name).withBacking(Backing::kDeviceDir);
}

INSTANTIATE_TEST_SUITE_P(
    Namespace, ScanOutOfMemory,
    ::testing::Values(OomCase{"FirstCopy", {card("eth0"), card("eth1"), card("eth2")}, 0},
                      OomCase{"AfterTwoCards", {card("eth0"), card("eth1"), card("eth2")}, 2},
                      OomCase{"FallbackCopy",
                              {orlimtest::bridgeInterface("br0").withMac("02:00:00:00:00:01")},
                              0}),
    [](const auto& p) { return std::string(p.param.label); });

// The same scan with memory to spare, so the failures above are the
// allocator's doing and not the scenario's.
TEST(ScanOutOfMemory, ScenarioScansWhenMemoryLasts) {
  orlimtest::NamespaceResult child = orlimtest::runInPrivateNamespaces([]() -> std::string {
    std::vector<FakeInterface> cards = {card("eth0"), card("eth1"), card("eth2")};
    if (!orlimtest::setUpInterfaces(cards)) return "setup failed";
    char** names = nullptr;
    g_copiesLeft = 3;
    int count = probes::getNetworkInterfaces(&names);
    g_copiesLeft = -1;
    for (int i = 0; i < count; ++i) std::free(names[i]);
    std::free(names);
    return "count " + std::to_string(count);
  });
  ASSERT_EQ(child.status, 0);
  EXPECT_EQ(child.output, "count 3");
}

}  // namespace
