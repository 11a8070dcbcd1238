#include "joiner/TileJoiner.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>

#include "inventory/ProjectFile.h"
#include "inventory/TaskInventory.h"
#include "joiner/CellStates.h"
#include "joiner/MbTilesWriter.h"
#include "joiner/PictureWriter.h"
#include "joiner/TileCodec.h"
#include "platform/AtomicFile.h"
#include "platform/Files.h"
#include "platform/OutputChecks.h"

namespace kestrane {

using namespace joiner_detail;

namespace {

constexpr int kTile = kTilePixels;

// A TIFF directory's width and height, and its tile numbers, are 32-bit.
constexpr int64_t kTiffLimit = 0xFFFFFFFFll;

const char *const kDirectionNames[] = {"North", "East", "South", "West"};

// The JPEG sampling most of the first stored tiles have; 2 x 2 (4:2:0) when
// none tells.
void ChooseSampling(const DownloadTask &task, int64_t columns, int64_t rows,
                    const CellStates &problems, int &h, int &v,
                    double &averageSize) {
  std::map<std::pair<int, int>, int> votes;
  std::string bytes;
  int looked = 0;
  uint64_t sizes = 0;
  for (int64_t i = 0; i < columns * rows && looked < 32; ++i) {
    if (problems.Get(i) != TileState::Stored)
      continue;
    int32_t x = 0, y = 0;
    ViewCellTile(task, i % columns, i / columns, x, y);
    if (!ReadTile(task.TilePath(x, y), bytes) || bytes.empty())
      continue;
    ++looked;
    sizes += bytes.size();
    const JpegFrame f = ReadJpegFrame(bytes);
    if (f.Parsed && f.Components == 3 && !f.Rgb && f.ChromaOneByOne &&
        (f.HSampling == 1 || f.HSampling == 2) &&
        (f.VSampling == 1 || f.VSampling == 2))
      ++votes[{f.HSampling, f.VSampling}];
  }
  h = 2;
  v = 2;
  int best = 0;
  for (const auto &[hv, n] : votes)
    if (n > best) {
      best = n;
      h = hv.first;
      v = hv.second;
    }
  averageSize = looked > 0 ? static_cast<double>(sizes) / looked : 20000.0;
}

LoadedTask LoadForJoin(const std::string &projectFile,
                       const JoinOptions &options) {
  TaskEnvironment env;
  env.ProgramFolder = options.ProgramFolder;
  try {
    return LoadTask(projectFile, env);
  } catch (const KError &) {
    throw;
  } catch (const std::exception &) {
    throw KError(ErrorCause::CannotOpen, "Cannot open file " + projectFile);
  }
}

// Refuses an output that would replace one of the task's files or
// something that is not a regular file, or that lies in no existing folder.
void CheckOutput(const DownloadTask &task, const std::string &outputFile) {
  RefuseAsOutput(task, outputFile);
  if (!DirectoryExists(ExtractFilePath(outputFile).empty()
                           ? std::string(".")
                           : ExtractFilePath(outputFile)))
    throw KError(ErrorCause::InputRefused,
                 "Cannot create file " + outputFile + ": no such folder");
}

// Refuses what the format cannot do with this task, before any tile is
// read: MBTiles of a task that does not look North, lower zooms below zoom
// 0, and a block larger than a TIFF picture can be.
void CheckFormat(const DownloadTask &task, const JoinResult &r,
                 const JoinOptions &options) {
  const std::string refused = "Cannot create file " + r.OutputFile + ": ";
  if (r.Format == JoinFormat::MbTiles) {
    if (task.Params.Dir != 0)
      throw KError(ErrorCause::InputRefused,
                   refused +
                       "MBTiles holds map tiles, and the pictures of a "
                       "task looking " +
                       r.Direction + " have no map position (only North)");
    if (options.Levels < 0 || options.Levels > task.Params.Zoom)
      throw KError(ErrorCause::InputRefused,
                   refused + "the task's zoom " +
                       std::to_string(task.Params.Zoom) + " has " +
                       std::to_string(task.Params.Zoom) + " lower zooms, not " +
                       std::to_string(options.Levels));
    return;
  }
  if (options.Levels != 0)
    throw KError(ErrorCause::InputRefused,
                 refused + "lower zooms are built for MBTiles; a TIFF has its "
                           "overviews instead");
  const int64_t side = std::max(r.Columns, r.Rows) * kTile;
  if (side > kTiffLimit || r.Total > kTiffLimit)
    throw KError(ErrorCause::InputRefused,
                 refused + "a TIFF picture is at most " +
                     std::to_string(kTiffLimit) +
                     " pixels a side and tiles a level; this one is " +
                     std::to_string(side) + " pixels a side");
}

// Refuses, before anything is read or written, a block whose tiles' states
// would not fit in the joiner's memory.
void CheckPictureSize(const JoinResult &result) {
  if (result.Total <= kMaxJoinTiles)
    return;
  throw KError(ErrorCause::InputRefused,
               "Cannot create file " + result.OutputFile + ": a picture of " +
                   std::to_string(result.Total) +
                   " tiles is more than the joiner writes within 256 MB of "
                   "memory (at most " +
                   std::to_string(kMaxJoinTiles) + " tiles)");
}

// Refuses MBTiles tiles that would outgrow the largest SQLite database;
// `average` is the size of a tile seen so far.
void CheckSize(const JoinResult &r, double average, int64_t stored) {
  if (r.Format != JoinFormat::MbTiles)
    return;
  const double estimate = average * static_cast<double>(stored) * 4 / 3;
  const double limit = static_cast<double>(MbTilesCapacity());
  if (estimate > limit)
    throw KError(ErrorCause::InputRefused,
                 "Cannot create file " + r.OutputFile + ": its " +
                     std::to_string(stored) + " tiles take about " +
                     std::to_string(static_cast<int64_t>(estimate / 1e9)) +
                     " GB, and an MBTiles file holds at most " +
                     std::to_string(static_cast<int64_t>(limit / 1e9)) + " GB");
}

// The inventory's state of every view cell, and how many are not stored;
// false when cancelled. The tiles are handed over as the walk finds them,
// so that memory holds no list of them.
bool FindProblems(const DownloadTask &task, const JoinOptions &options,
                  int64_t columns, CellStates &problems, int64_t &notStored) {
  InventoryOptions inv;
  inv.Cancel = options.Cancel;
  if (options.Progress)
    inv.Progress = [&options](int64_t done, int64_t total) {
      options.Progress(JoinPhase::Checking, done, total);
    };
  InventoryWalk walk(task, inv);
  return walk.Run([&](const InventoryTile &t) {
    if (t.State == TileState::Stored)
      return;
    const ViewCell cell = ViewPlacement(task, t.X, t.Y);
    problems.Set(cell.Row * columns + cell.Column, t.State);
    ++notStored;
  });
}

// The tiles outside the task's outline are no part of the picture: their
// cells are left as no data, as a missing tile's are, whatever the tile
// folder holds there. Returns how many they are.
int64_t LeaveOutOutside(const DownloadTask &task, int64_t columns,
                        CellStates &problems) {
  if (task.Inside.Everything())
    return 0;
  int64_t outside = 0;
  const auto leaveOut = [&](int32_t x, int32_t y) {
    const ViewCell cell = ViewPlacement(task, x, y);
    problems.Set(cell.Row * columns + cell.Column, TileState::Missing);
    ++outside;
  };
  for (int32_t x = task.MinX; x <= task.MaxX; ++x) {
    int32_t y = task.MinY;
    for (const RowRun &run : task.Inside.Column(x)) {
      for (; y < run.First; ++y)
        leaveOut(x, y);
      y = run.Last + 1;
    }
    for (; y <= task.MaxY; ++y)
      leaveOut(x, y);
  }
  return outside;
}

} // namespace

std::vector<std::string> JoinResult::Lines() const {
  std::vector<std::string> lines;
  lines.push_back("Project file: " + ProjectFile);
  if (Cancelled) {
    lines.push_back("Cancelled: no picture was written.");
    return lines;
  }
  lines.push_back("Output file: " + OutputFile);
  lines.push_back("Picture: " + std::to_string(Columns * kTile) + " x " +
                  std::to_string(Rows * kTile) + " pixels, " +
                  std::to_string(Columns) + " x " + std::to_string(Rows) +
                  " tiles, looking " + Direction +
                  (Georeferenced ? ", EPSG:3857" : ", not georeferenced") +
                  (BigTiff ? ", BigTIFF" : "") +
                  (Format == JoinFormat::MbTiles ? ", MBTiles" : ""));
  lines.push_back("Tiles joined: " + std::to_string(Joined()) + " of " +
                  std::to_string(Total) + " (carried " +
                  std::to_string(Carried) + ", re-encoded " +
                  std::to_string(Reencoded) + ")");
  // Carried tiles the record shows were checked as they were downloaded,
  // and so were not decoded again.
  if (CheckedBefore > 0)
    lines.push_back("Checked when downloaded: " +
                    std::to_string(CheckedBefore));
  lines.push_back("Missing: " + std::to_string(Missing));
  if (Outside > 0)
    lines.push_back("Outside the outline: " + std::to_string(Outside));
  lines.push_back("Placeholder: " + std::to_string(Placeholder));
  lines.push_back("Damaged: " + std::to_string(Damaged));
  lines.push_back("Overview levels: " + std::to_string(OverviewLevels));
  return lines;
}

std::string DefaultJoinOutput(const std::string &projectFile,
                              JoinFormat format) {
  const std::string name = ExtractFileName(projectFile);
  const std::string base =
      name.substr(0, name.size() - ExtractFileExt(name).size());
  return ExtractFilePath(projectFile) + base +
         (format == JoinFormat::MbTiles ? ".mbtiles" : ".tif");
}

JoinFormat ResolveJoinFormat(JoinFormat asked, const std::string &outputFile) {
  if (asked != JoinFormat::ByExtension)
    return asked;
  std::string ext = ExtractFileExt(ExtractFileName(outputFile));
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return ext == ".mbtiles" ? JoinFormat::MbTiles : JoinFormat::GeoTiff;
}

void ViewCellTile(const DownloadTask &t, int64_t column, int64_t row,
                  int32_t &x, int32_t &y) {
  // The name's column, and its row counted upward.
  const TileNameNumbers n{t.ViewMinX + column, t.ViewMaxY - row};
  const GridPlace tile = TileOfNameNumbers(TileBlockOf(t), n);
  x = static_cast<int32_t>(tile.X);
  y = static_cast<int32_t>(tile.Y);
}

JoinResult JoinTiles(const std::string &projectFile, std::string outputFile,
                     const JoinOptions &options) {
  const LoadedTask loaded = LoadForJoin(projectFile, options);
  const DownloadTask &task = loaded.Task;
  const JoinFormat format = ResolveJoinFormat(options.Format, outputFile);
  if (outputFile.empty())
    outputFile = DefaultJoinOutput(projectFile, format);
  CheckOutput(task, outputFile);

  JoinResult result;
  result.ProjectFile = projectFile;
  result.OutputFile = outputFile;
  result.Format = format;
  result.Direction = kDirectionNames[std::clamp(task.Params.Dir, 0, 3)];
  result.Columns = ViewColumns(task);
  result.Rows = ViewRows(task);
  result.Total = result.Columns * result.Rows;
  CheckFormat(task, result, options);
  CheckPictureSize(result);

  CellStates problems(result.Total);
  int64_t notStored = 0;
  if (!FindProblems(task, options, result.Columns, problems, notStored)) {
    result.Cancelled = true;
    return result;
  }
  result.Outside = LeaveOutOutside(task, result.Columns, problems);
  notStored += result.Outside;
  // The tiles the workers checked as they stored them are not decoded
  // again; the record is read only now, after the inventory, so that it
  // holds every tile stored before the join began.
  const CheckedTiles checked = CheckedTiles::Read(task.CheckedFilePath);
  PictureInput input{task, problems, checked};
  double average = 0;
  ChooseSampling(task, result.Columns, result.Rows, problems, input.HSampling,
                 input.VSampling, average);
  CheckSize(result, average, result.Total - notStored);

  // A join killed in mid-write left its temporary files beside the output;
  // nothing of them is needed any more.
  RemoveStaleTemporaries(ExtractFilePath(outputFile));
  AtomicFile out(outputFile);
  if (!out.Valid())
    throw KError(ErrorCause::CannotWrite, "Cannot create file " + outputFile +
                                              ": " +
                                              std::strerror(out.Error()));
  const bool written =
      format == JoinFormat::MbTiles
          ? WriteMbTiles(input, options, result, out, outputFile)
          : WritePicture(input, options, result, out, outputFile);
  if (!written) {
    result.Cancelled = true;
    return result;
  }
  // The writers counted the cells left out among the missing tiles.
  result.Missing -= result.Outside;
  // Whatever came to stand at the output meanwhile is still not replaced.
  RefuseNonFileOutput(outputFile);
  if (const int e = out.Commit(); e != 0)
    throw KError(ErrorCause::CannotWrite,
                 "Cannot create file " + outputFile + ": " + std::strerror(e));
  return result;
}

} // namespace kestrane
