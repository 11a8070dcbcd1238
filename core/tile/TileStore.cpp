#include "tile/TileStore.h"

#include "platform/Files.h"

namespace kestrane {

bool StoreTileFile(int folderFd, const std::string &name,
                   std::string_view bytes, std::string *reason,
                   FileStamp *placed) {
  return WriteFileAtomicUnsyncedAt(folderFd, name, bytes, reason, placed);
}

} // namespace kestrane
