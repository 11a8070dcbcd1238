#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "sample/SampleService.h"
#include "sample/TileImage.h"

namespace kestrane {
namespace {

constexpr int kLast = kTileSize - 1;

Rgb PixelAt(const std::string &rgb, int px, int py) {
  const size_t i = (static_cast<size_t>(py) * kTileSize + px) * 3;
  return Rgb{static_cast<uint8_t>(rgb[i]), static_cast<uint8_t>(rgb[i + 1]),
             static_cast<uint8_t>(rgb[i + 2])};
}

int Distance(Rgb a, Rgb b) {
  return std::abs(a.R - b.R) + std::abs(a.G - b.G) + std::abs(a.B - b.B);
}

std::string Render(const TileAddress &tile) {
  std::string rgb;
  RenderTile(tile, rgb);
  return rgb;
}

TEST(TileQuadkey, KnownKeysAndRoundTripForEveryDirection) {
  struct Row {
    int32_t X, Y, Zoom;
    const char *Keys[4]; // North, East, South, West
  };
  const Row rows[] = {
      {41994,
       170596,
       18,
       {"021230030220023032", "230312212332231213", "312103303113310301",
        "103021121001102120"}},
      {1, 1, 2, {"21", "30", "12", "03"}},
      {0, 0, 1, {"2", "3", "1", "0"}}, // south-west child
      {1, 1, 1, {"1", "0", "2", "3"}}, // north-east child
  };
  for (const Row &r : rows)
    for (int32_t dir = 0; dir < 4; ++dir) {
      SCOPED_TRACE(std::to_string(r.Zoom) + "/" + std::to_string(r.X) + "/" +
                   std::to_string(r.Y) + " dir " + std::to_string(dir));
      EXPECT_EQ(TileQuadkey(r.X, r.Y, r.Zoom, dir), r.Keys[dir]);
      const auto back = DecodeTileQuadkey(r.Keys[dir], dir);
      ASSERT_TRUE(back.has_value());
      EXPECT_EQ(*back, (TileAddress{r.Zoom, r.X, r.Y, dir}));
    }
  // Every tile of a small zoom and the corners of the deepest one.
  for (int32_t dir = 0; dir < 4; ++dir) {
    for (int32_t x = 0; x < 8; ++x)
      for (int32_t y = 0; y < 8; ++y) {
        const auto back = DecodeTileQuadkey(TileQuadkey(x, y, 3, dir), dir);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(*back, (TileAddress{3, x, y, dir}));
      }
    const int32_t last = (1 << kMaxSampleZoom) - 1;
    for (int32_t x : {0, last})
      for (int32_t y : {0, last}) {
        const auto back =
            DecodeTileQuadkey(TileQuadkey(x, y, kMaxSampleZoom, dir), dir);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(*back, (TileAddress{kMaxSampleZoom, x, y, dir}));
      }
  }
}

TEST(TileQuadkey, RefusesWhatNamesNoTile) {
  EXPECT_FALSE(DecodeTileQuadkey("", 0)) << "empty key";
  EXPECT_FALSE(DecodeTileQuadkey("0124", 0)) << "digit 4";
  EXPECT_FALSE(DecodeTileQuadkey("01a", 0)) << "letter";
  EXPECT_FALSE(DecodeTileQuadkey(std::string(kMaxSampleZoom + 1, '0'), 0))
      << "deeper than the deepest zoom";
  EXPECT_FALSE(DecodeTileQuadkey("01", 4)) << "direction 4";
  EXPECT_FALSE(DecodeTileQuadkey("01", -1)) << "direction -1";
  EXPECT_EQ(DirFromLetter('n'), 0);
  EXPECT_EQ(DirFromLetter('w'), 3);
  EXPECT_EQ(DirFromLetter('N'), -1);
}

// For each direction: the tile that stands right of (x, y), and the one
// below it, in the picture seen looking that way.
struct Neighbours {
  int32_t Dir;
  int32_t RightDx, RightDy, BelowDx, BelowDy;
};
constexpr Neighbours kNeighbours[] = {
    {0, +1, 0, 0, -1}, // North: right is east, down is south
    {1, 0, -1, -1, 0}, // East: right is south, down is west
    {2, -1, 0, 0, +1}, // South: right is west, down is north
    {3, 0, +1, +1, 0}, // West: right is north, down is east
};

TEST(TileImage, NeighbouringTilesShowNeighbouringWorldPixels) {
  const int32_t x = 41990, y = 170590;
  for (const Neighbours &n : kNeighbours) {
    SCOPED_TRACE("dir " + std::to_string(n.Dir));
    const TileAddress tile{18, x, y, n.Dir};
    const TileAddress right{18, x + n.RightDx, y + n.RightDy, n.Dir};
    const TileAddress below{18, x + n.BelowDx, y + n.BelowDy, n.Dir};
    for (int i : {0, 100, kLast}) {
      int64_t ax, as, bx, bs;
      // Across the right edge: the two pixels are one world pixel apart.
      PictureToWorld(tile, kLast, i, ax, as);
      PictureToWorld(right, 0, i, bx, bs);
      EXPECT_EQ(std::abs(ax - bx) + std::abs(as - bs), 1) << "row " << i;
      // Across the bottom edge.
      PictureToWorld(tile, i, kLast, ax, as);
      PictureToWorld(below, i, 0, bx, bs);
      EXPECT_EQ(std::abs(ax - bx) + std::abs(as - bs), 1) << "column " << i;
    }
    // Inside a tile, neighbouring picture pixels are neighbouring world
    // pixels too (no mirrored half).
    int64_t ax, as, bx, bs;
    PictureToWorld(tile, 127, 5, ax, as);
    PictureToWorld(tile, 128, 5, bx, bs);
    EXPECT_EQ(std::abs(ax - bx) + std::abs(as - bs), 1);
  }
}

// The picture agrees with the quadkey: the child whose last digit is d
// shows the quadrant d of its parent's picture (0 top left, 1 top right,
// 2 bottom left, 3 bottom right) in the same orientation.
TEST(TileImage, ChildQuadrantsSitWhereTheirDigitSays) {
  for (int32_t dir = 0; dir < 4; ++dir) {
    const std::string parentKey = TileQuadkey(41994, 170596, 18, dir);
    const TileAddress parent = *DecodeTileQuadkey(parentKey, dir);
    for (int d = 0; d < 4; ++d) {
      SCOPED_TRACE("dir " + std::to_string(dir) + " digit " +
                   std::to_string(d));
      const auto child =
          DecodeTileQuadkey(parentKey + static_cast<char>('0' + d), dir);
      ASSERT_TRUE(child.has_value());
      const int qx = (d % 2) * 128, qy = (d / 2) * 128;
      for (auto [px, py] : {std::pair{10, 20}, std::pair{200, 60}}) {
        int64_t cx, cs, gx, gs;
        PictureToWorld(*child, px, py, cx, cs);
        PictureToWorld(parent, qx + px / 2, qy + py / 2, gx, gs);
        // One parent pixel covers two child pixels each way.
        EXPECT_EQ(cx / 2, gx);
        EXPECT_EQ(cs / 2, gs);
      }
    }
  }
}

TEST(TileImage, EdgesOfNeighbouringTilesJoinWithoutSeam) {
  for (const Neighbours &n : kNeighbours) {
    SCOPED_TRACE("dir " + std::to_string(n.Dir));
    const TileAddress tile{18, 41994, 170596, n.Dir};
    const std::string a = Render(tile);
    const std::string right =
        Render({18, tile.X + n.RightDx, tile.Y + n.RightDy, n.Dir});
    const std::string below =
        Render({18, tile.X + n.BelowDx, tile.Y + n.BelowDy, n.Dir});
    int worstAcross = 0, worstDown = 0, spread = 0;
    for (int i = 0; i < kTileSize; ++i) {
      worstAcross = std::max(
          worstAcross, Distance(PixelAt(a, kLast, i), PixelAt(right, 0, i)));
      worstDown = std::max(
          worstDown, Distance(PixelAt(a, i, kLast), PixelAt(below, i, 0)));
      spread =
          std::max(spread, Distance(PixelAt(a, 0, i), PixelAt(a, kLast, i)));
    }
    EXPECT_LE(worstAcross, 6);
    EXPECT_LE(worstDown, 6);
    // A picture that barely changes would pass the two checks above
    // whatever the tiles' placement: across one tile it changes plainly.
    EXPECT_GE(spread, 20);
  }
}

TEST(TileImage, TheFourDirectionsDiffer) {
  std::vector<std::string> pictures;
  for (int32_t dir = 0; dir < 4; ++dir)
    pictures.push_back(Render({18, 41994, 170596, dir}));
  for (int a = 0; a < 4; ++a)
    for (int b = a + 1; b < 4; ++b) {
      long total = 0;
      for (int py = 0; py < kTileSize; py += 8)
        for (int px = 0; px < kTileSize; px += 8)
          total += Distance(PixelAt(pictures[a], px, py),
                            PixelAt(pictures[b], px, py));
      EXPECT_GT(total / (32 * 32), 20) << "directions " << a << " and " << b;
    }
  // Each direction tints the same world pixel its own way.
  std::set<std::tuple<int, int, int>> colours;
  for (int32_t dir = 0; dir < 4; ++dir) {
    const Rgb c = WorldColour(1000, 2000, dir);
    colours.insert({c.R, c.G, c.B});
  }
  EXPECT_EQ(colours.size(), 4u);
}

// Decodes with libjpeg; empty on a decoder error.
struct DecodeJump {
  jpeg_error_mgr Base;
  std::jmp_buf Jump;
};
extern "C" void DecodeErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<DecodeJump *>(cinfo->err)->Jump, 1);
}
extern "C" void DecodeQuiet(j_common_ptr) {}
bool DecodeRgb(const std::string &jpeg, std::string &rgb, int &w, int &h) {
  jpeg_decompress_struct cinfo;
  DecodeJump err;
  cinfo.err = jpeg_std_error(&err.Base);
  err.Base.error_exit = DecodeErrorExit;
  err.Base.output_message = DecodeQuiet;
  if (setjmp(err.Jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char *>(jpeg.data()),
               jpeg.size());
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  w = static_cast<int>(cinfo.output_width);
  h = static_cast<int>(cinfo.output_height);
  rgb.resize(static_cast<size_t>(w) * h * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = reinterpret_cast<unsigned char *>(
        &rgb[static_cast<size_t>(cinfo.output_scanline) * w * 3]);
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

TEST(TileImage, JpegHoldsThePicture) {
  const TileAddress tile{17, 20993, 85297, 1};
  const std::string jpeg = TileJpeg(tile);
  std::string decoded;
  int w = 0, h = 0;
  ASSERT_TRUE(DecodeRgb(jpeg, decoded, w, h));
  ASSERT_EQ(w, kTileSize);
  ASSERT_EQ(h, kTileSize);
  const std::string rendered = Render(tile);
  long total = 0;
  for (int py = 0; py < kTileSize; ++py)
    for (int px = 0; px < kTileSize; ++px)
      total += Distance(PixelAt(decoded, px, py), PixelAt(rendered, px, py));
  // Rows in the wrong order or a wrong stride would be far off.
  EXPECT_LT(total / (kTileSize * kTileSize), 12);
}

// --- The service's answers -------------------------------------------------

HttpRequest Get(const std::string &target) {
  HttpRequest r;
  r.Method = "GET";
  r.Target = target;
  r.Version = "HTTP/1.1";
  return r;
}

const std::string kTile =
    "/tiles/svi" + TileQuadkey(41994, 170596, 18, 0) + "?g=5340&dir=dir_n";

TEST(SampleService, AnswersTilesAndNothingElse) {
  SampleService service;
  struct Row {
    std::string Target;
    int Status;
    const char *Fault;
  };
  const std::vector<Row> rows = {
      {kTile, 200, "a tile refused"},
      {"http://127.0.0.3:8080" + kTile, 200, "a proxy's whole URL refused"},
      {"/tiles/svi0123?g=5340&dir=dir_e", 200, "another direction refused"},
      {"/tiles/svi0124?g=5340&dir=dir_n", 404, "digit 4 taken"},
      {"/tiles/svi?g=5340&dir=dir_n", 404, "empty key taken"},
      {"/tiles/svi0123?g=5340&dir=dir_x", 404, "unknown direction taken"},
      {"/tiles/svi0123?g=5340&dir=dir_nn", 404, "trailing text taken"},
      {"/tiles/svi0123?g=1&dir=dir_n", 404, "other generation taken"},
      {"/tiles/svi0123", 404, "no query taken"},
      {"/", 404, "root taken"},
      {"/tiles/svi" + std::string(22, '0') + "?g=5340&dir=dir_n", 404,
       "zoom 22 taken"},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.Fault);
    const HttpResponse a = service.Handle(Get(r.Target));
    EXPECT_EQ(a.Status, r.Status);
    if (r.Status == 200) {
      EXPECT_EQ(a.Body.substr(0, 2), "\xFF\xD8");
    }
  }
  HttpRequest post = Get(kTile);
  post.Method = "POST";
  EXPECT_EQ(service.Handle(post).Status, 404);
  EXPECT_EQ(service.Stats().Unknown, 9u);
}

TEST(SampleService, FaultsAreDeterministicPerUrlAndAttempt) {
  SampleServiceOptions o;
  o.FaultRate = 0.1;
  o.Seed = 7;
  SampleService a(o), b(o);
  o.Seed = 8;
  SampleService other(o);
  int faults = 0, differ = 0;
  std::set<SampleFault> kinds;
  for (int i = 0; i < 4000; ++i) {
    const std::string target = "/tiles/svi" + std::to_string(i % 400);
    const uint64_t attempt = 1 + i / 400;
    const auto fa = a.FaultFor(target, attempt);
    EXPECT_EQ(fa, b.FaultFor(target, attempt)) << "same seed, other answer";
    differ += fa != other.FaultFor(target, attempt);
    if (fa) {
      ++faults;
      kinds.insert(*fa);
    }
  }
  EXPECT_GT(faults, 300) << "rate 0.1 over 4000 draws";
  EXPECT_LT(faults, 500);
  EXPECT_GT(differ, 100) << "the seed does not change the draw";
  EXPECT_EQ(kinds.size(), DefaultSampleFaults().size())
      << "some kinds never drawn";
  EXPECT_EQ(kinds.count(SampleFault::Forbidden), 0u)
      << "403 ends workers: not a default kind";
}

TEST(SampleService, FailFirstFailsEachUrlThenServes) {
  SampleServiceOptions o;
  o.FailFirst = 2;
  o.Faults = {SampleFault::ServerError};
  SampleService service(o);
  const std::string other = "/tiles/svi0123?g=5340&dir=dir_n";
  EXPECT_EQ(service.Handle(Get(kTile)).Status, 500);
  EXPECT_EQ(service.Handle(Get(other)).Status, 500) << "counted per URL";
  EXPECT_EQ(service.Handle(Get(kTile)).Status, 500);
  EXPECT_EQ(service.Handle(Get(kTile)).Status, 200);
  EXPECT_EQ(service.Handle(Get(kTile)).Status, 200);
  EXPECT_EQ(service.Handle(Get(other)).Status, 500);
  EXPECT_EQ(service.Handle(Get(other)).Status, 200);
  const SampleStats s = service.Stats();
  EXPECT_EQ(s.Requests, 7u);
  EXPECT_EQ(s.Tiles, 3u);
  EXPECT_EQ(s.Faults[static_cast<int>(SampleFault::ServerError)], 4u);
}

TEST(SampleService, EachFaultKindGivesItsAnswer) {
  const std::string good = SampleService().Handle(Get(kTile)).Body;
  struct Row {
    SampleFault Kind;
    int Status;
    HttpFault Action;
    const char *Label;
  };
  const Row rows[] = {
      {SampleFault::Reset, 200, HttpFault::Reset, "reset"},
      {SampleFault::NotFound, 404, HttpFault::None, "404 fault"},
      {SampleFault::ServerError, 500, HttpFault::None, "500"},
      {SampleFault::Forbidden, 403, HttpFault::None, "403"},
      {SampleFault::NotImage, 200, HttpFault::None, "200 notimage"},
      {SampleFault::Crashed, 200, HttpFault::None, "200 crashed"},
      {SampleFault::Truncated, 200, HttpFault::None, "200 truncated"},
      {SampleFault::Slow, 200, HttpFault::None, "200 slow"},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.Label);
    SampleServiceOptions o;
    o.FaultRate = 1;
    o.Faults = {r.Kind};
    o.SlowMs = 250;
    SampleService service(o);
    std::string label;
    const HttpResponse a = service.Handle(Get(kTile), &label);
    EXPECT_EQ(label, r.Label);
    EXPECT_EQ(a.Fault, r.Action);
    if (r.Action != HttpFault::None)
      continue;
    EXPECT_EQ(a.Status, r.Status);
    switch (r.Kind) {
    case SampleFault::NotImage:
      EXPECT_NE(a.Body.substr(0, 2), "\xFF\xD8");
      EXPECT_NE(a.Body.substr(0, 2), "\x89P");
      break;
    case SampleFault::Crashed: {
      EXPECT_EQ(a.Body.substr(0, 2), "\xFF\xD8");
      std::string rgb;
      int w, h;
      EXPECT_FALSE(DecodeRgb(a.Body, rgb, w, h)) << "crashed body decodes";
      break;
    }
    case SampleFault::Truncated: {
      // A real tile cut inside its image data: a prefix of the tile.
      EXPECT_LT(a.Body.size(), good.size());
      EXPECT_GT(a.Body.size(), good.size() / 3);
      EXPECT_EQ(good.compare(0, a.Body.size(), a.Body), 0);
      break;
    }
    case SampleFault::Slow:
      EXPECT_EQ(a.DelayMs, 250);
      EXPECT_EQ(a.Body, good);
      break;
    default:
      break;
    }
  }
}

TEST(SampleService, ParsesFaultLists) {
  EXPECT_EQ(
      ParseSampleFaults("reset,404"),
      (std::vector<SampleFault>{SampleFault::Reset, SampleFault::NotFound}));
  EXPECT_EQ(ParseSampleFaults("slow")->size(), 1u);
  EXPECT_FALSE(ParseSampleFaults("")) << "empty list";
  EXPECT_FALSE(ParseSampleFaults("reset,")) << "trailing comma";
  EXPECT_FALSE(ParseSampleFaults("reset,,404")) << "empty name";
  EXPECT_FALSE(ParseSampleFaults("timeout")) << "unknown kind";
}

} // namespace
} // namespace kestrane
