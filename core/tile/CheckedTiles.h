#pragma once
// The record of checked tiles, "<task>_checked.bin" beside the project
// file. A download worker that stores a JPEG whose body passed the image
// check appends the stored file's stamp (platform/FileStamp.h) and a hash
// of its bytes. The joiner then carries a tile whose file still has a
// recorded stamp and hash without decoding it again. A tile missing from
// the record, or changed since it was recorded, is decoded as before, so
// the record only ever saves work: a lost, damaged or foreign record costs
// time, never a tile that does not decode.
//
// The file: a line of 32 bytes naming the layout, then entries of 32 bytes
// each, four little-endian 64-bit numbers: inode, size, change time in
// nanoseconds, and the XXH3 hash of the bytes. A torn last entry is left
// out.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileStamp.h"
#include "platform/UniqueFd.h"

namespace kestrane {

// The joiner reads at most this many entries (16 bytes each in memory);
// tiles beyond them are decoded.
inline constexpr size_t kMaxCheckedEntries = size_t{1} << 20;

// The hash of a tile's bytes kept with its stamp.
uint64_t TileBytesHash(std::string_view bytes);

// Creates the record, mode 0600 and its header in place from the start,
// when nothing is at `path`. The task's files are written with it, before
// any worker runs; a record that cannot be created costs only time.
void CreateCheckedTiles(const std::string &path);

// The record, open for appending. Every worker of a task holds one; whole
// entries appended by several threads or processes never interleave. The
// record is only written when it is a private regular file of this user
// (or of root) of this layout: mode without write for group and others,
// one link, no symbolic link. Otherwise nothing is recorded, and the
// joiner decodes.
class CheckedTileRecord {
public:
  // Opens the record that CreateCheckedTiles made (nothing is created).
  explicit CheckedTileRecord(const std::string &path);
  bool Open() const { return fd_.Valid(); }
  // Records that the file with `stamp` holds `bytes`, which passed the
  // image check. A zero stamp (the file could not be told) is left out.
  void Add(const FileStamp &stamp, std::string_view bytes);

private:
  UniqueFd fd_;
};

// The record as read back: the stored files it vouches for.
class CheckedTiles {
public:
  CheckedTiles() = default; // vouches for nothing

  // The record at `path`, its first `maxEntries` entries. A record that is
  // missing, not private to this user or root (as above), or of another
  // layout vouches for nothing.
  static CheckedTiles Read(const std::string &path,
                           size_t maxEntries = kMaxCheckedEntries);

  // Whether the file with `stamp`, read as `bytes`, is one recorded as
  // checked: its inode, size, change time and hash are an entry's.
  bool Vouches(const FileStamp &stamp, std::string_view bytes) const;
  size_t Size() const { return entries_.size(); }

private:
  struct Entry {
    uint64_t Inode, Digest;
    auto operator<=>(const Entry &) const = default;
  };
  std::vector<Entry> entries_; // sorted
};

// Removes the record: a fresh task of the same name starts its own.
void RemoveCheckedTiles(const std::string &path);

} // namespace kestrane
