#include "inspect/inspect.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>
#include <cstring>

#include "report/enum_names.h"
#include "report/escape.h"
#include "report/json_writer.h"
#include "token/token_text.h"

namespace {

using report::enumId;
using report::EnumName;
using report::enumPhrase;
using smbios::AttemptOutcome;
using smbios::EntryPointKind;
using smbios::UuidAttempt;
using smbios::UuidSource;

// --- Names, shared by both forms ------------------------------------------------

// JSON identifier and the text's title of each source.
constexpr std::array<EnumName<UuidSource>, 4> kSourceNames{{
    {UuidSource::kSysfs, "sysfs", "sysfs entry point"},
    {UuidSource::kEfi, "efi", "EFI system table"},
    {UuidSource::kMemoryScan, "memory-scan", "memory scan"},
    {UuidSource::kProductUuid, "product-uuid", "kernel product UUID"},
}};
static_assert(report::enumIdsWellFormed(kSourceNames));

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
static_assert(report::enumIdsWellFormed(kOutcomeNames));

constexpr std::array<EnumName<AddressSource>, 3> kAddressSourceNames{{
    {AddressSource::kPermanent, "permanent", "its permanent (factory) address"},
    {AddressSource::kCurrent, "current", "its current address"},
    {AddressSource::kIpv4, "ipv4", "its first IPv4 address"},
}};
static_assert(report::enumIdsWellFormed(kAddressSourceNames));

// What the report makes of an interface, and why.
enum class Verdict : std::uint8_t { kChosen, kPassedOver };
constexpr std::array<EnumName<Verdict>, 2> kVerdictNames{{
    {Verdict::kChosen, "chosen", "chosen"},
    {Verdict::kPassedOver, "passed-over", "passed over"},
}};
static_assert(report::enumIdsWellFormed(kVerdictNames));

enum class Reason : std::uint8_t {
  kFirstCard,
  kStandIn,
  kLoopback,
  kHidden,
  kDummy,
  kFiltered,
  kNoAddress,
  kNoDevice,
  kRankedAfter,
  kCard,
};
constexpr std::array<EnumName<Reason>, 10> kReasonNames{{
    {Reason::kFirstCard, "first-card", "first card with an address and a device"},
    {Reason::kStandIn, "stand-in",
     "no card has a device: first interface with an address stands in"},
    {Reason::kLoopback, "loopback", "loopback (\"lo\" name)"},
    {Reason::kHidden, "hidden", "hidden name (\".\")"},
    {Reason::kDummy, "dummy", "filtered name (\"dummy\")"},
    {Reason::kFiltered, "filtered", "filtered name"},
    {Reason::kNoAddress, "no-address", "no address (no permanent or current hardware address)"},
    {Reason::kNoDevice, "no-device", "no device (virtual interface)"},
    {Reason::kRankedAfter, "ranked-after", "ranked after the chosen card by the naming rules"},
    {Reason::kCard, "card", "card"},
}};
static_assert(report::enumIdsWellFormed(kReasonNames));

// What each outcome means, for the person reading the text.
const char* outcomeExplanation(const UuidAttempt& a) {
  switch (a.outcome) {
    case AttemptOutcome::kNotTried:
      return a.source == UuidSource::kMemoryScan
                 ? (smbios::kHasLegacyBiosArea
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

std::string macText(const std::array<std::uint8_t, kMacAddressSize>& a) {
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", a[0], a[1], a[2], a[3], a[4],
                a[5]);
  return text;
}

// The attempt that gave the UUID, or null.
const UuidAttempt* winningAttempt(const InspectReport& r) {
  if (r.uuidResult != 0) return nullptr;
  for (std::size_t i = r.uuidSeen.count; i-- > 0;)
    if (r.uuidSeen.attempts[i].outcome == AttemptOutcome::kFound) return &r.uuidSeen.attempts[i];
  return nullptr;
}

bool byteOrderSwapped(const UuidAttempt& a) {
  return a.source != UuidSource::kProductUuid && a.located &&
         smbios::uuidFieldsLittleEndian(static_cast<std::uint16_t>(a.location.version >> 8));
}

// The directory's own entries are in the listing but are no interfaces.
bool isDirectoryEntry(const JudgedInterface& seen) {
  return std::strcmp(seen.name.data(), ".") == 0 || std::strcmp(seen.name.data(), "..") == 0;
}

// The chosen card's line in the scan, matched by the name the scan handed on.
bool isChosen(const InspectReport& r, const JudgedInterface& seen) {
  const LegacyIdObservation& l = r.legacySeen;
  return l.cardFound && std::strncmp(seen.name.data(), l.card.data(), l.card.size() - 1) == 0;
}

struct Judgement {
  Verdict verdict;
  Reason reason;
};

Judgement judge(const InspectReport& r, const JudgedInterface& seen, bool& chosenSeen) {
  const LegacyIdObservation& l = r.legacySeen;
  if (!chosenSeen && isChosen(r, seen)) {
    chosenSeen = true;
    return {Verdict::kChosen,
            seen.verdict == InterfaceVerdict::kCard ? Reason::kFirstCard : Reason::kStandIn};
  }
  switch (seen.verdict) {
    case InterfaceVerdict::kFilteredOut:
      switch (seen.filter) {
        case NameFilter::kLoopback:
          return {Verdict::kPassedOver, Reason::kLoopback};
        case NameFilter::kHidden:
          return {Verdict::kPassedOver, Reason::kHidden};
        case NameFilter::kDummy:
          return {Verdict::kPassedOver, Reason::kDummy};
        case NameFilter::kPasses:
          break;
      }
      return {Verdict::kPassedOver, Reason::kFiltered};
    case InterfaceVerdict::kNoAddress:
      return {Verdict::kPassedOver, Reason::kNoAddress};
    case InterfaceVerdict::kNoDevice:
      return {Verdict::kPassedOver, Reason::kNoDevice};
    case InterfaceVerdict::kCard:
      break;
  }
  return {Verdict::kPassedOver, l.cardFound ? Reason::kRankedAfter : Reason::kCard};
}

// The reason as the text shows it: the chosen card named where it ranks
// another after it.
std::string reasonText(const InspectReport& r, Reason reason) {
  if (reason != Reason::kRankedAfter) return std::string(enumPhrase(kReasonNames, reason));
  std::string text = "ranked after ";
  report::appendTextEscaped(text, r.legacySeen.card.data());
  return text + " by the naming rules";
}

// A name, label or path read from the system, made safe for a terminal.
std::string shown(const char* text) { return report::escapeText(text != nullptr ? text : ""); }

// The legacy identifier's two halves.
std::string tokenPart(const InspectReport& r) {
  return std::string(r.legacy.data(),
                     std::min<std::size_t>(std::strlen(r.legacy.data()), kTokenLegacySize));
}

std::string cpuPart(const InspectReport& r) {
  const std::size_t length = std::strlen(r.legacy.data());
  return length > kTokenLegacySize ? std::string(r.legacy.data() + kTokenLegacySize) : "";
}

}  // namespace

void gatherReport(InspectReport& report, const InspectSources& sources) {
  report.root = geteuid() == 0;
  report.uuidResult = smbios::readSystemUUID(report.uuid, sources.smbios, &report.uuidSeen);
  // The report says what went wrong; the probes' own messages would only
  // repeat it out of place.
  LegacyIdAccess legacy = sources.legacy;
  legacy.printMessages = false;
  legacy.scan.printMessages = false;
  report.legacyLength = snprintLegacySystemId(
      report.legacy.data(), static_cast<int>(report.legacy.size()), legacy, &report.legacySeen);
}

bool tokenWouldBeMade(const InspectReport& r, TokenFields& fields) {
  // The same test orlim makes before it seals a record.
  if (!r.root || r.uuidResult != 0 || r.legacyLength != kLegacySystemIdLength) return false;
  fields = TokenFields{};
  fields.version = kTokenRecordVersion;
  fields.uuid = r.uuid;
  std::memcpy(fields.legacy.data(), r.legacy.data(), kTokenLegacySize);
  return true;
}

// --- Text ---------------------------------------------------------------------

namespace {

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
    out += " [" + shown(a.path) + "]";
  out += "\n";
}

void appendUuidBlock(std::string& out, const InspectReport& r) {
  out += "Firmware UUID\n";
  const UuidAttempt* found = winningAttempt(r);
  if (r.uuidResult == 0)
    out += "  UUID:         " + formatUuid(r.uuid) + " (result 0)\n";
  else
    out += "  UUID:         none (result " + std::to_string(r.uuidResult) + ")\n";

  if (found != nullptr) {
    out += "  Source:       ";
    switch (found->source) {
      case UuidSource::kSysfs:
        out += "the kernel's copy of the SMBIOS tables in sysfs";
        break;
      case UuidSource::kEfi:
        out += std::string("the EFI system table's SMBIOS line,\n                entry point at ") +
               hex(found->address) + " of " + shown(found->path);
        break;
      case UuidSource::kMemoryScan:
        out += std::string("a scan of the legacy BIOS window,\n                anchor at ") +
               hex(found->address) + " of " + shown(found->path);
        break;
      case UuidSource::kProductUuid:
        out += "the kernel's product UUID text,\n                " + shown(found->path);
        break;
    }
    out += "\n";
    if (found->located) {
      const smbios::TableLocation& l = found->location;
      out += std::string("  Entry point:  ") + entryPointName(l.kind) + ", SMBIOS " +
             versionText(l.kind, l.version);
      if (l.declaredVersion != l.version)
        out += " (the entry point says " + versionText(l.kind, l.declaredVersion) +
               ", a known firmware slip, read as " + versionText(l.kind, l.version) + ")";
      out += "\n";
      if ((l.flags & smbios::kTableInFile) != 0)
        out += "  Table:        " + std::to_string(l.length) + " bytes in the file\n";
      else
        out += "  Table:        " + std::to_string(l.length) + " bytes at " + hex(l.address) + "\n";
    }
    if (found->walked && found->walk.systemInformationSeen) {
      char handle[8];
      std::snprintf(handle, sizeof handle, "0x%04x", found->walk.handle);
      out += "  Type 1:       structure " + std::to_string(found->walk.index) +
             " (counting from 0), handle " + handle + ", " + std::to_string(found->walk.length) +
             " bytes\n";
    }
    if (found->source == UuidSource::kProductUuid)
      out += "  Byte order:   as the kernel printed the text\n";
    else if (byteOrderSwapped(*found))
      out +=
          "  Byte order:   first three fields turned around (SMBIOS 2.6 and later\n"
          "                store them little-endian)\n";
    else
      out +=
          "  Byte order:   as stored (before SMBIOS 2.6 the UUID is taken byte for\n"
          "                byte)\n";
  }

  std::size_t shown = 0;
  for (std::size_t i = 0; i < r.uuidSeen.count; ++i) {
    const UuidAttempt& a = r.uuidSeen.attempts[i];
    if (&a == found) break;
    if (shown++ == 0) out += found != nullptr ? "  Tried before:\n" : "  Tried:\n";
    appendAttemptLine(out, a);
  }
  if (r.uuidSeen.dropped > 0)
    out += "    (" + std::to_string(r.uuidSeen.dropped) + " more entry points not listed)\n";
  out += "\n";
}

void appendNetworkBlock(std::string& out, const InspectReport& r) {
  const LegacyIdObservation& l = r.legacySeen;
  out += "Network card\n";
  if (!l.scan.listed) {
    out += std::string("  The interface list ") + kClassNetRoot + " could not be read";
    if (l.scan.error != 0) out += std::string(" (") + std::strerror(l.scan.error) + ")";
    out += ".\n";
  } else {
    out += "  Interfaces, in the order the scan considers them:\n";
    bool chosenSeen = false;
    for (const JudgedInterface& seen : l.scan.judged()) {
      if (isDirectoryEntry(seen)) continue;
      const Judgement j = judge(r, seen, chosenSeen);
      out += "    " + shown(seen.name.data()) + ": ";
      out += enumPhrase(kVerdictNames, j.verdict);
      out += " (" + reasonText(r, j.reason) + ")\n";
    }
    if (l.scan.dropped > 0)
      out += "    (" + std::to_string(l.scan.dropped) +
             " more interfaces not listed: no memory to keep them)\n";
  }
  if (!l.cardFound) {
    out += "  Chosen card:  none\n\n";
    return;
  }
  out += "  Chosen card:  " + shown(l.card.data()) + "\n";
  switch (l.source) {
    case AddressSource::kPermanent:
      out += "  Address:      " + macText(l.address) + ", ";
      out += enumPhrase(kAddressSourceNames, l.source);
      out += "\n";
      if (l.currentFound)
        out += "  Current:      " + macText(l.current) +
               (l.current == l.permanent ? ", the same\n"
                                         : ", differs from the permanent one (not used)\n");
      break;
    case AddressSource::kCurrent:
      out += "  Address:      " + macText(l.address) + ", ";
      out += enumPhrase(kAddressSourceNames, l.source);
      out += " (the card gives no permanent one)\n";
      break;
    case AddressSource::kIpv4:
      out += "  Address:      ";
      out += enumPhrase(kAddressSourceNames, l.source);
      out += " (no hardware address answered), in bytes 2 to 5\n";
      break;
    case AddressSource::kNone:
      out += "  Address:      none could be read (no hardware address and no IPv4 address)\n";
      break;
  }
  out += "\n";
}

// Appends text as lines of at most 78 columns, each indented by two spaces.
void appendWrapped(std::string& out, const std::string& text) {
  constexpr std::size_t kWidth = 76;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.size();
    if (end - start > kWidth) {
      end = text.rfind(' ', start + kWidth);
      if (end == std::string::npos || end <= start) end = std::min(text.size(), start + kWidth);
    }
    out += "  " + text.substr(start, end - start) + "\n";
    start = end;
    while (start < text.size() && text[start] == ' ') ++start;
  }
}

// Whether a source refused this user.
bool permissionDenied(const InspectReport& r) {
  for (std::size_t i = 0; i < r.uuidSeen.count; ++i)
    if (r.uuidSeen.attempts[i].outcome == AttemptOutcome::kPermissionDenied) return true;
  return false;
}

void appendIdentityBlock(std::string& out, const InspectReport& r) {
  const LegacyIdObservation& l = r.legacySeen;
  out += "Identity\n";
  if (r.legacyLength == kLegacySystemIdLength) {
    char bytes[32];
    std::snprintf(bytes, sizeof bytes, "%02x %02x %02x %02x", l.address[2], l.address[3],
                  l.address[4], l.address[5]);
    out += "  Legacy ID:    " + std::string(r.legacy.data()) + "\n";
    out += "    " + tokenPart(r) + ": address bytes 2 to 5 (" + bytes +
           ") plus 12, 03, 06 and 02;\n              these 8 characters go into the token\n";
    out += "    " + cpuPart(r) +
           ": low 32 bits of the CPU signature (" + cpuSignatureDescription() +
           ");\n              not in the token\n";
  } else {
    out += "  Legacy ID:    " + shown(r.legacy.data()) +
           " (the stand-in when no card address can be read; orlim makes no token with it)\n";
  }
  TokenFields fields;
  if (tokenWouldBeMade(r, fields)) {
    out += "  A token made now would carry (orlim-decode shows the same, with a time):\n";
    out += "    version " + std::to_string(fields.version) + ", UUID " + formatUuid(fields.uuid) +
           ", legacy " + formatLegacy(fields) + "\n";
  } else if (!r.root) {
    // Only what a source said: a user may see every source missing, and
    // then nothing was denied.
    appendWrapped(out, permissionDenied(r)
                           ? "No token: orlim needs root, and this user could not read every "
                             "source (\"permission denied\" above). Run orlim-inspect as root "
                             "to see what orlim sees."
                           : "No token: orlim needs root, and this user is not root. Run "
                             "orlim-inspect as root to see what orlim sees.");
  } else {
    appendWrapped(out,
                  "No token: orlim would print none here (orlim -v says \"Failure reading "
                  "system ID (" +
                      std::to_string(r.uuidResult) + "/" + std::to_string(r.legacyLength) +
                      ")\").");
  }
  std::string change = "What would change this identity: ";
  change += "a firmware update or board change that rewrites the SMBIOS system UUID";
  if (l.cardFound) {
    change += "; replacing the card " + shown(l.card.data()) + " or renaming it";
    if (l.source == AddressSource::kCurrent) change += ", or setting another address on it";
    if (l.source == AddressSource::kIpv4) change += ", or giving it another IPv4 address";
    change +=
        "; adding a card that the naming rules rank earlier (\"ath\" names, then \"eth\" "
        "names, then byte order)";
  } else {
    change += "; adding a network card";
  }
  change += ". A new processor changes only the part that is not in the token.";
  out += "\n";
  appendWrapped(out, change);
}

}  // namespace

