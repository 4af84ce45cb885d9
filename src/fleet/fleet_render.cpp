#include "fleet/fleet_render.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "fleet/fleet_internal.h"
#include "report/utc_text.h"
#include "report/enum_names.h"
#include "report/escape.h"
#include "report/json_writer.h"

namespace fleet {
namespace {

constexpr std::array<report::EnumName<Status>, kStatusCount> kStatusNames = {{
    {Status::kSame, "same", "same"},
    {Status::kNew, "new", "new"},
    {Status::kGone, "gone", "gone"},
    {Status::kCardChanged, "card-changed", "card changed"},
    {Status::kUuidChanged, "uuid-changed", "UUID changed"},
    {Status::kUuidByteOrder, "uuid-byte-order", "UUID byte order"},
    {Status::kReplaced, "replaced", "replaced"},
    {Status::kFailed, "failed", "failed"},
}};

// The text table's groups, those that need a look first.
constexpr std::array<Status, kStatusCount> kTextOrder = {
    Status::kFailed, Status::kReplaced,      Status::kUuidChanged, Status::kCardChanged,
    Status::kUuidByteOrder, Status::kNew, Status::kGone,        Status::kSame,
};

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

std::string utcText(std::uint32_t seconds) {
  std::string text(report::kUtcTextSize, '\0');
  report::writeUtc(text.data(), seconds);
  return text;
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
    r = oldRecord(view, v);
    c = &view.old;
  }
  if ((r->flags & kFlagLabelled) == 0) return false;
  label = recordKey(*c, *r);
  return true;
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
  std::string_view label;
  if (labelOf(view, v, label))
    report::jsonString(w, label);
  else
    report::jsonNull(w);
  report::jsonKey(w, "status");
  report::jsonString(w, statusName(v.status));
  jsonMachine(w, now, "machine", "time");
  jsonMachine(w, old, "previous_machine", "previous_time");
  if (now != nullptr && !isToken(*now)) {
    report::jsonKey(w, "error");
    report::jsonString(w, recordError(view.now, *now));
    report::jsonKey(w, "input");
    report::jsonString(w, recordInput(view.now, *now));
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
          std::string_view otherLabel;
          if (labelOf(view, o, otherLabel))
            report::jsonString(w, otherLabel);
          else
            report::jsonNull(w);
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
  if (now != nullptr && now->next != kNone) {
    report::jsonKey(w, "duplicates");
    report::jsonBeginArray(w);
    for (std::uint32_t i : otherRecords(view.now, v)) {
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
  for (const auto& name : kStatusNames) {
    report::jsonKey(w, name.id);
    report::jsonInt(w, static_cast<std::int64_t>(c.counts[static_cast<std::size_t>(name.value)]));
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

// Columns count characters, not bytes: the escaped text is valid UTF-8.
std::size_t displayWidth(std::string_view text) {
  std::size_t width = 0;
  for (char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++width;
  return width;
}

void pad(std::string& out, std::size_t width, std::size_t to) {
  if (width < to) out.append(to - width, ' ');
}

constexpr std::size_t kStatusWidth = 15;  // "uuid-byte-order"
constexpr std::size_t kMaxLabelWidth = 40;

struct TextTable {
  std::size_t labelWidth = 5;  // "LABEL"
  std::string cell;
};

void appendLabelCell(const FleetView& view, const Verdict& v, std::string& out) {
  std::string_view label;
  if (labelOf(view, v, label))
    report::appendTextEscaped(out, label);
  else
    out += '-';
}

// A machine and its token's time, or a dash in each; the last cell of a
// row is not padded.
void textMachineCells(std::string& out, const Record* r, bool last) {
  if (r != nullptr && isToken(*r)) {
    appendMachine(out, *r);
    out += "  ";
    const std::size_t at = out.size();
    out.resize(at + report::kUtcTextSize);
    report::writeUtc(out.data() + at, r->time);
    return;
  }
  out += '-';
  pad(out, 1, kMachineTextSize);
  out += "  -";
  if (!last) pad(out, 1, report::kUtcTextSize);
}

void textVerdict(const FleetView& view, std::uint32_t index, TextTable& table, std::string& out) {
  const Verdict& v = view.comparison.verdicts[index];
  const Record* now = nowRecord(view, v);
  const Record* old = oldRecord(view, v);
  const std::string_view status = statusName(v.status);
  out += status;
  pad(out, status.size(), kStatusWidth);
  out += "  ";
  table.cell.clear();
  appendLabelCell(view, v, table.cell);
  out += table.cell;
  pad(out, displayWidth(table.cell), table.labelWidth);
  out += "  ";
  textMachineCells(out, now, false);
  out += "  ";
  textMachineCells(out, old, true);
  out += '\n';
  const std::string indent(2 + kStatusWidth, ' ');
  if (now != nullptr && !isToken(*now)) {
    out += indent;
    out += "error: ";
    report::appendTextEscaped(out, recordError(view.now, *now));
    out += " (input: ";
    report::appendTextEscaped(out, recordInput(view.now, *now));
    out += ")\n";
  }
  if (v.warnings != 0) {
    out += indent;
    out += "warnings:";
    const char* separator = " ";
    forEachWarning(view.names, v.warnings, [&](std::string_view name) {
      out += separator;
      report::appendTextEscaped(out, name);
      separator = ", ";
    });
    out += '\n';
  }
  if (v.group != kNone) {
    out += indent;
    out += "shared with:";
    const char* separator = " ";
    const std::size_t total =
        forEachShared(view.comparison, view.now, index, kMaxSharedListed, [&](std::uint32_t other) {
          const Verdict& o = view.comparison.verdicts[other];
          out += separator;
          separator = ", ";
          const Record& r = view.now.records[o.now];
          std::string_view otherLabel;
          if (!labelOf(view, o, otherLabel)) {
            appendMachine(out, r);  // unlabelled: known by its machine
            return;
          }
          report::appendTextEscaped(out, otherLabel);
          if (r.legacy != now->legacy) {
            out += " (";
            appendMachine(out, r);
            out += ')';
          }
        });
    if (total > kMaxSharedListed) {
      char more[48];
      std::snprintf(more, sizeof more, " and %zu more", total - kMaxSharedListed);
      out += more;
    }
    out += '\n';
  }
  if (now != nullptr && v.nowHead != kNone && view.now.records[v.nowHead].next != kNone) {
    for (std::uint32_t i : otherRecords(view.now, v)) {
      const Record& r = view.now.records[i];
      char head[48];
      std::snprintf(head, sizeof head, "also listed at line %u: ", static_cast<unsigned>(r.line));
      out += indent;
      out += head;
      if (isToken(r)) {
        appendMachine(out, r);
        out += "  ";
        out += utcText(r.time);
      } else {
        out += "error: ";
        report::appendTextEscaped(out, recordError(view.now, r));
      }
      out += '\n';
    }
  }
}

void textCounts(const FleetView& view, std::string& out) {
  const Comparison& c = view.comparison;
  char text[64];
  std::snprintf(text, sizeof text, "%zu %s", c.verdicts.size(),
                c.verdicts.size() == 1 ? "label" : "labels");
  out += text;
  const char* separator = ": ";
  for (const auto& name : kStatusNames) {
    const std::size_t n = c.counts[static_cast<std::size_t>(name.value)];
    if (n == 0) continue;
    std::snprintf(text, sizeof text, "%s%zu ", separator, n);
    out += text;
    out += name.id;
    separator = ", ";
  }
  if (c.withWarnings != 0) {
    std::snprintf(text, sizeof text, "; %zu with warnings", c.withWarnings);
    out += text;
  }
  if (view.badLines != 0) {
    std::snprintf(text, sizeof text, "; %zu %s not records", view.badLines,
                  view.badLines == 1 ? "line" : "lines");
    out += text;
  }
  out += '\n';
}

}  // namespace

std::string_view statusName(Status status) { return report::enumId(kStatusNames, status); }

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

void renderText(const FleetView& view, Output& out) {
  const Comparison& c = view.comparison;
  TextTable table;
  for (const Verdict& v : c.verdicts) {
    table.cell.clear();
    appendLabelCell(view, v, table.cell);
    table.labelWidth = std::max(table.labelWidth, std::min(displayWidth(table.cell), kMaxLabelWidth));
  }
  if (!c.verdicts.empty()) {
    out.text += "STATUS";
    pad(out.text, 6, kStatusWidth);
    out.text += "  LABEL";
    pad(out.text, 5, table.labelWidth);
    out.text += "  MACHINE";
    pad(out.text, 7, kMachineTextSize);
    out.text += "  TIME";
    pad(out.text, 4, report::kUtcTextSize);
    out.text += "  PREVIOUS MACHINE";
    pad(out.text, 16, kMachineTextSize);
    out.text += "  PREVIOUS TIME\n";
  }
  for (Status status : kTextOrder) {
    if (c.counts[static_cast<std::size_t>(status)] == 0) continue;
    for (std::uint32_t i = 0; i < c.verdicts.size(); ++i) {
      if (c.verdicts[i].status != status) continue;
      textVerdict(view, i, table, out.text);
      flushIfFull(out);
    }
  }
  if (!c.verdicts.empty()) out.text += '\n';
  textCounts(view, out.text);
}

}  // namespace fleet
