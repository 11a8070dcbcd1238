// The checks before an output the user named is written, and before a
// write large enough to fill a disk.
#include "platform/OutputChecks.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "platform/Errors.h"
#include "tests/support/TempDir.h"

namespace kestrane {
namespace {

using testing::PutBytes;
using testing::TempDir;

// A listening-capable socket file at `path` (closed again; the file stays).
void MakeSocketFile(const std::string &path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  ::close(fd);
}

// What an output may replace and what it must leave: a link is looked
// through (/dev/stdout is a link to the terminal or a pipe), and a refusal
// names the kind of thing and changes nothing.
TEST(OutputChecks, OnlyNothingOrARegularFileMayBeReplaced) {
  TempDir dir;
  const std::string d = dir.Path();
  PutBytes(d + "file", "mine");
  ASSERT_EQ(::mkfifo((d + "fifo").c_str(), 0600), 0);
  std::filesystem::create_directory(d + "folder");
  MakeSocketFile(d + "socket");
  std::filesystem::create_symlink(d + "file", d + "to-file");
  std::filesystem::create_symlink(d + "gone", d + "dangling");
  std::filesystem::create_symlink("/dev/null", d + "to-null");
  std::filesystem::create_symlink(d + "fifo", d + "to-fifo");
  std::filesystem::create_symlink("/proc/self/fd/1", d + "stdout");
  const struct {
    const char *name;
    const char *kind; // nullptr: may be replaced
  } rows[] = {
      {"nothing-here", nullptr}, {"file", nullptr},
      {"to-file", nullptr},      {"dangling", nullptr},
      {"fifo", "a FIFO"},        {"to-fifo", "a FIFO"},
      {"folder", "a folder"},    {"socket", "a socket"},
      {"to-null", "a device"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = d + row.name;
    const char *kind = NonFileAt(path);
    EXPECT_STREQ(kind, row.kind);
    struct stat before {};
    const bool existed = ::lstat(path.c_str(), &before) == 0;
    if (row.kind == nullptr) {
      EXPECT_NO_THROW(RefuseNonFileOutput(path));
      continue;
    }
    try {
      RefuseNonFileOutput(path);
      ADD_FAILURE() << "not refused";
    } catch (const KError &e) {
      EXPECT_EQ(e.Cause(), ErrorCause::InputRefused);
      EXPECT_EQ(std::string(e.what()),
                "Cannot create file " + path + ": it is " + row.kind);
    }
    struct stat after {};
    ASSERT_TRUE(existed);
    ASSERT_EQ(::lstat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_ino, before.st_ino);
  }
  // Standard output is a terminal, a pipe or a file, whatever runs the
  // test: only a file may be replaced.
  struct stat out {};
  ASSERT_EQ(::fstat(1, &out), 0);
  EXPECT_EQ(NonFileAt(d + "stdout") == nullptr, S_ISREG(out.st_mode));
  EXPECT_STREQ(NonFileAt("/dev/null"), "a device");
}

TEST(OutputChecks, RefusalOfALargeWriteNamesBothSizes) {
  constexpr uint64_t GB = 1000000000;
  const struct {
    uint64_t needed, free;
    const char *text; // "" : the write goes ahead
  } rows[] = {
      {GB, 0, ""}, // not over 1 GB: the disk is not asked
      {GB + 1, GB + 1, ""},
      {23 * GB + 140000000, 230 * GB, ""},
      {GB + 1, GB,
       "Cannot create file /o/l.ftl: it needs 1.0 GB, and the "
       "disk has 1.0 GB free"},
      {13 * GB + 540000000, 4 * GB + 249999999,
       "Cannot create file /o/l.ftl: it needs 13.5 GB, and the disk has 4.2 "
       "GB free"},
      {2 * GB, 512000000,
       "Cannot create file /o/l.ftl: it needs 2.0 GB, and the disk has 512.0 "
       "MB free"},
      {2 * GB, 900,
       "Cannot create file /o/l.ftl: it needs 2.0 GB, and the disk has 900 "
       "bytes free"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(std::to_string(row.needed) + " / " + std::to_string(row.free));
    EXPECT_EQ(NoRoomText("/o/l.ftl", row.needed, row.free), row.text);
  }
}

// The disk of a real folder is asked: a write larger than it holds is
// refused before a byte is written; one under 1 GB never is.
TEST(OutputChecks, CheckRoomForAsksTheFolder) {
  TempDir dir;
  const std::optional<uint64_t> free = FreeDiskBytes(dir.Path());
  ASSERT_TRUE(free);
  const std::string path = dir.Path() + "big.ftl";
  try {
    CheckRoomFor(path, *free + kLargeWriteBytes + 1);
    ADD_FAILURE() << "a write larger than the disk was let through";
  } catch (const KError &e) {
    EXPECT_EQ(e.Cause(), ErrorCause::CannotWrite);
    EXPECT_NE(std::string(e.what()).find("Cannot create file " + path +
                                         ": it needs "),
              std::string::npos)
        << e.what();
  }
  EXPECT_NO_THROW(CheckRoomFor(path, kLargeWriteBytes));
  EXPECT_EQ(dir.Names(), std::vector<std::string>{});
}

} // namespace
} // namespace kestrane
