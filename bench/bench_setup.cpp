// Set-up and the four task files of a 1024 x 1024 tile task looking North
// (1,048,576 tiles, 16 tile list files), written into a temporary folder.
// Prints the peak resident set size at the end: the tile list is written
// one chunk at a time, so it stays near one chunk's text (about 8 MB)
// above the program's base size whatever the task's size.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "geo/TileGrid.h"
#include "task/DownloadTask.h"
#include "task/TaskFiles.h"
#include "tests/support/TaskBlock.h"

namespace {

std::string MakeTempFolder() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "kestrane-bench-XXXXXX")
          .string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  return pattern + "/";
}

kestrane::TaskParameters MillionTileTask(const std::string &path) {
  kestrane::TaskParameters p;
  const int32_t z = 18, x0 = 41000, y0 = 170000, n = 1024;
  p.Zoom = z;
  // Through the middle of the corner tiles: exactly n x n tiles.
  kestrane::fixture::SetBlock(p, z, x0, x0 + n - 1, y0, y0 + n - 1);
  p.Path = path;
  p.TaskFileName = "bench.ktsk";
  return p;
}

void BM_SetupAndWriteMillionTiles(benchmark::State &state) {
  const std::string folder = MakeTempFolder();
  int64_t tiles = 0;
  for (auto _ : state) {
    const kestrane::TaskParameters p = MillionTileTask(folder);
    const kestrane::DownloadTask task(p);
    kestrane::CreateTileFolder(task);
    kestrane::WriteProjectFile(task);
    kestrane::WriteTileList(task);
    kestrane::WriteLogHeader(task);
    kestrane::CreateFailedFile(task);
    tiles += task.TotalCount;
  }
  state.counters["tiles"] = benchmark::Counter(static_cast<double>(tiles),
                                               benchmark::Counter::kIsRate);
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
}
BENCHMARK(BM_SetupAndWriteMillionTiles)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("Peak resident set size: %ld KiB\n", usage.ru_maxrss);
  return 0;
}
