// The processor signature on 64-bit ARM: CPU 0's Main ID Register
// (implementer, variant, part number, revision) in its low 32 bits, the
// same eight digits the x86 signature fills.

#include <fcntl.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cctype>
#include <cstddef>
#include <span>

#include "common/io.h"
#include "common/unique_fd.h"
#include "probes/cpu_signature.h"
#include "probes/cpu_signature_internal.h"

#if !defined(__aarch64__)
#error "cpu_signature_arm64.cpp is for aarch64 builds only"
#endif

namespace probes {

#ifndef HWCAP_CPUID
#define HWCAP_CPUID (1 << 11)
#endif

namespace {

// "0x" and 16 digits, a line end, and room to notice a longer file.
constexpr std::size_t kMidrTextBufferSize = 24;

int readMidrFile(const char* path, std::uint64_t& value) {
  UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return -1;
  std::array<char, kMidrTextBufferSize> text{};
  // A sysfs attribute comes whole in one read.
  const ssize_t got = readSome(fd.get(), std::span(text.data(), text.size() - 1));
  if (got <= 0) return -1;
  text[static_cast<std::size_t>(got)] = '\0';
  return parseMidrText(text.data(), value);
}

}  // namespace

bool readMidrRegister(std::uint64_t& value) {
  if ((::getauxval(AT_HWCAP) & HWCAP_CPUID) == 0) return false;
  std::uint64_t midr;
  asm volatile("mrs %0, midr_el1" : "=r"(midr));
  value = midr;
  return true;
}

int parseMidrText(const char* text, std::uint64_t& value) {
  if (text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return -1;
  std::uint64_t parsed = 0;
  std::size_t digits = 0;
  const char* p = text + 2;
  for (; std::isxdigit(static_cast<unsigned char>(*p)) != 0; ++p, ++digits) {
    if (digits == 16) return -1;  // wider than the register
    const auto c = static_cast<unsigned char>(*p);
    const auto nibble = static_cast<unsigned>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    parsed = parsed << 4 | nibble;
  }
  if (digits == 0) return -1;
  if (*p == '\n') ++p;  // the kernel ends the line
  if (*p != '\0') return -1;
  value = parsed;
  return 0;
}

std::int64_t getCpuSignature(const char* midrPath, MidrFunction readMidr) {
  std::uint64_t midr = 0;
  // The file names CPU 0 itself; only the register read needs the pinning.
  if (readMidrFile(midrPath, midr) != 0) {
    const bool read = runOnCpuZero([&] { return readMidr(midr); });
    if (!read) midr = 0;
  }
  return static_cast<std::int64_t>(midr);
}

std::int64_t getCpuSignature() { return getCpuSignature(kMidrPath, readMidrRegister); }

const char* cpuSignatureDescription() { return "MIDR_EL1 of CPU 0"; }
const char* cpuSignatureId() { return "midr-el1"; }

}  // namespace probes
