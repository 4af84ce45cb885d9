#pragma once
// Shared pieces of the SMBIOS reader's fuzz targets: anonymous in-memory
// files that stand in for sysfs files and the memory device, and the
// invariants every result must keep.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace smbiosfuzz {

// A memfd: a regular file that lives only in memory and needs no cleanup.
// path() names it for the reader's path-taking functions.
class MemFile {
 public:
  MemFile();
  ~MemFile();
  MemFile(const MemFile&) = delete;
  MemFile& operator=(const MemFile&) = delete;

  const char* path() const { return path_.c_str(); }
  // The file becomes exactly these bytes.
  void assign(std::span<const std::uint8_t> bytes);
  // A sparse image of `size` zero bytes with bytes written at each address.
  void image(std::size_t size, std::span<const std::uint8_t> bytes,
             std::span<const std::uint64_t> addresses);

 private:
  int fd_;
  std::string path_;
};

// A path that can't be opened: a file "inside" /dev/null.
inline constexpr const char* kNoSuchFile = "/dev/null/absent";

// Aborts unless the result and the 16 bytes agree: 0 with a UUID that is
// not all zero, anything else with all zeros (the output started zeroed),
// and only the codes the reader defines.
void checkResult(int result, std::span<const std::uint8_t, 16> uuid, bool minusTwoAllowed);

[[noreturn]] void fail(const char* what);

}  // namespace smbiosfuzz
