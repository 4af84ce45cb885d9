#pragma once
// Network cards for tests, made for real inside the private namespaces of
// runInPrivateNamespaces (support/namespace.h): call these from the body.
//
// The kernels these tests run on have no dummy driver and load no modules,
// so cards are taps, tun devices, bridges and veth pairs. All of them are
// virtual: they have no `device` entry in sysfs and answer the ethtool
// permanent-address request with zeros, so the only address they offer is
// their current one. A card can be given a `device` or `wireless` directory
// (a "backing") by rebuilding /sys/class/net on a tmpfs, see Backing.
//
// Links stay down and IPv6 is switched off before anything is made, so no
// packet is ever sent. Everything disappears with the namespace.

#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace orlimtest {

enum class InterfaceKind {
  kTap,       // Ethernet tap (`ip tuntap add NAME mode tap`): a lone card with an address
  kTun,       // IP tun device: no hardware address at all (SIOCGIFHWADDR gives zeros)
  kBridge,    // bridge, with an address of its own
  kVeth,      // veth pair: makes `name` and `peer`, and both are listed
  kExisting,  // made elsewhere (lo, or the peer of an earlier veth): only configured
};

// What /sys/class/net/NAME is. Anything but kNone lays a tmpfs over
// /sys/class/net that holds, for every kernel interface, a symbolic link
// like the original (../../devices/virtual/net/NAME), except for the backed
// cards: they become real directories of links to their real attribute
// files (address, type, ...) plus the entry below.
enum class Backing {
  kNone,             // as the kernel shows it
  kDeviceDir,        // `device` is a directory, as for a PCI or USB card
  kDeviceLink,       // `device` is a symbolic link to a directory (/sys/devices/system)
  kDeviceFile,       // `device` is a regular file: not a directory
  kWirelessDir,      // `wireless` is a directory, as for a Wi-Fi card
  kVirtualFunction,  // `device` is a directory holding `physfn`: an SR-IOV virtual function
};

struct FakeInterface {
  std::string name;  // any name the kernel takes (up to 15 characters, "." prefixes included)
  InterfaceKind kind = InterfaceKind::kTap;
  std::string mac;                // "52:54:00:12:34:56"; empty: the kernel's choice
  std::vector<std::string> ipv4;  // "10.1.2.3/24", added in this order
  Backing backing = Backing::kNone;
  std::string peer;  // kVeth: the other end's name (configure it with a kExisting entry)

  // For building lists in one expression: tapInterface("eth0").withMac(...).
  FakeInterface& withMac(std::string address) {
    mac = std::move(address);
    return *this;
  }
  FakeInterface& withIpv4(std::string addressAndPrefix) {
    ipv4.push_back(std::move(addressAndPrefix));
    return *this;
  }
  FakeInterface& withBacking(Backing how) {
    backing = how;
    return *this;
  }
};

FakeInterface tapInterface(std::string name);
FakeInterface tunInterface(std::string name);
FakeInterface bridgeInterface(std::string name);
FakeInterface vethPair(std::string name, std::string peer);
FakeInterface existingInterface(std::string name);

// Switches IPv6 off, creates the interfaces in order, sets their addresses
// and, if any needs a backing, rebuilds /sys/class/net as described above.
// Returns false (with the reason on stderr) when any step fails.
bool setUpInterfaces(std::span<const FakeInterface> interfaces);

// What a piece of code wrote to file descriptors 1 and 2. stdio is flushed
// before and after, so printf and puts output is caught too. Works in any
// process; inside a namespace body it is the way to carry a probe's
// messages back to the test.
struct CapturedOutput {
  std::string out;
  std::string err;
};
CapturedOutput captureOutput(const std::function<void()>& code);

// A namespace body ends in _Exit, so the leak check of a sanitized build
// never runs there; this runs it on the spot. True when LeakSanitizer is
// built in and found leaks (it reports them on stderr); false otherwise.
bool leaksFound();

}  // namespace orlimtest
