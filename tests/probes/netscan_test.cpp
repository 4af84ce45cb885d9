// The interface scan: its ordering, the two address requests as the kernel
// sees them, and whole scans over real (virtual) cards in private network
// namespaces.

#include "probes/netscan_internal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "support/namespace.h"
#include "support/netns.h"

namespace {

using orlimtest::Backing;
using orlimtest::FakeInterface;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Mac = std::array<std::uint8_t, 6>;

// ---------------------------------------------------------------- ordering

struct dirent entryNamed(const std::string& name) {
  struct dirent entry;
  std::memset(&entry, 0, sizeof entry);
  std::memcpy(entry.d_name, name.data(), std::min(name.size(), sizeof entry.d_name - 1));
  return entry;
}

int compareNames(const std::string& a, const std::string& b) {
  struct dirent entryA = entryNamed(a);
  struct dirent entryB = entryNamed(b);
  const struct dirent* pa = &entryA;
  const struct dirent* pb = &entryB;
  return probes::compareInterfaceNames(&pa, &pb);
}

TEST(CompareInterfaceNames, SortsAthThenEthThenByteOrder) {
  std::vector<std::string> names = {"wlan0", "eth1",        "br0", "ath0", "eth0", "enp3s0",
                                    "lo",    "\xC3\xA9th0", ".",   "..",   "ath",  "Eth2"};
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return compareNames(a, b) < 0; });
  EXPECT_THAT(names, ElementsAre("ath", "ath0", "eth0", "eth1", ".", "..", "Eth2", "br0", "enp3s0",
                                 "lo", "wlan0", "\xC3\xA9th0"));
}

struct OrderCase {
  const char* a;
  const char* b;
  int sign;  // of compareInterfaceNames(a, b)
};

class CompareInterfaceNamesPairs : public ::testing::TestWithParam<OrderCase> {};

TEST_P(CompareInterfaceNamesPairs, GivesTheSignOfTheOrder) {
  const OrderCase& c = GetParam();
  int result = compareNames(c.a, c.b);
  EXPECT_EQ((result > 0) - (result < 0), c.sign) << c.a << " vs " << c.b;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CompareInterfaceNamesPairs,
    ::testing::Values(OrderCase{"ath9", "eth0", -1}, OrderCase{"eth0", "ath9", 1},
                      OrderCase{"eth9", "br0", -1}, OrderCase{"br0", "eth9", 1},
                      OrderCase{"ath9", "aaa", -1}, OrderCase{"at", "ath", 1},
                      OrderCase{"et", "eth0", 1}, OrderCase{"ath1", "ath0", 1},
                      OrderCase{"eth0", "eth0", 0}, OrderCase{"wlan0", "\x80x", -1},
                      OrderCase{"eth\xFF", "eth0", 1}, OrderCase{"ath0", "ath", 1}));

// ------------------------------------------- the requests, through the seam

// What the fake kernel saw and how it answers. Plain globals: the seam takes
// function pointers.
struct SeenRequest {
  unsigned long request = 0;
  std::array<char, IFNAMSIZ> name{};
  std::array<std::uint8_t, 40> permAddr{};  // as it arrived, for SIOCETHTOOL
};
std::vector<SeenRequest> g_seen;
int g_ioctlResult = 0;
Mac g_answer{};
int g_socketsOpened = 0;

int fakeIoctl(int, unsigned long request, void* argument) {
  auto* ifr = static_cast<struct ifreq*>(argument);
  SeenRequest seen;
  seen.request = request;
  std::memcpy(seen.name.data(), ifr->ifr_name, IFNAMSIZ);
  if (request == SIOCETHTOOL) {
    auto* data = reinterpret_cast<std::uint8_t*>(ifr->ifr_data);
    std::memcpy(seen.permAddr.data(), data, seen.permAddr.size());
    data[4] = 6;  // the kernel puts the real length here
    std::memcpy(data + 8, g_answer.data(), g_answer.size());
    std::memset(data + 14, 0xEE, 26);  // bytes past the address never count
  } else if (request == SIOCGIFHWADDR) {
    std::memcpy(ifr->ifr_hwaddr.sa_data, g_answer.data(), g_answer.size());
  }
  g_seen.push_back(seen);
  return g_ioctlResult;
}

int countingSocket(int domain, int type, int protocol) {
  ++g_socketsOpened;
  return probes::realSocket(domain, type, protocol);
}

