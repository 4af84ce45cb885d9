#pragma once
// Inside the processor signature: the architecture's own seams, and the
// pinning to CPU 0 that both architectures share.

#include <pthread.h>
#include <sched.h>

#include <cstdint>

namespace probes {

// Runs read() on CPU 0 and returns its result. Pinned so that every run reads
// the same processor's answer (on big.LITTLE parts the cores differ). If the
// thread may not run on CPU 0, read() runs wherever it is. The thread's
// affinity is put back afterwards; when it could not be read beforehand,
// there is nothing to put back, but read() is still pinned.
template <typename Read>
auto runOnCpuZero(Read read) {
  pthread_t self = ::pthread_self();
  cpu_set_t saved;
  const bool haveSaved = ::pthread_getaffinity_np(self, sizeof saved, &saved) == 0;
  cpu_set_t cpu0;
  CPU_ZERO(&cpu0);
  CPU_SET(0, &cpu0);
  ::pthread_setaffinity_np(self, sizeof cpu0, &cpu0);
  auto result = read();
  if (haveSaved) ::pthread_setaffinity_np(self, sizeof saved, &saved);
  return result;
}

#if defined(__x86_64__) || defined(__i386__)

// One CPUID query.
struct CpuidRegisters {
  std::uint32_t eax = 0;
  std::uint32_t ebx = 0;
  std::uint32_t ecx = 0;
  std::uint32_t edx = 0;
};
using CpuidFunction = CpuidRegisters (*)(std::uint32_t leaf, std::uint32_t subleaf);
CpuidRegisters executeCpuid(std::uint32_t leaf, std::uint32_t subleaf);

// EAX of CPUID leaves 0 to 4, each taken as signed 32-bit, summed into 64
// bits. Leaf 4 is asked for the sub-leaf that leaf 3 returned in ECX. The
// queries run on CPU 0 (runOnCpuZero).
std::int64_t getCpuSignature(CpuidFunction cpuid);

#elif defined(__aarch64__)

// The file in which Linux shows CPU 0's MIDR_EL1, as "0x" and 16 hex digits.
inline constexpr const char* kMidrPath = "/sys/devices/system/cpu/cpu0/regs/identification/midr_el1";

// Reads MIDR_EL1 of the CPU the thread runs on with `mrs`, which Linux traps
// and emulates for user space where it says so (HWCAP_CPUID). False, with
// value untouched, where it doesn't: the instruction would then kill the
// process.
using MidrFunction = bool (*)(std::uint64_t& value);
bool readMidrRegister(std::uint64_t& value);

// The register from the file's text: 0 and the value, or -1 when the text is
// not a hexadecimal number that fits 64 bits.
int parseMidrText(const char* text, std::uint64_t& value);

// MIDR_EL1 of CPU 0: from midrPath, else from readMidr run on CPU 0
// (runOnCpuZero), else 0.
std::int64_t getCpuSignature(const char* midrPath, MidrFunction readMidr);

#else
#error "no processor signature for this architecture"
#endif

}  // namespace probes
