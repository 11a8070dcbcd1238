// A long task in one process: the task control, eight workers and a
// loopback tile server, with the workers' pauses cut short. Measures what
// the main thread spends in each timer tick (the fifth-tick save of the
// panes and positions above all) and how resident memory develops while the
// log pane fills, rotates at 30000 lines and fills again.
//   KESTRANE_BENCH_LONG_TILES  tiles of the task (default 100000)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "control/TaskControl.h"
#include "geo/TileGrid.h"
#include "platform/Files.h"
#include "platform/MainThread.h"
#include "sample/HttpServer.h"
#include "task/TaskInput.h"
#include "worker/TileHttp.h"

namespace {

using namespace kestrane;
using SteadyClock = std::chrono::steady_clock;

long StatusKiB(const char *field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string key = std::string(field) + ":";
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0)
      return std::atol(line.c_str() + key.size());
  return 0;
}

class QuietSink : public MessageSink {
public:
  void ShowMessage(const std::string &text) override { last = text; }
  std::string last;
};

std::string Degrees(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.10f", v);
  return buf;
}

// Edges through the middles of the corner tiles of a block of nx x ny tiles
// at zoom 18 with its south-west tile at (x0, y0).
TaskFields Block(const std::string &folder, int32_t x0, int32_t nx, int32_t y0,
                 int32_t ny) {
  constexpr int32_t z = 18;
  TaskFields f;
  f.TaskName = "long.ktsk";
  f.Path = folder;
  f.Zoom = std::to_string(z);
  f.DirIndex = 0;
  f.Left = Degrees(TileXToLongitude(x0 + 0.5, z));
  f.Right = Degrees(TileXToLongitude(x0 + nx - 0.5, z));
  f.Bottom = Degrees(TileYToLatitude(y0 + 0.5, z));
  f.Top = Degrees(TileYToLatitude(y0 + ny - 0.5, z));
  return f;
}

// One stored tile is one log line: a little more than one pane.
constexpr int32_t kFirstCycleTiles = 32000;

double Percentile(std::vector<double> v, double q) {
  if (v.empty())
    return 0;
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(q * static_cast<double>(v.size() - 1))];
}

double Median(std::vector<double> v) {
  return Percentile(std::move(v), 0.5);
}

