#include "areamap/AreaFields.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "geo/TileGrid.h"
#include "task/TaskInput.h"

namespace kestrane {

namespace {

constexpr double kStep = 1e-7; // the last decimal written

// A value with 7 decimals, trailing zeros and a lone "." dropped, "-0"
// written as "0".
std::string Decimal7(double value) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.7f", value);
  std::string text = buf;
  while (text.back() == '0')
    text.pop_back();
  if (text.back() == '.')
    text.pop_back();
  if (text == "-0")
    text = "0";
  return text;
}

// The 7-decimal text nearest to `value` whose reading lies in the same cell
// of the grid (`cellOf`) as the value; a step inward when the rounding
// crossed a border. The value stays within [low, high].
template <class CellOf>
std::string TextInCell(double value, double low, double high, CellOf cellOf) {
  value = std::clamp(value, low, high);
  const auto cell = cellOf(value);
  const double rounded = std::round(value / kStep) * kStep;
  for (const double candidate : {rounded, rounded + kStep, rounded - kStep}) {
    if (candidate < low || candidate > high)
      continue;
    std::string text = Decimal7(candidate);
    const std::optional<double> back = ReadCoordinate(text);
    if (back && cellOf(*back) == cell)
      return text;
  }
  return Decimal7(rounded); // a cell narrower than the step: zoom > 21
}

} // namespace

AreaFieldTexts FieldTextsFor(const GeoBox &area, int32_t zoom) {
  const double left = std::min(area.Left, area.Right);
  const double right = std::max(area.Left, area.Right);
  const double top = std::max(area.Top, area.Bottom);
  const double bottom = std::min(area.Top, area.Bottom);
  const auto column = [zoom](double lon) {
    return LongitudeToTileX(lon, zoom);
  };
  const auto row = [zoom](double lat) { return LatitudeToTileY(lat, zoom); };
  return {TextInCell(left, -180, 180, column),
          TextInCell(right, -180, 180, column), TextInCell(top, -85, 85, row),
          TextInCell(bottom, -85, 85, row)};
}

std::optional<GeoBox> AreaFromFieldTexts(const AreaFieldTexts &texts) {
  const auto l = ReadCoordinate(texts.Left), r = ReadCoordinate(texts.Right),
             t = ReadCoordinate(texts.Top), b = ReadCoordinate(texts.Bottom);
  if (!l || !r || !t || !b)
    return std::nullopt;
  const auto lonOk = [](double v) { return v >= -180 && v <= 180; };
  const auto latOk = [](double v) { return v >= -85 && v <= 85; };
  if (!lonOk(*l) || !lonOk(*r) || !latOk(*t) || !latOk(*b) || *l > *r ||
      *b > *t)
    return std::nullopt;
  return GeoBox{*l, *r, *t, *b};
}

} // namespace kestrane
