#pragma once
// A fleet's records compared label by label with what was known before:
// which machines are new, gone, the same, or changed and how, which could
// not be reached; which labels share one identity; which machine moved to
// another label; what a label listed more than once gave each time.
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

// New verdicts go last: the names below are indexed by the value.
enum class Status : std::uint8_t {
  kSame,
  kNew,
  kGone,
  kCardChanged,
  kUuidChanged,
  kUuidByteOrder,
  kReplaced,
  kFailed,
  kUnreachable,
};

// Each verdict's name, as JSON, the text and the registry write it and read
// it back: one table for both directions.
struct StatusName {
  Status status;
  std::string_view name;
};
inline constexpr std::array<StatusName, 9> kStatusNames = {{
    {Status::kSame, "same"},
    {Status::kNew, "new"},
    {Status::kGone, "gone"},
    {Status::kCardChanged, "card-changed"},
    {Status::kUuidChanged, "uuid-changed"},
    {Status::kUuidByteOrder, "uuid-byte-order"},
    {Status::kReplaced, "replaced"},
    {Status::kFailed, "failed"},
    {Status::kUnreachable, "unreachable"},
}};
inline constexpr std::size_t kStatusCount = kStatusNames.size();

constexpr bool statusNamesInOrder() {
  for (std::size_t i = 0; i < kStatusCount; ++i)
    if (static_cast<std::size_t>(kStatusNames[i].status) != i) return false;
  return static_cast<std::size_t>(Status::kUnreachable) + 1 == kStatusCount;
}
static_assert(statusNamesInOrder(), "every verdict named once, in the enumeration's order");

constexpr std::string_view statusName(Status status) {
  return kStatusNames[static_cast<std::size_t>(status)].name;
}
// The verdict of a name; false when there is none of that name.
bool statusByName(std::string_view name, Status& status);

// Whether a verdict calls for a person: changed, replaced, failed or
// unreachable.
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
  kFlagError = 1,        // an error record
  kFlagLabelled = 2,     // the key is a label
  kFlagHead = 4,         // the first record of its key: a label's verdict starts here
  kFlagUnreachable = 8,  // an error record: the host could not be reached
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

// A verdict's records: now and nowHead index NOW's records, old and
// oldLatest the previous ones; movedFrom and movedTo index verdicts.
struct Verdict {
  Status status = Status::kSame;
  std::uint32_t now = kNone;        // the record that speaks for the label in NOW
  std::uint32_t nowHead = kNone;    // its first record there (the others follow it)
  std::uint32_t old = kNone;        // its last known identity: a token record, or none
  std::uint32_t oldLatest = kNone;  // its last known record, of any kind
  std::uint32_t warnings = 0;       // the decoder's (NOW) and the fleet's
  std::uint32_t group = kNone;      // its UUID group, when it shares the UUID
  std::uint32_t movedFrom = kNone;  // the gone (or changed) label whose machine this now shows
  std::uint32_t movedTo = kNone;    // the label that now shows this one's last known machine
};

// Labels in NOW with one UUID: members index verdicts, sorted by network
// characters, so a label's same-machine others are one run.
struct UuidGroup {
  std::uint32_t begin = 0;
  std::uint32_t size = 0;
};

struct Comparison {
  // NOW's labels in the order first met, then the gone ones, in the order
  // of the previous records.
  std::vector<Verdict> verdicts;
  std::vector<std::uint32_t> members;
  std::vector<UuidGroup> groups;
  std::array<std::size_t, kStatusCount> counts{};
  std::size_t withWarnings = 0;
  bool needsLook = false;  // any verdict that needs a look, or any warning
};

// What was known before NOW: the records of earlier collections, oldest
// first, each collection's after the one before it. For every label this
// gives its last known record (the one that speaks for it in the latest
// collection that has it, an error record included) and its last known
// identity (the one that speaks for it in the latest collection where it
// gave a token). NOW is compared with the identity.
//
// Filled by beginCollection and then addRecord(previous.records, ...) for
// each of that collection's records; a collection may have none. A
// registry need not give every record it holds: each label's last known
// record and last known identity, each in the collection it came from (and
// every collection up to the latest, named, even without records), give
// the same verdicts.
struct Previous {
  Collection records;
  std::vector<std::uint32_t> starts;  // the first record of each collection
  std::vector<std::string> names;     // each collection's name: a file, a registry's name
};

// Records added to previous from now on are the collection of this name.
void beginCollection(Previous& previous, std::string_view name);

// The collection a record of previous.records belongs to (an index of
// starts and names).
std::uint32_t collectionOf(const Previous& previous, std::uint32_t record);

// Indexes NOW and the previous records by key (the records of one key
// chained after its first) and compares NOW with what was known:
// - a label in NOW is compared with its last known identity, wherever that
//   came from; a label whose record in NOW is an error record is
//   unreachable (the host could not be reached) or failed, and keeps its
//   last known identity;
// - a label of the latest previous collection that is not in NOW is gone;
//   one missing from the latest previous collection already is not reported
//   again, but its identity is kept for when it comes back;
// - a label whose machine in NOW is the last known machine of another label
//   that is gone or now shows another machine is linked to it (movedFrom on
//   one, movedTo on the other).
Comparison compare(Collection& now, Previous& previous);

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
