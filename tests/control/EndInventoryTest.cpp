#include <gtest/gtest.h>

#include <cstdio>

#include "sample/TileImage.h"
#include "tests/control/ControlRig.h"

namespace kestrane::controltest {
namespace {

// The end of a task counts the whole block in the tile folder, not what
// the run did: a continued run that fetches nothing still reports the
// placeholder and the deleted tile an earlier run left. (The rig's server
// answers with the blank image, so its tiles count as placeholders.)
TEST(EndInventoryTest, CountsTheWholeBlockWhateverTheRunDid) {
  ControlRig rig;
  TaskControl &c = rig.Control();
  ASSERT_TRUE(c.Start(rig.Fields(kThreeTiles)));
  EXPECT_FALSE(c.EndInventory().has_value()); // nothing while it runs
  ASSERT_GT(rig.RunToEnd(), 0);
  ASSERT_TRUE(c.EndInventory().has_value());
  EXPECT_EQ(c.EndInventory()->Total, 3);
  EXPECT_EQ(c.EndInventory()->Placeholder, 3);
  EXPECT_FALSE(c.EndInventory()->Complete());

  const MDTask &first = *c.CurrentTask();
  const std::string stored = first.TilePath(first.MinX, first.MinY);
  const std::string deleted = first.TilePath(first.MinX + 1, first.MinY);
  Put(stored, TileJpeg(TileAddress{18, first.MinX, first.MinY, 0}));
  ASSERT_EQ(std::remove(deleted.c_str()), 0);

  // The same fields: the task continues past every tile.
  ASSERT_TRUE(c.Start(rig.Fields(kThreeTiles)));
  EXPECT_FALSE(c.EndInventory().has_value());
  ASSERT_GT(rig.RunToEnd(), 0);
  EXPECT_EQ(c.Progress().Stored + c.Progress().GivenUp, 0);
  ASSERT_TRUE(c.EndInventory().has_value());
  const InventoryCounts end = *c.EndInventory();
  EXPECT_EQ(end.Total, 3);
  EXPECT_EQ(end.Stored, 1);
  EXPECT_EQ(end.Placeholder, 1);
  EXPECT_EQ(end.Missing, 1);
  EXPECT_EQ(end.Damaged, 0);
}

} // namespace
} // namespace kestrane::controltest
