#include "viewer/TileCache.h"

namespace kestrane {

namespace {
// What an entry costs beyond its pixels (list node, map node, picture
// header); it also makes entries without a picture count.
constexpr size_t kEntryOverhead = 128;
} // namespace

const std::shared_ptr<const Pixels> *TileCache::Find(const TileKey &key) {
  const auto it = map_.find(key);
  if (it == map_.end())
    return nullptr;
  order_.splice(order_.begin(), order_, it->second);
  return &it->second->Image;
}

void TileCache::Put(const TileKey &key, std::shared_ptr<const Pixels> pixels) {
  if (const auto it = map_.find(key); it != map_.end())
    Erase(it->second);
  const size_t bytes = kEntryOverhead + (pixels ? pixels->Bytes() : 0);
  order_.push_front(Entry{key, std::move(pixels), bytes});
  map_.emplace(key, order_.begin());
  bytes_ += bytes;
  // The newest entry stays even when it alone passes the limit.
  while (bytes_ > limit_ && order_.size() > 1)
    Erase(std::prev(order_.end()));
}

void TileCache::EraseCell(int64_t cell) {
  for (int level = 0; level <= kMaxViewLevel; ++level)
    if (const auto it = map_.find(TileKey{cell, level}); it != map_.end())
      Erase(it->second);
}

void TileCache::Clear() {
  map_.clear();
  order_.clear();
  bytes_ = 0;
}

void TileCache::Erase(std::list<Entry>::iterator it) {
  bytes_ -= it->Bytes;
  map_.erase(it->Key);
  order_.erase(it);
}

} // namespace kestrane
