#include "probes/smbios_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <span>
#include <utility>

#include "common/io.h"
#include "common/unique_fd.h"

namespace probes {
namespace {

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
  if (!fd.valid() || fstat(fd.get(), &status) != 0) return -errno;
  if (!S_ISREG(status.st_mode) && !S_ISCHR(status.st_mode)) return -EBADFD;
  return fd.release();
}

UniqueFile openFirmwareStream(const char* path, int& cause) {
  struct stat status {};
  const int opened = openFirmwareFile(path, status);
  cause = opened < 0 ? opened : 0;
  if (opened < 0) return nullptr;
  UniqueFd fd(opened);
  UniqueFile stream(fdopen(fd.get(), "r"));
  if (stream)
    fd.release();
  else
    cause = -errno;
  return stream;
}

int readExactly(int fd, std::uint8_t* destination, std::size_t count, int* cause) {
  const int why = fullOrCause(readFull(fd, std::span(destination, count)), count);
  if (cause != nullptr) *cause = why;
  return why == 0 ? 0 : -1;
}

int readExactlyAt(int fd, std::uint8_t* destination, std::size_t count, std::uint64_t offset,
                  int* cause) {
  const int why = fullOrCause(readFullAt(fd, std::span(destination, count), offset), count);
  if (cause != nullptr) *cause = why;
  return why == 0 ? 0 : -1;
}

int loadFileBytes(const char* path, std::size_t& maxLength, ByteBuffer& bytes) {
  bytes.reset();
  struct stat status {};
  const int opened = openFirmwareFile(path, status);
  if (opened < 0) return opened;
  const UniqueFd fd(opened);
  if (status.st_size <= 0) return -ENODATA;
  const auto size = static_cast<std::uint64_t>(status.st_size);
  if (size < maxLength) maxLength = static_cast<std::size_t>(size);
  ByteBuffer loaded = allocateBytes(maxLength);
  if (!loaded) return -ENOMEM;
  // A descriptor just opened reads from offset 0: no seek needed.
  int cause = 0;
  if (readExactly(fd.get(), loaded.get(), maxLength, &cause) != 0) return cause;
  bytes = std::move(loaded);
  return 0;
}

int loadPhysicalRange(std::int64_t address, std::size_t length, const char* devicePath,
                      ByteBuffer& bytes) {
  bytes.reset();
  if (address < 0) return -ENODATA;
  const auto start = static_cast<std::uint64_t>(address);
  struct stat status {};
  const int opened = openFirmwareFile(devicePath, status);
  if (opened < 0) return opened;
  const UniqueFd fd(opened);
  int cause = 0;

  if (S_ISREG(status.st_mode)) {
    // A memory image: the range must lie inside it. Written so that no
    // length, however large, can wrap the sum.
    const auto size = static_cast<std::uint64_t>(std::max<off_t>(status.st_size, 0));
    if (start > size || length > size - start) return -ENODATA;
    ByteBuffer loaded = allocateBytes(length);
    if (!loaded) return -ENOMEM;
    if (readExactlyAt(fd.get(), loaded.get(), length, start, &cause) != 0) return cause;
    bytes = std::move(loaded);
    return 0;
  }

  // The device: physical memory is read through a read-only shared mapping,
  // as the kernel's /dev/mem wants; a device that can't be mapped is read.
  ByteBuffer loaded = allocateBytes(length);
  if (!loaded) return -ENOMEM;
  const long pageSizeValue = sysconf(_SC_PAGESIZE);
  const auto pageSize = static_cast<std::uint64_t>(pageSizeValue > 0 ? pageSizeValue : 4096);
  const std::uint64_t pageOffset = start % pageSize;
  if (length > 0 && length <= std::numeric_limits<std::size_t>::max() - pageOffset) {
    const std::size_t mapLength = static_cast<std::size_t>(pageOffset) + length;
    const UniqueMapping mapping =
        mapReadOnly(fd.get(), mapLength, static_cast<off_t>(start - pageOffset));
    if (mapping) {
      std::memcpy(loaded.get(), mapping.get() + pageOffset, length);
      bytes = std::move(loaded);
      return 0;
    }
  }
  // A device that ignores seeks lands elsewhere: that is no read of the
  // address either.
  const off_t at = lseek(fd.get(), static_cast<off_t>(address), SEEK_SET);
  if (at != static_cast<off_t>(address)) return at < 0 ? -errno : -ESPIPE;
  if (readExactly(fd.get(), loaded.get(), length, &cause) != 0) return cause;
  bytes = std::move(loaded);
  return 0;
}

}  // namespace probes
