#include "tile/TileName.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tile/SideFiles.h"

namespace kestrane {
namespace {

const char *const kDirections[] = {"North", "East", "South", "West"};

// Every tile named, read back and found again, in each direction, on
// blocks at the edges of the grid and of the numbers: the name is the one
// the downloader wrote, its side files read as the same tile's, and the
// tile of a name is the tile it was made for.
TEST(TileName, BuildAndParseMeetInEveryDirection) {
  constexpr int32_t kTop = std::numeric_limits<int32_t>::max();
  struct Block {
    const char *what;
    TileBlock block; // Dir set below
    int32_t zoom;
  };
  const Block blocks[] = {
      {"one tile at the origin", {0, 0, 0, 0}, 1},
      {"4 x 3 in the middle", {100, 200, 103, 202}, 10},
      {"the corner of zoom 21", {2097149, 2097150, 2097151, 2097151}, 21},
      {"the ends of 32 bits", {0, kTop - 2, 2, kTop}, 21},
      {"a whole 32-bit column", {kTop - 1, 0, kTop, kTop}, 21},
  };
  for (const Block &b : blocks) {
    for (int32_t dir = 0; dir < 4; ++dir) {
      SCOPED_TRACE(std::string(b.what) + ", " + kDirections[dir]);
      TileBlock block = b.block;
      block.Dir = dir;
      std::vector<GridPlace> tiles;
      for (int64_t x : {int64_t{block.MinX}, int64_t{block.MaxX}})
        for (int64_t y : {int64_t{block.MinY}, int64_t{block.MaxY},
                          (int64_t{block.MinY} + block.MaxY) / 2})
          tiles.push_back({x, y});
      std::set<std::string> names;
      for (const GridPlace &t : tiles) {
        const auto x = static_cast<int32_t>(t.X);
        const auto y = static_cast<int32_t>(t.Y);
        const TileNameNumbers n = NameNumbersOf(block, x, y);
        const std::string name = TileFileName(n, b.zoom, "jpg");
        names.insert(name);
        std::string appended = "folder/";
        AppendTileFileName(appended, n, b.zoom, "jpg");
        EXPECT_EQ(appended, "folder/" + name);

        const ParsedTileName read = ParseTileFileName(name, b.zoom, "jpg");
        ASSERT_EQ(read.Kind, TileNameKind::Tile) << name;
        EXPECT_EQ(read.Numbers.A, n.A) << name;
        EXPECT_EQ(read.Numbers.B, n.B) << name;
        const GridPlace back = TileOfNameNumbers(block, read.Numbers);
        EXPECT_EQ(back.X, t.X) << name;
        EXPECT_EQ(back.Y, t.Y) << name;
        EXPECT_TRUE(BlockHolds(block, back)) << name;
        EXPECT_TRUE(HasTileFileNameForm(name)) << name;

        for (const auto &[kind, side] :
             {std::pair{SideFile::Crashed, TileNameKind::Crashed},
              std::pair{SideFile::Invalid, TileNameKind::Invalid}}) {
          const std::string sideName = SideFilePath(name, kind);
          const ParsedTileName s = ParseTileFileName(sideName, b.zoom, "jpg");
          EXPECT_EQ(s.Kind, side) << sideName;
          EXPECT_EQ(s.Numbers.A, n.A) << sideName;
          EXPECT_EQ(s.Numbers.B, n.B) << sideName;
          EXPECT_FALSE(HasTileFileNameForm(sideName)) << sideName;
        }
      }
      // The corners and middles are distinct tiles with distinct names.
      std::set<std::pair<int64_t, int64_t>> distinct;
      for (const GridPlace &t : tiles)
        distinct.insert({t.X, t.Y});
      EXPECT_EQ(names.size(), distinct.size());
    }
  }
}

// The names of a task looking each way: the picture's columns and rows,
// mirrored within the block's ranges, and a name no tile of the block has
// is found outside it.
TEST(TileName, EachDirectionMirrorsWithinTheBlock) {
  struct Row {
    int32_t dir;
    int32_t x, y;
    int64_t a, b;
  };
  // The block 100..103 x 200..202.
  const Row rows[] = {
      {0, 100, 200, 100, 200}, {0, 103, 202, 103, 202}, // North: as they are
      {1, 100, 200, 202, 100}, {1, 103, 202, 200, 103}, // East
      {2, 100, 200, 103, 202}, {2, 103, 202, 100, 200}, // South
      {3, 100, 200, 200, 103}, {3, 103, 202, 202, 100}, // West
      {7, 101, 201, 101, 201}, // no direction reads as North
  };
  for (const Row &r : rows) {
    SCOPED_TRACE("direction " + std::to_string(r.dir));
    const TileBlock block{100, 200, 103, 202, r.dir};
    const TileNameNumbers n = NameNumbersOf(block, r.x, r.y);
    EXPECT_EQ(n.A, r.a);
    EXPECT_EQ(n.B, r.b);
    EXPECT_FALSE(BlockHolds(block, TileOfNameNumbers(block, {r.a + 5, r.b})));
  }
}

// A name as the task writes it, and the near misses a folder may hold.
TEST(TileName, ParseTakesOnlyTheTasksOwnNames) {
  struct Row {
    const char *name;
    TileNameKind kind;
    int64_t a = 0, b = 0;
  };
  const TileNameKind other = TileNameKind::Other;
  const Row rows[] = {
      {"ks_100_200_10.jpg", TileNameKind::Tile, 100, 200},
      {"ks_0_0_10.jpg", TileNameKind::Tile, 0, 0},
      {"ks_-5_3_10.jpg", TileNameKind::Tile, -5, 3},
      {"ks_99999999999_1_10.jpg", TileNameKind::Tile, 99999999999, 1},
      {"ks_100_200_10.jpg.crashed", TileNameKind::Crashed, 100, 200},
      {"ks_100_200_10.jpg.invalid", TileNameKind::Invalid, 100, 200},
      {"ks_999999999999_1_10.jpg", other}, // more digits than a grid has
      {"ks_0100_200_10.jpg", other},       // a leading zero
      {"ks_+100_200_10.jpg", other},
      {"ks_-0_200_10.jpg", other},
      {"ks_100_200_010.jpg", other},
      {"ks_100_200_11.jpg", other}, // another zoom
      {"ks_100_200_10.png", other}, // another extension
      {"ks_100_200_10.jpgx", other},
      {"ks_100_200_10.jpg.tmp123.4", other},
      {"ks_100_200_10.jpg.crashed.invalid", other},
      {"ks_100_200_10", other},
      {"ks__200_10.jpg", other},
      {"ks_100__10.jpg", other},
      {"ks_100_200_.jpg", other},
      {"ks_-_200_10.jpg", other},
      {"KS_100_200_10.jpg", other},
      {"xks_100_200_10.jpg", other},
      {"", other},
  };
  for (const Row &r : rows) {
    const ParsedTileName p = ParseTileFileName(r.name, 10, "jpg");
    EXPECT_EQ(p.Kind, r.kind) << r.name;
    if (r.kind != other) {
      EXPECT_EQ(p.Numbers.A, r.a) << r.name;
      EXPECT_EQ(p.Numbers.B, r.b) << r.name;
    }
  }
}

// The form a failed-tile list's record must have: three runs of digits of
// any task, the JPEG extension, nothing after it.
TEST(TileName, FileNameFormOfAListRecord) {
  const std::pair<const char *, bool> rows[] = {
      {"ks_1_2_3.jpg", true},
      {"ks_0100_0200_018.jpg", true}, // leading zeros: another writer's
      {"ks_123456789012345678901234567890_1_1.jpg", true},
      {"ks_-1_2_3.jpg", false},
      {"ks_1_-2_3.jpg", false},
      {"ks_1_2_-3.jpg", false},
      {"ks_1_2_3.png", false},
      {"ks_1_2.jpg", false},
      {"ks_1_2_3_4.jpg", false},
      {"ks_1_2_3.jpg.crashed", false},
      {"ks_1_2_3..jpg", false},
      {"ks_1a_2_3.jpg", false},
      {"ks_.jpg", false},
      {"ks_1_2_3", false},
      {"xks_1_2_3.jpg", false},
      {"../ks_1_2_3.jpg", false},
      {"", false},
  };
  for (const auto &[name, form] : rows)
    EXPECT_EQ(HasTileFileNameForm(name), form) << name;
}

} // namespace
} // namespace kestrane
