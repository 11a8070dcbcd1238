#include "geo/TileGrid.h"

#include <cmath>

namespace kestrane {
namespace {

constexpr double kPi = 3.141592653589793;
// The reciprocals rounded to the nearest extended value: 1/360 lands about
// 8e-23 below the true value, so 360 degrees times it stays below 1.
constexpr long double kInv360 = 1.0L / 360.0L;
constexpr long double kInv180 = 1.0L / 180.0L;

long double GridSize(int32_t zoom) noexcept {
  return static_cast<long double>(int64_t{1} << zoom);
}

} // namespace

int32_t LongitudeToTileX(double longitude, int32_t zoom) noexcept {
  long double s = static_cast<long double>(longitude) + 180.0L;
  s = s * kInv360;
  s = s * GridSize(zoom);
  return static_cast<int32_t>(s);
}

int32_t LatitudeToTileY(double latitude, int32_t zoom) noexcept {
  const long double pi = kPi;
  // The tangent works on doubles: its argument and result are rounded there.
  const double a = static_cast<double>(
      pi * 0.25L +
      ((static_cast<long double>(latitude) * kInv180) * pi) * 0.5L);
  const double t = std::tan(a);
  const long double l = logl(static_cast<long double>(t));
  const long double s = ((l / pi) + 1.0L) * 0.5L * GridSize(zoom);
  return static_cast<int32_t>(s);
}

double TileXToLongitude(double x, int32_t zoom) noexcept {
  const double n = static_cast<double>(int64_t{1} << zoom);
  return 360.0 * x / n - 180.0;
}

double TileYToLatitude(double y, int32_t zoom) noexcept {
  const double n = static_cast<double>(int64_t{1} << zoom);
  const double u = (2.0 * y / n - 1.0) * kPi;
  return std::atan(std::exp(u)) * 360.0 / kPi - 90.0;
}

} // namespace kestrane
