#pragma once
// What the legacy identifier tests and the processor signature tests of
// either architecture share: the thread's affinity, and the signature worked
// out by the test itself, each architecture's test defining it.

#include <pthread.h>
#include <sched.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace orlimtest {

inline cpu_set_t currentAffinity() {
  cpu_set_t set;
  CPU_ZERO(&set);
  pthread_getaffinity_np(pthread_self(), sizeof set, &set);
  return set;
}

inline bool setAffinity(std::initializer_list<int> cpus) {
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int cpu : cpus) CPU_SET(static_cast<std::size_t>(cpu), &set);
  return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

// This machine's signature, computed independently of the tool's code.
std::int64_t referenceSignature();

}  // namespace orlimtest
