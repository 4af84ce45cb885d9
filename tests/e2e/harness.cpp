#include "e2e/harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>

#include "decode/decode.h"
#include "support/decode_token.h"
#include "token/token_text.h"
#include "support/files.h"
#include "support/namespace.h"
#include "support/smbios_builders.h"

namespace orlimtest {
namespace {

// Each step reports what failed; the first failure ends the setup.
struct Setup {
  std::string error;
  bool ok() const { return error.empty(); }
  void fail(const std::string& what) {
    if (error.empty()) error = what + ": " + std::strerror(errno);
  }
};

void makeDirs(Setup& s, const std::string& path) {
  std::string partial;
  std::stringstream parts(path);
  std::string part;
  while (std::getline(parts, part, '/')) {
    if (part.empty()) continue;
    partial += "/" + part;
    if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) s.fail("mkdir " + partial);
  }
}

void writeFile(Setup& s, const std::string& path, const std::string& bytes, mode_t mode = 0644) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return s.fail("create " + path);
  if (!bytes.empty() &&
      ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
    s.fail("write " + path);
  ::close(fd);
}

void mountTmpfs(Setup& s, const std::string& where) {
  if (::mount("tmpfs", where.c_str(), "tmpfs", 0, "mode=0755") != 0) s.fail("tmpfs on " + where);
}

void bindMount(Setup& s, const std::string& from, const std::string& to) {
  if (::mount(from.c_str(), to.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
    s.fail("bind " + from + " on " + to);
}

std::vector<std::string> listDir(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(path.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  return names;
}

// A fresh /dev with the usual character devices, and /dev/mem as a
// read-only regular file when the scenario has a memory image.
void setUpDev(Setup& s, const std::optional<smbiostest::MemoryImage>& image) {
  mountTmpfs(s, "/dev");
  struct Node {
    const char* path;
    unsigned major, minor;
  };
  static const Node kNodes[] = {
      {"/dev/null", 1, 3},    {"/dev/zero", 1, 5}, {"/dev/full", 1, 7},      {"/dev/random", 1, 8},
      {"/dev/urandom", 1, 9}, {"/dev/tty", 5, 0},  {"/dev/net/tun", 10, 200}};
  makeDirs(s, "/dev/net");
  for (const Node& node : kNodes)
    if (::mknod(node.path, S_IFCHR | 0666, makedev(node.major, node.minor)) != 0)
      s.fail(std::string("mknod ") + node.path);
  if (!image || !s.ok()) return;

  int fd = ::open("/dev/mem", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0400);
  if (fd < 0) return s.fail("create /dev/mem");
  if (!image->fill(fd)) s.fail("fill /dev/mem");
  ::close(fd);
  // Read-only, so nothing the tool does could change the image.
  bindMount(s, "/dev/mem", "/dev/mem");
  if (::mount(nullptr, "/dev/mem", nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
    s.fail("read-only /dev/mem");
}

void makeParentDirs(Setup& s, const std::string& path) {
  makeDirs(s, path.substr(0, path.rfind('/')));
}

// After everything else: FIFOs, devices and sparse files at the paths the
// scenario names, and /dev/mem moved onto a full file system.
void setUpOddFiles(Setup& s, const Scenario& scenario) {
  for (const std::string& path : scenario.fifos) {
    makeParentDirs(s, path);
    ::umount2(path.c_str(), MNT_DETACH);  // /dev/mem may be a bind mount
    ::unlink(path.c_str());
    if (::mkfifo(path.c_str(), 0600) != 0) s.fail("mkfifo " + path);
  }
  for (const std::string& path : scenario.zeroDevices) {
    makeParentDirs(s, path);
    ::umount2(path.c_str(), MNT_DETACH);
    ::unlink(path.c_str());
    if (::mknod(path.c_str(), S_IFCHR | 0444, makedev(1, 5)) != 0) s.fail("mknod " + path);
  }
  for (const auto& [path, image] : scenario.sparseFiles) {
    makeParentDirs(s, path);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return s.fail("create " + path);
    if (!image.fill(fd)) s.fail("fill " + path);
    ::close(fd);
  }
  if (scenario.devMemOnFullFileSystem && scenario.devMem) {
    const std::string small = "/dev/.small";
    makeDirs(s, small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=256k,mode=0755") != 0)
      return s.fail("small tmpfs");
    int fd = ::open((small + "/mem").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0400);
    if (fd < 0) return s.fail("create small mem");
    if (!scenario.devMem->fill(fd)) s.fail("fill small mem");
    ::close(fd);
    // Fill what is left, so no page of the image's holes can be had.
    fd = ::open((small + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0400);
    if (fd < 0) return s.fail("create filler");
    static const char kPage[4096] = {1};
    while (::write(fd, kPage, sizeof kPage) > 0) {
    }
    ::close(fd);
    ::umount2("/dev/mem", MNT_DETACH);
    bindMount(s, small + "/mem", "/dev/mem");
  }
}

// sysfs takes no new files, so the firmware view is a tmpfs laid over it.
// /sys/devices/virtual keeps every real subdirectory except dmi, which holds
// only what the scenario gives.
void setUpFirmware(Setup& s, const Scenario& scenario) {
  mountTmpfs(s, "/sys/firmware");
  if (scenario.smbiosEntryPoint || scenario.dmiTable) makeDirs(s, "/sys/firmware/dmi/tables");
  // Root-only, as the kernel makes them.
  if (scenario.smbiosEntryPoint)
    writeFile(s, "/sys/firmware/dmi/tables/smbios_entry_point", *scenario.smbiosEntryPoint, 0400);
  if (scenario.dmiTable) writeFile(s, "/sys/firmware/dmi/tables/DMI", *scenario.dmiTable, 0400);
  if (scenario.efiSystab) {
    makeDirs(s, "/sys/firmware/efi");
    writeFile(s, "/sys/firmware/efi/systab", *scenario.efiSystab, 0400);
  }

  const std::string stage = "/dev/.virtual";
  makeDirs(s, stage);
  bindMount(s, "/sys/devices/virtual", stage);
  mountTmpfs(s, "/sys/devices/virtual");
  for (const std::string& name : listDir(stage)) {
    if (name == "dmi") continue;
    makeDirs(s, "/sys/devices/virtual/" + name);
    bindMount(s, stage + "/" + name, "/sys/devices/virtual/" + name);
  }
  ::umount2(stage.c_str(), MNT_DETACH);
  ::rmdir(stage.c_str());
  if (scenario.hideNetworkListing) {
    // An empty /sys/class without net in it.
    mountTmpfs(s, "/sys/class");
  }
  if (scenario.productUuid) {
    makeDirs(s, "/sys/devices/virtual/dmi/id");
    writeFile(s, "/sys/devices/virtual/dmi/id/product_uuid", *scenario.productUuid, 0400);
  }
}

// Where the commands' own root is built, inside the scenario's /dev tmpfs.
constexpr const char* kOwnRoot = "/dev/.root";

void setUpOwnRoot(Setup& s, const Scenario& scenario) {
  makeDirs(s, kOwnRoot);
  mountTmpfs(s, kOwnRoot);
  const std::string root = kOwnRoot;
  // The real root's entries: under user-mode emulation with a sysroot ("-L"),
  // "/" itself is looked up in the sysroot first and lists that instead.
  for (const std::string& name : listDir("/proc/self/root/")) {
    if (std::find(scenario.rootHidden.begin(), scenario.rootHidden.end(), name) !=
        scenario.rootHidden.end())
      continue;
    const std::string from = "/" + name;
    const std::string to = root + from;
    struct stat status;
    if (::lstat(from.c_str(), &status) != 0) continue;
    if (S_ISLNK(status.st_mode)) {
      std::string target(4096, '\0');
      const ssize_t n = ::readlink(from.c_str(), target.data(), target.size() - 1);
      if (n < 0 ||
          ::symlink(target.substr(0, static_cast<std::size_t>(n)).c_str(), to.c_str()) != 0)
        s.fail("symlink " + to);
    } else if (S_ISDIR(status.st_mode)) {
      makeDirs(s, to);
      bindMount(s, from, to);
    } else if (S_ISREG(status.st_mode)) {
      writeFile(s, to, "", status.st_mode & 07777);
      bindMount(s, from, to);
    }
  }
  int staged = 0;
  for (const auto& [path, contents] : scenario.rootFiles) {
    const std::string to = root + path;
    struct stat status;
    if (::stat(to.c_str(), &status) == 0) {
      // Over an existing file: a copy beside the root, bound onto it.
      const std::string copy = "/dev/.staged" + std::to_string(staged++);
      writeFile(s, copy, contents);
      bindMount(s, copy, to);
      continue;
    }
    const std::size_t second = path.find('/', 1);
    if (second != std::string::npos) {
      // Under a directory of the real root: cover it first.
      const std::string top = root + path.substr(0, second);
      if (::stat(top.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        ::umount2(top.c_str(), MNT_DETACH);
        mountTmpfs(s, top);
      }
      makeParentDirs(s, to);
    }
    writeFile(s, to, contents);
  }
}

std::string slurp(const std::string& path) {
  std::string contents;
  testfiles::readWholeFile(path, contents);
  return contents;
}

RunResult runCommand(const Command& command, bool ownRoot) {
  RunResult result;
  const char* outPath = "/dev/.out";
  const char* errPath = "/dev/.err";
  std::fflush(nullptr);
  timespec start{};
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t pid = ::fork();
  if (pid < 0) return result;
  if (pid == 0) {
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(outPath, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    int err = ::open(errPath, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (in < 0 || out < 0 || err < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (ownRoot && (::chroot(kOwnRoot) != 0 || ::chdir("/") != 0)) ::_exit(126);
    if (command.asNobody &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
      ::_exit(126);
    std::vector<char*> argv;
    // A cross build's tools run in the emulator that runs the tests (given
    // as words separated by spaces, the program first); the host's own
    // tools, such as dmidecode, run as they are.
    const bool built = command.argv.front() == orlimBinary() ||
                       command.argv.front() == inspectBinary();
    std::string emulator = built ? ORLIM_E2E_EMULATOR : "";
    for (char* word = std::strtok(emulator.data(), " "); word != nullptr;
         word = std::strtok(nullptr, " "))
      argv.push_back(word);
    for (const std::string& arg : command.argv) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::alarm(command.deadlineSeconds);  // a hung tool fails its test instead of hanging the suite
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  timespec end{};
  ::clock_gettime(CLOCK_MONOTONIC, &end);
  result.seconds = static_cast<double>(end.tv_sec - start.tv_sec) +
                   static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9;
  result.peakKiB = usage.ru_maxrss;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  result.out = slurp(outPath);
  result.err = slurp(errPath);
  ::unlink(outPath);
  ::unlink(errPath);
  return result;
}

}  // namespace

std::vector<RunResult> runScenario(const Scenario& scenario, const std::vector<Command>& commands) {
  NamespaceResult child = runInPrivateNamespaces([&]() -> std::string {
    std::vector<std::string> fields;
    Setup s;
    // Interfaces first: creating a tap needs the real /dev/net/tun.
    if (!setUpInterfaces(scenario.interfaces)) s.error = "interface setup failed";
    if (s.ok()) setUpDev(s, scenario.devMem);
    if (s.ok()) setUpFirmware(s, scenario);
    if (s.ok()) setUpOddFiles(s, scenario);
    if (s.ok() && scenario.ownRoot) setUpOwnRoot(s, scenario);
    if (!s.ok()) return packFields({"125", "", s.error, "0", "0", "0"});
    for (const Command& command : commands) {
      RunResult r = runCommand(command, scenario.ownRoot);
      fields.insert(fields.end(), {std::to_string(r.status), r.out, r.err, std::to_string(r.signal),
                                   std::to_string(r.seconds), std::to_string(r.peakKiB)});
    }
    return packFields(fields);
  });

  std::vector<RunResult> results;
  if (child.status != 0) {
    results.push_back(
        {125, "", "namespace child failed with status " + std::to_string(child.status)});
    return results;
  }
  std::vector<std::string> fields = unpackFields(child.output);
  for (std::size_t i = 0; i + 5 < fields.size(); i += 6)
    results.push_back({std::stoi(fields[i]), fields[i + 1], fields[i + 2], std::stoi(fields[i + 3]),
                       std::stod(fields[i + 4]), std::stol(fields[i + 5])});
  return results;
}

Scenario workingMachine() {
  using smbiostest::operator+;
  const smbiostest::Bytes table =
      smbiostest::type1(smbiostest::kRawUuid) + smbiostest::endOfTable();
  const smbiostest::Bytes entryPoint =
      smbiostest::smbios3EntryPoint(3, 0, static_cast<std::uint32_t>(table.size()), 0);
  Scenario machine;
  machine.smbiosEntryPoint = std::string(entryPoint.begin(), entryPoint.end());
  machine.dmiTable = std::string(table.begin(), table.end());
  machine.interfaces = {tapInterface("eth0").withMac("52:54:00:12:34:56")};
  return machine;
}

std::string orlimBinary() {
  // The same suite runs against each build of the tool (dynamic, static).
  const char* chosen = std::getenv("ORLIM_E2E_BINARY");
  return chosen && *chosen ? chosen : ORLIM_BINARY;
}

std::string inspectBinary() {
#ifdef ORLIM_INSPECT_STATIC_BINARY
  // The static run of the suite asks the static build of both tools.
  if (orlimBinary() != ORLIM_BINARY) return ORLIM_INSPECT_STATIC_BINARY;
#endif
  return ORLIM_INSPECT_BINARY;
}

RunResult runOrlim(const Scenario& scenario, const std::vector<std::string>& args, bool asNobody) {
  Command command{{orlimBinary()}, asNobody};
  command.argv.insert(command.argv.end(), args.begin(), args.end());
  // Every scenario also asks orlim-inspect, which must agree with the run.
  std::vector<RunResult> results =
      runScenario(scenario, {command, {{inspectBinary(), "--json"}, asNobody}});
  if (results.size() == 2) expectInspectAgrees(results[0], results[1], asNobody);
  return results.empty() ? RunResult{} : results.front();
}

std::optional<Json> expectInspectAgrees(const RunResult& orlim, const RunResult& inspect,
                                        bool asNobody) {
  SCOPED_TRACE("orlim-inspect --json: " + inspect.out + inspect.err);
  EXPECT_EQ(inspect.status, 0);
  EXPECT_EQ(inspect.err, "");
  std::optional<Json> report = parseJson(inspect.out);
  EXPECT_TRUE(report.has_value()) << "not one JSON object";
  if (!report) return report;
  EXPECT_EQ(report->at("root").boolean, !asNobody);
  const Json& fields = report->at("token_fields");

  const bool tokenPrinted = orlim.out.size() == 59 && orlim.out.back() == '\n';
  if (tokenPrinted) {
    // Never the token itself.
    EXPECT_EQ(inspect.out.find(orlim.out.substr(0, 58)), std::string::npos);
    DecodeResult token = decodeToken(orlim.out);
    EXPECT_EQ(token.status, DecodeStatus::kOk) << orlim.out;
    EXPECT_FALSE(fields.isNull());
    EXPECT_EQ(fields.at("version").text, std::to_string(token.fields.version));
    EXPECT_EQ(fields.at("uuid").text, formatUuid(token.fields.uuid));
    EXPECT_EQ(fields.at("legacy").text, formatLegacy(token.fields));
    EXPECT_EQ(report->at("uuid.result").text, "0");
    EXPECT_EQ(report->at("uuid.value").text, formatUuid(token.fields.uuid));
    EXPECT_EQ(report->at("legacy").text.substr(0, kTokenLegacySize), formatLegacy(token.fields));
  }
  // "Failure reading system ID (uuid/legacy)": no token, and the same two numbers.
  const std::string failure = "Failure reading system ID (";
  const std::size_t at = orlim.err.find(failure);
  if (at != std::string::npos) {
    EXPECT_TRUE(fields.isNull());
    const std::string numbers = orlim.err.substr(at + failure.size());
    EXPECT_EQ(numbers, report->at("uuid.result").text + "/" +
                           std::to_string(report->at("legacy").text.size()) + ")\n");
  }
  if (asNobody) {
    EXPECT_TRUE(fields.isNull());
  }
  return report;
}

bool isTokenLine(const std::string& out) {
  return out.size() == 59 && out.find_first_not_of("0123456789ABCDEF") == 58 && out[58] == '\n';
}

std::string text(const smbiostest::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace orlimtest
