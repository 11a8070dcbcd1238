// The picture's layout: every direction shows the block as seen looking
// that way, one tile per cell, and the viewer finds a cell's tile back.
#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "tests/support/ViewerTask.h"
#include "viewer/ViewGrid.h"

namespace kestrane {
namespace {

TEST(ViewerPlacementTest, EachDirectionPutsItsFarCornerTopLeft) {
  // A block 3 columns (x) by 2 rows (y): East and West turn it a quarter.
  struct Row {
    int32_t dir;
    int64_t columns, rows;
    bool eastAtLeft;  // the top left cell's tile is the block's eastmost
    bool northAtLeft; // ... its northmost
    bool rowAlongX;   // going down the picture walks the grid's columns
  };
  const Row rows[] = {
      {0, 3, 2, false, true, false}, // North: north-west at the top left
      {1, 2, 3, true, true, true},   // East: north-east
      {2, 3, 2, true, false, false}, // South: south-east
      {3, 2, 3, false, false, true}, // West: south-west
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.dir);
    testing::TempDir dir;
    const LoadedTask t =
        LoadTask(test::WriteViewerTask(dir.Path(), r.dir, 3, 2),
                 test::ViewerEnvironment());
    const DownloadTask &task = t.Task;
    const ViewGrid grid(task);
    EXPECT_EQ(grid.Columns(), r.columns);
    EXPECT_EQ(grid.Rows(), r.rows);

    const TileXY corner = grid.TileAt(0, 0);
    EXPECT_EQ(corner.X, r.eastAtLeft ? task.MaxX : task.MinX);
    EXPECT_EQ(corner.Y, r.northAtLeft ? task.MaxY : task.MinY);
    // One step down the picture moves along the grid's columns for East
    // and West, along its rows for North and South.
    const TileXY below = grid.TileAt(0, 1);
    EXPECT_EQ(below.X != corner.X, r.rowAlongX);

    // One tile per cell, and back again.
    std::set<std::pair<int64_t, int64_t>> cells;
    for (int32_t y = task.MinY; y <= task.MaxY; ++y)
      for (int32_t x = task.MinX; x <= task.MaxX; ++x) {
        const ViewCell c = grid.CellOf(x, y);
        ASSERT_GE(c.Column, 0);
        ASSERT_LT(c.Column, grid.Columns());
        ASSERT_GE(c.Row, 0);
        ASSERT_LT(c.Row, grid.Rows());
        EXPECT_EQ(grid.TileAt(c.Column, c.Row), (TileXY{x, y}));
        cells.insert({c.Column, c.Row});
      }
    EXPECT_EQ(static_cast<int64_t>(cells.size()), grid.CellCount());
  }
}

} // namespace
} // namespace kestrane
