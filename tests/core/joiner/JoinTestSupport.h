#pragma once
// What the joiner's tests share: a small task with every tile stored, and
// reading the joined file back through GDAL.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gdal.h>
#include <ogr_srs_api.h>

#include "inventory/TaskInventory.h"
#include "joiner/TileJoiner.h"
#include "sample/TileImage.h"
#include "task/TaskFiles.h"
#include "tests/core/task/TaskTestSupport.h"

namespace kestrane::jointest {

using tasktest::GetBytes;
using tasktest::PutBytes;
using tasktest::SetBlock;
using tasktest::TempDir;

inline const std::string kProgramFolder = KESTRANE_SOURCE_DIR;
inline constexpr int kZoom = 12;

// A block of `columns` x `rows` tiles (4 x 3 unless told) at zoom 12 seen
// in direction `dir`, its project file written and every tile the sample
// service's picture of it.
struct JoinFixture {
  JoinFixture(const std::string &folder, int32_t dir, int32_t columns = 4,
              int32_t rows = 3) {
    params.Path = folder;
    params.TaskFileName = "join.ktsk";
    params.Dir = dir;
    SetBlock(params, kZoom, 1000, 1000 + columns - 1, 2000, 2000 + rows - 1);
    TaskEnvironment env;
    env.ProgramFolder = kProgramFolder;
    task = std::make_unique<DownloadTask>(params, env);
    WriteProjectFile(*task);
    CreateTileFolder(*task);
    for (int32_t y = task->MinY; y <= task->MaxY; ++y)
      for (int32_t x = task->MinX; x <= task->MaxX; ++x)
        PutBytes(task->TilePath(x, y), TileJpeg(TileAddress{kZoom, x, y, dir}));
  }
  std::string Project() const { return params.Path + params.TaskFileName; }
  JoinResult Join(const std::string &out = "", JoinOptions o = {}) const {
    o.ProgramFolder = kProgramFolder;
    return JoinTiles(Project(), out, o);
  }
  TaskParameters params;
  std::unique_ptr<DownloadTask> task;
};

// The corners of a 1024 x 768 picture georeferenced in `srs` (from its
// geotransform `gt`), in degrees: the block's edges to 1e-9°.
inline void ExpectBlockEdges(OGRSpatialReferenceH srs, const double gt[6],
                             const DownloadTask &t) {
  OGRSpatialReferenceH wgs84 = OSRNewSpatialReference(nullptr);
  OSRImportFromEPSG(wgs84, 4326);
  OSRSetAxisMappingStrategy(wgs84, OAMS_TRADITIONAL_GIS_ORDER);
  OGRCoordinateTransformationH ct = OCTNewCoordinateTransformation(srs, wgs84);
  ASSERT_NE(ct, nullptr);
  double xs[2] = {gt[0], gt[0] + gt[1] * 1024};
  double ys[2] = {gt[3], gt[3] + gt[5] * 768};
  ASSERT_TRUE(OCTTransform(ct, 2, xs, ys, nullptr));
  EXPECT_NEAR(xs[0], t.LeftLongitudeDownload, 1e-9);
  EXPECT_NEAR(xs[1], t.RightLongitudeDownload, 1e-9);
  EXPECT_NEAR(ys[0], t.TopLatitudeDownload, 1e-9);
  EXPECT_NEAR(ys[1], t.BottomLatitudeDownload, 1e-9);
  OCTDestroyCoordinateTransformation(ct);
  OSRDestroySpatialReference(wgs84);
}

struct Dataset {
  explicit Dataset(const std::string &path)
      : ds(GDALOpen(path.c_str(), GA_ReadOnly)) {}
  ~Dataset() {
    if (ds != nullptr)
      GDALClose(ds);
  }
  GDALDatasetH ds;
};

// The 256 x 256 RGB pixels at view cell (column, row) of `band1`'s dataset
// (or of its overview when `band1` is one), interleaved.
inline std::vector<uint8_t> ReadArea(GDALDatasetH ds, int x0, int y0,
                                     int size) {
  std::vector<uint8_t> px(static_cast<size_t>(size) * size * 3);
  EXPECT_EQ(GDALDatasetRasterIO(ds, GF_Read, x0, y0, size, size, px.data(),
                                size, size, GDT_Byte, 3, nullptr, 3, size * 3,
                                1),
            CE_None);
  return px;
}

inline std::vector<uint8_t> ReadMask(GDALRasterBandH band, int x0, int y0,
                                     int size) {
  std::vector<uint8_t> m(static_cast<size_t>(size) * size);
  EXPECT_EQ(GDALRasterIO(GDALGetMaskBand(band), GF_Read, x0, y0, size, size,
                         m.data(), size, size, GDT_Byte, 0, 0),
            CE_None);
  return m;
}

inline bool All(const std::vector<uint8_t> &v, uint8_t value) {
  for (uint8_t b : v)
    if (b != value)
      return false;
  return true;
}

// A tile file decoded by GDAL's own JPEG reader.
inline std::vector<uint8_t> DecodedTile(const std::string &path) {
  Dataset tile(path);
  EXPECT_NE(tile.ds, nullptr) << path;
  return tile.ds ? ReadArea(tile.ds, 0, 0, 256) : std::vector<uint8_t>{};
}

// Writes `rgb` (256 x 256 unless told) through GDAL's drivers.
inline std::string GdalEncode(const char *driver,
                              const std::vector<uint8_t> &rgb, int size,
                              int bands, const std::string &tmp) {
  GDALDatasetH mem = GDALCreate(GDALGetDriverByName("MEM"), "", size, size,
                                bands, GDT_Byte, nullptr);
  for (int b = 1; b <= bands; ++b) {
    std::vector<uint8_t> plane(static_cast<size_t>(size) * size);
    for (size_t i = 0; i < plane.size(); ++i) {
      const size_t y = i / size * 256 / size, x = i % size * 256 / size;
      plane[i] = rgb[(y * 256 + x) * 3 + static_cast<size_t>(b - 1)];
    }
    EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(mem, b), GF_Write, 0, 0, size,
                           size, plane.data(), size, size, GDT_Byte, 0, 0),
              CE_None);
  }
  GDALClose(GDALCreateCopy(GDALGetDriverByName(driver), tmp.c_str(), mem, FALSE,
                           nullptr, nullptr, nullptr));
  GDALClose(mem);
  std::string bytes = GetBytes(tmp);
  std::filesystem::remove(tmp);
  std::filesystem::remove(tmp + ".aux.xml");
  return bytes;
}

// What GDAL's cloud-optimized GeoTIFF validator (python3-gdal) says of
// `path`: its exit status and everything it printed.
struct Validation {
  int Status = -1;
  std::string Text;
};
inline Validation ValidateCog(const std::string &path) {
  static const char *const kScripts[] = {
      "/usr/lib/python3/dist-packages/osgeo_utils/samples/"
      "validate_cloud_optimized_geotiff.py",
      "/usr/share/doc/python3-gdal/examples/"
      "validate_cloud_optimized_geotiff.py"};
  Validation v;
  for (const char *script : kScripts) {
    if (!std::filesystem::exists(script))
      continue;
    const std::string command =
        std::string("/usr/bin/python3 ") + script + " '" + path + "' 2>&1";
    FILE *p = ::popen(command.c_str(), "r");
    if (p == nullptr)
      break;
    char buffer[512];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
      v.Text.append(buffer, n);
    v.Status = ::pclose(p);
    return v;
  }
  v.Text = "the validator of python3-gdal is not installed";
  return v;
}

} // namespace kestrane::jointest
