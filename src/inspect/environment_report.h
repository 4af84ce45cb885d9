#pragma once
// orlim-inspect's account of where it runs and how long the identity lasts
// there: the Environment block and the stability lines of the text report,
// and the `environment` and `stability` members of the JSON one.

#include <string>

#include "inspect/stability.h"
#include "probes/environment.h"
#include "report/json_writer.h"

namespace inspect {

// "Environment" and its lines, ending with an empty line; root: whether the
// reader was root, which a signal that could not be read is told by.
void appendEnvironmentText(std::string& out, const probes::EnvironmentFindings& environment,
                           bool root);

// One "  Lasts:        ..." line (wrapped) for the UUID, and one for the card.
void appendUuidStabilityText(std::string& out, const Stability& stability);
void appendCardStabilityText(std::string& out, const Stability& stability);

// The overall judgement and what to do about it, for the Identity block.
void appendOverallStabilityText(std::string& out, const Stability& stability,
                                const probes::EnvironmentFindings& environment);

// The values of the `environment` and `stability` members.
void writeEnvironmentJson(report::JsonWriter& w, const probes::EnvironmentFindings& environment);
void writeStabilityJson(report::JsonWriter& w, const Stability& stability,
                        const probes::EnvironmentFindings& environment);

}  // namespace inspect
