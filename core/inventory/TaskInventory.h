#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/StopSignal.h"
#include "task/DownloadTask.h"
#include "tile/TileName.h"

namespace kestrane {

// What stands in the tile folder for one tile.
enum class TileState : uint8_t {
  Stored,      // a file that is not the placeholder (and decodes, if checked)
  Placeholder, // byte for byte the program's blank image
  Damaged,     // a link under the tile's name, an empty file, or with the
               // decode check: fails the tile layer's image check
  Missing,     // no file
};

struct InventoryTile {
  int32_t X = 0, Y = 0; // tile column and row of the grid
  TileState State = TileState::Missing;
  bool Crashed = false; // a ".crashed" side file stands beside it
  bool Invalid = false; // a ".invalid" side file stands beside it
};

struct InventoryCounts {
  int64_t Total = 0, Stored = 0, Placeholder = 0, Damaged = 0, Missing = 0;
  int64_t SideFiles = 0; // tiles with a ".crashed" or ".invalid" beside them
  bool Complete() const { return Stored == Total; }
};

struct InventoryOptions {
  bool Decode = false; // run the image check on every stored tile
  int Threads = 0;     // decode threads; 0: one per core
  // Called now and then from the calling thread with tiles looked at so far.
  std::function<void(int64_t done, int64_t total)> Progress;
  const StopFlag *Cancel = nullptr; // stops the walk when requested
};

struct TaskInventory {
  InventoryCounts Counts;
  // Every tile that is not stored, and every stored tile with a side file,
  // in the workers' order. Tiles not listed are stored with no side file.
  std::vector<InventoryTile> Problems;
  bool Cancelled = false;
};

// The state of every tile of the task's block, from its tile folder alone.
// Memory grows with the problems only, not with the block.
TaskInventory TakeInventory(const DownloadTask &task,
                            const InventoryOptions &options = {});

// The counts of TakeInventory without the decode check, as the end of a
// task reports them; empty when the tile folder could not be read.
std::optional<InventoryCounts> CountTileFolder(const DownloadTask &task);

// Writes the failed-tile list (path "|" URL, CR LF) of every tile that is
// not stored, in the workers' order, replacing `listPath` atomically. The
// list's path is refused as RefuseAsOutput refuses it, before anything is
// written. Throws KError("Cannot create file " + path) on failure.
void WriteMissingList(const DownloadTask &task, const TaskInventory &inventory,
                      const std::string &listPath);

// The default name of that list: the task's base name + "_missing.ftl"
// beside the project file.
std::string MissingListPath(const std::string &projectFile);

// Refuses `output` as the path of a file written for the task (the joiner's
// picture, a list of missing tiles): one of the task's own files (its
// project file, log, failed-tile list, a tile list, or a tile or side file
// in its tile folder, by name or as the same file), or anything but a
// regular file (RefuseNonFileOutput). Throws KError(InputRefused, "Cannot
// create file " + output + ": it is the project file", "...: it is a FIFO",
// ...); nothing is written or changed.
void RefuseAsOutput(const DownloadTask &task, const std::string &output);

// The task's block and direction, for the tile layer's file names.
TileBlock TileBlockOf(const DownloadTask &task);

// Where a tile stands in the picture seen looking in the task's direction:
// column from ViewMinX at the left, row from ViewMaxY at the top, both 0
// based. The tile joiner and the tile viewer place tiles with it.
struct ViewCell {
  int64_t Column = 0, Row = 0;
};
ViewCell ViewPlacement(const DownloadTask &task, int32_t x, int32_t y);
// The picture's size in tiles.
inline int64_t ViewColumns(const DownloadTask &t) {
  return int64_t{t.ViewMaxX} - t.ViewMinX + 1;
}
inline int64_t ViewRows(const DownloadTask &t) {
  return int64_t{t.ViewMaxY} - t.ViewMinY + 1;
}

// The counts one to a line, as `kestrane-cli audit` and the end of a
// download print them: "Tiles in the block: 108", "Stored: 95",
// "Placeholders: 10", "Damaged: 0", "Missing: 3", "Side files: 2".
std::vector<std::string> InventorySummaryLines(const InventoryCounts &c);
// The same counts in one line, for a progress line: "95 of 108 tiles
// stored, 10 placeholders, 0 damaged, 3 missing, 2 side files".
std::string InventorySummaryLine(const InventoryCounts &c);

} // namespace kestrane
