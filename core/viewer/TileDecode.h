#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/StopSignal.h"

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

// Decodes a JPEG at 1/2^level of its size (level 0..3), within the bounds
// of the workers' image check (tile/JpegBounds.h). nullopt when the bytes
// are not a JPEG that decodes within them, or when `cancel` was requested
// meanwhile (the decoding is left within one row of blocks).
std::optional<Pixels> DecodeJpeg(std::string_view bytes, int level,
                                 const StopFlag *cancel = nullptr);

// The same from a tile's file; nullopt also when the file cannot be read or
// is a link (tile/TileRead.h).
std::optional<Pixels> DecodeTileFile(const std::string &path, int level);

// The largest tile file the viewer reads; a larger one counts as damaged.
inline constexpr size_t kMaxViewTileBytes = size_t{16} << 20;

// A size x size copy of `src`, each pixel the mean of the pixels it covers
// (a box filter; the source is at least that large in both directions or
// is sampled).
Pixels Shrink(const Pixels &src, int size);

// The mean colour of a picture, opaque.
uint32_t MeanColour(const Pixels &src);

} // namespace kestrane
