#include "sample/TileImage.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <utility>

#include <jpeglib.h>

#include "platform/Errors.h"

namespace kestrane {

namespace {

// Quadkey digit of the north-west, north-east, south-west and south-east
// child, per view direction: the quadrant's place in the picture seen
// looking that way.
constexpr int kQuadDigits[4][4] = {
    {0, 1, 2, 3}, // North: NW top left
    {2, 0, 3, 1}, // East: NE top left
    {3, 2, 1, 0}, // South: SE top left
    {1, 3, 0, 2}, // West: SW top left
};
enum Quadrant { kNW, kNE, kSW, kSE };

// The colour field is a sum of one part that varies eastward and one that
// varies southward, so that a tile's picture needs only one table per
// picture axis. Periods of several tiles keep neighbouring pixels within a
// fraction of a level of each other: edges join within JPEG tolerance.
struct AxisPart {
  int R = 0, G = 0, B = 0; // each within -90..90, so their sum plus 128
                           // stays within 0..255
  bool Line = false;       // on a grid line
};

int Level(double v) {
  return static_cast<int>(std::lround(v));
}

constexpr double kTwoPi = 2 * std::numbers::pi;

AxisPart EastPart(int64_t gx) {
  const double x = static_cast<double>(gx);
  AxisPart p;
  p.R = Level(60 * std::sin(kTwoPi * x / 2048));
  p.G = Level(30 * std::cos(kTwoPi * x / 1280));
  p.B = Level(45 * std::sin(kTwoPi * x / 3072 + 1));
  // Two pixels wide in the middle of each 64-pixel cell, so that tile edges
  // (multiples of 256) never fall on a line.
  const int64_t cell = ((gx % 64) + 64) % 64;
  p.Line = cell == 31 || cell == 32;
  return p;
}

AxisPart SouthPart(int64_t gs) {
  const double s = static_cast<double>(gs);
  AxisPart p;
  p.R = Level(30 * std::sin(kTwoPi * s / 1024));
  p.G = Level(60 * std::sin(kTwoPi * s / 1536 + 2));
  p.B = Level(45 * std::cos(kTwoPi * s / 2560));
  const int64_t cell = ((gs % 64) + 64) % 64;
  p.Line = cell == 31 || cell == 32;
  return p;
}

// Each direction gets its own tint so that the four pictures of one place
// differ beyond their rotation.
constexpr float kTint[4][3] = {
    {128, 128, 128}, // North: neutral
    {255, 150, 40},  // East: orange
    {40, 200, 90},   // South: green
    {70, 90, 255},   // West: blue
};
constexpr float kTintShare = 0.3f;

uint8_t Clamp(float v) {
  if (v <= 0)
    return 0;
  if (v >= 255)
    return 255;
  return static_cast<uint8_t>(v + 0.5f);
}

// The final colour of each field level, per channel, off and on a grid
// line, for one direction's tint: a pixel is then three additions and three
// look-ups.
class Palette {
public:
  explicit Palette(int32_t dir) {
    const float *tint = kTint[dir & 3];
    for (int line = 0; line < 2; ++line)
      for (int c = 0; c < 3; ++c)
        for (int v = 0; v < 256; ++v) {
          const float base = static_cast<float>(v) * (line ? 0.6f : 1.0f);
          levels_[line][c][v] =
              Clamp(base * (1 - kTintShare) + tint[c] * kTintShare);
        }
  }
  Rgb operator()(const AxisPart &east, const AxisPart &south) const {
    const int line = (east.Line || south.Line) ? 1 : 0;
    return Rgb{levels_[line][0][Index(east.R + south.R)],
               levels_[line][1][Index(east.G + south.G)],
               levels_[line][2][Index(east.B + south.B)]};
  }

private:
  static int Index(int field) { return std::clamp(128 + field, 0, 255); }
  uint8_t levels_[2][3][256];
};

// Block letters, 3 x 5 cells, one row per entry (bit 2 is the left cell).
struct Glyph {
  char C;
  std::array<uint8_t, 5> Rows;
};
constexpr Glyph kGlyphs[] = {
    {'0', {7, 5, 5, 5, 7}}, {'1', {2, 6, 2, 2, 7}}, {'2', {7, 1, 7, 4, 7}},
    {'3', {7, 1, 7, 1, 7}}, {'4', {5, 5, 7, 1, 1}}, {'5', {7, 4, 7, 1, 7}},
    {'6', {7, 4, 7, 5, 7}}, {'7', {7, 1, 1, 2, 2}}, {'8', {7, 5, 7, 5, 7}},
    {'9', {7, 5, 7, 1, 7}}, {'X', {5, 5, 2, 5, 5}}, {'Y', {5, 5, 2, 2, 2}},
    {'Z', {7, 1, 2, 4, 7}}, {'N', {6, 5, 5, 5, 5}}, {'E', {7, 4, 6, 4, 7}},
    {'S', {7, 4, 7, 1, 7}}, {'W', {5, 5, 5, 7, 5}},
};

const Glyph *FindGlyph(char c) {
  for (const Glyph &g : kGlyphs)
    if (g.C == c)
      return &g;
  return nullptr; // a blank
}

constexpr int kCell = 3;            // pixels per glyph cell
constexpr int kAdvance = 4 * kCell; // glyph and gap
constexpr int kLineHeight = 6 * kCell + 2;

void SetPixel(std::string &rgb, int px, int py, Rgb c) {
  const size_t i = (static_cast<size_t>(py) * kTileSize + px) * 3;
  rgb[i] = static_cast<char>(c.R);
  rgb[i + 1] = static_cast<char>(c.G);
  rgb[i + 2] = static_cast<char>(c.B);
}

// The label in the middle of the tile: its column, row, zoom and direction,
// dark letters on a light box. It stays well away from the tile's edges.
void DrawLabel(const TileAddress &tile, std::string &rgb) {
  static constexpr char kDirLetters[] = "NESW";
  // Appended piece by piece: GCC 12 reports a false -Wrestrict overlap for
  // "X" + std::to_string(...) in an optimised build.
  const auto labelled = [](char letter, int64_t value) {
    std::string line(1, letter);
    line += std::to_string(value);
    return line;
  };
  std::string zoomLine = labelled('Z', tile.Zoom);
  zoomLine += ' ';
  zoomLine += kDirLetters[tile.Dir & 3];
  const std::string lines[3] = {labelled('X', tile.X), labelled('Y', tile.Y),
                                std::move(zoomLine)};
  size_t longest = 0;
  for (const std::string &l : lines)
    longest = std::max(longest, l.size());
  const int width = static_cast<int>(longest) * kAdvance + kCell;
  const int height = 3 * kLineHeight + kCell;
  const int left = (kTileSize - width) / 2;
  const int top = (kTileSize - height) / 2;
  for (int py = top; py < top + height; ++py)
    for (int px = left; px < left + width; ++px) {
      const size_t i = (static_cast<size_t>(py) * kTileSize + px) * 3;
      for (int k = 0; k < 3; ++k) {
        const int v = static_cast<uint8_t>(rgb[i + k]);
        rgb[i + k] = static_cast<char>(v * 3 / 10 + 255 * 7 / 10);
      }
    }
  const Rgb ink{30, 30, 40};
  for (int line = 0; line < 3; ++line) {
    const int y0 = top + kCell + line * kLineHeight;
    for (size_t c = 0; c < lines[line].size(); ++c) {
      const Glyph *g = FindGlyph(lines[line][c]);
      if (!g)
        continue;
      const int x0 = left + kCell + static_cast<int>(c) * kAdvance;
      for (int row = 0; row < 5; ++row)
        for (int col = 0; col < 3; ++col) {
          if (!(g->Rows[row] & (4 >> col)))
            continue;
          for (int dy = 0; dy < kCell; ++dy)
            for (int dx = 0; dx < kCell; ++dx)
              SetPixel(rgb, x0 + col * kCell + dx, y0 + row * kCell + dy, ink);
        }
    }
  }
}

// libjpeg reports errors through a jump back into EncodeJpeg.
struct JpegErrorJump {
  jpeg_error_mgr Base;
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
};

extern "C" void JpegErrorExit(j_common_ptr cinfo) {
  auto *err = reinterpret_cast<JpegErrorJump *>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->Message);
  std::longjmp(err->Jump, 1);
}

// The encoding itself, free of objects with destructors so that the jump
// of an error leaves nothing behind. Returns false with the message in err.
bool Compress(const unsigned char *rgb, int width, int height, int quality,
              unsigned char **out, unsigned long *outSize, JpegErrorJump &err) {
  jpeg_compress_struct cinfo;
  cinfo.err = jpeg_std_error(&err.Base);
  err.Base.error_exit = JpegErrorExit;
  if (setjmp(err.Jump)) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, out, outSize);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<unsigned char *>(
        rgb + static_cast<size_t>(cinfo.next_scanline) * width * 3);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

} // namespace

