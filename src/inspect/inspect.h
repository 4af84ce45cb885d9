#pragma once
// orlim-inspect's report: the probes orlim runs, run once more with their
// observers, and what they saw as text for a person or as one JSON object.

#include <array>
#include <cstdint>
#include <string>

#include "inspect/stability.h"
#include "probes/environment.h"
#include "probes/legacy_id_watched.h"
#include "probes/smbios_watched.h"
#include "token/token.h"

namespace inspect {

struct InspectReport {
  bool root = false;  // orlim runs only for root; others get no token
  std::array<std::uint8_t, kTokenUuidSize> uuid{};
  int uuidResult = -2;
  probes::UuidObservation uuidSeen;
  std::array<char, probes::kLegacySystemIdLength + 1> legacy{};
  int legacyLength = 0;
  probes::LegacyIdObservation legacySeen;
  probes::EnvironmentFindings environment;
};

// What an inspection reads: the paths and kernel access of the probes, the
// fixed ones unless a test says otherwise.
struct InspectSources {
  probes::SmbiosPaths smbios;
  probes::LegacyIdAccess legacy;
  probes::EnvironmentAccess environment;
};

// Runs both probes, each once, as orlim does: the UUID first, then the
// legacy identifier; then asks where it runs (which orlim never does).
void gatherReport(InspectReport& report, const InspectSources& sources = InspectSources{});

// Whether orlim, run now by root, would print a token; then fields holds
// what that token would carry (its time aside).
bool tokenWouldBeMade(const InspectReport& report, TokenFields& fields);

// How long each part of the identity lasts where it was read.
Stability reportStability(const InspectReport& report);

// The whole report: text for a person, or one JSON object on one line.
std::string formatReportText(const InspectReport& report);
std::string formatReportJson(const InspectReport& report);

}  // namespace inspect
