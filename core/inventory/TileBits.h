#pragma once
#include <cstdint>
#include <vector>

#include "task/DownloadTask.h"

namespace kestrane::inventory_detail {

// One bit per tile of a band of the block, indexed by the tile's place in
// the workers' walk (columns from MinX, each column from MinY): a 16M-tile
// band takes 2 MB a plane, whatever the folder holds.
class BitPlane {
public:
  explicit BitPlane(int64_t tiles)
      : words_(static_cast<size_t>((tiles + 63) / 64), 0) {}
  bool Get(int64_t i) const {
    return (words_[static_cast<size_t>(i >> 6)] >> (i & 63)) & 1u;
  }
  void Set(int64_t i) { words_[static_cast<size_t>(i >> 6)] |= Bit(i); }
  void Clear(int64_t i) { words_[static_cast<size_t>(i >> 6)] &= ~Bit(i); }
  // Bits 64 w .. 64 w + 63; those past the plane's tiles are 0.
  uint64_t Word(size_t w) const { return words_[w]; }
  size_t Words() const { return words_.size(); }

private:
  static uint64_t Bit(int64_t i) { return uint64_t{1} << (i & 63); }
  std::vector<uint64_t> words_;
};

// What the folder listing found for each tile. A tile with none of File,
// Blank and Damaged has no file. For a task with an outline, Inside holds
// the tiles inside it (the listing keeps none of the others).
struct BlockPlanes {
  BlockPlanes(int64_t tiles, bool outlined)
      : File(tiles), Blank(tiles), Damaged(tiles), Crashed(tiles),
        Invalid(tiles), Inside(outlined ? tiles : 0), Outlined(outlined) {}
  uint64_t InsideWord(size_t w) const {
    return Outlined ? Inside.Word(w) : ~uint64_t{0};
  }
  bool IsInside(int64_t i) const { return !Outlined || Inside.Get(i); }
  BitPlane File;    // a regular file that is not the placeholder
  BitPlane Blank;   // byte for byte the placeholder
  BitPlane Damaged; // a file that cannot be a tile (set with File)
  BitPlane Crashed; // ".crashed" beside it
  BitPlane Invalid; // ".invalid" beside it
  BitPlane Inside;  // inside the outline (empty: no outline)
  const bool Outlined;
};

// The part of the workers' walk whose planes are held at once: walk
// indexes [Begin, End). A plane of a band is indexed from Begin.
struct WalkBand {
  int64_t Begin = 0, End = 0;
  int64_t Size() const { return End - Begin; }
};

// The walk index of a tile of the block, and back.
inline int64_t WalkIndex(const DownloadTask &t, int32_t x, int32_t y) {
  return (int64_t{x} - t.MinX) * (int64_t{t.MaxY} - t.MinY + 1) +
         (int64_t{y} - t.MinY);
}
inline void TileAt(const DownloadTask &t, int64_t index, int32_t *x,
                   int32_t *y) {
  const int64_t rows = int64_t{t.MaxY} - t.MinY + 1;
  *x = static_cast<int32_t>(t.MinX + index / rows);
  *y = static_cast<int32_t>(t.MinY + index % rows);
}

} // namespace kestrane::inventory_detail
