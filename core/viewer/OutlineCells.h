#pragma once
// The task's outline where the viewer draws it: in the picture's cell
// units, turned with the tiles for the task's direction.
#include <cstdint>
#include <vector>

#include "geo/Outline.h"
#include "viewer/ViewGrid.h"

namespace kestrane {

// A point of the picture in cells: cell (c, r) spans c..c+1 across and
// r..r+1 down.
struct CellPoint {
  double Column = 0, Row = 0;
};

// Where a point of the tile grid lies in the picture: `x` and `y` are
// fractional tile positions (x eastward, y northward; tile (X, Y) spans
// X..X+1 and Y..Y+1), placed as the grid places that tile's cell.
CellPoint CellPointOf(const ViewGrid &grid, double x, double y);

// Every ring of the outline (outer rings and holes alike) in cells, at the
// task's zoom. Latitudes beyond the grid's limits are held at them.
std::vector<std::vector<CellPoint>>
OutlineInCells(const ViewGrid &grid, const Outline &area, int32_t zoom);

} // namespace kestrane
