#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Errors.h"
#include "platform/StopSignal.h"
#include "task/DownloadTask.h"

namespace kestrane {

// The joiner's steps, in the order they run.
enum class JoinPhase : uint8_t {
  Checking,  // taking the inventory of the tile folder
  Joining,   // writing the tiles into the picture
  Overviews, // building the reduced levels
};

struct JoinOptions {
  bool Overviews = true;
  // Always write BigTIFF; otherwise classic TIFF while the picture fits.
  bool ForceBigTiff = false;
  int Quality = 85; // JPEG quality of re-encoded tiles and overview tiles
  int Threads = 0;  // overview threads; 0: one per core (at most 4)
  // Where the program's data files are found (the blank image); empty: the
  // folder of the running executable.
  std::string ProgramFolder;
  // Called now and then from the calling thread.
  std::function<void(JoinPhase, int64_t done, int64_t total)> Progress;
  const StopFlag *Cancel = nullptr; // stops the join when requested
};

struct JoinResult {
  std::string ProjectFile, OutputFile;
  std::string Direction;         // "North", "East", "South" or "West"
  int64_t Columns = 0, Rows = 0; // the picture's size in tiles
  int64_t Total = 0;             // tiles of the block
  int64_t Carried = 0;           // JPEG tiles written as they are
  int64_t Reencoded = 0;         // tiles decoded and encoded once
  int64_t Missing = 0, Placeholder = 0, Damaged = 0;
  int OverviewLevels = 0;
  bool BigTiff = false;
  bool Georeferenced = false; // EPSG:3857 keys (North tasks)
  bool Cancelled = false;     // stopped; no output was left
  int64_t Joined() const { return Carried + Reencoded; }
  bool Complete() const { return !Cancelled && Joined() == Total; }
  // The lines the window's pane and the command line's output show.
  std::vector<std::string> Lines() const;
};

// The most tiles a picture holds. The TIFF library keeps the place and the
// size of every tile of a level in memory (16 bytes a tile), and an
// overview level reads back the places of the level above: at this many
// tiles the join stays under 256 MB. A larger block is refused at the
// start, its text giving this limit.
inline constexpr int64_t kMaxPictureTiles = 4500000;

// The picture's default path: the project file's folder + base name + ".tif".
std::string DefaultJoinOutput(const std::string &projectFile);

// Joins the tiles of the task in `projectFile` into one tiled TIFF at
// `outputFile` (DefaultJoinOutput when empty). The picture is written to a
// temporary file beside the target and renamed at the end. Every stored
// tile passes the workers' image check, or is decoded within its bounds,
// before it goes in; one that does not counts as damaged. Throws KError:
// CannotOpen or InvalidFile for a project file that cannot be used,
// InputRefused for an output that would replace one of the task's files or
// something that is not a regular file (RefuseAsOutput), that lies in no
// folder, or a block of more than kMaxPictureTiles; CannotWrite with the
// reason when the picture cannot be written. Either way, and on Cancel, no
// output file is left behind and what stood at the output stays.
JoinResult JoinTiles(const std::string &projectFile, std::string outputFile,
                     const JoinOptions &options = {});

// The view cell's tile: the reverse of ViewPlacement.
void ViewCellTile(const DownloadTask &task, int64_t column, int64_t row,
                  int32_t &x, int32_t &y);

} // namespace kestrane
