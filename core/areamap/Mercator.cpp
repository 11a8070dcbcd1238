#include "areamap/Mercator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kestrane {

double LongitudeToWorldX(double longitude) {
  return (longitude + 180.0) / 360.0;
}

double LatitudeToWorldY(double latitude) {
  const double lat = std::clamp(latitude, -kMercatorLimit, kMercatorLimit);
  const double phi = lat * std::numbers::pi / 180.0;
  return 0.5 - std::log(std::tan(std::numbers::pi / 4 + phi / 2)) /
                   (2 * std::numbers::pi);
}

double WorldXToLongitude(double x) {
  return x * 360.0 - 180.0;
}

double WorldYToLatitude(double y) {
  const double n = std::numbers::pi * (1 - 2 * y);
  return std::atan(std::sinh(n)) * 180.0 / std::numbers::pi;
}

WorldBox ToWorld(const GeoBox &box) {
  return {LongitudeToWorldX(box.Left), LatitudeToWorldY(box.Top),
          LongitudeToWorldX(box.Right), LatitudeToWorldY(box.Bottom)};
}

GeoBox ToGeo(const WorldBox &box) {
  return {WorldXToLongitude(box.Left), WorldXToLongitude(box.Right),
          WorldYToLatitude(box.Top), WorldYToLatitude(box.Bottom)};
}

} // namespace kestrane
