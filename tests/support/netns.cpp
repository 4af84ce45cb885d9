#include "support/netns.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/namespace.h"

#if defined(__SANITIZE_ADDRESS__)
#define ORLIM_TEST_HAS_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORLIM_TEST_HAS_LSAN 1
#endif
#endif
#ifdef ORLIM_TEST_HAS_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace orlimtest {
namespace {

constexpr const char* kClassNet = "/sys/class/net";

std::string quoted(const std::string& word) {
  std::string out = "'";
  for (char c : word) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

bool run(const std::string& commandLine) {
  if (shell(commandLine) == 0) return true;
  std::fprintf(stderr, "netns: failed: %s\n", commandLine.c_str());
  return false;
}

bool complain(const std::string& what) {
  std::fprintf(stderr, "netns: %s: %s\n", what.c_str(), std::strerror(errno));
  return false;
}

// Switching IPv6 off before the cards exist keeps them from ever sending
// router or neighbour solicitations. A kernel without IPv6 has nothing to
// switch off.
bool disableIpv6() {
  for (const char* path : {"/proc/sys/net/ipv6/conf/all/disable_ipv6",
                           "/proc/sys/net/ipv6/conf/default/disable_ipv6"}) {
    int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
      if (errno == ENOENT) continue;
      return complain(path);
    }
    bool ok = ::write(fd, "1", 1) == 1;
    ::close(fd);
    if (!ok) return complain(path);
  }
  return true;
}

bool create(const FakeInterface& card) {
  const std::string name = quoted(card.name);
  switch (card.kind) {
    case InterfaceKind::kTap:
      return run("ip tuntap add " + name + " mode tap");
    case InterfaceKind::kTun:
      return run("ip tuntap add " + name + " mode tun");
    case InterfaceKind::kBridge:
      return run("ip link add " + name + " type bridge");
    case InterfaceKind::kVeth:
      return run("ip link add " + name + " type veth peer name " + quoted(card.peer));
    case InterfaceKind::kExisting:
      return true;
  }
  return false;
}

bool configure(const FakeInterface& card) {
  const std::string name = quoted(card.name);
  if (!card.mac.empty() && !run("ip link set dev " + name + " address " + quoted(card.mac)))
    return false;
  for (const std::string& address : card.ipv4)
    if (!run("ip addr add " + quoted(address) + " dev " + name)) return false;
  return true;
}

struct ClassNetEntry {
  std::string name;
  std::string linkTarget;  // as the kernel wrote it, relative
  std::string realDir;     // absolute path of the interface's sysfs directory
};

bool listClassNet(std::vector<ClassNetEntry>& entries) {
  DIR* dir = ::opendir(kClassNet);
  if (dir == nullptr) return complain(kClassNet);
  bool ok = true;
  while (const struct dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string path = std::string(kClassNet) + "/" + name;
    char target[PATH_MAX];
    ssize_t length = ::readlink(path.c_str(), target, sizeof target - 1);
    char* real = ::realpath(path.c_str(), nullptr);
    if (length < 0 || real == nullptr) {
      std::free(real);
      ok = complain(path);
      break;
    }
    entries.push_back({name, std::string(target, static_cast<std::size_t>(length)), real});
    std::free(real);
  }
  ::closedir(dir);
  return ok;
}

// A real directory standing for the card: links to its real attributes,
// then the entry that makes it look backed by hardware.
bool buildBackedDirectory(const ClassNetEntry& entry, Backing backing) {
  const std::string dir = std::string(kClassNet) + "/" + entry.name;
  if (::mkdir(dir.c_str(), 0755) != 0) return complain(dir);
  DIR* real = ::opendir(entry.realDir.c_str());
  if (real == nullptr) return complain(entry.realDir);
  bool ok = true;
  while (const struct dirent* attribute = ::readdir(real)) {
    std::string attributeName = attribute->d_name;
    if (attributeName == "." || attributeName == "..") continue;
    std::string from = entry.realDir + "/" + attributeName;
    std::string to = dir + "/" + attributeName;
    if (::symlink(from.c_str(), to.c_str()) != 0) {
      ok = complain(to);
      break;
    }
  }
  ::closedir(real);
  if (!ok) return false;

  const std::string device = dir + "/device";
  switch (backing) {
    case Backing::kNone:
      return true;
    case Backing::kDeviceDir:
      return ::mkdir(device.c_str(), 0755) == 0 || complain(device);
    case Backing::kDeviceLink:
      return ::symlink("/sys/devices/system", device.c_str()) == 0 || complain(device);
    case Backing::kDeviceFile: {
      int fd = ::open(device.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd < 0) return complain(device);
      ::close(fd);
      return true;
    }
    case Backing::kWirelessDir: {
      const std::string wireless = dir + "/wireless";
      return ::mkdir(wireless.c_str(), 0755) == 0 || complain(wireless);
    }
    case Backing::kVirtualFunction: {
      // An SR-IOV virtual function's PCI device links its physical function.
      const std::string physfn = device + "/physfn";
      return (::mkdir(device.c_str(), 0755) == 0 || complain(device)) &&
             (::symlink("/sys/devices/system", physfn.c_str()) == 0 || complain(physfn));
    }
  }
  return false;
}

// sysfs refuses new entries, so the backed cards live on a tmpfs laid over
// /sys/class/net that mirrors everything else.
bool rebuildClassNet(std::span<const FakeInterface> interfaces) {
  std::vector<ClassNetEntry> entries;
  if (!listClassNet(entries)) return false;
  if (::mount("tmpfs", kClassNet, "tmpfs", 0, "mode=0755") != 0)
    return complain("mount tmpfs on /sys/class/net");
  for (const ClassNetEntry& entry : entries) {
    auto card = std::find_if(interfaces.begin(), interfaces.end(),
                             [&](const FakeInterface& c) { return c.name == entry.name; });
    Backing backing = card == interfaces.end() ? Backing::kNone : card->backing;
    if (backing == Backing::kNone) {
      std::string link = std::string(kClassNet) + "/" + entry.name;
      if (::symlink(entry.linkTarget.c_str(), link.c_str()) != 0) return complain(link);
    } else if (!buildBackedDirectory(entry, backing)) {
      return false;
    }
  }
  return true;
}

std::string readBack(int fd) {
  ::lseek(fd, 0, SEEK_SET);
  return readAll(fd);
}

}  // namespace

