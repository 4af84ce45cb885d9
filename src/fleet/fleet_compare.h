#pragma once
// Two collections of a fleet's records compared label by label: which
// machines are new, gone, the same, or changed and how; which labels share
// one identity; what a label listed more than once gave each time.
//
// Records are kept compactly (about 52 bytes each, and the label once in
// one text arena), so that memory grows with the labels and nothing else.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fleet/fleet_record.h"

namespace fleet {

inline constexpr std::uint32_t kNone = 0xFFFFFFFFu;
// Strings longer than this are not kept (a line is never longer).
inline constexpr std::size_t kMaxTextBytes = 0xFFFF;

enum class Status : std::uint8_t {
  kSame,
  kNew,
  kGone,
  kCardChanged,
  kUuidChanged,
  kUuidByteOrder,
  kReplaced,
  kFailed,
};
inline constexpr std::size_t kStatusCount = 8;

// Whether a verdict calls for a person: changed, replaced or failed.
bool needsLook(Status status);

// Warning names, each a bit: the fleet's own first, then the decoder's in
// the order they are met. One table serves both collections.
enum FleetWarning : unsigned {
  kWarnSharedMachine,  // another label in NOW has the same machine
  kWarnSharedUuid,     // another label in NOW has the UUID, other network characters
  kWarnDuplicateLabel, // the label is listed more than once, with different machines
  kFleetWarningCount,
};
inline constexpr std::size_t kMaxWarningNames = 32;

// Names known from the start (common/decoded_record.h) keep their places;
// a later decoder's are added as met.
struct WarningNames {
  std::vector<std::string> names{decoded::kWarningNames.begin(), decoded::kWarningNames.end()};
};
static_assert(kFleetWarningCount == decoded::kFirstDecoderWarning);

// One record kept. Its texts lie in the collection's arena from text on:
// the key (the label, or for an unlabelled token record its machine), then
// for an error record the input and the message.
enum RecordFlag : std::uint8_t {
  kFlagError = 1,     // an error record
  kFlagLabelled = 2,  // the key is a label
  kFlagHead = 4,      // the first record of its key: a label's verdict starts here
};

struct Record {
  std::uint32_t text = 0;
  std::uint16_t keySize = 0;
  std::uint16_t inputSize = 0;
  std::uint16_t errorSize = 0;
  std::uint8_t flags = 0;
  std::uint32_t line = 0;
  std::uint32_t time = 0;
  std::uint32_t warnings = 0;  // bits of WarningNames
  std::uint32_t next = kNone;  // the next record of the same key
  Uuid uuid{};
  Legacy legacy{};
};

// Whether a record is a token's, not an error's.
inline bool isToken(const Record& r) { return (r.flags & kFlagError) == 0; }

// Slots of the open-addressing tables: a hash and an index plus one (0 is
// an empty slot).
struct Slot {
  std::uint32_t hash = 0;
  std::uint32_t index = 0;
};

// A slot of the key table: the key's text is there, so that a probe costs
// one memory access before the text compared.
struct KeySlot {
  std::uint32_t hash = 0;
  std::uint32_t record = 0;  // the key's first record, plus one; 0: empty
  std::uint32_t text = 0;
  std::uint16_t size = 0;
  std::uint8_t labelled = 0;
};

struct Collection {
  std::vector<Record> records;
  std::string arena;
  std::vector<KeySlot> keys;  // made by compare
};

// Room for the records of an input of about this many bytes, made at once
// rather than by growing.
void reserveFor(Collection& collection, std::size_t inputBytes);

enum class AddResult { kAdded, kTooManyWarnings, kTooMuchText };

// Keeps one record, read from the given line.
AddResult addRecord(Collection& collection, const ParsedRecord& parsed, std::uint32_t line,
                    WarningNames& names);

// A machine as the decoder writes it: the UUID's 16 bytes as 8-4-4-4-12
// lower-case hex digits, '/', the network characters.
inline constexpr std::size_t kMachineTextSize = 36 + 1 + kLegacyChars;
void appendMachineText(std::string& out, const Uuid& uuid, const Legacy& legacy);

// The record's texts.
std::string_view recordKey(const Collection& c, const Record& r);
std::string_view recordInput(const Collection& c, const Record& r);
std::string_view recordError(const Collection& c, const Record& r);

struct Verdict {
  Status status = Status::kSame;
  std::uint32_t now = kNone;      // the record that speaks for the label in NOW
  std::uint32_t nowHead = kNone;  // its first record there (the others follow it)
  std::uint32_t old = kNone;      // the record that spoke for it in OLD
  std::uint32_t warnings = 0;     // the decoder's (NOW) and the fleet's
  std::uint32_t group = kNone;    // its UUID group, when it shares the UUID
};

// Labels in NOW with one UUID: members index verdicts, sorted by network
// characters, so a label's same-machine others are one run.
struct UuidGroup {
  std::uint32_t begin = 0;
  std::uint32_t size = 0;
};

struct Comparison {
  // NOW's labels in the order first met, then OLD's that are gone, in
  // OLD's order.
  std::vector<Verdict> verdicts;
  std::vector<std::uint32_t> members;
  std::vector<UuidGroup> groups;
  std::array<std::size_t, kStatusCount> counts{};
  std::size_t withWarnings = 0;
  bool needsLook = false;  // any verdict that needs a look, or any warning
};

// Indexes both collections by key (the records of one label chained after
// its first) and compares them.
Comparison compare(Collection& now, Collection& old);

// A label's records in NOW other than the one that speaks, in line order.
std::vector<std::uint32_t> otherRecords(const Collection& now, const Verdict& v);

// --- inline -------------------------------------------------------------------

// The run of v's network characters inside its group: [begin, end) of members.
struct Run {
  std::uint32_t begin;
  std::uint32_t end;
};
Run sameMachineRun(const Comparison& c, const Collection& now, std::uint32_t v);

// The other labels sharing v's UUID, same machine first: calls f(verdict
// index) for at most limit of them and returns how many there are.
template <typename F>
std::size_t forEachShared(const Comparison& c, const Collection& now, std::uint32_t v,
                          std::size_t limit, F f) {
  const Verdict& verdict = c.verdicts[v];
  if (verdict.group == kNone) return 0;
  const UuidGroup& g = c.groups[verdict.group];
  const Run run = sameMachineRun(c, now, v);
  std::size_t shown = 0;
  const auto visit = [&](std::uint32_t from, std::uint32_t to) {
    for (std::uint32_t i = from; i < to && shown < limit; ++i) {
      if (c.members[i] == v) continue;
      f(c.members[i]);
      ++shown;
    }
  };
  visit(run.begin, run.end);
  visit(g.begin, run.begin);
  visit(run.end, g.begin + g.size);
  return g.size - 1;
}

}  // namespace fleet
