#pragma once
// The report's Identity block: the legacy identifier and its two halves,
// what a token made now would carry or why none would be made, what would
// change the identity, and how long it lasts; as text, and as the JSON
// report's top-level members that carry the same.

#include <string>

#include "inspect/inspect.h"
#include "report/json_writer.h"

namespace inspect {

// "Identity" and its lines.
void appendIdentityText(std::string& out, const InspectReport& report, const Stability& stability);

// The members `legacy`, `cpu_signature`, `cpu_signature_kind`, `root` and
// `token_fields`, into the object open in w.
void writeIdentityJson(report::JsonWriter& w, const InspectReport& report);

}  // namespace inspect
