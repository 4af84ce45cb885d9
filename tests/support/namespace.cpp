#include "support/namespace.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orlimtest {
namespace {

[[noreturn]] void failSetup(const char* what) {
  std::fprintf(stderr, "namespace setup: %s: %s\n", what, std::strerror(errno));
  std::_Exit(125);
}

void writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

NamespaceResult runInPrivateNamespaces(const std::function<std::string()>& body) {
  NamespaceResult result;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return result;
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) {
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    return result;
  }
  if (pid == 0) {
    ::close(pipeFds[0]);
    if (::unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) failSetup("unshare");
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      failSetup("make mounts private");
    // A sysfs mounted from inside the new network namespace lists only its
    // own interfaces.
    if (::mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0) failSetup("mount sysfs");
    std::string output = body();
    writeAll(pipeFds[1], output);
    ::close(pipeFds[1]);
    std::fflush(nullptr);
    std::_Exit(0);
  }
  ::close(pipeFds[1]);
  result.output = readAll(pipeFds[0]);
  ::close(pipeFds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string readAll(int fd) {
  std::string out;
  char chunk[4096];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(chunk, static_cast<std::size_t>(n));
  }
  return out;
}

std::string packFields(const std::vector<std::string>& fields) {
  std::string packed;
  for (const std::string& field : fields) packed += std::to_string(field.size()) + ':' + field;
  return packed;
}

std::vector<std::string> unpackFields(const std::string& packed) {
  std::vector<std::string> fields;
  std::size_t pos = 0;
  while (pos < packed.size()) {
    std::size_t colon = packed.find(':', pos);
    if (colon == std::string::npos) break;
    std::size_t length = std::stoul(packed.substr(pos, colon - pos));
    fields.push_back(packed.substr(colon + 1, length));
    pos = colon + 1 + length;
  }
  return fields;
}

int shell(const std::string& commandLine) {
  std::string line = "( " + commandLine + " ) 1>&2";
  int status = std::system(line.c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace orlimtest
