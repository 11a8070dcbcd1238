#pragma once
// What part of the world a map of a given size in pixels shows: the world
// point at its centre and the pixels per world unit. Pan and zoom change
// only these; drawing maps through WorldToScreen and back.
#include "areamap/Mercator.h"

namespace kestrane {

class MapView {
public:
  // The whole world, about a few hundred metres across a window.
  static constexpr double kMinScale = 128;
  static constexpr double kMaxScale = 268435456.0; // 2^28 pixels per world

  void SetSize(double width, double height);
  double Width() const { return width_; }
  double Height() const { return height_; }
  double Scale() const { return scale_; }
  WorldPoint Center() const { return center_; }

  WorldPoint ScreenToWorld(double x, double y) const;
  double ScreenX(double worldX) const {
    return (worldX - center_.X) * scale_ + width_ / 2;
  }
  double ScreenY(double worldY) const {
    return (worldY - center_.Y) * scale_ + height_ / 2;
  }
  // The world units the map shows now.
  WorldBox Visible() const;

  // Moves the map with the mouse: the world under the pointer follows it.
  void PanBy(double dx, double dy);
  // Zooms by `factor` keeping the world point under (x, y) in place.
  void ZoomAbout(double x, double y, double factor);
  void CenterOn(WorldPoint p, double scale);
  // Shows `box` whole with a margin of `margin` (a fraction) around it.
  void Fit(const WorldBox &box, double margin = 0.1);
  // Every longitude, the latitudes where people live.
  void ShowWorld();

private:
  void Clamp();
  double width_ = 800, height_ = 600;
  double scale_ = 800;
  WorldPoint center_{0.5, 0.5};
};

} // namespace kestrane
