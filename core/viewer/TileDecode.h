#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane {

// A picture in memory: rows from the top, one 0xAARRGGBB word per pixel
// (the layout a window system draws without converting).
struct Pixels {
  int Width = 0, Height = 0;
  std::vector<uint32_t> Data;
  size_t Bytes() const { return Data.size() * sizeof(uint32_t); }
  bool Empty() const { return Width == 0 || Height == 0; }
};

// The tile's nominal size in pixels; pictures of another size are scaled
// into a tile's place.
inline constexpr int kViewTileSize = 256;

// Decode levels: level L reads the JPEG at 1/2^L of its size, which the
// decoder does for 1/2, 1/4 and 1/8 at a fraction of the full cost.
inline constexpr int kMaxDecodeLevel = 3;
// View levels go on halving by shrinking the 1/8 decode, down to 4 pixels
// a tile: a view of many small cells then holds about one window's worth
// of pixels in the cache, whatever the zoom.
inline constexpr int kMaxViewLevel = 6;

// Decodes a JPEG at 1/2^level of its size (level 0..3). nullopt when the
// bytes are not a JPEG that decodes, or would be larger than any tile.
std::optional<Pixels> DecodeJpeg(std::string_view bytes, int level);

// The same from a file; nullopt also when the file cannot be read.
std::optional<Pixels> DecodeTileFile(const std::string &path, int level);

// A size x size copy of `src`, each pixel the mean of the pixels it covers
// (a box filter; the source is at least that large in both directions or
// is sampled).
Pixels Shrink(const Pixels &src, int size);

// The mean colour of a picture, opaque.
uint32_t MeanColour(const Pixels &src);

} // namespace kestrane
