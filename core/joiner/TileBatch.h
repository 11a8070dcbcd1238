#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "inventory/TaskInventory.h"
#include "joiner/TileCodec.h"
#include "joiner/TileJoiner.h"
#include "tile/CheckedTiles.h"

namespace kestrane::joiner_detail {

// What a tile of a batch comes to.
enum class BatchTile : uint8_t {
  NotStored, // the inventory's state says so; nothing was read
  Gone,      // gone since the inventory was taken
  Carried,   // its bytes go in as they are
  Reencoded, // decoded and encoded once
  Damaged,   // it fails the workers' image check or does not decode
  Cancelled, // a stop request was met
};

// Stored tiles read in order by the calling thread, checked (and encoded
// where needed) on several threads at once, and handed back in order: the
// check of a tile costs several times its reading, so the writer keeps
// every core busy with it. A tile to be carried that `checked` vouches for
// passed the workers' check when it was stored, and is not decoded again.
// A batch holds at most 64 tiles a thread and 32 MiB of tile files.
class TileBatch {
public:
  // `options.Threads` threads, 0: one per core (at most 4).
  TileBatch(const TileForm &form, const JoinOptions &options,
            const CheckedTiles &checked);

  // Empties the batch.
  void Clear();
  // True when the batch takes no more tiles.
  bool Full() const;
  // Adds a tile: read from `path` when `state` says it is stored.
  void Add(TileState state, const std::string &path);
  // Checks and encodes the tiles added since Clear.
  void Prepare();

  size_t Size() const { return count_; }
  BatchTile Use(size_t k) const { return tiles_[k].Use; }
  TileState State(size_t k) const { return tiles_[k].State; }
  // The bytes that go in: the file's own, or the tile encoded again.
  // Counts tile k in `result`, as a problem of the inventory's state, gone
  // (missing), carried (and among them, checked before), re-encoded or
  // damaged; true when its bytes go in.
  bool CountIn(size_t k, JoinResult &result) const;
  const std::string &Bytes(size_t k) const {
    return tiles_[k].Use == BatchTile::Reencoded ? tiles_[k].Encoded
                                                 : tiles_[k].Bytes;
  }

private:
  struct Tile {
    TileState State = TileState::Missing;
    BatchTile Use = BatchTile::NotStored;
    bool CheckedBefore = false; // carried on the record's word
    FileStamp Stamp;
    std::string Bytes, Encoded;
  };

  const TileForm form_;
  const CheckedTiles &checked_;
  const StopFlag *cancel_;
  int threads_;
  std::vector<Tile> tiles_;
  size_t count_ = 0, bytes_ = 0;
};

} // namespace kestrane::joiner_detail
