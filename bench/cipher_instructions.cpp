// Runs one cipher job a given number of times, for instruction counting
// under callgrind: the difference between a run with COUNT and one with 0 is
// COUNT jobs and nothing else. The job runs once before the counted ones
// (tables, self-tests, lazy library set-up), except for "first-token", which
// measures the first job of a process including that one-time work.
// usage: cipher_instructions orlim|nettle|libgcrypt key|block|cbc4k|token|first-token COUNT
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cipher_ops.h"

namespace {

template <typename Impl>
int run(const char* job, long count) {
  if (std::strcmp(job, "first-token") == 0 || std::strcmp(job, "token") == 0) {
    if (std::strcmp(job, "token") == 0) Impl::tokenJob();
    for (long i = 0; i < count; ++i) Impl::tokenJob();
    return 0;
  }
  Impl impl;
  void (Impl::*operation)() = nullptr;
  if (std::strcmp(job, "key") == 0) operation = &Impl::keySetup;
  if (std::strcmp(job, "block") == 0) operation = &Impl::oneBlock;
  if (std::strcmp(job, "cbc4k") == 0) operation = &Impl::cbc4k;
  if (operation == nullptr) return 2;
  (impl.*operation)();
  for (long i = 0; i < count; ++i) (impl.*operation)();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr,
                 "usage: %s orlim|nettle|libgcrypt key|block|cbc4k|token|first-token COUNT\n",
                 argv[0]);
    return 2;
  }
  const long count = std::strtol(argv[3], nullptr, 10);
  // Every library's set-up runs in every process, so that it cancels out.
  gcryptInit();
  int status = 2;
  if (std::strcmp(argv[1], OrlimTwofish::kName) == 0) status = run<OrlimTwofish>(argv[2], count);
  if (std::strcmp(argv[1], NettleTwofish::kName) == 0) status = run<NettleTwofish>(argv[2], count);
  if (std::strcmp(argv[1], GcryptTwofish::kName) == 0) status = run<GcryptTwofish>(argv[2], count);
  if (status == 2) std::fprintf(stderr, "unknown library or job\n");
  std::printf("%02X\n", benchData().token[0] ^ benchData().cipher[4095] ^ benchData().block[0]);
  return status;
}
