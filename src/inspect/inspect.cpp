#include "inspect/inspect.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "inspect/environment_report.h"
#include "token/token_text.h"

namespace {

using smbios::AttemptOutcome;
using smbios::EntryPointKind;
using smbios::UuidAttempt;
using smbios::UuidSource;

// --- Names, shared by both forms ------------------------------------------------

const char* sourceName(UuidSource source) {
  switch (source) {
    case UuidSource::kSysfs:
      return "sysfs";
    case UuidSource::kEfi:
      return "efi";
    case UuidSource::kMemoryScan:
      return "memory-scan";
    case UuidSource::kProductUuid:
      return "product-uuid";
  }
  return "unknown";
}

const char* sourceTitle(UuidSource source) {
  switch (source) {
    case UuidSource::kSysfs:
      return "sysfs entry point";
    case UuidSource::kEfi:
      return "EFI system table";
    case UuidSource::kMemoryScan:
      return "memory scan";
    case UuidSource::kProductUuid:
      return "kernel product UUID";
  }
  return "unknown source";
}

const char* outcomeName(AttemptOutcome outcome) {
  switch (outcome) {
    case AttemptOutcome::kFound:
      return "found";
    case AttemptOutcome::kMissing:
      return "missing";
    case AttemptOutcome::kPermissionDenied:
      return "permission denied";
    case AttemptOutcome::kUnreadable:
      return "read error";
    case AttemptOutcome::kNotTried:
      return "not tried";
    case AttemptOutcome::kNoEntryPoint:
      return "no entry point";
    case AttemptOutcome::kEntryPointInvalid:
      return "entry point checksum or length wrong";
    case AttemptOutcome::kNoSmbiosLine:
      return "no SMBIOS line";
    case AttemptOutcome::kAddressOutOfRange:
      return "address out of range";
    case AttemptOutcome::kNotSmbiosEntryPoint:
      return "not an SMBIOS entry point";
    case AttemptOutcome::kTableUnreadable:
      return "table unreadable";
    case AttemptOutcome::kNoSystemInformation:
      return "no type-1 UUID";
    case AttemptOutcome::kUuidAllZero:
      return "all-zero UUID";
    case AttemptOutcome::kUuidAllFF:
      return "all-FF UUID";
    case AttemptOutcome::kTableMalformed:
      return "malformed table";
    case AttemptOutcome::kWrongTextLength:
      return "not a UUID line";
    case AttemptOutcome::kNotAFileOrDevice:
      return "not a regular file or device";
    case AttemptOutcome::kEmptyOrOutsideImage:
      return "empty or outside the memory image";
    case AttemptOutcome::kOutOfMemory:
      return "out of memory";
    case AttemptOutcome::kTableOverLimit:
      return "table too large";
    case AttemptOutcome::kTableWalkedBefore:
      return "table already walked";
    case AttemptOutcome::kScanLimitReached:
      return "scan byte limit reached";
  }
  return "unknown";
}

// What each outcome means, for the person reading the text.
const char* outcomeExplanation(const UuidAttempt& a) {
  switch (a.outcome) {
    case AttemptOutcome::kNotTried:
      return a.source == UuidSource::kMemoryScan
                 ? "an EFI system table opened, so the legacy window is not searched"
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

const char* addressSourceName(AddressSource source) {
  switch (source) {
    case AddressSource::kPermanent:
      return "permanent";
    case AddressSource::kCurrent:
      return "current";
    case AddressSource::kIpv4:
      return "ipv4";
    case AddressSource::kNone:
      break;
  }
  return nullptr;
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
  const char* verdict;
  std::string reason;
};

Judgement judge(const InspectReport& r, const JudgedInterface& seen, bool& chosenSeen) {
  const LegacyIdObservation& l = r.legacySeen;
  if (!chosenSeen && isChosen(r, seen)) {
    chosenSeen = true;
    return {"chosen", seen.verdict == InterfaceVerdict::kCard
                          ? "first card with an address and a device"
                          : "no card has a device: first interface with an address stands in"};
  }
  switch (seen.verdict) {
    case InterfaceVerdict::kFilteredOut:
      switch (seen.filter) {
        case NameFilter::kLoopback:
          return {"passed over", "loopback (\"lo\" name)"};
        case NameFilter::kHidden:
          return {"passed over", "hidden name (\".\")"};
        case NameFilter::kDummy:
          return {"passed over", "filtered name (\"dummy\")"};
        case NameFilter::kPasses:
          break;
      }
      return {"passed over", "filtered name"};
    case InterfaceVerdict::kNoAddress:
      return {"passed over", "no address (no permanent or current hardware address)"};
    case InterfaceVerdict::kNoDevice:
      return {"passed over", "no device (virtual interface)"};
    case InterfaceVerdict::kCard:
      if (l.cardFound)
        return {"passed over",
                std::string("ranked after ") + l.card.data() + " by the naming rules"};
      return {"passed over", "card"};
  }
  return {"passed over", ""};
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

void appendJsonString(std::string& out, const char* text) {
  if (text == nullptr) {
    out += "null";
    return;
  }
  out += '"';
  out += jsonEscape(text);
  out += '"';
}

void appendJsonString(std::string& out, const std::string& text) {
  appendJsonString(out, text.c_str());
}

}  // namespace

std::string jsonEscape(const char* text) {
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void gatherReport(InspectReport& report, const InspectSources& sources) {
  report.root = geteuid() == 0;
  report.uuidResult = smbios::readSystemUUID(report.uuid, sources.smbios, &report.uuidSeen);
  report.legacyLength =
      snprintLegacySystemId(report.legacy.data(), static_cast<int>(report.legacy.size()),
                            sources.legacy, &report.legacySeen);
  if (report.legacySeen.cardFound)
    describeInterface(report.legacySeen.card.data(), sources.legacy.scan,
                      report.legacySeen.details);
  environment::detectEnvironment(report.environment, sources.environment);
}

Stability judgeReportStability(const InspectReport& r) {
  return judgeStability(r.environment, r.uuidResult == 0, r.legacySeen,
                        r.uuidResult == 0 && r.legacyLength == kLegacySystemIdLength);
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
  out += sourceTitle(a.source);
  if (a.hasAddress) out += " at " + hex(a.address);
  out += ": ";
  out += outcomeName(a.outcome);
  const char* why = outcomeExplanation(a);
  if (*why != '\0') out += std::string(" (") + why + ")";
  if (a.error != 0 && a.outcome != AttemptOutcome::kMissing &&
      a.outcome != AttemptOutcome::kPermissionDenied)
    out += std::string(" (") + std::strerror(a.error) + ")";
  if (a.path != nullptr && a.outcome != AttemptOutcome::kNotTried)
    out += std::string(" [") + a.path + "]";
  out += "\n";
}

void appendUuidBlock(std::string& out, const InspectReport& r) {
  out += "Firmware UUID\n";
  const UuidAttempt* found = winningAttempt(r);
  if (r.uuidResult == 0)
    out += "  UUID:         " + formatUuid(r.uuid) + " (result 0)\n";
  else
    out += "  UUID:         none (result " + std::to_string(r.uuidResult) + ")\n";
  appendUuidStabilityText(out, judgeReportStability(r));

  if (found != nullptr) {
    out += "  Source:       ";
    switch (found->source) {
      case UuidSource::kSysfs:
        out += "the kernel's copy of the SMBIOS tables in sysfs";
        break;
      case UuidSource::kEfi:
        out += std::string("the EFI system table's SMBIOS line,\n                entry point at ") +
               hex(found->address) + " of " + found->path;
        break;
      case UuidSource::kMemoryScan:
        out += std::string("a scan of the legacy BIOS window,\n                anchor at ") +
               hex(found->address) + " of " + found->path;
        break;
      case UuidSource::kProductUuid:
        out += std::string("the kernel's product UUID text,\n                ") + found->path;
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
    for (std::size_t i = 0; i < l.scan.count; ++i) {
      const JudgedInterface& seen = l.scan.interfaces[i];
      if (isDirectoryEntry(seen)) continue;
      const Judgement j = judge(r, seen, chosenSeen);
      out += std::string("    ") + seen.name.data() + ": " + j.verdict + " (" + j.reason + ")\n";
    }
    if (l.scan.dropped > 0)
      out += "    (" + std::to_string(l.scan.dropped) + " more interfaces not listed)\n";
  }
  if (!l.cardFound) {
    out += "  Chosen card:  none\n\n";
    return;
  }
  out += std::string("  Chosen card:  ") + l.card.data() + "\n";
  switch (l.source) {
    case AddressSource::kPermanent:
      out += "  Address:      " + macText(l.address) + ", its permanent (factory) address\n";
      if (l.currentFound)
        out += "  Current:      " + macText(l.current) +
               (l.current == l.permanent ? ", the same\n"
                                         : ", differs from the permanent one (not used)\n");
      break;
    case AddressSource::kCurrent:
      out += "  Address:      " + macText(l.address) +
             ", its current address (the card gives no permanent one)\n";
      break;
    case AddressSource::kIpv4:
      out +=
          "  Address:      its first IPv4 address (no hardware address answered), "
          "in bytes 2 to 5\n";
      break;
    case AddressSource::kNone:
      out += "  Address:      none could be read (no hardware address and no IPv4 address)\n";
      break;
  }
  appendCardStabilityText(out, judgeReportStability(r));
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
           ": low 32 bits of the CPU signature (CPUID leaves 0 to 4);\n"
           "              not in the token\n";
  } else {
    out += "  Legacy ID:    " + std::string(r.legacy.data()) +
           " (the stand-in when no card address can be read; orlim makes no token with it)\n";
  }
  TokenFields fields;
  if (tokenWouldBeMade(r, fields)) {
    out += "  A token made now would carry (orlim-decode shows the same, with a time):\n";
    out += "    version " + std::to_string(fields.version) + ", UUID " + formatUuid(fields.uuid) +
           ", legacy " + formatLegacy(fields) + "\n";
  } else if (!r.root) {
    appendWrapped(out,
                  "No token: orlim needs root, and this user could not read every source "
                  "(\"permission denied\" above). Run orlim-inspect as root to see what "
                  "orlim sees.");
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
    change += std::string("; replacing the card ") + l.card.data() + " or renaming it";
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
  out += "\n";
  appendOverallStabilityText(out, judgeReportStability(r), r.environment);
}

}  // namespace

std::string formatReportText(const InspectReport& r) {
  std::string out;
  appendEnvironmentText(out, r.environment);
  appendUuidBlock(out, r);
  appendNetworkBlock(out, r);
  appendIdentityBlock(out, r);
  return out;
}

// --- JSON ---------------------------------------------------------------------

std::string formatReportJson(const InspectReport& r) {
  std::string out = "{\"uuid\": {\"value\": ";
  const UuidAttempt* found = winningAttempt(r);
  if (r.uuidResult == 0)
    appendJsonString(out, formatUuid(r.uuid));
  else
    out += "null";
  out += ", \"result\": " + std::to_string(r.uuidResult) + ", \"source\": ";
  appendJsonString(out, found != nullptr ? sourceName(found->source) : nullptr);
  out += ", \"smbios_version\": ";
  if (found != nullptr && found->located)
    appendJsonString(out, versionText(found->location.kind, found->location.version));
  else
    out += "null";
  if (found != nullptr && found->located) {
    const smbios::TableLocation& l = found->location;
    out += ", \"entry_point\": {\"type\": ";
    appendJsonString(out, entryPointName(l.kind));
    out += ", \"address\": ";
    if (found->hasAddress)
      appendJsonString(out, hex(found->address));
    else
      out += "null";
    out += ", \"stated_version\": ";
    appendJsonString(out, versionText(l.kind, l.declaredVersion));
    out += "}, \"table\": {\"address\": ";
    if ((l.flags & smbios::kTableInFile) != 0)
      out += "null";
    else
      appendJsonString(out, hex(l.address));
    out += ", \"length\": " + std::to_string(l.length) + "}";
    if (found->walked && found->walk.systemInformationSeen)
      out += ", \"structure\": {\"index\": " + std::to_string(found->walk.index) +
             ", \"handle\": " + std::to_string(found->walk.handle) +
             ", \"length\": " + std::to_string(found->walk.length) + "}";
  }
  out += ", \"byte_order\": ";
  if (found == nullptr)
    out += "null";
  else if (found->source == UuidSource::kProductUuid)
    out += "\"text\"";
  else
    out += byteOrderSwapped(*found) ? "\"swapped\"" : "\"as-stored\"";
  out += ", \"attempts\": [";
  for (std::size_t i = 0; i < r.uuidSeen.count; ++i) {
    const UuidAttempt& a = r.uuidSeen.attempts[i];
    if (i > 0) out += ", ";
    out += "{\"source\": ";
    appendJsonString(out, sourceName(a.source));
    out += ", \"outcome\": ";
    appendJsonString(out, outcomeName(a.outcome));
    out += ", \"path\": ";
    appendJsonString(out, a.path);
    if (a.hasAddress) {
      out += ", \"address\": ";
      appendJsonString(out, hex(a.address));
    }
    if (a.error != 0) {
      out += ", \"error\": ";
      appendJsonString(out, std::strerror(a.error));
    }
    out += "}";
  }
  out += "]}";

  const LegacyIdObservation& l = r.legacySeen;
  out += ", \"network\": {\"card\": ";
  appendJsonString(out, l.cardFound ? l.card.data() : nullptr);
  out += ", \"address_source\": ";
  appendJsonString(out, addressSourceName(l.source));
  out += ", \"permanent_address\": ";
  appendJsonString(out, l.permanentFound ? macText(l.permanent).c_str() : nullptr);
  out += ", \"current_address\": ";
  appendJsonString(out, l.currentFound ? macText(l.current).c_str() : nullptr);
  out += ", \"addresses_differ\": ";
  out +=
      l.permanentFound && l.currentFound ? (l.permanent != l.current ? "true" : "false") : "null";
  out += ", \"listed\": ";
  out += l.scan.listed ? "true" : "false";
  out += ", \"interfaces\": [";
  bool chosenSeen = false;
  bool firstInterface = true;
  for (std::size_t i = 0; i < l.scan.count; ++i) {
    const JudgedInterface& seen = l.scan.interfaces[i];
    if (isDirectoryEntry(seen)) continue;
    const Judgement j = judge(r, seen, chosenSeen);
    if (!firstInterface) out += ", ";
    firstInterface = false;
    out += "{\"name\": ";
    appendJsonString(out, seen.name.data());
    out += ", \"verdict\": ";
    appendJsonString(out, j.verdict);
    out += ", \"reason\": ";
    appendJsonString(out, j.reason);
    out += "}";
  }
  out += "]}, \"legacy\": ";
  appendJsonString(out, r.legacy.data());
  char signature[24];
  std::snprintf(signature, sizeof signature, "%lld", static_cast<long long>(l.signature));
  out += ", \"cpu_signature\": ";
  out += signature;
  out += ", \"root\": ";
  out += r.root ? "true" : "false";
  out += ", \"token_fields\": ";
  TokenFields fields;
  out += tokenWouldBeMade(r, fields) ? formatIdentityJson(fields) : "null";
  report::JsonWriter environment;
  writeEnvironmentJson(environment, r.environment);
  report::JsonWriter stability;
  writeStabilityJson(stability, judgeReportStability(r), r.environment);
  out += ", \"environment\": " + environment.out + ", \"stability\": " + stability.out;
  out += "}\n";
  return out;
}
