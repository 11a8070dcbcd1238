#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "geo/InsideTiles.h"
#include "geo/TileGrid.h"
#include "platform/Errors.h"

namespace kestrane {
namespace {

// A block of 6 x 6 tiles at zoom 10; places in it are given in grid units
// from its south-west corner (1.5, 2 = the middle of column 1 on the south
// edge of row 2), so that shapes can be drawn on tile edges exactly.
const GridBlock kBlock{100, 500, 105, 505, 10};

LonLat At(double fx, double fy) {
  return {TileXToLongitude(kBlock.MinX + fx, kBlock.Zoom),
          TileYToLatitude(kBlock.MinY + fy, kBlock.Zoom)};
}

OutlineRing Box(double x0, double y0, double x1, double y1) {
  return {At(x0, y0), At(x1, y0), At(x1, y1), At(x0, y1)};
}

// The inside tiles as a picture of the block, the north row first: '#'
// inside, '.' outside.
std::string Picture(const InsideTiles &inside) {
  std::string s;
  for (int32_t y = kBlock.MaxY; y >= kBlock.MinY; --y) {
    for (int32_t x = kBlock.MinX; x <= kBlock.MaxX; ++x)
      s += inside.Contains(x, y) ? '#' : '.';
    s += '\n';
  }
  return s;
}

struct ShapeCase {
  const char *Name;
  Outline Area;
  const char *Expected; // the picture, north row first
};

TEST(InsideTilesTest, TilesTouchingTheOutlineAreInside) {
  const ShapeCase cases[] = {
      {"a square within tiles",
       {{Box(1.5, 1.5, 3.5, 3.5), {}}},
       "......\n"
       "......\n"
       ".###..\n"
       ".###..\n"
       ".###..\n"
       "......\n"},
      // Closed footprints: the tiles beside an edge on a tile edge touch it.
      {"a square on tile edges",
       {{Box(1, 1, 3, 3), {}}},
       "......\n"
       "......\n"
       "####..\n"
       "####..\n"
       "####..\n"
       "####..\n"},
      // (2, 2) meets the square at its north-east corner only.
      {"a tile touching at a corner",
       {{Box(3, 3, 3.5, 3.5), {}}},
       "......\n"
       "......\n"
       "..##..\n"
       "..##..\n"
       "......\n"
       "......\n"},
      {"a concave polygon (an L)",
       {{{At(0.5, 0.5), At(4.5, 0.5), At(4.5, 1.5), At(1.5, 1.5), At(1.5, 4.5),
          At(0.5, 4.5)},
         {}}},
       "......\n"
       "##....\n"
       "##....\n"
       "##....\n"
       "#####.\n"
       "#####.\n"},
      // Only (2, 2) lies wholly in the hole.
      {"a polygon with a hole",
       {{Box(0.5, 0.5, 4.5, 4.5), {Box(1.2, 1.2, 3.8, 3.8)}}},
       "......\n"
       "#####.\n"
       "#####.\n"
       "##.##.\n"
       "#####.\n"
       "#####.\n"},
      // Each polygon lies wholly inside one tile.
      {"a multipolygon of two small parts",
       {{Box(0.5, 0.5, 0.8, 0.8), {}}, {Box(4.2, 4.2, 4.6, 4.6), {}}},
       "......\n"
       "....#.\n"
       "......\n"
       "......\n"
       "......\n"
       "#.....\n"},
      // The hypotenuse x + y = 6.5 passes half a tile from every corner.
      {"a triangle",
       {{{At(0.5, 0.5), At(6, 0.5), At(0.5, 6)}, {}}},
       "##....\n"
       "###...\n"
       "####..\n"
       "#####.\n"
       "######\n"
       "######\n"},
      {"an outline around the whole block",
       {{Box(-3, -3, 9, 9), {}}},
       "######\n"
       "######\n"
       "######\n"
       "######\n"
       "######\n"
       "######\n"},
      {"an outline beside the block",
       {{Box(7, 1, 8, 2), {}}},
       "......\n"
       "......\n"
       "......\n"
       "......\n"
       "......\n"
       "......\n"},
  };
  for (const ShapeCase &c : cases) {
    SCOPED_TRACE(c.Name);
    const InsideTiles inside(c.Area, kBlock);
    const std::string picture = Picture(inside);
    EXPECT_EQ(picture, c.Expected);
    const auto marked = std::count(picture.begin(), picture.end(), '#');
    EXPECT_EQ(inside.Count(), marked);
    EXPECT_FALSE(inside.Everything());
    // Nothing outside the block is inside.
    EXPECT_FALSE(inside.Contains(kBlock.MinX - 1, kBlock.MinY));
    EXPECT_FALSE(inside.Contains(kBlock.MinX, kBlock.MaxY + 1));
  }
}

TEST(InsideTilesTest, NoOutlineIsTheWholeBlock) {
  const InsideTiles inside({}, kBlock);
  EXPECT_TRUE(inside.Everything());
  EXPECT_EQ(inside.Count(), 36);
  EXPECT_TRUE(inside.Contains(kBlock.MaxX, kBlock.MaxY));
  EXPECT_FALSE(inside.Contains(kBlock.MaxX + 1, kBlock.MaxY));
  EXPECT_EQ(inside.Column(kBlock.MinX),
            (std::vector<RowRun>{{kBlock.MinY, kBlock.MaxY}}));
}

TEST(InsideTilesTest, ColumnsHoldSortedRunsAroundAHole) {
  const InsideTiles inside(
      {{Box(0.5, 0.5, 4.5, 4.5), {Box(1.2, 1.2, 3.8, 3.8)}}}, kBlock);
  EXPECT_EQ(inside.Column(kBlock.MinX + 2),
            (std::vector<RowRun>{{500, 501}, {503, 504}}));
  EXPECT_EQ(inside.Column(kBlock.MinX + 5), std::vector<RowRun>{});
}

TEST(InsideTilesTest, OutlinesNoTaskTakesAreRefused) {
  struct Case {
    const char *Name;
    Outline Area;
    const char *Text; // a part of the message
  };
  const Case cases[] = {
      {"an edge across the 180th meridian",
       {{{{179.5, 10}, {-179.5, 10}, {-179.5, 11}, {179.5, 11}}, {}}},
       "The outline crosses the 180th meridian (an edge from longitude 179.5 "
       "to -179.5)"},
      {"the closing edge across it, in a hole",
       {{{{0, 0}, {1, 0}, {1, 1}}, {{{170, 0.5}, {-170, 0.5}, {-170, 0.6}}}}},
       "180th meridian"},
      {"a corner off the globe",
       {{{{0, 0}, {1, 0}, {1, 95}}, {}}},
       "off the globe: longitude 1, latitude 95"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    try {
      InsideTiles(c.Area, kBlock);
      ADD_FAILURE() << "not refused";
    } catch (const KError &e) {
      EXPECT_EQ(e.Cause(), ErrorCause::InputRefused);
      EXPECT_NE(std::string(e.what()).find(c.Text), std::string::npos)
          << e.what();
    }
  }
}

} // namespace
} // namespace kestrane
