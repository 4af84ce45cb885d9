#pragma once
// The one family of descriptor read and write loops: interrupted calls are
// retried, short writes continued, and a failure comes back as -errno, so
// the cause travels with the result instead of in errno read afterwards.

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
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
