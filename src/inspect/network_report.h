#pragma once
// The report's Network card block: every interface the scan looked at, in
// its order, chosen or passed over and why, and the chosen card's
// addresses; as text and as the JSON `network` member.

#include <string>

#include "inspect/inspect.h"
#include "report/json_writer.h"

namespace inspect {

// "Network card" and its lines, ending with an empty line.
void appendNetworkText(std::string& out, const InspectReport& report, const Stability& stability);

// The value of the `network` member.
void writeNetworkJson(report::JsonWriter& w, const InspectReport& report);

}  // namespace inspect
