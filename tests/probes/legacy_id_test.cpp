// The legacy system identifier: its text, the IPv4 source and the whole
// chain over real cards in private network namespaces, the thread's affinity
// around it included. The processor signature has a test of its own per
// architecture (cpu_signature_*_test.cpp), linked into the same binary.

#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mount.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "probes/cpu_signature_test_support.h"
#include "probes/legacy_id_internal.h"
#include "support/namespace.h"
#include "support/netns.h"

namespace {

using orlimtest::Backing;
using orlimtest::kExampleSignature;
using orlimtest::FakeInterface;
using Mac = std::array<std::uint8_t, 6>;

std::string hex8(std::int64_t signature) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X",
                static_cast<unsigned>(static_cast<std::uint32_t>(signature)));
  return text;
}

// ---------------------------------------------------------------- format

struct FormatCase {
  const char* label;
  Mac address;
  std::int64_t signature;
  int size;
  const char* text;  // what the buffer holds afterwards
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.label; }

class FormatLegacySystemId : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatLegacySystemId, WritesAsSnprintfAndReturnsSixteen) {
  const FormatCase& c = GetParam();
  std::array<char, 20> buffer;
  buffer.fill('#');
  buffer.back() = '\0';
  EXPECT_EQ(probes::formatLegacySystemId(buffer.data(), c.size, c.address, c.signature), 16);
  EXPECT_STREQ(buffer.data(), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FormatLegacySystemId,
    ::testing::Values(FormatCase{.label = "WorkedExample",
                                 .address = {0x00, 0x1B, 0x21, 0xF0, 0x9E, 0xFF},
                                 .signature = kExampleSignature,
                                 .size = 17,
                                 .text = "33F3A401FD084722"},
                      FormatCase{.label = "CurrentAddress",
                                 .address = {0x52, 0x54, 0x00, 0x12, 0x34, 0x56},
                                 .signature = 0,
                                 .size = 17,
                                 .text = "12153A5800000000"},
                      // The IPv4 source fills bytes 2 to 5 only.
                      FormatCase{.label = "Ipv4Bytes",
                                 .address = {0, 0, 10, 1, 2, 3},
                                 .signature = 0x1234ABCD,
                                 .size = 17,
                                 .text = "1C0408051234ABCD"},
                      FormatCase{.label = "EveryByteWraps",
                                 .address = {0, 0, 0xEE, 0xFD, 0xFA, 0xFE},
                                 .signature = -1,
                                 .size = 17,
                                 .text = "00000000FFFFFFFF"},
                      FormatCase{.label = "OnlyLow32BitsOfTheSignature",
                                 .address = {0, 0, 0, 0, 0, 0},
                                 .signature = 0x7FFFFFFF00000001,
                                 .size = 17,
                                 .text = "1203060200000001"},
                      FormatCase{.label = "Size9KeepsTheAddressHalf",
                                 .address = {0x00, 0x1B, 0x21, 0xF0, 0x9E, 0xFF},
                                 .signature = kExampleSignature,
                                 .size = 9,
                                 .text = "33F3A401"},
                      FormatCase{.label = "Size1",
                                 .address = {0x00, 0x1B, 0x21, 0xF0, 0x9E, 0xFF},
                                 .signature = 0,
                                 .size = 1,
                                 .text = ""},
                      FormatCase{.label = "Size0WritesNothing",
                                 .address = {0x00, 0x1B, 0x21, 0xF0, 0x9E, 0xFF},
                                 .signature = 0,
                                 .size = 0,
                                 .text = "###################"},
                      FormatCase{.label = "NegativeSizeWritesNothing",
                                 .address = {0x00, 0x1B, 0x21, 0xF0, 0x9E, 0xFF},
                                 .signature = 0,
                                 .size = -1,
                                 .text = "###################"}),
    [](const auto& p) { return std::string(p.param.label); });

// ------------------------------------------------- IPv4 source, in a namespace

TEST(GetIpv4AddressBytes, TakesTheFirstIpv4AddressOfExactlyThatInterface) {
  orlimtest::NamespaceResult child = orlimtest::runInPrivateNamespaces([]() -> std::string {
    std::vector<FakeInterface> cards = {
        orlimtest::tunInterface("tun0").withIpv4("10.1.2.3/24").withIpv4("10.9.9.9/24"),
        orlimtest::tapInterface("wan0").withIpv4("203.0.113.250/24"),
        orlimtest::tapInterface("tap0").withIpv4("192.168.7.9/24"),
        orlimtest::tapInterface("bare0"),
    };
    if (!orlimtest::setUpInterfaces(cards)) return "setup failed";
    std::string out;
    for (const char* name : {"tun0", "wan0", "tap", "bare0", "nosuch"}) {
      Mac address = {0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5};
      int result = probes::getIpv4AddressBytes(name, address);
      char line[64];
      std::snprintf(line, sizeof line, "%s %d", name, result);
      out += line;
      if (result == 0) {
        std::snprintf(line, sizeof line, " %d.%d.%d.%d %02X%02X", address[2], address[3],
                      address[4], address[5], address[0], address[1]);
        out += line;
      }
      out += "\n";
    }
    return out;
  });
  ASSERT_EQ(child.status, 0);
  EXPECT_EQ(child.output,
            "tun0 0 10.1.2.3 A5A5\n"
            "wan0 0 203.0.113.250 A5A5\n"
            "tap -1\n"
            "bare0 -1\n"
            "nosuch -1\n");
}

// ------------------------------------------------ the whole chain, in a namespace

// How the address queries on the chosen card are answered; the scan itself
// always talks to the real kernel.
enum class Queries {
  kReal,
  kPermanentFound,  // answers GPERMADDR with 00:1B:21:F0:9E:FF, as a hardware card would
  kRequestsFail,    // the card went away after the scan
  kNoSocket,
};

int g_socketsOpened = 0;

int permanentFoundIoctl(int fd, unsigned long request, void* argument) {
  if (request != SIOCETHTOOL) return probes::realIoctl(fd, request, argument);
  auto* data = reinterpret_cast<std::uint8_t*>(static_cast<struct ifreq*>(argument)->ifr_data);
  const Mac permanent = {0x00, 0x1B, 0x21, 0xF0, 0x9E, 0xFF};
  std::memcpy(data + 8, permanent.data(), permanent.size());
  return 0;
}

int failingIoctl(int, unsigned long, void*) {
  errno = ENODEV;
  return -1;
}

int noSocket(int, int, int) {
  ++g_socketsOpened;
  errno = EMFILE;
  return -1;
}

probes::LegacyIdAccess accessFor(Queries queries) {
  probes::LegacyIdAccess access;
  switch (queries) {
    case Queries::kReal:
      break;
    case Queries::kPermanentFound:
      access.queries.ioctl = permanentFoundIoctl;
      break;
    case Queries::kRequestsFail:
      access.queries.ioctl = failingIoctl;
      break;
    case Queries::kNoSocket:
      access.queries.openSocket = noSocket;
      break;
  }
  return access;
}

struct ChainCase {
  const char* label;
  std::vector<FakeInterface> cards;
  Queries queries;
  int size;
  int result;           // 16, or 10 for the fallback
  std::string address;  // the first eight characters when 16
  std::string out;
  std::string err;
  bool unlistable = false;  // /sys/class/net is missing
};

void PrintTo(const ChainCase& c, std::ostream* os) { *os << c.label; }

// What one run in the child namespace saw, sent back as packed fields.
struct ChainRun {
  std::string result;
  std::string buffer;  // all 23 bytes, terminator included
  std::string out;
  std::string err;
  std::string signature;  // the reference signature's low 32 bits, in hex
  std::string affinityMoved;
  std::string socketsOpened;
  std::string leaks;
  // The same call watched, as orlim-inspect makes it: what differed from the
  // plain call, what it printed (nothing) and what it says about the address.
  std::string watchedDiffers;
  std::string watchedOutput;
  std::string watchedSource;
  std::string watchedCard;
};

std::string packRun(const ChainRun& run) {
  return orlimtest::packFields({run.result, run.buffer, run.out, run.err, run.signature,
                                run.affinityMoved, run.socketsOpened, run.leaks, run.watchedDiffers,
                                run.watchedOutput, run.watchedSource, run.watchedCard});
}

bool unpackRun(const std::string& packed, ChainRun& run) {
  std::vector<std::string> f = orlimtest::unpackFields(packed);
  if (f.size() != 12) return false;
  run = {.result = f[0],
         .buffer = f[1],
         .out = f[2],
         .err = f[3],
         .signature = f[4],
         .affinityMoved = f[5],
         .socketsOpened = f[6],
         .leaks = f[7],
         .watchedDiffers = f[8],
         .watchedOutput = f[9],
         .watchedSource = f[10],
         .watchedCard = f[11]};
  return true;
}

const char* addressSourceName(probes::AddressSource source) {
  switch (source) {
    case probes::AddressSource::kNone:
      return "none";
    case probes::AddressSource::kPermanent:
      return "permanent";
    case probes::AddressSource::kCurrent:
      return "current";
    case probes::AddressSource::kIpv4:
      return "ipv4";
  }
  return "?";
}

class LegacyIdChain : public ::testing::TestWithParam<ChainCase> {};

TEST_P(LegacyIdChain, BuildsTheIdentifierOrTheFallback) {
  const ChainCase& c = GetParam();
  cpu_set_t saved = orlimtest::currentAffinity();
  // Start without CPU 0 where possible, so the affinity check means something.
  if (CPU_COUNT(&saved) >= 2) {
    ASSERT_TRUE(orlimtest::setAffinity({1}));
  }
  orlimtest::NamespaceResult child = orlimtest::runInPrivateNamespaces([&]() -> std::string {
    if (!orlimtest::setUpInterfaces(c.cards)) return "setup failed";
    if (c.unlistable && ::mount("tmpfs", "/sys/class", "tmpfs", 0, "mode=0755") != 0)
      return "setup failed";
    probes::LegacyIdAccess access = accessFor(c.queries);
    std::array<char, 24> buffer;
    buffer.fill('#');
    buffer.back() = '\0';
    g_socketsOpened = 0;
    cpu_set_t before = orlimtest::currentAffinity();
    int result = 0;
    orlimtest::CapturedOutput output = orlimtest::captureOutput(
        [&] { result = probes::snprintLegacySystemId(buffer.data(), c.size, access); });
    cpu_set_t after = orlimtest::currentAffinity();
    const std::string socketsOpened = std::to_string(g_socketsOpened);

    auto seen = std::make_unique<probes::LegacyIdObservation>();
    std::array<char, 24> watchedBuffer;
    watchedBuffer.fill('#');
    watchedBuffer.back() = '\0';
    int watchedResult = 0;
    // Quiet is the caller's choice, as orlim-inspect makes it, not a side
    // effect of watching: a watched run that keeps the messages prints them.
    probes::LegacyIdAccess quiet = access;
    quiet.printMessages = false;
    quiet.scan.printMessages = false;
    orlimtest::CapturedOutput watchedOutput = orlimtest::captureOutput([&] {
      watchedResult =
          probes::snprintLegacySystemId(watchedBuffer.data(), c.size, quiet, seen.get());
    });
    const bool differs = watchedResult != result || watchedBuffer != buffer;
    return packRun({.result = std::to_string(result),
                    .buffer = std::string(buffer.data(), 23),
                    .out = output.out,
                    .err = output.err,
                    .signature = hex8(orlimtest::referenceSignature()),
                    .affinityMoved = CPU_EQUAL(&before, &after) ? "" : "moved",
                    .socketsOpened = socketsOpened,
                    .leaks = orlimtest::leaksFound() ? "leaks" : "",
                    .watchedDiffers = differs ? "differs" : "",
                    .watchedOutput = watchedOutput.out + watchedOutput.err,
                    .watchedSource = addressSourceName(seen->source),
                    .watchedCard = seen->cardFound ? seen->card.data() : ""});
  });
  pthread_setaffinity_np(pthread_self(), sizeof saved, &saved);

  ASSERT_EQ(child.status, 0);
  ChainRun run;
  ASSERT_TRUE(unpackRun(child.output, run)) << child.output;
  std::string full = c.result == 16 ? c.address + run.signature : "1234567890";
  std::string written = full.substr(0, static_cast<std::size_t>(c.size - 1));
  EXPECT_EQ(run.result, std::to_string(c.result));
  // The text, its terminating zero, and nothing touched past them.
  EXPECT_EQ(run.buffer, written + '\0' + std::string(23 - written.size() - 1, '#'));
  EXPECT_EQ(run.out, c.out);
  EXPECT_EQ(run.err, c.err);
  EXPECT_EQ(run.affinityMoved, "") << "the thread's affinity changed";
  if (c.queries == Queries::kNoSocket) {
    EXPECT_EQ(run.socketsOpened, "1") << "the current address was asked for";
  }
  EXPECT_EQ(run.leaks, "");

  // Watched and quiet, the call gives the same identifier, prints nothing, and names
  // the query that gave the bytes: the permanent address where the request
  // answers, the IPv4 address where no hardware address comes, else the
  // current one.
  EXPECT_EQ(run.watchedDiffers, "");
  EXPECT_EQ(run.watchedOutput, "");
  const char* source = c.result != 16                          ? "none"
                       : c.queries == Queries::kPermanentFound ? "permanent"
                       : c.queries == Queries::kReal           ? "current"
                                                               : "ipv4";
  EXPECT_EQ(run.watchedSource, source);
  EXPECT_EQ(run.watchedCard, c.cards.empty() ? "" : c.cards.front().name);
}

FakeInterface backedTap(const char* name, const char* mac) {
  return orlimtest::tapInterface(name).withMac(mac).withBacking(Backing::kDeviceDir);
}

const char kNoCard[] = "[snprintLegacySystemId] No network card detected\n";
const char kNoAddress[] = "Error reading network cards info\n";

INSTANTIATE_TEST_SUITE_P(
    Namespace, LegacyIdChain,
    ::testing::Values(
        ChainCase{.label = "CurrentAddress",
                  .cards = {backedTap("eth0", "52:54:00:12:34:56")},
                  .queries = Queries::kReal,
                  .size = 17,
                  .result = 16,
                  .address = "12153A58",
                  .out = "",
                  .err = ""},
        ChainCase{.label = "PermanentAddressComesFirst",
                  .cards = {backedTap("eth0", "52:54:00:12:34:56")},
                  .queries = Queries::kPermanentFound,
                  .size = 17,
                  .result = 16,
                  .address = "33F3A401",
                  .out = "",
                  .err = ""},
        ChainCase{.label = "Ipv4WhenBothRequestsFail",
                  .cards = {backedTap("eth0", "52:54:00:12:34:56").withIpv4("10.1.2.3/24")},
                  .queries = Queries::kRequestsFail,
                  .size = 17,
                  .result = 16,
                  .address = "1C040805",
                  .out = "",
                  .err = ""},
        ChainCase{.label = "Ipv4AtOnceWithoutASocket",
                  .cards = {backedTap("eth0", "52:54:00:12:34:56").withIpv4("10.1.2.3/24")},
                  .queries = Queries::kNoSocket,
                  .size = 17,
                  .result = 16,
                  .address = "1C040805",
                  .out = "",
                  .err = ""},
        ChainCase{.label = "NoAddressAnywhere",
                  .cards = {backedTap("eth0", "52:54:00:12:34:56")},
                  .queries = Queries::kRequestsFail,
                  .size = 17,
                  .result = 10,
                  .address = "",
                  .out = "",
                  .err = kNoAddress},
        ChainCase{.label = "OnlyLoopback",
                  .cards = {},
                  .queries = Queries::kReal,
                  .size = 17,
                  .result = 10,
                  .address = "",
                  .out = "",
                  .err = kNoCard},
        ChainCase{.label = "NoListing",
                  .cards = {},
                  .queries = Queries::kReal,
                  .size = 17,
                  .result = 10,
                  .address = "",
                  .out = "Unable to read interfaces list\n",
                  .err = kNoCard,
                  .unlistable = true},
        ChainCase{.label = "Size9",
                  .cards = {backedTap("eth0", "52:54:00:12:34:56")},
                  .queries = Queries::kReal,
                  .size = 9,
                  .result = 16,
                  .address = "12153A58",
                  .out = "",
                  .err = ""},
        ChainCase{.label = "Size5Fallback",
                  .cards = {},
                  .queries = Queries::kReal,
                  .size = 5,
                  .result = 10,
                  .address = "",
                  .out = "",
                  .err = kNoCard}),
    [](const auto& p) { return std::string(p.param.label); });

}  // namespace
