#include "platform/AtomicFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/Files.h"
#include "tests/support/KilledWriter.h"
#include "tests/support/TempDir.h"

namespace kestrane {
namespace {

using testing::GetBytes;
using testing::PutBytes;
using testing::TempDir;

// The streamed write: pieces go into the temporary file beside the target,
// whose name is the program's own form with this process's id; the commit
// puts the whole at the target and nothing else stays.
TEST(AtomicFile, StreamsIntoATemporaryBesideTheTarget) {
  TempDir dir;
  const std::string target = dir.Path() + "list.ftl";
  PutBytes(target, "old");
  {
    AtomicFile file(target);
    ASSERT_TRUE(file.Valid());
    EXPECT_EQ(ExtractFilePath(file.TempPath()), dir.Path());
    long owner = 0;
    EXPECT_TRUE(IsTemporaryName(ExtractFileName(file.TempPath()), &owner));
    EXPECT_EQ(owner, ::getpid());
    EXPECT_EQ(file.Write("first "), 0);
    EXPECT_EQ(file.Write(""), 0);
    EXPECT_EQ(file.Write("second"), 0);
    EXPECT_EQ(GetBytes(target), "old"); // not before the commit
    EXPECT_EQ(file.Commit(), 0);
  }
  EXPECT_EQ(GetBytes(target), "first second");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"list.ftl"});
}

// Every way a write ends without a commit, or with one that fails, leaves
// the folder as it was: the old file, and no temporary file.
TEST(AtomicFile, AWriteThatDoesNotCompleteLeavesTheFolderAsItWas) {
  TempDir dir;
  PutBytes(dir.Path() + "kept.txt", "old");
  ASSERT_EQ(::mkdir((dir.Path() + "folder").c_str(), 0777), 0);
  struct Row {
    const char *what;
    std::string target;
    bool commit, replace;
    int error; // of the commit
  };
  const Row rows[] = {
      {"dropped before the commit", dir.Path() + "kept.txt", false, true, 0},
      {"a folder at the target", dir.Path() + "folder", true, true, EISDIR},
      {"a file there and no replacing", dir.Path() + "kept.txt", true, false,
       EEXIST},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    {
      AtomicFile file(r.target);
      ASSERT_TRUE(file.Valid());
      EXPECT_EQ(file.Write("new"), 0);
      if (r.commit) {
        EXPECT_EQ(file.Commit(true, r.replace), r.error);
      }
    }
    EXPECT_EQ(GetBytes(dir.Path() + "kept.txt"), "old");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"folder", "kept.txt"}));
  }
}

TEST(AtomicFile, RefusesATargetWhoseFolderIsMissing) {
  TempDir dir;
  const std::pair<std::string, int> rows[] = {
      {dir.Path() + "no/such.txt", ENOENT},
      {"", ENOENT},
      {dir.Path(), EISDIR},
  };
  for (const auto &[target, error] : rows) {
    AtomicFile file(target);
    EXPECT_FALSE(file.Valid()) << target;
    EXPECT_EQ(file.Error(), error) << target;
    EXPECT_EQ(file.Commit(), error) << target;
  }
  EXPECT_TRUE(dir.Names().empty());
}

// A writer that hands its descriptor to another owner (the TIFF library,
// which closes it) still commits by the rename.
TEST(AtomicFile, CommitsAfterTheDescriptorWasHandedOver) {
  TempDir dir;
  const std::string target = dir.Path() + "picture.tif";
  AtomicFile file(target);
  ASSERT_TRUE(file.Valid());
  const int fd = file.Fd();
  file.HandOver();
  EXPECT_EQ(file.Fd(), -1);
  ASSERT_EQ(::write(fd, "II*", 3), 3);
  ASSERT_EQ(::close(fd), 0);
  EXPECT_EQ(file.Commit(/*sync=*/false), 0);
  EXPECT_EQ(GetBytes(target), "II*");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"picture.tif"});
}

// A process killed in the middle of a write leaves its temporary file; the
// clean-up takes it, and leaves the one of a writer that still runs.
TEST(AtomicFile, AKilledWritersTemporaryIsCleanedUp) {
  TempDir dir;
  const std::string temp =
      testing::LeaveKilledWritersTemporary(dir.Path() + "t_missing.ftl");
  ASSERT_FALSE(temp.empty());
  ASSERT_TRUE(FileExists(temp));
  EXPECT_TRUE(IsTemporaryName(ExtractFileName(temp)));
  AtomicFile running(dir.Path() + "other.txt");
  ASSERT_TRUE(running.Valid());

  EXPECT_EQ(RemoveStaleTemporaries(dir.Path()), 1u);
  EXPECT_FALSE(FileExists(temp));
  EXPECT_TRUE(FileExists(running.TempPath()));
  EXPECT_FALSE(FileExists(dir.Path() + "t_missing.ftl"));
}

// A target without a folder part is written in the working folder, and
// the clean-up of the empty folder looks there.
TEST(AtomicFile, TheWorkingFolderIsCleanedForATargetWithoutFolder) {
  TempDir dir;
  char old[4096];
  ASSERT_NE(::getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(::chdir(dir.Path().c_str()), 0);
  const std::string temp = testing::LeaveKilledWritersTemporary("out.tif");
  const bool left = FileExists(dir.Path() + temp);
  const size_t removed = RemoveStaleTemporaries("");
  ASSERT_EQ(::chdir(old), 0);
  EXPECT_EQ(ExtractFilePath(temp), "");
  EXPECT_TRUE(left) << temp;
  EXPECT_EQ(removed, 1u);
  EXPECT_TRUE(dir.Names().empty());
}

// A temporary name is made with the writer's process id, in the target's
// folder, with the fixed prefix and suffix that the clean-up recognises.
TEST(AtomicFile, TemporaryNamesCarryTheWritersProcess) {
  TempDir dir;
  struct Row {
    std::string name;
    bool ours;
    long owner;
  };
  const Row rows[] = {
      {".kestrane-tmp-123-0.part", true, 123},
      {".kestrane-tmp-999999999-4294967295.part", true, 999999999},
      {".kestrane-tmp-1234567890-1.part", false, 0}, // beyond any process id
      {".kestrane-tmp-0-1.part", false, 0},
      {"budget.xls.tmp99999.1", false, 0},
      {"ks_1_2_18.jpg.tmp123.0", false, 0},
  };
  for (const Row &row : rows) {
    long owner = 0;
    EXPECT_EQ(IsTemporaryName(row.name, &owner), row.ours) << row.name;
    EXPECT_EQ(owner, row.owner) << row.name;
  }
}

} // namespace
} // namespace kestrane
