// A tile whose JPEG data ends before its picture does is damaged wherever
// it is read: the audit's image check counts it so, and the viewer marks it
// when it reads the tile for its picture, as the worker refuses to store it.
#include <gtest/gtest.h>

#include <functional>

#include "tests/support/ViewerTask.h"
#include "viewer/ViewerSession.h"

namespace kestrane {
namespace {

TEST(CutShortTileTest, TheAuditCountsItDamagedAndTheViewerMarksIt) {
  const std::string jpeg = test::WorkerJpeg();
  const struct {
    const char *what;
    std::string bytes;
    bool whole;
  } tiles[] = {
      {"whole", jpeg, true},
      {"cut in its image data", test::WorkerJpegCutInScan(jpeg), false},
      {"progressive, cut in a scan",
       test::WorkerJpegCutInScan(test::WorkerJpeg(256, 256, true)), false},
      {"without its end marker", jpeg.substr(0, jpeg.size() - 2), false},
  };
  const auto n = static_cast<int32_t>(std::size(tiles));
  testing::TempDir folder;
  LoadedTask t = LoadTask(test::WriteViewerTask(folder.Path(), 0, n, 1),
                          test::ViewerEnvironment());
  const DownloadTask &task = t.Task;
  for (int32_t i = 0; i < n; ++i)
    testing::PutBytes(task.TilePath(task.MinX + i, task.MinY), tiles[i].bytes);

  // Without the check a non-empty file counts as stored; with it, not.
  EXPECT_EQ(TakeInventory(task).Counts.Stored, n);
  InventoryOptions checked;
  checked.Decode = true;
  std::set<int32_t> damaged;
  for (const InventoryTile &p : TakeInventory(task, checked).Problems)
    if (p.State == TileState::Damaged)
      damaged.insert(p.X - task.MinX);

  test::PostQueue queue;
  SessionHooks hooks;
  hooks.Post = [&queue](std::function<void()> f) { queue.Post(std::move(f)); };
  ViewerSession session(std::move(t), hooks, SessionLimits{1 << 20, 2, 64});
  session.Refresh();
  ASSERT_TRUE(queue.RunUntil([&] { return session.MosaicDone(); }));
  const ViewGrid &grid = session.Grid();
  for (int32_t i = 0; i < n; ++i) {
    SCOPED_TRACE(tiles[i].what);
    EXPECT_EQ(damaged.count(i) == 0, tiles[i].whole);
    const ViewCell c =
        grid.CellOf(session.Task().MinX + i, session.Task().MinY);
    EXPECT_EQ(session.MarkAt(grid.Index(c.Column, c.Row)),
              tiles[i].whole ? Mark::None : Mark::Bad);
  }
}

} // namespace
} // namespace kestrane