int32_t DirFromLetter(char letter) {
  switch (letter) {
  case 'n':
    return 0;
  case 'e':
    return 1;
  case 's':
    return 2;
  case 'w':
    return 3;
  default:
    return -1;
  }
}

std::string TileQuadkey(int32_t x, int32_t y, int32_t zoom, int32_t dir) {
  const int *digits = kQuadDigits[dir & 3];
  std::string key;
  key.reserve(static_cast<size_t>(zoom));
  for (int32_t i = zoom - 1; i >= 0; --i) {
    const bool east = (x >> i) & 1;
    const bool north = (y >> i) & 1;
    const Quadrant q = north ? (east ? kNE : kNW) : (east ? kSE : kSW);
    key += static_cast<char>('0' + digits[q]);
  }
  return key;
}

std::optional<TileAddress> DecodeTileQuadkey(std::string_view quadkey,
                                             int32_t dir) {
  if (dir < 0 || dir > 3 || quadkey.empty() ||
      quadkey.size() > static_cast<size_t>(kMaxSampleZoom))
    return std::nullopt;
  // Quadrant of each digit for this direction.
  Quadrant quadrantOf[4];
  for (int q = kNW; q <= kSE; ++q)
    quadrantOf[kQuadDigits[dir][q]] = static_cast<Quadrant>(q);
  TileAddress tile;
  tile.Zoom = static_cast<int32_t>(quadkey.size());
  tile.Dir = dir;
  for (char c : quadkey) {
    if (c < '0' || c > '3')
      return std::nullopt;
    const Quadrant q = quadrantOf[c - '0'];
    tile.X = tile.X * 2 + ((q == kNE || q == kSE) ? 1 : 0);
    tile.Y = tile.Y * 2 + ((q == kNW || q == kNE) ? 1 : 0);
  }
  return tile;
}

