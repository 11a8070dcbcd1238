#include "task/Estimate.h"

#include <algorithm>
#include <cmath>

#include "geo/InsideTiles.h"
#include "geo/TileGrid.h"

namespace kestrane {

namespace {

// "1:02:03" from an hour on, else "2:03".
std::string ClockText(int64_t seconds) {
  const auto two = [](int64_t v) {
    return (v < 10 ? "0" : "") + std::to_string(v);
  };
  if (seconds >= 3600)
    return std::to_string(seconds / 3600) + ":" + two(seconds / 60 % 60) + ":" +
           two(seconds % 60);
  return std::to_string(seconds / 60) + ":" + two(seconds % 60);
}

// "7.3 s", or "3723.0 s (1 h 2 min 3 s)" from one minute on.
std::string SecondsText(int64_t milliseconds) {
  const int64_t tenths = (milliseconds + 50) / 100;
  std::string text =
      std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
  const int64_t seconds = tenths / 10;
  if (seconds >= 60) {
    std::string parts;
    if (seconds >= 3600)
      parts += std::to_string(seconds / 3600) + " h ";
    parts += std::to_string(seconds / 60 % 60) + " min " +
             std::to_string(seconds % 60) + " s";
    text += " (" + parts + ")";
  }
  return text;
}

// "7.3 s", "1 min 38 s", "27 h 16 min".
std::string CompactText(int64_t milliseconds) {
  const int64_t tenths = (milliseconds + 50) / 100;
  const int64_t seconds = tenths / 10;
  if (seconds < 60)
    return std::to_string(seconds) + "." + std::to_string(tenths % 10) + " s";
  if (seconds < 3600)
    return std::to_string(seconds / 60) + " min " +
           std::to_string(seconds % 60) + " s";
  return std::to_string(seconds / 3600) + " h " +
         std::to_string(seconds / 60 % 60) + " min";
}

} // namespace

AreaEstimate EstimateArea(double left, double right, double top, double bottom,
                          int32_t zoom, const Outline &area) {
  int32_t minX = LongitudeToTileX(left, zoom);
  int32_t maxX = LongitudeToTileX(right, zoom);
  int32_t minY = LatitudeToTileY(bottom, zoom);
  int32_t maxY = LatitudeToTileY(top, zoom);
  if (maxX < minX)
    std::swap(minX, maxX);
  if (maxY < minY)
    std::swap(minY, maxY);
  AreaEstimate e;
  e.Columns = int64_t{maxX} - minX + 1;
  e.Rows = int64_t{maxY} - minY + 1;
  e.Tiles =
      area.empty()
          ? e.Columns * e.Rows
          : InsideTiles(area, GridBlock{minX, minY, maxX, maxY, zoom}).Count();
  e.Workers = static_cast<int32_t>(std::min<int64_t>(8, e.Tiles));
  e.LeastMilliseconds =
      LeastPacedMilliseconds(e.Tiles, e.Workers, kPauseAfterStored.count(),
                             kWorkerStartOffset.count());
  return e;
}

int64_t LeastPacedMilliseconds(int64_t totalCount, int32_t workers,
                               int64_t pauseAfterStoredMs,
                               int64_t startOffsetMs) {
  if (totalCount <= 0 || workers <= 0)
    return 0;
  const int64_t share = (totalCount + workers - 1) / workers;
  return share * pauseAfterStoredMs + int64_t{workers - 1} * startOffsetMs;
}

int64_t LeastCappedMilliseconds(int64_t pacedMilliseconds, int64_t tiles,
                                double maxRate) {
  if (maxRate <= 0 || tiles <= 0)
    return pacedMilliseconds;
  // A cap so small that the time would be longer than 30,000 years says
  // "for ever" all the same; the bound keeps the figures printable.
  constexpr double kForever = 1e15;
  const double capped = std::min(
      kForever, std::ceil(static_cast<double>(tiles) * 1000 / maxRate));
  return std::max(pacedMilliseconds, static_cast<int64_t>(capped));
}

std::string FormatDuration(int64_t milliseconds, DurationStyle style) {
  if (style == DurationStyle::Clock)
    return ClockText(milliseconds / 1000);
  if (style == DurationStyle::Compact)
    return CompactText(milliseconds);
  return SecondsText(milliseconds);
}

} // namespace kestrane
