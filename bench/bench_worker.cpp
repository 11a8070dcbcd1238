// CPU time of the download workers per stored tile: request over loopback,
// JPEG decoding check, atomic write of the tile file and its log line, with
// eight workers and every pause set to zero. The tile server runs in a
// child process, so the process CPU time measured here (getrusage) is the
// workers' and the draining main thread's alone.
//   bench_worker --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/WorkerBench.h"
#include "geo/TileGrid.h"
#include "platform/MainThread.h"
#include "sample/HttpServer.h"
#include "task/DownloadTask.h"
#include "task/TaskFiles.h"
#include "tests/support/JpegEncode.h"
#include "tests/support/TaskBlock.h"
#include "tile/TileCheck.h"
#include "worker/DownloadWorker.h"
#include "worker/TileHttp.h"

namespace {

using namespace kestrane;

// A 256 x 256 colour tile with some texture, about the size of an aerial
// tile of the service.
std::string TileJpeg() {
  unsigned seed = 12345;
  return fixture::EncodeJpeg(
      256, 256,
      [](jpeg_compress_struct &cinfo) { jpeg_set_quality(&cinfo, 85, TRUE); },
      [&seed](int x, int y, JSAMPLE *rgb) {
        seed = seed * 1103515245u + 12345u;
        const unsigned noise = (seed >> 16) & 31;
        const auto ux = static_cast<unsigned>(x);
        const auto uy = static_cast<unsigned>(y);
        rgb[0] = static_cast<JSAMPLE>((ux + noise) & 255);
        rgb[1] = static_cast<JSAMPLE>((uy + noise) & 255);
        rgb[2] = static_cast<JSAMPLE>(((ux ^ uy) + noise) & 255);
      });
}

class CountingHost : public WorkerHost {
public:
  void AddLogLine(const std::string &line) override {
    lines += 1;
    if (line.size() > 3 && line.compare(line.size() - 3, 3, " OK") == 0)
      stored += 1;
  }
  void AddFailedLine(const std::string &) override { failed += 1; }
  void WorkerDone() override { done += 1; }
  int64_t lines = 0, stored = 0, failed = 0;
  int done = 0;
};

// User and system CPU seconds of this process so far.
struct Cpu {
  double user = 0, sys = 0;
};
Cpu CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto sec = [](const timeval &t) { return t.tv_sec + t.tv_usec / 1e6; };
  return {sec(u.ru_utime), sec(u.ru_stime)};
}

void BM_WorkerCpuPerStoredTile(benchmark::State &state) {
  const int32_t nx = static_cast<int32_t>(state.range(0));
  const int32_t ny = static_cast<int32_t>(state.range(1));
  const int workers = 8;
  HttpGlobalInit();
  const std::string tile = TileJpeg();
  const bench::ChildTileServer server([&tile] { return tile; });
  const bench::BenchFolder folder;
  const DownloadTask task =
      bench::LoopbackTask(folder.Path(), server.Port(), nx, ny, workers);

  WorkerPacing pacing;
  pacing.AfterStored = pacing.StartOffset = pacing.ShortRetry =
      pacing.LongRetry = std::chrono::milliseconds(0);

  double user = 0, sys = 0, wall = 0;
  int64_t stored = 0, failed = 0;
  for (auto _ : state) {
    CountingHost host;
    MainThreadQueue queue;
    const Cpu cpu0 = CpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    {
      std::vector<std::unique_ptr<DownloadWorker>> threads;
      for (int i = 0; i < workers; ++i)
        threads.push_back(std::make_unique<DownloadWorker>(
            false, task, i, queue, host, pacing));
      while (host.done < workers)
        queue.DrainFor(std::chrono::milliseconds(1));
    }
    const Cpu cpu1 = CpuSeconds();
    user += cpu1.user - cpu0.user;
    sys += cpu1.sys - cpu0.sys;
    wall +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0)
            .count();
    stored += host.stored;
    failed += host.failed;
  }

  const double tiles = static_cast<double>(stored > 0 ? stored : 1);
  state.counters["tiles_stored"] = static_cast<double>(stored);
  state.counters["failed"] = static_cast<double>(failed);
  state.counters["tile_bytes"] = static_cast<double>(tile.size());
  state.counters["cpu_us_per_tile"] = (user + sys) / tiles * 1e6;
  state.counters["user_us_per_tile"] = user / tiles * 1e6;
  state.counters["sys_us_per_tile"] = sys / tiles * 1e6;
  state.counters["wall_us_per_tile"] = wall / tiles * 1e6;
}

// The decoding check alone, for its share of the figure above.
void BM_DecodeCheckOfOneTile(benchmark::State &state) {
  const std::string tile = TileJpeg();
  for (auto _ : state)
    benchmark::DoNotOptimize(BodyIsImage(tile));
}
BENCHMARK(BM_DecodeCheckOfOneTile)->Unit(benchmark::kMicrosecond);

// 40 x 50 = 2000 tiles.
BENCHMARK(BM_WorkerCpuPerStoredTile)
    ->Args({40, 50})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
