#pragma once
// An area's outline: the polygons of a country, a province, a drawn shape or
// a corridor around a track, in degrees (longitude, latitude; EPSG:4326).
// A task whose outline is empty is the rectangle of its edge fields.
#include <vector>

namespace kestrane {

struct LonLat {
  double Longitude = 0;
  double Latitude = 0;
  friend bool operator==(const LonLat &, const LonLat &) = default;
};

// A closed ring of corners; the last corner joins the first (a repeated
// first corner at the end is allowed and changes nothing).
using OutlineRing = std::vector<LonLat>;

// One polygon: its outer ring and the holes cut out of it.
struct OutlinePolygon {
  OutlineRing Outer;
  std::vector<OutlineRing> Holes;
  friend bool operator==(const OutlinePolygon &,
                         const OutlinePolygon &) = default;
};

// Every polygon of the area; a tile belongs to the area when its footprint
// touches any of them.
using Outline = std::vector<OutlinePolygon>;

} // namespace kestrane
