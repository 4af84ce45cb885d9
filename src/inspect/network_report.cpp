#include "inspect/network_report.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "common/enum_names.h"
#include "inspect/environment_report.h"
#include "report/escape.h"
#include "report/wrap.h"

namespace inspect {


namespace {

constexpr std::array<EnumName<probes::AddressSource>, 3> kAddressSourceNames{{
    // The card's word for it: whether a maker or software gave it is the
    // stability line's to say.
    {probes::AddressSource::kPermanent, "permanent", "the address the card reports as permanent"},
    {probes::AddressSource::kCurrent, "current", "its current address"},
    {probes::AddressSource::kIpv4, "ipv4", "its first IPv4 address"},
}};
static_assert(enumIdsWellFormed(kAddressSourceNames));

// Where an interface stands in the scan.
enum class Placement : std::uint8_t { kChosen, kPassedOver };
constexpr std::array<EnumName<Placement>, 2> kPlacementNames{{
    {Placement::kChosen, "chosen", "chosen"},
    {Placement::kPassedOver, "passed-over", "passed over"},
}};
static_assert(enumIdsWellFormed(kPlacementNames));
static_assert(enumTableComplete(kPlacementNames, Placement::kPassedOver));

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
static_assert(enumIdsWellFormed(kReasonNames));
static_assert(enumTableComplete(kReasonNames, Reason::kCard));

struct Place {
  Placement placement;
  Reason reason;
};

// The directory's own entries are in the listing but are no interfaces.
bool isDirectoryEntry(const probes::ScannedInterface& seen) {
  return std::strcmp(seen.name.data(), ".") == 0 || std::strcmp(seen.name.data(), "..") == 0;
}

// The chosen card's line in the scan, matched by the name the scan handed on.
bool isChosen(const probes::LegacyIdObservation& l, const probes::ScannedInterface& seen) {
  return l.cardFound && std::strncmp(seen.name.data(), l.card.data(), l.card.size() - 1) == 0;
}

// Where the scan's own finding puts an interface; chosenSeen carries over
// the list, as only the first line of the chosen name is the chosen one.
Place placeInterface(const probes::LegacyIdObservation& l, const probes::ScannedInterface& seen,
                     bool& chosenSeen) {
  if (!chosenSeen && isChosen(l, seen)) {
    chosenSeen = true;
    return {Placement::kChosen,
            seen.kind == probes::InterfaceKind::kCard ? Reason::kFirstCard : Reason::kStandIn};
  }
  switch (seen.kind) {
    case probes::InterfaceKind::kFilteredOut:
      switch (seen.filter) {
        case probes::NameFilter::kLoopback:
          return {Placement::kPassedOver, Reason::kLoopback};
        case probes::NameFilter::kHidden:
          return {Placement::kPassedOver, Reason::kHidden};
        case probes::NameFilter::kDummy:
          return {Placement::kPassedOver, Reason::kDummy};
        case probes::NameFilter::kPasses:
          break;
      }
      return {Placement::kPassedOver, Reason::kFiltered};
    case probes::InterfaceKind::kNoAddress:
      return {Placement::kPassedOver, Reason::kNoAddress};
    case probes::InterfaceKind::kNoDevice:
      return {Placement::kPassedOver, Reason::kNoDevice};
    case probes::InterfaceKind::kCard:
      break;
  }
  return {Placement::kPassedOver, l.cardFound ? Reason::kRankedAfter : Reason::kCard};
}

// The reason as a person reads it: the chosen card named where it ranks
// another after it.
std::string reasonText(const probes::LegacyIdObservation& l, Reason reason) {
  if (reason != Reason::kRankedAfter) return std::string(enumPhrase(kReasonNames, reason));
  std::string text = "ranked after ";
  report::appendTextEscaped(text, l.card.data());
  return text + " by the naming rules";
}

std::string macText(const std::array<std::uint8_t, probes::kMacAddressSize>& a) {
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", a[0], a[1], a[2], a[3], a[4],
                a[5]);
  return text;
}

void jsonMacOrNull(report::JsonWriter& w, bool present,
                   const std::array<std::uint8_t, probes::kMacAddressSize>& a) {
  report::jsonStringIf(w, present, macText(a));
}

void appendInterfaceList(std::string& out, const probes::LegacyIdObservation& l) {
  if (!l.scan.listed) {
    out += std::string("  The interface list ") + probes::kClassNetRoot + " could not be read";
    if (l.scan.error != 0) out += std::string(" (") + std::strerror(l.scan.error) + ")";
    out += ".\n";
    return;
  }
  out += "  Interfaces, in the order the scan considers them:\n";
  bool chosenSeen = false;
  for (const probes::ScannedInterface& seen : l.scan.scanned()) {
    if (isDirectoryEntry(seen)) continue;
    const Place p = placeInterface(l, seen, chosenSeen);
    report::appendWrapped(out, "    ",
                          report::escapeText(seen.name.data()) + ": " +
                              std::string(enumPhrase(kPlacementNames, p.placement)) + " (" +
                              reasonText(l, p.reason) + ")",
                          2);
  }
  if (l.scan.dropped > 0)
    out += "    (" + std::to_string(l.scan.dropped) +
           " more interfaces not listed: no memory to keep them)\n";
}

void appendAddressText(std::string& out, const probes::LegacyIdObservation& l) {
  switch (l.source) {
    case probes::AddressSource::kPermanent:
      out += "  Address:      " + macText(l.address) + ", ";
      out += enumPhrase(kAddressSourceNames, l.source);
      out += "\n";
      if (l.currentFound)
        out += "  Current:      " + macText(l.current) +
               (l.current == l.permanent ? ", the same\n"
                                         : ", differs from the permanent one (not used)\n");
      break;
    case probes::AddressSource::kCurrent:
      out += "  Address:      " + macText(l.address) + ", ";
      out += enumPhrase(kAddressSourceNames, l.source);
      out += " (the card gives no permanent one)\n";
      break;
    case probes::AddressSource::kIpv4:
      out += "  Address:      ";
      out += enumPhrase(kAddressSourceNames, l.source);
      out += " (no hardware address answered), in bytes 2 to 5\n";
      break;
    case probes::AddressSource::kNone:
      out += "  Address:      none could be read (no hardware address and no IPv4 address)\n";
      break;
  }
}

}  // namespace

