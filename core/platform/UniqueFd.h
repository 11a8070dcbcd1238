#pragma once
#include <unistd.h>

#include <utility>

namespace kestrane {

// Owns one file descriptor and closes it when it goes out of scope, so no
// failure path can leak it. Movable, not copyable; -1 holds nothing.
class UniqueFd {
public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  UniqueFd(UniqueFd &&other) noexcept : fd_(other.Release()) {}
  UniqueFd &operator=(UniqueFd &&other) noexcept {
    if (this != &other)
      Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd &) = delete;
  UniqueFd &operator=(const UniqueFd &) = delete;
  ~UniqueFd() { Reset(); }

  int Get() const noexcept { return fd_; }
  bool Valid() const noexcept { return fd_ >= 0; }

  // Gives the descriptor up without closing it (another owner closes it).
  int Release() noexcept { return std::exchange(fd_, -1); }
  // Closes the descriptor held, if any, and holds `fd` instead.
  void Reset(int fd = -1) noexcept {
    const int old = std::exchange(fd_, fd);
    if (old >= 0)
      ::close(old);
  }
  // Closes now and returns close()'s result (errno set on -1): a delayed
  // write error (NFS, quota) shows up only here. 0 when nothing is held.
  int Close() noexcept {
    const int old = Release();
    return old >= 0 ? ::close(old) : 0;
  }

private:
  int fd_ = -1;
};

} // namespace kestrane
