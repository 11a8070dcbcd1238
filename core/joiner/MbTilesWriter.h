#pragma once
#include <cstdint>
#include <string>

#include "joiner/PictureWriter.h"
#include "platform/AtomicFile.h"

namespace kestrane::joiner_detail {

// The most bytes an MBTiles file can take: SQLite's largest database (its
// largest page size times its most pages).
uint64_t MbTilesCapacity();

// Writes the task's tiles into an MBTiles 1.3 database in `out`'s
// temporary file (for `target`, named in failure texts): every stored tile
// at the task's zoom, JPEG tiles byte for byte and others encoded once as
// JPEG, the row counted from the south as the format wants; then
// `options.Levels` lower zooms, each tile built from the four below it;
// then the metadata. Tiles that are not stored are left out, and counted
// in `result`. False when cancelled. Throws KError when writing fails.
bool WriteMbTiles(const PictureInput &input, const JoinOptions &options,
                  JoinResult &result, AtomicFile &out,
                  const std::string &target);

} // namespace kestrane::joiner_detail
