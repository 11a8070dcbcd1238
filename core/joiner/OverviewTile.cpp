#include "joiner/OverviewTile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "platform/Errors.h"

namespace kestrane::joiner_detail {

namespace {

constexpr int kTile = kTilePixels;

// Reads `size` bytes at `offset` of the file; false when they cannot all be
// read.
bool PreadWhole(int fd, uint64_t offset, uint64_t size, std::string &out) {
  out.resize(size);
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(fd, out.data() + got, size - got,
                              static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

} // namespace

Level MakeLevel(int64_t width, int64_t height) {
  Level l;
  l.Width = width;
  l.Height = height;
  l.Across = (width + kTile - 1) / kTile;
  l.Down = (height + kTile - 1) / kTile;
  return l;
}

bool EncodeOverviewTile(int fd, const Level &from, const Level &to,
                        int64_t index, const TileEncoding &encoding,
                        OverviewScratch &scratch, std::string &out) {
  out.clear();
  RgbTile &tile = scratch.Tile;
  const int64_t ox = index % to.Across, oy = index / to.Across;
  constexpr int kHalf = kTile / 2;
  bool any = false;
  tile.assign(size_t{kTile} * kTile * 3, 0);
  for (int q = 0; q < 4; ++q) {
    const int64_t cx = 2 * ox + (q & 1), cy = 2 * oy + (q >> 1);
    if (cx >= from.Across || cy >= from.Down)
      continue;
    const size_t c = static_cast<size_t>(cy * from.Across + cx);
    if (c >= from.Sizes.size() || from.Sizes[c] == 0)
      continue;
    int w = 0, h = 0;
    if (!PreadWhole(fd, from.Offsets[c], from.Sizes[c], scratch.Bytes) ||
        !DecodeJpegScaled(scratch.Bytes, 2, scratch.Half, w, h))
      continue;
    any = true;
    // The child's quarter of the tile: left or right half, top or bottom.
    const size_t left = static_cast<size_t>(q & 1) * kHalf;
    const size_t top = static_cast<size_t>(q >> 1) * kHalf;
    for (int yy = 0; yy < std::min(h, kHalf); ++yy)
      std::memcpy(&tile[((top + static_cast<size_t>(yy)) * kTile + left) * 3],
                  &scratch.Half[static_cast<size_t>(yy) * w * 3],
                  static_cast<size_t>(std::min(w, kHalf)) * 3);
  }
  if (!any)
    return true;
  try {
    EncodeTileJpeg(tile, encoding.HSampling, encoding.VSampling,
                   encoding.Quality, out);
  } catch (const KError &) {
    return false;
  }
  return true;
}

} // namespace kestrane::joiner_detail