Rgb WorldColour(int64_t gx, int64_t gs, int32_t dir) {
  return Palette(dir)(EastPart(gx), SouthPart(gs));
}

void PictureToWorld(const TileAddress &tile, int px, int py, int64_t &gx,
                    int64_t &gs) {
  const int64_t west = static_cast<int64_t>(tile.X) * kTileSize;
  // Rows of the world picture run southward from the northern limit.
  const int64_t rowFromNorth = ((int64_t{1} << tile.Zoom) - 1) - tile.Y;
  const int64_t north = rowFromNorth * kTileSize;
  const int last = kTileSize - 1;
  switch (tile.Dir & 3) {
  case 0: // North: up is north, right is east
    gx = west + px;
    gs = north + py;
    break;
  case 1: // East: up is east, right is south
    gx = west + (last - py);
    gs = north + px;
    break;
  case 2: // South: up is south, right is west
    gx = west + (last - px);
    gs = north + (last - py);
    break;
  default: // West: up is west, right is north
    gx = west + py;
    gs = north + (last - px);
    break;
  }
}

void RenderTile(const TileAddress &tile, std::string &rgb) {
  rgb.resize(static_cast<size_t>(kTileSize) * kTileSize * 3);
  // For North and South the picture's columns run east-west and its rows
  // north-south; for East and West the other way round.
  const bool columnsRunEast = (tile.Dir & 1) == 0;
  std::array<AxisPart, kTileSize> columnPart, rowPart;
  for (int i = 0; i < kTileSize; ++i) {
    int64_t gx, gs;
    PictureToWorld(tile, i, 0, gx, gs);
    columnPart[i] = columnsRunEast ? EastPart(gx) : SouthPart(gs);
    PictureToWorld(tile, 0, i, gx, gs);
    rowPart[i] = columnsRunEast ? SouthPart(gs) : EastPart(gx);
  }
  const Palette palette(tile.Dir);
  char *out = rgb.data();
  for (int py = 0; py < kTileSize; ++py)
    for (int px = 0; px < kTileSize; ++px, out += 3) {
      const AxisPart &east = columnsRunEast ? columnPart[px] : rowPart[py];
      const AxisPart &south = columnsRunEast ? rowPart[py] : columnPart[px];
      const Rgb c = palette(east, south);
      out[0] = static_cast<char>(c.R);
      out[1] = static_cast<char>(c.G);
      out[2] = static_cast<char>(c.B);
    }
  DrawLabel(tile, rgb);
}

std::string EncodeJpeg(const std::string &rgb, int width, int height,
                       int quality) {
  if (width <= 0 || height <= 0 ||
      rgb.size() < static_cast<size_t>(width) * height * 3)
    throw KError(ErrorCause::SystemFailed,
                 "JPEG encoder: no picture to encode");
  unsigned char *out = nullptr;
  unsigned long outSize = 0;
  JpegErrorJump err;
  err.Message[0] = '\0';
  const bool ok = Compress(reinterpret_cast<const unsigned char *>(rgb.data()),
                           width, height, quality, &out, &outSize, err);
  std::string jpeg;
  if (ok && out)
    jpeg.assign(reinterpret_cast<const char *>(out), outSize);
  std::free(out);
  if (!ok)
    throw KError(ErrorCause::SystemFailed,
                 std::string("JPEG encoder: ") + err.Message);
  return jpeg;
}

std::string TileJpeg(const TileAddress &tile, int quality) {
  thread_local std::string rgb; // one picture buffer per serving thread
  RenderTile(tile, rgb);
  return EncodeJpeg(rgb, kTileSize, kTileSize, quality);
}

} // namespace kestrane
