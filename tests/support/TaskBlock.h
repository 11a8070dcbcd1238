#pragma once
// Task edges for an exact block of tiles, for the tests, the fixtures and
// the benchmarks. Header only: the benchmarks do not link the test support
// library.
#include <cstdint>

#include "geo/TileGrid.h"
#include "task/DownloadTask.h"

namespace kestrane::fixture {

// Edges through the middle of the given tiles, so that the block is exactly
// columns x0..x1 and rows y0..y1.
inline void SetBlock(TaskParameters &p, int32_t zoom, int32_t x0, int32_t x1,
                     int32_t y0, int32_t y1) {
  p.Zoom = zoom;
  p.LeftLongitude = TileXToLongitude(x0 + 0.5, zoom);
  p.RightLongitude = TileXToLongitude(x1 + 0.5, zoom);
  p.BottomLatitude = TileYToLatitude(y0 + 0.5, zoom);
  p.TopLatitude = TileYToLatitude(y1 + 0.5, zoom);
}

} // namespace kestrane::fixture
