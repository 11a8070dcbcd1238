// The re-download's helper thread: the tile's file prepared while its
// request is on the way, and the body's image check while it is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/AtomicFile.h"
#include "redownload/TileFileHelper.h"
#include "tests/support/TempDir.h"
#include "tests/support/TileBodies.h"

namespace kestrane {
namespace {

using testing::GetBytes;
using testing::TempDir;

size_t TemporariesIn(const std::string &folder) {
  size_t n = 0;
  for (const auto &e : std::filesystem::directory_iterator(folder))
    n += IsTemporaryName(e.path().filename().string());
  return n;
}

TEST(TileFileHelper, StoresOnlyAnImage) {
  const std::string jpeg = test::WorkerJpeg();
  const struct Row {
    const char *what;
    std::string body;
    bool stored;
  } rows[] = {
      {"a tile", jpeg, true},
      {"the placeholder", test::WorkerBlankBytes(), true},
      {"a JPEG cut in its data (kept, as the workers keep it)",
       test::WorkerJpegCutInScan(jpeg), true},
      {"a JPEG cut before its data", test::WorkerJpegCutBeforeScan(jpeg),
       false},
      {"an error page", "<html>busy</html>", false},
  };
  TileFileHelper helper;
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    const std::string target = dir.Path() + "t.jpg";
    helper.Prepare(target);
    std::unique_ptr<PreparedWrite> write = helper.TakePrepared();
    ASSERT_TRUE(write);
    helper.StartCheck(row.body);
    bool isImage = false;
    const bool written = write->Commit(row.body, [&] {
      isImage = helper.CheckResult();
      return isImage;
    });
    EXPECT_EQ(isImage, row.stored);
    EXPECT_EQ(written, row.stored);
    EXPECT_EQ(std::filesystem::exists(target), row.stored);
    if (row.stored) {
      EXPECT_EQ(GetBytes(target), row.body);
    }
    EXPECT_EQ(TemporariesIn(dir.Path()), 0u);
  }
}

TEST(TileFileHelper, AWriteNoBodyCameForLeavesNothing) {
  TempDir dir;
  {
    TileFileHelper helper;
    helper.Prepare(dir.Path() + "a.jpg");
    helper.Prepare(dir.Path() + "b.jpg"); // a.jpg's write is dropped
    std::unique_ptr<PreparedWrite> write = helper.TakePrepared();
    ASSERT_TRUE(write);
    EXPECT_FALSE(helper.TakePrepared()); // taken once
    EXPECT_FALSE(helper.CheckResult());  // no check started
    // b.jpg's is held here; a.jpg's goes on the helper's thread.
    EXPECT_GE(TemporariesIn(dir.Path()), 1u);
    helper.Prepare(dir.Path() + "c.jpg");     // never taken
  }
  EXPECT_EQ(TemporariesIn(dir.Path()), 0u);
}

} // namespace
} // namespace kestrane
