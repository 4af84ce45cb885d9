#pragma once
// Inside the network interface scan: its orderings, filters and queries on
// their own, with the kernel access as a parameter, for the tests.

#include <dirent.h>

#include "probes/netscan.h"
#include "probes/netscan_watched.h"

namespace probes {

// scandir ordering: "ath" names first, then "eth" names, then everything in
// byte order (bytes compared as unsigned). Only the first three characters
// decide the groups.
int compareInterfaceNames(const struct dirent** a, const struct dirent** b);

// Whether root/name/suffix is a directory ("device", "wireless",
// "device/physfn" of an interface's sysfs entry).
bool interfaceHasDirectory(const char* root, const char* name, const char* suffix);

// The name filter's answer for one name.
NameFilter classifyInterfaceName(const char* name);

// The scan's decision on one interface: the name filter, the permanent
// address, then (when that found nothing and a socket opened) the current
// address, then the device / wireless directories.
InterfaceKind classifyInterface(const char* name, const NetAccess& access);

// The queries and the scan of netscan.h, through access.
PermanentMacResult getPermanentMacAddress(const char* name, MacAddressSpan address,
                                          const NetAccess& access);
int getCurrentMacAddress(const char* name, MacAddressSpan address, const NetAccess& access);

}  // namespace probes
