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
  std::string messages;  // for err, written after each input
  std::size_t badLines = 0;
  bool readFailed = false;
  int writeError = 0;  // -errno
  std::unique_ptr<char[]> buffer;
  ParsedRecord parsed;
  std::string scratch;
  // For a keeper: NOW's records' lines as given, end to end, and where
  // each ends.
  bool keepLines = false;
  std::string kept;
  std::vector<std::size_t> keptEnds;
};

void flushMessages(FleetRun& run) {
  // Nothing more can be said when standard error fails.
  (void)writeAll(run.io.err, run.messages);
  run.messages.clear();
}

std::string_view displayName(std::string_view name) {
  return name == "-" ? std::string_view("standard input") : name;
}

// "orlim-fleet: NAME: line N[, byte P]: MESSAGE"
void reportLine(FleetRun& run, std::string_view name, std::size_t line, std::size_t position,
                std::string_view message) {
  run.messages += "orlim-fleet: ";
  report::appendTextEscaped(run.messages, displayName(name));
  char where[64];
  if (position != 0)
    std::snprintf(where, sizeof where, ": line %zu, byte %zu: ", line, position);
  else
    std::snprintf(where, sizeof where, ": line %zu: ", line);
  run.messages += where;
  run.messages += message;
  run.messages += '\n';
  ++run.badLines;
}

bool isBlank(std::string_view line) {
  for (char c : line)
    if (c != ' ' && c != '\t' && c != '\r') return false;
  return true;
}

void readLine(FleetRun& run, const FleetSource& source, Collection& c, std::string_view line,
              std::size_t number) {
  if (isBlank(line)) return;
  RecordError error;
  if (!parseRecord(line, run.parsed, run.scratch, error)) {
    reportLine(run, source.name, number, error.position, error.message.data());
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
      reportLine(run, source.name, number, 0, "more kinds of warning than this reads");
      return;
    case AddResult::kTooMuchText:
      reportLine(run, source.name, number, 0, "more text than this keeps");
      return;
  }
}

void readCollection(FleetRun& run, const FleetSource& source, Collection& c) {
  struct stat file {};
  if (fstat(source.fd, &file) == 0 && S_ISREG(file.st_mode)) {
    reserveFor(c, static_cast<std::size_t>(file.st_size));
    if (run.keepLines) run.kept.reserve(static_cast<std::size_t>(file.st_size));
  }
  char* const buffer = run.buffer.get();
  std::size_t have = 0;      // the start of a line, carried over from the last block
  bool longLine = false;     // the line went past the limit: its rest is passed over
  std::size_t number = 0;
  char lengthMessage[64];
  std::snprintf(lengthMessage, sizeof lengthMessage, "longer than %zu bytes", kMaxLineBytes);
  for (;;) {
    const ssize_t n = readSome(source.fd, {buffer + have, kReadBlock}, run.io.read);
    if (n < 0) {
      run.messages += "orlim-fleet: ";
      report::appendTextEscaped(run.messages, displayName(source.name));
      run.messages += ": read error: ";
      run.messages += std::strerror(static_cast<int>(-n));
      run.messages += '\n';
      run.readFailed = true;
      break;
    }
    if (n == 0) {
      // The last line, without its line end.
      if (longLine) reportLine(run, source.name, ++number, 0, lengthMessage);
      else if (have != 0) readLine(run, source, c, std::string_view(buffer, have), ++number);
      break;
    }
    const std::size_t end = have + static_cast<std::size_t>(n);
    std::size_t start = 0;
    std::size_t from = have;  // the carried start has no line end in it
    for (;;) {
      const auto* newline = static_cast<const char*>(std::memchr(buffer + from, '\n', end - from));
      if (newline == nullptr) break;
      const auto stop = static_cast<std::size_t>(newline - buffer);
      ++number;
      if (longLine || stop - start > kMaxLineBytes) {
        reportLine(run, source.name, number, 0, lengthMessage);
        longLine = false;
      } else {
        readLine(run, source, c, std::string_view(buffer + start, stop - start), number);
      }
      start = from = stop + 1;
    }
    const std::size_t rest = end - start;
    if (longLine || rest > kMaxLineBytes) {
      longLine = true;
      have = 0;
      continue;
    }
    std::memmove(buffer, buffer + start, rest);
    have = rest;
  }
  flushMessages(run);
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
  FleetRun run{io, {}, {}, 0, false, 0, {}, {}, {}, false, {}, {}};
  run.buffer.reset(new (std::nothrow) char[kReadBlock + kMaxLineBytes + 1]);
  if (run.buffer == nullptr) {
    run.messages = "orlim-fleet: out of memory\n";
    flushMessages(run);
    return 1;
  }
  Collection nowRecords;
  Previous known;
  if (keeper != nullptr) {
    if (const int status = keeper->load(keeper->context, known, run.names, run.messages);
        status != 0) {
      flushMessages(run);
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
  // A collection that gave nothing (a collector that stopped, an empty
  // file) would make every label gone: said instead.
  if (nowRecords.records.empty() && !known.records.records.empty()) {
    run.messages = "orlim-fleet: ";
    report::appendTextEscaped(run.messages, displayName(now.name));
    run.messages += ": no records, where the previous collections have some: nothing compared\n";
    flushMessages(run);
    return 1;
  }
  const Comparison comparison = compare(nowRecords, known);
  if (keeper != nullptr) {
    // Kept before a verdict is printed: what is printed is what was kept.
    int status = 1;
    if (run.readFailed) {
      run.messages = "orlim-fleet: ";
      report::appendTextEscaped(run.messages, displayName(now.name));
      run.messages += ": not read whole: nothing kept\n";
    } else {
      std::vector<std::string_view> lines(run.keptEnds.size());
      for (std::size_t i = 0, start = 0; i < lines.size(); start = run.keptEnds[i++])
        lines[i] = std::string_view(run.kept).substr(start, run.keptEnds[i] - start);
      status = keeper->keep(keeper->context, nowRecords, lines, comparison, run.messages);
    }
    if (status != 0) {
      flushMessages(run);
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
    run.messages = "orlim-fleet: write error: ";
    run.messages += std::strerror(-run.writeError);
    run.messages += '\n';
    flushMessages(run);
    return 1;
  }
  return comparison.needsLook || run.badLines != 0 || run.readFailed ? 1 : 0;
}

}  // namespace fleet
