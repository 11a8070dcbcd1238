// The inventory of a block of any size in bounded memory: looked at band
// by band, its tiles handed over as they are found, never held.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "inventory/TaskInventory.h"
#include "sample/TileImage.h"
#include "task/TaskFiles.h"
#include "tests/core/task/TaskTestSupport.h"
#include "tests/support/Sanitizers.h"

namespace kestrane {
namespace {

using tasktest::GetBytes;
using tasktest::PutBytes;
using tasktest::SetBlock;
using tasktest::TempDir;

const std::string kBlankPath =
    std::string(KESTRANE_SOURCE_DIR) + "blankimg/blank180.jpg";

// A 7 x 9 block at zoom 12 looking East, whose tiles are of every kind in
// a pattern that is different in each band of any size.
struct MixedBlock {
  explicit MixedBlock(const std::string &folder) {
    TaskParameters p;
    p.Path = folder;
    p.TaskFileName = "mixed.ktsk";
    p.Dir = 1;
    SetBlock(p, 12, 700, 706, 900, 908);
    TaskEnvironment env;
    env.ProgramFolder = KESTRANE_SOURCE_DIR;
    task = std::make_unique<DownloadTask>(p, env);
    CreateTileFolder(*task);
    const std::string jpeg = TileJpeg(TileAddress{12, 700, 900, 1});
    const std::string blank = GetBytes(kBlankPath);
    int n = 0;
    for (int32_t x = task->MinX; x <= task->MaxX; ++x)
      for (int32_t y = task->MinY; y <= task->MaxY; ++y, ++n) {
        const std::string path = task->TilePath(x, y);
        switch ((n * 7) % 11) {
        case 0:
        case 1:
        case 2:
          PutBytes(path, jpeg);
          break;
        case 3:
          PutBytes(path, blank);
          break;
        case 4:
          PutBytes(path, "garbage, damaged when decoded");
          break;
        case 5:
          PutBytes(path, jpeg);
          PutBytes(path + ".crashed", "x");
          break;
        case 6:
          PutBytes(path + ".invalid", "x"); // beside a missing tile
          break;
        case 7:
          PutBytes(path, "");
          break;
        default:
          break; // missing
        }
      }
  }
  std::unique_ptr<DownloadTask> task;
};

bool SameTiles(const std::vector<InventoryTile> &a,
               const std::vector<InventoryTile> &b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].X != b[i].X || a[i].Y != b[i].Y || a[i].State != b[i].State ||
        a[i].Crashed != b[i].Crashed || a[i].Invalid != b[i].Invalid)
      return false;
  return true;
}

void ExpectSameCounts(const InventoryCounts &a, const InventoryCounts &b) {
  EXPECT_EQ(a.Total, b.Total);
  EXPECT_EQ(a.Stored, b.Stored);
  EXPECT_EQ(a.Placeholder, b.Placeholder);
  EXPECT_EQ(a.Damaged, b.Damaged);
  EXPECT_EQ(a.Missing, b.Missing);
  EXPECT_EQ(a.SideFiles, b.SideFiles);
}

// Bands of one tile, of sizes that do not divide the block and do not
// fall on a word of 64 tiles, and one band larger than the block: the same
// counts and the same tiles in the same order, with and without the decode
// check, on one and on three threads; and Replay hands over what Run did.
TEST(InventoryWalk, EveryBandSizeGivesTheSameInventory) {
  TempDir dir;
  const MixedBlock b(dir.Path());
  for (const bool decode : {false, true}) {
    InventoryOptions whole;
    whole.Decode = decode;
    const TaskInventory want = TakeInventory(*b.task, whole);
    ASSERT_EQ(want.Counts.Total, 63);
    ASSERT_GT(want.Counts.Stored, 0);
    ASSERT_GT(want.Counts.Missing, 0);
    for (const int64_t band : {1, 5, 13, 62, 64, 1000}) {
      for (const int threads : {1, 3}) {
        SCOPED_TRACE("decode " + std::to_string(decode) + " band " +
                     std::to_string(band) + " threads " +
                     std::to_string(threads));
        InventoryOptions o = whole;
        o.BandTiles = band;
        o.Threads = threads;
        InventoryWalk walk(*b.task, o);
        std::vector<InventoryTile> run, replay;
        ASSERT_TRUE(
            walk.Run([&](const InventoryTile &t) { run.push_back(t); }));
        ExpectSameCounts(walk.Counts(), want.Counts);
        EXPECT_TRUE(SameTiles(run, want.Problems));
        ASSERT_TRUE(
            walk.Replay([&](const InventoryTile &t) { replay.push_back(t); }));
        EXPECT_TRUE(SameTiles(replay, want.Problems));
      }
    }
  }
}

