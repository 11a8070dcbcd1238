// A task with an outline, looked at: the tiles outside it are no tiles of
// the task, shown as the ground around the block rather than as missing,
// and never read, whatever stands under their names; the window gets the
// outline to draw.
#include <gtest/gtest.h>

#include <functional>

#include "geo/OutlineGeoJson.h"
#include "geo/TileGrid.h"
#include "tests/support/ViewerTask.h"
#include "viewer/ViewerSession.h"

namespace kestrane {
namespace {

TEST(OutsideTilesTest, OutsideCellsShowTheGroundInEveryDirection) {
  for (int32_t dir = 0; dir <= 3; ++dir) {
    SCOPED_TRACE("direction " + std::to_string(dir));
    testing::TempDir folder;
    const std::string project = test::WriteViewerTask(folder.Path(), dir, 3, 2);
    // The west column of the 3 x 2 block (x 41990, rows 170590..170591).
    const auto at = [](double x, double y) {
      return LonLat{TileXToLongitude(x, 18), TileYToLatitude(y, 18)};
    };
    const Outline area = {{{at(41990.2, 170590.2), at(41990.8, 170590.2),
                            at(41990.8, 170591.8), at(41990.2, 170591.8)},
                           {}}};
    testing::PutBytes(folder.Path() + "t_area.geojson", OutlineToGeoJson(area));
    LoadedTask t = LoadTask(project, test::ViewerEnvironment());
    // A tile inside, nothing at the other, a tile under an outside name.
    test::PutTile(t.Task, 41990, 170590, test::TileFile::Jpeg);
    test::PutTile(t.Task, 41992, 170591, test::TileFile::Jpeg);

    test::PostQueue queue;
    SessionHooks hooks;
    hooks.Post = [&queue](std::function<void()> f) {
      queue.Post(std::move(f));
    };
    ViewerSession session(std::move(t), hooks, SessionLimits{1 << 20, 2, 64});
    EXPECT_EQ(session.Area(), area);
    session.Refresh();
    ASSERT_TRUE(queue.RunUntil(
        [&] { return session.MosaicDone() && !session.Refreshing(); }));
    const ViewGrid &grid = session.Grid();
    const Mosaic &mosaic = session.GetMosaic();
    const auto cellOf = [&](int32_t x, int32_t y) {
      const ViewCell c = grid.CellOf(x, y);
      return std::pair{grid.Index(c.Column, c.Row), c};
    };
    const auto pixel = [&](const ViewCell &c) {
      const int64_t px = c.Column * mosaic.ThumbSize() + mosaic.ThumbSize() / 2;
      const int64_t py = c.Row * mosaic.ThumbSize() + mosaic.ThumbSize() / 2;
      return mosaic.Image()
          .Data[static_cast<size_t>(py * mosaic.Image().Width + px)];
    };
    for (int32_t x = 41990; x <= 41992; ++x)
      for (int32_t y = 170590; y <= 170591; ++y) {
        const auto [cell, c] = cellOf(x, y);
        const bool outside = x != 41990;
        EXPECT_EQ(session.Outside(cell), outside);
        if (outside) {
          EXPECT_EQ(session.MarkAt(cell), Mark::None);
          EXPECT_EQ(pixel(c), palette::kWindow);
        }
      }
    EXPECT_EQ(session.MarkAt(cellOf(41990, 170591).first), Mark::Missing);
    EXPECT_NE(pixel(cellOf(41990, 170590).second), palette::kNotLoaded);
    const InventoryCounts counts = session.Counts();
    EXPECT_EQ(counts.Total, 2);
    EXPECT_EQ(counts.Stored, 1);
    EXPECT_EQ(counts.Missing, 1);
    EXPECT_EQ(counts.Outside, 4);
    // The view asks for no outside tile.
    session.Want({TileKey{cellOf(41992, 170591).first, 0}});
    EXPECT_EQ(session.Outstanding(), 0u);
  }
}

} // namespace
} // namespace kestrane
