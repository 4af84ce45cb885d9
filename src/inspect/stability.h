#pragma once
// How long each part of the identity lasts where it is read: a judgement
// over the environment and what the probes saw, for orlim-inspect.

#include <array>
#include <cstdint>
#include <span>

#include "common/enum_names.h"
#include "probes/environment.h"
#include "probes/legacy_id_watched.h"

namespace inspect {

enum class UuidStability : std::uint8_t {
  kNone,                // no UUID was read
  kFirmware,            // the machine's own firmware (bare metal)
  kHypervisor,          // assigned by the hypervisor with the VM
  kContainerHost,       // the host's, seen from a container
  kUnknownEnvironment,  // from firmware, but whose firmware could not be told
};

inline constexpr std::array<EnumName<UuidStability>, 5> kUuidStabilityNames{{
    {UuidStability::kNone, "none", "no UUID was read"},
    {UuidStability::kFirmware, "firmware",
     "the machine's own firmware: changes only with a board or firmware replacement"},
    {UuidStability::kHypervisor, "hypervisor-assigned",
     "assigned by the hypervisor: kept across reboots, new when the VM is re-created, "
     "shared by copies of the VM"},
    {UuidStability::kContainerHost, "host",
     "the host's, seen from inside a container: shared by every container on that host"},
    {UuidStability::kUnknownEnvironment, "firmware-unverified",
     "from the firmware the kernel shows; whether a machine's or a hypervisor's could not be "
     "told"},
}};
static_assert(enumIdsWellFormed(kUuidStabilityNames));
static_assert(enumTableComplete(kUuidStabilityNames, UuidStability::kUnknownEnvironment));

enum class CardStability : std::uint8_t {
  kNone,                 // no card address went into the identity
  kPermanent,            // the card's own permanent address
  kHypervisorPrefix,     // a hypervisor maker's prefix: assigned with the VM
  kLocallyAdministered,  // the locally administered bit: set by software
  kVirtualFunction,      // an SR-IOV virtual function
  kContainerVirtual,     // a veth or other virtual interface inside a container
  kRandomAddress,        // the kernel chose it at random when the interface was made
  kVirtualInterface,     // a bridge, tap or other interface with no device
  kCurrentOnly,          // the card reports no permanent address
  kIpv4,                 // an IPv4 address stands in for the hardware address
};

inline constexpr std::array<EnumName<CardStability>, 10> kCardStabilityNames{{
    {CardStability::kNone, "none", "no card address is in the identity"},
    {CardStability::kPermanent, "permanent",
     "the card's factory address: changes only with the card"},
    {CardStability::kHypervisorPrefix, "hypervisor-prefix",
     "assigned by software: a hypervisor maker's prefix, given with the VM's definition"},
    {CardStability::kLocallyAdministered, "locally-administered",
     "assigned by software (the locally administered bit is set): lasts while whatever sets it "
     "sets the same"},
    {CardStability::kVirtualFunction, "virtual-function",
     "an SR-IOV virtual function: its address comes from the physical function's driver, random "
     "or zero unless an administrator fixes it"},
    {CardStability::kContainerVirtual, "container-interface",
     "a veth or other virtual interface inside a container: random at every container start"},
    {CardStability::kRandomAddress, "random",
     "chosen at random by the kernel when the interface was made: new every time it is made"},
    {CardStability::kVirtualInterface, "virtual-interface",
     "a virtual interface with no device (bridge, tap, ...): its address is set by software"},
    {CardStability::kCurrentOnly, "current-only",
     "the card's current address (it reports no permanent one): software can change it"},
    {CardStability::kIpv4, "ipv4",
     "an IPv4 address stands in for a hardware address: it changes with the network's "
     "configuration"},
}};
static_assert(enumIdsWellFormed(kCardStabilityNames));
static_assert(enumTableComplete(kCardStabilityNames, CardStability::kIpv4));

enum class OverallStability : std::uint8_t {
  kStable,                  // changes only with new hardware
  kStableWhileTheVmExists,  // kept across reboots, not across re-creating or copying the VM
  kStableWhileConfigured,   // kept while software keeps setting the same address
  kChangesOnRestart,        // new at every start of the container or interface
  kNoToken,                 // orlim makes no token here
};

inline constexpr std::array<EnumName<OverallStability>, 5> kOverallNames{{
    {OverallStability::kStable, "stable", "stable"},
    {OverallStability::kStableWhileTheVmExists, "stable-while-the-vm-exists",
     "stable while the VM exists"},
    {OverallStability::kStableWhileConfigured, "stable-while-configured",
     "stable while the configuration stays"},
    {OverallStability::kChangesOnRestart, "changes-on-restart", "changes on restart"},
    {OverallStability::kNoToken, "no-token", "no token"},
}};
static_assert(enumIdsWellFormed(kOverallNames));
static_assert(enumTableComplete(kOverallNames, OverallStability::kNoToken));

struct Stability {
  UuidStability uuid = UuidStability::kNone;
  CardStability card = CardStability::kNone;
  const char* prefixOwner = nullptr;  // kHypervisorPrefix: whose prefix ("QEMU/KVM")
  OverallStability overall = OverallStability::kNoToken;
};

// The hypervisor maker whose prefix (OUI) starts the address, or null.
const char* hypervisorPrefixOwner(std::span<const std::uint8_t, probes::kMacAddressSize> address);

// Bit 0x02 of the first byte: an address not from a maker's block.
inline bool locallyAdministered(std::span<const std::uint8_t, probes::kMacAddressSize> address) {
  return (address[0] & 0x02) != 0;
}

// tokenMade: the UUID and a full legacy identifier were read, as orlim
// needs them for a token (root aside).
Stability assessStability(const probes::EnvironmentFindings& environment, bool uuidFound,
                          const probes::LegacyIdObservation& legacy, bool tokenMade);

}  // namespace inspect
