#pragma once
#include <csignal>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/AtomicFile.h"

namespace kestrane::testing {

// What a process killed in the middle of an atomic write of `target`
// leaves behind: a child process begins the write, reports its temporary
// file's path and is killed with SIGKILL before it commits. Returns that
// path ("" when the child could not begin the write); the writer is gone.
inline std::string LeaveKilledWritersTemporary(const std::string &target) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0)
    return std::string();
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    AtomicFile file(target);
    if (file.Valid() && file.Write("half a file") == 0) {
      const std::string &temp = file.TempPath();
      if (::write(pipeFds[1], temp.data(), temp.size()) ==
          static_cast<ssize_t>(temp.size())) {
        ::close(pipeFds[1]);
        for (;;)
          ::pause(); // until the kill
      }
    }
    ::_exit(1);
  }
  ::close(pipeFds[1]);
  std::string temp;
  char buf[512];
  ssize_t n = 0;
  while ((n = ::read(pipeFds[0], buf, sizeof buf)) > 0)
    temp.append(buf, static_cast<size_t>(n));
  ::close(pipeFds[0]);
  if (child > 0) {
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
  }
  return temp;
}

} // namespace kestrane::testing
