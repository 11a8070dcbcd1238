#pragma once
#include <chrono>
#include <cstdint>
#include <string>

#include "geo/Outline.h"

namespace kestrane {

// The workers' pacing as a task's estimate counts it: the pause after each
// stored tile, and the offset by which each worker after the first starts
// later. The worker's own pacing (WorkerPacing) starts from these values.
inline constexpr std::chrono::milliseconds kPauseAfterStored{500};
inline constexpr std::chrono::milliseconds kWorkerStartOffset{100};

// The size of the block of tiles that covers an area at a zoom level, and
// the least time the workers' pacing allows for it. One function for every
// front end that says what a task costs before it runs: `plan`, the main
// window's live estimate and the area picker.
struct AreaEstimate {
  int64_t Columns = 0;
  int64_t Rows = 0;
  int64_t Tiles = 0;   // the tiles to download: Columns x Rows, not capped
                       // at 32 bits, or those inside the outline
  int32_t Workers = 0; // 8, or the tile count when that is smaller
  int64_t LeastMilliseconds = 0;
};

// The block of an area given by its edges in degrees (longitudes in
// -180..180, latitudes in -85..85, zoom in kMinZoom..kMaxZoom; the caller
// has checked them). The tile ranges are those the task's set-up computes.
// With an outline, Tiles counts the tiles of the block inside it (see
// InsideTiles; an outline crossing the 180th meridian throws its
// KError(InputRefused)), and the time is theirs.
AreaEstimate EstimateArea(double left, double right, double top, double bottom,
                          int32_t zoom, const Outline &area = {});

// The least time a pacing allows: the largest worker share times the pause
// after each stored tile, plus the start offset for each worker after the
// first; 0 for no tiles or no workers.
int64_t LeastPacedMilliseconds(int64_t totalCount, int32_t workers,
                               int64_t pauseAfterStoredMs,
                               int64_t startOffsetMs);

// The least time of a task whose requests go at most `maxRate` tiles a
// second (0: no cap): the paced time, or the tiles over the cap when that
// takes longer (at most 10^15 ms).
int64_t LeastCappedMilliseconds(int64_t pacedMilliseconds, int64_t tiles,
                                double maxRate);

// How FormatDuration writes a time.
enum class DurationStyle {
  // "7.3 s", with hours, minutes and seconds added from one minute on:
  // "3723.0 s (1 h 2 min 3 s)" (estimates).
  Seconds,
  // Whole seconds as a clock: "2:03", from an hour on "1:02:03" (the time
  // left of a running task).
  Clock,
  // Short enough for one line beside a count: "7.3 s", "1 min 38 s", from
  // an hour on without the seconds, "27 h 16 min" (the main window's
  // estimate and its question before a long task).
  Compact,
};

// A duration as text; the Clock style drops the milliseconds below a
// second.
std::string FormatDuration(int64_t milliseconds,
                           DurationStyle style = DurationStyle::Seconds);

} // namespace kestrane
