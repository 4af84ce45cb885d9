#include "fleet/registry_command.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <span>
#include <string>
#include <vector>

#include "common/io.h"
#include "fleet/fleet_compare.h"
#include "fleet/fleet_record.h"
#include "fleet/fleet_registry.h"
#include "fleet/fleet_render.h"
#include "fleet/registry_report.h"
#include "report/escape.h"
#include "report/json_writer.h"
#include "report/utc_text.h"

namespace fleet {
namespace {

constexpr std::array<std::pair<std::string_view, RegistryVerb>, 5> kVerbs = {{
    {"record", RegistryVerb::kRecord},
    {"history", RegistryVerb::kHistory},
    {"collections", RegistryVerb::kCollections},
    {"export", RegistryVerb::kExport},
    {"report", RegistryVerb::kReport},
}};

// A collection's name is said in full in JSON; in text at most this many
// bytes of it, so that a row stays within a terminal's width.
constexpr std::size_t kMaxNameShown = 32;
// A name given to record: longer ones are refused.
constexpr std::size_t kMaxNameBytes = 200;

constexpr int kRegistryStatus = 2;  // the registry could not be opened or used

// Output gathered and written in blocks.
struct Writer {
  int fd;
  std::string text;
  int error = 0;  // -errno
  void flushIfFull() {
    if (text.size() >= kOutputBlock) flush();
  }
  void flush() {
    if (error == 0) error = writeAll(fd, text);
    text.clear();
  }
};

void say(const FleetIo& io, std::string_view message) {
  std::string line = "orlim-fleet: ";
  line += message;
  line += '\n';
  (void)writeAll(io.err, line);
}

int finish(Writer& out, const FleetIo& io, int status) {
  out.flush();
  if (out.error == 0) return status;
  say(io, std::string("write error: ") + std::strerror(-out.error));
  return 1;
}

std::string utcText(std::int64_t seconds) {
  std::string text(report::kUtcTextSize, '\0');
  report::writeUtc(text.data(), static_cast<std::uint32_t>(std::clamp<std::int64_t>(seconds, 0, 0xFFFFFFFF)));
  return text;
}

void appendName(std::string& out, std::string_view name, std::size_t width) {
  const std::size_t start = out.size();
  report::appendTextEscaped(out, name.substr(0, kMaxNameShown));
  if (name.size() > kMaxNameShown) out += "...";
  const std::size_t shown = out.size() - start;
  if (shown < width) out.append(width - shown, ' ');
}

// --- record -------------------------------------------------------------------

struct RecordRun {
  Registry registry;
  Recording recording;
  RegistryError error;
  std::string_view name;
  std::int64_t recorded = 0;
};

int loadFromRegistry(void* context, Previous& previous, WarningNames& names,
                     std::string& message) {
  auto* run = static_cast<RecordRun*>(context);
  if (beginRecording(run->registry, run->recording, previous, names, run->error) == 0) return 0;
  message += "orlim-fleet: " + run->error.message + '\n';
  return kRegistryStatus;
}

int keepInRegistry(void* context, const Collection& now, std::span<const std::string_view> lines,
                   const Comparison& comparison, std::string& message) {
  auto* run = static_cast<RecordRun*>(context);
  const RecordInput input{run->name, run->recorded, now, lines, comparison};
  if (commitRecording(run->recording, input, run->error) == 0) return 0;
  message += "orlim-fleet: " + run->error.message + '\n';
  return kRegistryStatus;
}

int record(const FleetOptions& options, const RegistryCommand& command, const FleetSource& now,
           const FleetIo& io) {
  RecordRun run;
  run.recorded = static_cast<std::int64_t>(std::time(nullptr));
  const std::string defaultName = utcText(run.recorded);
  run.name = command.name != nullptr ? std::string_view(command.name) : defaultName;
  if (run.name.empty() || run.name.size() > kMaxNameBytes) {
    say(io, "a collection's name is 1 to " + std::to_string(kMaxNameBytes) +
                " bytes; nothing recorded");
    return kRegistryStatus;
  }
  if (openRegistry(command.registry, true, run.registry, run.error) != 0) {
    say(io, run.error.message);
    return kRegistryStatus;
  }
  const FleetKeeper keeper{loadFromRegistry, keepInRegistry, &run};
  return runFleet(options, now, {}, io, &keeper);
}

// A collection as both JSON outputs name it: its name and when recorded.
void jsonCollection(report::JsonWriter& w, std::string_view name, std::int64_t recorded) {
  report::jsonKey(w, "collection");
  report::jsonString(w, name);
  report::jsonKey(w, "recorded");
  report::jsonInt(w, recorded);
  report::jsonKey(w, "recorded_utc");
  report::jsonString(w, utcText(recorded));
}

// --- collections ----------------------------------------------------------------

void collectionsText(const std::vector<CollectionSummary>& list, Writer& out) {
  std::size_t width = 10;
  for (const CollectionSummary& c : list)
    width = std::max(width, std::min(c.name.size(), kMaxNameShown + 3));
  appendName(out.text, "COLLECTION", width + 2);
  out.text += "RECORDED              RECORDS  VERDICTS\n";
  for (const CollectionSummary& c : list) {
    appendName(out.text, c.name, width + 2);
    out.text += utcText(c.recorded);
    char records[32];
    std::snprintf(records, sizeof records, "  %7llu  ", static_cast<unsigned long long>(c.records));
    out.text += records;
    bool first = true;
    for (const StatusName& entry : kStatusNames) {
      const std::uint64_t n = c.counts[static_cast<std::size_t>(entry.status)];
      if (n == 0) continue;
      if (!first) out.text += ", ";
      first = false;
      out.text += std::to_string(n);
      out.text += ' ';
      out.text += entry.name;
    }
    out.text += '\n';
    out.flushIfFull();
  }
}

void collectionsJson(const std::vector<CollectionSummary>& list, Writer& out) {
  for (const CollectionSummary& c : list) {
    report::JsonWriter w;
    report::jsonBeginObject(w);
    jsonCollection(w, c.name, c.recorded);
    report::jsonKey(w, "records");
    report::jsonInt(w, static_cast<std::int64_t>(c.records));
    std::uint64_t labels = 0;
    for (std::uint64_t n : c.counts) labels += n;
    report::jsonKey(w, "labels");
    report::jsonInt(w, static_cast<std::int64_t>(labels));
    for (const StatusName& entry : kStatusNames) {
      report::jsonKey(w, entry.name);
      report::jsonInt(w, static_cast<std::int64_t>(c.counts[static_cast<std::size_t>(entry.status)]));
    }
    report::jsonEndObject(w);
    out.text += w.out;
    out.text += '\n';
  }
}

// --- history ----------------------------------------------------------------------

// What a stored record says, read again; false when it no longer reads.
bool readStored(std::string_view text, ParsedRecord& parsed, std::string& scratch) {
  RecordError bad;
  return !text.empty() && text.size() <= kMaxRecordLineBytes && parseRecord(text, parsed, scratch, bad);
}

void historyText(const std::vector<LabelEntry>& entries, Writer& out) {
  std::size_t width = 10;
  for (const LabelEntry& e : entries)
    width = std::max(width, std::min(e.collectionName.size(), kMaxNameShown + 3));
  ParsedRecord parsed;
  std::string scratch;
  appendName(out.text, "COLLECTION", width + 2);
  out.text += "RECORDED              VERDICT\n";
  for (const LabelEntry& e : entries) {
    appendName(out.text, e.collectionName, width + 2);
    out.text += utcText(e.recorded);
    out.text += "  ";
    out.text += statusName(e.status);
    if (!e.movedFrom.empty()) {
      out.text += ", moved from ";
      appendName(out.text, e.movedFrom, 0);
    }
    if (!e.movedTo.empty()) {
      out.text += ", moved to ";
      appendName(out.text, e.movedTo, 0);
    }
    out.text += '\n';
    if (readStored(e.record, parsed, scratch)) {
      out.text += "    ";
      if (parsed.kind == RecordKind::kToken) {
        appendMachineText(out.text, parsed.uuid, parsed.legacy);
        out.text += "  token made ";
        out.text += utcText(parsed.time);
      } else {
        std::string why = std::string(parsed.error).substr(0, 80);
        report::appendTextEscaped(out.text, why);
      }
      out.text += '\n';
    }
    out.flushIfFull();
  }
}

void historyJson(const std::vector<LabelEntry>& entries, Writer& out) {
  ParsedRecord parsed;
  std::string scratch;
  for (const LabelEntry& e : entries) {
    report::JsonWriter w;
    report::jsonBeginObject(w);
    jsonCollection(w, e.collectionName, e.recorded);
    report::jsonKey(w, "verdict");
    report::jsonString(w, statusName(e.status));
    report::jsonKey(w, "moved_from");
    report::jsonStringOrNull(w, e.movedFrom.empty() ? nullptr : e.movedFrom.c_str());
    report::jsonKey(w, "moved_to");
    report::jsonStringOrNull(w, e.movedTo.empty() ? nullptr : e.movedTo.c_str());
    report::jsonKey(w, "record");
    // As the decoder wrote it, once it reads as one again.
    if (readStored(e.record, parsed, scratch))
      report::jsonRaw(w, e.record);
    else
      report::jsonNull(w);
    report::jsonEndObject(w);
    out.text += w.out;
    out.text += '\n';
  }
}

int writeExported(void* context, std::string_view record) {
  auto* out = static_cast<Writer*>(context);
  out->text += record;
  out->text += '\n';
  out->flushIfFull();
  return out->error == 0 ? 0 : 1;
}

}  // namespace

bool registryVerb(std::string_view word, RegistryVerb& verb) {
  for (const auto& [name, value] : kVerbs) {
    if (name == word) {
      verb = value;
      return true;
    }
  }
  return false;
}

int runRegistryCommand(const FleetOptions& options, const RegistryCommand& command,
                       const FleetSource* now, const FleetIo& io) {
  if (command.verb == RegistryVerb::kRecord) return record(options, command, *now, io);
  Registry registry;
  RegistryError error;
  if (openRegistry(command.registry, false, registry, error) != 0) {
    say(io, error.message);
    return kRegistryStatus;
  }
  Writer out{io.out, {}};
  switch (command.verb) {
    case RegistryVerb::kCollections: {
      std::vector<CollectionSummary> list;
      if (listCollections(registry, list, error) != 0) break;
      if (options.json)
        collectionsJson(list, out);
      else
        collectionsText(list, out);
      return finish(out, io, 0);
    }
    case RegistryVerb::kHistory: {
      std::vector<LabelEntry> entries;
      if (labelHistory(registry, command.operand, entries, error) != 0) break;
      if (entries.empty()) {
        std::string what = "no record of the label '";
        report::appendTextEscaped(what, std::string_view(command.operand).substr(0, 200));
        what += "' in ";
        report::appendTextEscaped(what, command.registry);
        say(io, what);
        return 1;
      }
      if (options.json)
        historyJson(entries, out);
      else
        historyText(entries, out);
      return finish(out, io, 0);
    }
    case RegistryVerb::kExport: {
      const int status = exportCollection(registry, command.operand == nullptr ? "" : command.operand,
                                          writeExported, &out, error);
      if (status == kRegistryFailed && out.error == 0) break;
      return finish(out, io, 0);
    }
    case RegistryVerb::kReport: {
      HtmlReport page;
      const auto madeAt = static_cast<std::uint32_t>(std::time(nullptr));
      if (gatherReport(registry, command.registry, madeAt,
                       options.json ? SIZE_MAX : kHtmlMaxListed, page, error) != 0)
        break;
      if (command.html != nullptr) {
        if (const int rc = writeHtmlFile(command.html, page); rc != 0) {
          std::string what = "cannot write ";
          report::appendTextEscaped(what, command.html);
          say(io, what + ": " + std::strerror(-rc));
          return 1;
        }
      }
      if (options.json) appendReportJson(page, out.text);
      return finish(out, io, 0);
    }
    case RegistryVerb::kRecord:
      break;
  }
  // Whatever was written before the failure goes out first.
  out.flush();
  say(io, error.message);
  return kRegistryStatus;
}

}  // namespace fleet
