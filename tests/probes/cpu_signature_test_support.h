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

// A real x86 processor's signature: the sum of its CPUID leaf 0 to 4
// outputs (leaf 4's is 0xFC004121), negative as int32.
inline constexpr std::int64_t kExampleSignature = 0x16 + 0x906EA + 0xFEFF01 + 0x0 - 0x03FFBEDF;

}  // namespace orlimtest
