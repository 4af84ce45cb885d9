// What orlim-inspect asks about the chosen card beyond what the scan asks:
// a unit of its own, so that orlim never links it in.

#include <fcntl.h>
#include <limits.h>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <span>

#include "common/io.h"
#include "common/unique_fd.h"
#include "probes/netscan_internal.h"

namespace probes {

void describeInterface(const char* name, const NetAccess& access, InterfaceDetails& details) {
  details = InterfaceDetails{};
  details.described = true;
  // A device as the scan counts one, so the report and the scan agree.
  details.hasDevice = interfaceHasDirectory(access.classNetRoot, name, "device") ||
                      interfaceHasDirectory(access.classNetRoot, name, "wireless");
  details.virtualFunction = interfaceHasDirectory(access.classNetRoot, name, "device/physfn");

  std::array<char, PATH_MAX> path;
  const int length =
      std::snprintf(path.data(), path.size(), "%s%s/addr_assign_type", access.classNetRoot, name);
  if (length > 0 && static_cast<std::size_t>(length) < path.size()) {
    UniqueFd fd(::open(path.data(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    std::array<char, 8> text{};
    if (fd.valid() && readSome(fd.get(), std::span(text).first(text.size() - 1)) > 0 &&
        text[0] >= '0' && text[0] <= '9')
      details.addressAssignType = text[0] - '0';
  }

  UniqueFd socket(access.openSocket(AF_INET, SOCK_DGRAM, 0));
  if (!socket.valid()) return;
  struct ethtool_drvinfo info;
  std::memset(&info, 0, sizeof info);
  info.cmd = ETHTOOL_GDRVINFO;
  struct ifreq request;
  std::memset(&request, 0, sizeof request);
  std::memcpy(request.ifr_name, name, ::strnlen(name, IFNAMSIZ - 1));
  request.ifr_data = reinterpret_cast<char*>(&info);
  if (access.ioctl(socket.get(), SIOCETHTOOL, &request) == 0)
    std::snprintf(details.driver.data(), details.driver.size(), "%.*s",
                  static_cast<int>(::strnlen(info.driver, sizeof info.driver)), info.driver);
}

}  // namespace probes
