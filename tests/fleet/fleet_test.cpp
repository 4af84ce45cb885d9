// orlim-fleet's comparison through its whole run: small fleets, a few
// labels each, with the verdict and warnings every label must get, in JSON
// and in the text table; bad lines named by file and line; exit statuses.
#include "fleet/fleet.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/unique_fd.h"
#include "fleet/example_token.h"
#include "fleet/fleet_compare.h"
#include "fleet/fleet_internal.h"
#include "support/json.h"

namespace {

// Machines of the cases. B is A's UUID with its first three fields
// byte-reversed; A2 is A's UUID with another card.
constexpr const char* kUuidA = "00112233-4455-6677-8899-aabbccddeeff";
constexpr const char* kUuidB = "33221100-5544-7766-8899-aabbccddeeff";
constexpr const char* kUuidC = "c0c1c2c3-c4c5-c6c7-c8c9-cacbcccdcecf";
constexpr const char* kPlaceholder = "03000200-0400-0500-0006-000700080009";
constexpr const char* kCard1 = "12153A58";
constexpr const char* kCard2 = "0A1B2C3D";

// A token record exactly as orlim-decode --json prints one.
std::string token(const std::string& label, const std::string& uuid, const std::string& legacy,
                  unsigned time = 1796861430, const std::string& warnings = "") {
  std::string line = "{";
  if (!label.empty()) line += "\"label\": \"" + label + "\", ";
  line += "\"token\": \"" + std::string(kToken) + "\", \"version\": 1, \"time\": " +
          std::to_string(time) + ", \"time_utc\": \"2026-12-10T00:10:30Z\", \"uuid\": \"" + uuid +
          "\", \"legacy\": \"" + legacy + "\", \"machine\": \"" + uuid + "/" + legacy +
          "\", \"warnings\": [" + warnings + "]}";
  return line;
}

std::string failure(const std::string& label, const std::string& input = "XYZ") {
  std::string line = "{";
  if (!label.empty()) line += "\"label\": \"" + label + "\", ";
  return line + "\"input\": \"" + input + "\", \"error\": \"character 1 is not a hex digit\"}";
}

std::string join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

int memoryFile(const std::string& text) {
  const int fd = memfd_create("fleet-test", MFD_CLOEXEC);
  if (fd >= 0 && !text.empty()) {
    EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    lseek(fd, 0, SEEK_SET);
  }
  return fd;
}

std::string readBack(int fd) {
  std::string text;
  lseek(fd, 0, SEEK_SET);
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

Result run(bool json, const std::string* old, const std::string& now,
           fleet::FleetIo io = fleet::FleetIo{}) {
  UniqueFd nowFd(memoryFile(now));
  UniqueFd oldFd(memoryFile(old == nullptr ? "" : *old));
  UniqueFd out(memfd_create("fleet-out", MFD_CLOEXEC));
  UniqueFd err(memfd_create("fleet-err", MFD_CLOEXEC));
  io.out = out.get();
  io.err = err.get();
  const fleet::FleetSource nowSource{"now.jsonl", nowFd.get()};
  const fleet::FleetSource oldSource{"old.jsonl", oldFd.get()};
  Result r;
  r.status = fleet::runFleet(fleet::FleetOptions{json}, nowSource, old == nullptr ? nullptr : &oldSource, io);
  r.out = readBack(out.get());
  r.err = readBack(err.get());
  return r;
}

// What a label must get. Unlabelled entries are named "@" and their
// machine, or "@" and their input when they failed.
struct Expected {
  std::string label;
  std::string status;
  std::vector<std::string> warnings;
};

struct FleetCase {
  const char* name;
  bool hasPrevious;
  std::vector<std::string> old;
  std::vector<std::string> now;
  std::vector<Expected> expected;
  int status;
  std::vector<std::string> messages;  // on standard error, whole lines
};

void PrintTo(const FleetCase& c, std::ostream* os) { *os << c.name; }

std::string machine(const char* uuid, const char* legacy) { return std::string(uuid) + "/" + legacy; }

const std::vector<FleetCase>& cases() {
  static const std::vector<FleetCase> all = {
      {"same", true, {token("web-01", kUuidA, kCard1)}, {token("web-01", kUuidA, kCard1, 1800000000)},
       {{"web-01", "same", {}}}, 0, {}},
      {"new", true, {}, {token("web-01", kUuidA, kCard1)}, {{"web-01", "new", {}}}, 0, {}},
      {"gone", true, {token("web-01", kUuidA, kCard1)}, {}, {{"web-01", "gone", {}}}, 0, {}},
      {"card-changed", true, {token("web-01", kUuidA, kCard1)}, {token("web-01", kUuidA, kCard2)},
       {{"web-01", "card-changed", {}}}, 1, {}},
      {"uuid-changed", true, {token("web-01", kUuidA, kCard1)}, {token("web-01", kUuidC, kCard1)},
       {{"web-01", "uuid-changed", {}}}, 1, {}},
      {"uuid-byte-order", true, {token("web-01", kUuidA, kCard1)}, {token("web-01", kUuidB, kCard1)},
       {{"web-01", "uuid-byte-order", {}}}, 0, {}},
      {"replaced", true, {token("web-01", kUuidA, kCard1)}, {token("web-01", kUuidC, kCard2)},
       {{"web-01", "replaced", {}}}, 1, {}},
      {"failed", true, {token("web-01", kUuidA, kCard1)}, {failure("web-01")},
       {{"web-01", "failed", {}}}, 1, {}},
      // Settled: an error record for a label OLD does not have is failed, not new.
      {"failed-not-new", true, {}, {failure("web-01")}, {{"web-01", "failed", {}}}, 1, {}},
      // The byte order is no change: what changed is the card.
      {"byte-order-and-card", true, {token("web-01", kUuidA, kCard1)}, {token("web-01", kUuidB, kCard2)},
       {{"web-01", "card-changed", {}}}, 1, {}},
      // A label that failed last time has no identity to compare with.
      {"failed-last-time", true, {failure("web-01")}, {token("web-01", kUuidA, kCard1)},
       {{"web-01", "new", {}}}, 0, {}},
      {"shared-machine", true, {token("web-01", kUuidA, kCard1)},
       {token("web-01", kUuidA, kCard1), token("web-02", kUuidA, kCard1)},
       {{"web-01", "same", {"shared-machine"}}, {"web-02", "new", {"shared-machine"}}}, 1, {}},
      {"shared-uuid", true, {},
       {token("web-01", kUuidA, kCard1), token("web-02", kUuidA, kCard2), token("db-01", kUuidC, kCard1)},
       {{"web-01", "new", {"shared-uuid"}}, {"web-02", "new", {"shared-uuid"}}, {"db-01", "new", {}}}, 1, {}},
      {"both-shared", true, {},
       {token("a", kUuidA, kCard1), token("b", kUuidA, kCard1), token("c", kUuidA, kCard2)},
       {{"a", "new", {"shared-machine", "shared-uuid"}},
        {"b", "new", {"shared-machine", "shared-uuid"}},
        {"c", "new", {"shared-uuid"}}}, 1, {}},
      // The newest token speaks, wherever it stands in the list.
      {"listed-twice", true, {token("web-01", kUuidA, kCard1)},
       {token("web-01", kUuidA, kCard1, 1800000000), token("web-01", kUuidC, kCard2, 1700000000)},
       {{"web-01", "same", {"duplicate-label"}}}, 1, {}},
      {"listed-twice-same-machine", true, {token("web-01", kUuidA, kCard1)},
       {token("web-01", kUuidA, kCard1, 1700000000), token("web-01", kUuidA, kCard1, 1800000000)},
       {{"web-01", "same", {}}}, 0, {}},
      // A token speaks before an error record of the same label.
      {"listed-twice-one-failed", true, {token("web-01", kUuidA, kCard1)},
       {token("web-01", kUuidA, kCard1), failure("web-01")}, {{"web-01", "same", {}}}, 0, {}},
      {"decoder-warning", true, {},
       {token("nas-01", kPlaceholder, kCard1, 1796861430, "\"placeholder-uuid\"")},
       {{"nas-01", "new", {"placeholder-uuid"}}}, 1, {}},
      {"unlabelled", true, {token("", kUuidA, kCard1)},
       {token("", kUuidA, kCard1), token("", kUuidC, kCard1)},
       {{"@" + machine(kUuidA, kCard1), "same", {}}, {"@" + machine(kUuidC, kCard1), "new", {}},},
       0, {}},
      // Settled: unlabelled error records are reported, each on its own.
      {"unlabelled-failures", true, {}, {failure("", "one"), failure("", "two")},
       {{"@one", "failed", {}}, {"@two", "failed", {}}}, 1, {}},
      {"no-previous", false, {}, {token("web-01", kUuidA, kCard1), token("web-02", kUuidC, kCard1)},
       {{"web-01", "new", {}}, {"web-02", "new", {}}}, 0, {}},
      {"blank-lines", true, {"", token("web-01", kUuidA, kCard1), "  "}, {"\r", token("web-01", kUuidA, kCard1)},
       {{"web-01", "same", {}}}, 0, {}},
      // Bad lines: named by file and line, the rest still compared.
      {"broken-line", true, {token("web-01", kUuidA, kCard1)},
       {token("web-01", kUuidA, kCard1), "{\"label\": \"web-02\", \"tok", token("web-03", kUuidC, kCard1)},
       {{"web-01", "same", {}}, {"web-03", "new", {}}}, 1,
       {"orlim-fleet: now.jsonl: line 2: unterminated string"}},
      {"missing-key", true, {},
       {"{\"label\": \"web-01\", \"token\": \"" + std::string(kToken) + "\"}", token("web-02", kUuidA, kCard1)},
       {{"web-02", "new", {}}}, 1, {"orlim-fleet: now.jsonl: line 1: no \"version\""}},
      {"other-version", true, {},
       {"{\"label\": \"web-01\", \"token\": \"" + std::string(kToken) + "\", \"version\": 2}"}, {}, 1,
       {"orlim-fleet: now.jsonl: line 1: a version 2 record (this reads version 1)"}},
      {"bad-line-in-previous", true, {token("web-01", kUuidA, kCard1), "not json"},
       {token("web-01", kUuidA, kCard1)}, {{"web-01", "same", {}}}, 1,
       {"orlim-fleet: old.jsonl: line 2: not a JSON value"}},
      {"long-line", true, {},
       {std::string(70000, ' '), token("web-01", kUuidA, kCard1)}, {{"web-01", "new", {}}}, 1,
       {"orlim-fleet: now.jsonl: line 1: longer than 65535 bytes"}},
  };
  return all;
}

std::string joinWords(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& w : words) text += (text.empty() ? "" : ", ") + w;
  return text;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

class FleetCases : public testing::TestWithParam<FleetCase> {};

TEST_P(FleetCases, JsonGivesEachLabelItsVerdict) {
  const FleetCase& c = GetParam();
  const std::string old = join(c.old);
  const Result r = run(true, c.hasPrevious ? &old : nullptr, join(c.now));
  EXPECT_EQ(r.status, c.status);
  std::vector<std::string> errLines = lines(r.err);
  EXPECT_EQ(errLines, c.messages);
  std::vector<std::string> out = lines(r.out);
  ASSERT_FALSE(out.empty());
  const auto summary = orlimtest::parseJson(out.back());
  ASSERT_TRUE(summary.has_value()) << out.back();
  out.pop_back();
  EXPECT_EQ(summary->at("summary.labels").number, static_cast<double>(c.expected.size()));
  EXPECT_EQ(summary->at("summary.bad_lines").number, static_cast<double>(c.messages.size()));
  EXPECT_EQ(summary->at("summary.needs_look").boolean, c.status == 1);
  std::map<std::string, Expected> got;
  for (const std::string& line : out) {
    const auto o = orlimtest::parseJson(line);
    ASSERT_TRUE(o.has_value()) << line;
    std::string name = o->at("label").text;
    if (o->at("label").isNull())
      name = "@" + (o->at("machine").isNull() ? o->at("input").text : o->at("machine").text);
    Expected e{name, o->at("status").text, {}};
    for (const auto& w : o->at("warnings").items) e.warnings.push_back(w.text);
    EXPECT_TRUE(got.emplace(name, e).second) << name << " reported twice";
  }
  ASSERT_EQ(got.size(), c.expected.size());
  for (const Expected& e : c.expected) {
    ASSERT_TRUE(got.count(e.label)) << e.label;
    EXPECT_EQ(got[e.label].status, e.status) << e.label;
    EXPECT_EQ(got[e.label].warnings, e.warnings) << e.label;
  }
}

TEST_P(FleetCases, TextTableGivesEachLabelItsVerdict) {
  const FleetCase& c = GetParam();
  const std::string old = join(c.old);
  const Result r = run(false, c.hasPrevious ? &old : nullptr, join(c.now));
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(lines(r.err), c.messages);
  const std::vector<std::string> out = lines(r.out);
  ASSERT_FALSE(out.empty());
  // Rows start at the left edge, their notes are indented below them.
  std::map<std::string, Expected> got;
  for (std::size_t i = 0; i + 1 < out.size(); ++i) {  // the count line last
    std::istringstream row(out[i]);
    std::string status, label, machineCell;
    row >> status >> label >> machineCell;
    if (out[i].empty() || out[i][0] == ' ' || status == "STATUS" || label.empty()) continue;
    if (label == "-") label = "@" + machineCell;
    Expected e{label, status, {}};
    for (std::size_t j = i + 1; j < out.size() && out[j].starts_with(" "); ++j) {
      const std::size_t at = out[j].find_first_not_of(' ');
      if (out[j].compare(at, 9, "warnings:") == 0) e.warnings.push_back(out[j].substr(at + 10));
      if (label == "@-" && out[j].compare(at, 6, "error:") == 0) {
        const std::size_t input = out[j].find("(input: ");
        e.label = "@" + out[j].substr(input + 8, out[j].size() - input - 9);
      }
    }
    got[e.label] = e;
  }
  ASSERT_EQ(got.size(), c.expected.size()) << r.out;
  for (const Expected& e : c.expected) {
    ASSERT_TRUE(got.count(e.label)) << e.label << "\n" << r.out;
    EXPECT_EQ(got[e.label].status, e.status) << e.label;
    const std::vector<std::string> warnings =
        e.warnings.empty() ? std::vector<std::string>{} : std::vector<std::string>{joinWords(e.warnings)};
    EXPECT_EQ(got[e.label].warnings, warnings) << e.label;
  }
  // The count line closes the table.
  EXPECT_TRUE(out.back().starts_with(std::to_string(c.expected.size()) + " label")) << out.back();
}

INSTANTIATE_TEST_SUITE_P(Fleets, FleetCases, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<FleetCase>& param) {
                           std::string name = param.param.name;
                           for (char& ch : name)
                             if (ch == '-') ch = '_';
                           return name;
                         });

// What a verdict carries besides its status: both machines and times, the
// error of a failed label, the others sharing an identity, the other
// records of a label listed twice.
TEST(FleetJson, VerdictsCarryBothIdentitiesAndTheDetails) {
  const std::string old = join({token("web-01", kUuidA, kCard1, 1700000000), token("web-02", kUuidC, kCard1)});
  const Result r = run(true, &old,
                       join({token("web-01", kUuidA, kCard2, 1800000000), failure("web-02"),
                             token("web-03", kUuidA, kCard2, 1700000000),
                             token("web-03", kUuidC, kCard2, 1600000000)}));
  const std::vector<std::string> out = lines(r.out);
  ASSERT_EQ(out.size(), 4u);
  const auto changed = orlimtest::parseJson(out[0]);
  ASSERT_TRUE(changed.has_value());
  EXPECT_EQ(changed->at("status").text, "card-changed");
  EXPECT_EQ(changed->at("machine").text, machine(kUuidA, kCard2));
  EXPECT_EQ(changed->at("time").number, 1800000000);
  EXPECT_EQ(changed->at("previous_machine").text, machine(kUuidA, kCard1));
  EXPECT_EQ(changed->at("previous_time").number, 1700000000);
  EXPECT_EQ(changed->at("line").number, 1);
  EXPECT_EQ(changed->at("previous_line").number, 1);
  ASSERT_EQ(changed->at("shared_with").items.size(), 1u);
  EXPECT_EQ(changed->at("shared_with").items[0].at("label").text, "web-03");
  EXPECT_EQ(changed->at("shared_with").items[0].at("machine").text, machine(kUuidA, kCard2));

  const auto failed = orlimtest::parseJson(out[1]);
  ASSERT_TRUE(failed.has_value());
  EXPECT_EQ(failed->at("status").text, "failed");
  EXPECT_TRUE(failed->at("machine").isNull());
  EXPECT_EQ(failed->at("previous_machine").text, machine(kUuidC, kCard1));
  EXPECT_EQ(failed->at("error").text, "character 1 is not a hex digit");
  EXPECT_EQ(failed->at("input").text, "XYZ");

  // Settled: a label listed twice keeps the older record inside its verdict.
  const auto twice = orlimtest::parseJson(out[2]);
  ASSERT_TRUE(twice.has_value());
  EXPECT_EQ(twice->at("line").number, 3);
  ASSERT_EQ(twice->at("duplicates").items.size(), 1u);
  EXPECT_EQ(twice->at("duplicates").items[0].at("line").number, 4);
  EXPECT_EQ(twice->at("duplicates").items[0].at("machine").text, machine(kUuidC, kCard2));
  EXPECT_EQ(twice->at("duplicates").items[0].at("time").number, 1600000000);
}

// Labels come from files: escapes are read back and shown safely, in JSON
// as the one escaping policy writes them and in text with no control
// character reaching the terminal.
TEST(FleetOutput, LabelsFromFilesAreShownSafely) {
  const std::string now = join({token("caf\\u00e9 \\u001b[31m\\ud83d\\ude00", kUuidA, kCard1)});
  const Result json = run(true, nullptr, now);
  const auto o = orlimtest::parseJson(lines(json.out)[0]);
  ASSERT_TRUE(o.has_value());
  EXPECT_EQ(o->at("label").text, "caf\xc3\xa9 \x1b[31m\xf0\x9f\x98\x80");
  EXPECT_NE(json.out.find("\\u001b"), std::string::npos);
  const Result text = run(false, nullptr, now);
  EXPECT_EQ(text.out.find('\x1b'), std::string::npos);
  EXPECT_NE(text.out.find("caf\xc3\xa9 \\x1b[31m\xf0\x9f\x98\x80"), std::string::npos) << text.out;
}

// Many labels on one placeholder UUID: each lists a bounded number of the
// others and counts the rest.
TEST(FleetJson, LongSharedListsAreCut) {
  std::vector<std::string> now;
  for (int i = 0; i < 40; ++i) now.push_back(token("vm-" + std::to_string(i), kUuidA, kCard1));
  const Result r = run(true, nullptr, join(now));
  const auto o = orlimtest::parseJson(lines(r.out)[0]);
  ASSERT_TRUE(o.has_value());
  EXPECT_EQ(o->at("shared_with").items.size(), 16u);
  EXPECT_EQ(o->at("shared_with_more").number, 39 - 16);
}

ssize_t failingRead(int, void*, std::size_t) {
  errno = EIO;
  return -1;
}

TEST(FleetRun, ReadErrorIsReportedAndFails) {
  fleet::FleetIo io;
  io.read = failingRead;
  const Result r = run(true, nullptr, token("web-01", kUuidA, kCard1), io);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "orlim-fleet: now.jsonl: read error: Input/output error\n");
}

// The label and UUID tables hash under a key each run draws for itself, so
// keys crafted to collide under one run's hash do not under the next.
TEST(FleetHash, EachRunDrawsItsOwnKey) {
  fleet::Collection now;
  fleet::Collection old;
  (void)fleet::compare(now, old);
  const HashKey first = fleet::internal::hashKey();
  const std::uint32_t firstHash = fleet::internal::hashBytes("web-01", 6);
  (void)fleet::compare(now, old);
  const HashKey second = fleet::internal::hashKey();
  EXPECT_FALSE(first.k0 == second.k0 && first.k1 == second.k1);
  EXPECT_EQ(fleet::internal::hashBytes("web-01", 6), fleet::internal::hashBytes("web-01", 6));
  // Two 32-bit hashes of one label under two keys agree once in 2^32.
  EXPECT_NE(fleet::internal::hashBytes("web-01", 6), firstHash);
}

TEST(FleetRun, LastLineWithoutLineEndIsRead) {
  const Result r = run(true, nullptr, token("web-01", kUuidA, kCard1));
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\"label\": \"web-01\", \"status\": \"new\""), std::string::npos);
}

}  // namespace
