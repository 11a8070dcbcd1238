#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gdal.h>
#include <ogr_srs_api.h>

#include "inventory/TaskInventory.h"
#include "joiner/TileCodec.h"
#include "joiner/TileJoiner.h"
#include "sample/TileImage.h"
#include "task/TaskFiles.h"
#include "tests/core/joiner/JoinTestSupport.h"
#include "tests/core/task/TaskTestSupport.h"
#include "tests/support/KilledWriter.h"

namespace kestrane {
namespace {

using namespace jointest;

// GDAL's drivers, registered once and released at the end so that the leak
// checker sees only the joiner's own memory.
class GdalDrivers : public ::testing::Environment {
public:
  void SetUp() override { GDALAllRegister(); }
  void TearDown() override { GDALDestroyDriverManager(); }
};
[[maybe_unused]] const ::testing::Environment *const kGdal =
    ::testing::AddGlobalTestEnvironment(new GdalDrivers);

class JoinEachDirection : public ::testing::TestWithParam<int32_t> {};

// One tile missing and one replaced by the placeholder: every other tile is
// in the picture at its view cell pixel for pixel as its file decodes, the
// two gaps read as no data (also in the overviews), and only North carries
// the Web Mercator keys with the block edges as corners.
TEST_P(JoinEachDirection, CarriesTilesAndLeavesGapsAsNoData) {
  const int32_t dir = GetParam();
  TempDir dir_;
  const JoinFixture f(dir_.Path(), dir);
  const DownloadTask &t = *f.task;
  const int32_t missingX = 1001, missingY = 2001;
  const int32_t blankX = 1002, blankY = 2000;
  std::filesystem::remove(t.TilePath(missingX, missingY));
  PutBytes(t.TilePath(blankX, blankY),
           GetBytes(kProgramFolder + "blankimg/blank180.jpg"));

  const JoinResult r = f.Join();
  EXPECT_EQ(r.Total, 12);
  EXPECT_EQ(r.Carried, 10);
  EXPECT_EQ(r.Reencoded, 0);
  EXPECT_EQ(r.Missing, 1);
  EXPECT_EQ(r.Placeholder, 1);
  EXPECT_FALSE(r.Complete());
  EXPECT_EQ(r.OverviewLevels, 2); // 1/2 and 1/4 of 1024 x 768
  EXPECT_EQ(r.OutputFile, dir_.Path() + "join.tif");
  EXPECT_EQ(dir_.Names(),
            (std::vector<std::string>{"join", "join.ktsk", "join.tif"}));

  const Dataset out(r.OutputFile);
  ASSERT_NE(out.ds, nullptr);
  const bool sideways = dir == 1 || dir == 3;
  EXPECT_EQ(GDALGetRasterXSize(out.ds), sideways ? 768 : 1024);
  EXPECT_EQ(GDALGetRasterYSize(out.ds), sideways ? 1024 : 768);
  GDALRasterBandH band = GDALGetRasterBand(out.ds, 1);
  EXPECT_EQ(GDALGetOverviewCount(band), 2);

  for (int32_t y = t.MinY; y <= t.MaxY; ++y)
    for (int32_t x = t.MinX; x <= t.MaxX; ++x) {
      SCOPED_TRACE("tile " + std::to_string(x) + "," + std::to_string(y));
      const ViewCell c = ViewPlacement(t, x, y);
      const int px = static_cast<int>(c.Column) * 256;
      const int py = static_cast<int>(c.Row) * 256;
      const bool gap =
          (x == missingX && y == missingY) || (x == blankX && y == blankY);
      EXPECT_TRUE(All(ReadMask(band, px, py, 256), gap ? 0 : 255));
      EXPECT_TRUE(All(ReadMask(GDALGetOverview(band, 0), px / 2, py / 2, 128),
                      gap ? 0 : 255));
      if (!gap) {
        EXPECT_EQ(ReadArea(out.ds, px, py, 256), DecodedTile(t.TilePath(x, y)));
      }
    }

  double gt[6] = {};
  if (dir != 0) {
    EXPECT_FALSE(r.Georeferenced);
    EXPECT_STREQ(GDALGetProjectionRef(out.ds), "");
    EXPECT_NE(GDALGetGeoTransform(out.ds, gt), CE_None);
    return;
  }
  EXPECT_TRUE(r.Georeferenced);
  OGRSpatialReferenceH srs = GDALGetSpatialRef(out.ds);
  ASSERT_NE(srs, nullptr);
  EXPECT_STREQ(OSRGetAuthorityCode(srs, nullptr), "3857");
  ASSERT_EQ(GDALGetGeoTransform(out.ds, gt), CE_None);
  ExpectBlockEdges(srs, gt, t);
}

INSTANTIATE_TEST_SUITE_P(Directions, JoinEachDirection,
                         ::testing::Values(0, 1, 2, 3));

double MeanDifference(const std::vector<uint8_t> &a,
                      const std::vector<uint8_t> &b) {
  if (a.size() != b.size() || a.empty())
    return 1e9;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i)
    sum += std::abs(int{a[i]} - int{b[i]});
  return sum / static_cast<double>(a.size());
}

// Tiles the TIFF cannot hold as they are are decoded and encoded once into
// the file's sampling; a body that does not decode counts as damaged.
TEST(JoinTiles, ReencodesWhatCannotBeCarriedAndCountsUndecodableAsDamaged) {
  TempDir dir;
  const JoinFixture f(dir.Path(), 0);
  const DownloadTask &t = *f.task;
  std::string rgbBytes;
  RenderTile(TileAddress{kZoom, 1000, 2000, 0}, rgbBytes);
  const std::vector<uint8_t> rgb(rgbBytes.begin(), rgbBytes.end());
  std::string full444;
  EncodeTileJpeg(rgb, 1, 1, 95, full444);
  struct Row {
    int32_t x, y;
    std::string bytes;
    double tolerance; // mean difference to the source picture
  };
  // A JPEG of R, G and B components (Adobe marker, no transform): the TIFF
  // would read it as Y, Cb and Cr.
  std::string adobeRgb = TileJpeg(TileAddress{kZoom, 1002, 2002, 0});
  adobeRgb.insert(2, std::string("\xFF\xEE\x00\x0E"
                                 "Adobe\x00\x64\x00\x00\x00\x00\x00",
                                 16));
  const std::string tmp = dir.Path() + "enc";
  const std::vector<Row> rows = {
      {1000, 2000, GdalEncode("PNG", rgb, 256, 3, tmp + ".png"), 3},
      {1001, 2000, full444, 3},                                        // 4:4:4
      {1002, 2001, GdalEncode("JPEG", rgb, 512, 3, tmp + ".jpg"), 4},  // 512
      {1003, 2002, GdalEncode("JPEG", rgb, 256, 1, tmp + ".jpg"), -1}, // grey
      {1002, 2002, adobeRgb, 0}, // against its own decoding
  };
  for (const Row &row : rows)
    PutBytes(t.TilePath(row.x, row.y), row.bytes);
  PutBytes(t.TilePath(1003, 2000), std::string("\xFF\xD8\xFF\xE0 garbage"));

  const JoinResult r = f.Join();
  EXPECT_EQ(r.Reencoded, 5);
  EXPECT_EQ(r.Carried, 6);
  EXPECT_EQ(r.Damaged, 1);
  EXPECT_EQ(r.Missing + r.Placeholder, 0);

  const Dataset out(r.OutputFile);
  ASSERT_NE(out.ds, nullptr);
  GDALRasterBandH band = GDALGetRasterBand(out.ds, 1);
  for (const Row &row : rows) {
    const ViewCell c = ViewPlacement(t, row.x, row.y);
    const int px = static_cast<int>(c.Column) * 256;
    const int py = static_cast<int>(c.Row) * 256;
    EXPECT_TRUE(All(ReadMask(band, px, py, 256), 255));
    const std::vector<uint8_t> got = ReadArea(out.ds, px, py, 256);
    if (row.tolerance > 0) {
      EXPECT_LT(MeanDifference(got, rgb), row.tolerance) << row.x;
    } else if (row.tolerance == 0) {
      EXPECT_LT(MeanDifference(got, DecodedTile(t.TilePath(row.x, row.y))), 3)
          << row.x;
    }
  }
  const ViewCell bad = ViewPlacement(t, 1003, 2000);
  EXPECT_TRUE(All(ReadMask(band, static_cast<int>(bad.Column) * 256,
                           static_cast<int>(bad.Row) * 256, 256),
                  0));
}

// A tile file over the joiner's bound of 16 MiB is not read: it counts as
// damaged, not missing, even when it starts with a whole tile (zero padding
// after the end-of-image marker would otherwise let it be carried).
TEST(JoinTiles, TileOverTheBoundCountsAsDamaged) {
  TempDir dir;
  const JoinFixture f(dir.Path(), 0);
  const std::string big = f.task->TilePath(1001, 2001);
  std::filesystem::resize_file(big, (std::uintmax_t{16} << 20) + 1);
  const std::string fit = f.task->TilePath(1002, 2001);
  std::filesystem::resize_file(fit, std::uintmax_t{16} << 20);
  const JoinResult r = f.Join();
  EXPECT_EQ(r.Damaged, 1);
  EXPECT_EQ(r.Missing, 0);
  EXPECT_EQ(r.Carried, 11);
}

// BigTIFF (as beyond 4 GiB) reads back the same; a complete task without
// overviews needs no mask.
TEST(JoinTiles, BigTiffCompleteWithoutOverviews) {
  TempDir dir;
  const JoinFixture f(dir.Path(), 2);
  JoinOptions o;
  o.ForceBigTiff = true;
  o.Overviews = false;
  const JoinResult r = f.Join(dir.Path() + "big.tif", o);
  EXPECT_TRUE(r.Complete());
  EXPECT_TRUE(r.BigTiff);
  EXPECT_EQ(GetBytes(r.OutputFile).substr(0, 4), std::string("II\x2B\0", 4));
  const Dataset out(r.OutputFile);
  ASSERT_NE(out.ds, nullptr);
  GDALRasterBandH band = GDALGetRasterBand(out.ds, 1);
  EXPECT_EQ(GDALGetOverviewCount(band), 0);
  EXPECT_EQ(GDALGetMaskFlags(band), GMF_ALL_VALID);
}

// The cause of the KError that `run` throws; nullopt when it throws none.
template <typename Run> std::optional<ErrorCause> CauseOf(Run run) {
  try {
    run();
  } catch (const KError &e) {
    return e.Cause();
  }
  return std::nullopt;
}

// Refused input, a write that fails half-way and a cancel: each leaves the
// folder as it was, with no picture and no temporary file.
TEST(JoinTiles, FailuresLeaveNoOutput) {
  TempDir dir;
  const JoinFixture f(dir.Path(), 0);
  const std::vector<std::string> before = dir.Names();

  EXPECT_EQ(CauseOf([&] { JoinTiles(dir.Path() + "none.ktsk", ""); }),
            ErrorCause::CannotOpen);
  EXPECT_EQ(CauseOf([&] { f.Join(dir.Path() + "no/such/folder.tif"); }),
            ErrorCause::InputRefused);
  const std::string project = GetBytes(f.Project());
  // It would replace the task.
  EXPECT_EQ(CauseOf([&] { f.Join(f.Project()); }), ErrorCause::InputRefused);
  EXPECT_EQ(GetBytes(f.Project()), project);

  // A file size limit stands for a full disk.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 50000;
  setrlimit(RLIMIT_FSIZE, &small);
  for (const char *name : {"join.tif", "join.mbtiles"}) {
    try {
      f.Join(dir.Path() + name);
      ADD_FAILURE() << name << ": a write past the limit was reported as "
                    << "success";
    } catch (const KError &e) {
      EXPECT_EQ(e.Cause(), ErrorCause::CannotWrite)
          << "a write failure is not refused input";
      EXPECT_NE(
          std::string(e.what()).find("Cannot write file " + dir.Path() + name),
          std::string::npos)
          << e.what();
    }
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, SIG_DFL);

  // A cancel in each phase of each format.
  for (const JoinPhase at :
       {JoinPhase::Joining, JoinPhase::Overviews, JoinPhase::Writing})
    for (const char *name : {"join.tif", "join.mbtiles"}) {
      StopFlag cancel;
      JoinOptions o;
      o.Cancel = &cancel;
      o.Levels = std::string(name) == "join.mbtiles" ? 1 : 0;
      o.Progress = [&cancel, at](JoinPhase phase, int64_t, int64_t) {
        if (phase == at)
          cancel.Request();
      };
      const bool reached = at != JoinPhase::Writing || o.Levels == 0;
      EXPECT_EQ(f.Join(dir.Path() + name, o).Cancelled, reached) << name;
      std::filesystem::remove(dir.Path() + name);
    }
  EXPECT_EQ(dir.Names(), before);
}

// With no tile stored the join still writes a file that opens, in each
// format: the whole picture reads as no data (an empty MBTiles keeps its
// bounds), and the run counts as incomplete.
TEST(JoinTiles, NothingStoredStillOpens) {
  struct Case {
    const char *out;
    bool overviews;
    int overviewsExpected;
  };
  const Case cases[] = {
      {"all.tif", true, 2}, {"flat.tif", false, 0}, {"all.mbtiles", true, 0}};
  TempDir dir;
  const JoinFixture f(dir.Path(), 0);
  std::filesystem::remove_all(f.task->TileFolder);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.out);
    JoinOptions o;
    o.Overviews = c.overviews;
    const JoinResult r = f.Join(dir.Path() + c.out, o);
    EXPECT_EQ(r.Missing, 12);
    EXPECT_FALSE(r.Complete());
    const Dataset out(r.OutputFile);
    ASSERT_NE(out.ds, nullptr) << "GDAL cannot open it";
    EXPECT_EQ(GDALGetRasterXSize(out.ds), 1024);
    EXPECT_EQ(GDALGetRasterYSize(out.ds), 768);
    GDALRasterBandH band = GDALGetRasterBand(out.ds, 1);
    EXPECT_EQ(GDALGetOverviewCount(band), c.overviewsExpected);
    EXPECT_TRUE(All(ReadMask(band, 0, 0, 512), 0));
  }
}

