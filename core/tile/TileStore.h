#pragma once
#include <string>
#include <string_view>

#include "platform/FileStamp.h"

namespace kestrane {

// Writes a tile's bytes (or a side file's) as the file `name` of the tile
// folder held open as `folderFd` (platform/Files.h, OpenFolder): the file
// lands in the folder that was opened, even when the folder's path is
// given to a link or another folder during a request. Atomically, so the
// file is the old one or the whole new one even after a crash of the
// process, but without waiting for the disk. The tiles of a task are many,
// and waiting for each costs more than fetching it; SyncFileSystem settles
// them in one call before their progress is recorded. On failure returns
// false and sets `reason` to the system's text; the old file then stays.
// `placed`, when given, receives the stamp of the stored file (zero when
// another file took its place at once), for the record of checked tiles.
bool StoreTileFile(int folderFd, const std::string &name,
                   std::string_view bytes, std::string *reason = nullptr,
                   FileStamp *placed = nullptr);

} // namespace kestrane
