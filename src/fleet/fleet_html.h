#pragma once
// A fleet's registry as one HTML page for the people who read a renewal away
// from a terminal: how the verdicts moved from collection to collection, as
// stacked bars with their numbers, and the labels of the latest collection
// that need a look, each with its history.
//
// The page stands alone: no request leaves it (its Content-Security-Policy
// forbids any), its style and its one small script are inline, and it reads
// the same with scripts off (the script only adds a filter box). Every
// string from a machine or a file goes through report's HTML escaping.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fleet/fleet_compare.h"
#include "fleet/fleet_render.h"

namespace fleet {

struct HtmlCollection {
  std::string name;
  std::uint32_t time = 0;  // when it was recorded, seconds since 1970
  std::array<std::size_t, kStatusCount> counts{};  // by Status
};

// A label in one collection: its verdict there and the machine it had
// (empty for a failure or when it was not listed).
struct HtmlCell {
  bool listed = false;
  Status status = Status::kSame;
  std::string machine;
};

struct HtmlLabel {
  std::string label;
  Status status = Status::kSame;       // in the latest collection
  std::vector<std::string> warnings;   // their identifiers
  std::vector<HtmlCell> history;       // one per collection, oldest first
  std::string movedFrom;               // the label its machine had before, if it moved
  std::string movedTo;                 // the label its machine has now, if it moved
  std::vector<std::string> sharedWith; // labels with its machine or UUID
  std::size_t sharedMore = 0;          // further ones, not named
};

struct HtmlReport {
  std::string registry;    // as the user named it
  std::uint32_t madeAt = 0;
  std::vector<HtmlCollection> collections;  // oldest first
  std::vector<HtmlLabel> needsLook;         // at most kHtmlMaxListed
  std::size_t needsLookTotal = 0;           // listed or not
  std::string fullListCommand;              // the command that gives them all
};

// The "needs a look" list stops here (the rest are counted), so that a
// page about a fleet of a million stays a few megabytes.
inline constexpr std::size_t kHtmlMaxListed = 1000;

// Writes the page into out, flushing it as the text renderers do.
void renderHtml(const HtmlReport& report, Output& out);

}  // namespace fleet
