#pragma once
#include <cstdint>
#include <string>

namespace kestrane {

// The size of the block of tiles that covers an area at a zoom level, and
// the least time the workers' pacing allows for it. One function for every
// front end that says what a task costs before it runs: `plan`, the main
// window's live estimate and the area picker.
struct AreaEstimate {
  int64_t Columns = 0;
  int64_t Rows = 0;
  int64_t Tiles = 0;   // Columns x Rows, not capped at 32 bits
  int32_t Workers = 0; // 8, or the tile count when that is smaller
  int64_t LeastMilliseconds = 0;
};

// The block of an area given by its edges in degrees (longitudes in
// -180..180, latitudes in -85..85, zoom in 1..21; the caller has checked
// them). The tile ranges are those the task's set-up computes.
AreaEstimate EstimateArea(double left, double right, double top, double bottom,
                          int32_t zoom);

// The least time the workers' pacing allows: the largest worker share times
// 500 ms, plus 100 ms for each worker after the first.
int64_t LeastDownloadMilliseconds(int64_t totalCount, int32_t workers);

// "7.3 s", with hours, minutes and seconds added from one minute on:
// "3723.0 s (1 h 2 min 3 s)".
std::string FormatDuration(int64_t milliseconds);

} // namespace kestrane
