// join_fixture FOLDER NAME COLUMNS ROWS [DIR]: a task of COLUMNS x ROWS tiles
// at zoom 18 whose tile folder holds the sample service's tiles, for the
// joiner's benchmark. Up to 20,000 tiles each is the service's own picture;
// beyond that the tiles repeat 256 distinct pictures (the joiner's work does
// not depend on what the tiles show). The tiles are stored as the download
// workers store them: each checked with the workers' image check, written
// through the tile folder's handle, and entered in the record of checked
// tiles.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "geo/TileGrid.h"
#include "platform/Files.h"
#include "sample/TileImage.h"
#include "task/DownloadTask.h"
#include "task/TaskFiles.h"
#include "tests/support/TaskBlock.h"
#include "tile/CheckedTiles.h"
#include "tile/TileCheck.h"
#include "tile/TileStore.h"

int main(int argc, char **argv) {
  using namespace kestrane;
  if (argc < 5) {
    std::fputs("usage: join_fixture FOLDER NAME COLUMNS ROWS [DIR]\n", stderr);
    return 2;
  }
  const int32_t columns = std::atoi(argv[3]), rows = std::atoi(argv[4]);
  const int32_t dir = argc > 5 ? std::atoi(argv[5]) : 0;
  const int32_t zoom = 18, x0 = 42000, y0 = 170000;
  TaskParameters p;
  p.Path = std::string(argv[1]) + "/";
  p.TaskFileName = std::string(argv[2]) + ".ktsk";
  p.Dir = dir;
  p.Zoom = zoom;
  fixture::SetBlock(p, zoom, x0, x0 + columns - 1, y0, y0 + rows - 1);
  CreateDir(argv[1]);
  const DownloadTask task(p);
  WriteProjectFile(task);
  CreateTileFolder(task);

  const int64_t total = int64_t{columns} * rows;
  const bool repeat = total > 20000;
  std::vector<std::string> pool;
  std::vector<bool> poolChecked;
  if (repeat)
    for (int i = 0; i < 256; ++i) {
      pool.push_back(
          TileJpeg(TileAddress{zoom, x0 + i % 16, y0 + i / 16, dir}));
      poolChecked.push_back(JpegDecodes(pool.back()));
    }
  const UniqueFd folder = OpenFolder(task.TileFolder);
  CreateCheckedTiles(task.CheckedFilePath);
  CheckedTileRecord record(task.CheckedFilePath);
  std::atomic<int64_t> next{0};
  std::atomic<bool> failed{false};
  auto work = [&] {
    for (int64_t i = next++; i < total; i = next++) {
      const int32_t x = task.MinX + static_cast<int32_t>(i % columns);
      const int32_t y = task.MinY + static_cast<int32_t>(i / columns);
      const size_t k = static_cast<size_t>(i % 256);
      const std::string bytes =
          repeat ? pool[k] : TileJpeg(TileAddress{zoom, x, y, dir});
      const bool checked = repeat ? poolChecked[k] : JpegDecodes(bytes);
      FileStamp placed;
      if (!StoreTileFile(folder.Get(), task.TileFileName(x, y), bytes, nullptr,
                         &placed))
        failed = true;
      else if (checked)
        record.Add(placed, bytes);
    }
  };
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < std::max(1u, std::thread::hardware_concurrency());
       ++t)
    threads.emplace_back(work);
  for (auto &t : threads)
    t.join();
  if (failed) {
    std::fputs("join_fixture: cannot write the tiles\n", stderr);
    return 1;
  }
  std::printf("%s%s\n", p.Path.c_str(), p.TaskFileName.c_str());
  return 0;
}
