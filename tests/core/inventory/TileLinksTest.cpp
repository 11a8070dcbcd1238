// A link standing in the tile folder under a tile's name is never
// followed: whatever it points at is no tile of the task, so it counts as
// damaged and is listed to be fetched again.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "inventory/TaskInventory.h"
#include "sample/TileImage.h"
#include "task/TaskFiles.h"
#include "tests/core/task/TaskTestSupport.h"

namespace kestrane {
namespace {

using tasktest::GetBytes;
using tasktest::PutBytes;
using tasktest::SetBlock;
using tasktest::TempDir;

TEST(TileLinks, ALinkUnderATilesNameIsDamaged) {
  TempDir dir;
  TaskParameters p;
  p.Path = dir.Path();
  p.TaskFileName = "links.ktsk";
  SetBlock(p, 10, 100, 105, 200, 200);
  TaskEnvironment env;
  env.ProgramFolder = KESTRANE_SOURCE_DIR;
  const DownloadTask task(p, env);
  CreateTileFolder(task);
  const std::string jpeg = TileJpeg(TileAddress{10, 100, 200, 0});
  PutBytes(task.TilePath(100, 200), jpeg); // the one real tile
  PutBytes(dir.Path() + "outside.jpg", jpeg);
  const struct {
    int32_t x;
    std::string target;
  } links[] = {
      {101, task.TilePath(100, 200)}, // another tile of the task
      {102, dir.Path() + "outside.jpg"},
      {103, dir.Path() + "gone.jpg"}, // dangling
      {104, dir.Path()},              // a folder
      {105, "/dev/zero"},             // a device, never opened
  };
  for (const auto &l : links)
    std::filesystem::create_symlink(l.target, task.TilePath(l.x, 200));

  for (const bool decode : {false, true}) {
    SCOPED_TRACE(decode ? "decode" : "listing only");
    InventoryOptions o;
    o.Decode = decode;
    const TaskInventory inv = TakeInventory(task, o);
    EXPECT_EQ(inv.Counts.Stored, 1);
    EXPECT_EQ(inv.Counts.Damaged, 5);
    EXPECT_EQ(inv.Counts.Missing, 0);
    ASSERT_EQ(inv.Problems.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
      EXPECT_EQ(inv.Problems[i].X, links[i].x);
      EXPECT_EQ(inv.Problems[i].State, TileState::Damaged);
    }
    WriteMissingList(task, inv, dir.Path() + "again.ftl");
    EXPECT_EQ(
        GetBytes(dir.Path() + "again.ftl").find(task.TilePath(102, 200) + "|"),
        task.TilePath(101, 200).size() + 1 + task.TileUrl(101, 200).size() + 2);
  }
  // The links and what they point at are as they were.
  EXPECT_EQ(GetBytes(dir.Path() + "outside.jpg"), jpeg);
  EXPECT_TRUE(std::filesystem::is_symlink(task.TilePath(103, 200)));
}

} // namespace
} // namespace kestrane
