#include "task/TaskFiles.h"

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "geo/TileGrid.h"
#include "platform/Files.h"
#include "platform/Ini.h"
#include "platform/NumberFormat.h"
#include "platform/OutputChecks.h"
#include "task/AreaOutlineFile.h"
#include "tile/CheckedTiles.h"

namespace kestrane {
namespace {

void WriteTextFile(const std::string &path, std::string_view bytes) {
  if (!WriteFileAtomic(path, bytes))
    throw KError(ErrorCause::CannotWrite, "Cannot create file " + path);
}

const char kTileListHeader[] =
    "ImageFileName    Left_Edge_Longitude    Right_Edge_Longitude   "
    "Top_Edge_Latitude      Bottom_Edge_Latitude\r\n";

// The proxy block of the log header, written only when the task uses one.
void AppendProxyLines(std::vector<std::string> &lines,
                      const ProxySettings &proxy) {
  if (!proxy.UseProxy)
    return;
  // The log is often passed around: the password never goes into it.
  lines.insert(lines.end(),
               {"Using Proxy:", "Proxy Server:" + proxy.ProxyServer,
                "Proxy Port:" + proxy.ProxyPort,
                "ProxyUsername:" + proxy.ProxyUsername,
                std::string("ProxyPassword:") +
                    (proxy.ProxyPassword.empty() ? "" : "********"),
                ""});
}

// The latitude text (" north south") of each row of the tile list. A row's
// latitudes are the same in every column: when the rows fit one chunk their
// text is made once. A latitude always fills its 20 characters, so every
// row's text has the same length.
class RowLatitudes {
public:
  RowLatitudes(int32_t minY, int32_t maxY, int32_t zoom)
      : minY_(minY), zoom_(zoom) {
    const int64_t rows = int64_t{maxY} - minY + 1;
    if (rows > kTileListChunk)
      return;
    text_.reserve(static_cast<size_t>(rows) * kRowText);
    for (int32_t y = minY; y <= maxY; ++y)
      Compute(text_, y);
    if (text_.size() != static_cast<size_t>(rows) * kRowText)
      text_.clear(); // computed row by row instead
  }

  void Append(std::string &out, int32_t y) const {
    if (text_.empty())
      Compute(out, y);
    else
      out.append(text_, static_cast<size_t>(y - minY_) * kRowText, kRowText);
  }

private:
  static constexpr size_t kRowText = 1 + 20 + 1 + 20;
  void Compute(std::string &out, int32_t y) const {
    out += ' ';
    AppendFixed20_14(out, TileYToLatitude(static_cast<double>(y) + 1, zoom_));
    out += ' ';
    AppendFixed20_14(out, TileYToLatitude(y, zoom_));
  }
  const int32_t minY_, zoom_;
  std::string text_; // empty: not cached
};

// The tile list's files: each holds the header and at most kTileListChunk
// tile lines, and is named after the count of lines before it. One chunk is
// held at a time.
class TileListWriter {
public:
  TileListWriter(std::string listPath, int32_t totalCount)
      : listPath_(std::move(listPath)) {
    // A tile line is at most about 120 bytes.
    chunk_.reserve(
        static_cast<size_t>(std::min<int64_t>(totalCount, kTileListChunk)) *
            128 +
        sizeof kTileListHeader);
    chunk_ += kTileListHeader;
  }

  // The chunk to append the next tile line to (without its line end).
  std::string &Line() { return chunk_; }

  void EndLine() {
    chunk_ += "\r\n";
    ++linesInFile_;
    ++tiles_;
    if (linesInFile_ < kTileListChunk)
      return;
    WriteTextFile(listPath_ + std::to_string(tiles_ / kTileListChunk) + ".txt",
                  chunk_);
    chunk_.clear();
    chunk_ += kTileListHeader;
    linesInFile_ = 0;
  }

