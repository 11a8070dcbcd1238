#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "inventory/ProjectFile.h"
#include "inventory/TaskInventory.h"
#include "sample/TileImage.h"
#include "task/TaskFiles.h"
#include "tests/core/task/TaskTestSupport.h"
#include "tests/support/KilledWriter.h"

namespace kestrane {
namespace {

using tasktest::CrLf;
using tasktest::DiskState;
using tasktest::Exists;
using tasktest::GetBytes;
using tasktest::PutBytes;
using tasktest::SetBlock;
using tasktest::TempDir;

const std::string kBlankPath =
    std::string(KESTRANE_SOURCE_DIR) + "blankimg/blank180.jpg";

// A 4 x 3 block at zoom 10 in `folder`, seen in direction `dir`, whose
// program folder is the source tree (for blankimg/).
struct SmallTask {
  SmallTask(const std::string &folder, int32_t dir) {
    params.Path = folder;
    params.TaskFileName = "audit.ktsk";
    params.Dir = dir;
    SetBlock(params, 10, 100, 103, 200, 202);
    TaskEnvironment env;
    env.ProgramFolder = KESTRANE_SOURCE_DIR;
    task = std::make_unique<DownloadTask>(params, env);
    CreateTileFolder(*task);
  }
  std::string Path(int32_t x, int32_t y) const { return task->TilePath(x, y); }
  TaskParameters params;
  std::unique_ptr<DownloadTask> task;
};

std::string GoodJpeg() {
  return TileJpeg(TileAddress{10, 100, 200, 0});
}

// The header of a 256 x 256 RGB PNG (signature, IHDR with its CRC) and some
// bytes after it.
std::string PngWithHeader() {
  const unsigned char h[] = {
      0x89, 'P', 'N', 'G',  0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I',
      'H',  'D', 'R', 0,    0,    1,    0,    0,    0, 1, 0, 8,  2,
      0,    0,   0,   0xD3, 0x10, 0x3F, 0x31, 0,    0, 0, 0};
  return std::string(reinterpret_cast<const char *>(h), sizeof h);
}

struct Expected {
  TileState State;
  bool Crashed = false, Invalid = false;
};

// Every way a tile can stand in the folder, on one block, in each
// direction, with and without the decode check, on one and on three
// threads: counts, and the problem list in the workers' order.
TEST(TakeInventory, ClassifiesEveryKindOfTileInEachDirection) {
  const std::string jpeg = GoodJpeg();
  const std::string blank = GetBytes(kBlankPath);
  ASSERT_FALSE(blank.empty());
  std::string sameSizeAsBlank = blank;
  sameSizeAsBlank[0] = 'X'; // no JPEG start
  std::string truncatedPng = PngWithHeader().substr(0, 20);
  std::string badDepthPng = PngWithHeader();
  badDepthPng[24] = 3; // no colour type 2 image has 3 bits

  for (int32_t dir = 0; dir < 4; ++dir) {
    for (const bool decode : {false, true}) {
      for (const int threads : {1, 3}) {
        SCOPED_TRACE("dir " + std::to_string(dir) + " decode " +
                     std::to_string(decode) + " threads " +
                     std::to_string(threads));
        TempDir dir_;
        SmallTask t(dir_.Path(), dir);
        const auto damagedIfDecoded =
            decode ? TileState::Damaged : TileState::Stored;
        // (x, y) -> contents; tiles not named stay missing.
        std::map<std::pair<int32_t, int32_t>, Expected> expect;
        PutBytes(t.Path(100, 200), jpeg);
        PutBytes(t.Path(100, 201), blank);
        expect[{100, 201}] = {TileState::Placeholder};
        // Same size as the blank, one byte different: a tile.
        PutBytes(t.Path(100, 202), sameSizeAsBlank);
        expect[{100, 202}] = {damagedIfDecoded};
        PutBytes(t.Path(101, 200), "garbage, not an image");
        expect[{101, 200}] = {damagedIfDecoded};
        // No image is empty, checked or not.
        PutBytes(t.Path(101, 201), "");
        expect[{101, 201}] = {TileState::Damaged};
        PutBytes(t.Path(101, 202), PngWithHeader());
        PutBytes(t.Path(102, 200), truncatedPng);
        expect[{102, 200}] = {damagedIfDecoded};
        PutBytes(t.Path(102, 201), badDepthPng);
        expect[{102, 201}] = {damagedIfDecoded};
        // A folder under a tile's name holds no tile.
        std::filesystem::create_directory(t.Path(102, 202));
        expect[{102, 202}] = {TileState::Missing};
        // Side files: beside a missing tile and beside a stored one.
        PutBytes(t.Path(103, 200) + ".crashed", "x");
        expect[{103, 200}] = {TileState::Missing, true, false};
        PutBytes(t.Path(103, 201), jpeg);
        PutBytes(t.Path(103, 201) + ".invalid", "x");
        PutBytes(t.Path(103, 201) + ".crashed", "x");
        expect[{103, 201}] = {TileState::Stored, true, true};
        // Nor does a pipe, which must not stop the audit either.
        ASSERT_EQ(mkfifo(t.Path(103, 202).c_str(), 0600), 0);
        expect[{103, 202}] = {TileState::Missing};
        // Names that are no tile of this block are not counted.
        const std::string folder = t.task->TileFolder;
        for (const char *other :
             {"ks_0100_200_10.jpg", "ks_+100_200_10.jpg", "ks_100_200_11.jpg",
              "ks_100_200_10.png", "ks_100_200_10.jpg.tmp123.4",
              "ks_5000_5000_10.jpg", "ks_100_200_10.jpgx", "notes.txt"})
          PutBytes(folder + other, jpeg);

        InventoryOptions o;
        o.Decode = decode;
        o.Threads = threads;
        const TaskInventory inv = TakeInventory(*t.task, o);
        ASSERT_FALSE(inv.Cancelled);

        InventoryCounts want;
        want.Total = 12;
        std::vector<InventoryTile> problems;
        for (int32_t x = 100; x <= 103; ++x)
          for (int32_t y = 200; y <= 202; ++y) {
            const auto it = expect.find({x, y});
            const Expected e =
                it == expect.end() ? Expected{TileState::Stored} : it->second;
            ++(e.State == TileState::Stored        ? want.Stored
               : e.State == TileState::Placeholder ? want.Placeholder
               : e.State == TileState::Damaged     ? want.Damaged
                                                   : want.Missing);
            if (e.Crashed || e.Invalid)
              ++want.SideFiles;
            if (e.State != TileState::Stored || e.Crashed || e.Invalid)
              problems.push_back({x, y, e.State, e.Crashed, e.Invalid});
          }
        EXPECT_EQ(inv.Counts.Total, want.Total);
        EXPECT_EQ(inv.Counts.Stored, want.Stored);
        EXPECT_EQ(inv.Counts.Missing, want.Missing);
        EXPECT_EQ(inv.Counts.Placeholder, want.Placeholder);
        EXPECT_EQ(inv.Counts.Damaged, want.Damaged);
        EXPECT_EQ(inv.Counts.SideFiles, want.SideFiles);
        ASSERT_EQ(inv.Problems.size(), problems.size());
        for (size_t i = 0; i < problems.size(); ++i) {
          SCOPED_TRACE("problem " + std::to_string(i));
          EXPECT_EQ(inv.Problems[i].X, problems[i].X);
          EXPECT_EQ(inv.Problems[i].Y, problems[i].Y);
          EXPECT_EQ(inv.Problems[i].State, problems[i].State);
          EXPECT_EQ(inv.Problems[i].Crashed, problems[i].Crashed);
          EXPECT_EQ(inv.Problems[i].Invalid, problems[i].Invalid);
        }
        EXPECT_EQ(inv.Counts.Stored + inv.Counts.Placeholder +
                      inv.Counts.Damaged + inv.Counts.Missing,
                  inv.Counts.Total);
        EXPECT_FALSE(inv.Counts.Complete());
      }
    }
  }
}

TEST(TakeInventory, CompleteWhenEveryTileIsStoredAndNoFolderMeansAllMissing) {
  TempDir dir;
  SmallTask t(dir.Path(), 0);
  std::filesystem::remove(t.task->TileFolder);
  TaskInventory inv = TakeInventory(*t.task);
  EXPECT_EQ(inv.Counts.Missing, 12);
  EXPECT_EQ(inv.Problems.size(), 12u);

  std::filesystem::create_directory(t.task->TileFolder);
  for (int32_t x = 100; x <= 103; ++x)
    for (int32_t y = 200; y <= 202; ++y)
      PutBytes(t.Path(x, y), GoodJpeg());
  InventoryOptions o;
  o.Decode = true;
  int64_t lastDone = -1;
  o.Progress = [&](int64_t done, int64_t total) {
    EXPECT_EQ(total, 12);
    lastDone = done;
  };
  inv = TakeInventory(*t.task, o);
  EXPECT_TRUE(inv.Counts.Complete());
  EXPECT_TRUE(inv.Problems.empty());
  EXPECT_EQ(lastDone, 12);
}

// A tile file over the inventory's bound of 64 MiB is not read by the
// decode check: damaged, not missing; without the check it is a stored file.
TEST(TakeInventory, TileOverTheBoundIsDamagedWhenChecked) {
  TempDir dir;
  SmallTask t(dir.Path(), 0);
  for (int32_t x = 100; x <= 103; ++x)
    for (int32_t y = 200; y <= 202; ++y)
      PutBytes(t.Path(x, y), GoodJpeg());
  std::filesystem::resize_file(t.Path(101, 201),
                               (std::uintmax_t{64} << 20) + 1);
  EXPECT_TRUE(TakeInventory(*t.task).Counts.Complete());
  InventoryOptions o;
  o.Decode = true;
  const TaskInventory inv = TakeInventory(*t.task, o);
  EXPECT_EQ(inv.Counts.Damaged, 1);
  EXPECT_EQ(inv.Counts.Missing, 0);
  EXPECT_EQ(inv.Counts.Stored, 11);
}

TEST(TakeInventory, StopsWhenCancelled) {
  TempDir dir;
  SmallTask t(dir.Path(), 0);
  // The listing looks at the flag every few thousand entries, the decode
  // check before every chunk.
  for (int i = 0; i < 5000; ++i)
    PutBytes(t.task->TileFolder + "other" + std::to_string(i), "");
  StopFlag cancel;
  cancel.Request();
  InventoryOptions o;
  o.Cancel = &cancel;
  EXPECT_TRUE(TakeInventory(*t.task, o).Cancelled);
}

TEST(WriteMissingList, ListsEveryTileNotStoredInTheWorkersOrder) {
  TempDir dir;
  SmallTask t(dir.Path(), 1);
  for (int32_t x = 100; x <= 103; ++x)
    for (int32_t y = 200; y <= 202; ++y)
      if (x != 101 && y != 202)
        PutBytes(t.Path(x, y), GoodJpeg());
  PutBytes(t.Path(100, 200) + ".crashed", "x"); // stored: not listed
  PutBytes(t.Path(102, 200), GetBytes(kBlankPath));
  const TaskInventory inv = TakeInventory(*t.task);
  const std::string list = MissingListPath(dir.Path() + "audit.ktsk");
  EXPECT_EQ(list, dir.Path() + "audit_missing.ftl");
  WriteMissingList(*t.task, inv, list);

  std::vector<std::string> lines;
  for (int32_t x = 100; x <= 103; ++x)
    for (int32_t y = 200; y <= 202; ++y)
      if (x == 101 || y == 202 || x == 102)
        if (!(x == 102 && y != 200 && y != 202))
          lines.push_back(t.Path(x, y) + "|" + t.task->TileUrl(x, y));
  EXPECT_EQ(GetBytes(list), CrLf(lines));
  // Replaced whole, no temporary file left beside it.
  WriteMissingList(*t.task, TaskInventory{}, list);
  EXPECT_EQ(GetBytes(list), "");
  EXPECT_FALSE(Exists(list + ".tmp"));
  EXPECT_EQ(dir.Names(),
            (std::vector<std::string>{"audit", "audit_missing.ftl"}));
  EXPECT_THROW(WriteMissingList(*t.task, inv, dir.Path() + "no/such.ftl"),
               KError);
}

// An audit killed while it wrote its list left the list's temporary file;
// the next list written to that folder removes it.
TEST(WriteMissingList, RemovesTheTemporaryListOfAKilledAudit) {
  TempDir dir;
  SmallTask t(dir.Path(), 0);
  const std::string list = dir.Path() + "audit_missing.ftl";
  const std::string temp = testing::LeaveKilledWritersTemporary(list);
  ASSERT_TRUE(Exists(temp)) << temp;
  WriteMissingList(*t.task, TakeInventory(*t.task), list);
  EXPECT_FALSE(Exists(temp));
  EXPECT_EQ(dir.Names(),
            (std::vector<std::string>{"audit", "audit_missing.ftl"}));
}

TEST(MissingListPath, TakesTheTasksBaseName) {
  const std::pair<const char *, const char *> rows[] = {
      {"/d/mytask.ktsk", "/d/mytask_missing.ftl"},
      {"/d/my.task.ktsk", "/d/my.task_missing.ftl"},
      {"/d.x/mytask", "/d.x/mytask_missing.ftl"}, // no extension
      {"mytask.ktsk", "mytask_missing.ftl"},
  };
  for (const auto &[in, out] : rows)
    EXPECT_EQ(MissingListPath(in), out) << in;
}

TEST(LoadTask, BuildsTheSameTaskStartBuiltWithoutWriting) {
  for (int32_t dir = 0; dir < 4; ++dir) {
    TempDir d;
    SmallTask t(d.Path(), dir);
    WriteProjectFile(*t.task);
    std::filesystem::remove(t.task->TileFolder);
    TaskEnvironment env;
    env.ProgramFolder = "/elsewhere/";
    const LoadedTask l = LoadTask(d.Path() + "audit.ktsk", env);
    EXPECT_EQ(l.ProjectFile, d.Path() + "audit.ktsk");
    EXPECT_EQ(l.Task.MinX, t.task->MinX);
    EXPECT_EQ(l.Task.MaxX, t.task->MaxX);
    EXPECT_EQ(l.Task.MinY, t.task->MinY);
    EXPECT_EQ(l.Task.MaxY, t.task->MaxY);
    EXPECT_EQ(l.Task.Params.Dir, dir);
    EXPECT_EQ(l.Task.TileFolder, t.task->TileFolder);
    EXPECT_EQ(l.Task.TilePath(101, 201), t.task->TilePath(101, 201));
    EXPECT_EQ(l.Task.Env.ProgramFolder, "/elsewhere/");
    // Looking leaves the disk as it was.
    EXPECT_FALSE(Exists(t.task->TileFolder));
    EXPECT_EQ(d.Names(), std::vector<std::string>{"audit.ktsk"});
  }
}

// Looking at a task leaves the disk as it was, whatever stands where its
// tile folder goes, and reads no saved positions.
TEST(LoadTask, LeavesTheDiskAsItWas) {
  struct Row {
    const char *what;
    void (*prepare)(const SmallTask &t, const std::string &project);
  };
  const Row rows[] = {
      {"no tile folder",
       [](const SmallTask &t, const std::string &) {
         std::filesystem::remove(t.task->TileFolder);
       }},
      {"tile folder with a tile",
       [](const SmallTask &t, const std::string &) {
         PutBytes(t.Path(101, 201), GoodJpeg());
       }},
      {"a file where the tile folder goes",
       [](const SmallTask &t, const std::string &) {
         std::filesystem::remove(t.task->TileFolder);
         std::string file = t.task->TileFolder;
         file.pop_back();
         PutBytes(file, "in the way");
       }},
      {"saved positions",
       [](const SmallTask &, const std::string &project) {
         std::string bytes = GetBytes(project);
         bytes.replace(bytes.find("T1X="), 4, "T1X=101");
         bytes.replace(bytes.find("T1Y="), 4, "T1Y=201");
         PutBytes(project, bytes);
       }},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    TempDir d;
    SmallTask t(d.Path(), 0);
    const std::string project = d.Path() + "audit.ktsk";
    WriteProjectFile(*t.task);
    r.prepare(t, project);
    const auto before = DiskState(d.Path());
    const LoadedTask l = LoadTask(project);
    EXPECT_EQ(DiskState(d.Path()), before);
    EXPECT_EQ(l.Task.TileFolder, t.task->TileFolder);
    EXPECT_EQ(l.Task.TotalCount, 12);
    for (size_t i = 0; i < kResumeSlots; ++i)
      EXPECT_EQ(l.Task.ResumeX[i] | l.Task.ResumeY[i], 0) << "slot " << i;
  }
}

TEST(LoadTask, RefusesWhatIsNoProjectFile) {
  TempDir d;
  SmallTask t(d.Path(), 0);
  WriteProjectFile(*t.task);
  const std::string good = GetBytes(d.Path() + "audit.ktsk");
  const auto replaced = [&](const std::string &from, const std::string &to) {
    std::string s = good;
    const size_t at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return s.replace(at, from.size(), to);
  };
  const std::pair<const char *, std::string> rows[] = {
      {"not ini at all", "\x89PNG\r\n\x1a\n binary"},
      {"zoom 0", replaced("Zoom=10", "Zoom=0")},
      {"zoom 22", replaced("Zoom=10", "Zoom=22")},
      {"direction 4", replaced("Dir=0", "Dir=4")},
      {"no left edge", replaced("LeftLongitude=", "Left=")},
      {"left east of right", replaced("LeftLongitude=", "LeftLongitude=17")},
  };
  for (const auto &[what, bytes] : rows) {
    PutBytes(d.Path() + "bad.ktsk", bytes);
    try {
      LoadTask(d.Path() + "bad.ktsk");
      ADD_FAILURE() << what << " was loaded";
    } catch (const KError &e) {
      EXPECT_EQ(std::string(e.what()),
                "Cannot open file " + d.Path() + "bad.ktsk")
          << what;
    }
  }
  EXPECT_THROW(LoadTask(d.Path() + "none.ktsk"), KError);
  EXPECT_THROW(LoadTask(d.Path()), KError); // a folder
}

// The picture seen in each direction: its top left tile, and every tile in
// one cell of its own.
TEST(ViewPlacement, PutsEachDirectionsTopLeftTileFirst) {
  struct Row {
    int32_t Dir;
    int32_t X, Y; // the tile at the top left
  };
  const Row rows[] = {
      {0, 100, 202}, // North: west at the left, north (high rows) on top
      {1, 103, 202}, // East: north at the left, far east on top
      {2, 103, 200}, // South: east at the left, far south on top
      {3, 100, 200}, // West: south at the left, far west on top
  };
  for (const Row &r : rows) {
    TempDir d;
    SmallTask t(d.Path(), r.Dir);
    const ViewCell top = ViewPlacement(*t.task, r.X, r.Y);
    EXPECT_EQ(top.Column, 0) << r.Dir;
    EXPECT_EQ(top.Row, 0) << r.Dir;
    std::set<std::pair<int64_t, int64_t>> cells;
    for (int32_t x = 100; x <= 103; ++x)
      for (int32_t y = 200; y <= 202; ++y) {
        const ViewCell c = ViewPlacement(*t.task, x, y);
        EXPECT_GE(c.Column, 0);
        EXPECT_LT(c.Column, ViewColumns(*t.task));
        EXPECT_GE(c.Row, 0);
        EXPECT_LT(c.Row, ViewRows(*t.task));
        cells.insert({c.Column, c.Row});
      }
    EXPECT_EQ(cells.size(), 12u) << r.Dir;
  }
}

} // namespace
} // namespace kestrane

