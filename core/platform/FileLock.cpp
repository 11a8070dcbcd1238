#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace kestrane {

FileLock::Result FileLock::Acquire(const std::string &path) {
  Release();
  int opened;
  do
    opened =
        ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  while (opened < 0 && errno == EINTR);
  UniqueFd fd(opened);
  if (!fd.Valid())
    return Result::Unavailable;
  int rc;
  do
    rc = ::flock(fd.Get(), LOCK_EX | LOCK_NB);
  while (rc != 0 && errno == EINTR);
  if (rc != 0)
    return errno == EWOULDBLOCK ? Result::Busy : Result::Unavailable;
  fd_ = std::move(fd);
  return Result::Locked;
}

void FileLock::Release() {
  fd_.Reset();
}

} // namespace kestrane
