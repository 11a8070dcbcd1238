// MBTiles as the apps open it: read back through GDAL's MBTiles driver
// (size, bounds, pixels as djpeg decodes the tile files, no data where no
// tile is stored, the lower zooms) and through SQLite (schema, rows,
// metadata); and what the format refuses.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gdal.h>
#include <ogr_srs_api.h>
#include <sqlite3.h>

#include "joiner/TileCodec.h"
#include "tests/core/joiner/JoinTestSupport.h"

namespace kestrane {
namespace {

using namespace jointest;

// A tile file as djpeg decodes it: 256 x 256 RGB, interleaved.
std::vector<uint8_t> DjpegPixels(const std::string &path) {
  FILE *p = ::popen(("djpeg -ppm '" + path + "'").c_str(), "r");
  std::string ppm;
  char buffer[4096];
  size_t n = 0;
  while (p != nullptr && (n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
    ppm.append(buffer, n);
  if (p != nullptr)
    ::pclose(p);
  const std::string header = "P6\n256 256\n255\n";
  EXPECT_EQ(ppm.substr(0, header.size()), header) << "djpeg " << path;
  if (ppm.size() != header.size() + 256 * 256 * 3)
    return {};
  return std::vector<uint8_t>(ppm.begin() + header.size(), ppm.end());
}

// The rows of one query, each column as text.
std::vector<std::vector<std::string>> Query(const std::string &file,
                                            const std::string &sql) {
  std::vector<std::vector<std::string>> rows;
  sqlite3 *db = nullptr;
  sqlite3_stmt *st = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
          SQLITE_OK &&
      sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK)
    while (sqlite3_step(st) == SQLITE_ROW) {
      rows.emplace_back();
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        const auto *p = static_cast<const char *>(sqlite3_column_blob(st, i));
        rows.back().emplace_back(
            p != nullptr ? p : "",
            static_cast<size_t>(sqlite3_column_bytes(st, i)));
      }
    }
  else
    ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

// A North task with one tile missing, one placeholder and one PNG, joined
// into MBTiles with two lower zooms.
class MbTilesJoin : public ::testing::Test {
protected:
  void SetUp() override {
    fixture = std::make_unique<JoinFixture>(dir.Path(), 0);
    const DownloadTask &t = *fixture->task;
    std::filesystem::remove(t.TilePath(1001, 2001));
    PutBytes(t.TilePath(1002, 2000),
             GetBytes(kProgramFolder + "blankimg/blank180.jpg"));
    std::string rgb;
    RenderTile(TileAddress{kZoom, 1003, 2002, 0}, rgb);
    PutBytes(t.TilePath(1003, 2002),
             GdalEncode("PNG", std::vector<uint8_t>(rgb.begin(), rgb.end()),
                        256, 3, dir.Path() + "enc.png"));
    JoinOptions o;
    o.Levels = 2;
    result = fixture->Join(dir.Path() + "join.mbtiles", o);
  }
  bool Gap(int32_t x, int32_t y) const {
    return (x == 1001 && y == 2001) || (x == 1002 && y == 2000);
  }
  TempDir dir;
  std::unique_ptr<JoinFixture> fixture;
  JoinResult result;
};

// GDAL's MBTiles driver sees the block: its size, its edges as bounds, each
// stored tile's pixels as djpeg decodes the file, no data at the gaps, and
// the lower zooms as overviews.
TEST_F(MbTilesJoin, GdalReadsTheBlockBack) {
  const DownloadTask &t = *fixture->task;
  EXPECT_EQ(result.Format, JoinFormat::MbTiles);
  EXPECT_EQ(result.Carried, 9);
  EXPECT_EQ(result.Reencoded, 1);
  EXPECT_EQ(result.Missing + result.Placeholder, 2);
  const Dataset out(result.OutputFile);
  ASSERT_NE(out.ds, nullptr);
  EXPECT_STREQ(GDALGetDriverShortName(GDALGetDatasetDriver(out.ds)), "MBTiles");
  EXPECT_EQ(GDALGetRasterXSize(out.ds), 1024);
  EXPECT_EQ(GDALGetRasterYSize(out.ds), 768);
  GDALRasterBandH band = GDALGetRasterBand(out.ds, 1);
  EXPECT_EQ(GDALGetOverviewCount(band), 2);

  double gt[6] = {};
  ASSERT_EQ(GDALGetGeoTransform(out.ds, gt), CE_None);
  ExpectBlockEdges(GDALGetSpatialRef(out.ds), gt, t);

  for (int32_t y = t.MinY; y <= t.MaxY; ++y)
    for (int32_t x = t.MinX; x <= t.MaxX; ++x) {
      SCOPED_TRACE("tile " + std::to_string(x) + "," + std::to_string(y));
      const ViewCell c = ViewPlacement(t, x, y);
      const int px = static_cast<int>(c.Column) * 256;
      const int py = static_cast<int>(c.Row) * 256;
      EXPECT_TRUE(All(ReadMask(band, px, py, 256), Gap(x, y) ? 0 : 255));
      if (!Gap(x, y) && !(x == 1003 && y == 2002)) {
        EXPECT_EQ(ReadArea(out.ds, px, py, 256), DjpegPixels(t.TilePath(x, y)));
      }
    }
}

// The mean difference of quadrant `q` (0 top left .. 3 bottom right) of a
// 256 x 256 RGB tile and a 128 x 128 RGB picture.
double QuadrantDifference(const RgbTile &tile, int q, const RgbTile &half) {
  double sum = 0;
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x)
      for (int k = 0; k < 3; ++k) {
        const size_t a = ((static_cast<size_t>(y + (q >> 1) * 128) * 256) + x +
                          (q & 1) * 128) *
                             3 +
                         k;
        sum += std::abs(int{tile[a]} -
                        int{half[(static_cast<size_t>(y) * 128 + x) * 3 + k]});
      }
  return sum / (128.0 * 128 * 3);
}

// A lower zoom's tile holds its four children at half size, the northern
// ones at the top, the eastern ones at the right; a missing child leaves
// its quarter black.
TEST_F(MbTilesJoin, LowerZoomTilesHoldTheirChildren) {
  const DownloadTask &t = *fixture->task;
  const auto rows = Query(result.OutputFile,
                          "SELECT tile_data FROM tiles WHERE zoom_level = 11 "
                          "AND tile_column = 500 AND tile_row = 1000");
  ASSERT_EQ(rows.size(), 1u);
  RgbTile parent;
  int w = 0, h = 0;
  ASSERT_TRUE(DecodeJpegScaled(rows[0][0], 1, parent, w, h));
  // Top left (1000, 2001), bottom left (1000, 2000), bottom right
  // (1001, 2000); top right (1001, 2001) is the missing tile.
  const struct {
    int32_t x, y;
    int q;
  } children[] = {{1000, 2001, 0}, {1000, 2000, 2}, {1001, 2000, 3}};
  for (const auto &c : children) {
    RgbTile half;
    ASSERT_TRUE(
        DecodeJpegScaled(GetBytes(t.TilePath(c.x, c.y)), 2, half, w, h));
    for (int q = 0; q < 4; ++q)
      if (q == c.q) {
        EXPECT_LT(QuadrantDifference(parent, q, half), 4) << c.x << "," << c.y;
      } else {
        EXPECT_GT(QuadrantDifference(parent, q, half),
                  QuadrantDifference(parent, c.q, half) + 4)
            << c.x << "," << c.y << " also fits quarter " << q;
      }
  }
  EXPECT_LT(QuadrantDifference(parent, 1, RgbTile(128 * 128 * 3, 0)), 4);
}

// SQLite sees the MBTiles schema, the stored tiles byte for byte with the
// row counted from the south, the lower zooms' tiles and every metadata
// key the apps ask for.
TEST_F(MbTilesJoin, SqliteSeesSchemaTilesAndMetadata) {
  const DownloadTask &t = *fixture->task;
  const std::string &file = result.OutputFile;
  EXPECT_EQ(Query(file, "SELECT type, name FROM sqlite_master WHERE type IN "
                        "('table', 'index') ORDER BY name"),
            (std::vector<std::vector<std::string>>{{"table", "metadata"},
                                                   {"index", "name"},
                                                   {"index", "tile_index"},
                                                   {"table", "tiles"}}));
  std::vector<std::string> columns;
  for (const auto &row : Query(file, "PRAGMA table_info(tiles)"))
    columns.push_back(row[1]);
  EXPECT_EQ(columns, (std::vector<std::string>{"zoom_level", "tile_column",
                                               "tile_row", "tile_data"}));
  // Zoom 12: the 10 stored; 11: the 2 x 2 over the block; 10: one.
  EXPECT_EQ(Query(file, "SELECT zoom_level, count(*) FROM tiles GROUP BY "
                        "zoom_level ORDER BY zoom_level"),
            (std::vector<std::vector<std::string>>{
                {"10", "1"}, {"11", "4"}, {"12", "10"}}));
  for (int32_t y = t.MinY; y <= t.MaxY; ++y)
    for (int32_t x = t.MinX; x <= t.MaxX; ++x) {
      const auto rows = Query(
          file, "SELECT tile_data FROM tiles WHERE zoom_level = 12 AND "
                "tile_column = " +
                    std::to_string(x) + " AND tile_row = " + std::to_string(y));
      if (Gap(x, y)) {
        EXPECT_TRUE(rows.empty()) << x << "," << y;
      } else if (!(x == 1003 && y == 2002)) {
        EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{
                            {GetBytes(t.TilePath(x, y))}}))
            << x << "," << y;
      }
    }
  std::map<std::string, std::string> meta;
  for (const auto &row : Query(file, "SELECT name, value FROM metadata"))
    meta[row[0]] = row[1];
  std::set<std::string> keys;
  for (const auto &[k, v] : meta)
    keys.insert(k);
  EXPECT_EQ(keys,
            (std::set<std::string>{"attribution", "bounds", "center",
                                   "description", "format", "maxzoom",
                                   "minzoom", "name", "type", "version"}));
  EXPECT_EQ(meta["name"], "join");
  EXPECT_EQ(meta["format"], "jpg");
  EXPECT_EQ(meta["type"], "overlay");
  EXPECT_EQ(meta["minzoom"], "10");
  EXPECT_EQ(meta["maxzoom"], "12");
  double b[4] = {};
  ASSERT_EQ(std::sscanf(meta["bounds"].c_str(), "%lf,%lf,%lf,%lf", &b[0], &b[1],
                        &b[2], &b[3]),
            4);
  EXPECT_NEAR(b[0], t.LeftLongitudeDownload, 1e-9);
  EXPECT_NEAR(b[1], t.BottomLatitudeDownload, 1e-9);
  EXPECT_NEAR(b[2], t.RightLongitudeDownload, 1e-9);
  EXPECT_NEAR(b[3], t.TopLatitudeDownload, 1e-9);
}

