#pragma once
// The outlines the area picker draws: countries and states/provinces, each
// with its name, a point for its label and its box, in world units (see
// Mercator.h). Every outline comes in two levels of detail: a coarse one for
// views of whole continents and a fine one for closer views.
//
// The file is written at build time from Natural Earth's outlines
// (MakeWorldMap_main.cpp) and read here with plain reads, so that the picker
// shows its first frame at once. Its numbers are in the byte order of the
// machine that built it: the bundle is built where it runs.
#include <cstdint>
#include <string>
#include <vector>

#include "areamap/Mercator.h"

namespace kestrane {

struct MapPointF {
  float X = 0, Y = 0;
};

// Rings of one outline: ring i is Points[Starts[i] .. Starts[i + 1]).
struct MapRings {
  std::vector<uint32_t> Starts; // one more than the ring count
  std::vector<MapPointF> Points;
  size_t RingCount() const { return Starts.empty() ? 0 : Starts.size() - 1; }
};

enum class PlaceKind : uint8_t { Country = 0, Province = 1 };

struct MapPlace {
  PlaceKind Kind = PlaceKind::Country;
  std::string Name;
  std::string Country; // the country a province lies in; empty for countries
  WorldBox Box;
  WorldPoint Label;
  MapRings Coarse, Fine;
};

struct WorldMap {
  std::vector<MapPlace> Places; // countries first, then provinces
};

// Outline points closer together than this (world units) are dropped in
// the coarse level: a pixel at a world 4096 pixels wide.
inline constexpr double kCoarseTolerance = 1.0 / 4096;
inline constexpr double kFineTolerance = 1.0 / (1 << 19);

// Throws KError("Cannot open file " + path) when the file is missing, and
// KError("Invalid map file " + path) when it is not one this build wrote.
WorldMap LoadWorldMap(const std::string &path);
// Throws KError("Unable to write to " + path).
void SaveWorldMap(const WorldMap &map, const std::string &path);

// The ring with Douglas-Peucker simplification at `tolerance`; a closed ring
// keeps at least its first point, two more and its last.
std::vector<MapPointF> SimplifyRing(const std::vector<MapPointF> &ring,
                                    double tolerance);

} // namespace kestrane
