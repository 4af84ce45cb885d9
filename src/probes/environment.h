#pragma once
// Where the machine identity is being read: on bare metal, in a virtual
// machine, in a container, or in a container inside a virtual machine, and
// the signals that say so. orlim-inspect reports it; orlim never asks.
//
// The answers follow systemd-detect-virt: the same signals, asked in the
// same order, give the same names wherever both answer. A few signals it
// doesn't look at (the container runtimes' cgroup paths, the root mount)
// are reported besides, and decide only where nothing else does.

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/enum_names.h"
#include "probes/smbios_io.h"

#if defined(__x86_64__) || defined(__i386__)
#include "probes/cpu_signature_internal.h"  // the CPUID a test replaces
#endif

namespace probes {

// Named as systemd-detect-virt names them.
enum class Hypervisor : std::uint8_t {
  kNone,
  kKvm,
  kQemu,
  kVmware,
  kMicrosoft,
  kXen,
  kOracle,
  kAmazon,
  kGoogle,
  kBhyve,
  kParallels,
  kBochs,
  kQnx,
  kAcrn,
  kApple,
  kSre,
  kOther,  // a hypervisor is there, but it doesn't say which
};

// The names systemd-detect-virt prints, so that scripts can compare.
inline constexpr std::array<EnumName<Hypervisor>, 17> kHypervisorNames{{
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
static_assert(enumIdsWellFormed(kHypervisorNames));
static_assert(enumTableComplete(kHypervisorNames, Hypervisor::kOther));

enum class Container : std::uint8_t {
  kNone,
  kDocker,
  kPodman,
  kLxc,
  kLxcLibvirt,
  kSystemdNspawn,
  kKubernetes,
  kOpenvz,
  kWsl,
  kRkt,
  kProot,
  kPouch,
  kOther,  // a container, of no known runtime
};

// The identifiers are the names the runtimes give themselves in $container
// and /run/systemd/container, which containerFromName reads back here.
inline constexpr std::array<EnumName<Container>, 13> kContainerNames{{
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
static_assert(enumIdsWellFormed(kContainerNames));
static_assert(enumTableComplete(kContainerNames, Container::kOther));

enum class EnvironmentKind : std::uint8_t {
  kUnknown,  // no signal of a hypervisor could be read at all
  kBareMetal,
  kVm,
  kContainer,
  kContainerInVm,
};

inline constexpr std::array<EnumName<EnvironmentKind>, 5> kEnvironmentKindNames{{
    {EnvironmentKind::kUnknown, "unknown", "unknown (no signal of a hypervisor could be read)"},
    {EnvironmentKind::kBareMetal, "bare-metal", "bare metal"},
    {EnvironmentKind::kVm, "vm", "virtual machine"},
    {EnvironmentKind::kContainer, "container", "container"},
    {EnvironmentKind::kContainerInVm, "container-in-vm", "container in a virtual machine"},
}};
static_assert(enumIdsWellFormed(kEnvironmentKindNames));
static_assert(enumTableComplete(kEnvironmentKindNames, EnvironmentKind::kContainerInVm));

// The signals, each one place to look.
enum class Signal : std::uint8_t {
  kCpuidHypervisorBit,     // CPUID leaf 1, ECX bit 31
  kCpuidVendor,            // CPUID leaf 0x40000000, EBX ECX EDX
  kDmiSysVendor,           // /sys/class/dmi/id/sys_vendor (world-readable)
  kDmiProductName,         // .../product_name
  kDmiProductVersion,      // .../product_version
  kDmiBoardVendor,         // .../board_vendor
  kDmiBiosVendor,          // .../bios_vendor
  kSmbiosManufacturer,     // the tables' type-1 manufacturer (root only)
  kSmbiosProduct,          // the tables' type-1 product name
  kSmbiosVmBit,            // the tables' BIOS "virtual machine" characteristic
  kProcXen,                // /proc/xen, and whether it is the control domain
  kHypervisorType,         // /sys/hypervisor/type
  kDeviceTreeHypervisor,   // /proc/device-tree/hypervisor/compatible
  kDeviceTreeFwCfg,        // a QEMU fw-cfg node in the device tree
  kOpenvz,                 // /proc/vz without /proc/bc
  kOsRelease,              // /proc/sys/kernel/osrelease naming WSL
  kContainerManager,       // /run/host/container-manager
  kOwnContainerVariable,   // $container of this process, when it is PID 1
  kSystemdContainer,       // /run/systemd/container
  kPid1ContainerVariable,  // $container of PID 1 (/proc/1/environ, root only)
  kContainerenv,           // /run/.containerenv
  kDockerenv,              // /.dockerenv
  kCgroupPid1,             // a runtime's path in /proc/1/cgroup
  kCgroupSelf,             // a runtime's path in /proc/self/cgroup
  kRootMount,              // the file system type of / in /proc/self/mountinfo
};

// Phrase: where the signal is, for a person to look there too.
inline constexpr std::array<EnumName<Signal>, 25> kSignalNames{{
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
static_assert(enumIdsWellFormed(kSignalNames));
static_assert(enumTableComplete(kSignalNames, Signal::kRootMount));

enum class SignalState : std::uint8_t {
  kAbsent,      // looked for, not there
  kPresent,     // there; value holds what it said
  kUnreadable,  // there, but refused to this reader: unknown
};

inline constexpr std::array<EnumName<SignalState>, 3> kSignalStateNames{{
    {SignalState::kAbsent, "absent", "absent"},
    {SignalState::kPresent, "present", "present"},
    {SignalState::kUnreadable, "unreadable", "unknown (this user may not read it)"},
}};
static_assert(enumIdsWellFormed(kSignalStateNames));
static_assert(enumTableComplete(kSignalStateNames, SignalState::kUnreadable));

inline constexpr std::size_t kEvidenceValueSize = 128;

// One signal as the decision saw it, and what it points to.
struct Evidence {
  Signal signal = Signal::kCpuidHypervisorBit;
  SignalState state = SignalState::kAbsent;
  std::array<char, kEvidenceValueSize> value{};  // as read, cut to fit
  Hypervisor hypervisor = Hypervisor::kNone;     // what it names, if a hypervisor
  Container container = Container::kNone;        // what it names, if a container
  bool decided = false;                          // the signal the decision was taken from
};

// What the environment probe found: where it runs, and the signals that say so.
struct EnvironmentFindings {
  EnvironmentKind kind = EnvironmentKind::kUnknown;
  Hypervisor hypervisor = Hypervisor::kNone;
  Container container = Container::kNone;
  // Whether $container of PID 1 could not be read (not root, no container
  // found otherwise): the container answer is then not certain.
  bool containerUncertain = false;
  static constexpr std::size_t kMaxEvidence = 32;
  std::array<Evidence, kMaxEvidence> evidence{};
  std::size_t count = 0;
};

// Where the probe looks, replaceable by tests (orlim-inspect takes the
// defaults).
struct EnvironmentPaths {
  // The kernel's DMI strings; /sys/class/dmi/id links here. Ends with '/'.
  const char* dmiId = "/sys/devices/virtual/dmi/id/";
  const char* smbiosTable = kSysfsTablePath;
  const char* procXen = "/proc/xen";
  const char* xenCapabilities = "/proc/xen/capabilities";
  const char* hypervisorType = "/sys/hypervisor/type";
  const char* deviceTree = "/proc/device-tree/";  // ends with '/'
  const char* procVz = "/proc/vz";
  const char* procBc = "/proc/bc";
  const char* osRelease = "/proc/sys/kernel/osrelease";
  const char* containerManager = "/run/host/container-manager";
  const char* systemdContainer = "/run/systemd/container";
  const char* pid1Environ = "/proc/1/environ";
  const char* containerenv = "/run/.containerenv";
  const char* dockerenv = "/.dockerenv";
  const char* pid1Cgroup = "/proc/1/cgroup";
  const char* selfCgroup = "/proc/self/cgroup";
  const char* mountinfo = "/proc/self/mountinfo";
};

// How the probe reaches what isn't a file.
struct EnvironmentAccess {
  EnvironmentPaths paths;
#if defined(__x86_64__) || defined(__i386__)
  CpuidFunction cpuid = executeCpuid;
#endif
  bool (*isPid1)() = nullptr;                    // null: getpid() == 1
  const char* (*getenv)(const char*) = nullptr;  // null: the process's own
};

// Gathers the signals and decides: from the fixed places, or through access.
void detectEnvironment(EnvironmentFindings& findings);
void detectEnvironment(EnvironmentFindings& findings, const EnvironmentAccess& access);

}  // namespace probes
