#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "joiner/MaskTile.h"
#include "joiner/TileCodec.h"
#include "joiner/TileSpool.h"

namespace kestrane::joiner_detail {

// How overview tiles are encoded: the JPEG sampling of the picture and the
// quality of re-encoded tiles.
struct TileEncoding {
  int HSampling = 2, VSampling = 2;
  int Quality = 85;
};

// Buffers one thread reuses from tile to tile.
struct OverviewScratch {
  RgbTile Tile, Half;
  std::string Bytes;
  MaskBits Mask{}, Child{};
};

// The four children of an overview tile in the level above it, where the
// spool holds them: top left, top right, bottom left, bottom right. A child
// outside that level has none.
using Children = std::array<SpoolEntry, 4>;

// Whether any of the children holds picture.
bool HasChildren(const Children &children);

// Builds an overview tile from its children, read back from `spool` and
// each decoded at half size, and encodes it into `out`; `out` stays empty
// when no child holds picture. False when encoding fails. Only reads the
// spool, so several threads may build tiles of one level at once.
bool EncodeOverviewTile(const TileSpool &spool, const Children &children,
                        const TileEncoding &encoding, OverviewScratch &scratch,
                        std::string &out);

// The tile's mask from its children's: a pixel holds picture when any of
// the four it stands for does. `out` gets the compressed mask, or stays
// empty when every pixel of the tile's top left `width` x `height` (its
// part of the level) holds picture. False when a child's mask cannot be
// read back.
bool BuildOverviewMask(const TileSpool &spool, const Children &children,
                       int width, int height, OverviewScratch &scratch,
                       std::string &out);

} // namespace kestrane::joiner_detail
