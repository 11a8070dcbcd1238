#include "viewer/ViewTransform.h"

#include <algorithm>
#include <cmath>

#include "viewer/TileDecode.h"

namespace kestrane {

ViewTransform::ViewTransform(int64_t columns, int64_t rows, int tileSize)
    : columns_(columns), rows_(rows), tile_(tileSize) {
  Fit();
}

double ViewTransform::MinScale() const {
  const double fit =
      std::min(vw_ / (double(columns_) * tile_), vh_ / (double(rows_) * tile_));
  return std::min(fit, kMaxScale);
}

void ViewTransform::SetViewport(double width, double height) {
  const double cx = (vw_ / 2 - ox_) / scale_, cy = (vh_ / 2 - oy_) / scale_;
  vw_ = std::max(1.0, width);
  vh_ = std::max(1.0, height);
  if (fitted_) {
    Fit();
    return;
  }
  scale_ = std::clamp(scale_, MinScale(), kMaxScale);
  ox_ = vw_ / 2 - cx * scale_;
  oy_ = vh_ / 2 - cy * scale_;
  Clamp();
}

void ViewTransform::Fit() {
  scale_ = MinScale();
  ox_ = (vw_ - double(columns_) * tile_ * scale_) / 2;
  oy_ = (vh_ - double(rows_) * tile_ * scale_) / 2;
  fitted_ = true;
}

void ViewTransform::ZoomAbout(double sx, double sy, double factor) {
  SetScaleAbout(sx, sy, scale_ * factor);
}

void ViewTransform::SetScaleAbout(double sx, double sy, double scale) {
  const double s = std::clamp(scale, MinScale(), kMaxScale);
  if (s <= MinScale()) {
    Fit();
    return;
  }
  const double wx = (sx - ox_) / scale_, wy = (sy - oy_) / scale_;
  scale_ = s;
  ox_ = sx - wx * scale_;
  oy_ = sy - wy * scale_;
  fitted_ = false;
  Clamp();
}

void ViewTransform::Pan(double dx, double dy) {
  ox_ += dx;
  oy_ += dy;
  fitted_ = false;
  Clamp();
}

// The block may not leave the window: along each axis it stays centred
// when it fits and otherwise covers the window.
void ViewTransform::Clamp() {
  const double w = double(columns_) * tile_ * scale_;
  const double h = double(rows_) * tile_ * scale_;
  ox_ = w <= vw_ ? (vw_ - w) / 2 : std::clamp(ox_, vw_ - w, 0.0);
  oy_ = h <= vh_ ? (vh_ - h) / 2 : std::clamp(oy_, vh_ - h, 0.0);
}

bool ViewTransform::CellAt(double sx, double sy, int64_t &column,
                           int64_t &row) const {
  const double cx = std::floor((sx - ox_) / CellPixels());
  const double cy = std::floor((sy - oy_) / CellPixels());
  if (cx < 0 || cy < 0 || cx >= double(columns_) || cy >= double(rows_))
    return false;
  column = static_cast<int64_t>(cx);
  row = static_cast<int64_t>(cy);
  return true;
}

CellRange ViewTransform::Visible() const {
  const double cell = CellPixels();
  CellRange r;
  r.Column0 = std::max<int64_t>(0, int64_t(std::floor(-ox_ / cell)));
  r.Row0 = std::max<int64_t>(0, int64_t(std::floor(-oy_ / cell)));
  r.Column1 =
      std::min<int64_t>(columns_ - 1, int64_t(std::floor((vw_ - ox_) / cell)));
  r.Row1 =
      std::min<int64_t>(rows_ - 1, int64_t(std::floor((vh_ - oy_) / cell)));
  return r;
}

int ViewTransform::DecodeLevel() const {
  int level = 0;
  while (level < kMaxViewLevel && scale_ * (1 << (level + 1)) <= 1.0)
    ++level;
  return level;
}

} // namespace kestrane
