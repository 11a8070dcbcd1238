#pragma once
#include <tiffio.h>

namespace kestrane::joiner_detail {

// The GeoTIFF tags of a North picture, written with libtiff alone: the
// pixel scale, the tie point of the top left corner and the keys of Web
// Mercator (EPSG:3857). The keys never change, so the key directory is a
// fixed table rather than the work of a GeoTIFF library.

// Makes the GeoTIFF tags known to libtiff; call before a TIFF is opened.
// Once per process is enough; later calls do nothing.
void RegisterGeoTiffTags();

// Sets the tags on the current directory of `tif`: `scale` is the size of
// a pixel in metres (x, y, z), `tie` a raster point and its model point
// (i, j, k, x, y, z). False when libtiff refuses the keys.
bool SetWebMercatorTags(TIFF *tif, const double scale[3], const double tie[6]);

} // namespace kestrane::joiner_detail
