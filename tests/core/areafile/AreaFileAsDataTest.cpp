// An area file is data, not instructions: only a bounded regular file is
// read, only the GeoJSON, KML and GPX readers see it, nothing named inside
// it is fetched, and a point off the globe refuses the file by its value.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>

#include "areafile/AreaFromFile.h"
#include "platform/Errors.h"
#include "sample/HttpServer.h"
#include "tests/support/TempDir.h"

namespace kestrane {
namespace {

using Clock = std::chrono::steady_clock;

void Write(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string GeoJsonPoint(const std::string &x, const std::string &y) {
  return R"({"type": "FeatureCollection", "features": [{"type": "Feature",
 "properties": {}, "geometry": {"type": "Point", "coordinates": [)" +
         x + ", " + y + "]}}]}";
}

// The text of the KError that AreaFromFile throws; "" when it gives a box.
std::string Refusal(const std::string &path) {
  try {
    AreaFromFile(path);
  } catch (const KError &e) {
    return e.what();
  }
  return "";
}

TEST(AreaFileAsDataTest, OnlyABoundedRegularFileIsRead) {
  testing::TempDir dir;
  const std::string fifo = dir.Path() + "area.kml";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string huge = dir.Path() + "huge.geojson";
  Write(huge, GeoJsonPoint("1", "2"));
  ASSERT_EQ(::truncate(huge.c_str(), kMaxAreaFileBytes + 1), 0);
  const std::string folder = dir.Path() + "folder.gpx";
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  const struct {
    std::string path, message;
  } rows[] = {
      {fifo, "Cannot open file " + fifo},
      {folder, "Cannot open file " + folder},
      {"/dev/zero", "Cannot open file /dev/zero"},
      {huge, "The area file is larger than 64 MiB: " + huge},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.path);
    ::alarm(20); // a read that waits for a writer ends the test program
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(Refusal(row.path), row.message);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    ::alarm(0);
  }
}

TEST(AreaFileAsDataTest, APointOffTheGlobeIsRefusedByItsValue) {
  testing::TempDir dir;
  const char kml[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<kml xmlns="http://www.opengis.net/kml/2.2"><Document><Placemark>
<LineString><coordinates>2.3,48.8 %s</coordinates></LineString>
</Placemark></Document></kml>)";
  const auto kmlWith = [&kml](const std::string &point) {
    std::string text(kml);
    text.replace(text.find("%s"), 2, point);
    return text;
  };
  const struct {
    const char *name;
    std::string text;
    std::string message; // after the path; "" for a box
  } rows[] = {
      {"far.geojson", GeoJsonPoint("1e308", "10"),
       "Longitude outside -180..180 in {}: 1e+308"},
      {"east.geojson", GeoJsonPoint("180.0000001", "0"),
       "Longitude outside -180..180 in {}: 180.0000001"},
      {"south.geojson", GeoJsonPoint("10", "-90.5"),
       "Latitude outside -90..90 in {}: -90.5"},
      {"infinite.kml", kmlWith("inf,10"), "Not a finite coordinate in {}: inf"},
      {"north.kml", kmlWith("10,91"), "Latitude outside -90..90 in {}: 91"},
      {"overflow.gpx",
       R"(<?xml version="1.0"?><gpx version="1.1" creator="t"
 xmlns="http://www.topografix.com/GPX/1/1"><wpt lat="3" lon="-1e999"/></gpx>)",
       "Not a finite coordinate in {}: -inf"},
      {"edges.geojson",
       R"({"type": "LineString", "coordinates": [[-180, -90], [180, 90]]})",
       ""},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = dir.Path() + row.name;
    Write(path, row.text);
    std::string want = row.message;
    if (const size_t at = want.find("{}"); at != std::string::npos)
      want.replace(at, 2, path);
    EXPECT_EQ(Refusal(path), want);
  }
  const GeoBox edges = AreaFromFile(dir.Path() + "edges.geojson");
  EXPECT_EQ(edges.Left, -180);
  EXPECT_EQ(edges.Right, 180);
  EXPECT_EQ(edges.Top, 90);
  EXPECT_EQ(edges.Bottom, -90);
}

// Each file names an address on a loopback server that would answer with
// an area; reading the file must not ask for it.
TEST(AreaFileAsDataTest, NothingNamedInsideIsFetched) {
  std::atomic<int> requests{0};
  const std::string area = R"({"type": "Point", "coordinates": [5, 6]})";
  HttpServer server([&](const HttpRequest &) {
    ++requests;
    return HttpResponse::Make(200, "OK", area, "application/json");
  });
  const std::string url = server.BaseUrl() + "/area.geojson";
  testing::TempDir dir;
  const struct {
    const char *name;
    std::string text;
    bool box; // a box from the file's own features, else "Cannot open file"
  } rows[] = {
      {"source.kml",
       "<OGRVRTDataSource><OGRVRTLayer name=\"a\"><SrcDataSource>/vsicurl/" +
           url + "</SrcDataSource></OGRVRTLayer></OGRVRTDataSource>",
       false},
      {"link.kml",
       R"(<?xml version="1.0" encoding="UTF-8"?>
<kml xmlns="http://www.opengis.net/kml/2.2"><Document>
<Style id="s"><IconStyle><Icon><href>)" +
           url + R"(</href></Icon></IconStyle></Style>
<NetworkLink><Link><href>)" +
           url + R"(</href></Link></NetworkLink>
<Placemark><styleUrl>)" +
           url + R"(#s</styleUrl><Point><coordinates>1,2</coordinates></Point>
</Placemark></Document></kml>)",
       true},
      {"crs.geojson",
       R"({"type": "FeatureCollection", "crs": {"type": "link", "properties":
 {"href": ")" +
           url + R"(", "type": "proj4"}}, "features": [{"type": "Feature",
 "properties": {}, "geometry": {"type": "Point", "coordinates": [1, 2]}}]})",
       true},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = dir.Path() + row.name;
    Write(path, row.text);
    EXPECT_EQ(Refusal(path), row.box ? "" : "Cannot open file " + path);
  }
  // A virtual file system's path is a file name like any other.
  EXPECT_EQ(Refusal("/vsicurl/" + url), "Cannot open file /vsicurl/" + url);
  EXPECT_EQ(requests.load(), 0);
}

} // namespace
} // namespace kestrane
