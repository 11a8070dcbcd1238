#pragma once
#include <array>
#include <cstdint>
#include <string>

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

// One built download task: tile ranges, block edges, tile count, direction
// data, file paths and resume positions. Built once on the main thread, then
// only read (also by the workers, at the same time).
class DownloadTask {
public:
  // Performs the set-up. Throws KError, whose text is shown before "Error:
  // Create task failure.": InputRefused for inputs the tile grid is not
  // defined for ("The area is too large: ... tiles."), CannotWrite for a
  // tile folder that cannot be made ("Create directory ... Failed."),
  // CannotOpen for a project file whose positions cannot be read. No task
  // exists then. `params` must outlive the task.
  DownloadTask(const TaskParameters &params, TaskEnvironment env = {});

  // Addressing; safe to call from several workers at once.
  std::string TileUrl(int32_t x, int32_t y) const;
  std::string TileFileName(int32_t x, int32_t y) const;
  std::string TilePath(int32_t x, int32_t y) const;
  std::string TileExtension() const { return "jpg"; }
  std::string Quadkey(int32_t x, int32_t y) const;

  // The task's files. Each throws KError with the file error on failure.
  void WriteTaskFile() const;    // nothing for a continued task
  void WriteTileList() const;    // nothing for a continued task or Dir != 0
  void WriteLogHeader() const;   // header, or the continuation marker
  void CreateFailedFile() const; // empty list, nothing for a continued task

  const TaskParameters &Params;
  const TaskEnvironment Env;

  int32_t BlankImageNumber = 180;
  std::array<int32_t, 16> ResumeX{};
  std::array<int32_t, 16> ResumeY{};
  int32_t MinX = 0, MinY = 0, MaxX = 0, MaxY = 0;
  int32_t ViewMinX = 0, ViewMaxX = 0, ViewMinY = 0, ViewMaxY = 0;
  double LeftLongitudeDownload = 0, RightLongitudeDownload = 0,
         TopLatitudeDownload = 0, BottomLatitudeDownload = 0;
  int32_t TotalCount = 0;
  std::string DirLetter;
  int32_t QuadDigitNW = 0, QuadDigitNE = 0, QuadDigitSW = 0, QuadDigitSE = 0;
  std::string LogFilePath;
  std::string FailedFilePath;
  std::string ListFilePath;
  std::string TileFolder;
};

// The tile list holds at most this many tile lines per file.
inline constexpr int32_t kTileListChunk = 65536;

// Appends FormatFixed20_14(value) to `out`, byte for byte the same text,
// without a temporary string: the tile list formats four numbers per tile.
void AppendFixed20_14(std::string &out, double value);

} // namespace kestrane
