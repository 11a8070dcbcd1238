#pragma once
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "inventory/TaskInventory.h"
#include "worker/DownloadWorker.h"

namespace kestrane {

// Tiles concluded so far, for the progress display.
struct TaskProgress {
  int32_t Total = 0;
  int32_t Stored = 0, GivenUp = 0, Skipped = 0;
  int32_t Concluded() const { return Stored + GivenUp + Skipped; }
  bool EndedEarly = false; // a worker ended before its share was done
};

// What the server's pace adds to the progress display (see ServerPace).
struct PaceFigures {
  // The tiles a second the pace allows now, the user's cap included; 0
  // when nothing limits.
  double Rate = 0;
  // Whether a refusal of the server set that rate: it is then what the
  // workers keep to from now on.
  bool Settled = false;
  // While the server has paused the task: the whole seconds (rounded up)
  // until it resumes.
  std::optional<int64_t> PausedSeconds;
};

// What the progress display shows, computed once for the window and the
// command line.
struct ProgressFigures {
  int32_t Total = 0;
  int32_t Concluded = 0; // at most Total
  bool Running = false;
  // The current rate: tiles fetched in this run per second (tiles an
  // earlier run did cost no time), or the pace the server set, within the
  // user's cap; 0 when idle or before the first tile.
  double Rate = 0;
  // The time left at that rate, a pause of the server included; empty when
  // idle or while the rate is 0.
  std::optional<int64_t> SecondsLeft;
  // The progress line (see ProgressLine).
  std::string Line;
};

// The figures of a task's progress after `elapsedSeconds` of its run.
ProgressFigures ComputeProgress(const TaskProgress &progress, bool running,
                                double elapsedSeconds,
                                const PaceFigures &pace = {});

// The progress line under the button, for the window and the command line:
// "35 of 35 tiles concluded: 31 stored, 4 given up", then ", 3 done
// before" when an earlier run did tiles (counts grouped: "1,570,646"); while
// the task runs the rate and the time left follow ("; 2.0 tiles/s, 0:02
// left"), and while the server has paused the task "; paused by the server,
// resumes in 0:12"; a task that ended before every tile was concluded adds
// "; stopped".
std::string ProgressLine(const TaskProgress &progress, bool running,
                         double elapsedSeconds);

// The line once a task has ended, with what its tile folder holds as the
// command line's summary counts it: ProgressLine + "; in the tile folder: "
// + InventorySummaryLine. A running task, or an end whose folder could not
// be read, shows the progress line alone.
std::string ProgressLineWithEnd(const ProgressFigures &figures,
                                const std::optional<InventoryCounts> &end);

// The least time the workers' pacing allows for a task: the largest worker
// share times the pause after each stored tile, plus the start offset for
// each worker after the first.
int64_t LeastDownloadMilliseconds(int64_t totalCount, int32_t workers,
                                  const WorkerPacing &pacing = {});

// The time since a task's run began, for the rate.
class RunClock {
public:
  void Restart() { started_ = std::chrono::steady_clock::now(); }
  bool Started() const { return started_.has_value(); }
  // 0 before the first Restart.
  double Seconds() const;

private:
  std::optional<std::chrono::steady_clock::time_point> started_;
};

} // namespace kestrane