int failingSocket(int, int, int) {
  ++g_socketsOpened;
  errno = EMFILE;
  return -1;
}

// Only the very first socket fails: the first card's permanent-address query.
int firstSocketFails(int domain, int type, int protocol) {
  if (++g_socketsOpened == 1) {
    errno = EMFILE;
    return -1;
  }
  return probes::realSocket(domain, type, protocol);
}

constexpr Mac kUntouched = {0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5};
constexpr probes::NetAccess kFakeKernel{probes::kClassNetRoot, countingSocket, fakeIoctl};

class AddressRequests : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen.clear();
    g_ioctlResult = 0;
    g_answer = {};
    g_socketsOpened = 0;
  }
  Mac address_ = kUntouched;
};

TEST_F(AddressRequests, PermanentRequestIsTheFortyByteEthtoolBlock) {
  g_answer = {0x00, 0x1B, 0x21, 0xF0, 0x9E, 0xFF};
  EXPECT_EQ(probes::getPermanentMacAddress("eth0", address_, kFakeKernel),
            probes::PermanentMacResult::kFound);
  EXPECT_EQ(address_, g_answer);
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].request, static_cast<unsigned long>(SIOCETHTOOL));
  std::array<std::uint8_t, 40> expected{};
  expected[0] = 0x20;  // ETHTOOL_GPERMADDR, little-endian
  expected[4] = 32;    // room for the address
  EXPECT_EQ(g_seen[0].permAddr, expected);
  std::array<char, IFNAMSIZ> name{'e', 't', 'h', '0'};
  EXPECT_EQ(g_seen[0].name, name);
  EXPECT_EQ(g_socketsOpened, 1);
}

struct AnswerCase {
  const char* label;
  int ioctlResult;
  Mac answer;
  bool usable;
};

void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.label; }

class AddressAnswers : public AddressRequests, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(AddressAnswers, OnlyASuccessfulNonZeroAnswerIsAnAddress) {
  const AnswerCase& c = GetParam();
  g_ioctlResult = c.ioctlResult;
  g_answer = c.answer;
  Mac expected = c.usable ? c.answer : kUntouched;

  EXPECT_EQ(probes::getPermanentMacAddress("eth0", address_, kFakeKernel),
            c.usable ? probes::PermanentMacResult::kFound : probes::PermanentMacResult::kNotFound);
  EXPECT_EQ(address_, expected);

  address_ = kUntouched;
  EXPECT_EQ(probes::getCurrentMacAddress("eth0", address_, kFakeKernel), c.usable ? 0 : -1);
  EXPECT_EQ(address_, expected);
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_EQ(g_seen[1].request, static_cast<unsigned long>(SIOCGIFHWADDR));
}

INSTANTIATE_TEST_SUITE_P(
    Table, AddressAnswers,
    ::testing::Values(AnswerCase{"Address", 0, {0x52, 0x54, 0x00, 0x12, 0x34, 0x56}, true},
                      AnswerCase{"AllOnes", 0, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, true},
                      AnswerCase{"OnlyLastByte", 0, {0, 0, 0, 0, 0, 1}, true},
                      AnswerCase{"AllZero", 0, {0, 0, 0, 0, 0, 0}, false},
                      AnswerCase{"RequestFailed", -1, {0x52, 0x54, 0x00, 0x12, 0x34, 0x56}, false}),
    [](const auto& p) { return std::string(p.param.label); });

TEST_F(AddressRequests, NoSocketIsItsOwnOutcomeAndAsksNothing) {
  probes::NetAccess noSocket{probes::kClassNetRoot, failingSocket, fakeIoctl};
  g_answer = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(probes::getPermanentMacAddress("eth0", address_, noSocket),
            probes::PermanentMacResult::kNoSocket);
  EXPECT_EQ(probes::getCurrentMacAddress("eth0", address_, noSocket), -1);
  EXPECT_EQ(address_, kUntouched);
  EXPECT_TRUE(g_seen.empty());
}

TEST_F(AddressRequests, LongNamesAreCutToFifteenCharactersAndTerminated) {
  g_answer = {1, 2, 3, 4, 5, 6};
  const std::string longName(255, 'n');
  probes::getPermanentMacAddress(longName.c_str(), address_, kFakeKernel);
  probes::getCurrentMacAddress(longName.c_str(), address_, kFakeKernel);
  std::array<char, IFNAMSIZ> expected;
  expected.fill('n');
  expected[15] = '\0';
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_EQ(g_seen[0].name, expected);
  EXPECT_EQ(g_seen[1].name, expected);
}

