#include "tile/TileStore.h"

#include "platform/Files.h"

namespace kestrane {

bool StoreTileFile(const std::string &path, std::string_view bytes,
                   std::string *reason) {
  return WriteFileAtomicUnsynced(path, bytes, reason);
}

} // namespace kestrane
