#pragma once
#include <string>

#include "areamap/Mercator.h"

namespace kestrane {

// The box in degrees around every feature of every layer of a vector file
// that GDAL reads (GeoJSON, KML, GPX, ...), in longitude/latitude order
// whatever the layer's coordinate system. Throws KError("Cannot open file "
// + path) when GDAL cannot open it and KError("No features in " + path)
// when it holds no geometry.
GeoBox AreaFromFile(const std::string &path);

} // namespace kestrane
