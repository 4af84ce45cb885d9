#pragma once
// Inside the network interface scan: how it reaches the kernel, and the
// same queries and scan with that access as a parameter.
//
// The defaults are the real thing and the tool never uses anything else;
// tests substitute the root (a tree they built) or the calls (to see what
// is asked, or to give answers no virtual driver gives).

#include <dirent.h>

#include <array>
#include <cstddef>

#include "probes/netscan.h"

using SocketFunction = int (*)(int domain, int type, int protocol);
using IoctlFunction = int (*)(int fd, unsigned long request, void* argument);

int realSocket(int domain, int type, int protocol);
int realIoctl(int fd, unsigned long request, void* argument);

struct NetAccess {
  const char* classNetRoot = kClassNetRoot;  // must end with '/'
  SocketFunction openSocket = realSocket;
  IoctlFunction ioctl = realIoctl;
};

// scandir ordering: "ath" names first, then "eth" names, then everything in
// byte order (bytes compared as unsigned). Only the first three characters
// decide the groups.
int compareInterfaceNames(const struct dirent** a, const struct dirent** b);

// What the scan makes of one interface of the listing.
enum class InterfaceVerdict {
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
NameFilter classifyInterfaceName(const char* name);

// What a watched scan saw, for orlim-inspect: every interface of the
// listing in the order it was judged, with the verdict.
struct JudgedInterface {
  std::array<char, 256> name{};  // a directory entry's name, cut to 255 bytes
  InterfaceVerdict verdict = InterfaceVerdict::kFilteredOut;
  NameFilter filter = NameFilter::kPasses;
};
struct ScanObservation {
  static constexpr std::size_t kMaxInterfaces = 128;
  bool listed = false;  // the interface directory could be listed
  int error = 0;        // errno when it could not
  std::array<JudgedInterface, kMaxInterfaces> interfaces{};
  std::size_t count = 0;
  std::size_t dropped = 0;  // interfaces beyond kMaxInterfaces, not recorded
};

// The scan's decision on one interface: the name filter, the permanent
// address, then (when that found nothing and a socket opened) the current
// address, then the device / wireless directories.
InterfaceVerdict judgeInterface(const char* name, const NetAccess& access);

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

// The queries and the scan of netscan.h, through access.
PermanentMacResult getPermanentMacAddress(const char* name, MacAddressSpan address,
                                          const NetAccess& access);
int getCurrentMacAddress(const char* name, MacAddressSpan address, const NetAccess& access);
// A watched scan (observation not null) records what it saw instead of
// printing that the listing failed.
int getNetworkInterfaces(char*** names, const NetAccess& access,
                         ScanObservation* observation = nullptr);
int getFirstNetworkInterface(std::span<char, kInterfaceNameBufferSize> buffer,
                             const NetAccess& access, ScanObservation* observation = nullptr);
