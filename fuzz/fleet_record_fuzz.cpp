// orlim-fleet's record reader: every line read by the fast path for the
// decoder's own layout and by the general reader alone, which must agree
// byte for byte (the same record, or the same error at the same place).
// The whole input then goes through a comparison, its first half as the
// previous collection, and both renderers.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fleet/fleet_compare.h"
#include "fleet/fleet_internal.h"
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

void readLines(std::string_view input, fleet::Collection& c, fleet::WarningNames& names) {
  fleet::ParsedRecord fast;
  fleet::ParsedRecord general;
  std::string scratchFast;
  std::string scratchGeneral;
  std::uint32_t number = 0;
  while (!input.empty()) {
    const std::size_t end = input.find('\n');
    const std::string_view line = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    ++number;
    fleet::RecordError fastError;
    fleet::RecordError generalError;
    const bool fastOk = fleet::parseRecord(line, fast, scratchFast, fastError);
    const bool generalOk =
        fleet::internal::parseRecordGenerally(line, general, scratchGeneral, generalError);
    if (fastOk != generalOk) fail("the two readers disagree on a line");
    if (!fastOk) {
      if (fastError.position != generalError.position ||
          std::string_view(fastError.message.data()) != std::string_view(generalError.message.data()))
        fail("the two readers report different errors");
      if (fastError.position > line.size() + 1) fail("an error placed past the line");
      continue;
    }
    if (!same(fast, general)) fail("the two readers read different records");
    if (fast.hasLabel && fast.label.empty()) fail("an empty label accepted");
    fleet::addRecord(c, fast, number, names);
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
