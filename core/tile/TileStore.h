#pragma once
#include <string>
#include <string_view>

namespace kestrane {

// Writes a tile's bytes (or a side file's) into the tile folder: atomically,
// so the file is the old one or the whole new one even after a crash of the
// process, but without waiting for the disk. The tiles of a task are many,
// and waiting for each costs more than fetching it; SyncFileSystem settles
// them in one call before their progress is recorded. On failure returns
// false and sets `reason` to the system's text; the old file then stays.
bool StoreTileFile(const std::string &path, std::string_view bytes,
                   std::string *reason = nullptr);

} // namespace kestrane
