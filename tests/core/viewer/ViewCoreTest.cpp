// The viewer's parts without a task: decoding at reduced scale, the cache's
// limit, the mosaic's bound and the zoom's range.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/WorkerFixtures.h"
#include "tile/TileCheck.h"
#include "viewer/Mosaic.h"
#include "viewer/TileCache.h"
#include "viewer/TileDecode.h"
#include "viewer/ViewTransform.h"

namespace kestrane {
namespace {

TEST(ViewerDecodeTest, EachLevelHalvesTheTileAndBadBytesGiveNothing) {
  const std::string jpeg = test::WorkerJpeg();
  for (int level = 0; level <= kMaxDecodeLevel; ++level) {
    SCOPED_TRACE(level);
    const std::optional<Pixels> p = DecodeJpeg(jpeg, level);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->Width, 256 >> level);
    EXPECT_EQ(p->Height, 256 >> level);
    EXPECT_EQ(p->Data[0] >> 24, 0xFFu); // opaque
  }
  EXPECT_FALSE(DecodeJpeg(test::WorkerJpegCutBeforeScan(jpeg), 3));
  EXPECT_FALSE(DecodeJpeg(test::WorkerPngBody(), 0));
  EXPECT_FALSE(DecodeJpeg("", 0));
  EXPECT_FALSE(DecodeJpeg(jpeg, 4)); // no such level
}

// The viewer shows what the workers' check stored: both decode with the same
// error handling, so a tile that passed the check is never shown as bad, and
// one that failed it never as good.
TEST(ViewerDecodeTest, DecodesWhatTheWorkersCheckPasses) {
  const std::string jpeg = test::WorkerJpeg();
  const std::string progressive = test::WorkerJpeg(256, 256, true);
  const struct {
    const char *what;
    std::string bytes;
  } cases[] = {
      {"whole", jpeg},
      {"progressive", progressive},
      {"cut in the image data", test::WorkerJpegCutInScan(jpeg)},
      {"progressive cut in a scan", test::WorkerJpegCutInScan(progressive)},
      {"cut before the image data", test::WorkerJpegCutBeforeScan(jpeg)},
      {"FF D8 and text", std::string("\xFF\xD8", 2) + "no picture"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DecodeJpeg(c.bytes, 0).has_value(), JpegDecodes(c.bytes));
  }
}

TEST(ViewerCacheTest, DropsTheLeastRecentlyUsedPastItsLimit) {
  const auto tile = [](int side) {
    auto p = std::make_shared<Pixels>();
    p->Width = p->Height = side;
    p->Data.resize(size_t(side) * side);
    return std::shared_ptr<const Pixels>(p);
  };
  // Room for two 64 x 64 tiles (16 KiB each) and their bookkeeping.
  TileCache cache(2 * 16384 + 1024);
  cache.Put({1, 2}, tile(64));
  cache.Put({2, 2}, tile(64));
  ASSERT_NE(cache.Find({1, 2}), nullptr); // 1 is now the most recent
  cache.Put({3, 2}, tile(64));
  EXPECT_TRUE(cache.Contains({1, 2}));
  EXPECT_FALSE(cache.Contains({2, 2}));
  EXPECT_TRUE(cache.Contains({3, 2}));
  EXPECT_LE(cache.Bytes(), cache.Limit());
  // An entry without a picture is remembered too.
  cache.Put({4, 0}, nullptr);
  EXPECT_TRUE(cache.Contains({4, 0}));
  cache.EraseCell(3);
  EXPECT_FALSE(cache.Contains({3, 2}));
}

TEST(ViewerMosaicTest, StaysWithinItsSideWhateverTheBlock) {
  struct Row {
    int64_t columns, rows;
    int thumb;
    int64_t step;
  };
  const Row rows[] = {
      {1, 1, 32, 1},         // one tile: the 1/8 decode as it is
      {100, 100, 16, 1},     // the 100 x 100 benchmark
      {1024, 1024, 2, 1},    // a million tiles
      {4096, 256, 1, 2},     // wider than the side: one pixel, two tiles
      {46340, 46340, 1, 32}, // the largest task the workers can walk
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.columns);
    const Mosaic m(r.columns, r.rows, 2048);
    EXPECT_EQ(m.ThumbSize(), r.thumb);
    EXPECT_EQ(m.Step(), r.step);
    EXPECT_LE(m.Image().Width, 2048);
    EXPECT_LE(m.Image().Height, 2048);
  }
  // A thumbnail lands in its cell only.
  Mosaic m(4, 4, 2048);
  Pixels thumb;
  thumb.Width = thumb.Height = m.ThumbSize();
  thumb.Data.assign(size_t(thumb.Width) * thumb.Height, 0xFF112233u);
  m.Put(1, 2, thumb);
  const int s = m.ThumbSize(), w = m.Image().Width;
  EXPECT_EQ(m.Image().Data[(2 * s) * w + 1 * s], 0xFF112233u);
  EXPECT_EQ(m.Image().Data[(2 * s) * w + 2 * s], palette::kNotLoaded);
  EXPECT_EQ(m.Image().Data[(3 * s - 1) * w + 2 * s - 1], 0xFF112233u);
}

TEST(ViewerTransformTest, ZoomRunsFromTheWholeBlockToFourToOne) {
  ViewTransform t(100, 50, 256);
  t.SetViewport(1000, 800);
  // Fitted: the whole block across the window's width, centred.
  EXPECT_DOUBLE_EQ(t.Scale(), 1000.0 / 25600);
  EXPECT_DOUBLE_EQ(t.OffsetY(), (800 - 12800 * t.Scale()) / 2);
  EXPECT_EQ(t.Visible().Count(), 5000);
  EXPECT_EQ(t.DecodeLevel(), 4); // 16 pixels a tile: the 1/8 decode halved

  // Zooming keeps the point under the mouse.
  int64_t c0 = 0, r0 = 0, c1 = 0, r1 = 0;
  ASSERT_TRUE(t.CellAt(700, 420, c0, r0));
  t.ZoomAbout(700, 420, 8);
  ASSERT_TRUE(t.CellAt(700, 420, c1, r1));
  EXPECT_EQ(c0, c1);
  EXPECT_EQ(r0, r1);
  EXPECT_FALSE(t.Fitted());

  t.ZoomAbout(500, 400, 1000); // stops at 4 screen pixels per tile pixel
  EXPECT_DOUBLE_EQ(t.Scale(), ViewTransform::kMaxScale);
  EXPECT_EQ(t.DecodeLevel(), 0);
  t.Pan(1e9, 1e9); // the block cannot leave the window
  EXPECT_DOUBLE_EQ(t.OffsetX(), 0);
  EXPECT_DOUBLE_EQ(t.OffsetY(), 0);
  EXPECT_EQ(t.Visible().Column0, 0);

  struct Level {
    double scale;
    int level;
  };
  // A block large enough to zoom out past 1/8 (4 pixels a tile at most).
  ViewTransform big(4096, 4096, 256);
  big.SetViewport(1000, 800);
  for (const Level &l :
       {Level{1, 0}, Level{0.6, 0}, Level{0.5, 1}, Level{0.3, 1},
        Level{0.25, 2}, Level{0.125, 3}, Level{0.02, 5}, Level{0.001, 6}}) {
    big.SetScaleAbout(0, 0, l.scale);
    EXPECT_EQ(big.DecodeLevel(), l.level) << l.scale;
  }
  t.ZoomAbout(0, 0, 1e-6); // back to the whole block
  EXPECT_TRUE(t.Fitted());
}

} // namespace
} // namespace kestrane
