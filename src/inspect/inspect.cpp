// The whole report, block by block in the order a person reads it; each
// block's text and JSON live together in its own unit.

#include "inspect/inspect.h"

#include <utility>

#include "inspect/environment_report.h"
#include "inspect/firmware_report.h"
#include "inspect/identity_report.h"
#include "inspect/network_report.h"
#include "report/json_writer.h"

namespace inspect {

std::string formatReportText(const InspectReport& r) {
  const Stability stability = reportStability(r);
  std::string out;
  appendEnvironmentText(out, r.environment, r.root);
  appendFirmwareText(out, r, stability);
  appendNetworkText(out, r, stability);
  appendIdentityText(out, r, stability);
  return out;
}

std::string formatReportJson(const InspectReport& r) {
  using namespace report;
  const Stability stability = reportStability(r);
  JsonWriter w;
  jsonBeginObject(w);
  jsonKey(w, "uuid");
  writeFirmwareJson(w, r);
  jsonKey(w, "network");
  writeNetworkJson(w, r);
  writeIdentityJson(w, r);
  jsonKey(w, "environment");
  writeEnvironmentJson(w, r.environment);
  jsonKey(w, "stability");
  writeStabilityJson(w, stability, r.environment);
  jsonEndObject(w);
  w.out += '\n';
  return std::move(w.out);
}

}  // namespace inspect
