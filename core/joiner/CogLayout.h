#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kestrane::joiner_detail {

// The size in pixels of one tile grid of the picture file: the picture or
// one of its reduced levels, in tiles of 256 x 256.
struct GridSize {
  int64_t Width = 0, Height = 0;
  int64_t Across() const { return (Width + 255) / 256; }
  int64_t Down() const { return (Height + 255) / 256; }
  int64_t Tiles() const { return Across() * Down(); }
};

// What the directories of a cloud-optimized picture file describe.
struct CogShape {
  std::vector<GridSize> Levels; // the picture, then each reduced level
  bool Masks = false;           // every level has a mask
  bool BigTiff = false;
  int HSampling = 2, VSampling = 2; // of the JPEG tiles
  bool Georeferenced = false;       // Web Mercator keys on the picture
  double Scale[3] = {};             // metres a pixel (x, y, z)
  double Tie[6] = {};               // a raster point and its model point
};

// Where the offsets and the byte counts of one directory's tiles go: each
// an array of one entry per tile, row by row.
struct TileArrays {
  uint64_t Offsets = 0, Counts = 0;
};

// The start of the file, up to its first tile: the TIFF header, the
// structural metadata that tells readers how the tiles are laid out, and
// every directory with its values, the picture's first and then its mask,
// the reduced levels from the largest and then their masks. The tile
// arrays follow the directories; their content is not in Bytes.
struct CogHeader {
  std::string Bytes;
  std::vector<TileArrays> Images, Masks; // by level; Masks empty without
  unsigned EntryBytes = 4;               // of an array entry: 4, or 8
  uint64_t DataStart = 0;                // where the first block goes
};

// Lays out the directories of `shape`.
CogHeader LayOutCog(const CogShape &shape);

// Every tile's data is a block: its size in the 4 bytes before it and its
// last 4 bytes repeated after it, so that a reader fetching a tile with
// one request can check what came.
inline constexpr uint64_t kBlockLeader = 4, kBlockTrailer = 4;

} // namespace kestrane::joiner_detail
