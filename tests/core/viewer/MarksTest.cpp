// The marks come from the task inventory: each state of a tile's file shows
// as its mark in its cell, a later inventory shows what changed, and tiles
// that do not decode when read for the picture show as damaged.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "tests/support/ViewerTask.h"
#include "viewer/Marks.h"
#include "viewer/ViewerSession.h"

namespace kestrane {
namespace {

struct Placed {
  int32_t dx, dy; // from the block's MinX, MinY
  const char *what;
  Mark mark;
};

// One tile of each kind in a 3 x 2 block, the rest missing.
constexpr Placed kPlaced[] = {
    {0, 0, "jpeg", Mark::None},
    {1, 0, "placeholder", Mark::Placeholder},
    {2, 0, "jpeg+crashed", Mark::Bad},
    {0, 1, "invalid", Mark::Bad}, // no tile, an ".invalid" beside its place
    {1, 1, "damaged", Mark::Bad}, // found by the image check
    {2, 1, "none", Mark::Missing},
};

void PutPlaced(const DownloadTask &task) {
  for (const Placed &p : kPlaced) {
    const int32_t x = task.MinX + p.dx, y = task.MinY + p.dy;
    const std::string what = p.what;
    if (what.rfind("jpeg", 0) == 0)
      test::PutTile(task, x, y, test::TileFile::Jpeg);
    if (what == "placeholder")
      test::PutTile(task, x, y, test::TileFile::Placeholder);
    if (what == "damaged")
      test::PutTile(task, x, y, test::TileFile::Damaged);
    if (what == "jpeg+crashed")
      testing::PutBytes(task.TilePath(x, y) + ".crashed", "<html>");
    if (what == "invalid")
      testing::PutBytes(task.TilePath(x, y) + ".invalid", "GIF89a");
  }
}

TEST(ViewerMarksTest, EveryTileStateShowsItsMarkInEveryDirection) {
  for (int32_t dir = 0; dir < 4; ++dir) {
    SCOPED_TRACE(dir);
    testing::TempDir folder;
    const LoadedTask t =
        LoadTask(test::WriteViewerTask(folder.Path(), dir, 3, 2),
                 test::ViewerEnvironment());
    PutPlaced(t.Task);
    const ViewGrid grid(t.Task);
    InventoryOptions checked;
    checked.Decode = true;
    const ProblemMap map(grid, TakeInventory(t.Task, checked));
    for (const Placed &p : kPlaced) {
      SCOPED_TRACE(p.what);
      const ViewCell c = grid.CellOf(t.Task.MinX + p.dx, t.Task.MinY + p.dy);
      const CellMark *m = map.Find(grid.Index(c.Column, c.Row));
      EXPECT_EQ(m ? m->Kind() : Mark::None, p.mark);
    }
    const MarksOverview o = MakeMarksOverview(grid, map);
    EXPECT_EQ(o.Step, 1);
    EXPECT_EQ(o.Image.Width, grid.Columns());
    const ViewCell missing = grid.CellOf(t.Task.MinX + 2, t.Task.MinY + 1);
    EXPECT_EQ(o.Image.Data[missing.Row * o.Image.Width + missing.Column],
              palette::kMissing);
  }
}

TEST(ViewerMarksTest, ChangedNamesTheCellsWhoseFilesCameOrWent) {
  testing::TempDir folder;
  const LoadedTask t = LoadTask(test::WriteViewerTask(folder.Path(), 0, 3, 2),
                                test::ViewerEnvironment());
  const DownloadTask &task = t.Task;
  const ViewGrid grid(task);
  test::PutTile(task, task.MinX, task.MinY, test::TileFile::Jpeg);
  test::PutTile(task, task.MinX + 1, task.MinY, test::TileFile::Placeholder);
  const ProblemMap before(grid, TakeInventory(task));
  // The placeholder fetched again, a new tile, one tile gone.
  test::PutTile(task, task.MinX + 1, task.MinY, test::TileFile::Jpeg);
  test::PutTile(task, task.MinX + 2, task.MaxY, test::TileFile::Jpeg);
  std::remove(task.TilePath(task.MinX, task.MinY).c_str());
  const ProblemMap after(grid, TakeInventory(task));

  std::vector<int64_t> expected;
  for (const auto &[x, y] :
       {std::pair{task.MinX, task.MinY}, std::pair{task.MinX + 1, task.MinY},
        std::pair{task.MinX + 2, task.MaxY}}) {
    const ViewCell c = grid.CellOf(x, y);
    expected.push_back(grid.Index(c.Column, c.Row));
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ProblemMap::Changed(before, after), expected);
  EXPECT_TRUE(ProblemMap::Changed(after, after).empty());
}

using test::PostQueue;

TEST(ViewerSessionTest, ReadingFillsTheMosaicAndFindsDamagedTiles) {
  testing::TempDir folder;
  LoadedTask t = LoadTask(test::WriteViewerTask(folder.Path(), 0, 3, 2),
                          test::ViewerEnvironment());
  PutPlaced(t.Task);
  PostQueue queue;
  SessionHooks hooks;
  hooks.Post = [&queue](std::function<void()> f) { queue.Post(std::move(f)); };
  ViewerSession session(std::move(t), hooks, SessionLimits{1 << 20, 2, 64});
  const ViewGrid &grid = session.Grid();
  const DownloadTask &task = session.Task();
  EXPECT_EQ(session.Counts().Total, 0); // nothing before the inventory

  session.Refresh();
  ASSERT_TRUE(queue.RunUntil([&] { return session.MosaicDone(); }));
  // The inventory without the image check counts the damaged tile stored;
  // reading it for the mosaic finds it out.
  const InventoryCounts c = session.Counts();
  EXPECT_EQ(c.Total, 6);
  EXPECT_EQ(c.Stored, 2);
  EXPECT_EQ(c.Damaged, 1);
  EXPECT_EQ(c.Placeholder, 1);
  EXPECT_EQ(c.Missing, 2);
  const Mosaic &mosaic = session.GetMosaic();
  for (const Placed &p : kPlaced) {
    SCOPED_TRACE(p.what);
    const ViewCell cell = grid.CellOf(task.MinX + p.dx, task.MinY + p.dy);
    EXPECT_EQ(session.MarkAt(grid.Index(cell.Column, cell.Row)), p.mark);
    const int s = mosaic.ThumbSize();
    const uint32_t centre =
        mosaic.Image().Data[(cell.Row * s + s / 2) * mosaic.Image().Width +
                            cell.Column * s + s / 2];
    const bool picture = p.mark == Mark::None || p.mark == Mark::Placeholder ||
                         std::string(p.what) == "jpeg+crashed";
    EXPECT_EQ(centre != palette::kNotLoaded, picture);
  }

  // A view asks for a tile at full size; it comes into the cache.
  const ViewCell first = grid.CellOf(task.MinX, task.MinY);
  const TileKey key{grid.Index(first.Column, first.Row), 0};
  session.Want({key});
  ASSERT_TRUE(queue.RunUntil([&] { return session.Cache().Contains(key); }));
  const auto *image = session.Cache().Find(key);
  ASSERT_TRUE(image && *image);
  EXPECT_EQ((*image)->Width, 256);

  // A tile that comes later shows after the next inventory.
  test::PutTile(task, task.MaxX, task.MaxY, test::TileFile::Jpeg);
  bool swapped = false;
  session.Refresh(false, [&] { swapped = true; });
  ASSERT_TRUE(queue.RunUntil([&] { return swapped && session.MosaicDone(); }));
  EXPECT_EQ(session.Counts().Stored, 3);
  EXPECT_EQ(session.Counts().Missing, 1);

  // Following: nothing changed in the folder, nothing taken again; a tile
  // stored (the folder's time moves), the inventory is taken again.
  const timespec past[2] = {{1600000000, 0}, {1600000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, task.TileFolder.c_str(), past, 0), 0);
  ASSERT_TRUE(session.RefreshIfChanged()); // the first look
  ASSERT_TRUE(queue.RunUntil([&] { return !session.Refreshing(); }));
  EXPECT_FALSE(session.RefreshIfChanged());
  std::remove(task.TilePath(task.MaxX, task.MaxY).c_str());
  EXPECT_TRUE(session.RefreshIfChanged());
  ASSERT_TRUE(queue.RunUntil([&] { return !session.Refreshing(); }));
  EXPECT_EQ(session.Counts().Missing, 2);
}

} // namespace
} // namespace kestrane
