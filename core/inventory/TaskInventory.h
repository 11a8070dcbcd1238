#pragma once
#include <cstdint>
#include <functional>
#include <memory>
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

// The tiles of the task: those of the block inside its outline (every tile
// of a block without one). A tile outside the outline is neither stored nor
// missing, whatever its folder holds; it is counted in Outside alone.
struct InventoryCounts {
  int64_t Total = 0, Stored = 0, Placeholder = 0, Damaged = 0, Missing = 0;
  int64_t SideFiles = 0; // tiles with a ".crashed" or ".invalid" beside them
  bool Outlined = false; // the task has an outline
  int64_t Outside = 0;   // tiles of the block outside it
  bool Complete() const { return Stored == Total; }
};

struct InventoryOptions {
  bool Decode = false; // run the image check on every stored tile
  int Threads = 0;     // decode threads; 0: one per core
  // Called now and then from the calling thread with tiles looked at so far.
  std::function<void(int64_t done, int64_t total)> Progress;
  const StopFlag *Cancel = nullptr; // stops the walk when requested
  // Tiles whose states are held in memory at once (0: kInventoryBandTiles):
  // a larger block is looked at band by band, its folder listed once a band.
  int64_t BandTiles = 0;
};

// 2^27 tiles: five bit planes of 16 MiB, whatever the block's size.
inline constexpr int64_t kInventoryBandTiles = int64_t{1} << 27;

struct TaskInventory {
  InventoryCounts Counts;
  // Every tile that is not stored, and every stored tile with a side file,
  // in the workers' order. Tiles not listed are stored with no side file.
  std::vector<InventoryTile> Problems;
  bool Cancelled = false;
};

// Receives the tiles of an inventory that are not stored, or have a side
// file, one at a time in the workers' order.
using ProblemVisitor = std::function<void(const InventoryTile &)>;

namespace inventory_detail {
struct BlockPlanes;
}

// The inventory of a block of any size in bounded memory: the block is
// looked at band by band (InventoryOptions::BandTiles), and its tiles that
// are not stored are handed over as they are found rather than held.
class InventoryWalk {
public:
  InventoryWalk(const DownloadTask &task, InventoryOptions options = {});
  ~InventoryWalk();
  InventoryWalk(const InventoryWalk &) = delete;
  InventoryWalk &operator=(const InventoryWalk &) = delete;

  // Looks at every tile of the block, counting them, and hands `visit` (when
  // given) every tile that is not stored or has a side file. False when
  // cancelled. Throws KError when the tile folder exists but cannot be read.
  bool Run(const ProblemVisitor &visit = {});
  // The counts of the last Run.
  const InventoryCounts &Counts() const { return counts_; }
  // Hands `visit` those tiles once more, in the same order: a block of one
  // band from what Run found, a larger one by looking at its bands again
  // (a tile changed since then is handed over as it is now). False when
  // cancelled.
  bool Replay(const ProblemVisitor &visit);

private:
  int64_t Bands() const;
  bool Look(int64_t band);
  void Count();
  bool Visit(const ProblemVisitor &visit) const;

  const DownloadTask &task_;
  const InventoryOptions options_;
  int64_t bandTiles_;
  std::unique_ptr<inventory_detail::BlockPlanes> planes_;
  int64_t held_ = -1;     // the band whose planes are held; -1: none
  int64_t heldTiles_ = 0; // tiles of that band
  InventoryCounts counts_;
};

// The state of every tile of the task's block, from its tile folder alone.
// Memory grows with the problems (and with the block up to a band).
TaskInventory TakeInventory(const DownloadTask &task,
                            const InventoryOptions &options = {});

// The counts of TakeInventory without the decode check, as the end of a
// task reports them; empty when the tile folder could not be read.
std::optional<InventoryCounts> CountTileFolder(const DownloadTask &task);

// Hands each tile of an inventory's problems to the visitor given, as
// InventoryWalk::Replay does; false when cancelled.
using ProblemWalk = std::function<bool(const ProblemVisitor &)>;

// Writes the failed-tile list (path "|" URL, CR LF) of every tile `walk`
// hands over that is not stored (`notStored` of them), in the workers'
// order, replacing `listPath` atomically. The list's path is refused as
// RefuseAsOutput refuses it, and a list over 1 GB as CheckRoomFor does,
// before anything is written. False, with nothing written, when `cancel`
// is requested or the walk is cancelled. Throws KError("Cannot create file
// " + path) when the list cannot be written.
bool WriteMissingList(const DownloadTask &task, int64_t notStored,
                      const ProblemWalk &walk, const std::string &listPath,
                      const StopFlag *cancel = nullptr);
// The same for an inventory taken whole.
void WriteMissingList(const DownloadTask &task, const TaskInventory &inventory,
                      const std::string &listPath);
// The most bytes the list of `tiles` tiles of the task takes.
uint64_t MissingListBytes(const DownloadTask &task, int64_t tiles);

// Refuses `output` as the path of a file written for the task (the joiner's
// picture, a list of missing tiles): one of the task's own files (its
// project file, log, failed-tile list, a tile list, or a tile or side file
// in its tile folder, by name or as the same file), or anything but a
// regular file (RefuseNonFileOutput). Throws KError(InputRefused, "Cannot
// create file " + output + ": it is the project file", "...: it is a FIFO",
// ...); nothing is written or changed.
void RefuseAsOutput(const DownloadTask &task, const std::string &output);

// The default name of that list: the task's base name + "_missing.ftl"
// beside the project file.
std::string MissingListPath(const std::string &projectFile);

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
// "Placeholders: 10", "Damaged: 0", "Missing: 3", "Side files: 2"; a task
// with an outline has "Outside the outline: 20" after the first line, which
// then counts the whole block.
std::vector<std::string> InventorySummaryLines(const InventoryCounts &c);
// The same counts in one line, for a progress line: "95 of 108 tiles
// stored, 10 placeholders, 0 damaged, 3 missing, 2 side files", then ", 20
// outside the outline" for a task with one.
std::string InventorySummaryLine(const InventoryCounts &c);

} // namespace kestrane
