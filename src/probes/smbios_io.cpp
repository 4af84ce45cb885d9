#include "probes/smbios_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

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

int openFirmwareFile(const char* path, struct stat& status) {
  // O_NONBLOCK only matters for what is refused below (a FIFO's open would
  // wait for a writer); regular files ignore it, and so does the memory
  // device.
  UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd.valid() || fstat(fd.get(), &status) != 0) return kCannotOpen;
  if (!S_ISREG(status.st_mode) && !S_ISCHR(status.st_mode)) return kNotFileOrDevice;
  return fd.release();
}

UniqueFile openFirmwareStream(const char* path) {
  struct stat status {};
  UniqueFd fd(openFirmwareFile(path, status));
  if (!fd.valid()) return nullptr;
  UniqueFile stream(fdopen(fd.get(), "r"));
  if (stream) fd.release();
  return stream;
}

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

int readExactlyAt(int fd, std::uint8_t* destination, std::size_t count, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < count) {
    const std::uint64_t at = offset + done;
    if (at > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return -1;
    const ssize_t got = pread(fd, destination + done, count - done, static_cast<off_t>(at));
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) return -1;  // cut short since fstat
    done += static_cast<std::size_t>(got);
  }
  return 0;
}

int loadFileBytes(const char* path, std::size_t& maxLength, ByteBuffer& bytes) {
  bytes.reset();
  struct stat status {};
  const int opened = openFirmwareFile(path, status);
  if (opened < 0) return opened;
  const UniqueFd fd(opened);
  if (status.st_size <= 0) return kEmptyOrOutside;
  const auto size = static_cast<std::uint64_t>(status.st_size);
  if (size < maxLength) maxLength = static_cast<std::size_t>(size);
  ByteBuffer loaded = allocateBytes(maxLength);
  if (!loaded) return kNoMemory;
  // A descriptor just opened reads from offset 0: no seek needed.
  if (readExactly(fd.get(), loaded.get(), maxLength) != 0) return kReadError;
  bytes = std::move(loaded);
  return kLoaded;
}

int loadPhysicalRange(std::int64_t address, std::size_t length, const char* devicePath,
                      ByteBuffer& bytes) {
  bytes.reset();
  if (address < 0) return kEmptyOrOutside;
  const auto start = static_cast<std::uint64_t>(address);
  struct stat status {};
  const int opened = openFirmwareFile(devicePath, status);
  if (opened < 0) return opened;
  const UniqueFd fd(opened);

  if (S_ISREG(status.st_mode)) {
    // A memory image: the range must lie inside it. Written so that no
    // length, however large, can wrap the sum.
    const auto size = static_cast<std::uint64_t>(std::max<off_t>(status.st_size, 0));
    if (start > size || length > size - start) return kEmptyOrOutside;
    ByteBuffer loaded = allocateBytes(length);
    if (!loaded) return kNoMemory;
    if (readExactlyAt(fd.get(), loaded.get(), length, start) != 0) return kReadError;
    bytes = std::move(loaded);
    return kLoaded;
  }

  // The device: physical memory is read through a read-only shared mapping,
  // as the kernel's /dev/mem wants; a device that can't be mapped is read.
  ByteBuffer loaded = allocateBytes(length);
  if (!loaded) return kNoMemory;
  const long pageSizeValue = sysconf(_SC_PAGESIZE);
  const auto pageSize = static_cast<std::uint64_t>(pageSizeValue > 0 ? pageSizeValue : 4096);
  const std::uint64_t pageOffset = start % pageSize;
  if (length > 0 && length <= std::numeric_limits<std::size_t>::max() - pageOffset) {
    const std::size_t mapLength = static_cast<std::size_t>(pageOffset) + length;
    const Mapping mapping(mmap(nullptr, mapLength, PROT_READ, MAP_SHARED, fd.get(),
                               static_cast<off_t>(start - pageOffset)),
                          mapLength);
    if (mapping.valid()) {
      std::memcpy(loaded.get(), mapping.bytes() + pageOffset, length);
      bytes = std::move(loaded);
      return kLoaded;
    }
  }
  if (lseek(fd.get(), static_cast<off_t>(address), SEEK_SET) != static_cast<off_t>(address))
    return kReadError;
  if (readExactly(fd.get(), loaded.get(), length) != 0) return kReadError;
  bytes = std::move(loaded);
  return kLoaded;
}

}  // namespace smbios
