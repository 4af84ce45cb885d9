#pragma once
// Runs test code as root inside private mount and network namespaces, so a
// test can lay a fake /sys, /dev and network cards under the real binary or
// a probe without touching the host. Everything made there vanishes with
// the child process, also when a test fails or is killed.

#include <functional>
#include <string>
#include <vector>

namespace orlimtest {

struct NamespaceResult {
  int status = -1;     // the child's exit status; -1 if it did not exit normally
  std::string output;  // what the body returned, carried back through a pipe
};

// Forks. The child unshares mount and network namespaces, makes every mount
// private, mounts a fresh sysfs on /sys (which then lists only the new
// namespace's interfaces: lo), runs body and exits 0, sending body's return
// value back. On a setup failure the child exits 125 with a message on stderr.
NamespaceResult runInPrivateNamespaces(const std::function<std::string()>& body);

// Runs a shell command line inside the current namespaces; returns its exit
// status. Output goes to stderr so it never mixes with a probe's stdout.
int shell(const std::string& commandLine);

// A namespace body hands back one string; these carry several through it.
std::string packFields(const std::vector<std::string>& fields);
std::vector<std::string> unpackFields(const std::string& packed);

// Everything readable from fd until end of file (EINTR retried).
std::string readAll(int fd);

}  // namespace orlimtest
