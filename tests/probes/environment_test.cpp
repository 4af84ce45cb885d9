// Where the identity is read: the tables of names, the judgement over the
// signals in systemd-detect-virt's order, the reading of each signal from
// files laid out in a directory, and the vendor strings of real firmware
// tables.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "probes/environment_internal.h"
#include "support/smbios_builders.h"

namespace {

using probes::Container;
using probes::EnvironmentFindings;
using probes::EnvironmentKind;
using probes::Hypervisor;
using probes::Signal;
using probes::Signals;
using probes::SignalState;
using probes::TextSignal;
using smbiostest::operator+;

// --- The tables -------------------------------------------------------------------

TEST(EnvironmentTables, CpuidVendorsAreMatchedWhole) {
  const struct {
    const char* vendor;
    Hypervisor expected;
  } rows[] = {
      {"KVMKVMKVM", Hypervisor::kKvm},
      {"Linux KVM Hv", Hypervisor::kKvm},
      {"TCGTCGTCGTCG", Hypervisor::kQemu},
      {"VMwareVMware", Hypervisor::kVmware},
      {"Microsoft Hv", Hypervisor::kMicrosoft},
      {"XenVMMXenVMM", Hypervisor::kXen},
      {"bhyve bhyve ", Hypervisor::kBhyve},
      {"ACRNACRNACRN", Hypervisor::kAcrn},
      {"KVMKVMKVMKVM", Hypervisor::kOther},
      {"KVMKVM", Hypervisor::kOther},
      {"", Hypervisor::kOther},
  };
  for (const auto& row : rows)
    EXPECT_EQ(probes::hypervisorFromCpuidVendor(row.vendor), row.expected) << row.vendor;
}

TEST(EnvironmentTables, DmiStringsAreMatchedByTheirBeginning) {
  const struct {
    const char* text;
    Hypervisor expected;
  } rows[] = {
      {"QEMU", Hypervisor::kQemu},
      {"QEMU Virtual Machine", Hypervisor::kQemu},
      {"VMware, Inc.", Hypervisor::kVmware},
      {"VMware Virtual Platform", Hypervisor::kVmware},
      {"innotek GmbH", Hypervisor::kOracle},
      {"VirtualBox", Hypervisor::kOracle},
      {"Oracle Corporation", Hypervisor::kOracle},
      {"Hyper-V UEFI Release v4.1", Hypervisor::kMicrosoft},
      {"Amazon EC2", Hypervisor::kAmazon},
      {"Google Compute Engine", Hypervisor::kGoogle},
      {"Xen", Hypervisor::kXen},
      {"HVM domU", Hypervisor::kNone},
      {"OpenStack Foundation", Hypervisor::kKvm},
      {"Parallels Software International Inc.", Hypervisor::kParallels},
      {"BHYVE", Hypervisor::kBhyve},
      // Microsoft's own machines say the same as a Hyper-V guest's
      // sys_vendor: it names no hypervisor.
      {"Microsoft Corporation", Hypervisor::kNone},
      {"Dell Inc.", Hypervisor::kNone},
      {"a QEMU", Hypervisor::kNone},
      {"", Hypervisor::kNone},
  };
  for (const auto& row : rows)
    EXPECT_EQ(probes::hypervisorFromDmi(row.text), row.expected) << row.text;
}

TEST(EnvironmentTables, ContainerNamesAndCgroupPaths) {
  EXPECT_EQ(probes::containerFromName("podman"), Container::kPodman);
  EXPECT_EQ(probes::containerFromName("docker"), Container::kDocker);
  EXPECT_EQ(probes::containerFromName("lxc-libvirt"), Container::kLxcLibvirt);
  EXPECT_EQ(probes::containerFromName("systemd-nspawn"), Container::kSystemdNspawn);
  EXPECT_EQ(probes::containerFromName("flatpak"), Container::kOther);

  const struct {
    const char* line;
    Container expected;
  } rows[] = {
      {"12:pids:/docker/0123456789abcdef", Container::kDocker},
      {"0::/system.slice/docker-0123abcd.scope", Container::kDocker},
      {"0::/machine.slice/libpod-0123abcd.scope/container", Container::kPodman},
      {"1:name=systemd:/libpod_parent/libpod-0123", Container::kPodman},
      {"0::/lxc.payload.web1", Container::kLxc},
      {"4:memory:/lxc/web1", Container::kLxc},
      {"0::/kubepods.slice/kubepods-besteffort.slice/kubepods-besteffort-pod1.slice/"
       "cri-containerd-0123.scope",
       Container::kKubernetes},
      {"11:cpu:/kubepods/burstable/pod1/0123456789", Container::kKubernetes},
      {"0::/machine.slice/machine-web1.scope/payload", Container::kSystemdNspawn},
      {"0::/", Container::kNone},
      {"0::/user.slice/user-1000.slice/session-2.scope", Container::kNone},
      {"4:memory:/process_api/c5ced6be", Container::kNone},
      // Only the path counts, not the controller names.
      {"3:docker:/", Container::kNone},
      {"no colons at all /docker/", Container::kNone},
  };
  for (const auto& row : rows)
    EXPECT_EQ(probes::containerFromCgroupLine(row.line), row.expected) << row.line;
}

TEST(EnvironmentTables, RootMountType) {
  const struct {
    const char* line;
    const char* type;  // null: not the root mount
  } rows[] = {
      {"27 1 254:0 / / rw,relatime - ext4 /dev/vda rw,discard", "ext4"},
      {"500 400 0:52 / / rw,relatime master:1 shared:2 - overlay overlay rw,lowerdir=/a:/b",
       "overlay"},
      {"21 27 0:20 / /proc rw,relatime - proc proc rw", nullptr},
      {"21 27 0:20 /sub / rw - btrfs /dev/sda2 rw", "btrfs"},
      {"21 27 0:20 / /", nullptr},
      {"garbage", nullptr},
  };
  for (const auto& row : rows) {
    std::string_view type;
    const bool found = probes::rootMountType(row.line, type);
    EXPECT_EQ(found, row.type != nullptr) << row.line;
    if (found && row.type != nullptr) {
      EXPECT_EQ(type, row.type) << row.line;
    }
  }
}

// --- The judgement ------------------------------------------------------------------

void setText(TextSignal& signal, const char* value, SignalState state = SignalState::kPresent) {
  signal.state = state;
  std::snprintf(signal.value.data(), signal.value.size(), "%s", value);
}

void cpuid(Signals& s, const char* vendor) {
  s.cpuidAvailable = true;
  s.hypervisorBit = vendor != nullptr;
  if (vendor != nullptr)
    std::memcpy(s.cpuidVendor.data(), vendor, std::min<std::size_t>(std::strlen(vendor), 12));
}

struct JudgeCase {
  const char* name;
  std::function<void(Signals&)> set;
  EnvironmentKind kind;
  Hypervisor hypervisor;
  Container container;
  // The signals that decided, in the order they were listed.
  std::vector<Signal> decided;
};

std::vector<JudgeCase> judgeCases() {
  return {
      {"BareMetalX86",
       [](Signals& s) {
         cpuid(s, nullptr);
         setText(s.sysVendor, "Dell Inc.");
       },
       EnvironmentKind::kBareMetal,
       Hypervisor::kNone,
       Container::kNone,
       {}},
      {"NothingReadable",
       [](Signals&) {},
       EnvironmentKind::kUnknown,
       Hypervisor::kNone,
       Container::kNone,
       {}},
      {"KvmByCpuidBeforeQemuDmi",
       [](Signals& s) {
         cpuid(s, "KVMKVMKVM");
         setText(s.sysVendor, "QEMU");
       },
       EnvironmentKind::kVm,
       Hypervisor::kKvm,
       Container::kNone,
       {Signal::kCpuidVendor}},
      {"QemuEmulating",
       [](Signals& s) { cpuid(s, "TCGTCGTCGTCG"); },
       EnvironmentKind::kVm,
       Hypervisor::kQemu,
       Container::kNone,
       {Signal::kCpuidVendor}},
      {"QemuByDmiWithoutHypervisorBit",
       [](Signals& s) {
         cpuid(s, nullptr);
         setText(s.productName, "Standard PC (Q35 + ICH9, 2009)");
         setText(s.sysVendor, "QEMU");
       },
       EnvironmentKind::kVm,
       Hypervisor::kQemu,
       Container::kNone,
       {Signal::kDmiSysVendor}},
      // VirtualBox runs on KVM's interface too; its DMI strings come first.
      {"VirtualBoxBeforeCpuid",
       [](Signals& s) {
         cpuid(s, "KVMKVMKVM");
         setText(s.sysVendor, "innotek GmbH");
       },
       EnvironmentKind::kVm,
       Hypervisor::kOracle,
       Container::kNone,
       {Signal::kDmiSysVendor}},
      {"VmwareDmiAfterCpuid",
       [](Signals& s) {
         cpuid(s, "VMwareVMware");
         setText(s.sysVendor, "VMware, Inc.");
       },
       EnvironmentKind::kVm,
       Hypervisor::kVmware,
       Container::kNone,
       {Signal::kCpuidVendor}},
      // QEMU offers Hyper-V's interface: Microsoft only when nothing else speaks.
      {"HypervInterfaceOnQemu",
       [](Signals& s) {
         cpuid(s, "Microsoft Hv");
         setText(s.sysVendor, "QEMU");
       },
       EnvironmentKind::kVm,
       Hypervisor::kQemu,
       Container::kNone,
       {Signal::kDmiSysVendor}},
      {"HyperV",
       [](Signals& s) {
         cpuid(s, "Microsoft Hv");
         setText(s.sysVendor, "Microsoft Corporation");
         setText(s.productName, "Virtual Machine");
       },
       EnvironmentKind::kVm,
       Hypervisor::kMicrosoft,
       Container::kNone,
       {Signal::kCpuidVendor}},
      {"UnknownCpuidVendor",
       [](Signals& s) { cpuid(s, "NewHypervisr"); },
       EnvironmentKind::kVm,
       Hypervisor::kOther,
       Container::kNone,
       {Signal::kCpuidVendor}},
      {"AmazonMetalByVmBit",
       [](Signals& s) {
         cpuid(s, nullptr);
         setText(s.sysVendor, "Amazon EC2");
         s.smbiosTable = SignalState::kPresent;
         s.tableStrings.virtualMachineBit = 0;
       },
       EnvironmentKind::kBareMetal,
       Hypervisor::kNone,
       Container::kNone,
       {Signal::kSmbiosVmBit}},
      {"AmazonMetalByProductName",
       [](Signals& s) {
         cpuid(s, nullptr);
         setText(s.sysVendor, "Amazon EC2");
         setText(s.productName, "c5.metal");
         s.smbiosTable = SignalState::kUnreadable;
       },
       EnvironmentKind::kBareMetal,
       Hypervisor::kNone,
       Container::kNone,
       {}},
      {"AmazonVirtual",
       [](Signals& s) {
         cpuid(s, "KVMKVMKVM");
         setText(s.sysVendor, "Amazon EC2");
         setText(s.productName, "m5.large");
       },
       EnvironmentKind::kVm,
       Hypervisor::kAmazon,
       Container::kNone,
       {Signal::kDmiSysVendor}},
      {"VmBitAlone",
       [](Signals& s) {
         cpuid(s, nullptr);
         s.smbiosTable = SignalState::kPresent;
         std::strcpy(s.tableStrings.systemManufacturer.data(), "Some Cloud");
         s.tableStrings.virtualMachineBit = 1;
       },
       EnvironmentKind::kVm,
       Hypervisor::kOther,
       Container::kNone,
       {Signal::kSmbiosVmBit}},
      {"XenGuest",
       [](Signals& s) { s.procXen = SignalState::kPresent; },
       EnvironmentKind::kVm,
       Hypervisor::kXen,
       Container::kNone,
       {Signal::kProcXen}},
      {"XenControlDomain",
       [](Signals& s) {
         cpuid(s, nullptr);
         s.procXen = SignalState::kPresent;
         s.xenControlDomain = true;
         setText(s.hypervisorType, "xen");
       },
       EnvironmentKind::kBareMetal,
       Hypervisor::kNone,
       Container::kNone,
       {}},
      {"HypervisorTypeXen",
       [](Signals& s) { setText(s.hypervisorType, "xen"); },
       EnvironmentKind::kVm,
       Hypervisor::kXen,
       Container::kNone,
       {Signal::kHypervisorType}},
      // 64-bit ARM: no CPUID; the device tree or the DMI strings.
      {"ArmDeviceTreeKvm",
       [](Signals& s) { setText(s.deviceTreeHypervisor, "linux,kvm"); },
       EnvironmentKind::kVm,
       Hypervisor::kKvm,
       Container::kNone,
       {Signal::kDeviceTreeHypervisor}},
      {"ArmFwCfg",
       [](Signals& s) { s.deviceTreeFwCfg = true; },
       EnvironmentKind::kVm,
       Hypervisor::kQemu,
       Container::kNone,
       {Signal::kDeviceTreeFwCfg}},
      {"ArmQemuTablesOnly",
       [](Signals& s) {
         s.smbiosTable = SignalState::kPresent;
         std::strcpy(s.tableStrings.systemManufacturer.data(), "QEMU");
         std::strcpy(s.tableStrings.systemProduct.data(), "QEMU Virtual Machine");
       },
       EnvironmentKind::kVm,
       Hypervisor::kQemu,
       Container::kNone,
       {Signal::kSmbiosProduct}},

      // Containers, in systemd's order.
      {"Containerenv",
       [](Signals& s) { s.containerenv = SignalState::kPresent; },
       EnvironmentKind::kContainer,
       Hypervisor::kNone,
       Container::kPodman,
       {Signal::kContainerenv}},
      {"Dockerenv",
       [](Signals& s) { s.dockerenv = SignalState::kPresent; },
       EnvironmentKind::kContainer,
       Hypervisor::kNone,
       Container::kDocker,
       {Signal::kDockerenv}},
      {"ContainerenvBeforeDockerenv",
       [](Signals& s) {
         s.dockerenv = SignalState::kPresent;
         s.containerenv = SignalState::kPresent;
       },
       EnvironmentKind::kContainer,
       Hypervisor::kNone,
       Container::kPodman,
       {Signal::kContainerenv}},
      {"Pid1VariableBeforeFiles",
       [](Signals& s) {
         setText(s.pid1ContainerVariable, "lxc");
         s.dockerenv = SignalState::kPresent;
       },
       EnvironmentKind::kContainer,
       Hypervisor::kNone,
       Container::kLxc,
       {Signal::kPid1ContainerVariable}},
      {"Pid1VariableUnreadable",
       [](Signals& s) {
         s.pid1ContainerVariable.state = SignalState::kUnreadable;
         s.dockerenv = SignalState::kPresent;
       },
       EnvironmentKind::kContainer,
       Hypervisor::kNone,
       Container::kDocker,
       {Signal::kDockerenv}},
      // As PID 1, an empty $container is final: no container.
      {"OwnEmptyVariableIsFinal",
       [](Signals& s) {
         setText(s.ownContainerVariable, "");
         s.dockerenv = SignalState::kPresent;
       },
       EnvironmentKind::kUnknown,
       Hypervisor::kNone,
       Container::kNone,
       {Signal::kOwnContainerVariable}},
      {"OwnVariable",
       [](Signals& s) { setText(s.ownContainerVariable, "podman"); },
       EnvironmentKind::kContainer,
       Hypervisor::kNone,
       Container::kPodman,
       {Signal::kOwnContainerVariable}},
      {"SystemdContainerFile",
       [](Signals& s) { setText(s.systemdContainer, "systemd-nspawn"); },
       EnvironmentKind::kContainer,
       Hypervisor::kNone,
       Container::kSystemdNspawn,
       {Signal::kSystemdContainer}},
      {"ContainerManagerFile",
       [](Signals& s) { setText(s.containerManager, "docker"); },
       EnvironmentKind::kContainer,
       Hypervisor::kNone,
       Container::kDocker,
       {Signal::kContainerManager}},
      {"OciLeavesItToTheFiles",
       [](Signals& s) {
         setText(s.pid1ContainerVariable, "oci");
         s.dockerenv = SignalState::kPresent;
       },
       EnvironmentKind::kContainer,
       Hypervisor::kNone,
       Container::kDocker,
       {Signal::kDockerenv}},
      {"OciAlone",
       [](Signals& s) { setText(s.pid1ContainerVariable, "oci"); },
       EnvironmentKind::kContainer,
       Hypervisor::kNone,
       Container::kOther,
       {Signal::kPid1ContainerVariable}},
      {"UnknownManagerName",
       [](Signals& s) { setText(s.systemdContainer, "flatpak"); },
       EnvironmentKind::kContainer,
       Hypervisor::kNone,
       Container::kOther,
       {Signal::kSystemdContainer}},
      {"OpenVz",
       [](Signals& s) {
         s.procVz = true;
         s.dockerenv = SignalState::kPresent;
       },
       EnvironmentKind::kContainer,
       Hypervisor::kNone,
       Container::kOpenvz,
       {Signal::kOpenvz}},
      {"OpenVzHostIsNoContainer",
       [](Signals& s) {
         cpuid(s, nullptr);
         s.procVz = true;
         s.procBc = true;
       },
       EnvironmentKind::kBareMetal,
       Hypervisor::kNone,
       Container::kNone,
       {}},
      {"Wsl",
       [](Signals& s) { setText(s.osRelease, "5.15.90.1-microsoft-standard-WSL2"); },
       EnvironmentKind::kContainer,
       Hypervisor::kNone,
       Container::kWsl,
       {Signal::kOsRelease}},
      // The runtimes' cgroup paths, beyond systemd: only where nothing else spoke.
      {"KubernetesByCgroup",
       [](Signals& s) {
         cpuid(s, nullptr);
         setText(s.cgroupSelf, "0::/kubepods.slice/kubepods-pod1.slice/cri-containerd-1.scope");
       },
       EnvironmentKind::kContainer,
       Hypervisor::kNone,
       Container::kKubernetes,
       {Signal::kCgroupSelf}},
      {"CgroupOfPid1First",
       [](Signals& s) {
         cpuid(s, nullptr);
         setText(s.cgroupPid1, "0::/lxc.payload.web1");
         setText(s.cgroupSelf, "12:pids:/docker/0123");
       },
       EnvironmentKind::kContainer,
       Hypervisor::kNone,
       Container::kLxc,
       {Signal::kCgroupPid1}},
      {"DockerenvBeforeCgroup",
       [](Signals& s) {
         s.dockerenv = SignalState::kPresent;
         setText(s.cgroupSelf, "0::/kubepods/pod1/0123");
       },
       EnvironmentKind::kContainer,
       Hypervisor::kNone,
       Container::kDocker,
       {Signal::kDockerenv}},
      {"OverlayRootAloneIsNoVerdict",
       [](Signals& s) {
         cpuid(s, nullptr);
         setText(s.rootMount, "overlay");
       },
       EnvironmentKind::kBareMetal,
       Hypervisor::kNone,
       Container::kNone,
       {}},
      // Both: a container in a VM, as on the machines these tests run on.
      {"DockerInBhyve",
       [](Signals& s) {
         cpuid(s, "bhyve bhyve ");
         s.dockerenv = SignalState::kPresent;
       },
       EnvironmentKind::kContainerInVm,
       Hypervisor::kBhyve,
       Container::kDocker,
       {Signal::kCpuidVendor, Signal::kDockerenv}},
  };
}

TEST(EnvironmentJudge, FollowsSystemdsOrder) {
  for (const JudgeCase& c : judgeCases()) {
    SCOPED_TRACE(c.name);
    Signals signals;
    c.set(signals);
    EnvironmentFindings verdict;
    probes::decideEnvironment(signals, verdict);
    EXPECT_EQ(verdict.kind, c.kind);
    EXPECT_EQ(verdict.hypervisor, c.hypervisor);
    EXPECT_EQ(verdict.container, c.container);
    std::vector<Signal> decided;
    for (std::size_t i = 0; i < verdict.count; ++i)
      if (verdict.evidence[i].decided) decided.push_back(verdict.evidence[i].signal);
    EXPECT_EQ(decided, c.decided);
  }
}

TEST(EnvironmentJudge, UncertainOnlyWhereAWeakSignalSpeaks) {
  Signals signals;
  cpuid(signals, nullptr);
  setText(signals.rootMount, "overlay");
  signals.pid1ContainerVariable.state = SignalState::kUnreadable;
  EnvironmentFindings verdict;
  probes::decideEnvironment(signals, verdict);
  EXPECT_TRUE(verdict.containerUncertain);
  // The unreadable variable is listed, so the reader sees what is unknown.
  bool listed = false;
  for (std::size_t i = 0; i < verdict.count; ++i)
    listed = listed || (verdict.evidence[i].signal == Signal::kPid1ContainerVariable &&
                        verdict.evidence[i].state == SignalState::kUnreadable);
  EXPECT_TRUE(listed);

  setText(signals.rootMount, "ext4");
  probes::decideEnvironment(signals, verdict);
  EXPECT_FALSE(verdict.containerUncertain);
}

// --- Gathering from files -------------------------------------------------------

#if defined(__x86_64__) || defined(__i386__)
probes::CpuidRegisters fakeCpuid(std::uint32_t leaf, std::uint32_t) {
  probes::CpuidRegisters r;
  if (leaf == 0) r.eax = 0x16;
  if (leaf == 1) r.ecx = 0x80000000u;
  if (leaf == 0x40000000u) {
    std::memcpy(&r.ebx, "TCGT", 4);
    std::memcpy(&r.ecx, "CGTC", 4);
    std::memcpy(&r.edx, "GTCG", 4);
  }
  return r;
}
#endif

bool notPid1() { return false; }
bool pid1() { return true; }
const char* podmanVariable(const char* name) {
  return std::strcmp(name, "container") == 0 ? "podman" : nullptr;
}

// Every place the probe looks, inside a temporary directory; nothing exists
// until a test writes it.
struct Tree {
  smbiostest::TempDir dir;
  probes::EnvironmentAccess access;
  std::deque<std::string> paths;  // the path strings the access points into

