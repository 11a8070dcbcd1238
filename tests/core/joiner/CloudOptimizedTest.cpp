// The picture file in the cloud-optimized layout: GDAL's validator accepts
// it in every direction, with and without gaps, classic and BigTIFF; every
// level's mask follows the tiles that hold no data; and the writer's memory
// does not grow with the block.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gdal.h>

#include "joiner/PictureWriter.h"
#include "tests/core/joiner/JoinTestSupport.h"
#include "tests/support/Sanitizers.h"

namespace kestrane {
namespace {

using namespace jointest;

// Removes one tile and puts the placeholder in place of another.
void MakeGaps(const DownloadTask &t) {
  std::filesystem::remove(t.TilePath(1001, 2001));
  PutBytes(t.TilePath(1002, 2000),
           GetBytes(kProgramFolder + "blankimg/blank180.jpg"));
}

// The validator is the judge: no error and no warning, in every direction,
// with gaps (a mask on every level) and without, classic and BigTIFF.
TEST(CloudOptimized, ValidatorAcceptsEveryLayout) {
  struct Case {
    const char *name;
    int32_t dir;
    bool gaps, bigTiff;
  };
  const Case cases[] = {
      {"North with gaps", 0, true, false},
      {"East with gaps", 1, true, false},
      {"South complete, BigTIFF", 2, false, true},
      {"West with gaps, BigTIFF", 3, true, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const JoinFixture f(dir.Path(), c.dir);
    if (c.gaps)
      MakeGaps(*f.task);
    JoinOptions o;
    o.ForceBigTiff = c.bigTiff;
    const JoinResult r = f.Join("", o);
    EXPECT_EQ(r.BigTiff, c.bigTiff);
    EXPECT_EQ(r.OverviewLevels, 2);
    const Validation v = ValidateCog(r.OutputFile);
    EXPECT_EQ(v.Status, 0) << v.Text;
    EXPECT_NE(v.Text.find("is a valid cloud optimized GeoTIFF"),
              std::string::npos)
        << v.Text;
    EXPECT_EQ(v.Text.find("warning"), std::string::npos) << v.Text;
  }
}

// Whether pixel (x, y) of the level reduced 2^level times covers a tile of
// the picture that holds data: any of the picture's pixels under it.
bool Covered(int64_t x, int64_t y, int level, int64_t columns, int64_t rows,
             const std::vector<std::pair<int64_t, int64_t>> &gaps) {
  const int64_t c0 = (x << level) / 256,
                c1 = std::min(columns - 1, (((x + 1) << level) - 1) / 256);
  const int64_t r0 = (y << level) / 256,
                r1 = std::min(rows - 1, (((y + 1) << level) - 1) / 256);
  for (int64_t r = r0; r <= r1; ++r)
    for (int64_t c = c0; c <= c1; ++c)
      if (std::find(gaps.begin(), gaps.end(), std::make_pair(c, r)) ==
          gaps.end())
        return true;
  return false;
}

// A 9 x 5 block with tiles missing along a diagonal and in a corner: every
// level's mask, pixel by pixel, is set exactly where a stored tile lies
// under it. The reduced levels' masks are built from the masks of the
// level above, so a fault in the halving shows on the smaller levels.
TEST(CloudOptimized, EveryLevelsMaskFollowsTheGaps) {
  TempDir dir;
  TaskParameters p;
  p.Path = dir.Path();
  p.TaskFileName = "wide.ktsk";
  SetBlock(p, kZoom, 1000, 1008, 2000, 2004);
  TaskEnvironment env;
  env.ProgramFolder = kProgramFolder;
  const DownloadTask t(p, env);
  WriteProjectFile(t);
  CreateTileFolder(t);
  std::vector<std::pair<int64_t, int64_t>> gaps; // view column, row
  for (int32_t y = t.MinY; y <= t.MaxY; ++y)
    for (int32_t x = t.MinX; x <= t.MaxX; ++x) {
      const ViewCell c = ViewPlacement(t, x, y);
      const bool gap = c.Column == c.Row + 1 || (c.Column >= 7 && c.Row >= 3);
      if (gap)
        gaps.emplace_back(c.Column, c.Row);
      else
        PutBytes(t.TilePath(x, y), TileJpeg(TileAddress{kZoom, x, y, 0}));
    }
  JoinOptions o;
  o.ProgramFolder = kProgramFolder;
  const JoinResult r = JoinTiles(dir.Path() + "wide.ktsk", "", o);
  ASSERT_EQ(r.Missing, static_cast<int64_t>(gaps.size()));
  ASSERT_EQ(r.OverviewLevels, 4);

  const Dataset out(r.OutputFile);
  ASSERT_NE(out.ds, nullptr);
  GDALRasterBandH band = GDALGetRasterBand(out.ds, 1);
  for (int level = 0; level <= r.OverviewLevels; ++level) {
    SCOPED_TRACE("level " + std::to_string(level));
    GDALRasterBandH b = level == 0 ? band : GDALGetOverview(band, level - 1);
    const int w = GDALGetRasterBandXSize(b), h = GDALGetRasterBandYSize(b);
    std::vector<uint8_t> mask(static_cast<size_t>(w) * h);
    ASSERT_EQ(GDALRasterIO(GDALGetMaskBand(b), GF_Read, 0, 0, w, h, mask.data(),
                           w, h, GDT_Byte, 0, 0),
              CE_None);
    int64_t wrong = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        wrong += (mask[static_cast<size_t>(y) * w + x] != 0) !=
                 Covered(x, y, level, r.Columns, r.Rows, gaps);
    EXPECT_EQ(wrong, 0);
  }
  EXPECT_EQ(ValidateCog(r.OutputFile).Status, 0);
}

// The peak memory, in KiB, that writing the picture of a block of one row
// of `columns` tiles, only the first and the last of them stored, adds to a
// process: measured in a child process of its own, from after the
// inventory's list of the missing tiles was made.
long WriterPeakGrowthKiB(const std::string &folder, int32_t columns) {
  TaskParameters p;
  p.Path = folder;
  p.TaskFileName = "row.ktsk";
  SetBlock(p, 21, 1000000, 1000000 + columns - 1, 5000, 5000);
  const DownloadTask task(p);
  CreateTileFolder(task);
  for (int32_t x : {task.MinX, task.MaxX})
    PutBytes(task.TilePath(x, task.MinY),
             TileJpeg(TileAddress{21, x, task.MinY, 0}));
  int pipeFds[2];
  if (::pipe(pipeFds) != 0)
    return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipeFds[0]);
    joiner_detail::CellStates problems(ViewColumns(task) * ViewRows(task));
    for (int64_t i = 1; i + 1 < columns; ++i)
      problems.Set(i, TileState::Missing);
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    const CheckedTiles none;
    const joiner_detail::PictureInput input{task, problems, none};
    JoinResult result;
    result.Columns = ViewColumns(task);
    result.Rows = ViewRows(task);
    result.Total = result.Columns * result.Rows;
    JoinOptions options;
    AtomicFile out(folder + "row.tif");
    const bool written = joiner_detail::WritePicture(input, options, result,
                                                     out, folder + "row.tif");
    ::getrusage(RUSAGE_SELF, &after);
    const long growth = written && result.Carried == 2
                            ? after.ru_maxrss - before.ru_maxrss
                            : -1;
    (void)!::write(pipeFds[1], &growth, sizeof growth);
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  long growth = -1;
  if (::read(pipeFds[0], &growth, sizeof growth) != sizeof growth)
    growth = -1;
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return growth;
}

// Nothing of the writer is kept per tile: a block of a million tiles
// (their offsets and sizes alone would take 16 MB a level) costs what a
// small one does, within the writer's few buffers.
TEST(CloudOptimized, WriterMemoryDoesNotGrowWithTheBlock) {
  TempDir dir;
  const long growth = WriterPeakGrowthKiB(dir.Path(), 1000000);
  ASSERT_GE(growth, 0) << "the child did not report";
  // The sanitizers' quarantine holds freed memory: no bound there.
  if (!testing::kSanitized) {
    EXPECT_LT(growth, 12 * 1024) << growth << " KiB";
  }
}

} // namespace
} // namespace kestrane
