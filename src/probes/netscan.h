#pragma once
// Network interface scan: picks the card whose hardware address identifies
// the machine, and the two hardware-address queries used on that card.
//
// Only names leave the scan; the addresses it reads on the way only judge
// each interface. Every query opens and closes its own IPv4 datagram socket.

#include <cstddef>
#include <cstdint>
#include <span>

namespace probes {

// The interface directory, with the trailing slash the path building relies on.
inline constexpr const char* kClassNetRoot = "/sys/class/net/";
// getFirstNetworkInterface's buffer: up to 31 characters and a zero byte.
inline constexpr std::size_t kInterfaceNameBufferSize = 32;
// Hardware addresses are taken as six bytes, whatever the link's real length.
inline constexpr std::size_t kMacAddressSize = 6;

using MacAddressSpan = std::span<std::uint8_t, kMacAddressSize>;

enum class PermanentMacResult {
  kFound,     // address holds the six bytes
  kNotFound,  // the request failed or gave all zeros
  kNoSocket,  // no socket could be opened to ask
};

// The permanent (factory) address through SIOCETHTOOL / ETHTOOL_GPERMADDR.
// Virtual drivers answer with zeros, which counts as not found. address is
// written only on kFound. Names longer than 15 characters are cut to 15.
PermanentMacResult getPermanentMacAddress(const char* name, MacAddressSpan address);

// The current address through SIOCGIFHWADDR. Returns 0, or -1 when the
// request fails, no socket opens or the address is all zeros; address is
// written only on 0.
int getCurrentMacAddress(const char* name, MacAddressSpan address);

// Lists the interface directory in preference order and keeps, in that
// order, every interface that passes the name filter (no ".", "lo" or
// "dummy" prefix), has a usable permanent or current address and has a
// `device` or `wireless` directory. When none qualifies, the first one that
// passed the filter and had an address stands alone in the list.
//
// Returns the number of names and, when positive, stores in *names an array
// of that many strings; the caller frees each string and the array with
// free(). Returns -1 (with *names null) when the listing cannot be read,
// printing "Unable to read interfaces list" on stdout, or when memory runs out.
int getNetworkInterfaces(char*** names);

// Runs the scan and writes its first name into buffer (cut to 31
// characters). Returns 0, or -1 with buffer untouched when the scan failed or
// found nothing.
int getFirstNetworkInterface(std::span<char, kInterfaceNameBufferSize> buffer);

}  // namespace probes
