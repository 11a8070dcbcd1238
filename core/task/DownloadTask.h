#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "geo/InsideTiles.h"
#include "geo/Outline.h"
#include "platform/DateTime.h"
#include "platform/Errors.h"
#include "task/ProxySettings.h"

namespace kestrane {

// The zoom levels a task may have, the window's spinner offers and the
// command line accepts.
inline constexpr int32_t kMinZoom = 1;
inline constexpr int32_t kMaxZoom = 21;

// The inputs of one task, filled by Start. A plain record.
struct TaskParameters {
  double LeftLongitude = 0;
  double RightLongitude = 0;
  double TopLatitude = 0;
  double BottomLatitude = 0;
  int32_t Zoom = 13;
  int32_t Dir = 0; // 0 North, 1 East, 2 South, 3 West
  int32_t ThreadCount = 8;
  int32_t ThreadSlots = 8;
  int32_t MapsType = 21;
  std::string Path;         // output folder, ends with "/"
  std::string TaskFileName; // project file name inside Path, with extension
  ProxySettings Proxy;
  bool ContinueTask = false;
  // The polygons the tiles are wanted inside, stored beside the project
  // file; empty means the whole block of the edges above.
  Outline Area;
  friend bool operator==(const TaskParameters &,
                         const TaskParameters &) = default;
};

// The four shard hosts of the tile service, each a host name with an
// optional ":port".
using TileHosts = std::array<std::string, 4>;
TileHosts DefaultTileHosts();

// What a task needs from its surroundings, passed in so that tests can set
// each of them.
struct TaskEnvironment {
  TileHosts Hosts = DefaultTileHosts();
  char DecimalSeparator = '.';
  Clock Now = SystemClock();
  // Where the program's data files are found (blankimg/ ...); empty means
  // the folder of the running executable.
  std::string ProgramFolder;
};

// The most worker slots a task has positions for.
inline constexpr size_t kResumeSlots = 16;

// Where each worker slot takes up its share again: the tile column and row
// an earlier run saved for it; 0 and 0 start the share afresh.
struct ResumePositions {
  std::array<int32_t, kResumeSlots> X{};
  std::array<int32_t, kResumeSlots> Y{};
};

// One download task, a value: its parameters and what they give (tile
// ranges, block edges, tile count, direction data, file paths) and where
// each worker resumes. Building one only computes; it reads and writes no
// file (task/TaskFiles.h makes the tile folder, reads the saved positions
// and writes the task's files). Nothing of it changes once built, so
// copies are independent and the workers read one at the same time.
class DownloadTask {
public:
  // Throws KError(InputRefused) for an area of more tiles than a task holds
  // ("The area is too large: ... tiles.", the message to show) and for
  // inputs the tile grid is not defined for, including an outline that
  // crosses the 180th meridian; either way no task exists.
  explicit DownloadTask(TaskParameters params, TaskEnvironment env = {},
                        const ResumePositions &resume = {});

  // The same task, its workers resuming at `resume`.
  DownloadTask WithResumePositions(const ResumePositions &resume) const;

  // Addressing; safe to call from several workers at once.
  std::string TileUrl(int32_t x, int32_t y) const;
  std::string TileFileName(int32_t x, int32_t y) const;
  std::string TilePath(int32_t x, int32_t y) const;
  std::string TileExtension() const { return "jpg"; }
  std::string Quadkey(int32_t x, int32_t y) const;

  const TaskParameters Params;
  const TaskEnvironment Env;

  const int32_t BlankImageNumber = 180;
  const std::array<int32_t, kResumeSlots> ResumeX;
  const std::array<int32_t, kResumeSlots> ResumeY;
  const int32_t MinX, MinY, MaxX, MaxY;
  const int32_t ViewMinX, ViewMaxX, ViewMinY, ViewMaxY;
  const double LeftLongitudeDownload, RightLongitudeDownload,
      TopLatitudeDownload, BottomLatitudeDownload;
  const int32_t TotalCount;
  const std::string DirLetter;
  const int32_t QuadDigitNW, QuadDigitNE, QuadDigitSW, QuadDigitSE;
  const std::string LogFilePath;
  const std::string FailedFilePath;
  const std::string ListFilePath;
  // The record of tiles the workers stored after checking them
  // (tile/CheckedTiles.h), which spares the joiner decoding them again.
  const std::string CheckedFilePath;
  const std::string TileFolder;
  // The tiles of the block inside Params.Area (every tile without one), and
  // how many they are: what the task downloads, counts and lists. The
  // workers walk the whole block, so positions keep their meaning, and
  // pass over the tiles outside.
  const InsideTiles Inside;
  const int32_t InsideCount;
  bool IsInside(int32_t x, int32_t y) const { return Inside.Contains(x, y); }

private:
  struct Layout; // what the parameters give, computed before the members
  DownloadTask(const Layout &layout, const TaskParameters &params,
               TaskEnvironment env, const ResumePositions &resume);
};

// The tile list holds at most this many tile lines per file.
inline constexpr int32_t kTileListChunk = 65536;

// Appends FormatFixed20_14(value) to `out`, byte for byte the same text,
// without a temporary string: the tile list formats four numbers per tile.
void AppendFixed20_14(std::string &out, double value);

} // namespace kestrane
