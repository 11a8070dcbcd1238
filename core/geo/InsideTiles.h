#pragma once
// Which tiles of a task's block lie inside its outline. A tile is inside
// when its footprint (the closed rectangle between its grid edges) touches
// any polygon of the outline: a tile that meets the outline only at a corner
// or along an edge is inside, one wholly in a hole is not. The test is exact
// against the tile edges TileGrid gives; it adds no margin.
#include <cstdint>
#include <vector>

#include "geo/Outline.h"

namespace kestrane {

// The block of tiles a task walks: columns MinX..MaxX, rows MinY..MaxY
// (rows counted northward) at zoom Zoom.
struct GridBlock {
  int32_t MinX = 0, MinY = 0, MaxX = 0, MaxY = 0;
  int32_t Zoom = 1;
  int64_t Tiles() const {
    return (int64_t{MaxX} - MinX + 1) * (int64_t{MaxY} - MinY + 1);
  }
};

// A run of rows of one column, both ends included.
struct RowRun {
  int32_t First = 0, Last = 0;
  friend bool operator==(const RowRun &, const RowRun &) = default;
};

// The inside tiles of a block, per column as sorted runs of rows. A value;
// copies are independent and may be read from several threads at once.
class InsideTiles {
public:
  // Every tile of an empty block: no outline.
  InsideTiles() = default;
  // Every tile of the block when the outline is empty. Throws
  // KError(InputRefused) for an outline with a ring edge that spans more
  // than 180 degrees of longitude: such an edge crosses the 180th meridian,
  // which a task's block never does.
  InsideTiles(const Outline &outline, const GridBlock &block);

  // Whether every tile of the block is inside (no outline).
  bool Everything() const { return everything_; }
  // Whether the tile at column x, row y is inside; false outside the block.
  // O(log runs of the column).
  bool Contains(int32_t x, int32_t y) const;
  // The inside tiles.
  int64_t Count() const { return count_; }
  // The runs of column x (none outside the block); for a block without an
  // outline, the column's whole height.
  std::vector<RowRun> Column(int32_t x) const;

private:
  bool InBlock(int32_t x, int32_t y) const {
    return x >= block_.MinX && x <= block_.MaxX && y >= block_.MinY &&
           y <= block_.MaxY;
  }

  GridBlock block_{0, 0, -1, -1, 1};
  bool everything_ = true;
  int64_t count_ = 0;
  // Runs of column MinX + c are runs_[starts_[c] .. starts_[c + 1]).
  std::vector<uint32_t> starts_;
  std::vector<RowRun> runs_;
};

// Throws KError(InputRefused) when a corner of the outline is no finite
// point of the globe (longitude -180..180, latitude -90..90), or a ring has
// an edge spanning more than 180 degrees of longitude (the edge is named).
void CheckOutline(const Outline &outline);

} // namespace kestrane