// A join killed in mid-write left its temporary picture beside the output;
// the next join in that folder removes it with its own temporary file.
TEST(JoinTiles, RemovesTheTemporaryPictureOfAKilledJoin) {
  TempDir dir;
  const JoinFixture f(dir.Path(), 0);
  const std::string temp =
      testing::LeaveKilledWritersTemporary(dir.Path() + "join.tif");
  ASSERT_TRUE(std::filesystem::exists(temp)) << temp;
  const JoinResult r = f.Join();
  EXPECT_EQ(r.Joined(), 12);
  EXPECT_EQ(dir.Names(),
            (std::vector<std::string>{"join", "join.ktsk", "join.tif"}));
}

// The reverse placement meets ViewPlacement on every tile of a block that
// is not square, for every direction.
TEST(JoinTiles, ViewCellTileIsTheReverseOfViewPlacement) {
  TempDir dir;
  for (int32_t d = 0; d < 4; ++d) {
    TaskParameters p;
    p.Path = dir.Path();
    p.TaskFileName = "p" + std::to_string(d) + ".ktsk";
    p.Dir = d;
    SetBlock(p, 10, 500, 504, 300, 301);
    const DownloadTask t(p);
    for (int64_t row = 0; row < ViewRows(t); ++row)
      for (int64_t col = 0; col < ViewColumns(t); ++col) {
        int32_t x = 0, y = 0;
        ViewCellTile(t, col, row, x, y);
        const ViewCell c = ViewPlacement(t, x, y);
        EXPECT_EQ(c.Column, col) << "dir " << d;
        EXPECT_EQ(c.Row, row) << "dir " << d;
      }
  }
}

} // namespace
} // namespace kestrane
