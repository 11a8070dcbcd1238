#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Files.h"
#include "task/DownloadTask.h"
#include "task/TaskFiles.h"
#include "tests/core/task/TaskTestSupport.h"

namespace kestrane {
namespace {

using tasktest::DiskState;
using tasktest::ExampleParams;
using tasktest::Exists;
using tasktest::PutBytes;
using tasktest::SetBlock;
using tasktest::TempDir;

TEST(DownloadTaskSetupTest, ReferenceAreaRangesCountAndPaths) {
  TempDir dir;
  const TaskParameters p = ExampleParams(dir.Path());
  const DownloadTask t(p);
  CreateTileFolder(t);
  EXPECT_EQ(t.MinX, 41986);
  EXPECT_EQ(t.MaxX, 41994);
  EXPECT_EQ(t.MinY, 170585);
  EXPECT_EQ(t.MaxY, 170596);
  EXPECT_EQ(t.TotalCount, 108);
  EXPECT_EQ(t.BlankImageNumber, 180);
  EXPECT_EQ(t.TileFolder, dir.Path() + "newtask/");
  EXPECT_EQ(t.LogFilePath, dir.Path() + "newtask_log.txt");
  EXPECT_EQ(t.FailedFilePath, dir.Path() + "newtask_failed.ftl");
  EXPECT_EQ(t.ListFilePath, dir.Path() + "newtask_list.txt");
  EXPECT_TRUE(DirectoryExists(t.TileFolder));
  // Only the tile folder is made by the set-up; the files come later.
  EXPECT_FALSE(Exists(t.LogFilePath));
  EXPECT_FALSE(Exists(dir.Path() + "newtask.ktsk"));
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(t.ResumeX[i], 0);
    EXPECT_EQ(t.ResumeY[i], 0);
  }
}

TEST(DownloadTaskSetupTest, EdgeAreas) {
  struct Row {
    const char *what; // the fault the row catches
    double left, right, top, bottom;
    int32_t zoom;
    int32_t minX, maxX, minY, maxY, total;
  };
  const int32_t z = 10, n = 1 << z;
  const Row rows[] = {
      // a point is one tile, not zero (an off-by-one in the count)
      {"single point", -122.33, -122.33, 47.61, 47.61, 18, 41994, 41994, 170596,
       170596, 1},
      // right edge 180 stays in the last column
      {"right 180", 179.9, 180, 1, 1, z, n - 1, n - 1, 514, 514, 1},
      // left 0 starts west of the prime meridian, bottom 0 south of the
      // equator
      {"left 0 bottom 0", 0, 0, 0, 0, z, n / 2 - 1, n / 2 - 1, n / 2 - 1,
       n / 2 - 1, 1},
      // the whole grid at a low zoom: every column and row once
      {"whole world", -180, 180, 85, -85, 4, 0, 15, 0, 15, 256},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    TempDir dir;
    TaskParameters p = ExampleParams(dir.Path());
    p.LeftLongitude = r.left;
    p.RightLongitude = r.right;
    p.TopLatitude = r.top;
    p.BottomLatitude = r.bottom;
    p.Zoom = r.zoom;
    const DownloadTask t(p);
    EXPECT_EQ(t.MinX, r.minX);
    EXPECT_EQ(t.MaxX, r.maxX);
    EXPECT_EQ(t.MinY, r.minY);
    EXPECT_EQ(t.MaxY, r.maxY);
    EXPECT_EQ(t.TotalCount, r.total);
  }
}

TEST(DownloadTaskSetupTest, BlockEdgesComeFromTheRanges) {
  TempDir dir;
  TaskParameters p = ExampleParams(dir.Path());
  p.RightLongitude = 180;
  const DownloadTask t(p);
  EXPECT_EQ(t.RightLongitudeDownload, 180); // east edge of the last column
  EXPECT_EQ(t.LeftLongitudeDownload, TileXToLongitude(41986, 18));
  // North edge is the row above MaxY, south edge MinY's own line.
  EXPECT_EQ(t.TopLatitudeDownload, TileYToLatitude(170597, 18));
  EXPECT_EQ(t.BottomLatitudeDownload, TileYToLatitude(170585, 18));
}

TEST(DownloadTaskSetupTest, DirectionTable) {
  struct Row {
    int32_t dir;
    const char *letter;
    int32_t nw, ne, sw, se;
    bool swapped; // view X runs over the rows, view Y over the columns
  };
  const Row rows[] = {
      {0, "n", 0, 1, 2, 3, false}, // North: the usual quadtree digits
      {1, "e", 2, 0, 3, 1, true},  // East: the north-east child is top left
      {2, "s", 3, 2, 1, 0, false}, // South: the picture turned upside down
      {3, "w", 1, 3, 0, 2, true},  // West: the south-west child is top left
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.letter);
    TempDir dir;
    TaskParameters p = ExampleParams(dir.Path(), r.dir);
    // Columns 10..12 and rows 20..25 at zoom 5: the two ranges differ.
    SetBlock(p, 5, 10, 12, 20, 25);
    const DownloadTask t(p);
    ASSERT_EQ(t.MinX, 10);
    ASSERT_EQ(t.MaxX, 12);
    ASSERT_EQ(t.MinY, 20);
    ASSERT_EQ(t.MaxY, 25);
    EXPECT_EQ(t.DirLetter, r.letter);
    EXPECT_EQ(t.QuadDigitNW, r.nw);
    EXPECT_EQ(t.QuadDigitNE, r.ne);
    EXPECT_EQ(t.QuadDigitSW, r.sw);
    EXPECT_EQ(t.QuadDigitSE, r.se);
    EXPECT_EQ(t.ViewMinX, r.swapped ? 20 : 10);
    EXPECT_EQ(t.ViewMaxX, r.swapped ? 25 : 12);
    EXPECT_EQ(t.ViewMinY, r.swapped ? 10 : 20);
    EXPECT_EQ(t.ViewMaxY, r.swapped ? 12 : 25);
  }
}

