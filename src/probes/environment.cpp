#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include "common/io.h"
#include "common/owner.h"
#include "common/unique_fd.h"
#include "probes/environment_internal.h"
#include "probes/smbios_io.h"

namespace probes {
namespace {

// --- Reading ------------------------------------------------------------------

SignalState stateFromErrno(int error) {
  return error == ENOENT || error == ENOTDIR ? SignalState::kAbsent : SignalState::kUnreadable;
}

bool exists(const char* path) {
  struct stat status;
  return ::lstat(path, &status) == 0;
}

// Where a value cut to length bytes should end so that it ends with a whole
// UTF-8 character: a sequence the cut left short is dropped, rather than
// kept as a stray byte the report would show escaped. Bytes that are no
// UTF-8 at all are left as they are.
std::size_t wholeCharacterEnd(const char* text, std::size_t length) {
  std::size_t lead = length;
  while (lead > 0 && length - lead < 3 &&
         (static_cast<unsigned char>(text[lead - 1]) & 0xC0) == 0x80)
    --lead;
  if (lead == 0) return length;
  const auto c = static_cast<unsigned char>(text[lead - 1]);
  if (c < 0xC2 || c > 0xF4) return length;  // no lead byte: nothing to keep whole
  const std::size_t needed = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
  return length - (lead - 1) < needed ? lead - 1 : length;
}

// Opens a signal's file as the firmware reader opens its own, without
// blocking; only regular files count (sysfs and procfs attributes are),
// never a FIFO or a device. The descriptor, or -errno.
int openSignalFile(const char* path) {
  struct stat status;
  const int fd = openFirmwareFile(path, status);
  if (fd < 0) return fd;
  if (!S_ISREG(status.st_mode)) {
    ::close(fd);
    return -EBADFD;
  }
  return fd;
}

// The first line of a small file, as systemd's read_one_line_file takes it:
// up to a line end or a zero byte, trailing white space dropped.
template <std::size_t N>
SignalState readFirstLine(const char* path, std::array<char, N>& out) {
  out.fill('\0');
  const int opened = openSignalFile(path);
  if (opened < 0) return stateFromErrno(-opened);
  UniqueFd fd(opened);
  const ssize_t used = readFull(fd.get(), std::span(out).first(out.size() - 1));
  if (used < 0) {
    out.fill('\0');
    return stateFromErrno(static_cast<int>(-used));
  }
  std::size_t kept = static_cast<std::size_t>(used);
  if (kept == out.size() - 1) kept = wholeCharacterEnd(out.data(), kept);  // cut to fit
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(kept), out.end(), '\0');
  const std::size_t end = std::strcspn(out.data(), "\n");
  out[end] = '\0';
  std::size_t length = std::strlen(out.data());
  while (length > 0 &&
         (out[length - 1] == ' ' || out[length - 1] == '\t' || out[length - 1] == '\r'))
    out[--length] = '\0';
  return SignalState::kPresent;
}

void readText(const char* path, TextSignal& signal) {
  signal.state = readFirstLine(path, signal.value);
}

void copyText(std::string_view text, std::array<char, kEvidenceValueSize>& out) {
  out.fill('\0');
  std::size_t n = std::min(text.size(), out.size() - 1);
  if (n < text.size()) n = wholeCharacterEnd(text.data(), n);
  std::memcpy(out.data(), text.data(), n);
}

// Calls each(record) for every record of a file separated by `separator`,
// until each returns true. Records longer than the buffer are cut: only
// their beginning is seen, which holds every field this probe reads.
template <typename Each>
SignalState forEachRecord(const char* path, char separator, Each each) {
  const int opened = openSignalFile(path);
  if (opened < 0) return stateFromErrno(-opened);
  UniqueFd fd(opened);
  std::array<char, 4096> chunk;
  std::array<char, 4096> record;
  std::size_t length = 0;
  // Bounded: procfs files are small, but a file put where one belongs need not be.
  constexpr std::size_t kMaxBytes = 4u << 20;
  std::size_t total = 0;
  for (;;) {
    const ssize_t n = readSome(fd.get(), chunk);
    if (n < 0)
      return length == 0 && total == 0 ? stateFromErrno(static_cast<int>(-n))
                                       : SignalState::kPresent;
    if (n == 0) break;
    total += static_cast<std::size_t>(n);
    for (ssize_t i = 0; i < n; ++i) {
      if (chunk[static_cast<std::size_t>(i)] == separator) {
        if (each(std::string_view(record.data(), length))) return SignalState::kPresent;
        length = 0;
      } else if (length < record.size()) {
        record[length++] = chunk[static_cast<std::size_t>(i)];
      }
    }
    if (total >= kMaxBytes) break;
  }
  if (length > 0) each(std::string_view(record.data(), length));
  return SignalState::kPresent;
}

// The value of $container in PID 1's environment.
void readPid1Variable(const char* path, TextSignal& signal) {
  bool found = false;
  const SignalState state = forEachRecord(path, '\0', [&](std::string_view entry) {
    constexpr std::string_view kKey = "container=";
    if (entry.substr(0, kKey.size()) != kKey) return false;
    copyText(entry.substr(kKey.size()), signal.value);
    found = true;
    return true;
  });
  signal.state = state == SignalState::kPresent && !found ? SignalState::kAbsent : state;
}

// The first cgroup line that lies in a runtime's path.
void readCgroup(const char* path, TextSignal& signal) {
  bool found = false;
  const SignalState state = forEachRecord(path, '\n', [&](std::string_view line) {
    if (containerFromCgroupLine(line) == Container::kNone) return false;
    copyText(line, signal.value);
    found = true;
    return true;
  });
  signal.state = state == SignalState::kPresent && !found ? SignalState::kAbsent : state;
}

void readRootMount(const char* path, TextSignal& signal) {
  bool found = false;
  // The last mount on "/" is the one seen.
  const SignalState state = forEachRecord(path, '\n', [&](std::string_view line) {
    std::string_view type;
    if (rootMountType(line, type)) {
      copyText(type, signal.value);
      found = true;
    }
    return false;
  });
  signal.state = state == SignalState::kPresent && !found ? SignalState::kAbsent : state;
}

std::string_view text(const std::array<char, kEvidenceValueSize>& value) {
  return std::string_view(value.data());
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// --- Judging ------------------------------------------------------------------

class EvidenceList {
 public:
  explicit EvidenceList(EnvironmentFindings& findings) : v_(findings) {}
  // Adds one signal; returns its index, or -1 when the list is full.
  int add(Signal signal, SignalState state, std::string_view value,
          Hypervisor hypervisor = Hypervisor::kNone, Container container = Container::kNone) {
    if (v_.count >= v_.evidence.size()) return -1;
    Evidence& e = v_.evidence[v_.count];
    e.signal = signal;
    e.state = state;
    copyText(value, e.value);
    e.hypervisor = hypervisor;
    e.container = container;
    return static_cast<int>(v_.count++);
  }
  bool has(Signal signal) const {
    for (std::size_t i = 0; i < v_.count; ++i)
      if (v_.evidence[i].signal == signal) return true;
    return false;
  }
  void decide(int index) {
    if (index >= 0) v_.evidence[static_cast<std::size_t>(index)].decided = true;
  }

 private:
  EnvironmentFindings& v_;
};

struct Pick {
  Hypervisor hypervisor = Hypervisor::kNone;
  int evidence = -1;
};

// systemd's DMI step: the kernel's strings in its order, or (where the
// kernel shows none, as in a namespace with the tables alone) the tables'.
Pick decideDmi(const Signals& s, EvidenceList& list, bool& anyRead) {
  Pick pick;
  const struct {
    Signal signal;
    const TextSignal& text;
  } files[] = {{Signal::kDmiProductName, s.productName},
               {Signal::kDmiSysVendor, s.sysVendor},
               {Signal::kDmiBoardVendor, s.boardVendor},
               {Signal::kDmiBiosVendor, s.biosVendor},
               {Signal::kDmiProductVersion, s.productVersion}};
  bool filesSeen = false;
  for (const auto& f : files) {
    if (f.text.state == SignalState::kAbsent) continue;
    filesSeen = true;
    anyRead = anyRead || f.text.state == SignalState::kPresent;
    const Hypervisor h = f.text.state == SignalState::kPresent
                             ? hypervisorFromDmi(text(f.text.value))
                             : Hypervisor::kNone;
    const int index = list.add(f.signal, f.text.state, text(f.text.value), h);
    if (pick.hypervisor == Hypervisor::kNone && h != Hypervisor::kNone) pick = {h, index};
  }
  if (!filesSeen && s.smbiosTable == SignalState::kPresent) {
    anyRead = true;
    const std::string_view product = s.tableStrings.systemProduct.data();
    const std::string_view maker = s.tableStrings.systemManufacturer.data();
    const Hypervisor hp = hypervisorFromDmi(product);
    const Hypervisor hm = hypervisorFromDmi(maker);
    const int ip = list.add(Signal::kSmbiosProduct, SignalState::kPresent, product, hp);
    const int im = list.add(Signal::kSmbiosManufacturer, SignalState::kPresent, maker, hm);
    if (hp != Hypervisor::kNone)
      pick = {hp, ip};
    else if (hm != Hypervisor::kNone)
      pick = {hm, im};
    // The board and BIOS makers, as the kernel's files would have shown them.
    for (const auto& other : {s.tableStrings.boardManufacturer, s.tableStrings.biosVendor}) {
      const Hypervisor h = hypervisorFromDmi(other.data());
      if (pick.hypervisor == Hypervisor::kNone && h != Hypervisor::kNone)
        pick = {h, list.add(Signal::kSmbiosManufacturer, SignalState::kPresent, other.data(), h)};
    }
  }
  int vmBit = -1;
  if (s.smbiosTable == SignalState::kPresent && s.tableStrings.virtualMachineBit >= 0) {
    vmBit = s.tableStrings.virtualMachineBit;
  }
  const auto addVmBit = [&]() {
    return list.add(Signal::kSmbiosVmBit, SignalState::kPresent, vmBit == 1 ? "set" : "clear",
                    vmBit == 1 ? Hypervisor::kOther : Hypervisor::kNone);
  };
  // The same DMI strings on EC2's virtual and bare-metal instances: the
  // tables' VM bit tells them apart, or for a user who can't read those,
  // the ".metal" in the product name.
  if (pick.hypervisor == Hypervisor::kAmazon) {
    if (vmBit == 0) {
      list.decide(addVmBit());
      return Pick{Hypervisor::kNone, -1};
    }
    if (vmBit == 1) addVmBit();
    if (vmBit < 0) {
      const std::string_view product = text(s.productName.value);
      const std::size_t at = product.find(".metal");
      if (at != std::string_view::npos && (at + 6 == product.size() || product[at + 6] == '-'))
        return Pick{Hypervisor::kNone, -1};
    }
    return pick;
  }
  if (pick.hypervisor == Hypervisor::kNone && vmBit == 1) pick = {Hypervisor::kOther, addVmBit()};
  return pick;
}

void decideHypervisor(const Signals& s, EvidenceList& list, EnvironmentFindings& v, bool& anyRead) {
  bool hyperv = false;
  int hypervIndex = -1;
  int otherIndex = -1;
  const Pick dmi = decideDmi(s, list, anyRead);
  const auto finish = [&](Hypervisor h, int index) {
    v.hypervisor = h;
    list.decide(index);
  };
  switch (dmi.hypervisor) {
    case Hypervisor::kOracle:
    case Hypervisor::kXen:
    case Hypervisor::kAmazon:
    case Hypervisor::kParallels:
    case Hypervisor::kGoogle:
      return finish(dmi.hypervisor, dmi.evidence);
    default:
      break;
  }

  // Xen's paravirtual guests show /proc/xen; its control domain runs the
  // machine and counts as no guest.
  if (s.procXen != SignalState::kAbsent) {
    anyRead = true;
    const int index =
        list.add(Signal::kProcXen, s.procXen, s.xenControlDomain ? "control domain" : "guest",
                 s.xenControlDomain ? Hypervisor::kNone : Hypervisor::kXen);
    if (!s.xenControlDomain) return finish(Hypervisor::kXen, index);
  }

  if (s.cpuidAvailable) {
    anyRead = true;
    list.add(Signal::kCpuidHypervisorBit, SignalState::kPresent, s.hypervisorBit ? "set" : "clear");
    if (s.hypervisorBit) {
      const std::string_view vendor(s.cpuidVendor.data(), ::strnlen(s.cpuidVendor.data(), 12));
      const Hypervisor h = hypervisorFromCpuidVendor(vendor);
      const int index = list.add(Signal::kCpuidVendor, SignalState::kPresent, vendor, h);
      // QEMU offers Hyper-V's interface to Windows guests under Hyper-V's
      // name: only a last resort.
      if (h == Hypervisor::kMicrosoft) {
        hyperv = true;
        hypervIndex = index;
      } else if (h == Hypervisor::kOther) {
        otherIndex = index;
      } else {
        return finish(h, index);
      }
    }
  }
  if (s.procXen != SignalState::kAbsent && s.xenControlDomain) {
    // In the control domain, only CPUID decides.
    if (hyperv) return finish(Hypervisor::kMicrosoft, hypervIndex);
    if (otherIndex >= 0) return finish(Hypervisor::kOther, otherIndex);
    return;
  }

  if (dmi.hypervisor == Hypervisor::kOther) {
    if (otherIndex < 0) otherIndex = dmi.evidence;
  } else if (dmi.hypervisor != Hypervisor::kNone) {
    return finish(dmi.hypervisor, dmi.evidence);
  }

  if (s.hypervisorType.state != SignalState::kAbsent) {
    anyRead = true;
    const std::string_view type = text(s.hypervisorType.value);
    const Hypervisor h = s.hypervisorType.state != SignalState::kPresent ? Hypervisor::kNone
                         : type == "xen"                                 ? Hypervisor::kXen
                                                                         : Hypervisor::kOther;
    const int index = list.add(Signal::kHypervisorType, s.hypervisorType.state, type, h);
    if (h == Hypervisor::kXen) return finish(h, index);
    if (h == Hypervisor::kOther && otherIndex < 0) otherIndex = index;
  }

  if (s.deviceTreeHypervisor.state != SignalState::kAbsent) {
    anyRead = true;
    const std::string_view compatible = text(s.deviceTreeHypervisor.value);
    const Hypervisor h = s.deviceTreeHypervisor.state == SignalState::kPresent
                             ? hypervisorFromDeviceTree(compatible)
                             : Hypervisor::kNone;
    const int index =
        list.add(Signal::kDeviceTreeHypervisor, s.deviceTreeHypervisor.state, compatible, h);
    if (h == Hypervisor::kOther) {
      if (otherIndex < 0) otherIndex = index;
    } else if (h != Hypervisor::kNone) {
      return finish(h, index);
    }
  } else if (s.deviceTreeFwCfg) {
    anyRead = true;
    return finish(Hypervisor::kQemu, list.add(Signal::kDeviceTreeFwCfg, SignalState::kPresent,
                                              text(s.deviceTreeFwCfgName), Hypervisor::kQemu));
  }

  if (hyperv) return finish(Hypervisor::kMicrosoft, hypervIndex);
  if (otherIndex >= 0) return finish(Hypervisor::kOther, otherIndex);
}

void decideContainer(const Signals& s, EvidenceList& list, EnvironmentFindings& v) {
  const auto finish = [&](Container c, int index) {
    v.container = c;
    list.decide(index);
  };
  if (s.procVz && !s.procBc)
    return finish(Container::kOpenvz,
                  list.add(Signal::kOpenvz, SignalState::kPresent, "/proc/vz without /proc/bc",
                           Hypervisor::kNone, Container::kOpenvz));
  if (s.osRelease.state == SignalState::kPresent &&
      (contains(text(s.osRelease.value), "Microsoft") || contains(text(s.osRelease.value), "WSL")))
    return finish(Container::kWsl,
                  list.add(Signal::kOsRelease, SignalState::kPresent, text(s.osRelease.value),
                           Hypervisor::kNone, Container::kWsl));

  // The container files, which systemd looks at after the managers' own
  // words; "oci" names no manager and sends it to them too.
  const auto files = [&]() -> bool {
    if (s.containerenv == SignalState::kPresent) {
      finish(Container::kPodman, list.add(Signal::kContainerenv, SignalState::kPresent, "",
                                          Hypervisor::kNone, Container::kPodman));
      return true;
    }
    if (s.dockerenv == SignalState::kPresent) {
      finish(Container::kDocker, list.add(Signal::kDockerenv, SignalState::kPresent, "",
                                          Hypervisor::kNone, Container::kDocker));
      return true;
    }
    return false;
  };
  const auto named = [&](Signal signal, const TextSignal& t) {
    const std::string_view name = text(t.value);
    const Container c = name == "oci" ? Container::kNone : containerFromName(name);
    const int index = list.add(signal, SignalState::kPresent, name, Hypervisor::kNone,
                               name == "oci" ? Container::kOther : c);
    if (name == "oci") {
      if (!files()) finish(Container::kOther, index);
    } else {
      finish(c, index);
    }
  };

  bool variableChecked = false;
  if (s.containerManager.state == SignalState::kPresent && !text(s.containerManager.value).empty())
    return named(Signal::kContainerManager, s.containerManager);
  if (s.ownContainerVariable.state == SignalState::kPresent) {
    // PID 1's own word is final: empty says "no container".
    variableChecked = true;
    if (text(s.ownContainerVariable.value).empty()) {
      list.decide(list.add(Signal::kOwnContainerVariable, SignalState::kPresent, ""));
    } else {
      return named(Signal::kOwnContainerVariable, s.ownContainerVariable);
    }
  }
  if (!variableChecked) {
    if (s.systemdContainer.state == SignalState::kPresent &&
        !text(s.systemdContainer.value).empty())
      return named(Signal::kSystemdContainer, s.systemdContainer);
    if (s.pid1ContainerVariable.state == SignalState::kPresent)
      return named(Signal::kPid1ContainerVariable, s.pid1ContainerVariable);
    if (s.pid1ContainerVariable.state == SignalState::kUnreadable)
      list.add(Signal::kPid1ContainerVariable, SignalState::kUnreadable, "");
    if (files()) return;
  }

  // Beyond systemd: the runtimes' cgroup paths, where nothing above spoke.
  for (const auto& [signal, t] : {std::pair{Signal::kCgroupPid1, &s.cgroupPid1},
                                  std::pair{Signal::kCgroupSelf, &s.cgroupSelf}}) {
    if (t->state != SignalState::kPresent) continue;
    const Container c = containerFromCgroupLine(text(t->value));
    const int index = list.add(signal, SignalState::kPresent, text(t->value), Hypervisor::kNone, c);
    if (v.container == Container::kNone && !variableChecked) finish(c, index);
  }
  if (v.container != Container::kNone || variableChecked) return;
  // An overlay root is what container images are made of, and live
  // systems too: it alone makes the answer uncertain, not a container.
  const std::string_view root = text(s.rootMount.value);
  if (s.rootMount.state == SignalState::kPresent &&
      (root == "overlay" || root == "aufs" || root == "fuse-overlayfs")) {
    list.add(Signal::kRootMount, SignalState::kPresent, root);
    v.containerUncertain = true;
  }
}

// The signals present that the decision did not come to, listed all the
// same: an administrator checks the decision against every one of them.
void listTheRest(const Signals& s, EvidenceList& list) {
  if (s.cpuidAvailable && !list.has(Signal::kCpuidHypervisorBit)) {
    list.add(Signal::kCpuidHypervisorBit, SignalState::kPresent, s.hypervisorBit ? "set" : "clear");
    if (s.hypervisorBit) {
      const std::string_view vendor(s.cpuidVendor.data(), ::strnlen(s.cpuidVendor.data(), 12));
      list.add(Signal::kCpuidVendor, SignalState::kPresent, vendor,
               hypervisorFromCpuidVendor(vendor));
    }
  }
  if (s.hypervisorType.state == SignalState::kPresent && !list.has(Signal::kHypervisorType))
    list.add(Signal::kHypervisorType, SignalState::kPresent, text(s.hypervisorType.value));
  if (s.deviceTreeHypervisor.state == SignalState::kPresent &&
      !list.has(Signal::kDeviceTreeHypervisor))
    list.add(Signal::kDeviceTreeHypervisor, SignalState::kPresent,
             text(s.deviceTreeHypervisor.value),
             hypervisorFromDeviceTree(text(s.deviceTreeHypervisor.value)));
  if (s.containerenv == SignalState::kPresent && !list.has(Signal::kContainerenv))
    list.add(Signal::kContainerenv, SignalState::kPresent, "", Hypervisor::kNone,
             Container::kPodman);
  if (s.dockerenv == SignalState::kPresent && !list.has(Signal::kDockerenv))
    list.add(Signal::kDockerenv, SignalState::kPresent, "", Hypervisor::kNone, Container::kDocker);
  for (const auto& [signal, t] : {std::pair{Signal::kCgroupPid1, &s.cgroupPid1},
                                  std::pair{Signal::kCgroupSelf, &s.cgroupSelf}})
    if (t->state == SignalState::kPresent && !list.has(signal))
      list.add(signal, SignalState::kPresent, text(t->value), Hypervisor::kNone,
               containerFromCgroupLine(text(t->value)));
  if (s.rootMount.state == SignalState::kPresent && !list.has(Signal::kRootMount))
    list.add(Signal::kRootMount, SignalState::kPresent, text(s.rootMount.value));
}

}  // namespace

// --- The tables -------------------------------------------------------------------

Hypervisor hypervisorFromCpuidVendor(std::string_view vendor) {
  static constexpr struct {
    std::string_view vendor;
    Hypervisor hypervisor;
  } kTable[] = {
      {"XenVMMXenVMM", Hypervisor::kXen},    {"KVMKVMKVM", Hypervisor::kKvm},  // QEMU with KVM
      {"Linux KVM Hv", Hypervisor::kKvm},   // ... with Hyper-V's interface
      {"TCGTCGTCGTCG", Hypervisor::kQemu},  // QEMU emulating
      {"VMwareVMware", Hypervisor::kVmware}, {"Microsoft Hv", Hypervisor::kMicrosoft},
      {"bhyve bhyve ", Hypervisor::kBhyve},  {"QNXQVMBSQG", Hypervisor::kQnx},
      {"ACRNACRNACRN", Hypervisor::kAcrn},   {"SRESRESRESRE", Hypervisor::kSre},
      {"Apple VZ", Hypervisor::kApple},
  };
  for (const auto& row : kTable)
    if (vendor == row.vendor) return row.hypervisor;
  return Hypervisor::kOther;
}

Hypervisor hypervisorFromDmi(std::string_view text) {
  static constexpr struct {
    std::string_view prefix;
    Hypervisor hypervisor;
  } kTable[] = {
      {"KVM", Hypervisor::kKvm},
      {"OpenStack", Hypervisor::kKvm},
      {"KubeVirt", Hypervisor::kKvm},
      {"Amazon EC2", Hypervisor::kAmazon},
      {"QEMU", Hypervisor::kQemu},
      {"VMware", Hypervisor::kVmware},
      {"VMW", Hypervisor::kVmware},
      {"innotek GmbH", Hypervisor::kOracle},
      {"VirtualBox", Hypervisor::kOracle},
      {"Oracle Corporation", Hypervisor::kOracle},
      {"Xen", Hypervisor::kXen},
      {"Bochs", Hypervisor::kBochs},
      {"Parallels", Hypervisor::kParallels},
      {"BHYVE", Hypervisor::kBhyve},
      {"Hyper-V", Hypervisor::kMicrosoft},
      {"Apple Virtualization", Hypervisor::kApple},
      {"Google Compute Engine", Hypervisor::kGoogle},
  };
  for (const auto& row : kTable)
    if (startsWith(text, row.prefix)) return row.hypervisor;
  return Hypervisor::kNone;
}

Hypervisor hypervisorFromDeviceTree(std::string_view compatible) {
  if (compatible == "linux,kvm") return Hypervisor::kKvm;
  if (contains(compatible, "xen")) return Hypervisor::kXen;
  if (contains(compatible, "vmware")) return Hypervisor::kVmware;
  return Hypervisor::kOther;
}

Container containerFromName(std::string_view name) {
  const EnumName<Container>* entry = findEnumId(kContainerNames, name);
  if (entry == nullptr) return Container::kOther;
  switch (entry->value) {
    // Our own words, which no manager gives for itself (Kubernetes and
    // OpenVZ are told by other signals): as unknown as any other name.
    case Container::kNone:
    case Container::kOther:
    case Container::kKubernetes:
    case Container::kOpenvz:
      return Container::kOther;
    default:
      return entry->value;
  }
}

Container containerFromCgroupLine(std::string_view line) {
  // "hierarchy:controllers:path": only the path counts.
  const std::size_t first = line.find(':');
  const std::size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
  if (second == std::string_view::npos) return Container::kNone;
  const std::string_view path = line.substr(second + 1);
  // Kubernetes first: its pods run under docker or another runtime, and
  // the pod path says more.
  if (contains(path, "kubepods")) return Container::kKubernetes;
  if (contains(path, "libpod")) return Container::kPodman;
  if (contains(path, "/docker/") || contains(path, "/docker-") || startsWith(path, "/docker"))
    return Container::kDocker;
  if (contains(path, "/lxc/") || contains(path, "lxc.payload") || contains(path, "/lxc.monitor"))
    return Container::kLxc;
  if (contains(path, "machine.slice/machine-") || contains(path, "systemd-nspawn"))
    return Container::kSystemdNspawn;
  return Container::kNone;
}

bool rootMountType(std::string_view line, std::string_view& type) {
  // "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw":
  // the fifth field is the mount point; the type follows the " - ".
  std::size_t at = 0;
  std::string_view fields[5];
  for (std::string_view& field : fields) {
    const std::size_t end = line.find(' ', at);
    if (end == std::string_view::npos) return false;
    field = line.substr(at, end - at);
    at = end + 1;
  }
  if (fields[4] != "/") return false;
  const std::size_t dash = line.find(" - ", at - 1);
  if (dash == std::string_view::npos) return false;
  const std::string_view rest = line.substr(dash + 3);
  type = rest.substr(0, rest.find(' '));
  return !type.empty();
}

// --- Gathering and judging ----------------------------------------------------------

void gatherSignals(Signals& s, const EnvironmentAccess& access) {
  s = Signals{};
  const EnvironmentPaths& p = access.paths;
#if defined(__x86_64__) || defined(__i386__)
  if (access.cpuid(0, 0).eax >= 1) {
    s.cpuidAvailable = true;
    s.hypervisorBit = (access.cpuid(1, 0).ecx & 0x80000000u) != 0;
    if (s.hypervisorBit) {
      const CpuidRegisters r = access.cpuid(0x40000000u, 0);
      std::memcpy(s.cpuidVendor.data(), &r.ebx, 4);
      std::memcpy(s.cpuidVendor.data() + 4, &r.ecx, 4);
      std::memcpy(s.cpuidVendor.data() + 8, &r.edx, 4);
    }
  }
#endif
  const struct {
    const char* name;
    TextSignal& signal;
  } dmiFiles[] = {{"sys_vendor", s.sysVendor},
                  {"product_name", s.productName},
                  {"product_version", s.productVersion},
                  {"board_vendor", s.boardVendor},
                  {"bios_vendor", s.biosVendor}};
  for (const auto& f : dmiFiles) {
    std::array<char, PATH_MAX> path;
    std::snprintf(path.data(), path.size(), "%s%s", p.dmiId, f.name);
    readText(path.data(), f.signal);
  }
  std::size_t length = kMaxTableLength;
  ByteBuffer table;
  const int loaded = loadFileBytes(p.smbiosTable, length, table);
  if (loaded == 0) {
    s.smbiosTable = SignalState::kPresent;
    findFirmwareStrings(ByteView(table.get(), length), 0, 0, s.tableStrings);
  } else {
    s.smbiosTable = stateFromErrno(-loaded);
  }

  if (exists(p.procXen)) {
    s.procXen = SignalState::kPresent;
    TextSignal capabilities;
    readText(p.xenCapabilities, capabilities);
    s.xenControlDomain = capabilities.state == SignalState::kPresent &&
                         contains(text(capabilities.value), "control_d");
  }
  readText(p.hypervisorType, s.hypervisorType);
  {
    std::array<char, PATH_MAX> path;
    std::snprintf(path.data(), path.size(), "%shypervisor/compatible", p.deviceTree);
    readText(path.data(), s.deviceTreeHypervisor);
    if (DIR* dir = ::opendir(p.deviceTree)) {
      const UniqueDir owned(dir);
      while (const struct dirent* entry = ::readdir(dir)) {
        if (std::strncmp(entry->d_name, "fw-cfg", 6) == 0) {
          s.deviceTreeFwCfg = true;
          copyText(entry->d_name, s.deviceTreeFwCfgName);
          break;
        }
      }
    }
  }

  s.procVz = exists(p.procVz);
  s.procBc = exists(p.procBc);
  readText(p.osRelease, s.osRelease);
  readText(p.containerManager, s.containerManager);
  const bool pid1 = access.isPid1 != nullptr ? access.isPid1() : ::getpid() == 1;
  if (pid1) {
    const char* value =
        access.getenv != nullptr ? access.getenv("container") : std::getenv("container");
    if (value != nullptr) {
      s.ownContainerVariable.state = SignalState::kPresent;
      copyText(value, s.ownContainerVariable.value);
    }
  }
  readText(p.systemdContainer, s.systemdContainer);
  readPid1Variable(p.pid1Environ, s.pid1ContainerVariable);
  s.containerenv = exists(p.containerenv) ? SignalState::kPresent : SignalState::kAbsent;
  s.dockerenv = exists(p.dockerenv) ? SignalState::kPresent : SignalState::kAbsent;
  readCgroup(p.pid1Cgroup, s.cgroupPid1);
  readCgroup(p.selfCgroup, s.cgroupSelf);
  readRootMount(p.mountinfo, s.rootMount);
}

void decideEnvironment(const Signals& s, EnvironmentFindings& v) {
  v = EnvironmentFindings{};
  EvidenceList list(v);
  bool anyRead = false;
  decideHypervisor(s, list, v, anyRead);
  decideContainer(s, list, v);
  listTheRest(s, list);
  const bool vm = v.hypervisor != Hypervisor::kNone;
  const bool container = v.container != Container::kNone;
  if (vm && container)
    v.kind = EnvironmentKind::kContainerInVm;
  else if (vm)
    v.kind = EnvironmentKind::kVm;
  else if (container)
    v.kind = EnvironmentKind::kContainer;
  else
    v.kind = anyRead ? EnvironmentKind::kBareMetal : EnvironmentKind::kUnknown;
}

void detectEnvironment(EnvironmentFindings& findings, const EnvironmentAccess& access) {
  Signals signals;
  gatherSignals(signals, access);
  decideEnvironment(signals, findings);
}

void detectEnvironment(EnvironmentFindings& findings) {
  detectEnvironment(findings, EnvironmentAccess{});
}

}  // namespace probes
