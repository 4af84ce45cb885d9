#pragma once
// The network interface scan watched, for orlim-inspect: the same scan
// orlim runs, through kernel access it is given, with a record of every
// interface and what the scan made of it; and what only orlim-inspect asks
// of the chosen card.
//
// The access defaults are the real thing and the tool never uses anything
// else; tests substitute the root (a tree they built) or the calls (to see
// what is asked, or to give answers no virtual driver gives).

#include <array>
#include <cstddef>
#include <span>

#include "common/owner.h"
#include "probes/netscan.h"

namespace probes {

using SocketFunction = int (*)(int domain, int type, int protocol);
using IoctlFunction = int (*)(int fd, unsigned long request, void* argument);

int realSocket(int domain, int type, int protocol);
int realIoctl(int fd, unsigned long request, void* argument);

struct NetAccess {
  const char* classNetRoot = kClassNetRoot;  // must end with '/'
  SocketFunction openSocket = realSocket;
  IoctlFunction ioctl = realIoctl;
  // Whether the scan says on stdout that the listing failed, as the tool
  // does; a caller that reports on its own (orlim-inspect) turns it off.
  bool printMessages = true;
};

// What the scan makes of one interface of the listing.
enum class InterfaceKind {
  kFilteredOut,  // its name is skipped ("." , "lo" or "dummy" prefix)
  kNoAddress,    // neither the permanent nor the current address is usable
  kCard,         // an address and a device or wireless directory: kept
  kNoDevice,     // an address but no device: a stand-in when no card turns up
};

// Why a name passes the scan's name filter or not.
enum class NameFilter {
  kPasses,
  kHidden,    // starts with "."
  kLoopback,  // starts with "lo"
  kDummy,     // starts with "dummy"
};

// What a watched scan saw, for orlim-inspect: every interface of the
// listing in the order it was scanned, with what the scan made of it. All
// of them, in an array that grows as needed: a container host has hundreds, and a report
// that left some out would hide the very ones it is asked about. Only
// memory running out leaves interfaces unrecorded, and they are counted.
// (Plain malloc, not a standard container: the scan is linked into orlim,
// whose start-up cost the container's support code would raise.)
struct ScannedInterface {
  std::array<char, 256> name{};  // a directory entry's name, cut to 255 bytes
  InterfaceKind kind = InterfaceKind::kFilteredOut;
  NameFilter filter = NameFilter::kPasses;
};
struct ScanObservation {
  bool listed = false;  // the interface directory could be listed
  int error = 0;        // errno when it could not
  UniqueMalloc<ScannedInterface[]> interfaces;
  std::size_t count = 0;
  std::size_t capacity = 0;
  std::size_t dropped = 0;  // interfaces not recorded: no memory for them

  std::span<const ScannedInterface> scanned() const { return {interfaces.get(), count}; }
};

// A new, cleared entry at the end of observation, or null (counted in
// dropped) when memory runs out.
ScannedInterface* addScannedInterface(ScanObservation& observation);

// A watched scan (observation not null) records what it saw; whether the
// scan prints anything is access.printMessages alone.
int getNetworkInterfaces(char*** names, const NetAccess& access,
                         ScanObservation* observation = nullptr);
int getFirstNetworkInterface(std::span<char, kInterfaceNameBufferSize> buffer,
                             const NetAccess& access, ScanObservation* observation = nullptr);

// More about one interface, for orlim-inspect's judgement of how long its
// address lasts. Only a watched run reads it; the tool never does.
struct InterfaceDetails {
  bool described = false;
  std::array<char, 32> driver{};  // ETHTOOL_GDRVINFO ("veth", "virtio_net"); "" if none answered
  int addressAssignType = -1;     // addr_assign_type: 0 permanent, 1 random, 2 stolen, 3 set
  bool hasDevice = false;         // a `device` or `wireless` directory
  bool virtualFunction = false;   // `device/physfn`: an SR-IOV virtual function
};
inline constexpr int kAddressAssignRandom = 1;  // NET_ADDR_RANDOM
void describeInterface(const char* name, const NetAccess& access, InterfaceDetails& details);

}  // namespace probes
