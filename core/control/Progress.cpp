#include "control/Progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/NumberFormat.h"
#include "task/Estimate.h"

namespace kestrane {

namespace {

// The rate the rest of the task goes at: the pace a refusal set, else the
// average so far within the cap.
double CurrentRate(double average, const PaceFigures &pace) {
  if (pace.Rate <= 0)
    return average;
  if (pace.Settled)
    return pace.Rate;
  return std::min(average, pace.Rate);
}

} // namespace

ProgressFigures ComputeProgress(const TaskProgress &p, bool running,
                                double elapsedSeconds,
                                const PaceFigures &pace) {
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
  f.Rate = CurrentRate(elapsedSeconds > 0 ? fetched / elapsedSeconds : 0, pace);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", f.Rate);
  f.Line += "; " + std::string(buf) + " tiles/s";
  const int64_t paused = pace.PausedSeconds.value_or(0);
  if (f.Rate > 0) {
    f.SecondsLeft = paused + std::llround((p.Total - f.Concluded) / f.Rate);
    f.Line += ", " +
              FormatDuration(*f.SecondsLeft * 1000, DurationStyle::Clock) +
              " left";
  }
  if (pace.PausedSeconds)
    f.Line += "; paused by the server, resumes in " +
              FormatDuration(paused * 1000, DurationStyle::Clock);
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
