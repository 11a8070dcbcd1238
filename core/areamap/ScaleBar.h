#pragma once
// The picker's scale bar: a round length on the ground and the pixels it
// takes on a Web Mercator map at a given scale and latitude.
#include <string>

namespace kestrane {

struct ScaleBar {
  double Metres = 0;
  double Pixels = 0;
  std::string Text; // "500 m", "2 km"
};

// The ground metres one pixel shows at `latitude` on a map of `scale`
// pixels per world unit (the equator's length of 40,075,016.686 m, shrunk
// by the cosine of the latitude).
double MetresPerPixel(double scale, double latitude);

// The longest of 1, 2 or 5 times a power of ten metres that takes at most
// `maxPixels` (and at least a few) on the map; Pixels 0 when the scale is
// not positive.
ScaleBar ChooseScaleBar(double scale, double latitude, double maxPixels);

} // namespace kestrane
