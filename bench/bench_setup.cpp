// Set-up and the four task files of a 1024 x 1024 tile task looking North
// (1,048,576 tiles, 16 tile list files), written into a temporary folder;
// the same with an outline of 10,000 corners around the whole block (the
// same tiles listed, so the difference is what the inside test costs), and
// the inside test alone for an outline of 10,000 corners across the block
// (its set-up and one look at every tile, as the workers' walk makes): a
// ring whose distance from the middle wavers by 1 % from corner to corner,
// as a coast does, and by 10 %, each edge then crossing some 50 columns.
// Prints the peak resident set size at the end: the tile list is written
// one chunk at a time, so it stays near one chunk's text (about 8 MB)
// above the program's base size whatever the task's size.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "geo/InsideTiles.h"
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

// A ring of `corners` corners around the middle of the million-tile block,
// `radius` block half-widths from it, every other corner `waver` times
// that farther.
kestrane::Outline Ring(double radius, int corners, double waver) {
  const int32_t z = 18, x0 = 41000, y0 = 170000, n = 1024;
  kestrane::OutlineRing ring;
  for (int i = 0; i < corners; ++i) {
    const double a = 2 * M_PI * i / corners;
    const double r = radius * n / 2 * (1 + waver * (i % 2));
    ring.push_back(
        {kestrane::TileXToLongitude(x0 + n / 2 + r * std::cos(a), z),
         kestrane::TileYToLatitude(y0 + n / 2 + r * std::sin(a), z)});
  }
  return {{ring, {}}};
}

void SetupAndWrite(benchmark::State &state, const kestrane::Outline &area) {
  const std::string folder = MakeTempFolder();
  int64_t tiles = 0;
  for (auto _ : state) {
    kestrane::TaskParameters p = MillionTileTask(folder);
    p.Area = area;
    const kestrane::DownloadTask task(p);
    kestrane::CreateTileFolder(task);
    kestrane::WriteProjectFile(task);
    kestrane::WriteTileList(task);
    kestrane::WriteLogHeader(task);
    kestrane::CreateFailedFile(task);
    tiles += task.InsideCount;
  }
  state.counters["tiles"] = benchmark::Counter(static_cast<double>(tiles),
                                               benchmark::Counter::kIsRate);
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
}

void BM_SetupAndWriteMillionTiles(benchmark::State &state) {
  SetupAndWrite(state, {});
}
BENCHMARK(BM_SetupAndWriteMillionTiles)->Unit(benchmark::kMillisecond);

// Every tile inside (the ring's nearest corner lies 1.5 half-widths out).
void BM_SetupAndWriteMillionTilesOutlined(benchmark::State &state) {
  SetupAndWrite(state, Ring(1.5, 10000, 0.01));
}
BENCHMARK(BM_SetupAndWriteMillionTilesOutlined)->Unit(benchmark::kMillisecond);

// The inside test alone: an outline of 10,000 corners across the block,
// then one look at every tile of it.
void BM_InsideTestMillionTiles(benchmark::State &state) {
  const kestrane::Outline area =
      Ring(0.8, 10000, static_cast<double>(state.range(0)) / 1000);
  const kestrane::GridBlock block{41000, 170000, 41000 + 1023, 170000 + 1023,
                                  18};
  int64_t inside = 0;
  for (auto _ : state) {
    const kestrane::InsideTiles tiles(area, block);
    int64_t seen = 0;
    for (int32_t x = block.MinX; x <= block.MaxX; ++x)
      for (int32_t y = block.MinY; y <= block.MaxY; ++y)
        seen += tiles.Contains(x, y) ? 1 : 0;
    inside = seen;
    benchmark::DoNotOptimize(seen);
  }
  state.counters["inside"] = static_cast<double>(inside);
}
BENCHMARK(BM_InsideTestMillionTiles)
    ->Arg(10)
    ->Arg(100)
    ->Unit(benchmark::kMillisecond);

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
