#include "probes/smbios_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "common/unique_fd.h"

namespace smbios {
namespace {

// A mapping needs its length to go, so it is owned like a descriptor.
class Mapping {
 public:
  Mapping(void* address, std::size_t length) : address_(address), length_(length) {}
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  ~Mapping() {
    if (valid()) munmap(address_, length_);
  }
  bool valid() const { return address_ != MAP_FAILED; }
  const std::uint8_t* bytes() const { return static_cast<const std::uint8_t*>(address_); }

 private:
  void* address_;
  std::size_t length_;
};

// malloc(0) may legitimately return null; one spare byte keeps "no bytes"
// apart from "no memory".
ByteBuffer allocateBytes(std::size_t length) {
  return ByteBuffer(static_cast<std::uint8_t*>(std::malloc(length == 0 ? 1 : length)));
}

}  // namespace

int readExactly(int fd, std::uint8_t* destination, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = read(fd, destination + done, count - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) return -1;
    done += static_cast<std::size_t>(got);
  }
  return 0;
}

ByteBuffer loadFileBytes(const char* path, std::size_t& maxLength) {
  UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return nullptr;
  struct stat status {};
  if (fstat(fd.get(), &status) == 0) {
    if (status.st_size <= 0) return nullptr;
    const auto size = static_cast<std::uint64_t>(status.st_size);
    if (size < maxLength) maxLength = static_cast<std::size_t>(size);
  }
  ByteBuffer bytes = allocateBytes(maxLength);
  if (!bytes) return nullptr;
  // A descriptor just opened reads from offset 0: no seek needed.
  if (readExactly(fd.get(), bytes.get(), maxLength) != 0) return nullptr;
  return bytes;
}

ByteBuffer loadPhysicalRange(std::int64_t address, std::size_t length, const char* devicePath) {
  if (address < 0) return nullptr;
  const auto start = static_cast<std::uint64_t>(address);
  UniqueFd fd(open(devicePath, O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return nullptr;
  struct stat status {};
  if (fstat(fd.get(), &status) != 0) return nullptr;
  if (S_ISREG(status.st_mode)) {
    // A memory image: the range must lie inside it. Written so that no
    // length, however large, can wrap the sum.
    const auto size = static_cast<std::uint64_t>(std::max<off_t>(status.st_size, 0));
    if (start > size || length > size - start) return nullptr;
  }
  ByteBuffer bytes = allocateBytes(length);
  if (!bytes) return nullptr;

  const long pageSizeValue = sysconf(_SC_PAGESIZE);
  const auto pageSize = static_cast<std::uint64_t>(pageSizeValue > 0 ? pageSizeValue : 4096);
  const std::uint64_t pageOffset = start % pageSize;
  if (length > 0 && length <= std::numeric_limits<std::size_t>::max() - pageOffset) {
    const std::size_t mapLength = static_cast<std::size_t>(pageOffset) + length;
    const Mapping mapping(mmap(nullptr, mapLength, PROT_READ, MAP_SHARED, fd.get(),
                               static_cast<off_t>(start - pageOffset)),
                          mapLength);
    if (mapping.valid()) {
      std::memcpy(bytes.get(), mapping.bytes() + pageOffset, length);
      return bytes;
    }
  }
  if (lseek(fd.get(), static_cast<off_t>(address), SEEK_SET) != static_cast<off_t>(address))
    return nullptr;
  if (readExactly(fd.get(), bytes.get(), length) != 0) return nullptr;
  return bytes;
}

}  // namespace smbios