void BM_LongTask(benchmark::State &state) {
  const char *env = std::getenv("KESTRANE_BENCH_LONG_TILES");
  const long wanted = env ? std::atol(env) : 100000;
  // Columns of 400 rows: 250 columns for the default.
  const int32_t ny = 400;
  const int32_t nx =
      static_cast<int32_t>(std::max<long>(1, (wanted + ny - 1) / ny));
  const std::string bin = ProgramFolder() + "../bin/";
  const std::string tile = ReadFileBytes(bin + "blankimg/blank180.jpg");

  for (auto _ : state) {
    char templ[] = "/tmp/kbench-long.XXXXXX";
    if (mkdtemp(templ) == nullptr) {
      state.SkipWithError("no temporary folder");
      return;
    }
    const std::string dir = std::string(templ) + "/";

    HttpServerOptions so;
    so.Addresses = {"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4"};
    so.RecordRequests = false;
    HttpServer server(
        [&tile](const HttpRequest &) {
          return HttpResponse::Make(200, "OK", tile, "image/jpeg");
        },
        so);
    const std::string port = std::to_string(server.Port());
    std::string ini = "[TileService]\r\n";
    for (int i = 0; i < 4; ++i)
      ini += "Host" + std::to_string(i) + "=127.0.0." + std::to_string(i + 1) +
             ":" + port + "\r\n";
    WriteFileAtomic(dir + "config.ini", ini);

    MainThreadQueue queue;
    QuietSink sink;
    TaskControlEnv tenv;
    tenv.SettingsPath = dir + "config.ini";
    tenv.ProgramFolder = bin;
    tenv.Messages = &sink;
    tenv.Bridge = &queue;
    tenv.SavePositionsInBackground = true; // as the program does
    tenv.Pacing.AfterStored = std::chrono::milliseconds(1);
    tenv.Pacing.StartOffset = std::chrono::milliseconds(1);
    tenv.Pacing.ShortRetry = std::chrono::milliseconds(1);
    tenv.Pacing.LongRetry = std::chrono::milliseconds(2);
    TaskControl control(tenv);

    const long rssBefore = StatusKiB("VmRSS");
    if (!control.Start(Block(dir + "out/", 41000, nx, 170000, ny))) {
      state.SkipWithError(("task refused: " + sink.last).c_str());
      return;
    }
    const int32_t total = control.CurrentTask()->TotalCount;

    // The timer of the program fires every second; here every 100 ms, so
    // the fifth-tick save comes every half second and a pane of 30000 lines
    // is saved often before it rotates.
    std::vector<double> saveMs, otherMs;
    double endMs = 0, rotateMs = 0;
    long rssAtTenth = 0, rssMax = 0, rssFirstCycle = 0;
    auto next = SteadyClock::now();
    while (control.TimerEnabled()) {
      next += std::chrono::milliseconds(100);
      while (SteadyClock::now() < next)
        queue.DrainFor(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::max(
                SteadyClock::duration::zero(),
                std::min<SteadyClock::duration>(
                    next - SteadyClock::now(), std::chrono::milliseconds(5)))));
      const bool save = (control.TickCount() + 1) % 5 == 0;
      const size_t paneBefore = control.LogPane().size();
      const auto t0 = SteadyClock::now();
      control.Tick();
      const double ms =
          std::chrono::duration<double, std::milli>(SteadyClock::now() - t0)
              .count();
      // The last tick also ends the task (final saves, workers joined):
      // counted on its own.
      if (!control.TimerEnabled())
        endMs = ms;
      else if (control.LogPane().size() < paneBefore)
        rotateMs = std::max(rotateMs, ms); // the pane went to a part log
      else
        (save ? saveMs : otherMs).push_back(ms);
      const long rss = StatusKiB("VmRSS");
      rssMax = std::max(rssMax, rss);
      const int32_t concluded = control.Progress().Concluded();
      if (rssAtTenth == 0 && concluded >= total / 10)
        rssAtTenth = rss;
      // The first cycle of the log pane: filled to 30000 lines, rotated
      // once and begun again. Memory after it should stay at this level.
      if (concluded < kFirstCycleTiles)
        rssFirstCycle = std::max(rssFirstCycle, rss);
    }
    const long rssEnd = StatusKiB("VmRSS");
    server.Stop();

    int parts = 0;
    std::string cmd =
        "ls '" + dir + "out/' | grep -c '_log.txt\\.' > '" + dir + "parts'";
    if (std::system(cmd.c_str()) == 0)
      parts = std::atoi(ReadFileBytes(dir + "parts").c_str());

    state.counters["tiles"] = total;
    state.counters["stored"] = control.Progress().Stored;
    state.counters["save_ticks"] = static_cast<double>(saveMs.size());
    state.counters["save_max_ms"] =
        saveMs.empty() ? 0 : *std::max_element(saveMs.begin(), saveMs.end());
    state.counters["save_median_ms"] = Median(saveMs);
    state.counters["save_p90_ms"] = Percentile(saveMs, 0.9);
    state.counters["end_tick_ms"] = endMs;
    state.counters["rotate_tick_ms"] = rotateMs;
    state.counters["tick_max_ms"] =
        otherMs.empty() ? 0 : *std::max_element(otherMs.begin(), otherMs.end());
    state.counters["rss_before_MiB"] = rssBefore / 1024.0;
    state.counters["rss_tenth_MiB"] = rssAtTenth / 1024.0;
    state.counters["rss_max_MiB"] = rssMax / 1024.0;
    state.counters["rss_first_cycle_MiB"] = rssFirstCycle / 1024.0;
    state.counters["rss_end_MiB"] = rssEnd / 1024.0;
    state.counters["log_parts"] = parts;

    std::string rm = "rm -rf '" + dir + "'";
    if (std::system(rm.c_str()) != 0)
      state.SkipWithError("could not remove the task folder");
  }
}

} // namespace

BENCHMARK(BM_LongTask)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

int main(int argc, char **argv) {
  kestrane::HttpGlobalInit();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