FakeInterface tapInterface(std::string name) {
  FakeInterface card;
  card.name = std::move(name);
  card.kind = InterfaceKind::kTap;
  return card;
}

FakeInterface tunInterface(std::string name) {
  FakeInterface card = tapInterface(std::move(name));
  card.kind = InterfaceKind::kTun;
  return card;
}

FakeInterface bridgeInterface(std::string name) {
  FakeInterface card = tapInterface(std::move(name));
  card.kind = InterfaceKind::kBridge;
  return card;
}

FakeInterface vethPair(std::string name, std::string peer) {
  FakeInterface card = tapInterface(std::move(name));
  card.kind = InterfaceKind::kVeth;
  card.peer = std::move(peer);
  return card;
}

FakeInterface existingInterface(std::string name) {
  FakeInterface card = tapInterface(std::move(name));
  card.kind = InterfaceKind::kExisting;
  return card;
}

bool setUpInterfaces(std::span<const FakeInterface> interfaces) {
  if (!disableIpv6()) return false;
  for (const FakeInterface& card : interfaces)
    if (!create(card)) return false;
  for (const FakeInterface& card : interfaces)
    if (!configure(card)) return false;
  bool backed = std::any_of(interfaces.begin(), interfaces.end(),
                            [](const FakeInterface& c) { return c.backing != Backing::kNone; });
  return !backed || rebuildClassNet(interfaces);
}

CapturedOutput captureOutput(const std::function<void()>& code) {
  CapturedOutput captured;
  int out = ::memfd_create("captured-stdout", MFD_CLOEXEC);
  int err = ::memfd_create("captured-stderr", MFD_CLOEXEC);
  int savedOut = ::dup(1);
  int savedErr = ::dup(2);
  if (out < 0 || err < 0 || savedOut < 0 || savedErr < 0) {
    std::perror("captureOutput");
    std::abort();
  }
  std::fflush(nullptr);
  ::dup2(out, 1);
  ::dup2(err, 2);
  code();
  std::fflush(nullptr);
  ::dup2(savedOut, 1);
  ::dup2(savedErr, 2);
  captured.out = readBack(out);
  captured.err = readBack(err);
  for (int fd : {out, err, savedOut, savedErr}) ::close(fd);
  return captured;
}

bool leaksFound() {
#ifdef ORLIM_TEST_HAS_LSAN
  return __lsan_do_recoverable_leak_check() != 0;
#else
  return false;
#endif
}

}  // namespace orlimtest
