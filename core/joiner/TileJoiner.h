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
  Writing,   // laying the file out from what was built
};

// What the join writes.
enum class JoinFormat : uint8_t {
  ByExtension, // MBTiles for an output ending in ".mbtiles", else GeoTIFF
  GeoTiff,     // one cloud-optimized tiled (Geo)TIFF
  MbTiles,     // an MBTiles 1.3 database of the tiles (North tasks only)
};

struct JoinOptions {
  JoinFormat Format = JoinFormat::ByExtension;
  bool Overviews = true; // GeoTIFF: reduced levels down to one tile
  int Levels = 0;        // MBTiles: lower zooms built below the task's
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
  JoinFormat Format = JoinFormat::GeoTiff;
  std::string Direction;         // "North", "East", "South" or "West"
  int64_t Columns = 0, Rows = 0; // the picture's size in tiles
  int64_t Total = 0;             // tiles of the block
  int64_t Carried = 0;           // JPEG tiles written as they are
  int64_t CheckedBefore = 0;     // of those, checked when stored (not again)
  int64_t Reencoded = 0;         // tiles decoded and encoded once
  int64_t Missing = 0, Placeholder = 0, Damaged = 0;
  int64_t Outside = 0;    // tiles outside the task's outline: no data
  int OverviewLevels = 0; // reduced levels, or lower zooms of MBTiles
  bool BigTiff = false;
  bool Georeferenced = false; // EPSG:3857 keys (North tasks)
  bool Cancelled = false;     // stopped; no output was left
  int64_t Joined() const { return Carried + Reencoded; }
  bool Complete() const { return !Cancelled && Joined() == Total - Outside; }
  // The lines the window's pane and the command line's output show.
  std::vector<std::string> Lines() const;
};

// The most tiles a join takes, in either format. The joiner holds the
// inventory's state of every tile of the block, two bits a tile (128 MiB
// at this many), and nothing else per tile in memory: the tiles' places go
// to a spool file, the TIFF's tile arrays and the MBTiles database to disk.
// A larger block is refused at the start, its text giving this limit; the
// formats' own limits (a TIFF level of at most 2^32 - 1 pixels a side and
// tiles, an MBTiles database of SQLite's largest size) are refused alike.
inline constexpr int64_t kMaxJoinTiles = int64_t{1} << 29;

// The picture's default path: the project file's folder + base name +
// ".tif", or ".mbtiles" for MBTiles.
std::string DefaultJoinOutput(const std::string &projectFile,
                              JoinFormat format = JoinFormat::GeoTiff);

// The format a join with `asked` writes to `outputFile`: `asked` unless it
// is ByExtension, then by the output's extension (GeoTIFF when empty).
JoinFormat ResolveJoinFormat(JoinFormat asked, const std::string &outputFile);

// Joins the tiles of the task in `projectFile` into one cloud-optimized
// tiled TIFF or an MBTiles database at `outputFile` (DefaultJoinOutput
// when empty). The file is written to a temporary file beside the target
// and renamed at the end. Throws KError: CannotOpen or InvalidFile for a
// project file that cannot be used, InputRefused for an output that would
// replace one of the task's files or something that is not a regular file
// (RefuseAsOutput), or lies in no folder, for MBTiles of a task that does
// not look North, for lower zooms that do not exist, and for a block the
// format or the joiner's memory cannot hold (the message gives the limit),
// CannotWrite with the reason when the file cannot be written. Every stored
// tile passes the workers' image check, or is decoded within its bounds,
// before it goes in; one that does not counts as damaged. Either way, and
// on Cancel, no output file is left behind and what stood at the output
// stays.
JoinResult JoinTiles(const std::string &projectFile, std::string outputFile,
                     const JoinOptions &options = {});

// The view cell's tile: the reverse of ViewPlacement.
void ViewCellTile(const DownloadTask &task, int64_t column, int64_t row,
                  int32_t &x, int32_t &y);

} // namespace kestrane
