#include "joiner/TileBatch.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "joiner/PictureWriter.h"

namespace kestrane::joiner_detail {

namespace {

constexpr size_t kTilesPerThread = 64;
constexpr size_t kBatchFileBytes = size_t{32} * 1024 * 1024;

BatchTile UseOf(TileUse use) {
  switch (use) {
  case TileUse::Carried:
    return BatchTile::Carried;
  case TileUse::Reencoded:
    return BatchTile::Reencoded;
  case TileUse::Cancelled:
    return BatchTile::Cancelled;
  case TileUse::Damaged:
    break;
  }
  return BatchTile::Damaged;
}

} // namespace

TileBatch::TileBatch(const TileForm &form, const JoinOptions &options,
                     const CheckedTiles &checked)
    : form_(form), checked_(checked), cancel_(options.Cancel),
      threads_(std::clamp(
          options.Threads > 0
              ? options.Threads
              : static_cast<int>(std::thread::hardware_concurrency()),
          1, 4)),
      tiles_(kTilesPerThread * static_cast<size_t>(threads_)) {}

void TileBatch::Clear() {
  count_ = 0;
  bytes_ = 0;
}

bool TileBatch::Full() const {
  return count_ == tiles_.size() || bytes_ >= kBatchFileBytes;
}

void TileBatch::Add(TileState state, const std::string &path) {
  Tile &t = tiles_[count_++];
  t.State = state;
  t.Use = BatchTile::NotStored;
  t.CheckedBefore = false;
  if (state != TileState::Stored)
    return;
  if (!ReadTile(path, t.Bytes, &t.Stamp)) {
    t.Use = BatchTile::Gone;
    return;
  }
  t.Use = BatchTile::Damaged; // until Prepare says otherwise
  bytes_ += t.Bytes.size();
}

bool TileBatch::CountIn(size_t k, JoinResult &result) const {
  switch (tiles_[k].Use) {
  case BatchTile::NotStored:
    if (tiles_[k].State == TileState::Placeholder)
      ++result.Placeholder;
    else if (tiles_[k].State == TileState::Damaged)
      ++result.Damaged;
    else
      ++result.Missing;
    return false;
  case BatchTile::Gone:
    ++result.Missing;
    return false;
  case BatchTile::Carried:
    ++result.Carried;
    result.CheckedBefore += tiles_[k].CheckedBefore ? 1 : 0;
    return true;
  case BatchTile::Reencoded:
    ++result.Reencoded;
    return true;
  case BatchTile::Damaged:
  case BatchTile::Cancelled:
    break;
  }
  ++result.Damaged;
  return false;
}

void TileBatch::Prepare() {
  std::atomic<size_t> next{0};
  // Each thread takes the next tile read, with pixels of its own.
  auto work = [this, &next] {
    RgbTile rgb;
    for (size_t k = next++; k < count_; k = next++) {
      Tile &t = tiles_[k];
      if (t.Use != BatchTile::Damaged)
        continue;
      t.CheckedBefore = checked_.Vouches(t.Stamp, t.Bytes);
      t.Use = UseOf(PrepareTile(t.Bytes, form_, cancel_, rgb, t.Encoded,
                                t.CheckedBefore));
      t.CheckedBefore = t.CheckedBefore && t.Use == BatchTile::Carried;
    }
  };
  std::vector<std::thread> pool;
  for (int i = 1; i < threads_ && static_cast<size_t>(i) < count_; ++i)
    pool.emplace_back(work);
  work();
  for (std::thread &t : pool)
    t.join();
}

} // namespace kestrane::joiner_detail
