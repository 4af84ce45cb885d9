#include "inspect/stability.h"

#include <string_view>

namespace inspect {

using probes::Container;
using probes::EnvironmentFindings;
using probes::Hypervisor;

const char* hypervisorPrefixOwner(std::span<const std::uint8_t, probes::kMacAddressSize> address) {
  static constexpr struct {
    std::uint8_t prefix[3];
    const char* owner;
  } kPrefixes[] = {
      {{0x52, 0x54, 0x00}, "QEMU/KVM"},
      {{0x00, 0x50, 0x56}, "VMware"},
      {{0x00, 0x0c, 0x29}, "VMware"},
      {{0x00, 0x05, 0x69}, "VMware"},
      {{0x00, 0x1c, 0x14}, "VMware"},
      {{0x00, 0x15, 0x5d}, "Hyper-V"},
      {{0x00, 0x03, 0xff}, "Microsoft Virtual PC"},
      {{0x08, 0x00, 0x27}, "VirtualBox"},
      {{0x0a, 0x00, 0x27}, "VirtualBox"},
      {{0x00, 0x16, 0x3e}, "Xen"},
      {{0x00, 0x1c, 0x42}, "Parallels"},
      {{0x58, 0x9c, 0xfc}, "bhyve"},
      {{0x02, 0x42, 0xac}, "Docker"},
  };
  for (const auto& row : kPrefixes)
    if (address[0] == row.prefix[0] && address[1] == row.prefix[1] && address[2] == row.prefix[2])
      return row.owner;
  return nullptr;
}

namespace {

// Drivers of interfaces that software makes, with addresses software gives.
bool virtualDriver(const char* driver) {
  static constexpr std::string_view kDrivers[] = {"veth",   "tun",   "bridge",    "macvlan",
                                                  "ipvlan", "vxlan", "geneve",    "dummy",
                                                  "ifb",    "vrf",   "wireguard", "macsec"};
  for (std::string_view d : kDrivers)
    if (d == driver) return true;
  return false;
}

CardStability cardLifetime(const EnvironmentFindings& env, const probes::LegacyIdObservation& l,
                           const char*& owner) {
  if (!l.cardFound || l.source == probes::AddressSource::kNone) return CardStability::kNone;
  const probes::InterfaceDetails& d = l.details;
  if (d.virtualFunction) return CardStability::kVirtualFunction;
  const bool inContainer = env.container != Container::kNone;
  // The driver answers from the container's own network; sysfs may be the
  // host's (mounted in), and then shows the host's card of that name.
  const bool madeBySoftware = virtualDriver(d.driver.data()) || !d.hasDevice;
  // Inside a container the runtime makes the interface (a veth end) and
  // its address anew at every start, whatever address it is.
  if (inContainer && madeBySoftware) return CardStability::kContainerVirtual;
  if (l.source == probes::AddressSource::kIpv4) return CardStability::kIpv4;
  if ((owner = hypervisorPrefixOwner(l.address)) != nullptr)
    return CardStability::kHypervisorPrefix;
  if (l.source == probes::AddressSource::kCurrent &&
      d.addressAssignType == probes::kAddressAssignRandom)
    return CardStability::kRandomAddress;
  if (locallyAdministered(l.address)) return CardStability::kLocallyAdministered;
  if (madeBySoftware) return CardStability::kVirtualInterface;
  if (l.source == probes::AddressSource::kCurrent) return CardStability::kCurrentOnly;
  return CardStability::kPermanent;
}

}  // namespace

Stability assessStability(const EnvironmentFindings& env, bool uuidFound,
                          const probes::LegacyIdObservation& legacy, bool tokenMade) {
  Stability s;
  const bool inContainer = env.container != Container::kNone;
  const bool inVm = env.hypervisor != Hypervisor::kNone;
  if (!uuidFound)
    s.uuid = UuidStability::kNone;
  else if (inContainer)
    s.uuid = UuidStability::kContainerHost;
  else if (inVm)
    s.uuid = UuidStability::kHypervisor;
  else if (env.kind == probes::EnvironmentKind::kUnknown)
    s.uuid = UuidStability::kUnknownEnvironment;
  else
    s.uuid = UuidStability::kFirmware;
  s.card = cardLifetime(env, legacy, s.prefixOwner);

  if (!tokenMade) {
    s.overall = OverallStability::kNoToken;
    return s;
  }
  switch (s.card) {
    case CardStability::kContainerVirtual:
    case CardStability::kRandomAddress:
      s.overall = OverallStability::kChangesOnRestart;
      return s;
    case CardStability::kIpv4:
      // A container's IPv4 address is handed out at each start too.
      s.overall = inContainer ? OverallStability::kChangesOnRestart
                              : OverallStability::kStableWhileConfigured;
      return s;
    default:
      break;
  }
  if (inVm) {
    s.overall = OverallStability::kStableWhileTheVmExists;
  } else if (s.card == CardStability::kPermanent) {
    s.overall = OverallStability::kStable;
  } else {
    s.overall = OverallStability::kStableWhileConfigured;
  }
  return s;
}

}  // namespace inspect