TEST(DownloadTaskSetupTest, BaseNameDropsOnlyTheLastExtension) {
  struct Row {
    const char *taskFile;
    const char *base; // tile folder and file names start with it
  };
  const Row rows[] = {
      {"my.area.ktsk", "my.area"}, // only the last dot starts the extension
      {"newtask.ktsk", "newtask"},
      {"plain", "plain"}, // no dot: the whole name
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.taskFile);
    TempDir dir;
    TaskParameters p = ExampleParams(dir.Path());
    p.TaskFileName = r.taskFile;
    const DownloadTask t(p);
    CreateTileFolder(t);
    const std::string base = dir.Path() + r.base;
    EXPECT_EQ(t.TileFolder, base + "/");
    EXPECT_EQ(t.LogFilePath, base + "_log.txt");
    EXPECT_EQ(t.FailedFilePath, base + "_failed.ftl");
    EXPECT_EQ(t.ListFilePath, base + "_list.txt");
    EXPECT_TRUE(DirectoryExists(t.TileFolder));
  }
}

// A count beyond 32 bits would wrap in the workers' tile counters.
TEST(DownloadTaskSetupTest, AreaTooLargeIsRefusedBeforeAnythingIsCreated) {
  TempDir dir;
  TaskParameters p = ExampleParams(dir.Path());
  p.LeftLongitude = -180;
  p.RightLongitude = 180;
  p.TopLatitude = 85;
  p.BottomLatitude = -85;
  p.Zoom = 21;
  const int64_t count = int64_t{2097152} * (2093717 - 3434 + 1);
  try {
    DownloadTask t(p);
    FAIL() << "set-up accepted " << t.TotalCount << " tiles";
  } catch (const KError &e) {
    EXPECT_EQ(e.Cause(), ErrorCause::InputRefused);
    EXPECT_EQ(std::string(e.what()),
              "The area is too large: " + std::to_string(count) + " tiles.");
  }
  EXPECT_FALSE(Exists(dir.Path() + "newtask"));
}

TEST(DownloadTaskSetupTest, LargestAreaThatFitsIsAccepted) {
  TempDir dir;
  TaskParameters p = ExampleParams(dir.Path());
  // 46340^2 = 2,147,395,600 tiles: just below the 32-bit limit.
  SetBlock(p, 17, 0, 46339, 50000, 96339);
  const DownloadTask t(p);
  EXPECT_EQ(t.TotalCount, 2147395600);
}

TEST(DownloadTaskSetupTest, TileFolderThatCannotBeCreatedFails) {
  TempDir dir;
  const TaskParameters p = ExampleParams(dir.Path());
  PutBytes(dir.Path() + "newtask", "a file where the folder belongs");
  try {
    CreateTileFolder(DownloadTask(p));
    FAIL() << "set-up succeeded";
  } catch (const KError &e) {
    EXPECT_EQ(e.Cause(), ErrorCause::CannotWrite);
    EXPECT_EQ(std::string(e.what()),
              "Create directory " + dir.Path() + "newtask/ Failed.");
  }
}