std::string formatReportText(const InspectReport& r) {
  std::string out;
  appendUuidBlock(out, r);
  appendNetworkBlock(out, r);
  appendIdentityBlock(out, r);
  return out;
}

// --- JSON ---------------------------------------------------------------------

namespace {

using report::JsonWriter;

void jsonHexOrNull(JsonWriter& w, bool present, std::uint64_t value) {
  if (present)
    report::jsonString(w, hex(value));
  else
    report::jsonNull(w);
}

void writeUuidJson(JsonWriter& w, const InspectReport& r) {
  using namespace report;
  const UuidAttempt* found = winningAttempt(r);
  jsonBeginObject(w);
  jsonKey(w, "value");
  if (r.uuidResult == 0)
    jsonString(w, formatUuid(r.uuid));
  else
    jsonNull(w);
  jsonKey(w, "result");
  jsonInt(w, r.uuidResult);
  jsonKey(w, "source");
  if (found != nullptr)
    jsonString(w, enumId(kSourceNames, found->source));
  else
    jsonNull(w);
  jsonKey(w, "smbios_version");
  if (found != nullptr && found->located)
    jsonString(w, versionText(found->location.kind, found->location.version));
  else
    jsonNull(w);
  if (found != nullptr && found->located) {
    const smbios::TableLocation& l = found->location;
    jsonKey(w, "entry_point");
    jsonBeginObject(w);
    jsonKey(w, "type");
    jsonString(w, entryPointName(l.kind));
    jsonKey(w, "address");
    jsonHexOrNull(w, found->hasAddress, found->address);
    jsonKey(w, "stated_version");
    jsonString(w, versionText(l.kind, l.declaredVersion));
    jsonEndObject(w);
    jsonKey(w, "table");
    jsonBeginObject(w);
    jsonKey(w, "address");
    jsonHexOrNull(w, (l.flags & smbios::kTableInFile) == 0, l.address);
    jsonKey(w, "length");
    jsonInt(w, l.length);
    jsonEndObject(w);
    if (found->walked && found->walk.systemInformationSeen) {
      jsonKey(w, "structure");
      jsonBeginObject(w);
      jsonKey(w, "index");
      jsonInt(w, found->walk.index);
      jsonKey(w, "handle");
      jsonInt(w, found->walk.handle);
      jsonKey(w, "length");
      jsonInt(w, found->walk.length);
      jsonEndObject(w);
    }
  }
  jsonKey(w, "byte_order");
  if (found == nullptr)
    jsonNull(w);
  else if (found->source == UuidSource::kProductUuid)
    jsonString(w, "text");
  else
    jsonString(w, byteOrderSwapped(*found) ? "swapped" : "as-stored");
  jsonKey(w, "attempts");
  jsonBeginArray(w);
  for (std::size_t i = 0; i < r.uuidSeen.count; ++i) {
    const UuidAttempt& a = r.uuidSeen.attempts[i];
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
  jsonEndArray(w);
  // The record keeps a bounded number of attempts (a crafted memory window
  // may hold thousands of entry points): those past it are counted.
  jsonKey(w, "attempts_not_listed");
  jsonInt(w, static_cast<std::int64_t>(r.uuidSeen.dropped));
  jsonEndObject(w);
}

void jsonMacOrNull(JsonWriter& w, bool present, const std::array<std::uint8_t, kMacAddressSize>& a) {
  if (present)
    report::jsonString(w, macText(a));
  else
    report::jsonNull(w);
}

void writeNetworkJson(JsonWriter& w, const InspectReport& r) {
  using namespace report;
  const LegacyIdObservation& l = r.legacySeen;
  jsonBeginObject(w);
  jsonKey(w, "card");
  jsonStringOrNull(w, l.cardFound ? l.card.data() : nullptr);
  jsonKey(w, "address_source");
  if (l.source == AddressSource::kNone)
    jsonNull(w);
  else
    jsonString(w, enumId(kAddressSourceNames, l.source));
  jsonKey(w, "permanent_address");
  jsonMacOrNull(w, l.permanentFound, l.permanent);
  jsonKey(w, "current_address");
  jsonMacOrNull(w, l.currentFound, l.current);
  jsonKey(w, "addresses_differ");
  if (l.permanentFound && l.currentFound)
    jsonBool(w, l.permanent != l.current);
  else
    jsonNull(w);
  jsonKey(w, "listed");
  jsonBool(w, l.scan.listed);
  jsonKey(w, "interfaces");
  jsonBeginArray(w);
  bool chosenSeen = false;
  for (const JudgedInterface& seen : l.scan.judged()) {
    if (isDirectoryEntry(seen)) continue;
    const Judgement j = judge(r, seen, chosenSeen);
    jsonBeginObject(w);
    jsonKey(w, "name");
    jsonString(w, seen.name.data());
    jsonKey(w, "verdict");
    jsonString(w, enumId(kVerdictNames, j.verdict));
    jsonKey(w, "reason");
    jsonString(w, reasonText(r, j.reason));
    jsonKey(w, "reason_id");
    jsonString(w, enumId(kReasonNames, j.reason));
    jsonEndObject(w);
  }
  jsonEndArray(w);
  // Only memory running out leaves interfaces out; they are counted.
  jsonKey(w, "interfaces_not_listed");
  jsonInt(w, static_cast<std::int64_t>(l.scan.dropped));
  jsonEndObject(w);
}

}  // namespace

std::string formatReportJson(const InspectReport& r) {
  using namespace report;
  JsonWriter w;
  jsonBeginObject(w);
  jsonKey(w, "uuid");
  writeUuidJson(w, r);
  jsonKey(w, "network");
  writeNetworkJson(w, r);
  jsonKey(w, "legacy");
  jsonString(w, r.legacy.data());
  // The eight hex digits the legacy identifier ends with.
  char signature[16];
  std::snprintf(signature, sizeof signature, "%08X",
                static_cast<unsigned>(static_cast<std::uint32_t>(r.legacySeen.signature)));
  jsonKey(w, "cpu_signature");
  jsonString(w, signature);
  jsonKey(w, "cpu_signature_kind");
  jsonString(w, cpuSignatureId());
  jsonKey(w, "root");
  jsonBool(w, r.root);
  jsonKey(w, "token_fields");
  TokenFields fields;
  if (tokenWouldBeMade(r, fields))
    jsonRaw(w, formatIdentityJson(fields));
  else
    jsonNull(w);
  jsonEndObject(w);
  w.out += '\n';
  return std::move(w.out);
}
