#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "joiner/TileCodec.h"

namespace kestrane::joiner_detail {

// One tile grid of the picture file: the base picture or a reduced level.
struct Level {
  int64_t Width = 0, Height = 0;        // pixels
  int64_t Across = 0, Down = 0;         // tiles
  std::vector<uint64_t> Offsets, Sizes; // of the written tiles, 0: none
};

Level MakeLevel(int64_t width, int64_t height);

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
};

// Builds overview tile `index` of level `to` from its four children in
// `from`, read back from the picture file `fd` and each decoded at half
// size, and encodes it into `out`; `out` stays empty when no child holds
// picture. False when encoding fails. Only reads the file, so several
// threads may build tiles of one level at once.
bool EncodeOverviewTile(int fd, const Level &from, const Level &to,
                        int64_t index, const TileEncoding &encoding,
                        OverviewScratch &scratch, std::string &out);

} // namespace kestrane::joiner_detail
