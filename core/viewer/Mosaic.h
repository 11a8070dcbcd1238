#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "viewer/Marks.h"
#include "viewer/TileDecode.h"
#include "viewer/ViewGrid.h"

namespace kestrane {

// The whole block at low resolution, kept so that a zoomed-out view is one
// picture drawn at once and every cell has something to show before its
// tile is read. At most maxSide pixels on its longer side: ThumbSize pixels
// per tile, or, for blocks too large for one pixel per tile, one pixel per
// Step x Step tiles, taken from the tile at the group's top left.
class Mosaic {
public:
  Mosaic(int64_t columns, int64_t rows, int maxSide = 2048);

  int ThumbSize() const { return thumb_; }
  int64_t Step() const { return step_; }
  // Mosaic pixels per tile (below 1 for blocks that large).
  double PixelsPerTile() const { return double(thumb_) / double(step_); }
  const Pixels &Image() const { return image_; }

  // Whether the cell's tile is the one its pixel shows.
  bool Samples(int64_t column, int64_t row) const {
    return column % step_ == 0 && row % step_ == 0;
  }
  // Puts a tile's thumbnail (ThumbSize square) in the cell's place.
  void Put(int64_t column, int64_t row, const Pixels &thumb);
  // The cell's place back to "not read".
  void Reset(int64_t column, int64_t row, uint32_t colour);

private:
  int64_t columns_, rows_;
  int thumb_ = 1;
  int64_t step_ = 1;
  Pixels image_;
};

// A tile's thumbnail for the mosaic, from any decode of it.
Pixels MosaicThumb(const Pixels &decoded, int thumbSize);

// Which cells the mosaic still has to read: first the cells whose files
// changed, then every cell the mosaic samples, row by row, skipping the
// cells the inventory knows to have no picture and the cells outside the
// task's outline. Waits for the first inventory. Safe to call from several
// threads.
class MosaicFill {
public:
  // `outside` (when given) tells the cells outside the outline; it is
  // called under the fill's lock and must not call back.
  MosaicFill(int64_t columns, int64_t rows, int64_t step,
             std::function<bool(int64_t)> outside = {});

  // The inventory to skip by; the first one starts the walk.
  void SetProblems(std::shared_ptr<const ProblemMap> problems);
  // Cells to read again before the walk goes on.
  void Add(const std::vector<int64_t> &cells);
  // The next cell to read; false when there is none now.
  bool Next(int64_t &cell);
  // Cells handed out so far by the walk, of the cells it visits.
  int64_t Walked() const;
  bool Done() const;

private:
  bool HasPicture(int64_t cell) const; // under mutex_

  mutable std::mutex mutex_;
  int64_t columns_, rows_, step_;
  std::function<bool(int64_t)> outside_;
  std::shared_ptr<const ProblemMap> problems_;
  std::vector<int64_t> again_;
  int64_t column_ = 0, row_ = 0; // the walk's next cell
  int64_t walked_ = 0;
};

} // namespace kestrane
