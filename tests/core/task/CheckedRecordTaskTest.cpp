// A fresh task starts its own record of checked tiles; a continued task
// keeps adding to the one it has.
#include <gtest/gtest.h>

#include <string>

#include "task/TaskFiles.h"
#include "tests/core/task/TaskTestSupport.h"

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
    PutBytes(record, "an earlier run's record");
    p.ContinueTask = continued;
    WriteTaskFiles(DownloadTask(p));
    EXPECT_EQ(Exists(record), continued);
  }
}

} // namespace
} // namespace kestrane
