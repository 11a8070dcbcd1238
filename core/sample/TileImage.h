#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrane {

// The pictures of the sample tile service. Every tile shows its part of one
// continuous world picture, so that neighbouring tiles join without seams
// when stitched, seen in the tile's view direction: a smooth colour field
// with grid lines every 64 pixels, tinted by the direction, and a label with
// the tile's own column, row, zoom and direction in block letters.

// One tile of the grid as the service is asked for it: zoom, column X
// (eastward) and row Y (northward, 0 at the grid's southern limit), and the
// view direction (0 North, 1 East, 2 South, 3 West).
struct TileAddress {
  int32_t Zoom = 1;
  int32_t X = 0;
  int32_t Y = 0;
  int32_t Dir = 0;
  bool operator==(const TileAddress &) const = default;
};

inline constexpr int kTileSize = 256;
inline constexpr int32_t kMaxSampleZoom = 21;

// 0..3 for "n", "e", "s", "w"; -1 for anything else.
int32_t DirFromLetter(char letter);

// The quadkey under which the service offers (x, y) at `zoom` for `dir`:
// one digit per level, most significant first; each digit is the position of
// the child quadrant in the picture seen looking that way (0 top left, 1 top
// right, 2 bottom left, 3 bottom right). For North this is the usual quadtree
// key of the tile counted from the north.
std::string TileQuadkey(int32_t x, int32_t y, int32_t zoom, int32_t dir);
// The reverse: nullopt for an empty key, a key longer than kMaxSampleZoom, a
// digit outside 0..3 or a direction outside 0..3.
std::optional<TileAddress> DecodeTileQuadkey(std::string_view quadkey,
                                             int32_t dir);

struct Rgb {
  uint8_t R = 0, G = 0, B = 0;
  bool operator==(const Rgb &) const = default;
};

// The world picture at a global pixel of the zoom level: gx counted eastward
// from longitude -180, gs southward from the grid's northern limit, before
// any label is drawn. `dir` chooses the tint.
Rgb WorldColour(int64_t gx, int64_t gs, int32_t dir);

// The global pixel that the picture pixel (px from the left, py from the
// top) of a tile shows, for the tile's view direction.
void PictureToWorld(const TileAddress &tile, int px, int py, int64_t &gx,
                    int64_t &gs);

// The tile's picture, kTileSize x kTileSize RGB pixels, rows from the top,
// into `rgb` (resized to fit): the world picture with the label.
void RenderTile(const TileAddress &tile, std::string &rgb);

// A baseline JPEG of RGB pixels (rows from the top). Throws KError when the
// encoder fails.
std::string EncodeJpeg(const std::string &rgb, int width, int height,
                       int quality);

// RenderTile and EncodeJpeg at the given quality.
std::string TileJpeg(const TileAddress &tile, int quality = 80);

} // namespace kestrane
