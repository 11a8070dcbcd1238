#pragma once
#include <string>

#include "platform/UniqueFd.h"

namespace kestrane {

// An exclusive advisory lock (flock) on a small side file. The system
// releases it when the holder's process ends in any way, so a crash leaves
// no stale lock. The file is opened without following a symbolic link and
// without waiting (a FIFO there does not block the open), must be a regular
// file, and is never written; it stays in place after the lock is released.
// A file it creates is readable by its owner only, so that no other user
// can open it and hold the lock.
class FileLock {
public:
  enum class Result {
    Locked,     // this object holds the lock now
    Busy,       // another open of the file holds it (this process or another)
    Unavailable // the file could not be opened or locked, or is no file
  };

  FileLock() = default;

  // Creates the file when there is none; never waits for the lock. When
  // the result is Unavailable, `reason` (when given) says why: what stands
  // at `path` when it is no regular file ("a symbolic link", "a folder",
  // ...), otherwise the system's text.
  Result Acquire(const std::string &path, std::string *reason = nullptr);
  void Release();
  bool Held() const { return fd_.Valid(); }

private:
  UniqueFd fd_; // closing the only descriptor releases the lock
};

} // namespace kestrane
