// A place of the world map as an outline: rings inside other rings are
// holes, islands in a lake are polygons again, and the corners come back in
// degrees.
#include <gtest/gtest.h>

#include "areamap/PlaceOutline.h"

namespace kestrane {
namespace {

// A square ring in world units, corners (x0, y0) .. (x1, y1).
std::vector<MapPointF> Square(float x0, float y0, float x1, float y1) {
  return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
}

MapPlace PlaceOf(const std::vector<std::vector<MapPointF>> &rings) {
  MapPlace place;
  place.Fine.Starts.push_back(0);
  for (const auto &ring : rings) {
    place.Fine.Points.insert(place.Fine.Points.end(), ring.begin(), ring.end());
    place.Fine.Starts.push_back(
        static_cast<uint32_t>(place.Fine.Points.size()));
  }
  return place;
}

TEST(PlaceOutlineTest, RingsInsideRingsAreHolesAndIslandsInLakesArePolygons) {
  const auto land = Square(0.5f, 0.25f, 0.6f, 0.35f);
  const auto lake = Square(0.52f, 0.27f, 0.56f, 0.31f);
  const auto islet = Square(0.53f, 0.28f, 0.54f, 0.29f); // in the lake
  const auto isle = Square(0.7f, 0.25f, 0.72f, 0.27f);   // apart
  struct Row {
    const char *name;
    std::vector<std::vector<MapPointF>> rings;
    std::vector<size_t> holes; // per polygon, in order
  } rows[] = {
      {"one ring", {land}, {0}},
      {"a hole", {land, lake}, {1}},
      {"the hole given first", {lake, land}, {1}},
      {"an island in the lake and one apart",
       {land, lake, islet, isle},
       {1, 0, 0}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const Outline area = PlaceOutline(PlaceOf(row.rings));
    ASSERT_EQ(area.size(), row.holes.size());
    size_t polygons = 0;
    for (size_t i = 0; i < area.size(); ++i) {
      EXPECT_EQ(area[i].Outer.size(), 4u);
      polygons += area[i].Holes.size() == row.holes[i];
    }
    EXPECT_EQ(polygons, area.size());
  }
  // The corners in degrees: world x 0.5 is longitude 0, y 0.25 is about
  // 66.51 degrees north.
  const GeoBox box = OutlineBox(PlaceOutline(PlaceOf({land})));
  EXPECT_NEAR(box.Left, 0, 1e-5);
  EXPECT_NEAR(box.Right, 36, 1e-5);
  EXPECT_NEAR(box.Top, 66.51326, 1e-4);
  EXPECT_GT(box.Top, box.Bottom);
}

} // namespace
} // namespace kestrane