// The list of missing tiles written from a walk of many bands is the list
// written from the inventory taken whole.
TEST(InventoryWalk, ListFromBandsIsTheListOfTheWholeInventory) {
  TempDir dir;
  const MixedBlock b(dir.Path());
  const TaskInventory whole = TakeInventory(*b.task);
  WriteMissingList(*b.task, whole, dir.Path() + "whole.ftl");
  InventoryOptions o;
  o.BandTiles = 10;
  InventoryWalk walk(*b.task, o);
  ASSERT_TRUE(walk.Run());
  const InventoryCounts &c = walk.Counts();
  ASSERT_TRUE(WriteMissingList(
      *b.task, c.Total - c.Stored,
      [&walk](const ProblemVisitor &visit) { return walk.Replay(visit); },
      dir.Path() + "bands.ftl"));
  EXPECT_EQ(GetBytes(dir.Path() + "bands.ftl"),
            GetBytes(dir.Path() + "whole.ftl"));
  EXPECT_FALSE(GetBytes(dir.Path() + "whole.ftl").empty());
}

// A stop request while the list is written leaves neither the list nor its
// temporary file.
TEST(InventoryWalk, StoppedListLeavesNothing) {
  TempDir dir;
  const MixedBlock b(dir.Path());
  const TaskInventory whole = TakeInventory(*b.task);
  StopFlag stop;
  stop.Request();
  const std::vector<std::string> before = dir.Names();
  EXPECT_FALSE(WriteMissingList(
      *b.task, whole.Counts.Total - whole.Counts.Stored,
      [&whole](const ProblemVisitor &visit) {
        for (const InventoryTile &t : whole.Problems)
          visit(t);
        return true;
      },
      dir.Path() + "list.ftl", &stop));
  EXPECT_EQ(dir.Names(), before);
}

// The largest block a project file allows (2,147,395,600 tiles), none of
// them stored, is counted within 256 MB more than the process held: the
// child that counts it cannot take more.
TEST(InventoryWalk, LargestBlockIsCountedInBoundedMemory) {
  TempDir dir;
  TaskParameters p;
  p.Path = dir.Path();
  p.TaskFileName = "huge.ktsk";
  p.Dir = 1;
  SetBlock(p, 17, 10000, 10000 + 46339, 20000, 20000 + 46339);
  const DownloadTask task(p);
  ASSERT_EQ(task.TotalCount, 2147395600);
  std::fflush(nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The address space the child has now, and 256 MB more.
    long pages = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(f, "%ld", &pages) != 1)
        pages = 0;
      std::fclose(f);
    }
    const rlim_t limit = static_cast<rlim_t>(pages) *
                             static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) +
                         (rlim_t{256} << 20);
    const rlimit r{limit, limit};
    // AddressSanitizer reserves terabytes of shadow address space, so under
    // it the count runs without the bound and only its result is checked.
    if (!testing::kSanitized && (pages == 0 || ::setrlimit(RLIMIT_AS, &r) != 0))
      ::_exit(3);
    try {
      const std::optional<InventoryCounts> c = CountTileFolder(task);
      ::_exit(c && c->Missing == task.TotalCount ? 0 : 1);
    } catch (...) {
      ::_exit(2); // out of memory
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status))
      << "the count ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "1: wrong counts, 2: out of memory, 3: no limit set";
  EXPECT_EQ(dir.Names(), std::vector<std::string>{});
}

} // namespace
} // namespace kestrane
