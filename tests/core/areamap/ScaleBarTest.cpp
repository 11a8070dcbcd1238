// The picker's scale bar: a round length that fits, at the map's latitude.
#include <gtest/gtest.h>

#include <cmath>

#include "areamap/ScaleBar.h"

namespace kestrane {
namespace {

TEST(ScaleBarTest, RoundLengthThatFits) {
  struct Row {
    const char *what;
    double scale, latitude, maxPixels;
    double metres;
    const char *text;
  } rows[] = {
      {"city scale at the equator: 38 m a pixel", 1048576, 0, 120, 2000,
       "2 km"},
      {"the same scale at 60 degrees: half the metres", 1048576, 60, 120, 2000,
       "2 km"},
      {"a little more room: 5 km", 1048576, 0, 131, 5000, "5 km"},
      {"street scale", 134217728, 0, 120, 20, "20 m"},
      {"the deepest zoom", 268435456, 47.6, 60, 5, "5 m"},
      {"a country", 4096, 45, 150, 1000000, "1000 km"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    const ScaleBar bar = ChooseScaleBar(row.scale, row.latitude, row.maxPixels);
    EXPECT_EQ(bar.Metres, row.metres);
    EXPECT_EQ(bar.Text, row.text);
    // The bar shows its length on the map, and no more than it may take.
    EXPECT_NEAR(bar.Pixels * MetresPerPixel(row.scale, row.latitude),
                row.metres, 1e-6 * row.metres);
    EXPECT_LE(bar.Pixels, row.maxPixels);
    // The next round length (at most 2.5 times as long) would not fit.
    EXPECT_GT(bar.Pixels * 2.5, row.maxPixels);
  }
  EXPECT_EQ(ChooseScaleBar(0, 0, 100).Pixels, 0);
}

} // namespace
} // namespace kestrane
