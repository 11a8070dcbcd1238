#pragma once
// A place of the world map as an area's outline, and the box around an
// outline: what the picker's "Use outline" hands to the task.
#include <string>

#include "areamap/Mercator.h"
#include "areamap/WorldMap.h"
#include "geo/Outline.h"

namespace kestrane {

// The place's fine rings in degrees, one polygon per ring that lies inside
// no other ring of the place; a ring inside another is a hole of the
// smallest ring that holds it (the map file keeps no mark of which rings
// are holes; its rings do not cross).
Outline PlaceOutline(const MapPlace &place);

// The box around the outer rings; all zeros for an empty outline.
GeoBox OutlineBox(const Outline &area);

// What the windows show of an area's outline: "Outline: 1 polygon",
// "Outline: 12 polygons".
std::string OutlineSummary(const Outline &area);

} // namespace kestrane
