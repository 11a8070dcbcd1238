// Makes the tile folder of a large North task for the audit benchmark:
//   audit_fixture FOLDER SIDE BLANK [PLACEHOLDER_EVERY]
// writes FOLDER/big.ktsk (zoom 20, SIDE x SIDE tiles) and fills FOLDER/big/
// with every tile of the block as a hard link to one of 64 real tiles (a file
// takes at most 65,000 links), every PLACEHOLDER_EVERY-th (default 100) to a
// copy of BLANK instead, so that the disk is not the limit and the folder costs
// a few inodes' worth of data. Prints the tile count.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "geo/TileGrid.h"
#include "platform/Files.h"
#include "sample/TileImage.h"
#include "task/DownloadTask.h"
#include "task/TaskFiles.h"
#include "tests/support/TaskBlock.h"

using namespace kestrane;

int main(int argc, char **argv) {
  if (argc < 4) {
    std::fputs("usage: audit_fixture FOLDER SIDE BLANK [PLACEHOLDER_EVERY]\n",
               stderr);
    return 2;
  }
  const std::string folder = IncludeTrailingDelimiter(argv[1]);
  const int32_t side = std::atoi(argv[2]);
  const std::string blankPath = argv[3];
  const int64_t every = argc > 4 ? std::atoll(argv[4]) : 100;
  if (side < 1 || every < 1)
    return 2;
  CreateDir(folder);

  const int32_t zoom = 20, x0 = 300000, y0 = 600000;
  TaskParameters p;
  p.Zoom = zoom;
  p.Dir = 0;
  p.Path = folder;
  p.TaskFileName = "big.ktsk";
  // Edges through the middle of the corner tiles: exactly side x side.
  fixture::SetBlock(p, zoom, x0, x0 + side - 1, y0, y0 + side - 1);
  const DownloadTask task(p);
  WriteProjectFile(task);
  CreateTileFolder(task);

  std::vector<std::string> sources;
  for (int32_t i = 0; i < 64; ++i) {
    const std::string path = folder + "src" + std::to_string(i) + ".jpg";
    WriteFileAtomic(path, TileJpeg(TileAddress{zoom, x0 + i, y0, 0}));
    sources.push_back(path);
  }
  const std::string blank = folder + "blank.jpg";
  if (!CopyFileTo(blankPath, blank, false)) {
    std::fprintf(stderr, "cannot copy %s\n", blankPath.c_str());
    return 1;
  }
  int64_t n = 0;
  for (int32_t x = task.MinX; x <= task.MaxX; ++x)
    for (int32_t y = task.MinY; y <= task.MaxY; ++y, ++n) {
      const std::string &src =
          n % every == every - 1 ? blank : sources[static_cast<size_t>(n % 64)];
      if (::link(src.c_str(), task.TilePath(x, y).c_str()) != 0) {
        std::perror(task.TilePath(x, y).c_str());
        return 1;
      }
    }
  std::printf("%lld\n", static_cast<long long>(n));
  return 0;
}
