// The processor signature on x86: a sum over the CPUID leaves.

#include <cpuid.h>

#include "probes/cpu_signature.h"
#include "probes/cpu_signature_internal.h"

namespace probes {

#if !defined(__x86_64__) && !defined(__i386__)
#error "cpu_signature_x86.cpp is for x86 builds only"
#endif

CpuidRegisters executeCpuid(std::uint32_t leaf, std::uint32_t subleaf) {
  CpuidRegisters r;
  __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
  return r;
}

std::int64_t getCpuSignature(CpuidFunction cpuid) {
  return runOnCpuZero([cpuid] {
    std::int64_t sum = 0;
    std::uint32_t subleaf = 0;
    for (std::uint32_t leaf = 0; leaf <= 4; ++leaf) {
      // Leaves 0 to 3 ignore the sub-leaf. Leaf 4 gets the ECX that leaf 3
      // left, as the identifiers issued so far were computed: 0 wherever
      // leaf 3 is reserved, which selects the first cache.
      CpuidRegisters r = cpuid(leaf, leaf == 4 ? subleaf : 0);
      sum += static_cast<std::int32_t>(r.eax);
      subleaf = r.ecx;
    }
    return sum;
  });
}

std::int64_t getCpuSignature() { return getCpuSignature(executeCpuid); }

const char* cpuSignatureDescription() { return "CPUID leaves 0 to 4"; }
const char* cpuSignatureId() { return "cpuid-leaves-0-4"; }

}  // namespace probes
