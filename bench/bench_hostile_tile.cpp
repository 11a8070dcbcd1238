// What one hostile tile costs the body check, and what eight workers fed
// hostile tiles cost in memory.
//   1. CPU seconds of the JPEG check for a progressive picture whose last
//      scan (a few bytes of end-of-band runs) repeats 1000 times: 8192 x
//      8192 (refused at its header), 4096 x 4096 (the largest side taken;
//      its coefficients need more than the decoder's memory bound) and
//      2048 x 2048 (decoded up to its 65th scan). Target: under 0.5 s each.
//   2. Peak resident memory of this process while eight download workers
//      fetch a block whose every answer is an 8000 x 8000 progressive JPEG
//      (served by a child process, which also makes the pictures, so
//      neither counts here). Target: under 200 MB.
// Prints one line per figure and ends with 1 when a target is missed.
//   bench_hostile_tile [--tiles N]   (tiles per worker, default 4)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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
#include "tests/support/HostileJpeg.h"
#include "tests/support/TaskBlock.h"
#include "tile/TileCheck.h"
#include "worker/DownloadWorker.h"
#include "worker/TileHttp.h"

namespace {

using namespace kestrane;

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

long PeakRssKiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

bool RepeatedScanCase(int side) {
  const std::string jpeg =
      hostile::RepeatLastScan(hostile::FlatProgressiveJpeg(side, side), 1000);
  const double cpu0 = ThreadCpuSeconds();
  const bool decodes = JpegDecodes(jpeg);
  const double cpu = ThreadCpuSeconds() - cpu0;
  std::printf("repeated scan %d x %d: %zu bytes, %d scans, %s, %.3f s CPU "
              "(target < 0.5 s)\n",
              side, side, jpeg.size(), hostile::CountScans(jpeg),
              decodes ? "taken" : "refused", cpu);
  return cpu < 0.5;
}

class CountingHost : public WorkerHost {
public:
  void AddLogLine(const std::string &line) override {
    if (line.find("crashed image") != std::string::npos)
      ++crashedLines;
  }
  void AddFailedLine(const std::string &) override { ++failed; }
  void WorkerDone() override { ++done; }
  int crashedLines = 0, failed = 0, done = 0;
};

bool EightWorkersCase(int tilesPerWorker) {
  constexpr int kWorkers = 8;
  HttpGlobalInit();
  const bench::ChildTileServer server(
      [] { return hostile::SmoothJpeg(8000, 8000, true); });
  const size_t bytes = server.PictureBytes();
  const bench::BenchFolder folder;
  const int32_t nx = kWorkers, ny = tilesPerWorker;
  const DownloadTask task =
      bench::LoopbackTask(folder.Path(), server.Port(), nx, ny, kWorkers);
  WorkerPacing pacing;
  pacing.AfterStored = pacing.StartOffset = pacing.ShortRetry =
      pacing.LongRetry = std::chrono::milliseconds(0);

  const long before = PeakRssKiB();
  const auto wall0 = std::chrono::steady_clock::now();
  CountingHost host;
  {
    MainThreadQueue queue;
    std::vector<std::unique_ptr<DownloadWorker>> threads;
    for (int i = 0; i < kWorkers; ++i)
      threads.push_back(std::make_unique<DownloadWorker>(false, task, i, queue,
                                                         host, pacing));
    while (host.done < kWorkers)
      queue.DrainFor(std::chrono::milliseconds(1));
  }
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0)
          .count();
  const long peak = PeakRssKiB();

  const double peakMB = static_cast<double>(peak) * 1024 / 1e6;
  std::printf("eight workers, %d tiles of 8000 x 8000 progressive (%zu bytes "
              "each): %d crashed lines, %d records, %.1f s; peak resident "
              "%.1f MB (%.1f MB before the workers; target < 200 MB)\n",
              nx * ny, bytes, host.crashedLines, host.failed, wall, peakMB,
              static_cast<double>(before) * 1024 / 1e6);
  return peakMB < 200;
}

} // namespace

int main(int argc, char **argv) {
  int tiles = 4;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--tiles") == 0)
      tiles = std::atoi(argv[i + 1]);
  // The workers first: the pictures of the CPU figures would raise the
  // process's peak before the workers start.
  bool ok = EightWorkersCase(tiles > 0 ? tiles : 4);
  ok = RepeatedScanCase(8192) && ok;
  ok = RepeatedScanCase(4096) && ok;
  ok = RepeatedScanCase(2048) && ok;
  return ok ? 0 : 1;
}