void appendNetworkText(std::string& out, const InspectReport& r, const Stability& stability) {
  const probes::LegacyIdObservation& l = r.legacySeen;
  out += "Network card\n";
  appendInterfaceList(out, l);
  if (!l.cardFound) {
    out += "  Chosen card:  none\n\n";
    return;
  }
  out += "  Chosen card:  " + report::escapeText(l.card.data()) + "\n";
  appendAddressText(out, l);
  appendCardStabilityText(out, stability);
  out += "\n";
}

void writeNetworkJson(report::JsonWriter& w, const InspectReport& r) {
  using namespace report;
  const probes::LegacyIdObservation& l = r.legacySeen;
  jsonBeginObject(w);
  jsonKey(w, "card");
  jsonStringOrNull(w, l.cardFound ? l.card.data() : nullptr);
  jsonKey(w, "address_source");
  jsonStringIf(w, l.source != probes::AddressSource::kNone, enumId(kAddressSourceNames, l.source));
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
  for (const probes::ScannedInterface& seen : l.scan.scanned()) {
    if (isDirectoryEntry(seen)) continue;
    const Place p = placeInterface(l, seen, chosenSeen);
    jsonBeginObject(w);
    jsonKey(w, "name");
    jsonString(w, seen.name.data());
    // "verdict" is the key scripts read; its values are the placements.
    jsonKey(w, "verdict");
    jsonString(w, enumId(kPlacementNames, p.placement));
    jsonKey(w, "reason");
    jsonString(w, reasonText(l, p.reason));
    jsonKey(w, "reason_id");
    jsonString(w, enumId(kReasonNames, p.reason));
    jsonEndObject(w);
  }
  jsonEndArray(w);
  // Only memory running out leaves interfaces out; they are counted.
  jsonKey(w, "interfaces_not_listed");
  jsonInt(w, static_cast<std::int64_t>(l.scan.dropped));
  jsonEndObject(w);
}

}  // namespace inspect
