#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "sample/TileImage.h"
#include "tests/core/control/ControlRig.h"

namespace kestrane::controltest {
namespace {

// Runs the task to its end and, when the folder is counted on a thread of
// its own (as the window does), waits for the count: the button is back to
// Start before the count is in.
void RunToEndAndCount(ControlRig &rig) {
  TaskControl &c = rig.Control();
  ASSERT_GT(rig.RunToEnd(), 0);
  EXPECT_EQ(c.State(), TaskState::Idle);
  const auto until =
      std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (c.EndInventoryPending()) {
    EXPECT_FALSE(c.EndInventory().has_value());
    ASSERT_LT(std::chrono::steady_clock::now(), until);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// The end of a task counts the whole block in the tile folder, not what
// the run did: a continued run that fetches nothing still reports the
// placeholder and the deleted tile an earlier run left. (The rig's server
// answers with the blank image, so its tiles count as placeholders.) The
// same whether the end counts at once (the command line) or on a thread of
// its own (the window).
class EndInventoryTest : public ::testing::TestWithParam<bool> {};

TEST_P(EndInventoryTest, CountsTheWholeBlockWhateverTheRunDid) {
  ControlRig rig('.', "", false, /*backgroundEndCount=*/GetParam());
  TaskControl &c = rig.Control();
  ASSERT_TRUE(c.Start(rig.Fields(kThreeTiles)));
  EXPECT_FALSE(c.EndInventory().has_value()); // nothing while it runs
  RunToEndAndCount(rig);
  ASSERT_TRUE(c.EndInventory().has_value());
  EXPECT_EQ(c.EndInventory()->Total, 3);
  EXPECT_EQ(c.EndInventory()->Placeholder, 3);
  EXPECT_FALSE(c.EndInventory()->Complete());

  const DownloadTask &first = *c.CurrentTask();
  const std::string stored = first.TilePath(first.MinX, first.MinY);
  const std::string deleted = first.TilePath(first.MinX + 1, first.MinY);
  Put(stored, TileJpeg(TileAddress{18, first.MinX, first.MinY, 0}));
  ASSERT_EQ(std::remove(deleted.c_str()), 0);

  // The same fields: the task continues past every tile.
  ASSERT_TRUE(c.Start(rig.Fields(kThreeTiles)));
  EXPECT_FALSE(c.EndInventory().has_value());
  RunToEndAndCount(rig);
  EXPECT_EQ(c.Progress().Stored + c.Progress().GivenUp, 0);
  ASSERT_TRUE(c.EndInventory().has_value());
  const InventoryCounts end = *c.EndInventory();
  EXPECT_EQ(end.Total, 3);
  EXPECT_EQ(end.Stored, 1);
  EXPECT_EQ(end.Placeholder, 1);
  EXPECT_EQ(end.Missing, 1);
  EXPECT_EQ(end.Damaged, 0);
}

INSTANTIATE_TEST_SUITE_P(AtOnceAndOnItsThread, EndInventoryTest,
                         ::testing::Bool());

} // namespace
} // namespace kestrane::controltest
