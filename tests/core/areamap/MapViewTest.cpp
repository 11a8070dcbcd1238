// The map's view: zooming about the pointer keeps the place under it, a
// fitted box is shown whole, and the scale stays within its limits.
#include <gtest/gtest.h>

#include "areamap/MapView.h"

namespace kestrane {
namespace {

TEST(MapViewTest, ZoomKeepsThePlaceUnderThePointer) {
  struct Row {
    double x, y, factor;
  } rows[] = {
      {100, 80, 2},
      {700, 500, 0.5},
      {400, 300, 1.25},
      {0, 599, 8},
  };
  for (const Row &row : rows) {
    MapView view;
    view.SetSize(800, 600);
    view.CenterOn({0.52, 0.34}, 5000);
    const WorldPoint before = view.ScreenToWorld(row.x, row.y);
    view.ZoomAbout(row.x, row.y, row.factor);
    EXPECT_DOUBLE_EQ(view.Scale(), 5000 * row.factor);
    EXPECT_NEAR(view.ScreenX(before.X), row.x, 1e-6);
    EXPECT_NEAR(view.ScreenY(before.Y), row.y, 1e-6);
  }
}

TEST(MapViewTest, FitShowsTheBoxWholeAndScaleStaysInItsLimits) {
  MapView view;
  view.SetSize(800, 600);
  const WorldBox box{0.50, 0.30, 0.52, 0.31}; // wider than the window's shape
  view.Fit(box, 0);
  const WorldBox v = view.Visible();
  EXPECT_NEAR(v.Left, box.Left, 1e-12);
  EXPECT_NEAR(v.Right, box.Right, 1e-12);
  EXPECT_LE(v.Top, box.Top);
  EXPECT_GE(v.Bottom, box.Bottom);

  view.ZoomAbout(400, 300, 1e12);
  EXPECT_EQ(view.Scale(), MapView::kMaxScale);
  view.ZoomAbout(400, 300, 1e-12);
  EXPECT_EQ(view.Scale(), MapView::kMinScale);
  // Panned far off, the centre stays over the world.
  view.PanBy(-1e9, 1e9);
  EXPECT_EQ(view.Center().X, 1.0);
  EXPECT_EQ(view.Center().Y, 0.0);
}

} // namespace
} // namespace kestrane
