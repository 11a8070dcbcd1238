// Reading areas from files: the box around a vector file's features, the
// map file's round trip, and the areas of earlier tasks in a folder.
#include <gtest/gtest.h>

#include <fstream>

#include "areafile/AreaFromFile.h"
#include "areamap/VisitedAreas.h"
#include "areamap/WorldMap.h"
#include "platform/Errors.h"
#include "tests/support/TempDir.h"

namespace kestrane {
namespace {

void Write(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

TEST(AreaFilesTest, BoxAroundTheFeaturesOfAFile) {
  struct Row {
    const char *name;
    const char *text;
    GeoBox want;
  } rows[] = {
      {"a.geojson",
       R"({"type": "FeatureCollection", "features": [
 {"type": "Feature", "properties": {},
  "geometry": {"type": "Point", "coordinates": [-122.335, 47.605]}},
 {"type": "Feature", "properties": {},
  "geometry": {"type": "Polygon", "coordinates":
    [[[-122.34, 47.6], [-122.33, 47.6], [-122.33, 47.61], [-122.34, 47.6]]]}}]})",
       {-122.34, -122.33, 47.61, 47.6}},
      // Two placemarks in different folders: one box around both.
      {"b.kml",
       R"(<?xml version="1.0" encoding="UTF-8"?>
<kml xmlns="http://www.opengis.net/kml/2.2"><Document>
<Folder><Placemark><Point><coordinates>2.35,48.85</coordinates></Point></Placemark></Folder>
<Folder><Placemark><LineString><coordinates>2.30,48.80 2.40,48.90</coordinates></LineString></Placemark></Folder>
</Document></kml>)",
       {2.30, 2.40, 48.90, 48.80}},
      {"c.gpx",
       R"(<?xml version="1.0"?>
<gpx version="1.1" creator="test" xmlns="http://www.topografix.com/GPX/1/1">
<wpt lat="-33.9" lon="151.2"/>
<trk><trkseg><trkpt lat="-33.8" lon="151.3"/><trkpt lat="-34.0" lon="151.1"/></trkseg></trk>
</gpx>)",
       {151.1, 151.3, -33.8, -34.0}},
  };
  testing::TempDir dir;
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Write(dir.Path() + row.name, row.text);
    const GeoBox got = AreaFromFile(dir.Path() + row.name);
    EXPECT_NEAR(got.Left, row.want.Left, 1e-9);
    EXPECT_NEAR(got.Right, row.want.Right, 1e-9);
    EXPECT_NEAR(got.Top, row.want.Top, 1e-9);
    EXPECT_NEAR(got.Bottom, row.want.Bottom, 1e-9);
  }
}

TEST(AreaFilesTest, FilesWithoutAnAreaAreRefusedWithTheirName) {
  testing::TempDir dir;
  const std::string empty = dir.Path() + "empty.geojson";
  Write(empty, R"({"type": "FeatureCollection", "features": []})");
  const std::string text = dir.Path() + "notes.geojson";
  Write(text, "not a map at all");
  struct Row {
    std::string path, message;
  } rows[] = {
      {empty, "No features in " + empty},
      {text, "Cannot open file " + text},
      {dir.Path() + "missing.kml",
       "Cannot open file " + dir.Path() + "missing.kml"},
  };
  for (const Row &row : rows) {
    try {
      AreaFromFile(row.path);
      ADD_FAILURE() << "no failure for " << row.path;
    } catch (const KError &e) {
      EXPECT_EQ(e.what(), row.message);
    }
  }
}

TEST(AreaFilesTest, MapFileRoundTripAndDamage) {
  WorldMap map;
  MapPlace p;
  p.Kind = PlaceKind::Province;
  p.Name = "Bretagne";
  p.Country = "France";
  p.Box = {0.1, 0.2, 0.3, 0.4};
  p.Label = {0.15, 0.25};
  p.Coarse = {{0, 3}, {{0.1f, 0.2f}, {0.3f, 0.2f}, {0.3f, 0.4f}}};
  p.Fine = {{0, 4}, {{0.1f, 0.2f}, {0.2f, 0.2f}, {0.3f, 0.2f}, {0.3f, 0.4f}}};
  map.Places.push_back(p);
  testing::TempDir dir;
  const std::string path = dir.Path() + "world.bin";
  SaveWorldMap(map, path);
  const WorldMap back = LoadWorldMap(path);
  ASSERT_EQ(back.Places.size(), 1u);
  EXPECT_EQ(back.Places[0].Name, "Bretagne");
  EXPECT_EQ(back.Places[0].Country, "France");
  EXPECT_EQ(back.Places[0].Kind, PlaceKind::Province);
  EXPECT_EQ(back.Places[0].Fine.Points.size(), 4u);
  EXPECT_FLOAT_EQ(back.Places[0].Fine.Points[3].Y, 0.4f);

  // A cut file and a foreign one fail as invalid, not by reading past
  // their end.
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  for (const std::string &damaged :
       {bytes.substr(0, bytes.size() - 5), std::string("PNG....")}) {
    Write(path, damaged);
    EXPECT_THROW(LoadWorldMap(path), KError);
  }
}

TEST(AreaFilesTest, VisitedAreasFromTheProjectFilesOfAFolder) {
  testing::TempDir dir;
  const auto project = [&dir](const char *name, const char *left) {
    Write(dir.Path() + name,
          std::string("[AREA]\r\nLeftLongitude=1\r\n") +
              "Left_Longitude_download=" + left +
              "\r\nRight_Longitude_download=2,5\r\n"
              "Top_Latitude_download=48\r\nBottom_Latitude_download=47\r\n");
  };
  project("paris.ktsk", "1,25"); // written with "," as the point
  project("alps.ktsk", "1");
  project("broken.ktsk", "west"); // an edge that is no number: left out
  project("notes.txt", "1");      // not a project file
  const std::vector<VisitedArea> areas = ReadVisitedAreas(dir.Path());
  ASSERT_EQ(areas.size(), 2u);
  EXPECT_EQ(areas[0].TaskName, "alps");
  EXPECT_EQ(areas[1].TaskName, "paris");
  EXPECT_DOUBLE_EQ(areas[1].Block.Left, 1.25);
  EXPECT_DOUBLE_EQ(areas[1].Block.Right, 2.5);
  EXPECT_TRUE(ReadVisitedAreas(dir.Path() + "missing/").empty());
}

} // namespace
} // namespace kestrane
