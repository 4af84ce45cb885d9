#pragma once
// orlim-fleet --registry FILE COMMAND: a collection recorded into the
// registry (compared with each label's last known record there, its
// verdicts printed as the plain comparison prints them), and what the
// registry holds looked at: its collections, one label's history, one
// collection given back as the decoder's JSON Lines.

#include <string_view>

#include "fleet/fleet.h"

namespace fleet {

enum class RegistryVerb { kRecord, kHistory, kCollections, kExport, kReport };

// The verb a command word names; false for none.
bool registryVerb(std::string_view word, RegistryVerb& verb);

struct RegistryCommand {
  const char* registry = nullptr;  // the file
  RegistryVerb verb = RegistryVerb::kCollections;
  const char* operand = nullptr;   // history: the label; export: the collection (latest if null)
  const char* name = nullptr;      // record: the collection's name (the time recorded if null)
  const char* html = nullptr;      // report: the page to write
};

// Runs the command; now is record's input. Returns the exit status: for
// record the comparison's (0, or 1 when anything needs a look), for the
// others 0; 1 when history knows no record of the label or output could
// not be written; 2 when the registry could not be opened or used
// (nothing recorded then) or export's collection is not there.
int runRegistryCommand(const FleetOptions& options, const RegistryCommand& command,
                       const FleetSource* now, const FleetIo& io);

}  // namespace fleet
