#include "areamap/ScaleBar.h"

#include <cmath>
#include <cstdio>

namespace kestrane {

namespace {
constexpr double kEquatorMetres = 40075016.686;
constexpr double kPi = 3.14159265358979323846;
} // namespace

double MetresPerPixel(double scale, double latitude) {
  if (scale <= 0)
    return 0;
  return kEquatorMetres * std::cos(latitude * kPi / 180) / scale;
}

ScaleBar ChooseScaleBar(double scale, double latitude, double maxPixels) {
  ScaleBar bar;
  const double perPixel = MetresPerPixel(scale, latitude);
  if (perPixel <= 0 || maxPixels <= 0)
    return bar;
  const double most = perPixel * maxPixels;
  double step = std::pow(10.0, std::floor(std::log10(most)));
  for (const double f : {5.0, 2.0, 1.0})
    if (f * step <= most) {
      step *= f;
      break;
    }
  bar.Metres = step;
  bar.Pixels = step / perPixel;
  if (step >= 1000) {
    bar.Text = std::to_string(std::llround(step / 1000)) + " km";
  } else if (step >= 1) {
    bar.Text = std::to_string(std::llround(step)) + " m";
  } else {
    char text[32];
    std::snprintf(text, sizeof text, "%g m", step);
    bar.Text = text;
  }
  return bar;
}

} // namespace kestrane
