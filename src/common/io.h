#pragma once
// The one family of descriptor read and write loops: interrupted calls are
// retried, short writes continued, and a failure comes back as -errno, so
// the cause travels with the result instead of in errno read afterwards.

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

// Writes all of bytes: 0, or -errno of the write that failed.
inline int writeAll(int fd, std::span<const char> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return 0;
}

// The read function a caller may put in place of read(2), for tests.
using ReadFunction = ssize_t (*)(int fd, void* buffer, std::size_t size);

// One read of what is there, up to buffer's size: the count (0 at the end),
// or -errno.
inline ssize_t readSome(int fd, std::span<char> buffer, ReadFunction read = ::read) {
  for (;;) {
    const ssize_t n = read(fd, buffer.data(), buffer.size());
    if (n >= 0) return n;
    if (errno != EINTR) return -errno;
  }
}

// Reads until buffer is full or the input ends: the count, or -errno.
inline ssize_t readFull(int fd, std::span<char> buffer, ReadFunction read = ::read) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t n = readSome(fd, buffer.subspan(done), read);
    if (n < 0) return n;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

inline ssize_t readFull(int fd, std::span<std::uint8_t> buffer) {
  return readFull(fd, std::span<char>(reinterpret_cast<char*>(buffer.data()), buffer.size()));
}

// The same at a file offset, with pread (the descriptor's own offset is
// left alone): the count, or -errno; -EOVERFLOW where the range passes the
// largest offset a file can have.
inline ssize_t readFullAt(int fd, std::span<std::uint8_t> buffer, std::uint64_t offset) {
  constexpr auto kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
  std::size_t done = 0;
  while (done < buffer.size()) {
    const std::uint64_t at = offset + done;
    if (at < offset || at > kMaxOffset) return -EOVERFLOW;
    const ssize_t n = ::pread(fd, buffer.data() + done, buffer.size() - done, static_cast<off_t>(at));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

// 0 when the count read is the whole buffer, else the cause: the read's
// -errno, or -EIO for an input that ended first.
inline int fullOrCause(ssize_t got, std::size_t wanted) {
  if (got < 0) return static_cast<int>(got);
  return static_cast<std::size_t>(got) == wanted ? 0 : -EIO;
}
