#include "probes/netscan_internal.h"

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/owner.h"
#include "common/unique_fd.h"

namespace probes {

namespace {

// ethtool_perm_addr is a header with a flexible data array; the request is
// that header followed by room for 32 address bytes.
constexpr std::size_t kPermAddrDataSize = 32;
struct PermanentAddressRequest {
  std::array<std::uint8_t, sizeof(struct ethtool_perm_addr) + kPermAddrDataSize> bytes;
  static_assert(offsetof(struct ethtool_perm_addr, data) == sizeof(struct ethtool_perm_addr));
};

bool allZero(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

// An interface request with the name in place: the rest of the 16-byte
// field stays zero, so the kernel always sees a terminated name.
struct ifreq interfaceRequest(const char* name) {
  struct ifreq request;
  std::memset(&request, 0, sizeof request);
  std::memcpy(request.ifr_name, name, ::strnlen(name, IFNAMSIZ - 1));
  return request;
}

// The names gathered so far, freed unless handed on: one slot more for
// each, so the array is exactly as long as the count handed on.
using NameList = UniqueMallocArray<char>;

bool appendName(NameList& names, const char* name) {
  const std::size_t count = names.get_deleter().count;
  auto** grown = static_cast<char**>(std::realloc(names.get(), (count + 1) * sizeof(char*)));
  if (grown == nullptr) return false;
  (void)names.release();  // realloc has taken the old array over
  names.reset(grown);
  char* copy = ::strdup(name);
  if (copy == nullptr) return false;
  grown[count] = copy;
  names.get_deleter().count = count + 1;
  return true;
}

}  // namespace

// Root, a 255-character name and a suffix always fit; a root so long that
// they would not is treated as having no such directory.
bool interfaceHasDirectory(const char* root, const char* name, const char* suffix) {
  std::array<char, PATH_MAX> path;
  const int length = std::snprintf(path.data(), path.size(), "%s%s/%s", root, name, suffix);
  if (length < 0 || static_cast<std::size_t>(length) >= path.size()) return false;
  struct stat status;
  return ::stat(path.data(), &status) == 0 && S_ISDIR(status.st_mode);
}

NameFilter classifyInterfaceName(const char* name) {
  if (name[0] == '.') return NameFilter::kHidden;
  if (std::strncmp(name, "lo", 2) == 0) return NameFilter::kLoopback;
  if (std::strncmp(name, "dummy", 5) == 0) return NameFilter::kDummy;
  return NameFilter::kPasses;
}

ScannedInterface* addScannedInterface(ScanObservation& observation) {
  if (observation.count == observation.capacity) {
    const std::size_t capacity = observation.capacity == 0 ? 64 : 2 * observation.capacity;
    auto* grown = static_cast<ScannedInterface*>(
        std::realloc(observation.interfaces.get(), capacity * sizeof(ScannedInterface)));
    if (grown == nullptr) {
      ++observation.dropped;
      return nullptr;
    }
    (void)observation.interfaces.release();  // realloc has taken the old array over
    observation.interfaces.reset(grown);
    observation.capacity = capacity;
  }
  ScannedInterface* entry = &observation.interfaces[observation.count++];
  *entry = ScannedInterface{};
  return entry;
}

int realSocket(int domain, int type, int protocol) { return ::socket(domain, type, protocol); }

int realIoctl(int fd, unsigned long request, void* argument) {
  return ::ioctl(fd, request, argument);
}

int compareInterfaceNames(const struct dirent** a, const struct dirent** b) {
  const char* nameA = (*a)->d_name;
  const char* nameB = (*b)->d_name;
  for (const char* prefix : {"ath", "eth"}) {
    bool aHas = std::strncmp(nameA, prefix, 3) == 0;
    bool bHas = std::strncmp(nameB, prefix, 3) == 0;
    if (aHas != bHas) return aHas ? -1 : 1;
  }
  return std::strcmp(nameA, nameB);
}

PermanentMacResult getPermanentMacAddress(const char* name, MacAddressSpan address,
                                          const NetAccess& access) {
  UniqueFd socket(access.openSocket(AF_INET, SOCK_DGRAM, 0));
  if (!socket.valid()) return PermanentMacResult::kNoSocket;

  // The kernel's own header, in the machine's byte order, then the room the
  // kernel may fill.
  const struct ethtool_perm_addr header = {.cmd = ETHTOOL_GPERMADDR, .size = kPermAddrDataSize};
  alignas(struct ethtool_perm_addr) PermanentAddressRequest permAddr{};
  std::memcpy(permAddr.bytes.data(), &header, sizeof header);
  struct ifreq request = interfaceRequest(name);
  request.ifr_data = reinterpret_cast<char*>(permAddr.bytes.data());

  int result = access.ioctl(socket.get(), SIOCETHTOOL, &request);
  // The returned length is not consulted: only six bytes are ever used.
  auto data =
      std::span(permAddr.bytes).subspan<sizeof(struct ethtool_perm_addr), kMacAddressSize>();
  if (result < 0 || allZero(data)) return PermanentMacResult::kNotFound;
  std::copy(data.begin(), data.end(), address.begin());
  return PermanentMacResult::kFound;
}

int getCurrentMacAddress(const char* name, MacAddressSpan address, const NetAccess& access) {
  UniqueFd socket(access.openSocket(AF_INET, SOCK_DGRAM, 0));
  if (!socket.valid()) return -1;

  struct ifreq request = interfaceRequest(name);
  if (access.ioctl(socket.get(), SIOCGIFHWADDR, &request) < 0) return -1;
  std::array<std::uint8_t, kMacAddressSize> current;
  std::memcpy(current.data(), request.ifr_hwaddr.sa_data, current.size());
  if (allZero(current)) return -1;
  std::copy(current.begin(), current.end(), address.begin());
  return 0;
}

InterfaceKind classifyInterface(const char* name, const NetAccess& access) {
  if (classifyInterfaceName(name) != NameFilter::kPasses) return InterfaceKind::kFilteredOut;
  std::array<std::uint8_t, kMacAddressSize> address;
  PermanentMacResult permanent = getPermanentMacAddress(name, address, access);
  bool hasAddress =
      permanent == PermanentMacResult::kFound ||
      (permanent == PermanentMacResult::kNotFound && getCurrentMacAddress(name, address, access) == 0);
  if (!hasAddress) return InterfaceKind::kNoAddress;
  if (interfaceHasDirectory(access.classNetRoot, name, "device") ||
      interfaceHasDirectory(access.classNetRoot, name, "wireless"))
    return InterfaceKind::kCard;
  return InterfaceKind::kNoDevice;
}

int getNetworkInterfaces(char*** names, const NetAccess& access, ScanObservation* observation) {
  *names = nullptr;
  // The first interface with an address but no device behind it; it stands
  // in only when no real card turns up.
  std::array<char, 256> fallbackName{};

  struct dirent** entries = nullptr;
  int entryCount = ::scandir(access.classNetRoot, &entries, nullptr, compareInterfaceNames);
  if (entryCount <= 0) {
    if (observation != nullptr) observation->error = entryCount < 0 ? errno : 0;
    std::free(entries);
    if (access.printMessages) std::puts("Unable to read interfaces list");
    return -1;
  }
  if (observation != nullptr) observation->listed = true;
  // Each entry is freed as soon as the scan is done with it, whatever is
  // left when the owner goes.
  const UniqueMallocArray<struct dirent> listing(
      entries, FreeEach<struct dirent>{static_cast<std::size_t>(entryCount)});
  NameList accepted;

  for (int i = 0; i < entryCount; ++i) {
    const char* name = listing.get()[i]->d_name;
    const InterfaceKind kind = classifyInterface(name, access);
    ScannedInterface* seen = observation != nullptr ? addScannedInterface(*observation) : nullptr;
    if (seen != nullptr) {
      std::snprintf(seen->name.data(), seen->name.size(), "%s", name);
      seen->kind = kind;
      seen->filter = classifyInterfaceName(name);
    }
    switch (kind) {
      case InterfaceKind::kCard:
        if (!appendName(accepted, name)) return -1;
        break;
      case InterfaceKind::kNoDevice:
        if (fallbackName[0] == '\0')
          std::snprintf(fallbackName.data(), fallbackName.size(), "%s", name);
        break;
      case InterfaceKind::kFilteredOut:
      case InterfaceKind::kNoAddress:
        break;
    }
    std::free(listing.get()[i]);
    listing.get()[i] = nullptr;
  }

  if (accepted.get_deleter().count == 0 && fallbackName[0] != '\0' &&
      !appendName(accepted, fallbackName.data()))
    return -1;
  const int count = static_cast<int>(accepted.get_deleter().count);
  if (count > 0) *names = accepted.release();
  return count;
}

int getFirstNetworkInterface(std::span<char, kInterfaceNameBufferSize> buffer,
                             const NetAccess& access, ScanObservation* observation) {
  char** list = nullptr;
  const int count = getNetworkInterfaces(&list, access, observation);
  if (count <= 0) return -1;
  const UniqueMallocArray<char> names(list, FreeEach<char>{static_cast<std::size_t>(count)});
  std::snprintf(buffer.data(), buffer.size(), "%s", names.get()[0]);
  return 0;
}

PermanentMacResult getPermanentMacAddress(const char* name, MacAddressSpan address) {
  return getPermanentMacAddress(name, address, NetAccess{});
}

int getCurrentMacAddress(const char* name, MacAddressSpan address) {
  return getCurrentMacAddress(name, address, NetAccess{});
}

int getNetworkInterfaces(char*** names) { return getNetworkInterfaces(names, NetAccess{}); }

int getFirstNetworkInterface(std::span<char, kInterfaceNameBufferSize> buffer) {
  return getFirstNetworkInterface(buffer, NetAccess{});
}

}  // namespace probes
