#include "fleet/fleet_render.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "fleet/fleet_internal.h"
#include "report/utc_text.h"
#include "report/escape.h"
#include "report/json_writer.h"
#include "report/wrap.h"

namespace fleet {
namespace {

// The text's groups, those that need a look first.
constexpr std::array<Status, kStatusCount> kTextOrder = {
    Status::kFailed,        Status::kUnreachable, Status::kReplaced, Status::kUuidChanged,
    Status::kCardChanged,   Status::kUuidByteOrder, Status::kNew,    Status::kGone,
    Status::kSame,
};

// The longest verdict name: the status column's width.
constexpr std::size_t statusWidth() {
  std::size_t width = 0;
  for (const StatusName& entry : kStatusNames) width = std::max(width, entry.name.size());
  return width;
}
constexpr std::size_t kStatusWidth = statusWidth();

void flushIfFull(Output& out) {
  if (out.flush != nullptr && out.text.size() >= kOutputBlock) out.flush(out);
}

void appendMachine(std::string& out, const Record& r) { appendMachineText(out, r.uuid, r.legacy); }

std::string machineText(const Record& r) {
  std::string text;
  text.reserve(kMachineTextSize);
  appendMachine(text, r);
  return text;
}

void appendUtc(std::string& out, std::uint32_t seconds) {
  const std::size_t at = out.size();
  out.resize(at + report::kUtcTextSize);
  report::writeUtc(out.data() + at, seconds);
}

const Record* nowRecord(const FleetView& view, const Verdict& v) {
  return v.now == kNone ? nullptr : &view.now.records[v.now];
}
const Record* oldRecord(const FleetView& view, const Verdict& v) {
  return v.old == kNone ? nullptr : &view.old.records[v.old];
}

// The label a verdict is known by, or empty when its records have none.
bool labelOf(const FleetView& view, const Verdict& v, std::string_view& label) {
  const Record* r = nowRecord(view, v);
  const Collection* c = &view.now;
  if (r == nullptr) {
    r = &view.old.records[v.oldLatest];
    c = &view.old;
  }
  if ((r->flags & kFlagLabelled) == 0) return false;
  label = recordKey(*c, *r);
  return true;
}

// The collection the last known identity came from, when it is not the
// latest previous one (the one a reader takes it for).
bool olderCollection(const FleetView& view, const Verdict& v, std::string_view& name) {
  if (v.old == kNone || view.previous.names.size() < 2) return false;
  const std::uint32_t at = collectionOf(view.previous, v.old);
  if (at + 1 == view.previous.names.size()) return false;
  name = view.previous.names[at];
  return true;
}

// The records of a label listed more than once other than the one that
// speaks, in line order; none for a label listed once.
std::vector<std::uint32_t> duplicatesOf(const FleetView& view, const Verdict& v) {
  if (v.nowHead == kNone || view.now.records[v.nowHead].next == kNone) return {};
  return otherRecords(view.now, v);
}

// The warnings in output order: the decoder's, then the fleet's.
template <typename F>
void forEachWarning(const WarningNames& names, std::uint32_t bits, F f) {
  for (std::size_t i = kFleetWarningCount; i < names.names.size(); ++i)
    if ((bits & (1u << i)) != 0) f(std::string_view(names.names[i]));
  for (std::size_t i = 0; i < kFleetWarningCount; ++i)
    if ((bits & (1u << i)) != 0) f(std::string_view(names.names[i]));
}

// --- JSON ---------------------------------------------------------------------

void jsonLabelOf(const FleetView& view, const Verdict& v, report::JsonWriter& w) {
  std::string_view label;
  if (labelOf(view, v, label))
    report::jsonString(w, label);
  else
    report::jsonNull(w);
}

void jsonMachine(report::JsonWriter& w, const Record* r, std::string_view key,
                 std::string_view timeKey) {
  report::jsonKey(w, key);
  if (r != nullptr && isToken(*r)) {
    std::string machine;
    machine.reserve(kMachineTextSize);
    appendMachine(machine, *r);
    report::jsonString(w, machine);
    report::jsonKey(w, timeKey);
    report::jsonInt(w, r->time);
  } else {
    report::jsonNull(w);
    report::jsonKey(w, timeKey);
    report::jsonNull(w);
  }
}

void jsonVerdict(const FleetView& view, std::uint32_t index, report::JsonWriter& w) {
  const Verdict& v = view.comparison.verdicts[index];
  const Record* now = nowRecord(view, v);
  const Record* old = oldRecord(view, v);
  report::jsonBeginObject(w);
  report::jsonKey(w, "label");
  jsonLabelOf(view, v, w);
  report::jsonKey(w, "status");
  report::jsonString(w, statusName(v.status));
  jsonMachine(w, now, "machine", "time");
  jsonMachine(w, old, "previous_machine", "previous_time");
  if (old != nullptr && !view.previous.names.empty()) {
    report::jsonKey(w, "previous_collection");
    report::jsonString(w, view.previous.names[collectionOf(view.previous, v.old)]);
  }
  if (now != nullptr && !isToken(*now)) {
    report::jsonKey(w, "error");
    report::jsonString(w, recordError(view.now, *now));
    report::jsonKey(w, "input");
    report::jsonString(w, recordInput(view.now, *now));
  }
  if (v.movedFrom != kNone) {
    report::jsonKey(w, "moved_from");
    jsonLabelOf(view, view.comparison.verdicts[v.movedFrom], w);
  }
  if (v.movedTo != kNone) {
    report::jsonKey(w, "moved_to");
    jsonLabelOf(view, view.comparison.verdicts[v.movedTo], w);
  }
  report::jsonKey(w, "warnings");
  report::jsonBeginArray(w);
  forEachWarning(view.names, v.warnings, [&](std::string_view name) { report::jsonString(w, name); });
  report::jsonEndArray(w);
  if (v.group != kNone) {
    report::jsonKey(w, "shared_with");
    report::jsonBeginArray(w);
    const std::size_t total =
        forEachShared(view.comparison, view.now, index, kMaxSharedListed, [&](std::uint32_t other) {
          const Verdict& o = view.comparison.verdicts[other];
          report::jsonBeginObject(w);
          report::jsonKey(w, "label");
          jsonLabelOf(view, o, w);
          report::jsonKey(w, "machine");
          report::jsonString(w, machineText(view.now.records[o.now]));
          report::jsonEndObject(w);
        });
    report::jsonEndArray(w);
    if (total > kMaxSharedListed) {
      report::jsonKey(w, "shared_with_more");
      report::jsonInt(w, static_cast<std::int64_t>(total - kMaxSharedListed));
    }
  }
  const std::vector<std::uint32_t> duplicates = duplicatesOf(view, v);
  if (!duplicates.empty()) {
    report::jsonKey(w, "duplicates");
    report::jsonBeginArray(w);
    for (std::uint32_t i : duplicates) {
      const Record& r = view.now.records[i];
      report::jsonBeginObject(w);
      report::jsonKey(w, "line");
      report::jsonInt(w, r.line);
      if (isToken(r)) {
        report::jsonKey(w, "machine");
        report::jsonString(w, machineText(r));
        report::jsonKey(w, "time");
        report::jsonInt(w, r.time);
      } else {
        report::jsonKey(w, "error");
        report::jsonString(w, recordError(view.now, r));
        report::jsonKey(w, "input");
        report::jsonString(w, recordInput(view.now, r));
      }
      report::jsonEndObject(w);
    }
    report::jsonEndArray(w);
  }
  report::jsonKey(w, "line");
  if (now != nullptr)
    report::jsonInt(w, now->line);
  else
    report::jsonNull(w);
  report::jsonKey(w, "previous_line");
  if (old != nullptr)
    report::jsonInt(w, old->line);
  else
    report::jsonNull(w);
  report::jsonEndObject(w);
}

void jsonSummary(const FleetView& view, report::JsonWriter& w) {
  const Comparison& c = view.comparison;
  report::jsonBeginObject(w);
  report::jsonKey(w, "summary");
  report::jsonBeginObject(w);
  report::jsonKey(w, "labels");
  report::jsonInt(w, static_cast<std::int64_t>(c.verdicts.size()));
  for (const StatusName& entry : kStatusNames) {
    report::jsonKey(w, entry.name);
    report::jsonInt(w, static_cast<std::int64_t>(c.counts[static_cast<std::size_t>(entry.status)]));
  }
  report::jsonKey(w, "with_warnings");
  report::jsonInt(w, static_cast<std::int64_t>(c.withWarnings));
  report::jsonKey(w, "bad_lines");
  report::jsonInt(w, static_cast<std::int64_t>(view.badLines));
  report::jsonKey(w, "needs_look");
  report::jsonBool(w, c.needsLook || view.badLines != 0);
  report::jsonEndObject(w);
  report::jsonEndObject(w);
}

// --- text ---------------------------------------------------------------------

void pad(std::string& out, std::size_t width, std::size_t to) {
  if (width < to) out.append(to - width, ' ');
}

void appendLabelCell(const FleetView& view, const Verdict& v, std::string& out) {
  std::string_view label;
  if (labelOf(view, v, label))
    report::appendTextEscaped(out, label);
  else
    out += '-';
}

// A machine and its token's time.
void appendMachineAndTime(std::string& out, const Record& r) {
  appendMachine(out, r);
  out += "  ";
  appendUtc(out, r.time);
}

// The notes below a label: each a name and a value. The block form shows
// every one as a line of its own, the names a column; the wide form the
// ones the row has no column for.
enum class Note : std::uint8_t {
  kNow,
  kError,
  kInput,
  kPrevious,
  kKnownIn,
  kMovedFrom,
  kMovedTo,
  kWarnings,
  kSharedWith,
  kAlsoListed,
};
constexpr std::array<std::string_view, 10> kNoteNames = {
    "now", "error", "input", "previous", "known in", "moved from", "moved to",
    "warnings", "shared with", "also listed",
};
static_assert(kNoteNames.size() == static_cast<std::size_t>(Note::kAlsoListed) + 1);

constexpr std::size_t noteWidth() {
  std::size_t width = 0;
  for (std::string_view name : kNoteNames) width = std::max(width, name.size());
  return width;
}

struct TextLayout {
  bool wide = false;
  std::size_t labelWidth = 5;  // "LABEL", in the wide form
  std::string cell;            // scratch
};

// The block form's notes: under the label, the value a column of its own.
constexpr std::size_t kBlockIndent = 2;
constexpr std::size_t kBlockValueColumn = kBlockIndent + noteWidth() + 2;
// The wide form's: under the label, the name and value after ": ".
constexpr std::size_t kWideIndent = 2 + kStatusWidth;

// Text at column, kept to the terminal's width, carried on at column.
void appendWrapped(std::string& out, std::size_t column, std::string_view text) {
  report::appendWrappedAt(out, text, column, kTextColumns);
}

// "NAME: VALUE" in the wide form, "NAME   VALUE" (value kept to the
// width) in the block form; value is already escaped.
void appendNote(const TextLayout& layout, std::string& out, Note note, std::string_view value) {
  const std::string_view name = kNoteNames[static_cast<std::size_t>(note)];
  if (layout.wide) {
    out.append(kWideIndent, ' ');
    out += name;
    out += ": ";
    out += value;
  } else {
    out.append(kBlockIndent, ' ');
    out += name;
    pad(out, kBlockIndent + name.size(), kBlockValueColumn);
    appendWrapped(out, kBlockValueColumn, value);
  }
  out += '\n';
}

// A machine and its token's time, or a dash in each; the last cell of a
// row is not padded.
void wideMachineCells(std::string& out, const Record* r, bool last) {
  if (r != nullptr && isToken(*r)) {
    appendMachineAndTime(out, *r);
    return;
  }
  out += '-';
  pad(out, 1, kMachineTextSize);
  out += "  -";
  if (!last) pad(out, 1, report::kUtcTextSize);
}

constexpr std::string_view kWideColumns[] = {"STATUS", "LABEL", "MACHINE", "TIME",
                                             "PREVIOUS MACHINE", "PREVIOUS TIME"};

void wideHeader(const TextLayout& layout, std::string& out) {
  const std::size_t widths[] = {kStatusWidth,       layout.labelWidth,    kMachineTextSize,
                                report::kUtcTextSize, kMachineTextSize, 0};
  for (std::size_t i = 0; i < std::size(kWideColumns); ++i) {
    if (i != 0) out += "  ";
    out += kWideColumns[i];
    pad(out, kWideColumns[i].size(), widths[i]);
  }
  out += '\n';
}

void textVerdict(const FleetView& view, std::uint32_t index, TextLayout& layout, std::string& out) {
  const Verdict& v = view.comparison.verdicts[index];
  const Record* now = nowRecord(view, v);
  const Record* old = oldRecord(view, v);
  const std::string_view status = statusName(v.status);
  std::string& cell = layout.cell;
  out += status;
  pad(out, status.size(), kStatusWidth);
  out += "  ";
  cell.clear();
  appendLabelCell(view, v, cell);
  if (layout.wide) {
    out += cell;
    pad(out, report::textColumns(cell), layout.labelWidth);
    out += "  ";
    wideMachineCells(out, now, false);
    out += "  ";
    wideMachineCells(out, old, true);
  } else {
    appendWrapped(out, kStatusWidth + 2, cell);
  }
  out += '\n';
  if (!layout.wide && now != nullptr && isToken(*now)) {
    cell.clear();
    appendMachineAndTime(cell, *now);
    appendNote(layout, out, Note::kNow, cell);
  }
  if (now != nullptr && !isToken(*now)) {
    cell.clear();
    report::appendTextEscaped(cell, recordError(view.now, *now));
    if (layout.wide) {
      // As the wide table has always shown it: one line.
      cell += " (input: ";
      report::appendTextEscaped(cell, recordInput(view.now, *now));
      cell += ')';
      appendNote(layout, out, Note::kError, cell);
    } else {
      appendNote(layout, out, Note::kError, cell);
      cell.clear();
      report::appendTextEscaped(cell, recordInput(view.now, *now));
      appendNote(layout, out, Note::kInput, cell);
    }
  }
  if (!layout.wide && old != nullptr) {
    cell.clear();
    appendMachineAndTime(cell, *old);
    appendNote(layout, out, Note::kPrevious, cell);
  }
  std::string_view collection;
  if (olderCollection(view, v, collection)) {
    cell.clear();
    report::appendTextEscaped(cell, collection);
    appendNote(layout, out, Note::kKnownIn, cell);
  }
  const auto linked = [&](Note note, std::uint32_t other) {
    if (other == kNone) return;
    cell.clear();
    appendLabelCell(view, view.comparison.verdicts[other], cell);
    appendNote(layout, out, note, cell);
  };
  linked(Note::kMovedFrom, v.movedFrom);
  linked(Note::kMovedTo, v.movedTo);
  if (v.warnings != 0) {
    cell.clear();
    const char* separator = "";
    forEachWarning(view.names, v.warnings, [&](std::string_view name) {
      cell += separator;
      report::appendTextEscaped(cell, name);
      separator = ", ";
    });
    appendNote(layout, out, Note::kWarnings, cell);
  }
  if (v.group != kNone) {
    // Each other label a line of its own in the block form; in one line in
    // the wide one.
    std::string shared;
    const auto one = [&](std::uint32_t other) {
      const Verdict& o = view.comparison.verdicts[other];
      const Record& r = view.now.records[o.now];
      std::string_view otherLabel;
      if (!labelOf(view, o, otherLabel)) {
        appendMachine(shared, r);  // unlabelled: known by its machine
      } else {
        report::appendTextEscaped(shared, otherLabel);
        if (r.legacy != now->legacy) {
          shared += " (";
          appendMachine(shared, r);
          shared += ')';
        }
      }
    };
    std::size_t shown = 0;
    const std::size_t total =
        forEachShared(view.comparison, view.now, index, kMaxSharedListed, [&](std::uint32_t other) {
          if (layout.wide && shown != 0) shared += ", ";
          one(other);
          if (!layout.wide) {
            appendNote(layout, out, Note::kSharedWith, shared);
            shared.clear();
          }
          ++shown;
        });
    if (total > kMaxSharedListed) {
      char more[48];
      std::snprintf(more, sizeof more, "%s%zu more", layout.wide ? " and " : "and ",
                    total - kMaxSharedListed);
      shared += more;
    }
    if (!shared.empty()) appendNote(layout, out, Note::kSharedWith, shared);
  }
  for (std::uint32_t i : duplicatesOf(view, v)) {
    const Record& r = view.now.records[i];
    char head[32];
    std::snprintf(head, sizeof head, "line %u: ", static_cast<unsigned>(r.line));
    cell = head;
    if (isToken(r)) {
      appendMachineAndTime(cell, r);
    } else {
      cell += "error: ";
      report::appendTextEscaped(cell, recordError(view.now, r));
    }
    if (layout.wide) {
      // As the wide table has always shown it.
      out.append(kWideIndent, ' ');
      out += "also listed at ";
      out += cell;
      out += '\n';
    } else {
      appendNote(layout, out, Note::kAlsoListed, cell);
    }
  }
  // Blocks apart; the wide rows together.
  if (!layout.wide) out += '\n';
}

// The count line, kept to the width but in the wide form.
void textCounts(const FleetView& view, bool wide, std::string& out) {
  const Comparison& c = view.comparison;
  std::string line;
  char text[64];
  std::snprintf(text, sizeof text, "%zu %s", c.verdicts.size(),
                c.verdicts.size() == 1 ? "label" : "labels");
  line += text;
  const char* separator = ": ";
  for (const StatusName& entry : kStatusNames) {
    const std::size_t n = c.counts[static_cast<std::size_t>(entry.status)];
    if (n == 0) continue;
    std::snprintf(text, sizeof text, "%s%zu ", separator, n);
    line += text;
    line += entry.name;
    separator = ", ";
  }
  if (c.withWarnings != 0) {
    std::snprintf(text, sizeof text, "; %zu with warnings", c.withWarnings);
    line += text;
  }
  if (view.badLines != 0) {
    std::snprintf(text, sizeof text, "; %zu %s not records", view.badLines,
                  view.badLines == 1 ? "line" : "lines");
    line += text;
  }
  if (wide)
    out += line;
  else
    appendWrapped(out, kBlockIndent, line);
  out += '\n';
}

}  // namespace

void renderJson(const FleetView& view, Output& out) {
  // One writer per line, each writing straight into the output.
  const auto line = [&](auto write) {
    report::JsonWriter w;
    w.out = std::move(out.text);
    write(w);
    out.text = std::move(w.out);
    out.text += '\n';
  };
  for (std::uint32_t i = 0; i < view.comparison.verdicts.size(); ++i) {
    line([&](report::JsonWriter& w) { jsonVerdict(view, i, w); });
    flushIfFull(out);
  }
  line([&](report::JsonWriter& w) { jsonSummary(view, w); });
}

void renderText(const FleetView& view, bool wide, Output& out) {
  // The wide form's label column: as wide as the widest label, up to this.
  constexpr std::size_t kMaxLabelWidth = 40;
  const Comparison& c = view.comparison;
  TextLayout layout;
  layout.wide = wide;
  if (wide) {
    layout.labelWidth = kWideColumns[1].size();
    for (const Verdict& v : c.verdicts) {
      layout.cell.clear();
      appendLabelCell(view, v, layout.cell);
      layout.labelWidth =
          std::max(layout.labelWidth, std::min(report::textColumns(layout.cell), kMaxLabelWidth));
    }
    if (!c.verdicts.empty()) wideHeader(layout, out.text);
  }
  for (Status status : kTextOrder) {
    if (c.counts[static_cast<std::size_t>(status)] == 0) continue;
    for (std::uint32_t i = 0; i < c.verdicts.size(); ++i) {
      if (c.verdicts[i].status != status) continue;
      textVerdict(view, i, layout, out.text);
      flushIfFull(out);
    }
  }
  if (wide && !c.verdicts.empty()) out.text += '\n';
  textCounts(view, wide, out.text);
}

}  // namespace fleet
