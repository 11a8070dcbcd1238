// The position save waits for the tiles to reach the disk first.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "control/PositionSaver.h"
#include "tests/support/TempDir.h"

namespace kestrane {
namespace {

std::string Slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(PositionSaverTest, PositionsFollowOnlyASuccessfulSync) {
  struct Row {
    const char *what;
    bool tileFolderThere;
    bool background;
  } rows[] = {
      {"synced, at once", true, false},
      {"synced, in the background", true, true},
      {"sync failed, at once", false, false},
      {"sync failed, in the background", false, true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    testing::TempDir dir;
    const std::string project = dir.Path() + "t.ktsk";
    std::ofstream(project) << "[THREADS]\r\nT1X=3\r\n";
    const std::string tiles =
        row.tileFolderThere ? dir.Path() : dir.Path() + "gone/";
    PositionSaver saver(row.background);
    saver.Submit(project, tiles, {{"T1X", "7"}});
    saver.Flush();
    const std::optional<std::string> error = saver.TakeError();
    if (row.tileFolderThere) {
      EXPECT_EQ(error, std::nullopt);
      EXPECT_EQ(Slurp(project), "[THREADS]\r\nT1X=7\r\n");
    } else {
      EXPECT_EQ(error, "cannot flush the tiles in " + tiles +
                           " to the disk; the positions stay as they were");
      EXPECT_EQ(Slurp(project), "[THREADS]\r\nT1X=3\r\n");
    }
  }
}

} // namespace
} // namespace kestrane
