#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace kestrane {

namespace {

constexpr mode_t kLockFileMode = 0600;

// What a non-file at the lock's path is, in the words of a message.
const char *KindOf(mode_t mode) {
  if (S_ISLNK(mode))
    return "a symbolic link";
  if (S_ISDIR(mode))
    return "a folder";
  if (S_ISFIFO(mode))
    return "a FIFO";
  if (S_ISSOCK(mode))
    return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode))
    return "a device";
  return "not a regular file";
}

// Why the lock file cannot be opened: what stands there when it is no
// file, else the system's text for `e`.
std::string OpenFailure(const std::string &path, int e) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    return KindOf(st.st_mode);
  return std::generic_category().message(e);
}

void SetReason(std::string *reason, std::string text) {
  if (reason != nullptr)
    *reason = std::move(text);
}

} // namespace

FileLock::Result FileLock::Acquire(const std::string &path,
                                   std::string *reason) {
  Release();
  int opened;
  // O_NONBLOCK: a FIFO at the path opens at once instead of waiting for a
  // writer, and is then refused below.
  do
    opened = ::open(path.c_str(),
                    O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                    kLockFileMode);
  while (opened < 0 && errno == EINTR);
  if (opened < 0) {
    SetReason(reason, OpenFailure(path, errno));
    return Result::Unavailable;
  }
  UniqueFd fd(opened);
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0) {
    SetReason(reason, std::generic_category().message(errno));
    return Result::Unavailable;
  }
  if (!S_ISREG(st.st_mode)) {
    SetReason(reason, KindOf(st.st_mode));
    return Result::Unavailable;
  }
  // A lock file of this user that an earlier version left readable by
  // others is made private too. Failing that changes nothing else.
  if ((st.st_mode & 077) != 0 && st.st_uid == ::geteuid() &&
      ::fchmod(fd.Get(), kLockFileMode) != 0) {
    // The lock works all the same.
  }
  int rc;
  do
    rc = ::flock(fd.Get(), LOCK_EX | LOCK_NB);
  while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    if (errno == EWOULDBLOCK)
      return Result::Busy;
    SetReason(reason, std::generic_category().message(errno));
    return Result::Unavailable;
  }
  fd_ = std::move(fd);
  return Result::Locked;
}

void FileLock::Release() {
  fd_.Reset();
}

} // namespace kestrane