// ------------------------------------------------ scans in a namespace

// Passes every request to the real kernel and notes which it was.
std::vector<std::string> g_queried;

int recordingIoctl(int fd, unsigned long request, void* argument) {
  auto* ifr = static_cast<struct ifreq*>(argument);
  g_queried.push_back(std::string(ifr->ifr_name) +
                      (request == SIOCETHTOOL ? ":permanent" : ":current"));
  return probes::realIoctl(fd, request, argument);
}

constexpr probes::NetAccess kRecordingKernel{probes::kClassNetRoot, probes::realSocket,
                                             recordingIoctl};

std::string joined(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& word : words) out += (out.empty() ? "" : " ") + word;
  return out;
}

struct ScanResult {
  int count = -2;
  std::string names;    // space-separated
  std::string queried;  // space-separated name:request
  std::string out;
  std::string err;
  std::string firstResult;  // getFirstNetworkInterface's result and buffer
  bool leaks = false;
  std::string setupError;
};

// Runs the scan, then getFirstNetworkInterface, inside fresh namespaces after
// the cards are made and `extra` has run.
ScanResult scanInNamespace(
    const std::vector<FakeInterface>& cards,
    const std::function<bool()>& extra = [] { return true; },
    const probes::NetAccess& access = kRecordingKernel) {
  orlimtest::NamespaceResult child = orlimtest::runInPrivateNamespaces([&]() -> std::string {
    if (!orlimtest::setUpInterfaces(cards) || !extra()) return orlimtest::packFields({"setup"});
    g_queried.clear();
    int count = -2;
    std::vector<std::string> names;
    orlimtest::CapturedOutput output = orlimtest::captureOutput([&] {
      static char* notReset[1] = {nullptr};
      char** list = notReset;  // the scan must clear it whatever happens
      count = probes::getNetworkInterfaces(&list, access);
      if (count <= 0 && list != nullptr) names.push_back("<list not null>");
      for (int i = 0; i < count; ++i) {
        names.push_back(list[i]);
        std::free(list[i]);
      }
      std::free(count > 0 ? list : nullptr);
    });
    std::string queried = joined(g_queried);
    std::array<char, probes::kInterfaceNameBufferSize> buffer;
    buffer.fill('#');
    int first = probes::getFirstNetworkInterface(buffer, access);
    std::string firstResult = std::to_string(first) + " " +
                              std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
    return orlimtest::packFields({"ok", std::to_string(count), joined(names), queried, output.out,
                                  output.err, firstResult, orlimtest::leaksFound() ? "leaks" : ""});
  });
  ScanResult result;
  std::vector<std::string> fields = orlimtest::unpackFields(child.output);
  if (child.status != 0 || fields.size() != 8 || fields[0] != "ok") {
    result.setupError = "namespace body failed, status " + std::to_string(child.status);
    return result;
  }
  result.count = std::stoi(fields[1]);
  result.names = fields[2];
  result.queried = fields[3];
  result.out = fields[4];
  result.err = fields[5];
  result.firstResult = fields[6];
  result.leaks = !fields[7].empty();
  return result;
}

FakeInterface tap(const std::string& name, Backing backing = Backing::kNone) {
  return orlimtest::tapInterface(name).withBacking(backing);
}

struct ScanCase {
  const char* label;
  std::vector<FakeInterface> cards;
  std::string names;    // the scan's list, in order
  std::string queried;  // empty: not checked
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.label; }

class ScanScenarios : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanScenarios, ListsTheIdentifyingCards) {
  const ScanCase& c = GetParam();
  ScanResult r = scanInNamespace(c.cards);
  ASSERT_EQ(r.setupError, "");
  int expectedCount =
      c.names.empty() ? 0 : static_cast<int>(std::count(c.names.begin(), c.names.end(), ' ')) + 1;
  EXPECT_EQ(r.count, expectedCount);
  EXPECT_EQ(r.names, c.names);
  if (!c.queried.empty()) {
    EXPECT_EQ(r.queried, c.queried);
  }
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  std::string first = c.names.substr(0, c.names.find(' '));
  // On failure the buffer keeps what the caller left there.
  EXPECT_EQ(r.firstResult, c.names.empty() ? "-1 ################################" : "0 " + first);
  EXPECT_FALSE(r.leaks);
}

