// orlim-inspect names where it runs from the real signals, laid out in a
// root of the scenario's own: the container markers, PID 1's cgroup and
// environment, a virtual machine's firmware tables, and the cards whose
// addresses last only as long as their container or configuration. orlim
// runs beside it each time and must agree (expectInspectAgrees).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "e2e/harness.h"
#include "support/smbios_builders.h"

namespace orlimtest {
namespace {

std::string dumpsDir() {
  const char* named = std::getenv("ORLIM_SMBIOS_DUMPS");
  return named != nullptr && *named != '\0' ? named : ORLIM_SMBIOS_DUMPS;
}

struct EnvironmentCase {
  const char* name = "";
  Scenario scenario;
  std::string container = "";    // environment.container; empty: null
  std::string decidedBy = "";    // the signal that decided the container, or the hypervisor
  std::string hypervisor = "";   // environment.hypervisor; empty: not checked (the host's CPUID)
  std::string uuidVerdict = "";  // stability.uuid.verdict; empty: not checked
  std::string cardVerdict = "";  // stability.card.verdict
  std::string overall = "";      // stability.overall; empty: not checked (depends on the host)
  std::string textHas = "";
};

// No host markers: the host these tests run on may itself be a container.
Scenario clean() {
  Scenario s;
  s.ownRoot = true;
  s.rootHidden = {".dockerenv"};
  s.productUuid = kProductUuid;
  return s;
}

std::vector<EnvironmentCase> cases() {
  std::vector<EnvironmentCase> rows;

  // As podman starts a container: its marker file, and a veth with a random address.
  EnvironmentCase podman;
  podman.name = "PodmanMarkerAndVeth";
  podman.scenario = clean();
  podman.scenario.rootFiles = {{"/run/.containerenv", "engine=\"podman-4.3.1\"\n"}};
  podman.scenario.interfaces = {vethPair("eth0", "host0"), existingInterface("host0")};
  podman.container = "podman";
  podman.decidedBy = "containerenv";
  podman.uuidVerdict = "host";
  podman.cardVerdict = "container-interface";
  podman.overall = "changes-on-restart";
  podman.textHas = "Lasts:        a veth or other virtual interface inside a container";
  rows.push_back(podman);

  EnvironmentCase docker;
  docker.name = "DockerenvMarker";
  docker.scenario = clean();
  docker.scenario.rootHidden = {};
  docker.scenario.rootFiles = {{"/.dockerenv", ""}};
  docker.scenario.interfaces = {vethPair("eth0", "host0").withMac("02:42:ac:11:00:02"),
                                existingInterface("host0")};
  docker.container = "docker";
  docker.decidedBy = "dockerenv";
  docker.uuidVerdict = "host";
  docker.cardVerdict = "container-interface";
  docker.overall = "changes-on-restart";
  docker.textHas = "/.dockerenv: present -> docker (decides)";
  rows.push_back(docker);

  // PID 1's own word, read from its environment (root only).
  EnvironmentCase lxc;
  lxc.name = "Pid1Variable";
  lxc.scenario = clean();
  lxc.scenario.rootFiles = {{"/proc/1/environ", std::string("HOME=/\0container=lxc\0", 21)}};
  lxc.scenario.interfaces = {vethPair("eth0", "host0"), existingInterface("host0")};
  lxc.container = "lxc";
  lxc.decidedBy = "pid1-container-variable";
  lxc.uuidVerdict = "host";
  lxc.cardVerdict = "container-interface";
  lxc.overall = "changes-on-restart";
  lxc.textHas = "$container of PID 1 (/proc/1/environ): \"lxc\" -> lxc (decides)";
  rows.push_back(lxc);

  const struct {
    const char* name;
    const char* line;
    const char* container;
  } cgroups[] = {
      {"CgroupDocker", "0::/system.slice/docker-0123abcd.scope\n", "docker"},
      {"CgroupPodman", "0::/machine.slice/libpod-0123abcd.scope/container\n", "podman"},
      {"CgroupLxc", "0::/lxc.payload.web1\n", "lxc"},
      {"CgroupKubernetes", "0::/kubepods.slice/kubepods-pod1.slice/cri-containerd-1.scope\n",
       "kubernetes"},
      {"CgroupNspawn", "0::/machine.slice/machine-web1.scope/payload\n", "systemd-nspawn"},
  };
  for (const auto& c : cgroups) {
    EnvironmentCase row;
    row.name = c.name;
    row.scenario = clean();
    row.scenario.rootFiles = {{"/proc/1/cgroup", c.line}};
    row.scenario.interfaces = {vethPair("eth0", "host0"), existingInterface("host0")};
    row.container = c.container;
    row.decidedBy = "cgroup-pid1";
    row.uuidVerdict = "host";
    row.cardVerdict = "container-interface";
    row.overall = "changes-on-restart";
    rows.push_back(row);
  }

  // Not in a container: cards judged by their own addresses.
  EnvironmentCase vf;
  vf.name = "VirtualFunction";
  vf.scenario = clean();
  vf.scenario.interfaces = {
      tapInterface("eth0").withMac("00:1b:21:0a:0b:0c").withBacking(Backing::kVirtualFunction)};
  vf.uuidVerdict = "";
  vf.cardVerdict = "virtual-function";
  vf.textHas = "an SR-IOV virtual function";
  rows.push_back(vf);

  EnvironmentCase local;
  local.name = "LocallyAdministered";
  local.scenario = clean();
  local.scenario.interfaces = {
      tapInterface("eth0").withMac("02:00:00:0a:0b:0c").withBacking(Backing::kDeviceDir)};
  local.cardVerdict = "locally-administered";
  rows.push_back(local);

  EnvironmentCase qemuCard;
  qemuCard.name = "QemuPrefix";
  qemuCard.scenario = clean();
  qemuCard.scenario.interfaces = {
      tapInterface("eth0").withMac("52:54:00:12:34:56").withBacking(Backing::kDeviceDir)};
  qemuCard.cardVerdict = "hypervisor-prefix";
  qemuCard.textHas = "assigned by software: QEMU/KVM's prefix";
  rows.push_back(qemuCard);

  // A VirtualBox guest's firmware tables: its DMI strings name the
  // hypervisor ahead of CPUID, whatever this host's CPUID says.
  const std::string vbox = dumpsDir() + "/rootfs-javaproj-vbox.sysfs";
  struct stat status;
  if (!dumpsDir().empty() && ::stat(vbox.c_str(), &status) == 0) {
    EnvironmentCase row;
    row.name = "VirtualBoxTables";
    row.scenario = clean();
    const smbiostest::Bytes entry = smbiostest::readFile(vbox + "/smbios_entry_point");
    const smbiostest::Bytes table = smbiostest::readFile(vbox + "/DMI");
    row.scenario.smbiosEntryPoint = std::string(entry.begin(), entry.end());
    row.scenario.dmiTable = std::string(table.begin(), table.end());
    row.scenario.productUuid.reset();
    row.scenario.interfaces = {
        tapInterface("eth0").withMac("08:00:27:0a:0b:0c").withBacking(Backing::kDeviceDir)};
    row.hypervisor = "oracle";
    row.decidedBy = "smbios-product";
    row.uuidVerdict = "hypervisor-assigned";
    row.cardVerdict = "hypervisor-prefix";
    row.overall = "stable-while-the-vm-exists";
    row.textHas = "SMBIOS type 1 product name (sysfs tables): \"VirtualBox\" -> oracle";
    rows.push_back(row);
  } else {
    std::printf("[ SKIPPED  ] VirtualBoxTables: no SMBIOS dump corpus at '%s'\n",
                dumpsDir().c_str());
  }
  return rows;
}

std::string textOrEmpty(const Json& value) { return value.isNull() ? "" : value.text; }

TEST(InspectEnvironment, NamesTheEnvironmentAndHowLongTheIdentityLasts) {
  for (const EnvironmentCase& c : cases()) {
    SCOPED_TRACE(c.name);
    std::vector<RunResult> runs = runScenario(
        c.scenario,
        {{{orlimBinary(), "-u", "-v"}}, {{inspectBinary(), "--json"}}, {{inspectBinary()}}});
    ASSERT_EQ(runs.size(), 3u) << runs.front().err;
    std::optional<Json> report = expectInspectAgrees(runs[0], runs[1]);
    ASSERT_TRUE(report.has_value());
    const Json& env = report->at("environment");
    EXPECT_EQ(textOrEmpty(env.at("container")), c.container);
    const std::string kind = env.at("kind").text;
    if (!c.container.empty()) {
      EXPECT_TRUE(kind == "container" || kind == "container-in-vm") << kind;
    } else {
#if defined(__aarch64__)
      // No CPUID on ARM: with no firmware strings either, nothing tells a
      // VM from bare metal, and the report says so.
      EXPECT_TRUE(kind == "bare-metal" || kind == "vm" || kind == "unknown") << kind;
#else
      EXPECT_TRUE(kind == "bare-metal" || kind == "vm") << kind;
#endif
    }
    if (!c.hypervisor.empty()) {
      EXPECT_EQ(textOrEmpty(env.at("hypervisor")), c.hypervisor);
      EXPECT_EQ(kind, "vm");
    }
    if (!c.decidedBy.empty()) {
      bool decided = false;
      for (const Json& e : env.at("evidence").items)
        decided = decided || (e.at("signal").text == c.decidedBy && e.at("decided").boolean);
      EXPECT_TRUE(decided) << c.decidedBy << ": " << runs[1].out;
    }
    if (!c.uuidVerdict.empty()) {
      EXPECT_EQ(report->at("stability.uuid.verdict").text, c.uuidVerdict);
    }
    EXPECT_EQ(report->at("stability.card.verdict").text, c.cardVerdict);
    if (!c.overall.empty()) {
      EXPECT_EQ(report->at("stability.overall").text, c.overall);
    }

    const RunResult& text = runs[2];
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.out.rfind("Environment\n", 0), 0u) << text.out;
    if (!c.textHas.empty()) {
      EXPECT_NE(text.out.find(c.textHas), std::string::npos) << text.out;
    }
  }
}

}  // namespace
}  // namespace orlimtest
