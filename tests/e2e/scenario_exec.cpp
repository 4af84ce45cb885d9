// Runs a command in a named end-to-end scenario: private namespaces laid out
// as a machine of that kind. Its output and exit status pass through, so a
// test can put a scenario under a tool that only runs commands (Ansible's
// local connection, a stand-in for ssh).
//   scenario_exec NAME PROGRAM [ARG...]      (as root)
// Names: working (the usual test machine), placeholder (the same machine
// whose firmware carries a vendor's default UUID), no-firmware (a card but
// no SMBIOS source at all, so no token), machine:NN:MAC (the usual machine
// with the last byte of its UUID NN in hex and its card at MAC: one of a
// fleet of distinct machines).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>

#include "e2e/harness.h"
#include "support/smbios_builders.h"

namespace {

// SMBIOS 3.0 tables with this type-1 UUID, as stored.
void setFirmwareUuid(orlimtest::Scenario& scenario, const smbiostest::Uuid& raw) {
  using smbiostest::operator+;
  const smbiostest::Bytes table = smbiostest::type1(raw) + smbiostest::endOfTable();
  const smbiostest::Bytes entryPoint =
      smbiostest::smbios3EntryPoint(3, 0, static_cast<std::uint32_t>(table.size()), 0);
  scenario.smbiosEntryPoint = std::string(entryPoint.begin(), entryPoint.end());
  scenario.dmiTable = std::string(table.begin(), table.end());
}

bool namedScenario(std::string_view name, orlimtest::Scenario& scenario) {
  scenario = orlimtest::workingMachine();
  if (name == "working") return true;
  if (name == "placeholder") {
    // Stored as the firmware stores it: 03000200-0400-0500-0006-000700080009
    // once the first three fields are read little-endian.
    setFirmwareUuid(scenario, {0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 0x05, 0x00, 0x06, 0x00,
                               0x07, 0x00, 0x08, 0x00, 0x09});
    return true;
  }
  if (name == "no-firmware") {
    scenario.smbiosEntryPoint.reset();
    scenario.dmiTable.reset();
    return true;
  }
  constexpr std::string_view kMachine = "machine:";
  if (name.starts_with(kMachine) && name.size() == kMachine.size() + 3 + 17 &&
      name[kMachine.size() + 2] == ':') {
    smbiostest::Uuid raw = smbiostest::kRawUuid;
    const std::string byte(name.substr(kMachine.size(), 2));
    char* end = nullptr;
    raw.back() = static_cast<std::uint8_t>(std::strtoul(byte.c_str(), &end, 16));
    if (end != byte.c_str() + 2) return false;
    setFirmwareUuid(scenario, raw);
    const std::string mac(name.substr(kMachine.size() + 3));
    scenario.interfaces = {orlimtest::tapInterface("eth0").withMac(mac)};
    return true;
  }
  return false;
}

void writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

int main(int argc, char** argv) {
  orlimtest::Scenario scenario;
  if (argc < 3 || !namedScenario(argv[1], scenario)) {
    std::fprintf(stderr,
                 "usage: scenario_exec working|placeholder|no-firmware|machine:NN:MAC PROGRAM [ARG...]\n");
    return 125;
  }
  orlimtest::Command command;
  command.argv.assign(argv + 2, argv + argc);
  const std::vector<orlimtest::RunResult> results = orlimtest::runScenario(scenario, {command});
  if (results.empty()) return 125;
  writeAll(STDOUT_FILENO, results.front().out);
  writeAll(STDERR_FILENO, results.front().err);
  return results.front().status < 0 ? 125 : results.front().status;
}
