#pragma once
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>

#include "viewer/TileDecode.h"

namespace kestrane {

// One decoded tile: the cell's index in the view grid and its decode level.
struct TileKey {
  int64_t Cell = 0;
  int Level = 0;
  bool operator==(const TileKey &) const = default;
};

struct TileKeyHash {
  size_t operator()(const TileKey &k) const noexcept {
    return std::hash<int64_t>()(k.Cell * 8 + k.Level);
  }
};

// Decoded tiles, the least recently used dropped first once their bytes
// pass the limit, so memory stays bounded whatever the block's size. An
// entry without a picture remembers that the tile did not decode (no file,
// or damaged) so that it is not read again at every frame. Used from one
// thread.
class TileCache {
public:
  explicit TileCache(size_t limitBytes) : limit_(limitBytes) {}

  // The entry, or nullptr when there is none. An entry found counts as used.
  const std::shared_ptr<const Pixels> *Find(const TileKey &key);
  bool Contains(const TileKey &key) const { return map_.count(key) != 0; }
  // `pixels` null: the tile has no picture.
  void Put(const TileKey &key, std::shared_ptr<const Pixels> pixels);
  // Drops every level of one cell (its file changed).
  void EraseCell(int64_t cell);
  void Clear();

  size_t Bytes() const { return bytes_; }
  size_t Count() const { return map_.size(); }
  size_t Limit() const { return limit_; }

private:
  struct Entry {
    TileKey Key;
    std::shared_ptr<const Pixels> Image;
    size_t Bytes;
  };
  void Erase(std::list<Entry>::iterator it);

  size_t limit_;
  size_t bytes_ = 0;
  std::list<Entry> order_; // most recently used first
  std::unordered_map<TileKey, std::list<Entry>::iterator, TileKeyHash> map_;
};

} // namespace kestrane
