#pragma once
// The area as the main window's four edge fields hold it.
#include <cstdint>
#include <optional>
#include <string>

#include "areamap/Mercator.h"
#include "task/TaskInput.h"

namespace kestrane {

struct AreaFieldTexts {
  std::string Left, Right, Top, Bottom; // Edit1, Edit3, Edit2, Edit4
};

// The texts for an area: plain decimal, "." as the point, at most 7
// decimals, no trailing zeros. Edges are put in order (left <= right,
// bottom <= top) and into the ranges Start accepts (-180..180, -85..85).
// Each text reads back (ReadCoordinate) to a value in the same tile column
// or row at `zoom` as the edge itself, and so at every coarser zoom, even
// when the edge lies within the rounding of a tile border.
AreaFieldTexts FieldTextsFor(const GeoBox &area, int32_t zoom = kMaxZoom);

// The area the fields hold when all four read as numbers within Start's
// ranges, with left <= right and bottom <= top; nullopt otherwise.
std::optional<GeoBox> AreaFromFieldTexts(const AreaFieldTexts &texts);

} // namespace kestrane
