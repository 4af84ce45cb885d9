#pragma once
// A comparison printed: text a person reads on a terminal (a block per
// label, or one wide row per label), grouped by verdict with a count line;
// or JSON, one object per label and a summary object.

#include <cstddef>
#include <string>
#include <string_view>

#include "fleet/fleet_compare.h"

namespace fleet {

// What a renderer reads.
struct FleetView {
  const Collection& now;
  const Collection& old;  // previous.records
  const Previous& previous;
  const Comparison& comparison;
  const WarningNames& names;
  std::size_t badLines = 0;  // lines of either input that were not records
};

// Where a renderer writes: text grows until flush (when set) takes it, at
// about every kOutputBlock bytes; without one, it holds the whole output.
inline constexpr std::size_t kOutputBlock = 1 << 20;
struct Output {
  std::string text;
  void (*flush)(Output& output) = nullptr;
  void* context = nullptr;
};

// The other labels a label's shared_with names at most; the rest counted.
inline constexpr std::size_t kMaxSharedListed = 16;

// The columns the text keeps to, but for --wide: an ordinary terminal's.
inline constexpr std::size_t kTextColumns = 100;

void renderJson(const FleetView& view, Output& out);
// wide: one row per label, as wide as its columns make it.
void renderText(const FleetView& view, bool wide, Output& out);

}  // namespace fleet
