#pragma once
#include <cstdint>

namespace kestrane {

// Conversions between degrees and the tile grid at zoom z (1..21): 2^z
// columns from longitude -180 eastward, 2^z rows from the grid's southern
// limit (-85.05112877980659) northward. Pure functions; they validate
// nothing: callers keep longitudes in -180..180, latitudes in -85..85 and z
// in 1..21, where every result lies in 0..2^z - 1.

// Column of a longitude. Computed in extended precision, the division by 360
// done as a multiplication by the rounded reciprocal (which keeps longitude
// 180 in the last column), truncated toward zero.
int32_t LongitudeToTileX(double longitude, int32_t zoom) noexcept;

// Row of a latitude, rows counted northward. Extended precision, except that
// the tangent's argument and result are rounded to double; truncated toward
// zero. The equator falls into the row south of it.
int32_t LatitudeToTileY(double latitude, int32_t zoom) noexcept;

// West edge of column position x (pass X + 1 for the east edge of column X).
double TileXToLongitude(double x, int32_t zoom) noexcept;

// South edge of row position y (pass Y + 1 for the north edge of row Y).
double TileYToLatitude(double y, int32_t zoom) noexcept;

} // namespace kestrane
