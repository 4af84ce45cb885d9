// orlim-fleet's record reader: every line read twice, with a scratch
// already used and a fresh one, which must agree byte for byte (the same
// record, or the same error), a record's views all inside the line or the
// scratch. The whole input then goes through a comparison, its first half
// as the previous collection, and both renderers.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fleet/fleet_compare.h"
#include "fleet/fleet_record.h"
#include "fleet/fleet_render.h"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "fleet_record: %s\n", what);
  std::abort();
}

bool same(const fleet::ParsedRecord& a, const fleet::ParsedRecord& b) {
  if (a.kind != b.kind || a.hasLabel != b.hasLabel || a.label != b.label) return false;
  if (a.kind == fleet::RecordKind::kError) return a.input == b.input && a.error == b.error;
  if (a.time != b.time || a.uuid != b.uuid || a.legacy != b.legacy) return false;
  if (a.warningCount != b.warningCount) return false;
  for (std::size_t i = 0; i < a.warningCount; ++i)
    if (a.warnings[i] != b.warnings[i]) return false;
  return true;
}

// Whether a view the reader gave lies in the line or in the scratch.
bool inside(std::string_view view, std::string_view line, const std::string& scratch) {
  const auto within = [&](const char* begin, std::size_t size) {
    return view.empty() || (view.data() >= begin && view.data() + view.size() <= begin + size);
  };
  return within(line.data(), line.size()) || within(scratch.data(), scratch.size());
}

void readLines(std::string_view input, fleet::Collection& c, fleet::WarningNames& names) {
  fleet::ParsedRecord record;
  fleet::ParsedRecord again;
  std::string scratch;
  std::uint32_t number = 0;
  while (!input.empty()) {
    const std::size_t end = input.find('\n');
    const std::string_view line = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    ++number;
    fleet::RecordError error;
    fleet::RecordError againError;
    std::string freshScratch;
    const bool againOk = fleet::parseRecord(line, again, freshScratch, againError);
    const bool ok = fleet::parseRecord(line, record, scratch, error);
    if (ok != againOk) fail("the reader gave two answers for one line");
    if (!ok) {
      if (error.position != againError.position ||
          std::string_view(error.message.data()) != std::string_view(againError.message.data()))
        fail("the reader reported two errors for one line");
      if (error.position > line.size() + 1) fail("an error placed past the line");
      continue;
    }
    if (!same(record, again)) fail("the reader read two records from one line");
    if (record.hasLabel && record.label.empty()) fail("an empty label accepted");
    bool views = inside(record.label, line, scratch) && inside(record.input, line, scratch) &&
                 inside(record.error, line, scratch);
    for (std::size_t i = 0; i < record.warningCount; ++i) views = views && inside(record.warnings[i], line, scratch);
    if (!views) fail("a view outside the line and the scratch");
    fleet::addRecord(c, record, number, names);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t half = input.find('\n', input.size() / 2);
  if (half == std::string_view::npos) half = input.size();
  // The first half two previous collections, split at a line in its middle.
  std::size_t quarter = input.substr(0, half).find('\n', half / 2);
  if (quarter == std::string_view::npos) quarter = half;
  fleet::WarningNames names;
  fleet::Previous old;
  fleet::Collection now;
  fleet::beginCollection(old, "first");
  readLines(input.substr(0, quarter), old.records, names);
  fleet::beginCollection(old, "second");
  readLines(input.substr(quarter, half - quarter), old.records, names);
  readLines(input.substr(half), now, names);
  const fleet::Comparison comparison = fleet::compare(now, old);
  std::size_t counted = 0;
  for (std::size_t n : comparison.counts) counted += n;
  if (counted != comparison.verdicts.size()) fail("verdicts miscounted");
  const fleet::FleetView view{now, old.records, old, comparison, names, 0};
  fleet::Output json;
  fleet::renderJson(view, json);
  fleet::Output text;
  fleet::renderText(view, false, text);
  fleet::Output wide;
  fleet::renderText(view, true, wide);
  if (json.text.empty() || json.text.back() != '\n') fail("JSON output not ended");
  return 0;
}
