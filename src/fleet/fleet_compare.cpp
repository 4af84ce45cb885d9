#include "fleet/fleet_compare.h"

#include <sys/mman.h>

#include <time.h>

#include <algorithm>
#include <cstring>

#include "common/uuid.h"
#include "fleet/fleet_internal.h"

namespace fleet {

namespace internal {

Uuid byteReversed(const Uuid& uuid) {
  Uuid out = uuid;
  swapUuidFieldOrder(out);
  return out;
}

namespace {
// The run's hash key, drawn afresh by each compare.
HashKey runKey;
}  // namespace

const HashKey& hashKey() { return runKey; }

void drawRunKey() {
  // Without the kernel's generator (never seen on a kernel since 3.17), a
  // key from the clock and the stack's place is still not one an input
  // can be made for in advance.
  if (drawHashKey(runKey) == 0) return;
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  runKey = HashKey{static_cast<std::uint64_t>(t.tv_nsec) ^ reinterpret_cast<std::uintptr_t>(&t),
                   static_cast<std::uint64_t>(t.tv_sec)};
}

std::uint32_t hashBytes(const void* data, std::size_t size) {
  return static_cast<std::uint32_t>(keyedHash(runKey, data, size));
}

}  // namespace internal

namespace {

using internal::hashBytes;

// A labelled key and an unlabelled one (a machine) never match, even with
// the same text.
std::uint32_t keyHash(std::string_view key, bool labelled) {
  return hashBytes(key.data(), key.size()) ^ (labelled ? 0x5BD1E995u : 0u);
}

// Large tables are filled in huge pages where the system offers them on
// request: a page fault costs more here than the work it precedes, and a
// million labels would take some sixty thousand of them in small pages.
void adviseHugePages(void* data, std::size_t size) {
  constexpr std::uintptr_t kHuge = 2u << 20;
  const auto begin = (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

template <typename T>
void assignTable(std::vector<T>& table, std::size_t size) {
  table.clear();
  table.reserve(size);
  adviseHugePages(table.data(), size * sizeof(T));
  table.assign(size, T{});
}

std::string_view slotKey(const Collection& c, const KeySlot& s) {
  return std::string_view(c.arena).substr(s.text, s.size);
}

bool unlabelledError(const Record& r) {
  return (r.flags & (kFlagError | kFlagLabelled)) == kFlagError;
}

// Rounds up to a power of two, at least twice n: tables stay half empty.
std::size_t tableSize(std::size_t n) {
  std::size_t size = 16;
  while (size < 2 * n) size *= 2;
  return size;
}

// How far ahead the loops below ask for the memory they will probe: the
// random accesses of a million-label table overlap instead of queueing.
constexpr std::size_t kPrefetchDistance = 16;

// Builds the key table: marks each key's first record and chains the
// others after it.
void indexKeys(Collection& c) {
  const std::size_t n = c.records.size();
  std::vector<std::uint32_t> hashes(n);
  for (std::size_t i = 0; i < n; ++i) {
    const Record& r = c.records[i];
    hashes[i] = keyHash(recordKey(c, r), (r.flags & kFlagLabelled) != 0);
  }
  assignTable(c.keys, tableSize(n));
  const std::size_t mask = c.keys.size() - 1;
  for (std::size_t i = 0; i < n; ++i) {
    if (i + kPrefetchDistance < n) __builtin_prefetch(&c.keys[hashes[i + kPrefetchDistance] & mask]);
    Record& r = c.records[i];
    // An unlabelled error record has nothing to be known by: a key of its own.
    if (unlabelledError(r)) {
      r.flags |= kFlagHead;
      continue;
    }
    const std::uint32_t hash = hashes[i];
    const std::string_view key = recordKey(c, r);
    const std::uint8_t labelled = (r.flags & kFlagLabelled) != 0 ? 1 : 0;
    std::size_t at = hash & mask;
    for (; c.keys[at].record != 0; at = (at + 1) & mask) {
      const KeySlot& s = c.keys[at];
      if (s.hash == hash && s.labelled == labelled && slotKey(c, s) == key) break;
    }
    KeySlot& slot = c.keys[at];
    if (slot.record == 0) {
      slot = KeySlot{hash, static_cast<std::uint32_t>(i + 1), r.text, r.keySize, labelled};
      r.flags |= kFlagHead;
      continue;
    }
    Record& head = c.records[slot.record - 1];
    r.next = head.next;
    head.next = static_cast<std::uint32_t>(i);
  }
}

// The first record of the key in c, or kNone.
std::uint32_t findKey(const Collection& c, std::string_view key, bool labelled,
                      std::uint32_t hash) {
  if (c.keys.empty()) return kNone;
  const std::size_t mask = c.keys.size() - 1;
  const std::uint8_t flag = labelled ? 1 : 0;
  for (std::size_t i = hash & mask; c.keys[i].record != 0; i = (i + 1) & mask) {
    const KeySlot& s = c.keys[i];
    if (s.hash == hash && s.labelled == flag && slotKey(c, s) == key) return s.record - 1;
  }
  return kNone;
}

// The number of a warning's name, added to the table when new; kNone when
// the table is full.
std::uint32_t warningBit(WarningNames& names, std::string_view name) {
  for (std::size_t i = 0; i < names.names.size(); ++i)
    if (names.names[i] == name) return static_cast<std::uint32_t>(i);
  if (names.names.size() == kMaxWarningNames) return kNone;
  names.names.emplace_back(name);
  return static_cast<std::uint32_t>(names.names.size() - 1);
}

bool sameMachine(const Record& a, const Record& b) {
  return a.uuid == b.uuid && a.legacy == b.legacy;
}

// Whether r speaks for its key in one collection rather than b: the newest
// token (the later line when two have one time); an error record only when
// there is no token.
bool speaksBefore(const Record& r, const Record& b) {
  if (isToken(r) != isToken(b)) return isToken(r);
  return isToken(r) && r.time != b.time ? r.time > b.time : r.line > b.line;
}

// The record that speaks for a key in NOW.
std::uint32_t speaker(const Collection& c, std::uint32_t head) {
  std::uint32_t best = head;
  for (std::uint32_t i = c.records[head].next; i != kNone; i = c.records[i].next)
    if (speaksBefore(c.records[i], c.records[best])) best = i;
  return best;
}

// What is known of a key before NOW: its last known record and identity
// (see Previous), and the collection of the former.
struct Known {
  std::uint32_t latest = kNone;
  std::uint32_t identity = kNone;
  std::uint32_t collection = 0;
};

Known lastKnown(const Previous& p, std::uint32_t head) {
  const Collection& c = p.records;
  Known k;
  std::uint32_t identityCollection = 0;
  for (std::uint32_t i = head; i != kNone; i = c.records[i].next) {
    const Record& r = c.records[i];
    const std::uint32_t at = p.starts.size() <= 1 ? 0 : collectionOf(p, i);
    if (k.latest == kNone || at > k.collection ||
        (at == k.collection && speaksBefore(r, c.records[k.latest]))) {
      k.latest = i;
      k.collection = at;
    }
    if (isToken(r) && (k.identity == kNone || at > identityCollection ||
                       (at == identityCollection && speaksBefore(r, c.records[k.identity])))) {
      k.identity = i;
      identityCollection = at;
    }
  }
  return k;
}

// Whether a key's token records name more than one machine.
bool machinesDiffer(const Collection& c, std::uint32_t head) {
  const Record* first = nullptr;
  for (std::uint32_t i = head; i != kNone; i = c.records[i].next) {
    const Record& r = c.records[i];
    if (!isToken(r)) continue;
    if (first == nullptr)
      first = &r;
    else if (!sameMachine(*first, r))
      return true;
  }
  return false;
}

Status judge(const Record& now, const Record* old) {
  if (!isToken(now))
    return (now.flags & kFlagUnreachable) != 0 ? Status::kUnreachable : Status::kFailed;
  // A label that never gave a token before has no identity to compare with.
  if (old == nullptr) return Status::kNew;
  const bool sameUuid = now.uuid == old->uuid;
  const bool sameCard = now.legacy == old->legacy;
  if (sameUuid) return sameCard ? Status::kSame : Status::kCardChanged;
  // The old UUID read in the other byte order is the same machine's: with
  // other network characters, what changed is the card alone.
  if (internal::byteReversed(now.uuid) == old->uuid)
    return sameCard ? Status::kUuidByteOrder : Status::kCardChanged;
  return sameCard ? Status::kUuidChanged : Status::kReplaced;
}

// Groups the token verdicts of NOW by UUID; groups of one are dropped.
void groupByUuid(Comparison& c, const Collection& now) {
  std::vector<Slot> table;
  assignTable(table, tableSize(c.verdicts.size()));
  std::vector<std::uint32_t> nextInGroup(c.verdicts.size(), kNone);
  std::vector<std::uint32_t> firstOf;  // heads of groups of two or more
  for (std::uint32_t v = 0; v < c.verdicts.size(); ++v) {
    const Verdict& verdict = c.verdicts[v];
    if (verdict.now == kNone || !isToken(now.records[verdict.now])) continue;
    const Uuid& uuid = now.records[verdict.now].uuid;
    const std::uint32_t hash = hashBytes(uuid.data(), uuid.size());
    const std::size_t mask = table.size() - 1;
    std::size_t i = hash & mask;
    for (; table[i].index != 0; i = (i + 1) & mask) {
      const Slot& s = table[i];
      if (s.hash == hash && now.records[c.verdicts[s.index - 1].now].uuid == uuid) break;
    }
    if (table[i].index == 0) {
      table[i] = Slot{hash, v + 1};
      continue;
    }
    // Into the group, after its head.
    const std::uint32_t head = table[i].index - 1;
    if (nextInGroup[head] == kNone) firstOf.push_back(head);
    nextInGroup[v] = nextInGroup[head];
    nextInGroup[head] = v;
  }
  std::sort(firstOf.begin(), firstOf.end());
  for (std::uint32_t head : firstOf) {
    UuidGroup g;
    g.begin = static_cast<std::uint32_t>(c.members.size());
    for (std::uint32_t v = head; v != kNone; v = nextInGroup[v]) c.members.push_back(v);
    g.size = static_cast<std::uint32_t>(c.members.size() - g.begin);
    const auto first = c.members.begin() + g.begin;
    std::sort(first, c.members.end(), [&](std::uint32_t a, std::uint32_t b) {
      const Legacy& la = now.records[c.verdicts[a].now].legacy;
      const Legacy& lb = now.records[c.verdicts[b].now].legacy;
      return la != lb ? la < lb : a < b;
    });
    const auto group = static_cast<std::uint32_t>(c.groups.size());
    c.groups.push_back(g);
    for (std::uint32_t i = g.begin; i < g.begin + g.size; ++i) {
      Verdict& verdict = c.verdicts[c.members[i]];
      verdict.group = group;
      const Run run = sameMachineRun(c, now, c.members[i]);
      if (run.end - run.begin > 1) verdict.warnings |= 1u << kWarnSharedMachine;
      if (run.end - run.begin < g.size) verdict.warnings |= 1u << kWarnSharedUuid;
    }
  }
}

// A machine's hash, for the table of moves.
std::uint32_t machineHash(const Record& r) {
  std::array<std::uint8_t, kUuidBytes + kLegacyChars> bytes;
  std::memcpy(bytes.data(), r.uuid.data(), kUuidBytes);
  std::memcpy(bytes.data() + kUuidBytes, r.legacy.data(), kLegacyChars);
  return hashBytes(bytes.data(), bytes.size());
}

// Links each labelled verdict whose machine in NOW is not its own last
// known one to a label whose last known machine it is, when that label is
// gone or now shows another machine: the first such in verdict order. A
// label moved to by several (clones) names the first of them.
void linkMoves(Comparison& c, const Collection& now, const Collection& old) {
  const auto labelled = [](const Record& r) { return (r.flags & kFlagLabelled) != 0; };
  const auto leftBehind = [&](const Verdict& v) {
    if (v.old == kNone || !labelled(old.records[v.old])) return false;
    if (v.status == Status::kGone) return true;
    return v.now != kNone && isToken(now.records[v.now]) &&
           !sameMachine(now.records[v.now], old.records[v.old]);
  };
  std::vector<std::uint32_t> from;
  for (std::uint32_t v = 0; v < c.verdicts.size(); ++v)
    if (leftBehind(c.verdicts[v])) from.push_back(v);
  if (from.empty()) return;
  std::vector<Slot> table;
  assignTable(table, tableSize(from.size()));
  const std::size_t mask = table.size() - 1;
  std::vector<std::uint32_t> nextSame(c.verdicts.size(), kNone);  // verdict order kept
  std::vector<std::uint32_t> lastOf(table.size(), kNone);
  for (std::uint32_t v : from) {
    const Record& r = old.records[c.verdicts[v].old];
    const std::uint32_t hash = machineHash(r);
    std::size_t i = hash & mask;
    for (; table[i].index != 0; i = (i + 1) & mask)
      if (table[i].hash == hash && sameMachine(old.records[c.verdicts[table[i].index - 1].old], r))
        break;
    if (table[i].index == 0) table[i] = Slot{hash, v + 1};
    else nextSame[lastOf[i]] = v;
    lastOf[i] = v;
  }
  for (std::uint32_t v = 0; v < c.verdicts.size(); ++v) {
    Verdict& to = c.verdicts[v];
    if (to.now == kNone || !isToken(now.records[to.now]) || !labelled(now.records[to.now])) continue;
    const Record& r = now.records[to.now];
    if (to.old != kNone && sameMachine(old.records[to.old], r)) continue;
    const std::uint32_t hash = machineHash(r);
    for (std::size_t i = hash & mask; table[i].index != 0; i = (i + 1) & mask) {
      if (table[i].hash != hash || !sameMachine(old.records[c.verdicts[table[i].index - 1].old], r))
        continue;
      for (std::uint32_t f = table[i].index - 1; f != kNone; f = nextSame[f]) {
        if (f == v) continue;
        to.movedFrom = f;
        if (c.verdicts[f].movedTo == kNone) c.verdicts[f].movedTo = v;
        break;
      }
      break;
    }
  }
}

}  // namespace

void appendMachineText(std::string& out, const Uuid& uuid, const Legacy& legacy) {
  char text[kUuidTextLength];
  putUuidText(text, uuid);
  out.append(text, sizeof text);
  out += '/';
  out.append(legacy.data(), legacy.size());
}

bool needsLook(Status status) {
  return status == Status::kCardChanged || status == Status::kUuidChanged ||
         status == Status::kReplaced || status == Status::kFailed ||
         status == Status::kUnreachable;
}

bool statusByName(std::string_view name, Status& status) {
  for (const StatusName& entry : kStatusNames) {
    if (entry.name != name) continue;
    status = entry.status;
    return true;
  }
  return false;
}

void beginCollection(Previous& p, std::string_view name) {
  p.starts.push_back(static_cast<std::uint32_t>(p.records.records.size()));
  p.names.emplace_back(name);
}

std::uint32_t collectionOf(const Previous& p, std::uint32_t record) {
  const auto after = std::upper_bound(p.starts.begin(), p.starts.end(), record);
  return after == p.starts.begin() ? 0 : static_cast<std::uint32_t>(after - p.starts.begin() - 1);
}

std::string_view recordKey(const Collection& c, const Record& r) {
  return std::string_view(c.arena).substr(r.text, r.keySize);
}

std::string_view recordInput(const Collection& c, const Record& r) {
  return std::string_view(c.arena).substr(r.text + r.keySize, r.inputSize);
}

std::string_view recordError(const Collection& c, const Record& r) {
  return std::string_view(c.arena).substr(std::size_t{r.text} + r.keySize + r.inputSize,
                                          r.errorSize);
}

void reserveFor(Collection& c, std::size_t inputBytes) {
  // A decoder's token record is some 300 bytes, its label a tenth of that.
  c.records.reserve(inputBytes / 250);
  c.arena.reserve(inputBytes / 8);
  adviseHugePages(c.records.data(), c.records.capacity() * sizeof(Record));
  adviseHugePages(c.arena.data(), c.arena.capacity());
}

AddResult addRecord(Collection& c, const ParsedRecord& parsed, std::uint32_t line,
                    WarningNames& names) {
  Record r;
  r.line = line;
  r.flags = parsed.kind == RecordKind::kError ? kFlagError : 0;
  if (parsed.kind == RecordKind::kError && parsed.errorKind == ErrorKind::kUnreachable)
    r.flags |= kFlagUnreachable;
  if (parsed.hasLabel) r.flags |= kFlagLabelled;
  r.time = parsed.time;
  r.uuid = parsed.uuid;
  r.legacy = parsed.legacy;
  for (std::size_t i = 0; i < parsed.warningCount; ++i) {
    const std::uint32_t b = warningBit(names, parsed.warnings[i]);
    if (b == kNone) return AddResult::kTooManyWarnings;
    r.warnings |= 1u << b;
  }
  const std::size_t keyAt = c.arena.size();
  if (parsed.label.size() > kMaxTextBytes || parsed.input.size() > kMaxTextBytes ||
      parsed.error.size() > kMaxTextBytes || keyAt > 0xFFFFFFFFu - 3 * kMaxTextBytes ||
      c.records.size() >= kNone - 1)
    return AddResult::kTooMuchText;
  r.text = static_cast<std::uint32_t>(keyAt);
  if (parsed.hasLabel)
    c.arena += parsed.label;
  else if (parsed.kind == RecordKind::kToken)
    appendMachineText(c.arena, parsed.uuid, parsed.legacy);
  r.keySize = static_cast<std::uint16_t>(c.arena.size() - keyAt);
  if (parsed.kind == RecordKind::kError) {
    c.arena += parsed.input;
    c.arena += parsed.error;
    r.inputSize = static_cast<std::uint16_t>(parsed.input.size());
    r.errorSize = static_cast<std::uint16_t>(parsed.error.size());
  }
  c.records.push_back(r);
  return AddResult::kAdded;
}

Run sameMachineRun(const Comparison& c, const Collection& now, std::uint32_t v) {
  const UuidGroup& g = c.groups[c.verdicts[v].group];
  const Legacy& legacy = now.records[c.verdicts[v].now].legacy;
  const auto first = c.members.begin() + g.begin;
  const auto last = first + g.size;
  const auto legacyOf = [&](std::uint32_t m) -> const Legacy& {
    return now.records[c.verdicts[m].now].legacy;
  };
  const auto lo = std::partition_point(first, last, [&](std::uint32_t m) { return legacyOf(m) < legacy; });
  const auto hi = std::partition_point(lo, last, [&](std::uint32_t m) { return legacyOf(m) == legacy; });
  return Run{static_cast<std::uint32_t>(lo - c.members.begin()),
             static_cast<std::uint32_t>(hi - c.members.begin())};
}

std::vector<std::uint32_t> otherRecords(const Collection& now, const Verdict& v) {
  std::vector<std::uint32_t> out;
  for (std::uint32_t i = v.nowHead; i != kNone; i = now.records[i].next)
    if (i != v.now) out.push_back(i);
  std::sort(out.begin(), out.end(),
            [&](std::uint32_t a, std::uint32_t b) { return now.records[a].line < now.records[b].line; });
  return out;
}

Comparison compare(Collection& now, Previous& previous) {
  Collection& old = previous.records;
  internal::drawRunKey();
  indexKeys(now);
  indexKeys(old);
  // The latest previous collection; records before any collection begun
  // are taken as one.
  const std::uint32_t latest =
      previous.starts.empty() ? 0 : static_cast<std::uint32_t>(previous.starts.size() - 1);
  Comparison c;
  std::vector<bool> oldMatched(old.records.size(), false);
  // NOW's keys, and where each is in OLD's table, asked for ahead.
  std::vector<std::uint32_t> heads;
  std::vector<std::uint32_t> hashes;
  heads.reserve(now.keys.size() / 2);
  hashes.reserve(now.keys.size() / 2);
  for (std::uint32_t i = 0; i < now.records.size(); ++i) {
    const Record& r = now.records[i];
    if ((r.flags & kFlagHead) == 0) continue;
    heads.push_back(i);
    hashes.push_back(keyHash(recordKey(now, r), (r.flags & kFlagLabelled) != 0));
  }
  const std::size_t oldMask = old.keys.size() - 1;
  c.verdicts.reserve(heads.size() + old.records.size() / 8);
  for (std::size_t k = 0; k < heads.size(); ++k) {
    if (k + kPrefetchDistance < heads.size())
      __builtin_prefetch(&old.keys[hashes[k + kPrefetchDistance] & oldMask]);
    if (k + kPrefetchDistance / 2 < heads.size()) {
      const KeySlot& s = old.keys[hashes[k + kPrefetchDistance / 2] & oldMask];
      if (s.record != 0) {
        __builtin_prefetch(old.arena.data() + s.text);
        __builtin_prefetch(&old.records[s.record - 1]);
      }
    }
    const std::uint32_t i = heads[k];
    const Record& head = now.records[i];
    Verdict v;
    v.nowHead = i;
    v.now = speaker(now, i);
    const Record& speaking = now.records[v.now];
    if (!unlabelledError(head)) {
      const bool labelled = (head.flags & kFlagLabelled) != 0;
      const std::uint32_t oldHead = findKey(old, recordKey(now, head), labelled, hashes[k]);
      if (oldHead != kNone) {
        oldMatched[oldHead] = true;
        const Known known = lastKnown(previous, oldHead);
        v.old = known.identity;
        v.oldLatest = known.latest;
      }
    }
    v.status = judge(speaking, v.old == kNone ? nullptr : &old.records[v.old]);
    v.warnings = isToken(speaking) ? speaking.warnings & ~((1u << kFleetWarningCount) - 1) : 0;
    if (head.next != kNone && machinesDiffer(now, i)) v.warnings |= 1u << kWarnDuplicateLabel;
    c.verdicts.push_back(v);
  }
  for (std::uint32_t i = 0; i < old.records.size(); ++i) {
    if ((old.records[i].flags & kFlagHead) == 0 || oldMatched[i]) continue;
    const Known known = lastKnown(previous, i);
    // Missing before: said then.
    if (known.collection != latest) continue;
    Verdict v;
    v.status = Status::kGone;
    v.old = known.identity;
    v.oldLatest = known.latest;
    c.verdicts.push_back(v);
  }
  groupByUuid(c, now);
  linkMoves(c, now, old);
  for (const Verdict& v : c.verdicts) {
    ++c.counts[static_cast<std::size_t>(v.status)];
    if (v.warnings != 0) ++c.withWarnings;
    if (v.warnings != 0 || needsLook(v.status)) c.needsLook = true;
  }
  return c;
}

}  // namespace fleet