INSTANTIATE_TEST_SUITE_P(
    Namespace, ScanScenarios,
    ::testing::Values(
        ScanCase{"OnlyLoopback", {}, "", ""},
        // Every filtered name looks like a real card, so only the filter can
        // keep it out; the card that is left is asked about, nothing else.
        ScanCase{"FilteredNamesAreNeverAsked",
                 {orlimtest::vethPair("dummy0", "lowpan0").withBacking(Backing::kDeviceDir),
                  orlimtest::existingInterface("lowpan0").withBacking(Backing::kDeviceDir),
                  orlimtest::existingInterface("lo").withBacking(Backing::kDeviceDir),
                  tap(".hidden", Backing::kDeviceDir), tap("lonely0", Backing::kDeviceDir),
                  tap("dummy", Backing::kWirelessDir), tap("tap9")},
                 "tap9",
                 "tap9:permanent tap9:current"},
        ScanCase{"EthBeforeEnpBeforeWlp",
                 {tap("wlp2s0", Backing::kWirelessDir), tap("enp3s0", Backing::kDeviceDir),
                  tap("eth1", Backing::kDeviceDir)},
                 "eth1 enp3s0 wlp2s0",
                 ""},
        ScanCase{"AthBeforeEth",
                 {tap("eth0", Backing::kDeviceDir), tap("ath0", Backing::kWirelessDir)},
                 "ath0 eth0",
                 "ath0:permanent ath0:current eth0:permanent eth0:current"},
        // Virtual drivers give an all-zero permanent address.
        ScanCase{"KnownByItsCurrentAddressOnly",
                 {tap("eth0", Backing::kDeviceDir).withMac("52:54:00:12:34:56")},
                 "eth0",
                 "eth0:permanent eth0:current"},
        // tun devices have no hardware address: both answers are zeros.
        ScanCase{"AllZeroAddressesAreDropped",
                 {orlimtest::tunInterface("ath0").withBacking(Backing::kWirelessDir),
                  orlimtest::tunInterface("eth0").withBacking(Backing::kDeviceDir),
                  orlimtest::bridgeInterface("br0").withMac("02:00:00:00:00:01")},
                 "br0",
                 ""},
        ScanCase{"NothingButZeroAddresses",
                 {orlimtest::tunInterface("eth0").withBacking(Backing::kDeviceDir)},
                 "",
                 "eth0:permanent eth0:current"},
        ScanCase{"OnlyVirtualGivesTheFirstWithAnAddress",
                 {orlimtest::bridgeInterface("br0").withMac("02:00:00:00:00:01"),
                  orlimtest::vethPair("veth1", "veth0").withMac("02:00:00:00:00:02")},
                 "br0",
                 ""},
        ScanCase{
            "DeviceBeatsEarlierVirtualOnes",
            {tap("eth0"), orlimtest::bridgeInterface("br0"), tap("enp3s0", Backing::kDeviceDir)},
            "enp3s0",
            ""},
        ScanCase{"WirelessDirectoryCounts",
                 {tap("eth0"), tap("wlan0", Backing::kWirelessDir)},
                 "wlan0",
                 ""},
        ScanCase{
            "DeviceLinkIsFollowed", {tap("eth0"), tap("eth1", Backing::kDeviceLink)}, "eth1", ""},
        ScanCase{"DeviceFileIsNotADevice",
                 {tap("eth0"), tap("eth1", Backing::kDeviceFile)},
                 "eth0",
                 ""}),
    [](const auto& p) { return std::string(p.param.label); });

