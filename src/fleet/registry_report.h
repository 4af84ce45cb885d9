#pragma once
// orlim-fleet --registry FILE report: what the registry holds, gathered for
// the fleet page (fleet_html.h) or given whole as JSON. The counts are the
// registry's own, as collections gives them; the labels that need a look
// are those of the latest collection with a verdict that needs a look or a
// warning, the fleet's warnings (shared machine or UUID, a label listed
// twice) worked out again from that collection's records.

#include <cstddef>
#include <string_view>

#include "fleet/fleet_html.h"
#include "fleet/fleet_registry.h"

namespace fleet {

// Fills report from the registry; at most limit labels are listed in
// report.needsLook (all are counted). registryName is the file as given.
int gatherReport(Registry& registry, std::string_view registryName, std::uint32_t madeAt,
                 std::size_t limit, HtmlReport& report, RegistryError& error);

// Writes the page to the file at path (made or emptied): 0, or -errno.
int writeHtmlFile(const char* path, const HtmlReport& report);

// The labels that need a look, one JSON object a line, then a summary
// object: what the page lists, uncapped.
void appendReportJson(const HtmlReport& report, std::string& out);

}  // namespace fleet
