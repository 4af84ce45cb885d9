#include "inspect/identity_report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "inspect/environment_report.h"
#include "report/escape.h"
#include "report/wrap.h"
#include "token/token_text.h"

namespace inspect {

using probes::AttemptOutcome;

namespace {

// Paragraphs of the block: two spaces in, wrapped.
void appendParagraph(std::string& out, const std::string& text) {
  report::appendWrapped(out, "  ", text);
}

// The legacy identifier's two halves.
std::string tokenPart(const InspectReport& r) {
  return std::string(r.legacy.data(),
                     std::min<std::size_t>(std::strlen(r.legacy.data()), kTokenLegacySize));
}

std::string cpuPart(const InspectReport& r) {
  const std::size_t length = std::strlen(r.legacy.data());
  return length > kTokenLegacySize ? std::string(r.legacy.data() + kTokenLegacySize) : "";
}

// Whether a source refused this user.
bool permissionDenied(const InspectReport& r) {
  for (std::size_t i = 0; i < r.uuidSeen.count; ++i)
    if (r.uuidSeen.attempts[i].outcome == AttemptOutcome::kPermissionDenied) return true;
  return false;
}

void appendLegacyText(std::string& out, const InspectReport& r) {
  const probes::LegacyIdObservation& l = r.legacySeen;
  if (r.legacyLength != probes::kLegacySystemIdLength) {
    out += "  Legacy ID:    " + report::escapeText(r.legacy.data()) +
           " (the stand-in when no card address can be read; orlim makes no token with it)\n";
    return;
  }
  char bytes[32];
  std::snprintf(bytes, sizeof bytes, "%02x %02x %02x %02x", l.address[2], l.address[3],
                l.address[4], l.address[5]);
  out += "  Legacy ID:    " + std::string(r.legacy.data()) + "\n";
  out += "    " + tokenPart(r) + ": address bytes 2 to 5 (" + bytes +
         ") plus 12, 03, 06 and 02;\n              these 8 characters go into the token\n";
  out += "    " + cpuPart(r) + ": low 32 bits of the CPU signature (" +
         probes::cpuSignatureDescription() + ");\n              not in the token\n";
}

void appendTokenText(std::string& out, const InspectReport& r) {
  TokenFields fields;
  if (tokenWouldBeMade(r, fields)) {
    out += "  A token made now would carry (orlim-decode shows the same, with a time):\n";
    out += "    version " + std::to_string(fields.version) + ", UUID " + formatUuid(fields.uuid) +
           ", legacy " + formatLegacy(fields) + "\n";
  } else if (!r.root) {
    // Only what a source said: a user may see every source missing, and
    // then nothing was denied.
    appendParagraph(out, permissionDenied(r)
                             ? "No token: orlim needs root, and this user could not read every "
                               "source (\"permission denied\" above). Run orlim-inspect as root "
                               "to see what orlim sees."
                             : "No token: orlim needs root, and this user is not root. Run "
                               "orlim-inspect as root to see what orlim sees.");
  } else {
    appendParagraph(out,
                    "No token: orlim would print none here (orlim -v says \"Failure "
                    "reading system ID (" +
                        std::to_string(r.uuidResult) + "/" + std::to_string(r.legacyLength) +
                        ")\").");
  }
}

// What would change the parts that were read; nothing when none was.
void appendChangesText(std::string& out, const InspectReport& r, const Stability& s) {
  const probes::LegacyIdObservation& l = r.legacySeen;
  const bool uuidRead = r.uuidResult == 0;
  std::string changes;
  if (uuidRead) {
    switch (s.uuid) {
      case UuidStability::kHypervisor:
        changes = "a new UUID in the VM's definition (a re-created VM gets one)";
        break;
      case UuidStability::kContainerHost:
        changes =
            "a firmware update or board change on the host that rewrites its SMBIOS "
            "system UUID";
        break;
      default:
        changes = "a firmware update or board change that rewrites the SMBIOS system UUID";
        break;
    }
  }
  if (l.cardFound) {
    if (!changes.empty()) changes += "; ";
    changes += "replacing the card " + report::escapeText(l.card.data()) + " or renaming it";
    if (l.source == probes::AddressSource::kCurrent)
      changes += ", or setting another address on it";
    if (l.source == probes::AddressSource::kIpv4) changes += ", or giving it another IPv4 address";
    changes +=
        "; adding a card that the naming rules rank earlier (\"ath\" names, then \"eth\" "
        "names, then byte order)";
  } else if (uuidRead) {
    changes += "; adding a network card";
  }
  if (changes.empty()) return;
  out += "\n";
  appendParagraph(out, (uuidRead ? "What would change this identity: "
                                 : "No UUID was read; what would change the card's part: ") +
                           changes +
                           ". A new processor changes only the part that is not in the token.");
}

}  // namespace

void appendIdentityText(std::string& out, const InspectReport& r, const Stability& s) {
  out += "Identity\n";
  appendLegacyText(out, r);
  appendTokenText(out, r);
  appendChangesText(out, r, s);
  out += "\n";
  appendOverallStabilityText(out, s, r.environment);
}

void writeIdentityJson(report::JsonWriter& w, const InspectReport& r) {
  using namespace report;
  jsonKey(w, "legacy");
  jsonString(w, r.legacy.data());
  // The eight hex digits the legacy identifier ends with.
  char signature[16];
  std::snprintf(signature, sizeof signature, "%08X",
                static_cast<unsigned>(static_cast<std::uint32_t>(r.legacySeen.signature)));
  jsonKey(w, "cpu_signature");
  jsonString(w, signature);
  jsonKey(w, "cpu_signature_kind");
  jsonString(w, probes::cpuSignatureId());
  jsonKey(w, "root");
  jsonBool(w, r.root);
  jsonKey(w, "token_fields");
  TokenFields fields;
  if (tokenWouldBeMade(r, fields))
    jsonRaw(w, formatIdentityJson(fields));
  else
    jsonNull(w);
}

}  // namespace inspect
