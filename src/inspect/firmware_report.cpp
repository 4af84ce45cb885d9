#include "inspect/firmware_report.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "common/enum_names.h"
#include "inspect/environment_report.h"
#include "report/escape.h"
#include "token/token_text.h"

namespace inspect {

using probes::AttemptOutcome;
using probes::EntryPointKind;
using probes::UuidAttempt;
using probes::UuidSource;

namespace {

// The JSON identifier and the text's title of each source.
constexpr std::array<EnumName<UuidSource>, 4> kSourceNames{{
    {UuidSource::kSysfs, "sysfs", "sysfs entry point"},
    {UuidSource::kEfi, "efi", "EFI system table"},
    {UuidSource::kMemoryScan, "memory-scan", "memory scan"},
    {UuidSource::kProductUuid, "product-uuid", "kernel product UUID"},
}};
static_assert(enumIdsWellFormed(kSourceNames));
static_assert(enumTableComplete(kSourceNames, UuidSource::kProductUuid));

constexpr std::array<EnumName<AttemptOutcome>, 22> kOutcomeNames{{
    {AttemptOutcome::kFound, "found", "found"},
    {AttemptOutcome::kMissing, "missing", "missing"},
    {AttemptOutcome::kPermissionDenied, "permission-denied", "permission denied"},
    {AttemptOutcome::kUnreadable, "read-error", "read error"},
    {AttemptOutcome::kNotTried, "not-tried", "not tried"},
    {AttemptOutcome::kNoEntryPoint, "no-entry-point", "no entry point"},
    {AttemptOutcome::kEntryPointInvalid, "entry-point-invalid",
     "entry point checksum or length wrong"},
    {AttemptOutcome::kNoSmbiosLine, "no-smbios-line", "no SMBIOS line"},
    {AttemptOutcome::kAddressOutOfRange, "address-out-of-range", "address out of range"},
    {AttemptOutcome::kNotSmbiosEntryPoint, "not-smbios-entry-point", "not an SMBIOS entry point"},
    {AttemptOutcome::kTableUnreadable, "table-unreadable", "table unreadable"},
    {AttemptOutcome::kNoSystemInformation, "no-type-1-uuid", "no type-1 UUID"},
    {AttemptOutcome::kUuidAllZero, "uuid-all-zero", "all-zero UUID"},
    {AttemptOutcome::kUuidAllFF, "uuid-all-ff", "all-FF UUID"},
    {AttemptOutcome::kTableMalformed, "table-malformed", "malformed table"},
    {AttemptOutcome::kWrongTextLength, "not-a-uuid-line", "not a UUID line"},
    {AttemptOutcome::kNotAFileOrDevice, "not-a-file-or-device", "not a regular file or device"},
    {AttemptOutcome::kEmptyOrOutsideImage, "empty-or-outside-image",
     "empty or outside the memory image"},
    {AttemptOutcome::kOutOfMemory, "out-of-memory", "out of memory"},
    {AttemptOutcome::kTableOverLimit, "table-too-large", "table too large"},
    {AttemptOutcome::kTableWalkedBefore, "table-already-walked", "table already walked"},
    {AttemptOutcome::kScanLimitReached, "scan-byte-limit-reached", "scan byte limit reached"},
}};
static_assert(enumIdsWellFormed(kOutcomeNames));
static_assert(enumTableComplete(kOutcomeNames, AttemptOutcome::kScanLimitReached));

// What an outcome means, for the person reading the text; empty where the
// phrase says it all.
const char* outcomeExplanation(const UuidAttempt& a) {
  switch (a.outcome) {
    case AttemptOutcome::kNotTried:
      return a.source == UuidSource::kMemoryScan
                 ? (probes::kHasLegacyBiosArea
                        ? "an EFI system table opened, so the legacy window is not searched"
                        : "this architecture has no legacy BIOS window")
                 : "";
    case AttemptOutcome::kNoEntryPoint:
      return "no \"_SM3_\", \"_SM_\" or \"_DMI_\" anchor";
    case AttemptOutcome::kNoSmbiosLine:
      return "no SMBIOS3= or SMBIOS= line";
    case AttemptOutcome::kNotSmbiosEntryPoint:
      return "the address holds neither \"_SM3_\" nor \"_SM_\"";
    case AttemptOutcome::kNoSystemInformation:
      return "no system information (type 1) structure long enough to hold one";
    case AttemptOutcome::kUuidAllZero:
      return "the firmware left the UUID unset";
    case AttemptOutcome::kUuidAllFF:
      return "the firmware says the UUID is not present";
    case AttemptOutcome::kWrongTextLength:
      return "not 36 characters and a line end";
    case AttemptOutcome::kNotAFileOrDevice:
      return "a FIFO, socket, directory or block device where firmware data belongs";
    case AttemptOutcome::kTableOverLimit:
      return "its entry point states a length over the reader's 16 MiB limit";
    case AttemptOutcome::kTableWalkedBefore:
      return "an earlier entry point led to the same table";
    case AttemptOutcome::kScanLimitReached:
      return "the scan has read all the table bytes it allows";
    default:
      return "";
  }
}

const char* entryPointName(EntryPointKind kind) {
  switch (kind) {
    case EntryPointKind::kSmbios3:
      return "_SM3_";
    case EntryPointKind::kSmbios2:
      return "_SM_";
    case EntryPointKind::kDmi:
      return "_DMI_";
    case EntryPointKind::kNone:
      break;
  }
  return "";
}

// "3.2.0" for SMBIOS 3 (which has a revision byte), "2.8" before.
std::string versionText(EntryPointKind kind, std::uint32_t version) {
  char text[16];
  if (kind == EntryPointKind::kSmbios3)
    std::snprintf(text, sizeof text, "%u.%u.%u", version >> 16, (version >> 8) & 0xFF,
                  version & 0xFF);
  else
    std::snprintf(text, sizeof text, "%u.%u", version >> 16, (version >> 8) & 0xFF);
  return text;
}

std::string hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

// A path as the probe named it, safe for a terminal.
std::string pathText(const char* path) { return report::escapeText(path != nullptr ? path : ""); }

// The attempt that gave the UUID, or null.
const UuidAttempt* winningAttempt(const InspectReport& r) {
  if (r.uuidResult != 0) return nullptr;
  for (std::size_t i = r.uuidSeen.count; i-- > 0;)
    if (r.uuidSeen.attempts[i].outcome == AttemptOutcome::kFound) return &r.uuidSeen.attempts[i];
  return nullptr;
}

bool byteOrderSwapped(const UuidAttempt& a) {
  return a.source != UuidSource::kProductUuid && a.located &&
         probes::uuidFieldsLittleEndian(static_cast<std::uint16_t>(a.location.version >> 8));
}

void appendAttemptLine(std::string& out, const UuidAttempt& a) {
  out += "    ";
  out += enumPhrase(kSourceNames, a.source);
  if (a.hasAddress) out += " at " + hex(a.address);
  out += ": ";
  out += enumPhrase(kOutcomeNames, a.outcome);
  const char* why = outcomeExplanation(a);
  if (*why != '\0') out += std::string(" (") + why + ")";
  if (a.error != 0 && a.outcome != AttemptOutcome::kMissing &&
      a.outcome != AttemptOutcome::kPermissionDenied)
    out += std::string(" (") + std::strerror(a.error) + ")";
  if (a.path != nullptr && a.outcome != AttemptOutcome::kNotTried)
    out += " [" + pathText(a.path) + "]";
  out += "\n";
}

void appendFoundText(std::string& out, const UuidAttempt& found) {
  out += "  Source:       ";
  switch (found.source) {
    case UuidSource::kSysfs:
      out += "the kernel's copy of the SMBIOS tables in sysfs";
      break;
    case UuidSource::kEfi:
      out += "the EFI system table's SMBIOS line,\n                entry point at " +
             hex(found.address) + " of " + pathText(found.path);
      break;
    case UuidSource::kMemoryScan:
      out += "a scan of the legacy BIOS window,\n                anchor at " + hex(found.address) +
             " of " + pathText(found.path);
      break;
    case UuidSource::kProductUuid:
      out += "the kernel's product UUID text,\n                " + pathText(found.path);
      break;
  }
  out += "\n";
  if (found.located) {
    const probes::TableLocation& l = found.location;
    out += std::string("  Entry point:  ") + entryPointName(l.kind) + ", SMBIOS " +
           versionText(l.kind, l.version);
    if (l.declaredVersion != l.version)
      out += " (the entry point says " + versionText(l.kind, l.declaredVersion) +
             ", a known firmware slip, read as " + versionText(l.kind, l.version) + ")";
    out += "\n";
    if ((l.flags & probes::kTableInFile) != 0)
      out += "  Table:        " + std::to_string(l.length) + " bytes in the file\n";
    else
      out += "  Table:        " + std::to_string(l.length) + " bytes at " + hex(l.address) + "\n";
  }
  if (found.walked && found.walk.systemInformationSeen) {
    char handle[8];
    std::snprintf(handle, sizeof handle, "0x%04x", found.walk.handle);
    out += "  Type 1:       structure " + std::to_string(found.walk.index) +
           " (counting from 0), handle " + handle + ", " + std::to_string(found.walk.length) +
           " bytes\n";
  }
  if (found.source == UuidSource::kProductUuid)
    out += "  Byte order:   as the kernel printed the text\n";
  else if (byteOrderSwapped(found))
    out +=
        "  Byte order:   first three fields turned around (SMBIOS 2.6 and later\n"
        "                store them little-endian)\n";
  else
    out +=
        "  Byte order:   as stored (before SMBIOS 2.6 the UUID is taken byte for\n"
        "                byte)\n";
}

void jsonHexOrNull(report::JsonWriter& w, bool present, std::uint64_t value) {
  report::jsonStringIf(w, present, hex(value));
}

void writeLocationJson(report::JsonWriter& w, const UuidAttempt& found) {
  using namespace report;
  const probes::TableLocation& l = found.location;
  jsonKey(w, "entry_point");
  jsonBeginObject(w);
  jsonKey(w, "type");
  jsonString(w, entryPointName(l.kind));
  jsonKey(w, "address");
  jsonHexOrNull(w, found.hasAddress, found.address);
  jsonKey(w, "stated_version");
  jsonString(w, versionText(l.kind, l.declaredVersion));
  jsonEndObject(w);
  jsonKey(w, "table");
  jsonBeginObject(w);
  jsonKey(w, "address");
  jsonHexOrNull(w, (l.flags & probes::kTableInFile) == 0, l.address);
  jsonKey(w, "length");
  jsonInt(w, l.length);
  jsonEndObject(w);
  if (found.walked && found.walk.systemInformationSeen) {
    jsonKey(w, "structure");
    jsonBeginObject(w);
    jsonKey(w, "index");
    jsonInt(w, found.walk.index);
    jsonKey(w, "handle");
    jsonInt(w, found.walk.handle);
    jsonKey(w, "length");
    jsonInt(w, found.walk.length);
    jsonEndObject(w);
  }
}

void writeAttemptJson(report::JsonWriter& w, const UuidAttempt& a) {
  using namespace report;
  jsonBeginObject(w);
  jsonKey(w, "source");
  jsonString(w, enumId(kSourceNames, a.source));
  jsonKey(w, "outcome");
  jsonString(w, enumId(kOutcomeNames, a.outcome));
  jsonKey(w, "path");
  jsonStringOrNull(w, a.path);
  if (a.hasAddress) {
    jsonKey(w, "address");
    jsonString(w, hex(a.address));
  }
  if (a.error != 0) {
    jsonKey(w, "error");
    jsonString(w, std::strerror(a.error));
  }
  jsonEndObject(w);
}

}  // namespace

void appendFirmwareText(std::string& out, const InspectReport& r, const Stability& stability) {
  out += "Firmware UUID\n";
  const UuidAttempt* found = winningAttempt(r);
  if (r.uuidResult == 0)
    out += "  UUID:         " + formatUuid(r.uuid) + " (result 0)\n";
  else
    out += "  UUID:         none (result " + std::to_string(r.uuidResult) + ")\n";
  appendUuidStabilityText(out, stability);
  if (found != nullptr) appendFoundText(out, *found);

  bool headed = false;
  for (std::size_t i = 0; i < r.uuidSeen.count; ++i) {
    const UuidAttempt& a = r.uuidSeen.attempts[i];
    if (&a == found) break;
    if (!headed) out += found != nullptr ? "  Tried before:\n" : "  Tried:\n";
    headed = true;
    appendAttemptLine(out, a);
  }
  if (r.uuidSeen.dropped > 0)
    out += "    (" + std::to_string(r.uuidSeen.dropped) + " more entry points not listed)\n";
  out += "\n";
}

void writeFirmwareJson(report::JsonWriter& w, const InspectReport& r) {
  using namespace report;
  const UuidAttempt* found = winningAttempt(r);
  jsonBeginObject(w);
  jsonKey(w, "value");
  jsonStringIf(w, r.uuidResult == 0, formatUuid(r.uuid));
  jsonKey(w, "result");
  jsonInt(w, r.uuidResult);
  jsonKey(w, "source");
  jsonStringIf(w, found != nullptr, found != nullptr ? enumId(kSourceNames, found->source) : "");
  const bool located = found != nullptr && found->located;
  jsonKey(w, "smbios_version");
  jsonStringIf(w, located,
               located ? versionText(found->location.kind, found->location.version) : "");
  if (located) writeLocationJson(w, *found);
  jsonKey(w, "byte_order");
  if (found == nullptr)
    jsonNull(w);
  else if (found->source == UuidSource::kProductUuid)
    jsonString(w, "text");
  else
    jsonString(w, byteOrderSwapped(*found) ? "swapped" : "as-stored");
  jsonKey(w, "attempts");
  jsonBeginArray(w);
  for (std::size_t i = 0; i < r.uuidSeen.count; ++i) writeAttemptJson(w, r.uuidSeen.attempts[i]);
  jsonEndArray(w);
  // The record keeps a bounded number of attempts (a crafted memory window
  // may hold thousands of entry points): those past it are counted.
  jsonKey(w, "attempts_not_listed");
  jsonInt(w, static_cast<std::int64_t>(r.uuidSeen.dropped));
  jsonEndObject(w);
}

}  // namespace inspect
