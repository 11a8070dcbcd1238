#include "tile/TileStore.h"

#include "platform/Files.h"

namespace kestrane {

bool StoreTileFile(const std::string &path, std::string_view bytes,
                   std::string *reason) {
  return WriteFileAtomicUnsynced(path, bytes, reason);
}

bool StoreTileFileIf(const std::string &path, std::string_view bytes,
                     const std::function<bool()> &keep, std::string *reason) {
  return WriteFileAtomicUnsyncedIf(path, bytes, keep, reason);
}

} // namespace kestrane
