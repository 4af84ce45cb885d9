#pragma once
// The report's Firmware UUID block: which source gave the UUID, where its
// table lies, and what every source tried before it said; as text and as
// the JSON `uuid` member.

#include <string>

#include "inspect/inspect.h"
#include "report/json_writer.h"

namespace inspect {

// "Firmware UUID" and its lines, ending with an empty line.
void appendFirmwareText(std::string& out, const InspectReport& report, const Stability& stability);

// The value of the `uuid` member.
void writeFirmwareJson(report::JsonWriter& w, const InspectReport& report);

}  // namespace inspect
