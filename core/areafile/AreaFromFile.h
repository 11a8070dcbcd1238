#pragma once
#include <cstddef>
#include <optional>
#include <string>

#include "areamap/Mercator.h"
#include "geo/Outline.h"

namespace kestrane {

// The largest area file read; a larger one is refused unread.
constexpr size_t kMaxAreaFileBytes = size_t{64} << 20; // 64 MiB

// The box in degrees around every feature of every layer of a GeoJSON, KML
// or GPX file (read with GDAL's readers of these four formats: GeoJSON,
// KML, LIBKML, GPX), in longitude/latitude order whatever the layer's
// coordinate system. The file is data only: it must be a regular file (a
// link to one is followed) of at most kMaxAreaFileBytes, GDAL reads a copy
// of it in memory, and nothing named inside it is fetched (no network, no
// other file). Throws KError:
//   "Cannot open file " + path: no such regular file, or none of the four
//     readers takes it;
//   "The area file is larger than 64 MiB: " + path;
//   "No features in " + path: it holds no geometry;
//   "Not a finite coordinate in " + path + ": " + value (inf, nan);
//   "Longitude outside -180..180 in " + path + ": " + value, and
//   "Latitude outside -90..90 in " + path + ": " + value: a point off the
//     globe (the value as the shortest text that reads back the same).
GeoBox AreaFromFile(const std::string &path);

// The most corners an outline read from a file has, holes included.
inline constexpr size_t kMaxOutlineCorners = 1'000'000;
// The widest corridor around a line, in metres either side of it.
inline constexpr double kMaxCorridorMetres = 100'000;

// An area read from a file: its polygons (empty: the area is the box) and
// the box around them, or around every feature when there are none.
struct FileArea {
  Outline Area;
  GeoBox Box;
};

// Throws KError(InputRefused) "The corridor's half-width must be a positive
// number of metres, at most 100000: " + value unless 0 < metres <=
// kMaxCorridorMetres.
void CheckCorridorMetres(double metres);
// The half-width of a corridor as typed: a decimal number ("." as the
// point) that CheckCorridorMetres takes; else the same failure, ending in
// the text as typed.
double ReadCorridorMetres(const std::string &text);

// The polygons of a file read as AreaFromFile reads it: every polygon and
// multipolygon with its holes, in longitude/latitude. Lines (GPS tracks and
// routes among them) and points count only for the box, unless
// `corridorMetres` is given: the lines then add the area within that many
// metres of them (one polygon where their corridors meet), so a track
// becomes a strip twice that wide. Beside AreaFromFile's failures it
// throws KError(InputRefused) for a corridor CheckCorridorMetres refuses,
// for "The outline has more than 1000000 corners in " + path, and for an
// outline with an edge spanning more than 180 degrees of longitude: "The
// outline crosses the antimeridian (longitude 180) in " + path + ...
FileArea AreaOutlineFromFile(const std::string &path,
                             std::optional<double> corridorMetres = {});

} // namespace kestrane
