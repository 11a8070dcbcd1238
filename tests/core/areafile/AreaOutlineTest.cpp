// The polygons of an area file: polygons with their holes, lines as their
// box or as a corridor of a given half-width, and the outlines refused.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>

#include "areafile/AreaFromFile.h"
#include "platform/Errors.h"
#include "tests/support/TempDir.h"

namespace kestrane {
namespace {

void Write(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string GeoJson(const std::string &geometry) {
  return R"({"type": "FeatureCollection", "features": [{"type": "Feature",
 "properties": {}, "geometry": )" +
         geometry + "}]}";
}

std::string Gpx(const std::string &points) {
  return R"(<?xml version="1.0"?>
<gpx version="1.1" creator="test" xmlns="http://www.topografix.com/GPX/1/1">
<trk><trkseg>)" +
         points + "</trkseg></trk></gpx>";
}

const char kSquare[] = "[[10, 40], [11, 40], [11, 41], [10, 41], [10, 40]]";
const char kHole[] =
    "[[10.2, 40.2], [10.4, 40.2], [10.4, 40.4], [10.2, 40.4], [10.2, 40.2]]";

TEST(AreaOutlineTest, PolygonsKeepTheirRingsAndLinesGiveOnlyTheirBox) {
  struct Row {
    const char *name;
    std::string text;
    std::vector<size_t> holes; // per polygon; empty: no outline
    size_t firstCorners;       // corners of the first outer ring
    GeoBox box;
  } rows[] = {
      {"hole.geojson",
       GeoJson(std::string(R"({"type": "Polygon", "coordinates": [)") +
               kSquare + ", " + kHole + "]}"),
       {1},
       4,
       {10, 11, 41, 40}},
      {"multi.geojson",
       GeoJson(std::string(R"({"type": "MultiPolygon", "coordinates": [[)") +
               kSquare +
               R"(], [[[12, 40], [13, 40], [12.5, 42], [12, 40]]]]})"),
       {0, 0},
       4,
       {10, 13, 42, 40}},
      {"area.kml",
       R"(<?xml version="1.0" encoding="UTF-8"?>
<kml xmlns="http://www.opengis.net/kml/2.2"><Document><Placemark><Polygon>
<outerBoundaryIs><LinearRing><coordinates>
2.3,48.8 2.4,48.8 2.4,48.9 2.35,48.95 2.3,48.9 2.3,48.8
</coordinates></LinearRing></outerBoundaryIs></Polygon></Placemark>
<Placemark><Point><coordinates>2.5,49.5</coordinates></Point></Placemark>
</Document></kml>)",
       {0},
       5,
       {2.3, 2.4, 48.95, 48.8}},
      {"track.gpx",
       Gpx(R"(<trkpt lat="-33.8" lon="151.3"/><trkpt lat="-34.0" lon="151.1"/>)"),
       {},
       0,
       {151.1, 151.3, -33.8, -34.0}},
      {"line.geojson",
       GeoJson(R"({"type": "LineString", "coordinates": [[5, 50], [6, 51]]})"),
       {},
       0,
       {5, 6, 51, 50}},
  };
  testing::TempDir dir;
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Write(dir.Path() + row.name, row.text);
    const FileArea got = AreaOutlineFromFile(dir.Path() + row.name);
    ASSERT_EQ(got.Area.size(), row.holes.size());
    for (size_t i = 0; i < row.holes.size(); ++i)
      EXPECT_EQ(got.Area[i].Holes.size(), row.holes[i]);
    if (!got.Area.empty()) {
      EXPECT_EQ(got.Area[0].Outer.size(), row.firstCorners);
    }
    EXPECT_NEAR(got.Box.Left, row.box.Left, 1e-9);
    EXPECT_NEAR(got.Box.Right, row.box.Right, 1e-9);
    EXPECT_NEAR(got.Box.Top, row.box.Top, 1e-9);
    EXPECT_NEAR(got.Box.Bottom, row.box.Bottom, 1e-9);
  }
  // The box alone is what it always was.
  const GeoBox box = AreaFromFile(dir.Path() + "area.kml");
  EXPECT_NEAR(box.Top, 49.5, 1e-9);
}

// Metres in a degree of latitude and of longitude at a latitude (WGS84).
double MetresPerDegreeLatitude(double lat) {
  const double a = 6378137, e2 = 0.00669437999014,
               s = std::sin(lat * M_PI / 180);
  return M_PI / 180 * a * (1 - e2) / std::pow(1 - e2 * s * s, 1.5);
}
double MetresPerDegreeLongitude(double lat) {
  const double a = 6378137, e2 = 0.00669437999014,
               s = std::sin(lat * M_PI / 180);
  return M_PI / 180 * a * std::cos(lat * M_PI / 180) /
         std::sqrt(1 - e2 * s * s);
}

