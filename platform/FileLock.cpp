#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace kestrane {

FileLock::~FileLock() {
  Release();
}

FileLock::FileLock(FileLock &&other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

FileLock &FileLock::operator=(FileLock &&other) noexcept {
  if (this != &other) {
    Release();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

FileLock::Result FileLock::Acquire(const std::string &path) {
  Release();
  int fd;
  do
    fd =
        ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  while (fd < 0 && errno == EINTR);
  if (fd < 0)
    return Result::Unavailable;
  int rc;
  do
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int e = errno;
    ::close(fd);
    return e == EWOULDBLOCK ? Result::Busy : Result::Unavailable;
  }
  fd_ = fd;
  return Result::Locked;
}

void FileLock::Release() {
  if (fd_ < 0)
    return;
  ::close(fd_); // closing the only descriptor releases the lock
  fd_ = -1;
}

} // namespace kestrane
