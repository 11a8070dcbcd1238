#include "viewer/ViewGrid.h"

#include "geo/TileGrid.h"
#include "platform/Errors.h"

namespace kestrane {

ViewGrid::ViewGrid(const DownloadTask &task)
    : minX_(task.MinX), minY_(task.MinY), columns_(ViewColumns(task)),
      rows_(ViewRows(task)) {
  // The placement is a quarter turn or mirror of the grid: three points fix
  // it, and its inverse follows from them without asking for every cell.
  const ViewCell o = ViewPlacement(task, task.MinX, task.MinY);
  const ViewCell ex = ViewPlacement(task, task.MinX + 1, task.MinY);
  const ViewCell ey = ViewPlacement(task, task.MinX, task.MinY + 1);
  originColumn_ = o.Column;
  originRow_ = o.Row;
  m00_ = ex.Column - o.Column;
  m01_ = ey.Column - o.Column;
  m10_ = ex.Row - o.Row;
  m11_ = ey.Row - o.Row;
  const int64_t det = m00_ * m11_ - m01_ * m10_;
  if (det != 1 && det != -1)
    throw KError(ErrorCause::InvalidFile, "The tile placement of " +
                                              task.Params.TaskFileName +
                                              " is not one tile per cell.");
}

ViewCell ViewGrid::CellOf(int32_t x, int32_t y) const {
  const int64_t dx = int64_t{x} - minX_, dy = int64_t{y} - minY_;
  return {originColumn_ + m00_ * dx + m01_ * dy,
          originRow_ + m10_ * dx + m11_ * dy};
}

TileXY ViewGrid::TileAt(int64_t column, int64_t row) const {
  const int64_t dc = column - originColumn_, dr = row - originRow_;
  // The inverse of a matrix with determinant +-1 is integral.
  const int64_t det = m00_ * m11_ - m01_ * m10_;
  const int64_t dx = (m11_ * dc - m01_ * dr) * det;
  const int64_t dy = (-m10_ * dc + m00_ * dr) * det;
  return {static_cast<int32_t>(minX_ + dx), static_cast<int32_t>(minY_ + dy)};
}

TileEdges EdgesOf(TileXY tile, int32_t zoom) {
  return {TileXToLongitude(tile.X, zoom),
          TileXToLongitude(static_cast<double>(tile.X) + 1, zoom),
          TileYToLatitude(tile.Y, zoom),
          TileYToLatitude(static_cast<double>(tile.Y) + 1, zoom)};
}

} // namespace kestrane
