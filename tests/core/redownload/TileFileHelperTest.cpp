// The re-download's store thread: the body's image check and the tile's
// file written while the run's next request is on its way.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <filesystem>
#include <string>

#include "platform/AtomicFile.h"
#include "platform/UniqueFd.h"
#include "redownload/TileFileHelper.h"
#include "tests/support/TempDir.h"
#include "tests/support/TileBodies.h"

namespace kestrane {
namespace {

using testing::GetBytes;
using testing::PutBytes;
using testing::TempDir;

UniqueFd OpenFolder(const std::string &path) {
  return UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

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
    bool targetIsFolder;
    bool isImage, written;
  } rows[] = {
      {"a tile", jpeg, false, true, true},
      {"the placeholder", test::WorkerBlankBytes(), false, true, true},
      {"a JPEG cut in its data (refused, as the workers refuse it)",
       test::WorkerJpegCutInScan(jpeg), false, false, false},
      {"a JPEG cut before its data", test::WorkerJpegCutBeforeScan(jpeg), false,
       false, false},
      {"an error page", "<html>busy</html>", false, false, false},
      {"a tile whose place a folder holds", jpeg, true, true, false},
      {"a tile whose folder could not be opened", jpeg, false, true, false},
  };
  TileFileHelper helper;
  std::string back;
  EXPECT_FALSE(helper.Finish(back)); // nothing started
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    const std::string target = dir.Path() + "t.jpg";
    if (row.targetIsFolder)
      std::filesystem::create_directory(target);
    else
      PutBytes(target, "old");
    std::string body = row.body;
    const bool noFolder =
        std::string(row.what).find("could not") != std::string::npos;
    const UniqueFd folder = noFolder ? UniqueFd() : OpenFolder(dir.Path());
    helper.Start(folder.Get(), "t.jpg", body);
    EXPECT_TRUE(body.empty()); // taken
    EXPECT_TRUE(helper.Pending());
    const std::optional<TileFileHelper::Outcome> outcome = helper.Finish(back);
    ASSERT_TRUE(outcome);
    EXPECT_FALSE(helper.Pending());
    EXPECT_EQ(outcome->IsImage, row.isImage);
    EXPECT_EQ(outcome->Written, row.written);
    EXPECT_EQ(back, row.body); // given back for reuse
    if (!row.targetIsFolder) {
      EXPECT_EQ(GetBytes(target), row.written ? row.body : "old");
    }
    EXPECT_EQ(TemporariesIn(dir.Path()), 0u);
  }
}

TEST(TileFileHelper, AStoreUnderWayIsFinishedAtTheEnd) {
  TempDir dir;
  const std::string body = test::WorkerJpeg();
  {
    const UniqueFd folder = OpenFolder(dir.Path());
    TileFileHelper helper;
    std::string copy = body;
    helper.Start(folder.Get(), "a.jpg", copy);
  } // never finished by the caller
  EXPECT_EQ(GetBytes(dir.Path() + "a.jpg"), body);
  EXPECT_EQ(TemporariesIn(dir.Path()), 0u);
}

} // namespace
} // namespace kestrane
