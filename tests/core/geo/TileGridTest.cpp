#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "geo/TileGrid.h"
#include "platform/NumberFormat.h"

namespace kestrane {
namespace {

int32_t Pow2(int32_t n) {
  return int32_t{1} << n;
}

// The grid's limits in degrees, to the digits the tile list shows.
const char kLimit[] = "85.05112877980659";

std::string Fixed14(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14f", v);
  return buf;
}

// Every zoom the window offers, each checked against the closed forms.
TEST(LongitudeToTileXTest, ClosedFormsAtEveryZoom) {
  for (int32_t z = 1; z <= 21; ++z) {
    SCOPED_TRACE("zoom " + std::to_string(z));
    // West end of the grid: a wrong offset shifts every column.
    EXPECT_EQ(LongitudeToTileX(-180, z), 0);
    // 180 lands just below 2^z because of the rounded reciprocal; a true
    // division would give 2^z, one column past the grid.
    EXPECT_EQ(LongitudeToTileX(180, z), Pow2(z) - 1);
    // The prime meridian falls into the column west of it, for the same
    // reason; rounding instead of truncating would give 2^(z-1).
    EXPECT_EQ(LongitudeToTileX(0, z), Pow2(z - 1) - 1);
    if (z >= 2) {
      // -90 falls west of its grid line as well.
      EXPECT_EQ(LongitudeToTileX(-90, z), Pow2(z - 2) - 1);
      // 270 * R * 2^z rounds to the exact integer: no column lost here.
      EXPECT_EQ(LongitudeToTileX(90, z), 3 * Pow2(z - 2));
    }
  }
}

TEST(LatitudeToTileYTest, EquatorFallsSouthAtEveryZoom) {
  for (int32_t z = 1; z <= 21; ++z) {
    SCOPED_TRACE("zoom " + std::to_string(z));
    // tan of the rounded pi/4 is just below 1: the row south of the equator.
    // Computing the tangent in extended precision gives 2^(z-1).
    EXPECT_EQ(LatitudeToTileY(0, z), Pow2(z - 1) - 1);
  }
}

TEST(LatitudeToTileYTest, EightyFiveDegreesStayInsideTheGrid) {
  struct Row {
    int32_t zoom;
    int32_t north; // LatitudeToTileY(85)
    int32_t south; // LatitudeToTileY(-85)
  };
  const Row rows[] =
      {
          {1, 1, 0},           {2, 3, 0},  {3, 7, 0},   {4, 15, 0},
          {5, 31, 0},          {6, 63, 0}, {7, 127, 0}, {8, 255, 0},
          {9, 511, 0},   // the last zoom where 85 degrees fill the end rows
          {10, 1022, 1}, // first zoom where 85 lies inside the second row
          {21, 2093717, 3434}, // highest zoom: rows counted from the south
      };
  for (const Row &r : rows) {
    SCOPED_TRACE("zoom " + std::to_string(r.zoom));
    EXPECT_EQ(LatitudeToTileY(85, r.zoom), r.north);
    EXPECT_EQ(LatitudeToTileY(-85, r.zoom), r.south);
  }
}

// The reference point and its tile: catches a row counted from the north,
// a swapped edge pair, or inverse conversions in extended precision (which
// change the last printed digit of the north edge).
TEST(TileGridTest, ReferenceTileAndItsEdges) {
  const int32_t z = 18;
  const int32_t x = LongitudeToTileX(-122.33, z);
  const int32_t y = LatitudeToTileY(47.61, z);
  EXPECT_EQ(x, 41994);
  EXPECT_EQ(y, 170596);
  struct Edge {
    const char *name;
    double value;
    const char *text; // as the tile list prints it
  };
  const Edge edges[] = {
      {"west", TileXToLongitude(x, z), "-122.33001708984375"},
      {"east", TileXToLongitude(x + 1.0, z), "-122.32864379882812"},
      {"south", TileYToLatitude(y, z), "47.60986653003798"},
      {"north", TileYToLatitude(y + 1.0, z), "47.61079236060621"},
  };
  for (const Edge &e : edges) {
    SCOPED_TRACE(e.name);
    std::string expected = e.text;
    expected.insert(0, 20 - expected.size(), ' ');
    EXPECT_EQ(FormatFixed20_14(e.value), expected);
  }
}

TEST(TileGridTest, ZoomOneInverseValues) {
  EXPECT_EQ(TileXToLongitude(0, 1), -180);
  EXPECT_EQ(TileXToLongitude(1, 1), 0);   // the prime meridian exactly
  EXPECT_EQ(TileXToLongitude(2, 1), 180); // east edge of the last column
  EXPECT_EQ(TileYToLatitude(1, 1), 0);    // the equator exactly
  EXPECT_EQ(Fixed14(TileYToLatitude(2, 1)), kLimit);
  EXPECT_EQ(Fixed14(TileYToLatitude(0, 1)), std::string("-") + kLimit);
}

TEST(TileYToLatitudeTest, GridLimitsAndEquatorAtEveryZoom) {
  for (int32_t z = 1; z <= 21; ++z) {
    SCOPED_TRACE("zoom " + std::to_string(z));
    // Top of the grid: Mercator ordinate pi; a wrong scale moves it.
    EXPECT_EQ(Fixed14(TileYToLatitude(Pow2(z), z)), kLimit);
    // Bottom of the grid: rows counted from the south start here.
    EXPECT_EQ(Fixed14(TileYToLatitude(0, z)), std::string("-") + kLimit);
    // Middle row line is the equator.
    EXPECT_NEAR(TileYToLatitude(Pow2(z - 1), z), 0.0, 1e-12);
    // Longitude edges of the grid for every zoom.
    EXPECT_EQ(TileXToLongitude(0, z), -180);
    EXPECT_EQ(TileXToLongitude(Pow2(z), z), 180);
  }
}

// Each tile's west edge converts back to that column and its south edge
// back to that row (the row's own latitude, not the one below it), across
// the grid at a middle zoom.
TEST(TileGridTest, EdgeInsideTileConvertsBack) {
  const int32_t z = 12;
  for (int32_t i = 0; i < Pow2(z); i += 37) {
    const double centreLon = TileXToLongitude(i + 0.5, z);
    const double centreLat = TileYToLatitude(i + 0.5, z);
    EXPECT_EQ(LongitudeToTileX(centreLon, z), i);
    EXPECT_EQ(LatitudeToTileY(centreLat, z), i);
  }
}

} // namespace
} // namespace kestrane
