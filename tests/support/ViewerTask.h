#pragma once
// Tasks on disk for the tile viewer's tests: a project file whose block is
// exactly `columns` x `rows` tiles of the grid, ways to put tiles in it, and
// a queue that runs what a session posts to its window.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "geo/TileGrid.h"
#include "inventory/ProjectFile.h"
#include "inventory/TaskInventory.h"
#include "platform/Files.h"
#include "task/DownloadTask.h"
#include "task/TaskFiles.h"
#include "tests/support/TaskBlock.h"
#include "tests/support/TempDir.h"
#include "tests/support/WorkerFixtures.h"

namespace kestrane::test {

// The bundle's folder: the placeholder image is found there.
inline TaskEnvironment ViewerEnvironment() {
  TaskEnvironment env;
  env.ProgramFolder = KESTRANE_BUNDLE_DIR;
  return env;
}

// Writes `folder` + name's project file for columns x rows tiles at zoom 18
// looking in `dir` and makes its tile folder; returns its path.
inline std::string WriteViewerTask(const std::string &folder, int32_t dir,
                                   int32_t columns, int32_t rows,
                                   const std::string &name = "t.ktsk") {
  constexpr int32_t zoom = 18, x0 = 41990, y0 = 170590;
  TaskParameters p;
  p.Zoom = zoom;
  p.Dir = dir;
  fixture::SetBlock(p, zoom, x0, x0 + columns - 1, y0, y0 + rows - 1);
  p.Path = folder;
  p.TaskFileName = name;
  const DownloadTask task(p, ViewerEnvironment());
  WriteProjectFile(task);
  CreateTileFolder(task);
  return folder + name;
}

// The kinds of file a tile folder holds.
enum class TileFile { Jpeg, Placeholder, Damaged };
inline void PutTile(const DownloadTask &task, int32_t x, int32_t y,
                    TileFile kind) {
  const std::string path = task.TilePath(x, y);
  switch (kind) {
  case TileFile::Jpeg:
    testing::PutBytes(path, WorkerJpeg());
    break;
  case TileFile::Placeholder:
    testing::PutBytes(path, testing::GetBytes(std::string(KESTRANE_BUNDLE_DIR) +
                                              "blankimg/blank180.jpg"));
    break;
  case TileFile::Damaged:
    testing::PutBytes(path, WorkerJpegCutBeforeScan(WorkerJpeg()));
    break;
  }
}

// Runs what the session posts when the test drains it.
struct PostQueue {
  std::mutex Mutex;
  std::deque<std::function<void()>> Jobs;
  void Post(std::function<void()> f) {
    std::lock_guard lock(Mutex);
    Jobs.push_back(std::move(f));
  }
  // Runs posted jobs until `until` holds; false after ten seconds.
  bool RunUntil(const std::function<bool()> &until) {
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!until()) {
      if (std::chrono::steady_clock::now() > end)
        return false;
      std::function<void()> job;
      {
        std::lock_guard lock(Mutex);
        if (!Jobs.empty()) {
          job = std::move(Jobs.front());
          Jobs.pop_front();
        }
      }
      if (job)
        job();
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }
};

} // namespace kestrane::test