// What MBTiles cannot hold is refused before anything is written: pictures
// with no map position, lower zooms below zoom 0, and lower zooms asked of
// a TIFF.
TEST(MbTiles, RefusesWhatItCannotHold) {
  struct Case {
    const char *name;
    int32_t dir;
    const char *out;
    int levels;
    const char *says;
  };
  const Case cases[] = {
      {"a task looking East", 1, "e.mbtiles", 0, "looking East"},
      {"a task looking West", 3, "w.mbtiles", 0, "looking West"},
      {"more lower zooms than zooms", 0, "z.mbtiles", 13, "not 13"},
      {"lower zooms in a TIFF", 0, "z.tif", 1, "TIFF"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const JoinFixture f(dir.Path(), c.dir);
    const std::vector<std::string> before = dir.Names();
    JoinOptions o;
    o.Levels = c.levels;
    try {
      f.Join(dir.Path() + c.out, o);
      ADD_FAILURE() << "not refused";
    } catch (const KError &e) {
      EXPECT_EQ(e.Cause(), ErrorCause::InputRefused);
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos)
          << e.what();
      EXPECT_EQ(std::string(e.what()).rfind(
                    "Cannot create file " + dir.Path() + c.out, 0),
                0u)
          << e.what();
    }
    EXPECT_EQ(dir.Names(), before);
  }
}

} // namespace
} // namespace kestrane
