// The task's files come with a record of checked tiles: a fresh task
// starts its own, a continued task keeps adding to the one it has.
#include <gtest/gtest.h>

#include <string>

#include "task/TaskFiles.h"
#include "tests/core/task/TaskTestSupport.h"
#include "tile/CheckedTiles.h"

namespace kestrane {
namespace {

using namespace tasktest;

TEST(CheckedRecordTask, AFreshTaskStartsItsOwnRecord) {
  for (const bool continued : {false, true}) {
    SCOPED_TRACE(continued ? "continued" : "fresh");
    TempDir dir;
    TaskParameters p = ExampleParams(dir.Path());
    WriteTaskFiles(DownloadTask(p));
    const std::string record = DownloadTask(p).CheckedFilePath;
    EXPECT_EQ(record, dir.Path() + "newtask_checked.bin");
    EXPECT_EQ(CheckedTiles::Read(record).Size(), 0u);
    EXPECT_TRUE(CheckedTileRecord(record).Open());
    PutBytes(record, "an earlier run's record");
    p.ContinueTask = continued;
    WriteTaskFiles(DownloadTask(p));
    // Fresh: the earlier record is gone, a new one holds its header alone.
    EXPECT_EQ(GetBytes(record) == "an earlier run's record", continued);
    EXPECT_EQ(GetBytes(record).size(), continued ? 23u : 32u);
  }
}

} // namespace
} // namespace kestrane
