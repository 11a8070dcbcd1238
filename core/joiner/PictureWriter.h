#pragma once
#include <cstdint>
#include <string>

#include "inventory/TaskInventory.h"
#include "joiner/CellStates.h"
#include "joiner/TileJoiner.h"
#include "platform/AtomicFile.h"
#include "tile/CheckedTiles.h"

namespace kestrane::joiner_detail {

// Reads a tile file whole into `out` (reused between calls); false when
// nothing is there. A link under the tile's name (never followed), a file
// over the joiner's bound for a tile, or anything else that is no regular
// file reads as empty (and so counts as damaged). `stamp`, when given,
// receives the stamp of the file read.
bool ReadTile(const std::string &path, std::string &out,
              FileStamp *stamp = nullptr);

// What the picture is made of: the task's view cells with the inventory's
// state of each, and the JPEG sampling the tiles are written with.
struct PictureInput {
  const DownloadTask &Task;
  const CellStates &Problems;
  const CheckedTiles &Checked; // the tiles the workers checked
  int HSampling = 2, VSampling = 2;
};

// Writes the whole picture into `out` (for `target`, named in failure
// texts) as a cloud-optimized GeoTIFF: the base level, the overviews when
// asked for and the masks of the empty tiles, counting the tiles in
// `result`. The tiles are first gathered in a spool beside the target, then
// laid out: the directories first, then the tiles from the smallest level
// to the picture. A classic TIFF while the file fits in its 32-bit offsets,
// else BigTIFF. False when cancelled. Throws KError when writing fails.
bool WritePicture(const PictureInput &input, const JoinOptions &options,
                  JoinResult &result, AtomicFile &out,
                  const std::string &target);

} // namespace kestrane::joiner_detail
