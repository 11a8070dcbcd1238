// The task's outline in the viewer's picture: a tile's corners land on its
// cell's corners, turned with the tiles for every direction.
#include <gtest/gtest.h>

#include "geo/TileGrid.h"
#include "tests/support/TempDir.h"
#include "tests/support/ViewerTask.h"
#include "viewer/OutlineCells.h"

namespace kestrane {
namespace {

TEST(OutlineCellsTest, ATilesCornersLandOnItsCellsCornersInEveryDirection) {
  // Where the tile's north-west, north-east, south-east and south-west
  // corners lie in its cell (0: left or top, 1: right or bottom).
  struct Row {
    int32_t dir;
    CellPoint corners[4];
  } rows[] = {
      {0, {{0, 0}, {1, 0}, {1, 1}, {0, 1}}}, // North: north up
      {1, {{0, 1}, {0, 0}, {1, 0}, {1, 1}}}, // East: north at the left
      {2, {{1, 1}, {0, 1}, {0, 0}, {1, 0}}}, // South: north down
      {3, {{1, 0}, {1, 1}, {0, 1}, {0, 0}}}, // West: north at the right
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.dir);
    testing::TempDir dir;
    const LoadedTask t =
        LoadTask(test::WriteViewerTask(dir.Path(), r.dir, 3, 2),
                 test::ViewerEnvironment());
    const DownloadTask &task = t.Task;
    const ViewGrid grid(task);
    // Not the block's corner tile, so that a mirrored placement shows.
    const int32_t x = task.MinX + 1, y = task.MinY, z = task.Params.Zoom;
    const double west = TileXToLongitude(x, z),
                 east = TileXToLongitude(x + 1, z);
    const double south = TileYToLatitude(y, z),
                 north = TileYToLatitude(y + 1, z);
    const Outline area = {
        {{{west, north}, {east, north}, {east, south}, {west, south}}, {}}};
    const auto cells = OutlineInCells(grid, area, z);
    ASSERT_EQ(cells.size(), 1u);
    ASSERT_EQ(cells[0].size(), 4u);
    const ViewCell cell = grid.CellOf(x, y);
    for (size_t i = 0; i < 4; ++i) {
      SCOPED_TRACE(i);
      EXPECT_NEAR(cells[0][i].Column, double(cell.Column) + r.corners[i].Column,
                  1e-6);
      EXPECT_NEAR(cells[0][i].Row, double(cell.Row) + r.corners[i].Row, 1e-6);
    }
  }
}

} // namespace
} // namespace kestrane