TEST(DownloadTaskSetupTest, ExistingTileFolderAndImagesAreKept) {
  TempDir dir;
  const TaskParameters p = ExampleParams(dir.Path());
  CreateDir(dir.Path() + "newtask/");
  PutBytes(dir.Path() + "newtask/ks_1_2_18.jpg", "old image");
  CreateTileFolder(DownloadTask(p));
  EXPECT_EQ(tasktest::GetBytes(dir.Path() + "newtask/ks_1_2_18.jpg"),
            "old image");
}

// Inputs the geometry is not defined for never reach it: they are refused
// with a text that names the fault (the caller shows it before "Error:
// Create task failure."), not lost in a bare exception.
TEST(DownloadTaskSetupTest, InputsOutsideTheGridAreRefused) {
  struct Row {
    const char *what;
    void (*change)(TaskParameters &);
    const char *text;
  };
  const Row rows[] = {
      {"zoom 0", [](TaskParameters &p) { p.Zoom = 0; },
       "zoom level outside 1..21"},
      {"zoom 22", [](TaskParameters &p) { p.Zoom = 22; },
       "zoom level outside 1..21"},
      {"direction 4", [](TaskParameters &p) { p.Dir = 4; },
       "direction outside 0..3"},
      {"direction -1", [](TaskParameters &p) { p.Dir = -1; },
       "direction outside 0..3"},
      {"latitude 86", [](TaskParameters &p) { p.TopLatitude = 86; },
       "coordinates outside the grid"},
      {"longitude NaN",
       [](TaskParameters &p) { p.LeftLongitude = std::nan(""); },
       "coordinates outside the grid"},
      {"left east of right", [](TaskParameters &p) { p.LeftLongitude = -1; },
       "left edge east of right edge"},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    TempDir dir;
    TaskParameters p = ExampleParams(dir.Path());
    r.change(p);
    bool refused = false;
    try {
      DownloadTask t(p);
    } catch (const KError &e) {
      EXPECT_EQ(e.Cause(), ErrorCause::InputRefused);
      EXPECT_EQ(std::string(e.what()), r.text);
      refused = true;
    } catch (const std::exception &) {
      ADD_FAILURE() << "refused without a cause";
    }
    EXPECT_TRUE(refused);
    EXPECT_FALSE(Exists(dir.Path() + "newtask"));
  }
}

TEST(DownloadTaskSetupTest, ContinuedTaskReadsSavedPositions) {
  struct Row {
    const char *what;
    const char *threads; // the THREADS section, or nothing
    int32_t threadCount;
    int32_t x[8], y[8];
  };
  const Row rows[] = {
      {"positions of all workers",
       "[THREADS]\r\nThreadCount=8\r\nT1X=41986\r\nT1Y=170590\r\n"
       "T8X=41994\r\nT8Y=170596\r\n",
       8,
       {41986, 0, 0, 0, 0, 0, 0, 41994},
       {170590, 0, 0, 0, 0, 0, 0, 170596}},
      // empty and non-numeric values mean "from the beginning", for the
      // whole pair: half a position names no tile
      {"empty and bad values",
       "[threads]\r\nt1x=\r\nT1Y=170590\r\nT2X=abc\r\n"
       "T2Y=170591\r\n",
       8,
       {0, 0, 0, 0, 0, 0, 0, 0},
       {0, 0, 0, 0, 0, 0, 0, 0}},
      // only the slots of the thread count are read
      {"three workers",
       "[THREADS]\r\nT3X=41987\r\nT3Y=170586\r\nT4X=41988\r\n"
       "T4Y=170587\r\n",
       3,
       {0, 0, 41987, 0, 0, 0, 0, 0},
       {0, 0, 170586, 0, 0, 0, 0, 0}},
      // a pair outside MinX..MaxX or MinY..MaxY (edited, or from another
      // task) counts as none; the block's own corners still count
      {"outside the block",
       "[THREADS]\r\nT1X=41985\r\nT1Y=170590\r\n" // west of MinX
       "T2X=41995\r\nT2Y=170590\r\n"              // east of MaxX
       "T3X=41990\r\nT3Y=170584\r\n"              // north of MinY
       "T4X=41990\r\nT4Y=170597\r\n"              // south of MaxY
       "T5X=-5\r\nT5Y=-6\r\n"                     // negative
       "T6X=2147483647\r\nT6Y=2147483647\r\n"     // largest value
       "T7X=41986\r\nT7Y=170585\r\n"              // first corner
       "T8X=41994\r\nT8Y=170596\r\n",             // last corner
       8,
       {0, 0, 0, 0, 0, 0, 41986, 41994},
       {0, 0, 0, 0, 0, 0, 170585, 170596}},
      // no THREADS section at all
      {"no THREADS section", "[Zoom]\r\nZoom=18\r\n", 8, {}, {}},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    TempDir dir;
    TaskParameters p = ExampleParams(dir.Path());
    p.ContinueTask = true;
    p.ThreadCount = r.threadCount;
    PutBytes(dir.Path() + "newtask.ktsk", r.threads);
    const DownloadTask built(p);
    const DownloadTask t =
        built.WithResumePositions(ReadResumePositions(built));
    for (int i = 0; i < 8; ++i) {
      EXPECT_EQ(t.ResumeX[i], r.x[i]) << "slot " << i;
      EXPECT_EQ(t.ResumeY[i], r.y[i]) << "slot " << i;
    }
  }
}

