#include "fleet/registry_report.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "common/io.h"
#include "common/unique_fd.h"
#include "fleet/fleet_record.h"
#include "report/json_writer.h"

namespace fleet {
namespace {

// The latest collection read back: its records as a comparison keeps them,
// and by record the verdict and move links the registry kept.
struct Latest {
  Collection now;
  WarningNames names;
  std::vector<Status> statusOf;  // by record
  struct Moves {
    std::uint32_t record;
    std::string from;
    std::string to;
  };
  std::vector<Moves> moves;  // the few records with a move, in record order
  std::string scratch;
  bool tooMuch = false;
};

int addEntry(void* context, const CollectionEntry& e) {
  auto* latest = static_cast<Latest*>(context);
  if (e.record.empty()) return 0;  // a gone label: not in this collection
  ParsedRecord parsed;
  RecordError bad;
  if (!parseRecord(e.record, parsed, latest->scratch, bad)) return 0;  // checked by the reader
  const auto index = static_cast<std::uint32_t>(latest->now.records.size());
  if (addRecord(latest->now, parsed, index + 1, latest->names) != AddResult::kAdded) {
    latest->tooMuch = true;
    return 0;
  }
  latest->statusOf.push_back(e.status);
  if (!e.movedFrom.empty() || !e.movedTo.empty())
    latest->moves.push_back({index, std::string(e.movedFrom), std::string(e.movedTo)});
  return 0;
}

// The warnings' names: the decoder's, then the fleet's, as the comparison
// prints them.
std::vector<std::string> warningNames(const WarningNames& names, std::uint32_t bits) {
  std::vector<std::string> out;
  for (std::size_t i = kFleetWarningCount; i < names.names.size(); ++i)
    if ((bits & (1u << i)) != 0) out.push_back(names.names[i]);
  for (std::size_t i = 0; i < kFleetWarningCount; ++i)
    if ((bits & (1u << i)) != 0) out.push_back(names.names[i]);
  return out;
}

// The label's machine in each collection, from the registry's history.
int fillHistory(Registry& registry, const std::vector<CollectionSummary>& collections,
                HtmlLabel& label, RegistryError& error) {
  label.history.assign(collections.size(), HtmlCell{});
  std::vector<LabelEntry> entries;
  if (labelHistory(registry, label.label, entries, error) != 0) return kRegistryFailed;
  ParsedRecord parsed;
  std::string scratch;
  RecordError bad;
  std::size_t at = 0;
  for (const LabelEntry& e : entries) {
    while (at < collections.size() && collections[at].id < e.collection) ++at;
    if (at == collections.size()) break;
    HtmlCell& cell = label.history[at];
    if (cell.listed) continue;  // a label listed twice: the first record speaks
    cell.listed = e.status != Status::kGone;
    cell.status = e.status;
    if (!e.record.empty() && parseRecord(e.record, parsed, scratch, bad) &&
        parsed.kind == RecordKind::kToken)
      appendMachineText(cell.machine, parsed.uuid, parsed.legacy);
  }
  return 0;
}

// A file name as a shell reads it back: quoted where it needs to be.
std::string shellWord(std::string_view word) {
  const bool plain = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("-_./+,:=@").find(c) != std::string_view::npos;
  });
  if (plain) return std::string(word);
  std::string out = "'";
  for (const char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct PageFile {
  int fd;
  int error = 0;  // -errno
};

void flushToFile(Output& out) {
  auto* file = static_cast<PageFile*>(out.context);
  if (file->error == 0) file->error = writeAll(file->fd, out.text);
  out.text.clear();
}

}  // namespace

int writeHtmlFile(const char* path, const HtmlReport& report) {
  UniqueFd fd(::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.valid()) return -errno;
  PageFile file{fd.get()};
  Output out;
  out.flush = flushToFile;
  out.context = &file;
  renderHtml(report, out);
  if (file.error != 0) return file.error;
  return ::close(fd.release()) == 0 ? 0 : -errno;
}

int gatherReport(Registry& registry, std::string_view registryName, std::uint32_t madeAt,
                 std::size_t limit, HtmlReport& report, RegistryError& error) {
  report = HtmlReport{};
  report.registry = std::string(registryName);
  report.madeAt = madeAt;
  report.fullListCommand = "orlim-fleet --registry " + shellWord(registryName) + " report --json";
  std::vector<CollectionSummary> collections;
  if (listCollections(registry, collections, error) != 0) return kRegistryFailed;
  for (const CollectionSummary& c : collections) {
    HtmlCollection h;
    h.name = c.name;
    h.time = static_cast<std::uint32_t>(std::clamp<std::int64_t>(c.recorded, 0, 0xFFFFFFFF));
    for (std::size_t s = 0; s < kStatusCount; ++s) h.counts[s] = c.counts[s];
    report.collections.push_back(std::move(h));
  }
  if (collections.empty()) return 0;

  Latest latest;
  if (const int rc = readCollection(registry, collections.back().name, addEntry, &latest, error);
      rc != 0)
    return rc;
  // The fleet's warnings are NOW's alone: compared with nothing before, the
  // shared machines and UUIDs and the labels listed twice come out as they
  // did when it was recorded.
  Previous none;
  const Comparison comparison = compare(latest.now, none);
  for (std::uint32_t index = 0; index < comparison.verdicts.size(); ++index) {
    const Verdict& v = comparison.verdicts[index];
    if (v.now == kNone) continue;
    const Status status = latest.statusOf[v.now];
    if (!needsLook(status) && v.warnings == 0) continue;
    ++report.needsLookTotal;
    if (report.needsLook.size() >= limit) continue;
    HtmlLabel label;
    const Record& r = latest.now.records[v.now];
    label.label = std::string(recordKey(latest.now, r));
    label.status = status;
    label.warnings = warningNames(latest.names, v.warnings);
    // Moves are kept on every record of a label; the first one listed speaks.
    const auto move = std::lower_bound(
        latest.moves.begin(), latest.moves.end(), v.nowHead,
        [](const Latest::Moves& m, std::uint32_t record) { return m.record < record; });
    if (move != latest.moves.end() && move->record == v.nowHead) {
      label.movedFrom = move->from;
      label.movedTo = move->to;
    }
    label.sharedMore =
        forEachShared(comparison, latest.now, index, kMaxSharedListed, [&](std::uint32_t other) {
          const Record& o = latest.now.records[comparison.verdicts[other].now];
          label.sharedWith.emplace_back(recordKey(latest.now, o));
        });
    label.sharedMore -= label.sharedWith.size();
    if ((r.flags & kFlagLabelled) != 0) {
      if (fillHistory(registry, collections, label, error) != 0) return kRegistryFailed;
    } else {
      label.history.assign(collections.size(), HtmlCell{});
      label.history.back() = HtmlCell{true, status, label.label};
    }
    report.needsLook.push_back(std::move(label));
  }
  return 0;
}

void appendReportJson(const HtmlReport& report, std::string& out) {
  for (const HtmlLabel& l : report.needsLook) {
    report::JsonWriter w;
    report::jsonBeginObject(w);
    report::jsonKey(w, "label");
    report::jsonString(w, l.label);
    report::jsonKey(w, "verdict");
    report::jsonString(w, statusName(l.status));
    report::jsonKey(w, "warnings");
    report::jsonBeginArray(w);
    for (const std::string& name : l.warnings) report::jsonString(w, name);
    report::jsonEndArray(w);
    report::jsonKey(w, "moved_from");
    report::jsonStringOrNull(w, l.movedFrom.empty() ? nullptr : l.movedFrom.c_str());
    report::jsonKey(w, "moved_to");
    report::jsonStringOrNull(w, l.movedTo.empty() ? nullptr : l.movedTo.c_str());
    report::jsonKey(w, "shared_with");
    report::jsonBeginArray(w);
    for (const std::string& other : l.sharedWith) report::jsonString(w, other);
    report::jsonEndArray(w);
    report::jsonKey(w, "shared_with_more");
    report::jsonInt(w, static_cast<std::int64_t>(l.sharedMore));
    report::jsonKey(w, "history");
    report::jsonBeginArray(w);
    for (std::size_t i = 0; i < l.history.size() && i < report.collections.size(); ++i) {
      const HtmlCell& cell = l.history[i];
      report::jsonBeginObject(w);
      report::jsonKey(w, "collection");
      report::jsonString(w, report.collections[i].name);
      report::jsonKey(w, "verdict");
      if (cell.listed)
        report::jsonString(w, statusName(cell.status));
      else
        report::jsonNull(w);
      report::jsonKey(w, "machine");
      report::jsonStringOrNull(w, cell.machine.empty() ? nullptr : cell.machine.c_str());
      report::jsonEndObject(w);
    }
    report::jsonEndArray(w);
    report::jsonEndObject(w);
    out += w.out;
    out += '\n';
  }
  report::JsonWriter w;
  report::jsonBeginObject(w);
  report::jsonKey(w, "summary");
  report::jsonBeginObject(w);
  report::jsonKey(w, "collections");
  report::jsonInt(w, static_cast<std::int64_t>(report.collections.size()));
  report::jsonKey(w, "needs_look");
  report::jsonInt(w, static_cast<std::int64_t>(report.needsLookTotal));
  report::jsonEndObject(w);
  report::jsonEndObject(w);
  out += w.out;
  out += '\n';
}

}  // namespace fleet
