// Gathering: the probes orlim runs, each once and in its order, with their
// observers attached; and the two questions every report block asks of
// what they saw.

#include <unistd.h>

#include <cstring>

#include "inspect/inspect.h"

namespace inspect {

void gatherReport(InspectReport& report, const InspectSources& sources) {
  report.root = ::geteuid() == 0;
  report.uuidResult = probes::readSystemUUID(report.uuid, sources.smbios, &report.uuidSeen);
  // The report says what went wrong; the probes' own messages would only
  // repeat it out of place.
  probes::LegacyIdAccess legacy = sources.legacy;
  legacy.printMessages = false;
  legacy.scan.printMessages = false;
  report.legacyLength = probes::snprintLegacySystemId(
      report.legacy.data(), static_cast<int>(report.legacy.size()), legacy, &report.legacySeen);
  if (report.legacySeen.cardFound)
    probes::describeInterface(report.legacySeen.card.data(), sources.legacy.scan,
                              report.legacySeen.details);
  probes::detectEnvironment(report.environment, sources.environment);
}

Stability reportStability(const InspectReport& r) {
  return assessStability(r.environment, r.uuidResult == 0, r.legacySeen,
                         r.uuidResult == 0 && r.legacyLength == probes::kLegacySystemIdLength);
}

bool tokenWouldBeMade(const InspectReport& r, TokenFields& fields) {
  // The same test orlim makes before it seals a record.
  if (!r.root || r.uuidResult != 0 || r.legacyLength != probes::kLegacySystemIdLength) return false;
  fields = TokenFields{};
  fields.version = kTokenRecordVersion;
  fields.uuid = r.uuid;
  std::memcpy(fields.legacy.data(), r.legacy.data(), kTokenLegacySize);
  return true;
}

}  // namespace inspect