TEST(DownloadTaskSetupTest,
     ContinuedTaskWithoutProjectFileStartsFromTheBeginning) {
  TempDir dir;
  TaskParameters p = ExampleParams(dir.Path());
  p.ContinueTask = true;
  const DownloadTask built(p);
  const DownloadTask t = built.WithResumePositions(ReadResumePositions(built));
  for (int i = 0; i < 16; ++i)
    EXPECT_EQ(t.ResumeX[i] | t.ResumeY[i], 0);
}

// Building a task only computes: whatever stands on disk stays as it was,
// and a continued task resumes nowhere until it is given positions.
TEST(DownloadTaskSetupTest, BuildingTouchesNoFile) {
  struct Row {
    const char *what;
    std::string folder; // the output folder below the test's
    std::vector<std::pair<std::string, std::string>> files; // name, bytes
    bool continueTask;
  };
  const Row rows[] = {
      {"fresh task in an empty folder", "", {}, false},
      {"continued task with saved positions",
       "",
       {{"newtask.ktsk", "[THREADS]\r\nT1X=41990\r\nT1Y=170590\r\n"}},
       true},
      {"a file where the tile folder goes", "", {{"newtask", "x"}}, false},
      {"output folder missing", "none/", {}, false},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    TempDir dir;
    for (const auto &[name, bytes] : r.files)
      PutBytes(dir.Path() + name, bytes);
    TaskParameters p = ExampleParams(dir.Path() + r.folder);
    p.ContinueTask = r.continueTask;
    const auto before = DiskState(dir.Path());
    const DownloadTask t(p);
    EXPECT_EQ(DiskState(dir.Path()), before);
    for (size_t i = 0; i < kResumeSlots; ++i)
      EXPECT_EQ(t.ResumeX[i] | t.ResumeY[i], 0) << "slot " << i;
  }
}

// A task owns what it was built from: a copy, and the same task given
// positions, stay whole once the task and the record they came from are
// gone or changed.
TEST(DownloadTaskSetupTest, CopiesOutliveTheirSource) {
  for (int32_t dir = 0; dir < 4; ++dir) {
    SCOPED_TRACE(dir);
    ResumePositions resume;
    resume.X[2] = 41990;
    resume.Y[2] = 170590;
    std::optional<DownloadTask> copy, resumed;
    TaskParameters record;
    std::string url, path;
    {
      auto params =
          std::make_unique<TaskParameters>(ExampleParams("/tiles/", dir));
      auto source = std::make_unique<DownloadTask>(*params);
      record = *params;
      url = source->TileUrl(41990, 170590);
      path = source->TilePath(41990, 170590);
      copy.emplace(*source);
      resumed.emplace(source->WithResumePositions(resume));
      params->Zoom = 3;
      params->TaskFileName = "changed.ktsk";
      source.reset();
      params.reset();
    }
    for (const DownloadTask *t : {&*copy, &*resumed}) {
      EXPECT_EQ(t->Params, record);
      EXPECT_EQ(t->TileUrl(41990, 170590), url);
      EXPECT_EQ(t->TilePath(41990, 170590), path);
      EXPECT_EQ(t->TotalCount, 108);
    }
    EXPECT_EQ(copy->ResumeX[2], 0);
    EXPECT_EQ(resumed->ResumeX[2], 41990);
    EXPECT_EQ(resumed->ResumeY[2], 170590);
  }
}

} // namespace
} // namespace kestrane
