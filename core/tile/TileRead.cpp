#include "tile/TileRead.h"

#include <fcntl.h>

#include "platform/Files.h"

namespace kestrane {

StoredTileRead ReadStoredTile(int dirFd, const char *name, size_t maxBytes,
                              std::string &out, FileStamp *stamp) {
  switch (ReadBoundedFile(dirFd, name, maxBytes, out, O_NOFOLLOW, stamp)) {
  case BoundedRead::Whole:
    return StoredTileRead::Whole;
  case BoundedRead::Missing:
    return StoredTileRead::Missing;
  case BoundedRead::Short:
  case BoundedRead::Unopened: // a link (O_NOFOLLOW), or no permission
  case BoundedRead::Refused:
    break;
  }
  return StoredTileRead::NotATile;
}

} // namespace kestrane
