#include "fleet/fleet.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "common/io.h"
#include "common/line_reader.h"
#include "fleet/fleet_compare.h"
#include "fleet/fleet_record.h"
#include "fleet/fleet_render.h"
#include "report/escape.h"

namespace fleet {
namespace {

// Input is read in blocks of this size: a million records cost a few
// hundred system calls.
constexpr std::size_t kReadBlock = 1 << 20;

struct FleetRun {
  const FleetIo& io;
  WarningNames names;
  std::size_t badLines = 0;
  bool readFailed = false;
  int writeError = 0;  // -errno
  std::unique_ptr<char[]> buffer;
  std::unique_ptr<char[]> longStart;
  ParsedRecord parsed;
  std::string scratch;
  // For a keeper: NOW's records' lines as given, end to end, and where
  // each ends.
  bool keepLines = false;
  std::string kept;
  std::vector<std::size_t> keptEnds;
};

// A message goes out when it is found: none is kept. Nothing more can be
// said when standard error fails.
void say(const FleetRun& run, std::string_view text) { (void)writeAll(run.io.err, text); }

std::string_view displayName(std::string_view name) {
  return name == "-" ? std::string_view("standard input") : name;
}

// "orlim-fleet: NAME: " with the name escaped.
std::string messageStart(std::string_view name) {
  std::string text = "orlim-fleet: ";
  report::appendTextEscaped(text, displayName(name));
  text += ": ";
  return text;
}

// One input's lines that are not records: the first kMaxBadLineMessages
// reported as met, the rest counted.
struct BadLines {
  std::string_view name;
  std::size_t count = 0;
};

// "orlim-fleet: NAME: line N[, byte P]: MESSAGE"
void reportLine(FleetRun& run, BadLines& bad, std::size_t line, std::size_t position,
                std::string_view message) {
  ++run.badLines;
  if (++bad.count > kMaxBadLineMessages) return;
  std::string text = messageStart(bad.name);
  char where[64];
  if (position != 0)
    std::snprintf(where, sizeof where, "line %zu, byte %zu: ", line, position);
  else
    std::snprintf(where, sizeof where, "line %zu: ", line);
  text += where;
  text += message;
  text += '\n';
  say(run, text);
}

void reportBadLineCount(const FleetRun& run, const BadLines& bad) {
  if (bad.count <= kMaxBadLineMessages) return;
  char more[96];
  const std::size_t rest = bad.count - kMaxBadLineMessages;
  std::snprintf(more, sizeof more, "%zu more %s not records\n", rest, rest == 1 ? "line" : "lines");
  say(run, messageStart(bad.name) + more);
}

void readLine(FleetRun& run, BadLines& bad, Collection& c, std::string_view line, std::size_t number) {
  RecordError error;
  if (!parseRecord(line, run.parsed, run.scratch, error)) {
    reportLine(run, bad, number, error.position, error.message.data());
    return;
  }
  switch (addRecord(c, run.parsed, static_cast<std::uint32_t>(number), run.names)) {
    case AddResult::kAdded:
      if (run.keepLines) {
        run.kept += line;
        run.keptEnds.push_back(run.kept.size());
      }
      return;
    case AddResult::kTooManyWarnings:
      reportLine(run, bad, number, 0, "more kinds of warning than this reads");
      return;
    case AddResult::kTooMuchText:
      reportLine(run, bad, number, 0, "more text than this keeps");
      return;
  }
}

void readCollection(FleetRun& run, const FleetSource& source, Collection& c) {
  struct stat file {};
  if (fstat(source.fd, &file) == 0 && S_ISREG(file.st_mode)) {
    reserveFor(c, static_cast<std::size_t>(file.st_size));
    if (run.keepLines) run.kept.reserve(static_cast<std::size_t>(file.st_size));
  }
  LineReader lines{source.fd, run.io.read, kMaxRecordLineBytes,
                   {run.buffer.get(), lineBufferSize(kReadBlock, kMaxRecordLineBytes)},
                   {run.longStart.get(), kMaxRecordLineBytes}};
  BadLines bad{source.name};
  char lengthMessage[64];
  std::snprintf(lengthMessage, sizeof lengthMessage, "longer than %zu bytes", kMaxRecordLineBytes);
  for (bool more = true; more;) {
    Line line;
    switch (nextLine(lines, line)) {
      case LineStatus::kLine:
        readLine(run, bad, c, line.text, line.number);
        break;
      case LineStatus::kTooLong:
        reportLine(run, bad, line.number, 0, lengthMessage);
        break;
      case LineStatus::kNeedInput:
        if (const ssize_t n = fillLines(lines); n < 0) {
          say(run, messageStart(source.name) + "read error: " + std::strerror(static_cast<int>(-n)) + "\n");
          run.readFailed = true;
          more = false;
        }
        break;
      case LineStatus::kEnd:
        more = false;
        break;
    }
  }
  reportBadLineCount(run, bad);
}

void flushOutput(Output& out) {
  auto* run = static_cast<FleetRun*>(out.context);
  if (run->writeError == 0) run->writeError = writeAll(run->io.out, out.text);
  out.text.clear();
}

}  // namespace

int runFleet(const FleetOptions& options, const FleetSource& now,
             std::span<const FleetSource> previous, const FleetIo& io,
             const FleetKeeper* keeper) {
  FleetRun run{io, {}, 0, false, 0, {}, {}, {}, {}, false, {}, {}};
  run.buffer.reset(new (std::nothrow) char[lineBufferSize(kReadBlock, kMaxRecordLineBytes)]);
  run.longStart.reset(new (std::nothrow) char[kMaxRecordLineBytes]);
  if (run.buffer == nullptr || run.longStart == nullptr) {
    say(run, "orlim-fleet: out of memory\n");
    return 1;
  }
  Collection nowRecords;
  Previous known;
  std::string message;  // a keeper's
  if (keeper != nullptr) {
    if (const int status = keeper->load(keeper->context, known, run.names, message); status != 0) {
      say(run, message);
      return status;
    }
  }
  for (const FleetSource& source : previous) {
    beginCollection(known, source.name);
    readCollection(run, source, known.records);
  }
  run.keepLines = keeper != nullptr;
  readCollection(run, now, nowRecords);
  run.buffer.reset();
  run.longStart.reset();
  // A collection that gave nothing (a collector that stopped, an empty
  // file) would make every label gone: said instead.
  if (nowRecords.records.empty() && !known.records.records.empty()) {
    say(run, messageStart(now.name) +
                 "no records, where the previous collections have some: nothing compared\n");
    return 1;
  }
  const Comparison comparison = compare(nowRecords, known);
  if (keeper != nullptr) {
    // Kept before a verdict is printed: what is printed is what was kept.
    if (run.readFailed) {
      say(run, messageStart(now.name) + "not read whole: nothing kept\n");
      return 1;
    }
    std::vector<std::string_view> lines(run.keptEnds.size());
    for (std::size_t i = 0, start = 0; i < lines.size(); start = run.keptEnds[i++])
      lines[i] = std::string_view(run.kept).substr(start, run.keptEnds[i] - start);
    if (const int status = keeper->keep(keeper->context, nowRecords, lines, comparison, message);
        status != 0) {
      say(run, message);
      return status;
    }
    std::string().swap(run.kept);
  }
  const FleetView view{nowRecords, known.records, known, comparison, run.names, run.badLines};
  Output out;
  out.flush = flushOutput;
  out.context = &run;
  if (options.json)
    renderJson(view, out);
  else
    renderText(view, options.wide, out);
  flushOutput(out);
  if (run.writeError != 0) {
    say(run, std::string("orlim-fleet: write error: ") + std::strerror(-run.writeError) + "\n");
    return 1;
  }
  return comparison.needsLook || run.badLines != 0 || run.readFailed ? 1 : 0;
}

}  // namespace fleet
