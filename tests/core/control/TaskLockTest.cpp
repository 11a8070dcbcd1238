// The task's lock file beside its project file: whatever stands at its path
// instead of a regular file refuses the run at once, with a message naming
// the path, and the lock file a run creates is its owner's alone.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "platform/FileLock.h"
#include "platform/UniqueFd.h"
#include "tests/core/control/ControlRig.h"

namespace kestrane::controltest {
namespace {

namespace fs = std::filesystem;

TEST(TaskLockTest, AnythingButARegularFileRefusesTheRun) {
  using Plant =
      std::function<void(const std::string &lock, const std::string &dir)>;
  const struct {
    const char *what;
    Plant plant;
    std::string reason;
  } rows[] = {
      {"a FIFO", [](auto &lock, auto &) { ::mkfifo(lock.c_str(), 0600); },
       "a FIFO"},
      {"a link to a file",
       [](auto &lock, auto &dir) {
         Put(dir + "elsewhere", "kept");
         fs::create_symlink(dir + "elsewhere", lock);
       },
       "a symbolic link"},
      {"a dangling link",
       [](auto &lock, auto &dir) { fs::create_symlink(dir + "nothing", lock); },
       "a symbolic link"},
      {"a folder", [](auto &lock, auto &) { fs::create_directory(lock); },
       "a folder"},
      {"a socket",
       [](auto &lock, auto &) {
         sockaddr_un addr{};
         addr.sun_family = AF_UNIX;
         lock.copy(addr.sun_path, sizeof addr.sun_path - 1);
         const UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
         ::bind(fd.Get(), reinterpret_cast<sockaddr *>(&addr), sizeof addr);
       },
       "a socket"},
      // Root opens any file: the row runs for other users only.
      {"a file this user may not open",
       [](auto &lock, auto &) {
         Put(lock, "");
         ::chmod(lock.c_str(), 0);
       },
       "Permission denied"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    if (row.reason == "Permission denied" && ::geteuid() == 0)
      continue;
    ControlRig rig;
    fs::create_directories(rig.Out());
    const std::string lock = rig.Out() + "t.ktsk.lock";
    row.plant(lock, rig.Dir());
    ::alarm(20); // a run that waits on the FIFO ends the test program
    EXPECT_FALSE(rig.Control().Start(rig.Fields(kOneTile)));
    ::alarm(0);
    EXPECT_EQ(rig.Sink.Texts,
              std::vector<std::string>{"Cannot lock the task with " + lock +
                                       ": " + row.reason});
    // Nothing of the task was written, and what stood there is left.
    EXPECT_EQ(Names(rig.Out()), std::vector<std::string>{"t.ktsk.lock"});
    EXPECT_FALSE(fs::exists(rig.Dir() + "nothing"));
    EXPECT_EQ(Slurp(rig.Dir() + "elsewhere"),
              row.what == std::string("a link to a file") ? "kept" : "");
  }
}

// Another user who could open the lock file could hold it and keep the
// owner's task from running for as long as they liked.
TEST(TaskLockTest, TheLockFileIsItsOwnersAlone) {
  const mode_t umask = ::umask(022);
  for (const int before : {-1, 0644}) { // none yet; left by an earlier run
    SCOPED_TRACE(before);
    TempFolder dir;
    const std::string path = dir.Path() + "t.ktsk.lock";
    if (before >= 0) {
      Put(path, "");
      ::chmod(path.c_str(), static_cast<mode_t>(before));
    }
    FileLock lock;
    ASSERT_EQ(lock.Acquire(path), FileLock::Result::Locked);
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(FileLock().Acquire(path), FileLock::Result::Busy);
  }
  ::umask(umask);
}

} // namespace
} // namespace kestrane::controltest
