#pragma once
#include <cstdint>

#include "inventory/TaskInventory.h"

namespace kestrane {

// A tile of the grid: column X eastward, row Y northward.
struct TileXY {
  int32_t X = 0, Y = 0;
  bool operator==(const TileXY &) const = default;
};

// The block as one picture seen looking in the task's direction: cells
// (column, row) from the top left, numbered row by row. Both ways between a
// cell and its tile; the placement itself is the inventory's ViewPlacement,
// which the tile joiner shares, so the viewer and the joiner lay a task out
// alike.
class ViewGrid {
public:
  // Throws KError when the placement is not a one-to-one mapping of the
  // block (a quarter turn or mirror of the grid is what it must be).
  explicit ViewGrid(const DownloadTask &task);

  int64_t Columns() const { return columns_; }
  int64_t Rows() const { return rows_; }
  int64_t CellCount() const { return columns_ * rows_; }
  int64_t Index(int64_t column, int64_t row) const {
    return row * columns_ + column;
  }

  ViewCell CellOf(int32_t x, int32_t y) const;
  TileXY TileAt(int64_t column, int64_t row) const;
  TileXY TileAtIndex(int64_t index) const {
    return TileAt(index % columns_, index / columns_);
  }

private:
  int32_t minX_ = 0, minY_ = 0;
  int64_t columns_ = 0, rows_ = 0;
  // cell = origin + m * (x - MinX, y - MinY), each entry -1, 0 or 1.
  int64_t originColumn_ = 0, originRow_ = 0;
  int64_t m00_ = 1, m01_ = 0, m10_ = 0, m11_ = 1;
};

// The four edges in degrees of a tile: west, east, south, north.
struct TileEdges {
  double West = 0, East = 0, South = 0, North = 0;
};
TileEdges EdgesOf(TileXY tile, int32_t zoom);

} // namespace kestrane
