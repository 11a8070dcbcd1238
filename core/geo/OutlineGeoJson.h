#pragma once
// An outline as GeoJSON text (RFC 7946, longitude/latitude degrees), the
// form of a task's outline file.
#include <string>
#include <string_view>

#include "geo/Outline.h"

namespace kestrane {

// The deepest nesting of arrays and objects a GeoJSON text may have; more
// is refused before it can exhaust the stack.
inline constexpr int kMaxGeoJsonNesting = 64;

// The polygons of a GeoJSON text: a FeatureCollection, a Feature, a
// Polygon or a MultiPolygon (a GeometryCollection of them as well).
// Features without a geometry are passed over; a ring's repeated first
// corner at its end is dropped; a third coordinate (height) is ignored.
// Throws KError(InvalidFile, reason) for anything else: no JSON, nesting
// deeper than kMaxGeoJsonNesting, a geometry that is no polygon (a point,
// a line), a ring of fewer than three corners, a coordinate that is not a
// finite longitude in -180..180 or latitude in -90..90, or no polygon at
// all. The reason names what was wrong, never the file: the caller adds it.
Outline ParseOutlineGeoJson(std::string_view text);

// A FeatureCollection of one feature whose geometry is a MultiPolygon of
// every polygon of `outline`, each ring closed by its first corner
// repeated, numbers as the shortest text that reads back the same value:
// ParseOutlineGeoJson gives the outline back.
std::string OutlineToGeoJson(const Outline &outline);

} // namespace kestrane
