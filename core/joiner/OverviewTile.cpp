#include "joiner/OverviewTile.h"

#include <algorithm>
#include <cstring>

#include "platform/Errors.h"

namespace kestrane::joiner_detail {

namespace {

constexpr int kTile = kTilePixels;

} // namespace

bool HasChildren(const Children &children) {
  return std::any_of(children.begin(), children.end(),
                     [](const SpoolEntry &c) { return c.ImageSize != 0; });
}

bool EncodeOverviewTile(const TileSpool &spool, const Children &children,
                        const TileEncoding &encoding, OverviewScratch &scratch,
                        std::string &out) {
  out.clear();
  if (!HasChildren(children))
    return true;
  RgbTile &tile = scratch.Tile;
  constexpr int kHalf = kTile / 2;
  bool any = false;
  tile.assign(size_t{kTile} * kTile * 3, 0);
  for (int q = 0; q < 4; ++q) {
    const SpoolEntry &c = children[static_cast<size_t>(q)];
    if (c.ImageSize == 0)
      continue;
    int w = 0, h = 0;
    if (!spool.ReadData(c.Image, c.ImageSize, scratch.Bytes) ||
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

bool BuildOverviewMask(const TileSpool &spool, const Children &children,
                       int width, int height, OverviewScratch &scratch,
                       std::string &out) {
  out.clear();
  MaskBits &mask = scratch.Mask;
  mask.fill(0);
  for (int q = 0; q < 4; ++q) {
    const SpoolEntry &c = children[static_cast<size_t>(q)];
    if (c.ImageSize == 0)
      continue; // no picture in that quarter
    if (c.MaskSize == 0) {
      ReduceIntoQuadrant(nullptr, q, mask);
      continue;
    }
    if (!spool.ReadData(c.Mask, c.MaskSize, scratch.Bytes) ||
        !InflateMask(scratch.Bytes, scratch.Child))
      return false;
    ReduceIntoQuadrant(&scratch.Child, q, mask);
  }
  if (!FullWithin(mask, width, height))
    DeflateMask(mask, out);
  return true;
}

} // namespace kestrane::joiner_detail
