#include <gtest/gtest.h>

#include <string>

#include "geo/OutlineGeoJson.h"
#include "platform/Errors.h"

namespace kestrane {
namespace {

const OutlineRing kSquare = {{10, 50}, {11, 50}, {11, 51}, {10, 51}};
const OutlineRing kHole = {{10.2, 50.2}, {10.4, 50.2}, {10.4, 50.4}};

TEST(OutlineGeoJsonTest, ReadsThePolygonsOfEveryForm) {
  struct Case {
    const char *Name;
    const char *Text;
    Outline Expected;
  };
  const Case cases[] = {
      {"a bare polygon, its ring closed",
       R"({"type":"Polygon","coordinates":[[[10,50],[11,50],[11,51],[10,51],[10,50]]]})",
       {{kSquare, {}}}},
      {"a ring left open, heights read over",
       R"({"type":"Polygon","coordinates":[[[10,50,3],[11,50,3],[11,51,3],[10,51,3]]]})",
       {{kSquare, {}}}},
      {"a polygon with a hole, the type after the coordinates",
       R"({"coordinates":[[[10,50],[11,50],[11,51],[10,51],[10,50]],
           [[10.2,50.2],[10.4,50.2],[10.4,50.4],[10.2,50.2]]],
           "type":"Polygon"})",
       {{kSquare, {kHole}}}},
      {"a multipolygon",
       R"({"type":"MultiPolygon","coordinates":[[[[10,50],[11,50],[11,51],[10,51]]],
           [[[10.2,50.2],[10.4,50.2],[10.4,50.4]]]]})",
       {{kSquare, {}}, {kHole, {}}}},
      {"a feature collection with properties, a feature without geometry "
       "and a geometry collection",
       R"({"type":"FeatureCollection","name":"x","crs":{"type":"name",
           "properties":{"name":"urn:ogc:def:crs:OGC:1.3:CRS84"}},
           "features":[
            {"type":"Feature","properties":{"geometry":{"type":"Point"},
             "a":[1,2,{"b":null}],"c":"\u00e9\"x\""},"geometry":null},
            {"type":"Feature","properties":{},"geometry":{"type":"Polygon",
             "coordinates":[[[10,50],[11,50],[11,51],[10,51]]]}},
            {"type":"Feature","geometry":{"type":"GeometryCollection",
             "geometries":[{"type":"Polygon","coordinates":
             [[[10.2,50.2],[10.4,50.2],[10.4,50.4]]]}]}}]})",
       {{kSquare, {}}, {kHole, {}}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(ParseOutlineGeoJson(c.Text), c.Expected);
  }
}

TEST(OutlineGeoJsonTest, WrittenOutlinesReadBackTheSame) {
  const Outline outline = {
      {kSquare, {kHole}},
      {{{-0.1, -33.3}, {0.30000000000000004, -33.3}, {1e-9, 1.0 / 3}}, {}}};
  EXPECT_EQ(ParseOutlineGeoJson(OutlineToGeoJson(outline)), outline);
}

TEST(OutlineGeoJsonTest, RefusesWhatIsNoPolygon) {
  std::string deep;
  for (int i = 0; i < 100; ++i)
    deep += R"({"type":"Feature","geometry":)";
  deep += "null";
  deep.append(100, '}');
  std::string deepArrays = R"({"type":"Polygon","coordinates":)";
  deepArrays.append(1000000, '[');
  const struct {
    std::string Text;
    const char *Reason; // the start of the reason
  } cases[] = {
      {"", "'{' expected"},
      {"<kml></kml>", "'{' expected"},
      {R"({"type":"Point","coordinates":[10,50]})", "a Point is no polygon"},
      {R"({"type":"LineString","coordinates":[[10,50],[11,51]]})",
       "a LineString is no polygon"},
      {R"({"type":"FeatureCollection","features":[]})", "no polygon in it"},
      {R"({"type":"Polygon","coordinates":[[[10,50],[11,50],[10,50]]]})",
       "a ring of fewer than three corners"},
      {R"({"type":"Polygon","coordinates":[[[200,50],[11,50],[11,51]]]})",
       "a longitude outside -180..180: 200"},
      {R"({"type":"Polygon","coordinates":[[[10,-91],[11,50],[11,51]]]})",
       "a latitude outside -90..90: -91"},
      {R"({"type":"Polygon","coordinates":[[[1e999,50],[11,50],[11,51]]]})",
       "not a finite number"},
      {R"({"type":"Polygon","coordinates":[[[10],[11,50],[11,51]]]})",
       "a position of fewer than two numbers"},
      {R"({"type":"MultiPolygon","coordinates":[[[10,50],[11,50],[11,51]]]})",
       "the coordinates of a MultiPolygon nested wrongly"},
      {R"({"type":"Polygon","coordinates":[[[10,50],[[11,50]]]]})",
       "coordinate lists of different depths side by side"},
      {R"({"type":"Polygon","coordinates":[]})", "an empty coordinate list"},
      {R"({"type":"Topology","objects":{}})", "not a GeoJSON object"},
      {R"({"type":"Polygon","coordinates":[[[10,50],[11,50],[11,51]]]} x)",
       "text after the end"},
      {R"({"type":"Polygon)", "a string without its end"},
      {deep, "nesting deeper than 64"},
      {deepArrays, "nesting deeper than 64"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Text.substr(0, 80));
    try {
      ParseOutlineGeoJson(c.Text);
      ADD_FAILURE() << "read";
    } catch (const KError &e) {
      EXPECT_EQ(e.Cause(), ErrorCause::InvalidFile);
      EXPECT_EQ(std::string(e.what()).rfind(c.Reason, 0), 0u) << e.what();
    }
  }
}

} // namespace
} // namespace kestrane
