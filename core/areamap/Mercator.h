#pragma once
// Web Mercator as the tile grid draws it, in world units: x from 0 at
// longitude -180 to 1 at 180, y from 0 at the grid's northern limit to 1 at
// its southern limit (85.05112877980659 degrees either side). A tile of zoom
// z is 1 / 2^z world units wide and tall.

namespace kestrane {

inline constexpr double kMercatorLimit = 85.05112877980659;

struct WorldPoint {
  double X = 0, Y = 0;
};

// A box in world units; Left <= Right, Top <= Bottom when not empty.
struct WorldBox {
  double Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool Empty() const { return Right < Left || Bottom < Top; }
  bool Intersects(const WorldBox &o) const {
    return Left <= o.Right && o.Left <= Right && Top <= o.Bottom &&
           o.Top <= Bottom;
  }
};

// An area in degrees, edges as the task fields name them.
struct GeoBox {
  double Left = 0, Right = 0, Top = 0, Bottom = 0;
};

double LongitudeToWorldX(double longitude);
// Latitudes beyond the grid's limits are clamped to them.
double LatitudeToWorldY(double latitude);
double WorldXToLongitude(double x);
double WorldYToLatitude(double y);

WorldBox ToWorld(const GeoBox &box);
GeoBox ToGeo(const WorldBox &box);

} // namespace kestrane
