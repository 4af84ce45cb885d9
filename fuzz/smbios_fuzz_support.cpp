#include "smbios_fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace smbiosfuzz {

MemFile::MemFile() : fd_(memfd_create("orlim-fuzz", MFD_CLOEXEC)) {
  if (fd_ < 0) fail("memfd_create");
  path_ = "/proc/self/fd/" + std::to_string(fd_);
}

MemFile::~MemFile() { close(fd_); }

void MemFile::assign(std::span<const std::uint8_t> bytes) {
  if (ftruncate(fd_, 0) != 0) fail("ftruncate");
  if (!bytes.empty() &&
      pwrite(fd_, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
    fail("pwrite");
}

void MemFile::image(std::size_t size, std::span<const std::uint8_t> bytes,
                    std::span<const std::uint64_t> addresses) {
  // Truncating to 0 first drops the previous input's pages.
  if (ftruncate(fd_, 0) != 0 || ftruncate(fd_, static_cast<off_t>(size)) != 0) fail("ftruncate");
  for (std::uint64_t address : addresses) {
    if (address >= size) continue;
    const std::size_t n = std::min<std::size_t>(bytes.size(), size - address);
    if (n > 0 &&
        pwrite(fd_, bytes.data(), n, static_cast<off_t>(address)) != static_cast<ssize_t>(n))
      fail("pwrite");
  }
}

void checkResult(int result, std::span<const std::uint8_t, 16> uuid, bool minusTwoAllowed) {
  const bool allZero = std::all_of(uuid.begin(), uuid.end(), [](std::uint8_t b) { return b == 0; });
  if (result == 0) {
    if (allZero) fail("success with an all-zero UUID");
  } else if (result == -1 || (result == -2 && minusTwoAllowed)) {
    if (!allZero) fail("failure left UUID bytes behind");
  } else {
    fail("unexpected result code");
  }
}

void fail(const char* what) {
  std::fprintf(stderr, "smbios fuzz invariant broken: %s\n", what);
  std::abort();
}

}  // namespace smbiosfuzz
