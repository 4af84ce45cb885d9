#pragma once
// The processor signature that ends the legacy system identifier. What it
// is depends on the architecture the tool is built for; each architecture
// has its own unit (cpu_signature_x86.cpp, cpu_signature_arm64.cpp), chosen
// when the tool is built:
//   x86-64:  EAX of CPUID leaves 0 to 4 summed (see cpu_signature_internal.h);
//   aarch64: the MIDR_EL1 register of CPU 0.
// Only its low 32 bits are ever shown, and none of it enters the token.

#include <cstdint>

namespace probes {

std::int64_t getCpuSignature();

// What the signature is on this architecture, for a report: a short phrase
// ("CPUID leaves 0 to 4") and a stable identifier ("cpuid-leaves-0-4").
const char* cpuSignatureDescription();
const char* cpuSignatureId();

}  // namespace probes
