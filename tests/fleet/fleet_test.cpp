// orlim-fleet's comparison through its whole run: small fleets, a few
// labels each, with the verdict and warnings every label must get, in JSON
// and in the text table; bad lines named by file and line; exit statuses.
#include "fleet/fleet.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <ctime>
#include <deque>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/unique_fd.h"
#include "fleet/example_token.h"
#include "fleet/fleet_compare.h"
#include "fleet/fleet_internal.h"
#include "report/wrap.h"
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
// 東京 thirty times: 120 columns.
const std::string kWideLabel = [] {
  std::string label;
  for (int i = 0; i < 30; ++i) label += "\xe6\x9d\xb1\xe4\xba\xac";
  return label;
}();

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

// An error record of the collector's kind: unreachable or no-token.
std::string noToken(const std::string& label, const std::string& kind) {
  return "{\"label\": \"" + label + "\", \"kind\": \"" + kind + "\", \"input\": \"!" + kind +
         " ssh failed\", \"error\": \"host " + kind + ": ssh failed\", \"line\": 1}";
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

// orlim-fleet over NOW and the previous collections, oldest first: one is
// old.jsonl, several old1.jsonl, old2.jsonl, ...
Result runAll(fleet::FleetOptions options, const std::vector<std::string>& previous,
              const std::string& now, fleet::FleetIo io = fleet::FleetIo{}) {
  UniqueFd nowFd(memoryFile(now));
  std::deque<UniqueFd> oldFds;
  std::vector<std::string> names;
  std::vector<fleet::FleetSource> sources;
  for (std::size_t i = 0; i < previous.size(); ++i) {
    oldFds.emplace_back(memoryFile(previous[i]));
    names.push_back(previous.size() == 1 ? "old.jsonl" : "old" + std::to_string(i + 1) + ".jsonl");
  }
  for (std::size_t i = 0; i < previous.size(); ++i) sources.push_back({names[i], oldFds[i].get()});
  UniqueFd out(memfd_create("fleet-out", MFD_CLOEXEC));
  UniqueFd err(memfd_create("fleet-err", MFD_CLOEXEC));
  io.out = out.get();
  io.err = err.get();
  const fleet::FleetSource nowSource{"now.jsonl", nowFd.get()};
  Result r;
  r.status = fleet::runFleet(options, nowSource, sources, io);
  r.out = readBack(out.get());
  r.err = readBack(err.get());
  return r;
}

Result run(bool json, const std::string* old, const std::string& now,
           fleet::FleetIo io = fleet::FleetIo{}) {
  fleet::FleetOptions options;
  options.json = json;
  return runAll(options, old == nullptr ? std::vector<std::string>{} : std::vector<std::string>{*old},
                now, io);
}

// What a label must get. Unlabelled entries are named "@" and their
// machine, or "@" and their input when they failed. movedFrom and movedTo
// name the label a move links it to, if any.
struct Expected {
  std::string label;
  std::string status;
  std::vector<std::string> warnings;
  std::string movedFrom = "";
  std::string movedTo = "";
};

struct FleetCase {
  const char* name;
  bool hasPrevious;
  std::vector<std::string> old;  // the latest previous collection
  std::vector<std::string> now;
  std::vector<Expected> expected;
  int status;
  std::vector<std::string> messages;  // on standard error, whole lines
  // Collections before old, oldest first.
  std::vector<std::vector<std::string>> earlier = {};
};

void PrintTo(const FleetCase& c, std::ostream* os) { *os << c.name; }

std::string machine(const char* uuid, const char* legacy) { return std::string(uuid) + "/" + legacy; }

std::vector<std::string> previousOf(const FleetCase& c) {
  std::vector<std::string> previous;
  for (const auto& collection : c.earlier) previous.push_back(join(collection));
  if (c.hasPrevious) previous.push_back(join(c.old));
  return previous;
}

Result runCase(const FleetCase& c, bool json, bool wide = false) {
  fleet::FleetOptions options;
  options.json = json;
  options.wide = wide;
  return runAll(options, previousOf(c), join(c.now));
}

const std::vector<FleetCase>& cases() {
  static const std::vector<FleetCase> all = {
      {"same", true, {token("web-01", kUuidA, kCard1)}, {token("web-01", kUuidA, kCard1, 1800000000)},
       {{"web-01", "same", {}}}, 0, {}},
      {"new", true, {}, {token("web-01", kUuidA, kCard1)}, {{"web-01", "new", {}}}, 0, {}},
      {"gone", true, {token("web-01", kUuidA, kCard1)}, {token("web-02", kUuidC, kCard1)},
       {{"web-01", "gone", {}}, {"web-02", "new", {}}}, 0, {}},
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
      // A host the collector could not reach: unreachable, its identity kept.
      {"unreachable", true, {token("web-01", kUuidA, kCard1)}, {noToken("web-01", "unreachable")},
       {{"web-01", "unreachable", {}}}, 1, {}},
      {"unreachable-not-new", true, {}, {noToken("web-01", "unreachable")},
       {{"web-01", "unreachable", {}}}, 1, {}},
      // Reached, and orlim gave no token: failed.
      {"no-token", true, {token("web-01", kUuidA, kCard1)}, {noToken("web-01", "no-token")},
       {{"web-01", "failed", {}}}, 1, {}},
      // Unreachable in the latest collection: there, so not gone; back the
      // next time, compared with the identity before.
      {"back-after-unreachable", true, {noToken("web-01", "unreachable"), token("web-02", kUuidC, kCard1)},
       {token("web-01", kUuidA, kCard2), token("web-02", kUuidC, kCard1)},
       {{"web-01", "card-changed", {}}, {"web-02", "same", {}}}, 1, {}, {{token("web-01", kUuidA, kCard1)}}},
      {"unreachable-then-missing", true, {noToken("web-01", "unreachable"), token("web-02", kUuidC, kCard1)},
       {token("web-02", kUuidC, kCard1)}, {{"web-01", "gone", {}}, {"web-02", "same", {}}}, 0, {},
       {{token("web-01", kUuidA, kCard1)}}},
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
      // The latest token speaks whichever line it is on; the other record is
      // in the JSON verdict too.
      {"listed-twice-later-line-speaks", true, {token("web-01", kUuidC, kCard2)},
       {token("web-01", kUuidA, kCard1, 1700000000), token("web-01", kUuidC, kCard2, 1800000000)},
       {{"web-01", "same", {"duplicate-label"}}}, 1, {}},
      // An empty collection (a collector that stopped) is not every label gone.
      {"empty-now", true, {token("web-01", kUuidA, kCard1)}, {}, {}, 1,
       {"orlim-fleet: now.jsonl: no records, where the previous collections have some: nothing compared"}},
      {"now-only-bad-lines", true, {token("web-01", kUuidA, kCard1)}, {"not json"}, {}, 1,
       {"orlim-fleet: now.jsonl: line 1: not a JSON value",
        "orlim-fleet: now.jsonl: no records, where the previous collections have some: nothing compared"}},
      {"empty-both", true, {}, {}, {}, 0, {}},
      // Several previous collections: each label compared with its last
      // known identity, wherever that came from.
      {"back-after-a-miss", true, {token("web-01", kUuidA, kCard1)},
       {token("web-01", kUuidA, kCard1), token("web-02", kUuidC, kCard2)},
       {{"web-01", "same", {}}, {"web-02", "card-changed", {}}}, 1, {},
       {{token("web-01", kUuidA, kCard1), token("web-02", kUuidC, kCard1)}}},
      // Gone once, when first missing; not again.
      {"missing-twice-not-gone-again", true, {token("web-01", kUuidA, kCard1)},
       {token("web-01", kUuidA, kCard1)}, {{"web-01", "same", {}}}, 0, {},
       {{token("web-01", kUuidA, kCard1), token("web-02", kUuidC, kCard1)}}},
      {"back-after-a-failure", true, {failure("web-01")}, {token("web-01", kUuidA, kCard2)},
       {{"web-01", "card-changed", {}}}, 1, {}, {{token("web-01", kUuidA, kCard1)}}},
      // Failed in the latest collection: there, so gone when missing next.
      {"failed-then-missing", true, {failure("web-01"), token("web-02", kUuidC, kCard1)},
       {token("web-02", kUuidC, kCard1)}, {{"web-01", "gone", {}}, {"web-02", "same", {}}}, 0, {},
       {{token("web-01", kUuidA, kCard1)}}},
      {"failed-keeps-older-identity", true, {failure("web-01", "one")}, {failure("web-01", "two")},
       {{"web-01", "failed", {}}}, 1, {}, {{token("web-01", kUuidA, kCard1)}}},
      {"three-collections-newest-wins", true, {token("web-01", kUuidA, kCard2)},
       {token("web-01", kUuidA, kCard2)}, {{"web-01", "same", {}}}, 0, {},
       {{token("web-01", kUuidA, kCard1)}, {token("web-01", kUuidC, kCard1)}}},
      // Moves: a label now showing another's last known machine, that label
      // gone or showing another machine.
      {"moved-to-known-label", true, {token("old-01", kUuidC, kCard1), token("db-02", kUuidA, kCard2)},
       {token("db-02", kUuidC, kCard1)},
       {{"old-01", "gone", {}, "", "db-02"}, {"db-02", "replaced", {}, "old-01", ""}}, 1, {}},
      {"moved-to-new-label", true, {token("old-01", kUuidC, kCard1)}, {token("db-03", kUuidC, kCard1)},
       {{"old-01", "gone", {}, "", "db-03"}, {"db-03", "new", {}, "old-01", ""}}, 0, {}},
      {"swapped", true, {token("a", kUuidA, kCard1), token("b", kUuidC, kCard2)},
       {token("a", kUuidC, kCard2), token("b", kUuidA, kCard1)},
       {{"a", "replaced", {}, "b", "b"}, {"b", "replaced", {}, "a", "a"}}, 1, {}},
      // Still showing its machine: a clone, not a move.
      {"clone-is-no-move", true, {token("a", kUuidA, kCard1)},
       {token("a", kUuidA, kCard1), token("b", kUuidA, kCard1)},
       {{"a", "same", {"shared-machine"}}, {"b", "new", {"shared-machine"}}}, 1, {}},
      // A label missing since before has no verdict to link: no move.
      {"silent-label-is-no-move", true, {token("web-01", kUuidA, kCard1)},
       {token("web-01", kUuidA, kCard1), token("db-09", kUuidC, kCard1)},
       {{"web-01", "same", {}}, {"db-09", "new", {}}}, 0, {},
       {{token("web-01", kUuidA, kCard1), token("old-01", kUuidC, kCard1)}}},
      {"moved-then-failed-elsewhere", true, {token("old-01", kUuidC, kCard1), token("db-02", kUuidA, kCard2)},
       {failure("old-01"), token("db-02", kUuidC, kCard1)},
       {{"old-01", "failed", {}}, {"db-02", "replaced", {}}}, 1, {}},
      // Wide characters take two columns each.
      {"label-that-is-wide", true, {}, {token(kWideLabel, kUuidA, kCard1)}, {{kWideLabel, "new", {}}}, 0, {}},
      {"label-that-is-long", true, {},
       {token(std::string(150, 'x'), kUuidA, kCard1), failure("web-01", std::string(300, 'y'))},
       {{std::string(150, 'x'), "new", {}}, {"web-01", "failed", {}}}, 1, {}},
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

// The text's blocks read back: a label's first line at the left edge (its
// verdict, then its label), its notes indented below, each a name and a
// value in the value column, a longer value carried on in that column.
constexpr std::size_t kValueColumn = 15;

struct TextBlock {
  std::string status;
  std::string label;
  std::vector<std::pair<std::string, std::string>> notes;

  std::vector<std::string> values(const std::string& name) const {
    std::vector<std::string> out;
    for (const auto& [n, v] : notes)
      if (n == name) out.push_back(v);
    return out;
  }
  std::string value(const std::string& name) const {
    const auto all = values(name);
    return all.empty() ? "" : all.front();
  }
};

std::size_t columns(std::string_view line) { return report::textColumns(line); }

// Whether a line carried on from the one before was broken without a space:
// its first character would not have fit after it.
bool brokenInWord(const std::string& before, const std::string& carried) {
  const std::size_t first = carried.find_first_not_of(' ');
  if (first == std::string::npos) return false;
  std::size_t length = 1;
  while (first + length < carried.size() && (static_cast<unsigned char>(carried[first + length]) & 0xC0) == 0x80)
    ++length;
  return columns(before) + columns(std::string_view(carried).substr(first, length)) > 100;
}

std::vector<TextBlock> textBlocks(const std::string& text) {
  std::vector<TextBlock> blocks;
  const std::vector<std::string> all = lines(text);
  for (std::size_t i = 0; i < all.size(); ++i) {
    const std::string& line = all[i];
    const std::string joint = i > 0 && brokenInWord(all[i - 1], line) ? "" : " ";
    if (line.empty()) continue;
    if (line[0] != ' ') {
      // A block's first line, or the count line after the last one.
      if (i + 1 < all.size() && all[i + 1].empty() && line.find(" label") != std::string::npos &&
          std::isdigit(static_cast<unsigned char>(line[0])))
        continue;
      if (std::isdigit(static_cast<unsigned char>(line[0]))) continue;
      const std::size_t gap = line.find(' ');
      TextBlock b;
      b.status = line.substr(0, gap);
      b.label = line.substr(line.find_first_not_of(' ', gap));
      blocks.push_back(b);
      continue;
    }
    if (blocks.empty() || line.size() <= kValueColumn) continue;
    std::string name = line.substr(0, kValueColumn);
    name.erase(0, name.find_first_not_of(' '));
    name.erase(name.find_last_not_of(' ') + 1);
    const std::string value = line.substr(kValueColumn);
    if (name.empty() && line.compare(0, kValueColumn, std::string(kValueColumn, ' ')) == 0) {
      auto& notes = blocks.back().notes;
      if (notes.empty())  // a long label carried on, further right
        blocks.back().label += joint + value.substr(value.find_first_not_of(' '));
      else
        notes.back().second += joint + value;
      continue;
    }
    blocks.back().notes.emplace_back(name, value);
  }
  return blocks;
}

// The name a label's entry goes by in Expected.
std::string textName(const TextBlock& b) {
  if (b.label != "-") return b.label;
  const std::string now = b.value("now");
  return "@" + (now.empty() ? b.value("input") : now.substr(0, now.find(' ')));
}

std::string jsonName(const orlimtest::Json& o) {
  if (!o.at("label").isNull()) return o.at("label").text;
  return "@" + (o.at("machine").isNull() ? o.at("input").text : o.at("machine").text);
}

// The verdict objects of a JSON run, the summary checked and left out.
std::vector<orlimtest::Json> jsonVerdicts(const FleetCase& c, const Result& r) {
  std::vector<orlimtest::Json> verdicts;
  std::vector<std::string> out = lines(r.out);
  if (out.empty()) {
    ADD_FAILURE() << "no output";
    return verdicts;
  }
  const auto summary = orlimtest::parseJson(out.back());
  if (!summary.has_value()) {
    ADD_FAILURE() << out.back();
    return verdicts;
  }
  out.pop_back();
  EXPECT_EQ(summary->at("summary.labels").number, static_cast<double>(c.expected.size()));
  EXPECT_EQ(summary->at("summary.needs_look").boolean, c.status == 1);
  for (const std::string& line : out) {
    const auto o = orlimtest::parseJson(line);
    if (!o.has_value()) {
      ADD_FAILURE() << line;
      continue;
    }
    verdicts.push_back(*o);
  }
  return verdicts;
}

// Each label's verdict as one form gave it, against the case's; the text
// shows the warnings in one line.
void expectVerdicts(const FleetCase& c, std::map<std::string, Expected>& got, bool warningsInOneLine,
                    const std::string& shown) {
  ASSERT_EQ(got.size(), c.expected.size()) << shown;
  for (const Expected& e : c.expected) {
    ASSERT_TRUE(got.count(e.label)) << e.label << "\n" << shown;
    EXPECT_EQ(got[e.label].status, e.status) << e.label;
    std::vector<std::string> warnings = e.warnings;
    if (warningsInOneLine && !warnings.empty()) warnings = {joinWords(e.warnings)};
    EXPECT_EQ(got[e.label].warnings, warnings) << e.label;
    EXPECT_EQ(got[e.label].movedFrom, e.movedFrom) << e.label;
    EXPECT_EQ(got[e.label].movedTo, e.movedTo) << e.label;
  }
}

// An empty NOW is said, and nothing is printed.
bool nothingCompared(const FleetCase& c) { return c.now.empty() || c.now == std::vector<std::string>{"not json"}; }

// Runs the case in one form and checks its status and messages; false when
// nothing was compared (and nothing printed).
bool runForm(const FleetCase& c, bool json, bool wide, Result& r) {
  r = runCase(c, json, wide);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(lines(r.err), c.messages);
  if (!nothingCompared(c) || c.status != 1) return true;
  EXPECT_EQ(r.out, "");
  return false;
}

class FleetCases : public testing::TestWithParam<FleetCase> {};

TEST_P(FleetCases, JsonGivesEachLabelItsVerdict) {
  const FleetCase& c = GetParam();
  Result r;
  if (!runForm(c, true, false, r)) return;
  std::map<std::string, Expected> got;
  for (const orlimtest::Json& o : jsonVerdicts(c, r)) {
    const std::string name = jsonName(o);
    Expected e{name, o.at("status").text, {}, o.at("moved_from").text, o.at("moved_to").text};
    for (const auto& w : o.at("warnings").items) e.warnings.push_back(w.text);
    EXPECT_TRUE(got.emplace(name, e).second) << name << " reported twice";
  }
  expectVerdicts(c, got, false, r.out);
}

TEST_P(FleetCases, TextGivesEachLabelItsVerdictWithinTheWidth) {
  const FleetCase& c = GetParam();
  Result r;
  if (!runForm(c, false, false, r)) return;
  for (const std::string& line : lines(r.out)) EXPECT_LE(columns(line), 100u) << line;
  std::map<std::string, Expected> got;
  for (const TextBlock& b : textBlocks(r.out)) {
    const std::string warnings = b.value("warnings");
    Expected e{textName(b), b.status, {}, b.value("moved from"), b.value("moved to")};
    if (!warnings.empty()) e.warnings.push_back(warnings);
    EXPECT_TRUE(got.emplace(e.label, e).second) << e.label << " shown twice\n" << r.out;
  }
  expectVerdicts(c, got, true, r.out);
  // The count line closes the text.
  const std::vector<std::string> out = lines(r.out);
  ASSERT_FALSE(out.empty());
  EXPECT_TRUE(out.back().starts_with(std::to_string(c.expected.size()) + " label") ||
              out.back().starts_with("  "))
      << out.back();
}

TEST_P(FleetCases, WideTableGivesEachLabelItsVerdict) {
  const FleetCase& c = GetParam();
  Result r;
  if (!runForm(c, false, true, r)) return;
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
      if (out[j].compare(at, 11, "moved from:") == 0) e.movedFrom = out[j].substr(at + 12);
      if (out[j].compare(at, 9, "moved to:") == 0) e.movedTo = out[j].substr(at + 10);
      if (label == "@-" && out[j].compare(at, 6, "error:") == 0) {
        const std::size_t input = out[j].find("(input: ");
        e.label = "@" + out[j].substr(input + 8, out[j].size() - input - 9);
      }
    }
    got[e.label] = e;
  }
  expectVerdicts(c, got, true, r.out);
  // The count line closes the table.
  EXPECT_TRUE(out.back().starts_with(std::to_string(c.expected.size()) + " label")) << out.back();
}

std::string utc(double seconds) {
  const auto t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

// A label's facts as the text shows them, each "NAME=VALUE".
std::multiset<std::string> textFacts(const TextBlock& b) {
  std::multiset<std::string> facts{"status=" + b.status};
  for (const auto& [name, value] : b.notes) facts.insert(name + "=" + value);
  return facts;
}

// The same facts from the JSON verdict, written as the text writes them.
std::multiset<std::string> jsonFacts(const orlimtest::Json& o, const std::string& latestCollection) {
  std::multiset<std::string> facts{"status=" + o.at("status").text};
  const auto machineTime = [&](const std::string& machineKey, const std::string& timeKey) {
    return o.at(machineKey).text + "  " + utc(o.at(timeKey).number);
  };
  if (!o.at("machine").isNull()) facts.insert("now=" + machineTime("machine", "time"));
  if (!o.at("error").isNull()) {
    facts.insert("error=" + o.at("error").text);
    facts.insert("input=" + o.at("input").text);
  }
  if (!o.at("previous_machine").isNull())
    facts.insert("previous=" + machineTime("previous_machine", "previous_time"));
  if (!o.at("previous_collection").isNull() && o.at("previous_collection").text != latestCollection)
    facts.insert("known in=" + o.at("previous_collection").text);
  if (!o.at("moved_from").isNull()) facts.insert("moved from=" + o.at("moved_from").text);
  if (!o.at("moved_to").isNull()) facts.insert("moved to=" + o.at("moved_to").text);
  std::string warnings;
  for (const auto& w : o.at("warnings").items) warnings += (warnings.empty() ? "" : ", ") + w.text;
  if (!warnings.empty()) facts.insert("warnings=" + warnings);
  const std::string legacy = o.at("machine").text.substr(o.at("machine").text.find('/') + 1);
  for (const auto& other : o.at("shared_with").items) {
    const std::string& m = other.at("machine").text;
    if (other.at("label").isNull())
      facts.insert("shared with=" + m);
    else
      facts.insert("shared with=" + other.at("label").text +
                   (m.substr(m.find('/') + 1) != legacy ? " (" + m + ")" : ""));
  }
  if (!o.at("shared_with_more").isNull())
    facts.insert("shared with=and " + o.at("shared_with_more").text + " more");
  for (const auto& d : o.at("duplicates").items) {
    const std::string head = "also listed=line " + d.at("line").text + ": ";
    if (d.at("machine").isNull())
      facts.insert(head + "error: " + d.at("error").text);
    else
      facts.insert(head + d.at("machine").text + "  " + utc(d.at("time").number));
  }
  return facts;
}

// Every fact the text shows a person is in the JSON a script reads.
TEST_P(FleetCases, JsonCarriesEveryFactTheTextShows) {
  const FleetCase& c = GetParam();
  if (nothingCompared(c) && c.status == 1) return;
  std::map<std::string, std::multiset<std::string>> fromText;
  for (const TextBlock& b : textBlocks(runCase(c, false).out)) fromText[textName(b)] = textFacts(b);
  const std::string latest = c.earlier.empty() ? "old.jsonl" : "old" + std::to_string(c.earlier.size() + 1) + ".jsonl";
  std::map<std::string, std::multiset<std::string>> fromJson;
  for (const orlimtest::Json& o : jsonVerdicts(c, runCase(c, true))) fromJson[jsonName(o)] = jsonFacts(o, latest);
  EXPECT_EQ(fromText, fromJson);
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
  fleet::Previous old;
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
