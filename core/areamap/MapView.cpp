#include "areamap/MapView.h"

#include <algorithm>

namespace kestrane {

void MapView::SetSize(double width, double height) {
  width_ = std::max(width, 1.0);
  height_ = std::max(height, 1.0);
  Clamp();
}

WorldPoint MapView::ScreenToWorld(double x, double y) const {
  return {(x - width_ / 2) / scale_ + center_.X,
          (y - height_ / 2) / scale_ + center_.Y};
}

WorldBox MapView::Visible() const {
  const WorldPoint a = ScreenToWorld(0, 0);
  const WorldPoint b = ScreenToWorld(width_, height_);
  return {a.X, a.Y, b.X, b.Y};
}

void MapView::PanBy(double dx, double dy) {
  center_.X -= dx / scale_;
  center_.Y -= dy / scale_;
  Clamp();
}

void MapView::ZoomAbout(double x, double y, double factor) {
  const WorldPoint before = ScreenToWorld(x, y);
  scale_ = std::clamp(scale_ * factor, kMinScale, kMaxScale);
  // Put `before` back under the pointer.
  center_.X = before.X - (x - width_ / 2) / scale_;
  center_.Y = before.Y - (y - height_ / 2) / scale_;
  Clamp();
}

void MapView::CenterOn(WorldPoint p, double scale) {
  center_ = p;
  scale_ = std::clamp(scale, kMinScale, kMaxScale);
  Clamp();
}

void MapView::Fit(const WorldBox &box, double margin) {
  const double w = std::max(box.Right - box.Left, 1e-9) * (1 + 2 * margin);
  const double h = std::max(box.Bottom - box.Top, 1e-9) * (1 + 2 * margin);
  CenterOn({(box.Left + box.Right) / 2, (box.Top + box.Bottom) / 2},
           std::min(width_ / w, height_ / h));
}

// From 80 degrees north to 60 south: the inhabited world, without the
// polar seas that Mercator stretches most.
void MapView::ShowWorld() {
  const double top = LatitudeToWorldY(80), bottom = LatitudeToWorldY(-60);
  CenterOn({0.5, (top + bottom) / 2},
           std::min(width_, height_ / (bottom - top)));
}

// The centre stays over the world, so the map never drifts off-screen.
void MapView::Clamp() {
  center_.X = std::clamp(center_.X, 0.0, 1.0);
  center_.Y = std::clamp(center_.Y, 0.0, 1.0);
}

} // namespace kestrane
