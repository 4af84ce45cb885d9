// How long the identity lasts: the judgement over the environment and the
// chosen card, part by part, and the report's lines that carry it.

#include "inspect/stability.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "inspect/inspect.h"
#include "support/json.h"

namespace {

using namespace inspect;

using probes::Container;
using probes::EnvironmentFindings;
using probes::EnvironmentKind;
using probes::Hypervisor;

using Mac = std::array<std::uint8_t, probes::kMacAddressSize>;

TEST(StabilityPrefixes, HypervisorPrefixesAndTheLocalBit) {
  const struct {
    Mac address;
    const char* owner;  // null: none
    bool local;
  } rows[] = {
      {{0x52, 0x54, 0x00, 0x12, 0x34, 0x56}, "QEMU/KVM", true},
      {{0x00, 0x50, 0x56, 0x01, 0x02, 0x03}, "VMware", false},
      {{0x00, 0x0c, 0x29, 0x01, 0x02, 0x03}, "VMware", false},
      {{0x00, 0x15, 0x5d, 0x01, 0x02, 0x03}, "Hyper-V", false},
      {{0x08, 0x00, 0x27, 0x01, 0x02, 0x03}, "VirtualBox", false},
      {{0x00, 0x16, 0x3e, 0x01, 0x02, 0x03}, "Xen", false},
      {{0x00, 0x1b, 0x21, 0x01, 0x02, 0x03}, nullptr, false},  // a maker's card
      {{0x1e, 0x7c, 0x3f, 0x67, 0x1c, 0x84}, nullptr, true},   // a veth's random one
      {{0x02, 0xfc, 0x00, 0x00, 0x00, 0x01}, nullptr, true},
      {{0x52, 0x54, 0x01, 0x12, 0x34, 0x56}, nullptr, true},
  };
  for (const auto& row : rows) {
    const char* owner = hypervisorPrefixOwner(row.address);
    EXPECT_STREQ(owner, row.owner) << int(row.address[0]);
    EXPECT_EQ(locallyAdministered(row.address), row.local) << int(row.address[0]);
  }
}

EnvironmentFindings env(EnvironmentKind kind, Hypervisor h = Hypervisor::kNone,
                        Container c = Container::kNone) {
  EnvironmentFindings v;
  v.kind = kind;
  v.hypervisor = h;
  v.container = c;
  return v;
}

struct Card {
  Mac address;
  probes::AddressSource source = probes::AddressSource::kPermanent;
  bool device = true;
  bool physfn = false;
  int assignType = 0;
  const char* driver = "e1000e";
};

probes::LegacyIdObservation observed(const Card& card) {
  probes::LegacyIdObservation l;
  l.cardFound = true;
  std::snprintf(l.card.data(), l.card.size(), "eth0");
  l.source = card.source;
  l.address = card.address;
  l.details.described = true;
  l.details.hasDevice = card.device;
  l.details.virtualFunction = card.physfn;
  l.details.addressAssignType = card.assignType;
  std::snprintf(l.details.driver.data(), l.details.driver.size(), "%s", card.driver);
  return l;
}

struct StabilityCase {
  const char* name;
  EnvironmentFindings environment;
  Card card;
  bool uuidFound;
  UuidStability uuid;
  CardStability cardVerdict;
  OverallStability overall;
};

TEST(Stability, PartByPartAndOverall) {
  const Mac factory = {0x00, 0x1b, 0x21, 0x0a, 0x0b, 0x0c};
  const Mac qemu = {0x52, 0x54, 0x00, 0x12, 0x34, 0x56};
  const Mac vmware = {0x00, 0x50, 0x56, 0x0a, 0x0b, 0x0c};
  const Mac veth = {0x1e, 0x7c, 0x3f, 0x67, 0x1c, 0x84};
  const Mac local = {0x02, 0x00, 0x00, 0x0a, 0x0b, 0x0c};
  const EnvironmentFindings metal = env(EnvironmentKind::kBareMetal);
  const EnvironmentFindings kvm = env(EnvironmentKind::kVm, Hypervisor::kKvm);
  const EnvironmentFindings podman =
      env(EnvironmentKind::kContainer, Hypervisor::kNone, Container::kPodman);
  const EnvironmentFindings dockerInVm =
      env(EnvironmentKind::kContainerInVm, Hypervisor::kQemu, Container::kDocker);
  const StabilityCase cases[] = {
      {"BareMetalPermanent",
       metal,
       {factory},
       true,
       UuidStability::kFirmware,
       CardStability::kPermanent,
       OverallStability::kStable},
      {"BareMetalCurrentOnly",
       metal,
       {factory, probes::AddressSource::kCurrent},
       true,
       UuidStability::kFirmware,
       CardStability::kCurrentOnly,
       OverallStability::kStableWhileConfigured},
      {"BareMetalLocallyAdministered",
       metal,
       {local, probes::AddressSource::kCurrent, true, false, 3},
       true,
       UuidStability::kFirmware,
       CardStability::kLocallyAdministered,
       OverallStability::kStableWhileConfigured},
      {"BareMetalVirtualFunction",
       metal,
       {factory, probes::AddressSource::kPermanent, true, true},
       true,
       UuidStability::kFirmware,
       CardStability::kVirtualFunction,
       OverallStability::kStableWhileConfigured},
      {"BareMetalBridgeWithRandomAddress",
       metal,
       {local, probes::AddressSource::kCurrent, false, false, probes::kAddressAssignRandom},
       true,
       UuidStability::kFirmware,
       CardStability::kRandomAddress,
       OverallStability::kChangesOnRestart},
      {"BareMetalBridgeWithSetAddress",
       metal,
       {factory, probes::AddressSource::kCurrent, false, false, 3},
       true,
       UuidStability::kFirmware,
       CardStability::kVirtualInterface,
       OverallStability::kStableWhileConfigured},
      {"BareMetalIpv4",
       metal,
       {factory, probes::AddressSource::kIpv4},
       true,
       UuidStability::kFirmware,
       CardStability::kIpv4,
       OverallStability::kStableWhileConfigured},
      {"KvmGuest",
       kvm,
       {qemu},
       true,
       UuidStability::kHypervisor,
       CardStability::kHypervisorPrefix,
       OverallStability::kStableWhileTheVmExists},
      {"VmwareGuestCurrentAddress",
       env(EnvironmentKind::kVm, Hypervisor::kVmware),
       {vmware, probes::AddressSource::kCurrent},
       true,
       UuidStability::kHypervisor,
       CardStability::kHypervisorPrefix,
       OverallStability::kStableWhileTheVmExists},
      {"PodmanVeth",
       podman,
       {veth, probes::AddressSource::kCurrent, false, false, 3},
       true,
       UuidStability::kContainerHost,
       CardStability::kContainerVirtual,
       OverallStability::kChangesOnRestart},
      {"PodmanVethNoFirmware",
       podman,
       {veth, probes::AddressSource::kCurrent, false},
       false,
       UuidStability::kNone,
       CardStability::kContainerVirtual,
       OverallStability::kNoToken},
      {"PodmanIpv4Only",
       podman,
       {veth, probes::AddressSource::kIpv4, false},
       true,
       UuidStability::kContainerHost,
       CardStability::kContainerVirtual,
       OverallStability::kChangesOnRestart},
      // The host's /sys mounted in shows the host's eth0 with a device; the
      // driver answers from the container's own network.
      {"PodmanVethUnderHostSysfs",
       podman,
       {veth, probes::AddressSource::kCurrent, true, false, 3, "veth"},
       true,
       UuidStability::kContainerHost,
       CardStability::kContainerVirtual,
       OverallStability::kChangesOnRestart},
      {"BareMetalTapWithDeviceLink",
       metal,
       {factory, probes::AddressSource::kCurrent, true, false, 3, "tun"},
       true,
       UuidStability::kFirmware,
       CardStability::kVirtualInterface,
       OverallStability::kStableWhileConfigured},
      // With the host's network, the card is the host's.
      {"HostNetworkContainer",
       podman,
       {factory},
       true,
       UuidStability::kContainerHost,
       CardStability::kPermanent,
       OverallStability::kStable},
      {"HostNetworkContainerInVm",
       dockerInVm,
       {qemu},
       true,
       UuidStability::kContainerHost,
       CardStability::kHypervisorPrefix,
       OverallStability::kStableWhileTheVmExists},
      {"UnknownEnvironment",
       env(EnvironmentKind::kUnknown),
       {factory},
       true,
       UuidStability::kUnknownEnvironment,
       CardStability::kPermanent,
       OverallStability::kStable},
  };
  for (const StabilityCase& c : cases) {
    SCOPED_TRACE(c.name);
    const probes::LegacyIdObservation legacy = observed(c.card);
    const Stability s = assessStability(c.environment, c.uuidFound, legacy, c.uuidFound);
    EXPECT_EQ(s.uuid, c.uuid);
    EXPECT_EQ(s.card, c.cardVerdict);
    EXPECT_EQ(s.overall, c.overall);
    EXPECT_EQ(s.prefixOwner != nullptr, c.cardVerdict == CardStability::kHypervisorPrefix);
  }
}

TEST(Stability, NoCardIsNoCardVerdict) {
  const probes::LegacyIdObservation none;
  const Stability s = assessStability(env(EnvironmentKind::kBareMetal), true, none, false);
  EXPECT_EQ(s.card, CardStability::kNone);
  EXPECT_EQ(s.overall, OverallStability::kNoToken);
}

// The report carries the judgement in both forms.
TEST(StabilityReport, TextAndJsonCarryTheVerdicts) {
  auto r = std::make_unique<InspectReport>();
  r->root = true;
  r->uuidResult = 0;
  r->legacyLength = probes::kLegacySystemIdLength;
  std::snprintf(r->legacy.data(), r->legacy.size(), "0123456789ABCDEF");
  r->legacySeen =
      observed({{0x1e, 0x7c, 0x3f, 0x67, 0x1c, 0x84}, probes::AddressSource::kCurrent, false});
  r->environment = env(EnvironmentKind::kContainer, Hypervisor::kNone, Container::kPodman);
  r->environment.count = 1;
  r->environment.evidence[0].signal = probes::Signal::kContainerenv;
  r->environment.evidence[0].state = probes::SignalState::kPresent;
  r->environment.evidence[0].container = Container::kPodman;
  r->environment.evidence[0].decided = true;

  const std::string text = formatReportText(*r);
  EXPECT_EQ(text.rfind("Environment\n  Kind:         container\n", 0), 0u) << text;
  for (const char* phrase :
       {"Container:    podman", "/run/.containerenv: present -> podman (decides)",
        "Lasts:        the host's, seen from inside a container",
        "Lasts:        a veth or other virtual interface inside a container",
        "Stability:    changes-on-restart: Run orlim on the host"})
    EXPECT_NE(text.find(phrase), std::string::npos) << phrase << "\n" << text;

  const std::optional<orlimtest::Json> json = orlimtest::parseJson(formatReportJson(*r));
  ASSERT_TRUE(json.has_value());
  EXPECT_EQ(json->at("environment.kind").text, "container");
  EXPECT_TRUE(json->at("environment.hypervisor").isNull());
  EXPECT_EQ(json->at("environment.container").text, "podman");
  EXPECT_EQ(json->at("environment.evidence").items.at(0).at("signal").text, "containerenv");
  EXPECT_EQ(json->at("stability.uuid.verdict").text, "host");
  EXPECT_EQ(json->at("stability.card.verdict").text, "container-interface");
  EXPECT_EQ(json->at("stability.overall").text, "changes-on-restart");
}

}  // namespace
