#pragma once
// Inside the environment probe: the signals as read, and the pure decision
// over them (where it looks is in environment.h).
//
// gatherSignals does all the reading; decideEnvironment and the tables below
// only look at what it read, so tests drive them with any machine they can
// describe.

#include <array>
#include <cstdint>
#include <string_view>

#include "probes/environment.h"
#include "probes/smbios_parse.h"

namespace probes {

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
  FirmwareStrings tableStrings;
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
void decideEnvironment(const Signals& signals, EnvironmentFindings& findings);

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

}  // namespace probes
