// The one owner of a file descriptor in the stand-in: moved, never copied, and
// closed when it goes, so that no exit path closes a descriptor by hand.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace veltrano {

class UniqueFd {
 public:
  UniqueFd() = default;
  // Takes `fd` (a negative value holds nothing, so a failed open fits as it is).
  explicit UniqueFd(int fd) : fd_(fd < 0 ? -1 : fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  // The descriptor, or -1.
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Hands the descriptor over to the caller, who closes it.
  int release() { return std::exchange(fd_, -1); }
  // Closes the one held, if any, and holds `fd`. The caller's errno survives,
  // so a failure can still be read after its descriptors are gone.
  void reset(int fd = -1) {
    const int old = std::exchange(fd_, fd < 0 ? -1 : fd);
    if (old < 0) return;
    const int saved = errno;
    ::close(old);
    errno = saved;
  }

 private:
  int fd_ = -1;
};

}  // namespace veltrano