TEST(AreaOutlineTest, ACorridorIsTheGivenDistanceEitherSideOfTheTrack) {
  struct Row {
    const char *name;
    std::string text;
    double metres;
    size_t polygons;
  } rows[] = {
      // East-west: the strip's height is twice the half-width.
      {"east.gpx",
       Gpx(R"(<trkpt lat="45" lon="10"/><trkpt lat="45" lon="10.5"/>)"), 1000,
       1},
      // North-south, further north: the width is twice the half-width.
      {"north.gpx",
       Gpx(R"(<trkpt lat="60" lon="25"/><trkpt lat="60.3" lon="25"/>)"), 250,
       1},
      // A polygon and a line: both, the line's corridor beside the polygon.
      {"mixed.geojson",
       R"({"type": "FeatureCollection", "features": [
{"type": "Feature", "properties": {}, "geometry": {"type": "Polygon",
 "coordinates": [[[0, 0], [1, 0], [1, 1], [0, 0]]]}},
{"type": "Feature", "properties": {}, "geometry": {"type": "LineString",
 "coordinates": [[3, 0.5], [4, 0.5]]}}]})",
       5000, 2},
  };
  testing::TempDir dir;
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Write(dir.Path() + row.name, row.text);
    const FileArea got = AreaOutlineFromFile(dir.Path() + row.name, row.metres);
    ASSERT_EQ(got.Area.size(), row.polygons);
    const OutlinePolygon &strip = got.Area.back();
    double west = 180, east = -180, south = 90, north = -90;
    for (const LonLat &c : strip.Outer) {
      west = std::min(west, c.Longitude);
      east = std::max(east, c.Longitude);
      south = std::min(south, c.Latitude);
      north = std::max(north, c.Latitude);
    }
    const double mid = (south + north) / 2;
    const bool eastWest = north - south < east - west;
    const double across = eastWest
                              ? (north - south) * MetresPerDegreeLatitude(mid)
                              : (east - west) * MetresPerDegreeLongitude(mid);
    EXPECT_NEAR(across, 2 * row.metres, 0.01 * 2 * row.metres);
  }
}

TEST(AreaOutlineTest, OutlinesAndCorridorsThatCannotBeUsedAreRefused) {
  testing::TempDir dir;
  const std::string across = dir.Path() + "across.geojson";
  Write(across, GeoJson(R"({"type": "Polygon", "coordinates":
 [[[179, 10], [-179, 10], [-179, 11], [179, 11], [179, 10]]]})"));
  const std::string track = dir.Path() + "track.gpx";
  Write(track, Gpx(R"(<trkpt lat="45" lon="10"/><trkpt lat="45" lon="11"/>)"));
  // One ring of kMaxOutlineCorners + 1 corners.
  const std::string big = dir.Path() + "big.geojson";
  {
    std::string ring;
    const size_t n = kMaxOutlineCorners + 1;
    for (size_t i = 0; i < n; ++i) {
      const double t = 2 * M_PI * static_cast<double>(i) / n;
      ring += "[" + std::to_string(std::cos(t)) + "," +
              std::to_string(std::sin(t)) + "],";
    }
    ring += "[1,0]";
    Write(big,
          GeoJson(R"({"type": "Polygon", "coordinates": [[)" + ring + "]]}"));
  }
  const std::string corridor =
      "The corridor's half-width must be a positive number of metres, at "
      "most 100000: ";
  struct Row {
    std::string path;
    std::optional<double> metres;
    std::string message;
  } rows[] = {
      {across,
       {},
       "The outline crosses the antimeridian (longitude 180) in " + across +
           ": give its parts east and west of it as separate "
           "polygons"},
      {big, {}, "The outline has more than 1000000 corners in " + big},
      {track, 0.0, corridor + "0"},
      {track, -20.0, corridor + "-20"},
      {track, std::numeric_limits<double>::quiet_NaN(), corridor + "nan"},
      {track, std::numeric_limits<double>::infinity(), corridor + "inf"},
      {track, 100001.0, corridor + "100001"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.message);
    try {
      AreaOutlineFromFile(row.path, row.metres);
      ADD_FAILURE() << "no failure";
    } catch (const KError &e) {
      EXPECT_EQ(e.what(), row.message);
      EXPECT_EQ(e.Cause(), ErrorCause::InputRefused);
    }
  }
}

} // namespace
} // namespace kestrane
