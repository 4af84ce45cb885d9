#pragma once
// Owns a file descriptor or socket and closes it when it goes, so no path
// out of a probe can leak one. The descriptor counterpart of owner.h:
// valid() says whether it holds one.

#include <unistd.h>

class UniqueFd {
 public:
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() {
    if (valid()) ::close(fd_);
  }
  int get() const noexcept { return fd_; }
  bool valid() const noexcept { return fd_ >= 0; }
  // Hands the descriptor to a new owner (a stdio stream, a caller).
  int release() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};
