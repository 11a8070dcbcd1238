#pragma once
#include <cstddef>
#include <string>

#include "platform/FileStamp.h"

namespace kestrane {

// How reading a stored tile's file ended.
enum class StoredTileRead {
  Whole,    // `out` holds every byte of the file
  Missing,  // nothing stands under the tile's name
  NotATile, // something stands there that is no tile's file: a link, a
            // folder, a FIFO, a device, a file that cannot be opened or
            // read whole, or one larger than the bound
};

// Reads the file of a stored tile, `name` in the folder open as `dirFd` (or
// a path, with AT_FDCWD), whole into `out`, which a caller reading many
// tiles reuses. A link standing under a tile's name is never followed:
// whatever it points at is no tile of the task, and the inventory, the
// joiner and the viewer count it as damaged. A FIFO is not waited for, and
// memory stays bounded by `maxBytes`. `stamp`, when given, receives the
// stamp of the file read (platform/FileStamp.h).
StoredTileRead ReadStoredTile(int dirFd, const char *name, size_t maxBytes,
                              std::string &out, FileStamp *stamp = nullptr);

} // namespace kestrane
