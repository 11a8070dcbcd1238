#include "control/Progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/NumberFormat.h"
#include "task/Estimate.h"

namespace kestrane {

ProgressFigures ComputeProgress(const TaskProgress &p, bool running,
                                double elapsedSeconds) {
  ProgressFigures f;
  f.Total = p.Total;
  f.Concluded = std::min(p.Concluded(), p.Total);
  f.Running = running;
  f.Line = GroupDigits(f.Concluded) + " of " + GroupDigits(p.Total) +
           " tiles concluded: " + GroupDigits(p.Stored) + " stored, " +
           GroupDigits(p.GivenUp) + " given up";
  if (p.Skipped > 0)
    f.Line += ", " + GroupDigits(p.Skipped) + " done before";
  if (!running) {
    if (f.Concluded < p.Total)
      f.Line += "; stopped";
    return f;
  }
  // Tiles done by an earlier run cost no time: the rate counts the tiles
  // fetched in this run.
  const int32_t fetched = p.Stored + p.GivenUp;
  f.Rate = elapsedSeconds > 0 ? fetched / elapsedSeconds : 0;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", f.Rate);
  f.Line += "; " + std::string(buf) + " tiles/s";
  if (f.Rate > 0) {
    f.SecondsLeft = std::llround((p.Total - f.Concluded) / f.Rate);
    f.Line += ", " +
              FormatDuration(*f.SecondsLeft * 1000, DurationStyle::Clock) +
              " left";
  }
  return f;
}

std::string ProgressLine(const TaskProgress &progress, bool running,
                         double elapsedSeconds) {
  return ComputeProgress(progress, running, elapsedSeconds).Line;
}

std::string ProgressLineWithEnd(const ProgressFigures &figures,
                                const std::optional<InventoryCounts> &end) {
  if (figures.Running || !end)
    return figures.Line;
  return figures.Line + "; in the tile folder: " + InventorySummaryLine(*end);
}

int64_t LeastDownloadMilliseconds(int64_t totalCount, int32_t workers,
                                  const WorkerPacing &pacing) {
  return LeastPacedMilliseconds(totalCount, workers, pacing.AfterStored.count(),
                                pacing.StartOffset.count());
}

double RunClock::Seconds() const {
  if (!started_)
    return 0;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                       *started_)
      .count();
}

} // namespace kestrane
