// The worker holds its task's tile folder open: when the folder's path is
// given to a link into another folder while a request is on its way, the
// tile, its side file and its placeholder still go into the task's folder,
// and nothing appears where the link leads.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "task/TaskFiles.h"
#include "tests/support/WorkerFixtures.h"
#include "worker/TileHttp.h"

namespace kestrane {
namespace {

using namespace test;

TEST(TileFolderSwapTest, ALinkPutInTheFoldersPlaceMidRequestLeadsNowhere) {
  HttpGlobalInit();
  struct Row {
    const char *what;
    std::string body;
    std::vector<std::string> suffixes; // of the tile's name, in the folder
  };
  const Row rows[] = {
      {"a tile", WorkerJpeg(8, 8), {""}},
      {"no image: side file and placeholder",
       WorkerGifBody(),
       {"", ".invalid"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    WorkerTempDir dir, elsewhere;
    std::string folder, moved;
    WorkerTileServer server([&](const HttpRequest &, int) {
      // While the worker waits for its answer: the task's folder goes
      // aside and a link to another folder takes its name.
      const std::string bare = folder.substr(0, folder.size() - 1);
      EXPECT_EQ(std::rename(bare.c_str(), moved.c_str()), 0);
      EXPECT_EQ(::symlink(elsewhere.Path().c_str(), bare.c_str()), 0);
      return WorkerOk(row.body);
    });
    const DownloadTask task(
        WorkerBlock(dir.Path(), kWorkerX0, 1, kWorkerY0, 1, 1),
        WorkerEnvironment(server.Hosts()));
    CreateTileFolder(task);
    folder = task.TileFolder;
    moved = dir.Path() + "moved";
    WorkerRecorder host;
    ASSERT_TRUE(WorkerRun(task, 1, host));

    EXPECT_TRUE(WorkerFolderNames(elsewhere.Path()).empty());
    const std::string name = task.TileFileName(kWorkerX0, kWorkerY0);
    std::vector<std::string> want;
    for (const std::string &suffix : row.suffixes)
      want.push_back(name + suffix);
    EXPECT_EQ(WorkerFolderNames(moved), want);
    EXPECT_EQ(host.Log.back(), "T1 Finished.");
  }
}

} // namespace
} // namespace kestrane
