#include "inspect/environment_report.h"

#include <array>
#include <string_view>

#include "report/enum_names.h"
#include "report/escape.h"
#include "report/wrap.h"

using environment::Container;
using environment::EnvironmentVerdict;
using environment::Evidence;
using environment::Hypervisor;
using environment::Kind;
using environment::Signal;
using environment::SignalState;
using report::EnumName;

namespace {

// The names systemd-detect-virt prints, so that scripts can compare.
constexpr std::array<EnumName<Hypervisor>, 17> kHypervisorNames{{
    {Hypervisor::kNone, "none", "none"},
    {Hypervisor::kKvm, "kvm", "KVM"},
    {Hypervisor::kQemu, "qemu", "QEMU (emulated, no KVM)"},
    {Hypervisor::kVmware, "vmware", "VMware"},
    {Hypervisor::kMicrosoft, "microsoft", "Microsoft Hyper-V"},
    {Hypervisor::kXen, "xen", "Xen"},
    {Hypervisor::kOracle, "oracle", "Oracle VirtualBox"},
    {Hypervisor::kAmazon, "amazon", "Amazon EC2"},
    {Hypervisor::kGoogle, "google", "Google Compute Engine"},
    {Hypervisor::kBhyve, "bhyve", "bhyve"},
    {Hypervisor::kParallels, "parallels", "Parallels"},
    {Hypervisor::kBochs, "bochs", "Bochs"},
    {Hypervisor::kQnx, "qnx", "QNX hypervisor"},
    {Hypervisor::kAcrn, "acrn", "ACRN"},
    {Hypervisor::kApple, "apple", "Apple Virtualization"},
    {Hypervisor::kSre, "sre", "LMHS SRE"},
    {Hypervisor::kOther, "vm-other", "a hypervisor that does not say which"},
}};
static_assert(report::enumIdsWellFormed(kHypervisorNames));

constexpr std::array<EnumName<Container>, 13> kContainerNames{{
    {Container::kNone, "none", "none"},
    {Container::kDocker, "docker", "Docker"},
    {Container::kPodman, "podman", "Podman"},
    {Container::kLxc, "lxc", "LXC"},
    {Container::kLxcLibvirt, "lxc-libvirt", "libvirt LXC"},
    {Container::kSystemdNspawn, "systemd-nspawn", "systemd-nspawn"},
    {Container::kKubernetes, "kubernetes", "a Kubernetes pod"},
    {Container::kOpenvz, "openvz", "OpenVZ"},
    {Container::kWsl, "wsl", "Windows Subsystem for Linux"},
    {Container::kRkt, "rkt", "rkt"},
    {Container::kProot, "proot", "proot"},
    {Container::kPouch, "pouch", "Pouch"},
    {Container::kOther, "container-other", "a container of no known runtime"},
}};
static_assert(report::enumIdsWellFormed(kContainerNames));

constexpr std::array<EnumName<Kind>, 5> kKindNames{{
    {Kind::kUnknown, "unknown", "unknown (no signal of a hypervisor could be read)"},
    {Kind::kBareMetal, "bare-metal", "bare metal"},
    {Kind::kVm, "vm", "virtual machine"},
    {Kind::kContainer, "container", "container"},
    {Kind::kContainerInVm, "container-in-vm", "container in a virtual machine"},
}};
static_assert(report::enumIdsWellFormed(kKindNames));

// Phrase: where the signal is, for a person to look there too.
constexpr std::array<EnumName<Signal>, 25> kSignalNames{{
    {Signal::kCpuidHypervisorBit, "cpuid-hypervisor-bit", "CPUID leaf 1, ECX bit 31 (hypervisor)"},
    {Signal::kCpuidVendor, "cpuid-vendor", "CPUID leaf 0x40000000 (hypervisor vendor)"},
    {Signal::kDmiSysVendor, "dmi-sys-vendor", "/sys/class/dmi/id/sys_vendor"},
    {Signal::kDmiProductName, "dmi-product-name", "/sys/class/dmi/id/product_name"},
    {Signal::kDmiProductVersion, "dmi-product-version", "/sys/class/dmi/id/product_version"},
    {Signal::kDmiBoardVendor, "dmi-board-vendor", "/sys/class/dmi/id/board_vendor"},
    {Signal::kDmiBiosVendor, "dmi-bios-vendor", "/sys/class/dmi/id/bios_vendor"},
    {Signal::kSmbiosManufacturer, "smbios-manufacturer", "SMBIOS manufacturer (sysfs tables)"},
    {Signal::kSmbiosProduct, "smbios-product", "SMBIOS type 1 product name (sysfs tables)"},
    {Signal::kSmbiosVmBit, "smbios-vm-bit", "SMBIOS BIOS characteristic \"virtual machine\""},
    {Signal::kProcXen, "proc-xen", "/proc/xen"},
    {Signal::kHypervisorType, "hypervisor-type", "/sys/hypervisor/type"},
    {Signal::kDeviceTreeHypervisor, "device-tree-hypervisor",
     "/proc/device-tree/hypervisor/compatible"},
    {Signal::kDeviceTreeFwCfg, "device-tree-fw-cfg", "QEMU fw-cfg node in /proc/device-tree"},
    {Signal::kOpenvz, "openvz", "/proc/vz"},
    {Signal::kOsRelease, "os-release", "/proc/sys/kernel/osrelease"},
    {Signal::kContainerManager, "container-manager", "/run/host/container-manager"},
    {Signal::kOwnContainerVariable, "own-container-variable", "$container of this process (PID 1)"},
    {Signal::kSystemdContainer, "systemd-container", "/run/systemd/container"},
    {Signal::kPid1ContainerVariable, "pid1-container-variable",
     "$container of PID 1 (/proc/1/environ)"},
    {Signal::kContainerenv, "containerenv", "/run/.containerenv"},
    {Signal::kDockerenv, "dockerenv", "/.dockerenv"},
    {Signal::kCgroupPid1, "cgroup-pid1", "/proc/1/cgroup"},
    {Signal::kCgroupSelf, "cgroup-self", "/proc/self/cgroup"},
    {Signal::kRootMount, "root-mount", "file system on / (/proc/self/mountinfo)"},
}};
static_assert(report::enumIdsWellFormed(kSignalNames));

constexpr std::array<EnumName<SignalState>, 3> kStateNames{{
    {SignalState::kAbsent, "absent", "absent"},
    {SignalState::kPresent, "present", "present"},
    {SignalState::kUnreadable, "unreadable", "unknown (this user may not read it)"},
}};
static_assert(report::enumIdsWellFormed(kStateNames));

constexpr std::array<EnumName<UuidStability>, 5> kUuidStabilityNames{{
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
static_assert(report::enumIdsWellFormed(kUuidStabilityNames));

constexpr std::array<EnumName<CardStability>, 10> kCardStabilityNames{{
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
static_assert(report::enumIdsWellFormed(kCardStabilityNames));

constexpr std::array<EnumName<OverallStability>, 5> kOverallNames{{
    {OverallStability::kStable, "stable", "stable"},
    {OverallStability::kStableWhileTheVmExists, "stable-while-the-vm-exists",
     "stable while the VM exists"},
    {OverallStability::kStableWhileConfigured, "stable-while-configured",
     "stable while the configuration stays"},
    {OverallStability::kChangesOnRestart, "changes-on-restart", "changes on restart"},
    {OverallStability::kNoToken, "no-token", "no token"},
}};
static_assert(report::enumIdsWellFormed(kOverallNames));

std::string cardReason(const Stability& s) {
  std::string reason(report::enumPhrase(kCardStabilityNames, s.card));
  if (s.card == CardStability::kHypervisorPrefix && s.prefixOwner != nullptr)
    reason = std::string("assigned by software: ") + s.prefixOwner +
             "'s prefix, given with the VM's definition";
  return reason;
}

// Where a container hides the host's identity, the one way to reach it.
constexpr const char* kHostAdvice =
    "Run orlim on the host, or in a container that shares the host's network (host "
    "networking) and shows the host's /sys with its firmware tables (podman: --network=host "
    "--security-opt unmask=/sys/firmware; docker: --network=host --security-opt "
    "systempaths=unconfined), so that the token names the host.";

const char* advice(const Stability& s, const EnvironmentVerdict& env) {
  const bool inContainer = env.container != Container::kNone;
  const bool inVm = env.hypervisor != Hypervisor::kNone;
  switch (s.overall) {
    case OverallStability::kStable:
      return inContainer ? "The identity is the host's (this container sees its network card and "
                           "firmware): it changes only with the host's hardware."
                         : "The identity changes only with new hardware (the board or the card).";
    case OverallStability::kStableWhileTheVmExists:
      return "The identity lasts as long as this VM's definition: reboots and migrations keep "
             "it; a re-created VM gets a new one, and copies of the VM share it. Keep the UUID "
             "and the card address in the VM's definition to carry it over.";
    case OverallStability::kStableWhileConfigured:
      return "The identity lasts while the card keeps the address software gives it; give the "
             "card a fixed address, or identify a machine whose card has a permanent one.";
    case OverallStability::kChangesOnRestart:
      return inContainer ? kHostAdvice
                         : "Give the interface a fixed address, or run orlim where a card with "
                           "a permanent address is the first one.";
    case OverallStability::kNoToken:
      // The container hides the firmware or gives only its own interfaces.
      if (inContainer && (s.uuid == UuidStability::kNone || s.card == CardStability::kNone ||
                          s.card == CardStability::kContainerVirtual))
        return kHostAdvice;
      if (inVm && s.uuid == UuidStability::kNone)
        return "orlim makes no token here: the hypervisor shows no SMBIOS system UUID. Give "
               "the VM one in its definition (QEMU: -smbios type=1,uuid=...; libvirt: "
               "<uuid> with SMBIOS mode \"sysinfo\" or \"host\").";
      return "orlim makes no token here (see above): it needs the firmware's SMBIOS system UUID "
             "and a network card's address.";
  }
  return "";
}

// A signal that could not be read, as the reader it refused: root is
// refused too where a VM or a security module hides a file.
std::string_view unreadableText(const Evidence& e, bool root) {
  if (root) return "unknown (could not be read, even by root)";
  if (e.signal == Signal::kPid1ContainerVariable) return "unknown (readable by root only)";
  return report::enumPhrase(kStateNames, e.state);
}

std::string evidenceText(const Evidence& e, bool root) {
  std::string line(report::enumPhrase(kSignalNames, e.signal));
  line += ": ";
  if (e.state != SignalState::kPresent) {
    line += e.state == SignalState::kUnreadable ? unreadableText(e, root)
                                                : report::enumPhrase(kStateNames, e.state);
    return line;
  }
  if (e.signal == Signal::kCpuidHypervisorBit || e.signal == Signal::kSmbiosVmBit) {
    line += e.value.data();
  } else if (e.value[0] != '\0') {
    line += '"';
    report::appendTextEscaped(line, e.value.data());
    line += '"';
  } else {
    line += "present";
  }
  if (e.hypervisor != Hypervisor::kNone)
    line += std::string(" -> ") + std::string(report::enumId(kHypervisorNames, e.hypervisor));
  if (e.container != Container::kNone)
    line += std::string(" -> ") + std::string(report::enumId(kContainerNames, e.container));
  if (e.decided) line += " (decides)";
  return line;
}

// "qemu (QEMU (emulated, no KVM))": the identifier, and the phrase where it says more.
template <typename E, std::size_t N>
std::string nameText(const std::array<EnumName<E>, N>& table, E value) {
  const std::string_view id = report::enumId(table, value);
  const std::string_view phrase = report::enumPhrase(table, value);
  std::string text(id);
  if (phrase != id) text += std::string(" (") + std::string(phrase) + ")";
  return text;
}

std::string containerText(const EnvironmentVerdict& env) {
  if (env.container != Container::kNone) return nameText(kContainerNames, env.container);
  return env.containerUncertain ? "unknown (an overlay root, but no runtime says so)" : "none";
}

}  // namespace

void appendEnvironmentText(std::string& out, const EnvironmentVerdict& env, bool root) {
  out += "Environment\n";
  out += "  Kind:         " + std::string(report::enumPhrase(kKindNames, env.kind)) + "\n";
  out += "  Hypervisor:   ";
  out += nameText(kHypervisorNames, env.hypervisor);
  out += "\n  Container:    " + containerText(env) + "\n";
  if (env.count > 0) {
    out += "  Evidence:\n";
    for (std::size_t i = 0; i < env.count; ++i)
      report::appendWrapped(out, "    ", evidenceText(env.evidence[i], root), 2);
  }
  out += "\n";
}

void appendUuidStabilityText(std::string& out, const Stability& s) {
  report::appendWrapped(out, "  Lasts:        ", report::enumPhrase(kUuidStabilityNames, s.uuid));
}

void appendCardStabilityText(std::string& out, const Stability& s) {
  report::appendWrapped(out, "  Lasts:        ", cardReason(s));
}

void appendOverallStabilityText(std::string& out, const Stability& s,
                                const EnvironmentVerdict& env) {
  report::appendWrapped(
      out, "  Stability:    ",
      std::string(report::enumId(kOverallNames, s.overall)) + ": " + advice(s, env));
}

void writeEnvironmentJson(report::JsonWriter& w, const EnvironmentVerdict& env) {
  using namespace report;
  jsonBeginObject(w);
  jsonKey(w, "kind");
  jsonString(w, enumId(kKindNames, env.kind));
  jsonKey(w, "hypervisor");
  if (env.hypervisor == Hypervisor::kNone)
    jsonNull(w);
  else
    jsonString(w, enumId(kHypervisorNames, env.hypervisor));
  jsonKey(w, "container");
  if (env.container != Container::kNone)
    jsonString(w, enumId(kContainerNames, env.container));
  else if (env.containerUncertain)
    jsonString(w, "unknown");
  else
    jsonNull(w);
  jsonKey(w, "evidence");
  jsonBeginArray(w);
  for (std::size_t i = 0; i < env.count; ++i) {
    const Evidence& e = env.evidence[i];
    jsonBeginObject(w);
    jsonKey(w, "signal");
    jsonString(w, enumId(kSignalNames, e.signal));
    jsonKey(w, "source");
    jsonString(w, enumPhrase(kSignalNames, e.signal));
    jsonKey(w, "state");
    jsonString(w, enumId(kStateNames, e.state));
    jsonKey(w, "value");
    if (e.state == SignalState::kPresent)
      jsonString(w, e.value.data());
    else
      jsonNull(w);
    jsonKey(w, "indicates");
    if (e.hypervisor != Hypervisor::kNone)
      jsonString(w, enumId(kHypervisorNames, e.hypervisor));
    else if (e.container != Container::kNone)
      jsonString(w, enumId(kContainerNames, e.container));
    else
      jsonNull(w);
    jsonKey(w, "decided");
    jsonBool(w, e.decided);
    jsonEndObject(w);
  }
  jsonEndArray(w);
  jsonEndObject(w);
}

void writeStabilityJson(report::JsonWriter& w, const Stability& s, const EnvironmentVerdict& env) {
  using namespace report;
  jsonBeginObject(w);
  jsonKey(w, "uuid");
  jsonBeginObject(w);
  jsonKey(w, "verdict");
  jsonString(w, enumId(kUuidStabilityNames, s.uuid));
  jsonKey(w, "reason");
  jsonString(w, enumPhrase(kUuidStabilityNames, s.uuid));
  jsonEndObject(w);
  jsonKey(w, "card");
  jsonBeginObject(w);
  jsonKey(w, "verdict");
  jsonString(w, enumId(kCardStabilityNames, s.card));
  jsonKey(w, "reason");
  jsonString(w, cardReason(s));
  jsonEndObject(w);
  jsonKey(w, "overall");
  jsonString(w, enumId(kOverallNames, s.overall));
  jsonKey(w, "advice");
  jsonString(w, advice(s, env));
  jsonEndObject(w);
}
