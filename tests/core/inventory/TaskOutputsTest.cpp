// The paths an output of a task may not take: the task's own files, by
// whatever path they are named, and anything that is not a regular file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "inventory/TaskInventory.h"
#include "task/TaskFiles.h"
#include "tests/core/task/TaskTestSupport.h"

namespace kestrane {
namespace {

using tasktest::PutBytes;
using tasktest::SetBlock;
using tasktest::TempDir;

// A North task of 3 x 2 tiles at zoom 14 whose files Start wrote, with a
// tile and its side file stored.
struct WrittenTask {
  explicit WrittenTask(const std::string &folder) {
    TaskParameters p;
    p.Path = folder;
    p.TaskFileName = "own.ktsk";
    SetBlock(p, 14, 3000, 3002, 5000, 5001);
    task = std::make_unique<DownloadTask>(p);
    CreateTileFolder(*task);
    WriteTaskFiles(*task);
    PutBytes(task->TilePath(3001, 5000), "a tile");
    PutBytes(task->TilePath(3001, 5000) + ".crashed", "x");
  }
  std::unique_ptr<DownloadTask> task;
};

// Every name below `folder` with its kind, inode, size and time of change,
// as lstat() gives them: what a refusal must leave as it was (a FIFO is
// not opened).
std::map<std::string, std::string> Listing(const std::string &folder) {
  std::map<std::string, std::string> out;
  for (const auto &e : std::filesystem::recursive_directory_iterator(folder)) {
    struct stat st {};
    ::lstat(e.path().c_str(), &st);
    out[e.path().string()] =
        std::to_string(st.st_mode) + " " + std::to_string(st.st_ino) + " " +
        std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) +
        "." + std::to_string(st.st_mtim.tv_nsec);
  }
  return out;
}

// The message a refused output gets, or "" when it is taken.
std::string Refusal(const DownloadTask &task, const std::string &output) {
  try {
    RefuseAsOutput(task, output);
  } catch (const KError &e) {
    EXPECT_EQ(e.Cause(), ErrorCause::InputRefused) << output;
    return e.what();
  }
  return "";
}

TEST(RefuseAsOutput, TheTasksOwnFilesAreNeverOutputs) {
  TempDir dir;
  const WrittenTask w(dir.Path());
  const DownloadTask &t = *w.task;
  const std::string d = dir.Path();
  const std::string tile = t.TileFileName(3001, 5000);
  const std::string absent = t.TileFileName(3002, 5001); // not stored
  ::link((d + "own_log.txt").c_str(), (d + "hard-link-to-log").c_str());
  std::filesystem::create_symlink(d + "own.ktsk", d + "link-to-project");
  std::filesystem::create_directory(d + "sub");
  const auto before = Listing(d);
  const struct {
    std::string output;
    const char *what; // nullptr: taken
  } rows[] = {
      {d + "own.ktsk", "the project file"},
      {d + "sub/../own.ktsk", "the project file"},
      {d + "link-to-project", "the project file"},
      {d + "own_log.txt", "the task's log"},
      {d + "hard-link-to-log", "the task's log"},
      {d + "own_failed.ftl", "the task's failed-tile list"},
      {d + "own_checked.bin", "the task's record of checked tiles"},
      {d + "own_list.txt1.txt", "a tile list of the task"},
      {d + "own/" + tile, "a tile of the task"},
      {d + "own/./" + absent, "a tile of the task"},
      {d + "own/" + tile + ".crashed", "a side file of a tile of the task"},
      {d + "own/" + tile + ".invalid", "a side file of a tile of the task"},
      {d + "own", "a folder"},
      // Taken: other names beside the task and in its tile folder.
      {d + "own.tif", nullptr},
      {d + "own_missing.ftl", nullptr},
      {d + "own_list.txt2.txt", nullptr}, // the block has one list file
      {d + "own_list.txt0.txt", nullptr},
      {d + "own/picture.tif", nullptr},
      {d + "own/ks_3001_5000_15.jpg", nullptr}, // another zoom's name
      {d + "sub/own.ktsk", nullptr},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.output);
    EXPECT_EQ(Refusal(t, row.output),
              row.what == nullptr
                  ? std::string()
                  : "Cannot create file " + row.output + ": it is " + row.what);
  }
  EXPECT_EQ(Listing(d), before);
}

// A FIFO, a folder or a link to a device at the list's path is refused
// before anything is written, and stays what it was.
TEST(RefuseAsOutput, MissingListIsNeverWrittenOverWhatIsNoFile) {
  TempDir dir;
  const WrittenTask w(dir.Path());
  const TaskInventory inv = TakeInventory(*w.task);
  const std::string d = dir.Path();
  ASSERT_EQ(::mkfifo((d + "fifo.ftl").c_str(), 0600), 0);
  std::filesystem::create_directory(d + "folder.ftl");
  std::filesystem::create_symlink("/dev/null", d + "null.ftl");
  const auto before = Listing(d);
  for (const char *name :
       {"fifo.ftl", "folder.ftl", "null.ftl", "own.ktsk", "own_failed.ftl"}) {
    SCOPED_TRACE(name);
    try {
      WriteMissingList(*w.task, inv, d + name);
      ADD_FAILURE() << "written";
    } catch (const KError &e) {
      EXPECT_EQ(e.Cause(), ErrorCause::InputRefused);
    }
  }
  EXPECT_EQ(Listing(d), before);
  struct stat st {};
  ASSERT_EQ(::lstat((d + "fifo.ftl").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

} // namespace
} // namespace kestrane