TEST(ScanInNamespace, MissingListingIsReportedOnStdout) {
  ScanResult r = scanInNamespace({}, [] {
    // An empty tmpfs over /sys/class: no "net" directory at all.
    return ::mount("tmpfs", "/sys/class", "tmpfs", 0, "mode=0755") == 0;
  });
  ASSERT_EQ(r.setupError, "");
  EXPECT_EQ(r.count, -1);
  EXPECT_EQ(r.names, "");
  EXPECT_EQ(r.out, "Unable to read interfaces list\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.firstResult, "-1 ################################");
  EXPECT_FALSE(r.leaks);
}

// Without a socket nothing can be learnt about a card: it is not even a
// fallback.
TEST(ScanInNamespace, CardsThatCannotBeAskedArePassedOver) {
  probes::NetAccess noSockets{probes::kClassNetRoot, failingSocket, recordingIoctl};
  ScanResult r = scanInNamespace(
      {tap("eth0", Backing::kDeviceDir), tap("eth1")}, [] { return true; }, noSockets);
  ASSERT_EQ(r.setupError, "");
  EXPECT_EQ(r.count, 0);
  EXPECT_EQ(r.names, "");
  EXPECT_EQ(r.out, "");
}

// A card whose permanent address could not be asked for is not asked for its
// current one either, and so cannot be the fallback; the next card can.
TEST(ScanInNamespace, NoSocketForThePermanentQueryPassesTheCardOver) {
  probes::NetAccess firstFails{probes::kClassNetRoot, firstSocketFails, recordingIoctl};
  ScanResult r = scanInNamespace(
      {tap("eth0", Backing::kDeviceDir), tap("eth1")},
      [] {
        g_socketsOpened = 0;
        return true;
      },
      firstFails);
  ASSERT_EQ(r.setupError, "");
  EXPECT_EQ(r.count, 1);
  EXPECT_EQ(r.names, "eth1");
  EXPECT_EQ(r.queried, "eth1:permanent eth1:current");
}

TEST(ScanInNamespace, TheRootIsAParameter) {
  probes::NetAccess elsewhere{"/nonexistent/class/net/", probes::realSocket, probes::realIoctl};
  ScanResult r = scanInNamespace(
      {tap("eth0", Backing::kDeviceDir)}, [] { return true; }, elsewhere);
  ASSERT_EQ(r.setupError, "");
  EXPECT_EQ(r.count, -1);
  EXPECT_EQ(r.out, "Unable to read interfaces list\n");
}

// A directory entry may be 255 characters long: its device path must be
// built in full. The kernel only sees the first 15, which name a real card.
TEST(ScanInNamespace, LongestEntryNamesKeepTheirWholePath) {
  const std::string cardName = "abcdefghijklmno";
  const std::string entryName = cardName + std::string(255 - cardName.size(), 'x');
  ScanResult r = scanInNamespace({tap(cardName, Backing::kDeviceFile)}, [&] {
    std::string entry = "/sys/class/net/" + entryName;
    return ::mkdir(entry.c_str(), 0755) == 0 && ::mkdir((entry + "/wireless").c_str(), 0755) == 0;
  });
  ASSERT_EQ(r.setupError, "");
  EXPECT_EQ(r.count, 1);
  EXPECT_EQ(r.names, entryName);
  EXPECT_EQ(r.firstResult, "0 " + entryName.substr(0, 31));
}

}  // namespace

namespace {

// What orlim-inspect learns about the chosen card, from the kernel's own
// answers: the driver, where its address came from, and its device links.
TEST(DescribeInterface, DriverAddressOriginAndDeviceLinks) {
  const std::vector<FakeInterface> cards = {
      orlimtest::vethPair("veth0", "veth1"), orlimtest::existingInterface("veth1"),
      tap("vf0", Backing::kVirtualFunction).withMac("02:00:00:00:00:01"),
      tap("eth0", Backing::kDeviceDir).withMac("00:1b:21:0a:0b:0c")};
  orlimtest::NamespaceResult child = orlimtest::runInPrivateNamespaces([&]() -> std::string {
    if (!orlimtest::setUpInterfaces(cards)) return "setup";
    std::string out;
    for (const char* name : {"veth0", "vf0", "eth0", "missing0"}) {
      probes::InterfaceDetails d;
      probes::describeInterface(name, probes::NetAccess{}, d);
      out += std::string(name) + ":" + d.driver.data() + ":" + std::to_string(d.addressAssignType) +
             ":" + (d.hasDevice ? "device" : "-") + ":" + (d.virtualFunction ? "physfn" : "-") +
             " ";
    }
    return out;
  });
  ASSERT_EQ(child.status, 0);
  // A veth's address is random unless set; a tap's was set here. User-mode
  // emulation answers the permanent-address request but not the driver
  // request, so there the driver names stay empty.
#ifdef ORLIM_TESTS_UNDER_EMULATOR
  EXPECT_EQ(child.output, "veth0::1:-:- vf0::3:device:physfn eth0::3:device:- missing0::-1:-:- ");
#else
  EXPECT_EQ(child.output,
            "veth0:veth:1:-:- vf0:tun:3:device:physfn eth0:tun:3:device:- "
            "missing0::-1:-:- ");
#endif
}

}  // namespace
