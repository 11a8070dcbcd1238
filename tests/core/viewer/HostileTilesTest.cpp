// The viewer decodes with the workers' bounds: a body their check refuses
// is shown as damaged, a hostile body costs bounded time, a link under a
// tile's name is not followed, and closing a task ends a decoding at once.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "tests/support/HostileTiles.h"
#include "tests/support/ViewerTask.h"
#include "tile/TileCheck.h"
#include "viewer/ViewerSession.h"

namespace kestrane {
namespace {

using Clock = std::chrono::steady_clock;

TEST(ViewerBounds, DecodesWhatTheWorkersCheckTakesAtEveryLevel) {
  for (const test::HostileBody &b : test::HostileBodies()) {
    SCOPED_TRACE(b.What);
    for (const int level : {0, kMaxDecodeLevel})
      EXPECT_EQ(DecodeJpeg(b.Bytes, level).has_value(), b.Decodes) << level;
  }
  StopFlag stop;
  stop.Request();
  EXPECT_FALSE(DecodeJpeg(hostile::SmoothJpeg(1024, 1024, false), 0, &stop));
}

// A scan bomb and a link to a good tile in the tile folder: both marked
// damaged once the picture is read, in bounded time.
TEST(ViewerBounds, ScanBombAndLinkAreShownDamaged) {
  testing::TempDir folder;
  LoadedTask t = LoadTask(test::WriteViewerTask(folder.Path(), 0, 3, 1),
                          test::ViewerEnvironment());
  const DownloadTask &task = t.Task;
  test::PutTile(task, task.MinX, task.MinY, test::TileFile::Jpeg);
  testing::PutBytes(
      task.TilePath(task.MinX + 1, task.MinY),
      hostile::RepeatLastScan(hostile::FlatProgressiveJpeg(8192, 8192), 1000));
  std::filesystem::create_symlink(task.TilePath(task.MinX, task.MinY),
                                  task.TilePath(task.MinX + 2, task.MinY));
  test::PostQueue queue;
  SessionHooks hooks;
  hooks.Post = [&queue](std::function<void()> f) { queue.Post(std::move(f)); };
  ViewerSession session(std::move(t), hooks, SessionLimits{1 << 20, 2, 64});
  const Clock::time_point start = Clock::now();
  session.Refresh();
  ASSERT_TRUE(queue.RunUntil([&] { return session.MosaicDone(); }));
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 3.0);
  const InventoryCounts c = session.Counts();
  EXPECT_EQ(c.Stored, 1);
  EXPECT_EQ(c.Damaged, 2);
  const ViewGrid &grid = session.Grid();
  for (int dx = 1; dx <= 2; ++dx) {
    const ViewCell cell =
        grid.CellOf(session.Task().MinX + dx, session.Task().MinY);
    EXPECT_EQ(session.MarkAt(grid.Index(cell.Column, cell.Row)), Mark::Bad)
        << dx;
  }
}

// Closing a task while its threads decode tiles that each take about two
// seconds within the bounds: the session is gone within half a second.
TEST(ViewerBounds, ClosingStopsADecodingWithinHalfASecond) {
  testing::TempDir folder;
  LoadedTask t = LoadTask(test::WriteViewerTask(folder.Path(), 0, 2, 1),
                          test::ViewerEnvironment());
  const std::string slow = hostile::SlowestAllowedJpeg();
  for (int32_t x = t.Task.MinX; x <= t.Task.MaxX; ++x)
    testing::PutBytes(t.Task.TilePath(x, t.Task.MinY), slow);
  test::PostQueue queue;
  SessionHooks hooks;
  hooks.Post = [&queue](std::function<void()> f) { queue.Post(std::move(f)); };
  auto session = std::make_unique<ViewerSession>(std::move(t), hooks,
                                                 SessionLimits{1 << 20, 2, 64});
  session->Refresh();
  // The inventory is in and the mosaic's tiles are being decoded.
  ASSERT_TRUE(queue.RunUntil([&] { return session->Inventory() != nullptr; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_FALSE(session->MosaicDone());
  const Clock::time_point start = Clock::now();
  session.reset();
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 0.5);
}

} // namespace
} // namespace kestrane
