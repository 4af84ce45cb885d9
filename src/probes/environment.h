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

namespace environment {

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

enum class Kind : std::uint8_t {
  kUnknown,  // no signal of a hypervisor could be read at all
  kBareMetal,
  kVm,
  kContainer,
  kContainerInVm,
};

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

enum class SignalState : std::uint8_t {
  kAbsent,      // looked for, not there
  kPresent,     // there; value holds what it said
  kUnreadable,  // there, but this user may not read it: unknown
};

inline constexpr std::size_t kEvidenceValueSize = 128;

// One signal as the verdict saw it, and what it points to.
struct Evidence {
  Signal signal = Signal::kCpuidHypervisorBit;
  SignalState state = SignalState::kAbsent;
  std::array<char, kEvidenceValueSize> value{};  // as read, cut to fit
  Hypervisor hypervisor = Hypervisor::kNone;     // what it names, if a hypervisor
  Container container = Container::kNone;        // what it names, if a container
  bool decided = false;                          // the signal the verdict was taken from
};

struct EnvironmentVerdict {
  Kind kind = Kind::kUnknown;
  Hypervisor hypervisor = Hypervisor::kNone;
  Container container = Container::kNone;
  // Whether $container of PID 1 could not be read (not root, no container
  // found otherwise): the container answer is then not certain.
  bool containerUncertain = false;
  static constexpr std::size_t kMaxEvidence = 32;
  std::array<Evidence, kMaxEvidence> evidence{};
  std::size_t count = 0;
};

// Gathers the signals from the fixed places and judges them.
void detectEnvironment(EnvironmentVerdict& verdict);

}  // namespace environment
