#include "probes/legacy_id_internal.h"
#include "probes/netscan_internal.h"

#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "common/owner.h"

namespace probes {

namespace {

constexpr const char kFallbackId[] = "1234567890";

std::size_t bufferSize(int size) { return size > 0 ? static_cast<std::size_t>(size) : 0; }

int writeFallbackId(char* buffer, int size) {
  return std::snprintf(buffer, bufferSize(size), "%s", kFallbackId);
}

}  // namespace

int formatLegacySystemId(char* buffer, int size,
                         std::span<const std::uint8_t, kMacAddressSize> address,
                         std::int64_t signature) {
  return std::snprintf(buffer, bufferSize(size), "%02X%02X%02X%02X%08X",
                       static_cast<unsigned>((address[2] + 0x12) & 0xFF),
                       static_cast<unsigned>((address[3] + 3) & 0xFF),
                       static_cast<unsigned>((address[4] + 6) & 0xFF),
                       static_cast<unsigned>((address[5] + 2) & 0xFF),
                       static_cast<unsigned>(static_cast<std::uint32_t>(signature)));
}

int getIpv4AddressBytes(const char* name, MacAddressSpan address) {
  struct ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return -1;
  const UniqueIfAddrs addresses(list);
  for (const struct ifaddrs* entry = addresses.get(); entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || std::strcmp(entry->ifa_name, name) != 0 ||
        entry->ifa_addr->sa_family != AF_INET)
      continue;
    std::array<char, NI_MAXHOST> host;
    if (::getnameinfo(entry->ifa_addr, sizeof(struct sockaddr_in), host.data(), host.size(),
                      nullptr, 0, NI_NUMERICHOST) != 0)
      return -1;
    int octets[4];
    if (std::sscanf(host.data(), "%d.%d.%d.%d", &octets[0], &octets[1], &octets[2], &octets[3]) < 4)
      continue;
    for (std::size_t i = 0; i < 4; ++i)
      address[2 + i] = static_cast<std::uint8_t>(octets[i] & 0xFF);
    return 0;
  }
  return -1;
}

int snprintLegacySystemId(char* buffer, int size, const LegacyIdAccess& access,
                          LegacyIdObservation* observation) {
  std::array<char, kInterfaceNameBufferSize> name{};
  std::int64_t signature = access.cpuSignature();
  if (observation != nullptr) observation->signature = signature;

  if (getFirstNetworkInterface(name, access.scan,
                               observation != nullptr ? &observation->scan : nullptr) != 0) {
    if (access.printMessages)
      std::fprintf(stderr, "[%s] No network card detected\n", "snprintLegacySystemId");
    return writeFallbackId(buffer, size);
  }
  if (observation != nullptr) {
    observation->cardFound = true;
    observation->card = name;
  }

  std::array<std::uint8_t, kMacAddressSize> address{};
  PermanentMacResult permanent = getPermanentMacAddress(name.data(), address, access.queries);
  bool found = permanent == PermanentMacResult::kFound;
  AddressSource source = AddressSource::kPermanent;
  if (observation != nullptr && found) {
    observation->permanentFound = true;
    observation->permanent = address;
    observation->currentFound =
        getCurrentMacAddress(name.data(), observation->current, access.queries) == 0;
  }
  // Without a socket the current address cannot be asked for either.
  if (!found && permanent == PermanentMacResult::kNotFound) {
    found = getCurrentMacAddress(name.data(), address, access.queries) == 0;
    source = AddressSource::kCurrent;
    if (observation != nullptr && found) {
      observation->currentFound = true;
      observation->current = address;
    }
  }
  if (!found) {
    found = getIpv4AddressBytes(name.data(), address) == 0;
    source = AddressSource::kIpv4;
  }
  if (!found) {
    static const char kNoAddress[] = "Error reading network cards info\n";
    if (access.printMessages) std::fwrite(kNoAddress, 1, sizeof kNoAddress - 1, stderr);
    return writeFallbackId(buffer, size);
  }
  if (observation != nullptr) {
    observation->source = source;
    observation->address = address;
  }
  return formatLegacySystemId(buffer, size, address, signature);
}

int snprintLegacySystemId(char* buffer, int size) {
  return snprintLegacySystemId(buffer, size, LegacyIdAccess{});
}

}  // namespace probes
