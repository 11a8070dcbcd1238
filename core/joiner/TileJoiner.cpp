#include "joiner/TileJoiner.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

#include "inventory/ProjectFile.h"
#include "inventory/TaskInventory.h"
#include "joiner/PictureWriter.h"
#include "joiner/TileCodec.h"
#include "platform/AtomicFile.h"
#include "platform/Files.h"
#include "platform/OutputChecks.h"

namespace kestrane {

using namespace joiner_detail;

namespace {

constexpr int kTile = kTilePixels;

// Classic TIFF offsets end at 4 GiB; the picture switches to BigTIFF well
// before its estimated size gets there.
constexpr double kClassicLimit = 3.5 * 1024 * 1024 * 1024;

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

// Refuses, before anything is read or written, a block whose picture is
// more than the joiner writes in bounded memory.
void CheckPictureSize(const JoinResult &result) {
  if (result.Total <= kMaxPictureTiles)
    return;
  throw KError(ErrorCause::InputRefused,
               "Cannot create file " + result.OutputFile + ": a picture of " +
                   std::to_string(result.Total) +
                   " tiles is more than the joiner writes (at most " +
                   std::to_string(kMaxPictureTiles) + " tiles)");
}

// The inventory's state of every view cell; false when cancelled. The
// tiles are handed over as the walk finds them, so that memory holds no
// list of them.
bool FindProblems(const DownloadTask &task, const JoinOptions &options,
                  int64_t columns, CellStates &problems) {
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
  });
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
                  (BigTiff ? ", BigTIFF" : ""));
  lines.push_back("Tiles joined: " + std::to_string(Joined()) + " of " +
                  std::to_string(Total) + " (carried " +
                  std::to_string(Carried) + ", re-encoded " +
                  std::to_string(Reencoded) + ")");
  lines.push_back("Missing: " + std::to_string(Missing));
  lines.push_back("Placeholder: " + std::to_string(Placeholder));
  lines.push_back("Damaged: " + std::to_string(Damaged));
  lines.push_back("Overview levels: " + std::to_string(OverviewLevels));
  return lines;
}

std::string DefaultJoinOutput(const std::string &projectFile) {
  const std::string name = ExtractFileName(projectFile);
  const std::string base =
      name.substr(0, name.size() - ExtractFileExt(name).size());
  return ExtractFilePath(projectFile) + base + ".tif";
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
  if (outputFile.empty())
    outputFile = DefaultJoinOutput(projectFile);
  CheckOutput(task, outputFile);

  JoinResult result;
  result.ProjectFile = projectFile;
  result.OutputFile = outputFile;
  result.Direction = kDirectionNames[std::clamp(task.Params.Dir, 0, 3)];
  result.Columns = ViewColumns(task);
  result.Rows = ViewRows(task);
  result.Total = result.Columns * result.Rows;
  CheckPictureSize(result);

  CellStates problems(result.Total);
  if (!FindProblems(task, options, result.Columns, problems)) {
    result.Cancelled = true;
    return result;
  }
  PictureInput input{task, problems};
  double average = 0;
  ChooseSampling(task, result.Columns, result.Rows, problems, input.HSampling,
                 input.VSampling, average);
  const double estimate = average * static_cast<double>(result.Total) *
                              (options.Overviews ? 1.5 : 1.1) +
                          static_cast<double>(result.Total) * 32.0;
  result.BigTiff = options.ForceBigTiff || estimate > kClassicLimit;

  // A join killed in mid-write left its temporary picture beside the
  // output; nothing of it is needed any more.
  RemoveStaleTemporaries(ExtractFilePath(outputFile));
  for (;;) {
    JoinResult attempt = result;
    try {
      AtomicFile out(outputFile);
      if (!out.Valid())
        throw KError(ErrorCause::CannotWrite, "Cannot create file " +
                                                  outputFile + ": " +
                                                  std::strerror(out.Error()));
      if (!WritePicture(input, options, attempt, out, outputFile)) {
        result.Cancelled = true;
        return result;
      }
      // Whatever came to stand at the output meanwhile is still not
      // replaced. The picture reached the disk before the TIFF library
      // closed it.
      RefuseNonFileOutput(outputFile);
      if (const int e = out.Commit(/*sync=*/false); e != 0)
        throw KError(ErrorCause::CannotWrite, "Cannot create file " +
                                                  outputFile + ": " +
                                                  std::strerror(e));
      return attempt;
    } catch (const ClassicTooSmall &) {
      result.BigTiff = true; // once more, with 64-bit offsets
    }
  }
}

} // namespace kestrane
