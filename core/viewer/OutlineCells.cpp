#include "viewer/OutlineCells.h"

#include <algorithm>
#include <cmath>

namespace kestrane {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kGridLimit = 85.05112877980659;

// The fractional tile position of a point, rows counted northward.
CellPoint TilePosition(const LonLat &p, int32_t zoom) {
  const double n = std::ldexp(1.0, zoom);
  const double lat = std::clamp(p.Latitude, -kGridLimit, kGridLimit);
  const double y =
      (std::log(std::tan(kPi / 4 + lat * kPi / 360)) / kPi + 1) / 2 * n;
  return {(p.Longitude + 180) / 360 * n, y};
}

} // namespace

CellPoint CellPointOf(const ViewGrid &grid, double x, double y) {
  // The tile holding the point and the grid's steps from it: a quarter
  // turn or mirror, the same for every tile.
  const double fx = std::floor(x), fy = std::floor(y);
  const auto tx = static_cast<int32_t>(fx), ty = static_cast<int32_t>(fy);
  const ViewCell o = grid.CellOf(tx, ty);
  const ViewCell ex = grid.CellOf(tx + 1, ty);
  const ViewCell ey = grid.CellOf(tx, ty + 1);
  const double dx = x - fx - 0.5, dy = y - fy - 0.5;
  return {double(o.Column) + 0.5 + double(ex.Column - o.Column) * dx +
              double(ey.Column - o.Column) * dy,
          double(o.Row) + 0.5 + double(ex.Row - o.Row) * dx +
              double(ey.Row - o.Row) * dy};
}

std::vector<std::vector<CellPoint>>
OutlineInCells(const ViewGrid &grid, const Outline &area, int32_t zoom) {
  std::vector<std::vector<CellPoint>> out;
  const auto add = [&](const OutlineRing &ring) {
    std::vector<CellPoint> cells;
    cells.reserve(ring.size());
    for (const LonLat &p : ring) {
      const CellPoint t = TilePosition(p, zoom);
      cells.push_back(CellPointOf(grid, t.Column, t.Row));
    }
    out.push_back(std::move(cells));
  };
  for (const OutlinePolygon &polygon : area) {
    add(polygon.Outer);
    for (const OutlineRing &hole : polygon.Holes)
      add(hole);
  }
  return out;
}

} // namespace kestrane
