#pragma once
// Inside the environment probe: where it looks (replaceable by tests), the
// signals as read, and the pure judgement over them.
//
// gatherSignals does all the reading; decideEnvironment and the tables below
// only look at what it read, so tests drive them with any machine they can
// describe.

#include <array>
#include <cstdint>
#include <string_view>

#include "probes/environment.h"
#include "probes/smbios_io.h"
#include "probes/smbios_parse.h"

#if defined(__x86_64__) || defined(__i386__)
#include "probes/cpu_signature_internal.h"
#endif

namespace environment {

struct EnvironmentPaths {
  // The kernel's DMI strings; /sys/class/dmi/id links here. Ends with '/'.
  const char* dmiId = "/sys/devices/virtual/dmi/id/";
  const char* smbiosTable = smbios::kSysfsTablePath;
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

// One file's answer.
struct TextSignal {
  SignalState state = SignalState::kAbsent;
  std::array<char, kEvidenceValueSize> value{};
};

// Everything read, before any judgement.
struct Signals {
  bool cpuidAvailable = false;  // x86: CPUID answered leaf 1
  bool hypervisorBit = false;
  std::array<char, 13> cpuidVendor{};  // leaf 0x40000000, when the bit is set
  TextSignal sysVendor;
  TextSignal productName;
  TextSignal productVersion;
  TextSignal boardVendor;
  TextSignal biosVendor;
  SignalState smbiosTable = SignalState::kAbsent;  // the tables themselves (root only)
  smbios::FirmwareStrings tableStrings;
  SignalState procXen = SignalState::kAbsent;
  bool xenControlDomain = false;  // "control_d" in /proc/xen/capabilities
  TextSignal hypervisorType;
  TextSignal deviceTreeHypervisor;
  bool deviceTreeFwCfg = false;
  std::array<char, kEvidenceValueSize> deviceTreeFwCfgName{};
  bool procVz = false;
  bool procBc = false;
  TextSignal osRelease;
  TextSignal containerManager;
  TextSignal ownContainerVariable;  // only when this process is PID 1
  TextSignal systemdContainer;
  TextSignal pid1ContainerVariable;  // kAbsent: readable, no such variable
  SignalState containerenv = SignalState::kAbsent;
  SignalState dockerenv = SignalState::kAbsent;
  TextSignal cgroupPid1;  // the first line that names a runtime
  TextSignal cgroupSelf;
  TextSignal rootMount;  // the file system type mounted on /
};

void gatherSignals(Signals& signals, const EnvironmentAccess& access);
void decideEnvironment(const Signals& signals, Findings& findings);
void detectEnvironment(Findings& findings, const EnvironmentAccess& access);

// --- The tables ---------------------------------------------------------------

// CPUID leaf 0x40000000's twelve characters (shorter ones end at a zero
// byte), matched whole: kOther for any other hypervisor.
Hypervisor hypervisorFromCpuidVendor(std::string_view vendor);
// A DMI or SMBIOS vendor or product string, matched by its beginning:
// kNone when it names no hypervisor.
Hypervisor hypervisorFromDmi(std::string_view text);
// /proc/device-tree/hypervisor/compatible.
Hypervisor hypervisorFromDeviceTree(std::string_view compatible);
// A container manager's name ($container, /run/systemd/container): kOther
// for a name not known; "oci" is no manager and is left to the caller.
Container containerFromName(std::string_view name);
// One line of a cgroup file ("0::/docker/0123..."): the runtime whose path
// it is in, or kNone.
Container containerFromCgroupLine(std::string_view line);
// One line of mountinfo: true and the file system type when its mount
// point is "/".
bool rootMountType(std::string_view line, std::string_view& type);

}  // namespace environment
