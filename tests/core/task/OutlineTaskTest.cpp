#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <utility>

#include "task/AreaOutlineFile.h"
#include "task/Estimate.h"
#include "task/TaskFiles.h"
#include "tests/core/task/TaskTestSupport.h"
#include "tile/TileName.h"

namespace kestrane {
namespace {

using namespace tasktest;

// An L over the reference block (9 columns from 41986, 12 rows from
// 170585): its three south rows and its three west columns, 54 tiles.
Outline LOverTheBlock() {
  const auto at = [](double i, double j) {
    return LonLat{TileXToLongitude(41986 + i, 18),
                  TileYToLatitude(170585 + j, 18)};
  };
  return {{{at(0.5, 0.5), at(8.5, 0.5), at(8.5, 2.5), at(2.5, 2.5),
            at(2.5, 11.5), at(0.5, 11.5)},
           {}}};
}

bool InTheL(int32_t x, int32_t y) {
  return (y - 170585 <= 2) || (x - 41986 <= 2);
}

// The workers walk the grid's columns and rows whatever the direction: the
// tiles inside are the same grid tiles for all four, and each keeps its
// direction's name, which reads back as that grid tile.
TEST(OutlineTaskTest, EveryDirectionTakesTheSameGridTiles) {
  const char *const letters[] = {"n", "e", "s", "w"};
  std::set<std::string> namesSeen;
  for (int32_t dir = 0; dir <= 3; ++dir) {
    SCOPED_TRACE(letters[dir]);
    TaskParameters p = ExampleParams("/tmp/", dir);
    p.Area = LOverTheBlock();
    const DownloadTask task(p);
    ASSERT_EQ(task.TotalCount, 108);
    EXPECT_EQ(task.InsideCount, 54);
    const TileBlock block{task.MinX, task.MinY, task.MaxX, task.MaxY, dir};
    for (int32_t x = task.MinX; x <= task.MaxX; ++x)
      for (int32_t y = task.MinY; y <= task.MaxY; ++y) {
        ASSERT_EQ(task.IsInside(x, y), InTheL(x, y)) << x << "," << y;
        const std::string name = task.TileFileName(x, y);
        const ParsedTileName parsed =
            ParseTileFileName(name, 18, task.TileExtension());
        const GridPlace back = TileOfNameNumbers(block, parsed.Numbers);
        EXPECT_EQ(back.X, x);
        EXPECT_EQ(back.Y, y);
        if (x == task.MaxX && y == task.MinY)
          namesSeen.insert(name);
      }
  }
  // The south-east tile of the L is named differently looking each way.
  EXPECT_EQ(namesSeen.size(), 4u);
}

TEST(OutlineTaskTest, CountsAndListsOnlyTheTilesInside) {
  TempDir dir;
  TaskParameters p = ExampleParams(dir.Path());
  p.Area = LOverTheBlock();
  const DownloadTask task(p);
  WriteTaskFiles(task);

  // The outline beside the project file reads back as the task's.
  EXPECT_EQ(ReadAreaOutline(dir.Path() + "newtask_area.geojson"), p.Area);
  const std::vector<std::string> log = SplitCrLf(GetBytes(task.LogFilePath));
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "Total count of images would be downloaded: 54"),
            log.end());
  const std::vector<std::string> list =
      SplitCrLf(GetBytes(task.ListFilePath + "1.txt"));
  ASSERT_EQ(list.size(), 1u + 54u);
  for (size_t i = 1; i < list.size(); ++i) {
    int x = 0, y = 0;
    ASSERT_EQ(std::sscanf(list[i].c_str(), "ks_%d_%d_", &x, &y), 2);
    EXPECT_TRUE(InTheL(x, y)) << list[i];
  }
  const AreaEstimate e =
      EstimateArea(p.LeftLongitude, p.RightLongitude, p.TopLatitude,
                   p.BottomLatitude, 18, p.Area);
  EXPECT_EQ(e.Tiles, 54);
  EXPECT_EQ(e.Columns * e.Rows, 108);

  // A fresh task of that name without an outline takes the rectangle: the
  // outline left beside it goes.
  TaskParameters plain = ExampleParams(dir.Path());
  WriteTaskFiles(DownloadTask(plain));
  EXPECT_FALSE(Exists(dir.Path() + "newtask_area.geojson"));
}

TEST(OutlineTaskTest, OutlineFilesThatCannotBeUsedAreRefusedByName) {
  TempDir dir;
  const std::string path = dir.Path() + "t_area.geojson";
  EXPECT_TRUE(ReadAreaOutline(path).empty()) << "missing: the rectangle";
  struct Case {
    const char *Name;
    std::string Bytes; // empty: a folder in its place
    ErrorCause Cause;
    std::string Text;
  };
  const Case cases[] = {
      {"no GeoJSON", "<gpx/>", ErrorCause::InvalidFile,
       "The area outline " + path +
           " is not a polygon GeoJSON file: '{' "
           "expected (at byte 0)"},
      {"a line", R"({"type":"LineString","coordinates":[[1,2],[3,4]]})",
       ErrorCause::InvalidFile,
       "The area outline " + path +
           " is not a polygon GeoJSON file: a LineString is no polygon"},
      {"across the 180th meridian",
       R"({"type":"Polygon","coordinates":[[[179,1],[-179,1],[-179,2]]]})",
       ErrorCause::InputRefused,
       "The area outline " + path +
           ": The outline crosses the 180th meridian (an edge from "
           "longitude 179 to -179); a task's area must lie on one side of "
           "it."},
      {"a folder", "", ErrorCause::CannotOpen, "Cannot open file " + path},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    std::filesystem::remove_all(path);
    if (c.Bytes.empty())
      std::filesystem::create_directory(path);
    else
      PutBytes(path, c.Bytes);
    try {
      ReadAreaOutline(path);
      ADD_FAILURE() << "read";
    } catch (const KError &e) {
      EXPECT_EQ(e.Cause(), c.Cause);
      EXPECT_EQ(std::string(e.what()).substr(0, c.Text.size()), c.Text);
    }
  }
}

TEST(OutlineTaskTest, AnOutlineBesideTheBlockIsRefused) {
  TaskParameters p = ExampleParams("/tmp/");
  p.Area = {{{{10, 10}, {11, 10}, {11, 11}}, {}}};
  try {
    DownloadTask task(p);
    ADD_FAILURE() << "built";
  } catch (const KError &e) {
    EXPECT_EQ(e.Cause(), ErrorCause::InputRefused);
    EXPECT_STREQ(e.what(), "The outline holds no tile of the area's block.");
  }
}

} // namespace
} // namespace kestrane