  // Writes the last, partly filled file.
  void Finish() {
    if (linesInFile_ > 0)
      WriteTextFile(listPath_ + std::to_string(tiles_ / kTileListChunk + 1) +
                        ".txt",
                    chunk_);
  }

private:
  const std::string listPath_;
  std::string chunk_;
  int32_t linesInFile_ = 0;
  int64_t tiles_ = 0;
};

// Four "label" + degrees lines, in the order left, right, top, bottom: the
// project file and the log header each write the area as typed and the
// block's edges so.
struct Edges {
  double Left, Right, Top, Bottom;
};
using EdgeLabels = std::array<const char *, 4>;
void AppendEdges(std::vector<std::string> &lines, const EdgeLabels &labels,
                 const Edges &e, char decimalSeparator) {
  const double values[4] = {e.Left, e.Right, e.Top, e.Bottom};
  for (size_t i = 0; i < 4; ++i)
    lines.push_back(labels[i] + FormatGeneral(values[i], decimalSeparator));
}

Edges InputEdges(const TaskParameters &p) {
  return {p.LeftLongitude, p.RightLongitude, p.TopLatitude, p.BottomLatitude};
}

Edges DownloadEdges(const DownloadTask &t) {
  return {t.LeftLongitudeDownload, t.RightLongitudeDownload,
          t.TopLatitudeDownload, t.BottomLatitudeDownload};
}

// The area of the log header: as typed, the tile ranges, the block's edges.
void AppendLogArea(std::vector<std::string> &lines, const DownloadTask &t) {
  const char sep = t.Env.DecimalSeparator;
  AppendEdges(lines,
              {"Left Longitude  input= ", "Right Longitude input= ",
               "Top Latitude    input= ", "Bottom Latitude input= "},
              InputEdges(t.Params), sep);
  lines.insert(lines.end(), {"", "MinX = " + std::to_string(t.MinX),
                             "MinY = " + std::to_string(t.MinY),
                             "MaxX = " + std::to_string(t.MaxX),
                             "MaxY = " + std::to_string(t.MaxY), ""});
  AppendEdges(lines,
              {"Left Longitude  download=", "Right Longitude download=",
               "Top Latitude    download=", "Bottom Latitude download="},
              DownloadEdges(t), sep);
  lines.emplace_back();
}

} // namespace

void CreateTileFolder(const DownloadTask &task) {
  const std::string &folder = task.TileFolder;
  // A link planted in a shared output folder under the tile folder's name
  // would lead the tiles into a folder of someone else's choosing. (The
  // trailing "/" would make lstat follow it.)
  std::string name = folder;
  while (name.size() > 1 && name.back() == '/')
    name.pop_back();
  struct stat st;
  if (::lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
    throw KError(ErrorCause::InputRefused,
                 "The tile folder is a symbolic link: " + folder);
  if (!DirectoryExists(folder) && !CreateDir(folder))
    throw KError(ErrorCause::CannotWrite,
                 "Create directory " + folder + " Failed.");
}

ResumePositions ReadResumePositions(const DownloadTask &task) {
  ResumePositions positions;
  const TaskParameters &p = task.Params;
  if (!p.ContinueTask)
    return positions;
  const IniSnapshot ini(p.Path + p.TaskFileName);
  // The thread count is still the full one here: Start lowers it to the
  // tile count only afterwards.
  const int32_t slots =
      std::min<int32_t>(p.ThreadCount, static_cast<int32_t>(kResumeSlots));
  for (int32_t i = 0; i < slots; ++i) {
    const std::string n = std::to_string(i + 1);
    const int32_t x = ini.ReadInteger("THREADS", "T" + n + "X", 0);
    const int32_t y = ini.ReadInteger("THREADS", "T" + n + "Y", 0);
    // A pair outside the block (edited by hand, or left by another task)
    // names no tile of this task: the worker starts its share afresh rather
    // than skip tiles it never fetched.
    if (x < task.MinX || x > task.MaxX || y < task.MinY || y > task.MaxY)
      continue;
    positions.X[static_cast<size_t>(i)] = x;
    positions.Y[static_cast<size_t>(i)] = y;
  }
  return positions;
}

void WriteProjectFile(const DownloadTask &task) {
  const TaskParameters &p = task.Params;
  if (p.ContinueTask)
    return; // keeps the saved worker positions
  const char sep = task.Env.DecimalSeparator;
  std::vector<std::string> lines = {
      "[MapsType]", "MapsType=" + std::to_string(p.MapsType), "", "[AREA]"};
  AppendEdges(
      lines,
      {"LeftLongitude=", "RightLongitude=", "TopLatitude=", "BottomLatitude="},
      InputEdges(p), sep);
  lines.emplace_back();
  AppendEdges(lines,
              {"Left_Longitude_download=", "Right_Longitude_download=",
               "Top_Latitude_download=", "Bottom_Latitude_download="},
              DownloadEdges(task), sep);
  lines.insert(lines.end(), {
                                "",
                                "[Zoom]",
                                "Zoom=" + std::to_string(p.Zoom),
                                "",
                                "[Dir]",
                                "Dir=" + std::to_string(p.Dir),
                                "",
                                "[XY]",
                                "MinX=" + std::to_string(task.MinX),
                                "MinY=" + std::to_string(task.MinY),
                                "MaxX=" + std::to_string(task.MaxX),
                                "MaxY=" + std::to_string(task.MaxY),
                                "",
                                "[XY_VIEW]",
                                "MinX=" + std::to_string(task.ViewMinX),
                                "MinY=" + std::to_string(task.ViewMinY),
                                "MaxX=" + std::to_string(task.ViewMaxX),
                                "MaxY=" + std::to_string(task.ViewMaxY),
                                "",
                                "[THREADS]",
                                "ThreadCount=" + std::to_string(p.ThreadCount),
                            });
  // Every slot gets its keys, empty until the timer stores a position.
  // Appended piece by piece: GCC 12 reports a false -Wrestrict overlap for
  // "T" + text + "X=" in an optimised build.
  const auto emptyKey = [](int32_t n, char axis) {
    std::string key = "T";
    key += std::to_string(n);
    key += axis;
    key += '=';
    return key;
  };
  for (int32_t n = 1; n <= p.ThreadSlots; ++n) {
    lines.push_back(emptyKey(n, 'X'));
    lines.push_back(emptyKey(n, 'Y'));
  }
  lines.emplace_back();
  WriteLines(p.Path + p.TaskFileName, lines);
}

void WriteTileList(const DownloadTask &task) {
  const TaskParameters &p = task.Params;
  if (p.ContinueTask || p.Dir != 0)
    return;
  const int32_t z = p.Zoom;
  const RowLatitudes latitudes(task.MinY, task.MaxY, z);
  TileListWriter list(task.ListFilePath, task.InsideCount);
  std::string prefix; // "ks_X_"
  const std::string zoomSuffix =
      "_" + std::to_string(z) + "." + task.TileExtension() + ": ";
  for (int32_t x = task.MinX; x <= task.MaxX; ++x) {
    std::string longitudes;
    AppendFixed20_14(longitudes, TileXToLongitude(x, z));
    longitudes += ' ';
    AppendFixed20_14(longitudes,
                     TileXToLongitude(static_cast<double>(x) + 1, z));
    prefix = "ks_";
    AppendInt(prefix, x);
    prefix += '_';
    // Only the tiles the task downloads are listed: the column's runs of
    // rows inside its outline.
    for (const RowRun &run : task.Inside.Column(x))
      for (int32_t y = run.First; y <= run.Last; ++y) {
        std::string &line = list.Line();
        line += prefix;
        AppendInt(line, y);
        line += zoomSuffix;
        line += longitudes;
        latitudes.Append(line, y);
        list.EndLine();
      }
  }
  list.Finish();
}

void WriteLogHeader(const DownloadTask &task) {
  const TaskParameters &p = task.Params;
  const std::string now = FormatShortDateLongTime(task.Env.Now());
  if (p.ContinueTask) {
    // An earlier run's log gets the marker; a missing log fails here.
    std::vector<std::string> lines = ReadLines(task.LogFilePath);
    lines.push_back("--------------------------------------------");
    lines.push_back("Log continue...");
    lines.push_back("Now time is:" + now);
    WriteLines(task.LogFilePath, lines);
    return;
  }
  std::vector<std::string> lines = {
      "Project: " + p.Path + p.TaskFileName,
      "Now time is:" + now,
      "",
      "[MapsType]",
      "MapsType=" + std::to_string(p.MapsType),
      "",
  };
  AppendProxyLines(lines, p.Proxy);
  AppendLogArea(lines, task);
  lines.insert(
      lines.end(),
      {"All images' scope information are saved to " + task.ListFilePath, "",
       "Total count of images would be downloaded: " +
           std::to_string(task.InsideCount),
       "", "Download threads count: " + std::to_string(p.ThreadCount), "",
       "Zoom level: " + std::to_string(p.Zoom), "",
       "Dir=" + std::to_string(p.Dir), "", "path: " + p.Path, "",
       "Start downloading...", "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~"});
  WriteLines(task.LogFilePath, lines);
}

void CreateFailedFile(const DownloadTask &task) {
  if (task.Params.ContinueTask)
    return; // the earlier run's failures stay listed
  WriteTextFile(task.FailedFilePath, "");
}

namespace {

// The decimal digits of every number from `first` to `last` (not negative).
uint64_t DigitsFromTo(int64_t first, int64_t last) {
  uint64_t sum = 0;
  int64_t power = 1; // 10^(digits - 1)
  for (uint64_t digits = 1; power <= last; ++digits, power *= 10) {
    const int64_t from = std::max(first, power);
    const int64_t to = std::min(last, power * 10 - 1);
    if (from <= to)
      sum += digits * static_cast<uint64_t>(to - from + 1);
  }
  return sum;
}

} // namespace

uint64_t TileListBytes(const DownloadTask &task) {
  const TaskParameters &p = task.Params;
  if (p.ContinueTask || p.Dir != 0)
    return 0;
  const uint64_t columns = static_cast<uint64_t>(task.MaxX) - task.MinX + 1;
  const uint64_t rows = static_cast<uint64_t>(task.MaxY) - task.MinY + 1;
  const uint64_t tiles = columns * rows;
  // "ks_" X "_" Y "_" zoom ".jpg: " and four edges of 20 characters, each
  // after one space but the first, then CR LF.
  const uint64_t fixed = 3 + 1 + 1 + std::to_string(p.Zoom).size() + 1 +
                         task.TileExtension().size() + 2 + 4 * 20 + 3 + 2;
  const uint64_t files = (tiles + kTileListChunk - 1) / kTileListChunk;
  return tiles * fixed + rows * DigitsFromTo(task.MinX, task.MaxX) +
         columns * DigitsFromTo(task.MinY, task.MaxY) +
         files * (sizeof kTileListHeader - 1);
}

void CheckRoomForTileLists(const DownloadTask &task) {
  CheckRoomFor(task.ListFilePath + "1.txt", TileListBytes(task));
}

void WriteTaskFiles(const DownloadTask &task) {
  // The lists of a huge block would fill the disk: refused before any of
  // the task's files is written. The project file comes last: a run killed
  // while the others are written leaves no project file that `resume` or
  // Start would continue without its log, so the next Start simply writes
  // them all again.
  CheckRoomForTileLists(task);
  WriteAreaOutline(task);
  // A fresh task starts its own record of checked tiles (the old one's
  // entries would only make it grow); it is made here, before any worker
  // runs, so that the workers only open it.
  if (!task.Params.ContinueTask)
    RemoveCheckedTiles(task.CheckedFilePath);
  CreateCheckedTiles(task.CheckedFilePath);
  WriteTileList(task);
  WriteLogHeader(task);
  CreateFailedFile(task);
  WriteProjectFile(task);
  // A run killed in mid-write may have left temporary files beside its
  // tiles and task files; nothing of them is needed any more.
  RemoveStaleTemporaries(task.TileFolder);
  RemoveStaleTemporaries(task.Params.Path);
}

} // namespace kestrane