  Tree() {
    probes::EnvironmentPaths& p = access.paths;
    p.dmiId = keep("dmi/");
    p.smbiosTable = keep("DMI");
    p.procXen = keep("xen");
    p.xenCapabilities = keep("xen/capabilities");
    p.hypervisorType = keep("hypervisor_type");
    p.deviceTree = keep("device-tree/");
    p.procVz = keep("vz");
    p.procBc = keep("bc");
    p.osRelease = keep("osrelease");
    p.containerManager = keep("container-manager");
    p.systemdContainer = keep("systemd-container");
    p.pid1Environ = keep("environ");
    p.containerenv = keep(".containerenv");
    p.dockerenv = keep(".dockerenv");
    p.pid1Cgroup = keep("cgroup1");
    p.selfCgroup = keep("cgroup-self");
    p.mountinfo = keep("mountinfo");
#if defined(__x86_64__) || defined(__i386__)
    access.cpuid = fakeCpuid;
#endif
    access.isPid1 = notPid1;
  }
  const char* keep(const std::string& name) {
    paths.push_back(dir.path(name));
    return paths.back().c_str();
  }
  void write(const std::string& name, const std::string& text) {
    for (std::size_t slash = name.find('/'); slash != std::string::npos;
         slash = name.find('/', slash + 1))
      ::mkdir(dir.path(name.substr(0, slash)).c_str(), 0755);
    smbiostest::writeFile(dir.path(name), text);
  }
  Signals gather() const {
    Signals signals;
    probes::gatherSignals(signals, access);
    return signals;
  }
};

std::string value(const TextSignal& signal) { return signal.value.data(); }

TEST(EnvironmentGather, NothingThereIsAbsent) {
  Tree t;
  const Signals s = t.gather();
  EXPECT_EQ(s.sysVendor.state, SignalState::kAbsent);
  EXPECT_EQ(s.smbiosTable, SignalState::kAbsent);
  EXPECT_EQ(s.procXen, SignalState::kAbsent);
  EXPECT_EQ(s.pid1ContainerVariable.state, SignalState::kAbsent);
  EXPECT_EQ(s.dockerenv, SignalState::kAbsent);
  EXPECT_EQ(s.cgroupSelf.state, SignalState::kAbsent);
  EXPECT_EQ(s.rootMount.state, SignalState::kAbsent);
  EXPECT_EQ(s.ownContainerVariable.state, SignalState::kAbsent);
#if defined(__x86_64__) || defined(__i386__)
  EXPECT_TRUE(s.cpuidAvailable);
  EXPECT_TRUE(s.hypervisorBit);
  EXPECT_EQ(std::string(s.cpuidVendor.data()), "TCGTCGTCGTCG");
#endif
}

TEST(EnvironmentGather, ReadsEachSignal) {
  Tree t;
  t.write("dmi/sys_vendor", "QEMU\n");
  t.write("dmi/product_name", "Standard PC (i440FX + PIIX, 1996)  \n");
  t.write("hypervisor_type", "xen\n");
  t.write("device-tree/hypervisor/compatible", std::string("linux,kvm\0xen,xen\0", 18));
  ::mkdir(t.dir.path("device-tree/fw-cfg@9020000").c_str(), 0755);
  t.write("osrelease", "6.1.0-27-amd64\n");
  t.write("systemd-container", "systemd-nspawn\n");
  t.write("environ", std::string("HOME=/\0TERM=linux\0container=lxc\0PATH=/bin\0", 43));
  t.write(".dockerenv", "");
  t.write("cgroup1", "0::/\n");
  t.write(
      "cgroup-self",
      "12:pids:/\n11:memory:/user.slice\n1:name=systemd:/docker/0123abcd\n0::/docker/0123abcd\n");
  // The last mount on / is the one in effect; a line longer than the
  // reader's buffer (an overlay's long option list) is cut, not lost.
  t.write("mountinfo", "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n21 1 0:20 / /proc rw - proc proc rw\n" +
                           std::string("90 1 0:52 / / rw - overlay overlay rw,lowerdir=") +
                           std::string(9000, 'x') + "\n");
  const Signals s = t.gather();
  EXPECT_EQ(value(s.sysVendor), "QEMU");
  EXPECT_EQ(value(s.productName), "Standard PC (i440FX + PIIX, 1996)");
  EXPECT_EQ(s.productVersion.state, SignalState::kAbsent);
  EXPECT_EQ(value(s.hypervisorType), "xen");
  EXPECT_EQ(value(s.deviceTreeHypervisor), "linux,kvm");
  EXPECT_TRUE(s.deviceTreeFwCfg);
  EXPECT_EQ(value(s.systemdContainer), "systemd-nspawn");
  EXPECT_EQ(s.pid1ContainerVariable.state, SignalState::kPresent);
  EXPECT_EQ(value(s.pid1ContainerVariable), "lxc");
  EXPECT_EQ(s.dockerenv, SignalState::kPresent);
  EXPECT_EQ(s.containerenv, SignalState::kAbsent);
  EXPECT_EQ(s.cgroupPid1.state, SignalState::kAbsent);
  EXPECT_EQ(value(s.cgroupSelf), "1:name=systemd:/docker/0123abcd");
  EXPECT_EQ(value(s.rootMount), "overlay");
}

// (Not root's own: /proc/1/environ gives other users EACCES, which is
// "unreadable" as any error but a missing file is; the end-to-end NonRoot
// row of the inspect tests runs it as another user.)
TEST(EnvironmentGather, EnvironWithoutTheVariableAndOddFiles) {
  Tree t;
  t.write("environ", std::string("HOME=/\0containerx=no\0", 22));
  // A directory where a file belongs can't be read: unknown, not absent.
  ::mkdir(t.dir.path("dmi").c_str(), 0755);
  ::mkdir(t.dir.path("dmi/sys_vendor").c_str(), 0755);
  ::mkdir(t.dir.path("cgroup1").c_str(), 0755);
  const Signals s = t.gather();
  EXPECT_EQ(s.pid1ContainerVariable.state, SignalState::kAbsent);
  EXPECT_EQ(s.sysVendor.state, SignalState::kUnreadable);
  EXPECT_EQ(s.cgroupPid1.state, SignalState::kUnreadable);
}

// Values longer than the evidence holds are cut between characters: 3000
// "é" keep whole ones, and a value already short enough is kept as read.
TEST(EnvironmentGather, LongValuesCutBetweenCharacters) {
  std::string accents;
  for (int i = 0; i < 3000; ++i) accents += "\xc3\xa9";
  std::string smiles;
  for (int i = 0; i < 30; ++i) smiles += "\xf0\x9f\x98\x80";
  struct Case {
    const char* name;
    std::string text;
    std::string kept;
  };
  const Case cases[] = {
      {"two-byte characters", accents, accents.substr(0, 126)},
      {"one byte, then two-byte characters", "x" + accents, "x" + accents.substr(0, 126)},
      // 42 ASCII bytes and whole four-byte characters: 42 + 4 * 21 = 126.
      {"four-byte characters", std::string(42, 'c') + smiles,
       (std::string(42, 'c') + smiles).substr(0, 126)},
      {"not UTF-8 at all", std::string(200, '\xff'), std::string(127, '\xff')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tree t;
    t.write("dmi/sys_vendor", c.text + "\n");
    EXPECT_EQ(value(t.gather().sysVendor), c.kept);
  }
}

TEST(EnvironmentGather, OwnVariableOnlyAsPid1) {
  Tree t;
  t.access.getenv = podmanVariable;
  EXPECT_EQ(t.gather().ownContainerVariable.state, SignalState::kAbsent);
  t.access.isPid1 = pid1;
  const Signals s = t.gather();
  EXPECT_EQ(s.ownContainerVariable.state, SignalState::kPresent);
  EXPECT_EQ(value(s.ownContainerVariable), "podman");
}

TEST(EnvironmentGather, TablesStandInForTheKernelsStrings) {
  Tree t;
  const smbiostest::Bytes table =
      smbiostest::structure(0, 0x18, {"EFI Development Kit II / OVMF"}) +
      smbiostest::type1(smbiostest::kRawUuid, 27, {"QEMU", "Standard PC (Q35 + ICH9, 2009)"}) +
      smbiostest::endOfTable();
  smbiostest::Bytes withStrings = table;
  // type 0: vendor is string 1; type 1: manufacturer 1, product 2.
  withStrings[4] = 1;
  withStrings[0x18 + 31 + 4] = 1;
  withStrings[0x18 + 31 + 5] = 2;
  smbiostest::writeFile(t.dir.path("DMI"), withStrings);
  const Signals s = t.gather();
  ASSERT_EQ(s.smbiosTable, SignalState::kPresent);
  EXPECT_EQ(std::string(s.tableStrings.systemManufacturer.data()), "QEMU");
  EXPECT_EQ(std::string(s.tableStrings.systemProduct.data()), "Standard PC (Q35 + ICH9, 2009)");
  EXPECT_EQ(std::string(s.tableStrings.biosVendor.data()), "EFI Development Kit II / OVMF");
  EXPECT_EQ(s.tableStrings.virtualMachineBit, 0);

  EnvironmentFindings verdict;
  probes::decideEnvironment(s, verdict);
  EXPECT_EQ(verdict.kind, EnvironmentKind::kVm);
}

// --- Real firmware tables ---------------------------------------------------------

std::string dumpsDir() {
  const char* named = std::getenv("ORLIM_SMBIOS_DUMPS");
  return named != nullptr && *named != '\0' ? named : ORLIM_SMBIOS_DUMPS;
}

// The structure table of a dump in either layout (dmidecode's .bin: the
// table from offset 32; the kernel's pair: the DMI file).
smbiostest::Bytes dumpTable(const std::string& name) {
  const std::string dir = dumpsDir() + "/" + name;
  if (name.size() > 6 && name.substr(name.size() - 6) == ".sysfs")
    return smbiostest::readFile(dir + "/DMI");
  smbiostest::Bytes bytes = smbiostest::readFile(dir);
  return bytes.size() > 32 ? smbiostest::Bytes(bytes.begin() + 32, bytes.end())
                           : smbiostest::Bytes{};
}

TEST(EnvironmentDumps, VendorStringsOfRealTablesNameTheHypervisor) {
  const std::string dir = dumpsDir();
  struct stat status;
  if (dir.empty() || ::stat(dir.c_str(), &status) != 0)
    GTEST_SKIP() << "no SMBIOS dump corpus at '" << dir << "'";
  // Each maker's tables as a VM of theirs has them, and a bare-metal
  // machine's for contrast. The corpus holds no Hyper-V or QEMU tables
  // (those rows skip); the QEMU boots of tests/vm show QEMU's own.
  const struct {
    const char* dump;
    Hypervisor expected;
  } rows[] = {
      {"uroot-VMWare.bin", Hypervisor::kVmware},
      {"rootfs-javaproj-vbox.sysfs", Hypervisor::kOracle},
      {"rootfs-javaproj-vbox.bin", Hypervisor::kOracle},
      {"hyperv.bin", Hypervisor::kMicrosoft},
      {"qemu.bin", Hypervisor::kQemu},
      {"libsmbios-xps9365.sysfs", Hypervisor::kNone},
      {"uroot-SuperMicro-X9DBL.bin", Hypervisor::kNone},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.dump);
    if (::stat((dir + "/" + row.dump).c_str(), &status) != 0) {
      std::printf("[ SKIPPED  ] no %s in the corpus\n", row.dump);
      continue;
    }
    const smbiostest::Bytes table = dumpTable(row.dump);
    ASSERT_FALSE(table.empty());
    Signals s;
    cpuid(s, nullptr);  // as a machine whose CPUID says nothing
    s.smbiosTable = SignalState::kPresent;
    ASSERT_EQ(probes::findFirmwareStrings(table, 0, 0, s.tableStrings), 0);
    EnvironmentFindings verdict;
    probes::decideEnvironment(s, verdict);
    EXPECT_EQ(verdict.hypervisor, row.expected) << s.tableStrings.systemManufacturer.data();
    EXPECT_EQ(verdict.kind, row.expected == Hypervisor::kNone ? EnvironmentKind::kBareMetal
                                                              : EnvironmentKind::kVm);
  }
}

}  // namespace
