#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/AtomicFile.h"

namespace kestrane::joiner_detail {

// Where one tile's data lies in the spool; a size of 0: none. A tile with
// an image and no mask is whole: every pixel of it holds picture.
struct SpoolEntry {
  uint64_t Image = 0, ImageSize = 0, Mask = 0, MaskSize = 0;
};

// The tiles of the picture's levels as they are made, before the picture
// file is laid out: the data appended to one temporary file beside the
// picture, and one entry per tile, level after level, in another. Both
// take the program's temporary-file form, so a killed join leaves nothing
// that the next one does not remove, and memory stays the same whatever
// the size of the block.
class TileSpool {
public:
  // Throws KError(CannotWrite) naming `target` when the files cannot be
  // created.
  explicit TileSpool(const std::string &target);

  // Starts the next level; the one before is complete.
  void BeginLevel();
  // The level's next tile, row by row: its image (empty: none) and its
  // compressed mask when not every pixel holds picture (empty: whole).
  void Add(std::string_view image, std::string_view mask = {});
  // Writes out what is pending; the level's entries can then be read.
  void EndLevel();

  // Entries [first, first + count) of a completed level.
  void ReadEntries(int level, int64_t first, int64_t count,
                   SpoolEntry *out) const;
  // `size` bytes of the data at `offset` into `out`; false when they
  // cannot be read. Several threads may read at once.
  bool ReadData(uint64_t offset, uint64_t size, std::string &out) const;
  // Up to `size` bytes at `offset` into `out`, fewer at the data's end or
  // on a read error; returns how many.
  uint64_t ReadUpTo(uint64_t offset, uint64_t size, std::string &out) const;
  // Gives the disk space of data already copied back (best effort).
  void Release(uint64_t offset, uint64_t size);

  // What the tiles added so far hold.
  struct Totals {
    int64_t Tiles = 0; // with an image
    int64_t Masks = 0; // with a mask of their own
    uint64_t ImageBytes = 0, MaskBytes = 0;
  };
  const Totals &Sum() const { return totals_; }

private:
  [[noreturn]] void Fail(const std::string &what, int e) const;
  void Put(int fd, const char *data, size_t size, uint64_t offset) const;
  void FlushData();
  void FlushEntries();

  std::string target_;
  AtomicFile data_, index_;
  std::string pending_;             // data not yet written
  uint64_t dataWritten_ = 0;        // bytes of data in the file
  std::vector<SpoolEntry> entries_; // entries not yet written
  int64_t entriesWritten_ = 0;
  std::vector<int64_t> levelStart_; // entry number of each level's first
  Totals totals_;
};

} // namespace kestrane::joiner_detail
