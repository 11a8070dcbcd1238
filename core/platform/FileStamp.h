#pragma once
#include <cstdint>

struct stat;

namespace kestrane {

// What tells one state of a file from any other: its inode, its size and
// the time of its last change (nanoseconds). The change time moves with
// every write, rename, link or change of mode, and no user can set it, so
// a file that still has the stamp taken of it is the same file with the
// same bytes.
struct FileStamp {
  uint64_t Inode = 0;
  uint64_t Size = 0;
  int64_t ChangedNs = 0;
  bool operator==(const FileStamp &) const = default;
};

FileStamp StampOf(const struct stat &st);

} // namespace kestrane
