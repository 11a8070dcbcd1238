#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "task/DownloadTask.h"
#include "tests/core/task/TaskTestSupport.h"

namespace kestrane {
namespace {

using tasktest::ExampleParams;
using tasktest::SetBlock;
using tasktest::TempDir;

TEST(TileAddressingTest, QuadkeysForEveryDirection) {
  struct Row {
    int32_t zoom, x, y, dir;
    const char *key;
  };
  const Row rows[] = {
      // the reference tile: a digit table mixed up shows here first
      {18, 41994, 170596, 0, "021230030220023032"},
      {18, 41994, 170596, 1, "230312212332231213"},
      {18, 41994, 170596, 2, "312103303113310301"},
      {18, 41994, 170596, 3, "103021121001102120"},
      // zoom 2, tile (1, 1): the digits of one quadrant per direction
      {2, 1, 1, 0, "21"},
      {2, 1, 1, 1, "30"},
      {2, 1, 1, 2, "12"},
      {2, 1, 1, 3, "03"},
      // zoom 1, North: rows count from the south, the key from the north
      {1, 0, 0, 0, "2"},
      {1, 1, 0, 0, "3"},
      {1, 0, 1, 0, "0"},
      {1, 1, 1, 0, "1"},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(std::string(r.key));
    TempDir dir;
    TaskParameters p = ExampleParams(dir.Path(), r.dir);
    p.Zoom = r.zoom;
    p.LeftLongitude = p.RightLongitude = 0;
    p.TopLatitude = p.BottomLatitude = 0;
    const DownloadTask t(p);
    EXPECT_EQ(t.Quadkey(r.x, r.y), r.key);
  }
}

TEST(TileAddressingTest, UrlOfTheReferenceTile) {
  TempDir dir;
  const TaskParameters p = ExampleParams(dir.Path());
  const DownloadTask t(p);
  EXPECT_EQ(t.TileUrl(41994, 170596),
            "http://ecn.t0.tiles.virtualearth.net/tiles/"
            "svi021230030220023032?g=5340&dir=dir_n");
  EXPECT_EQ(t.TileExtension(), "jpg");
}

TEST(TileAddressingTest, ShardFollowsTheRowModuloFour) {
  TempDir dir;
  TaskParameters p = ExampleParams(dir.Path(), 1);
  p.Zoom = 3;
  p.LeftLongitude = p.RightLongitude = 0;
  p.TopLatitude = p.BottomLatitude = 0;
  TaskEnvironment env;
  env.Hosts = {"127.0.0.1:8080", "127.0.0.2:8080", "127.0.0.3:8080",
               "127.0.0.4:8080"};
  const DownloadTask t(p, env);
  // Neighbouring rows go to different hosts; the column plays no part.
  const char *const expectedHost[8] = {
      "127.0.0.1:8080", "127.0.0.2:8080", "127.0.0.3:8080", "127.0.0.4:8080",
      "127.0.0.1:8080", "127.0.0.2:8080", "127.0.0.3:8080", "127.0.0.4:8080"};
  for (int32_t y = 0; y < 8; ++y) {
    for (int32_t x : {0, 5}) {
      EXPECT_EQ(t.TileUrl(x, y), std::string("http://") + expectedHost[y] +
                                     "/tiles/svi" + t.Quadkey(x, y) +
                                     "?g=5340&dir=dir_e")
          << "row " << y;
    }
  }
}

TEST(TileAddressingTest, FileNamesMirrorWithinTheTaskRanges) {
  struct Row {
    int32_t dir;
    const char *name; // of tile (41994, 170596) in the reference block
  };
  const Row rows[] = {
      {0, "ks_41994_170596_18.jpg"}, // North: the tile's own numbers
      {1, "ks_170585_41994_18.jpg"}, // East: row mirrored, then column
      {2, "ks_41986_170585_18.jpg"}, // South: both mirrored
      {3, "ks_170596_41986_18.jpg"}, // West: row, then column mirrored
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    TempDir dir;
    const TaskParameters p = ExampleParams(dir.Path(), r.dir);
    const DownloadTask t(p);
    EXPECT_EQ(t.TileFileName(41994, 170596), r.name);
    EXPECT_EQ(t.TilePath(41994, 170596), dir.Path() + "newtask/" + r.name);
  }
}

// The mirroring uses the task's own ranges: the same tile gets another name
// in a wider task, except looking North.
TEST(TileAddressingTest, NamesDependOnTheRectangleExceptNorth) {
  for (int32_t d = 0; d < 4; ++d) {
    SCOPED_TRACE("direction " + std::to_string(d));
    TempDir dir1, dir2;
    TaskParameters narrow = ExampleParams(dir1.Path(), d);
    TaskParameters wide = ExampleParams(dir2.Path(), d);
    wide.LeftLongitude = -122.36;
    wide.BottomLatitude = 47.58;
    const DownloadTask a(narrow), b(wide);
    const bool same =
        a.TileFileName(41994, 170596) == b.TileFileName(41994, 170596);
    EXPECT_EQ(same, d == 0);
  }
}

} // namespace
} // namespace kestrane