namespace kestrane {
namespace {

// The tiles outside a task's outline are no tiles of the task: whatever
// stands under their names (a tile, a placeholder, a side file, nothing),
// they count as neither stored nor missing, and no problem names them; the
// bands of a large block split them alike.
TEST(TakeInventory, TilesOutsideTheOutlineAreNeitherStoredNorMissing) {
  const std::string jpeg = TileJpeg(TileAddress{10, 100, 200, 0});
  for (const int64_t band : {int64_t{0}, int64_t{5}}) {
    SCOPED_TRACE("band " + std::to_string(band));
    tasktest::TempDir dir;
    TaskParameters params;
    params.Path = dir.Path();
    params.TaskFileName = "audit.ktsk";
    tasktest::SetBlock(params, 10, 100, 103, 200, 202);
    // Column 100 and row 200 of the 4 x 3 block: six tiles.
    const auto at = [](double x, double y) {
      return LonLat{TileXToLongitude(x, 10), TileYToLatitude(y, 10)};
    };
    params.Area = {{{at(100.2, 200.2), at(103.8, 200.2), at(103.8, 200.8),
                     at(100.8, 200.8), at(100.8, 202.8), at(100.2, 202.8)},
                    {}}};
    TaskEnvironment env;
    env.ProgramFolder = KESTRANE_SOURCE_DIR;
    const DownloadTask task(params, env);
    CreateTileFolder(task);
    // Inside: two stored, one placeholder, three missing.
    tasktest::PutBytes(task.TilePath(100, 200), jpeg);
    tasktest::PutBytes(task.TilePath(103, 200), jpeg);
    tasktest::PutBytes(task.TilePath(100, 202), GetBytes(kBlankPath));
    // Outside: a tile, a placeholder and a side file.
    tasktest::PutBytes(task.TilePath(101, 201), jpeg);
    tasktest::PutBytes(task.TilePath(103, 202), GetBytes(kBlankPath));
    tasktest::PutBytes(task.TilePath(102, 201) + ".crashed", jpeg);

    InventoryOptions options;
    options.BandTiles = band;
    const TaskInventory inv = TakeInventory(task, options);
    EXPECT_EQ(inv.Counts.Total, 6);
    EXPECT_EQ(inv.Counts.Stored, 2);
    EXPECT_EQ(inv.Counts.Placeholder, 1);
    EXPECT_EQ(inv.Counts.Missing, 3);
    EXPECT_EQ(inv.Counts.SideFiles, 0);
    EXPECT_EQ(inv.Counts.Outside, 6);
    std::set<std::pair<int32_t, int32_t>> named;
    for (const InventoryTile &t : inv.Problems)
      named.insert({t.X, t.Y});
    EXPECT_EQ(named, (std::set<std::pair<int32_t, int32_t>>{
                         {100, 201}, {100, 202}, {101, 200}, {102, 200}}));
    EXPECT_EQ(InventorySummaryLines(inv.Counts),
              (std::vector<std::string>{"Tiles in the block: 12",
                                        "Outside the outline: 6", "Stored: 2",
                                        "Placeholders: 1", "Damaged: 0",
                                        "Missing: 3", "Side files: 0"}));
  }
}

} // namespace
} // namespace kestrane
