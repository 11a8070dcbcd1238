#pragma once
#include <cstdint>

namespace kestrane {

// The cells a view shows, inclusive; empty when Column1 < Column0.
struct CellRange {
  int64_t Column0 = 0, Row0 = 0, Column1 = -1, Row1 = -1;
  bool Empty() const { return Column1 < Column0 || Row1 < Row0; }
  int64_t Count() const {
    return Empty() ? 0 : (Column1 - Column0 + 1) * (Row1 - Row0 + 1);
  }
};

// Between the window and the block: the block is laid out in tile pixels
// (a cell is tileSize across), shown at Scale() screen pixels per tile
// pixel, its top left corner at (OffsetX, OffsetY) on the screen. Zoom runs
// from the whole block in the window up to kMaxScale.
class ViewTransform {
public:
  static constexpr double kMaxScale = 4;

  ViewTransform(int64_t columns, int64_t rows, int tileSize);

  // The window's size; a fitted view stays fitted, any other keeps the
  // point at the window's centre.
  void SetViewport(double width, double height);
  void Fit();
  // Zooms by `factor` keeping the block point under (sx, sy) in place.
  void ZoomAbout(double sx, double sy, double factor);
  // Shows tile pixels 1:1 (or `scale`) about a screen point.
  void SetScaleAbout(double sx, double sy, double scale);
  void Pan(double dx, double dy);

  double Scale() const { return scale_; }
  double MinScale() const;
  double OffsetX() const { return ox_; }
  double OffsetY() const { return oy_; }
  double ViewportWidth() const { return vw_; }
  double ViewportHeight() const { return vh_; }
  bool Fitted() const { return fitted_; }
  // Screen pixels a cell spans.
  double CellPixels() const { return scale_ * tile_; }

  // The cell under a screen point; false outside the block.
  bool CellAt(double sx, double sy, int64_t &column, int64_t &row) const;
  CellRange Visible() const;
  // The view level (0..kMaxViewLevel) that gives at least a screen pixel
  // per picture pixel.
  int DecodeLevel() const;

private:
  void Clamp();

  int64_t columns_, rows_;
  int tile_;
  double vw_ = 1, vh_ = 1;
  double scale_ = 1, ox_ = 0, oy_ = 0;
  bool fitted_ = true;
};

} // namespace kestrane
