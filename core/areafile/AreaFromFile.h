#pragma once
#include <cstddef>
#include <string>

#include "areamap/Mercator.h"

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

} // namespace kestrane
