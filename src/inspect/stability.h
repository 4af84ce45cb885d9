#pragma once
// How long each part of the identity lasts where it is read: a judgement
// over the environment and what the probes saw, for orlim-inspect.

#include <array>
#include <cstdint>
#include <span>

#include "probes/environment.h"
#include "probes/legacy_id_internal.h"

enum class UuidStability : std::uint8_t {
  kNone,                // no UUID was read
  kFirmware,            // the machine's own firmware (bare metal)
  kHypervisor,          // assigned by the hypervisor with the VM
  kContainerHost,       // the host's, seen from a container
  kUnknownEnvironment,  // from firmware, but whose firmware could not be told
};

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

enum class OverallStability : std::uint8_t {
  kStable,                  // changes only with new hardware
  kStableWhileTheVmExists,  // kept across reboots, not across re-creating or copying the VM
  kStableWhileConfigured,   // kept while software keeps setting the same address
  kChangesOnRestart,        // new at every start of the container or interface
  kNoToken,                 // orlim makes no token here
};

struct Stability {
  UuidStability uuid = UuidStability::kNone;
  CardStability card = CardStability::kNone;
  const char* prefixOwner = nullptr;  // kHypervisorPrefix: whose prefix ("QEMU/KVM")
  OverallStability overall = OverallStability::kNoToken;
};

// The hypervisor maker whose prefix (OUI) starts the address, or null.
const char* hypervisorPrefixOwner(std::span<const std::uint8_t, kMacAddressSize> address);

// Bit 0x02 of the first byte: an address not from a maker's block.
inline bool locallyAdministered(std::span<const std::uint8_t, kMacAddressSize> address) {
  return (address[0] & 0x02) != 0;
}

// tokenMade: the UUID and a full legacy identifier were read, as orlim
// needs them for a token (root aside).
Stability assessStability(const environment::EnvironmentVerdict& environment, bool uuidFound,
                         const LegacyIdObservation& legacy, bool tokenMade);
