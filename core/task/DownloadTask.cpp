#include "task/DownloadTask.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "geo/TileGrid.h"
#include "platform/Files.h"
#include "platform/Ini.h"
#include "platform/NumberFormat.h"

namespace kestrane {
namespace {

// One row per view direction: the request letter and the quadkey digit of
// each quadrant, which is the quadrant's place in the picture seen looking
// that way (0 top left, 1 top right, 2 bottom left, 3 bottom right).
struct DirectionRow {
  const char *Letter;
  int32_t NW, NE, SW, SE;
  bool SwapsAxes; // East and West show rows across and columns upward
};
constexpr DirectionRow kDirections[4] = {
    {"n", 0, 1, 2, 3, false}, // North
    {"e", 2, 0, 3, 1, true},  // East
    {"s", 3, 2, 1, 0, false}, // South
    {"w", 1, 3, 0, 2, true},  // West
};

void AppendInt(std::string &out, int64_t value) {
  char buf[24];
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, res.ptr);
}

std::string IntText(int64_t value) {
  std::string s;
  AppendInt(s, value);
  return s;
}

// Refuses what the tile geometry is not defined for. Start lets none of it
// through; this keeps any other caller from computing with garbage.
void CheckGeometryInputs(const TaskParameters &p) {
  if (p.Zoom < kMinZoom || p.Zoom > kMaxZoom)
    throw KError(ErrorCause::InputRefused, "zoom level outside 1..21");
  if (p.Dir < 0 || p.Dir > 3)
    throw KError(ErrorCause::InputRefused, "direction outside 0..3");
  const auto inside = [](double v, double limit) {
    return std::isfinite(v) && v >= -limit && v <= limit;
  };
  if (!inside(p.LeftLongitude, 180) || !inside(p.RightLongitude, 180) ||
      !inside(p.TopLatitude, 85) || !inside(p.BottomLatitude, 85))
    throw KError(ErrorCause::InputRefused, "coordinates outside the grid");
}

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
    WriteTextFile(listPath_ + IntText(tiles_ / kTileListChunk) + ".txt",
                  chunk_);
    chunk_.clear();
    chunk_ += kTileListHeader;
    linesInFile_ = 0;
  }

  // Writes the last, partly filled file.
  void Finish() {
    if (linesInFile_ > 0)
      WriteTextFile(listPath_ + IntText(tiles_ / kTileListChunk + 1) + ".txt",
                    chunk_);
  }

private:
  const std::string listPath_;
  std::string chunk_;
  int32_t linesInFile_ = 0;
  int64_t tiles_ = 0;
};

// The tile ranges of the area, the block's edges and the tile count.
void SetTileRanges(DownloadTask &t) {
  const TaskParameters &p = t.Params;
  const int32_t z = p.Zoom;
  t.MinX = LongitudeToTileX(p.LeftLongitude, z);
  t.MaxX = LongitudeToTileX(p.RightLongitude, z);
  t.MinY = LatitudeToTileY(p.BottomLatitude, z);
  t.MaxY = LatitudeToTileY(p.TopLatitude, z);

  // The block edges come from the ranges as converted, before the rows are
  // put in order.
  t.LeftLongitudeDownload = TileXToLongitude(t.MinX, z);
  t.RightLongitudeDownload =
      TileXToLongitude(static_cast<double>(t.MaxX) + 1, z);
  t.TopLatitudeDownload = TileYToLatitude(static_cast<double>(t.MaxY) + 1, z);
  t.BottomLatitudeDownload = TileYToLatitude(t.MinY, z);

  if (t.MaxY < t.MinY)
    std::swap(t.MinY, t.MaxY);

  // Counted in 64 bits: a whole continent at zoom 21 holds trillions of
  // tiles, which the 32-bit tile counters of the workers cannot walk.
  const int64_t count =
      (int64_t{t.MaxX} - t.MinX + 1) * (int64_t{t.MaxY} - t.MinY + 1);
  if (count > std::numeric_limits<int32_t>::max())
    throw KError(ErrorCause::InputRefused,
                 "The area is too large: " + IntText(count) + " tiles.");
  if (count < 1)
    throw KError(ErrorCause::InputRefused, "left edge east of right edge");
  t.TotalCount = static_cast<int32_t>(count);
}

// The request letter, the quadkey digits and the view ranges of the task's
// direction.
void SetDirection(DownloadTask &t) {
  const DirectionRow &row = kDirections[t.Params.Dir];
  t.DirLetter = row.Letter;
  t.QuadDigitNW = row.NW;
  t.QuadDigitNE = row.NE;
  t.QuadDigitSW = row.SW;
  t.QuadDigitSE = row.SE;
  const bool swap = row.SwapsAxes;
  t.ViewMinX = swap ? t.MinY : t.MinX;
  t.ViewMaxX = swap ? t.MaxY : t.MaxX;
  t.ViewMinY = swap ? t.MinX : t.MinY;
  t.ViewMaxY = swap ? t.MaxX : t.MaxY;
}

// The log, failed-tile list, tile list and tile folder beside the project
// file, named after it.
void SetFilePaths(DownloadTask &t) {
  const std::string &name = t.Params.TaskFileName;
  const std::string base =
      t.Params.Path + name.substr(0, name.size() - ExtractFileExt(name).size());
  t.LogFilePath = base + "_log.txt";
  t.FailedFilePath = base + "_failed.ftl";
  t.ListFilePath = base + "_list.txt";
  t.TileFolder = base + "/";
}

// The positions the timer saved in the earlier run; the thread count is
// still the full one here, Start lowers it only after the set-up.
void ReadResumePositions(DownloadTask &t) {
  const TaskParameters &p = t.Params;
  const IniSnapshot ini(p.Path + p.TaskFileName);
  const int32_t slots =
      std::min<int32_t>(p.ThreadCount, static_cast<int32_t>(t.ResumeX.size()));
  for (int32_t i = 0; i < slots; ++i) {
    const std::string n = IntText(i + 1);
    const int32_t x = ini.ReadInteger("THREADS", "T" + n + "X", 0);
    const int32_t y = ini.ReadInteger("THREADS", "T" + n + "Y", 0);
    // A pair outside the block (edited by hand, or left by another task)
    // names no tile of this task: the worker starts its share afresh rather
    // than skip tiles it never fetched.
    if (x < t.MinX || x > t.MaxX || y < t.MinY || y > t.MaxY)
      continue;
    t.ResumeX[static_cast<size_t>(i)] = x;
    t.ResumeY[static_cast<size_t>(i)] = y;
  }
}

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
  lines.insert(lines.end(),
               {"", "MinX = " + IntText(t.MinX), "MinY = " + IntText(t.MinY),
                "MaxX = " + IntText(t.MaxX), "MaxY = " + IntText(t.MaxY), ""});
  AppendEdges(lines,
              {"Left Longitude  download=", "Right Longitude download=",
               "Top Latitude    download=", "Bottom Latitude download="},
              DownloadEdges(t), sep);
  lines.emplace_back();
}

} // namespace

TileHosts DefaultTileHosts() {
  return {"ecn.t0.tiles.virtualearth.net", "ecn.t1.tiles.virtualearth.net",
          "ecn.t2.tiles.virtualearth.net", "ecn.t3.tiles.virtualearth.net"};
}

DownloadTask::DownloadTask(const TaskParameters &params, TaskEnvironment env)
    : Params(params), Env(std::move(env)) {
  CheckGeometryInputs(params);
  SetTileRanges(*this);
  SetDirection(*this);
  SetFilePaths(*this);
  if (!DirectoryExists(TileFolder) && !CreateDir(TileFolder))
    throw KError(ErrorCause::CannotWrite,
                 "Create directory " + TileFolder + " Failed.");
  ResumeX.fill(0);
  ResumeY.fill(0);
  if (params.ContinueTask)
    ReadResumePositions(*this);
}

std::string DownloadTask::Quadkey(int32_t x, int32_t y) const {
  std::string key;
  key.reserve(static_cast<size_t>(Params.Zoom));
  for (int32_t i = Params.Zoom - 1; i >= 0; --i) {
    const bool east = ((x >> i) & 1) != 0;
    const bool north = ((y >> i) & 1) != 0;
    const int32_t digit = north ? (east ? QuadDigitNE : QuadDigitNW)
                                : (east ? QuadDigitSE : QuadDigitSW);
    key += static_cast<char>('0' + digit);
  }
  return key;
}

std::string DownloadTask::TileUrl(int32_t x, int32_t y) const {
  // Neighbouring rows go to different shards.
  const int32_t shard = ((y % 4) + 4) % 4;
  return "http://" + Env.Hosts[static_cast<size_t>(shard)] + "/tiles/svi" +
         Quadkey(x, y) + "?g=5340&dir=dir_" + DirLetter;
}

std::string DownloadTask::TileFileName(int32_t x, int32_t y) const {
  // The tile's column and row in the picture seen looking in the task's
  // direction, mirrored within the task's own ranges.
  int64_t a = x, b = y;
  switch (Params.Dir) {
  case 1: // East
    a = int64_t{MaxY} + MinY - y;
    b = x;
    break;
  case 2: // South
    a = int64_t{MaxX} + MinX - x;
    b = int64_t{MaxY} + MinY - y;
    break;
  case 3: // West
    a = y;
    b = int64_t{MaxX} + MinX - x;
    break;
  default: // North
    break;
  }
  std::string name = "ks_";
  AppendInt(name, a);
  name += '_';
  AppendInt(name, b);
  name += '_';
  AppendInt(name, Params.Zoom);
  name += '.';
  name += TileExtension();
  return name;
}

std::string DownloadTask::TilePath(int32_t x, int32_t y) const {
  return TileFolder + TileFileName(x, y);
}

void DownloadTask::WriteTaskFile() const {
  if (Params.ContinueTask)
    return; // keeps the saved worker positions
  const char sep = Env.DecimalSeparator;
  std::vector<std::string> lines = {
      "[MapsType]", "MapsType=" + IntText(Params.MapsType), "", "[AREA]"};
  AppendEdges(
      lines,
      {"LeftLongitude=", "RightLongitude=", "TopLatitude=", "BottomLatitude="},
      InputEdges(Params), sep);
  lines.emplace_back();
  AppendEdges(lines,
              {"Left_Longitude_download=", "Right_Longitude_download=",
               "Top_Latitude_download=", "Bottom_Latitude_download="},
              DownloadEdges(*this), sep);
  lines.insert(lines.end(), {
                                "",
                                "[Zoom]",
                                "Zoom=" + IntText(Params.Zoom),
                                "",
                                "[Dir]",
                                "Dir=" + IntText(Params.Dir),
                                "",
                                "[XY]",
                                "MinX=" + IntText(MinX),
                                "MinY=" + IntText(MinY),
                                "MaxX=" + IntText(MaxX),
                                "MaxY=" + IntText(MaxY),
                                "",
                                "[XY_VIEW]",
                                "MinX=" + IntText(ViewMinX),
                                "MinY=" + IntText(ViewMinY),
                                "MaxX=" + IntText(ViewMaxX),
                                "MaxY=" + IntText(ViewMaxY),
                                "",
                                "[THREADS]",
                                "ThreadCount=" + IntText(Params.ThreadCount),
                            });
  // Every slot gets its keys, empty until the timer stores a position.
  // Appended piece by piece: GCC 12 reports a false -Wrestrict overlap for
  // "T" + text + "X=" in an optimised build.
  const auto emptyKey = [](int32_t n, char axis) {
    std::string key = "T";
    key += IntText(n);
    key += axis;
    key += '=';
    return key;
  };
  for (int32_t n = 1; n <= Params.ThreadSlots; ++n) {
    lines.push_back(emptyKey(n, 'X'));
    lines.push_back(emptyKey(n, 'Y'));
  }
  lines.emplace_back();
  WriteLines(Params.Path + Params.TaskFileName, lines);
}

void DownloadTask::WriteTileList() const {
  if (Params.ContinueTask || Params.Dir != 0)
    return;
  const int32_t z = Params.Zoom;
  const RowLatitudes latitudes(MinY, MaxY, z);
  TileListWriter list(ListFilePath, TotalCount);
  std::string prefix; // "ks_X_"
  const std::string zoomSuffix =
      "_" + IntText(z) + "." + TileExtension() + ": ";
  for (int32_t x = MinX; x <= MaxX; ++x) {
    std::string longitudes;
    AppendFixed20_14(longitudes, TileXToLongitude(x, z));
    longitudes += ' ';
    AppendFixed20_14(longitudes,
                     TileXToLongitude(static_cast<double>(x) + 1, z));
    prefix = "ks_";
    AppendInt(prefix, x);
    prefix += '_';
    for (int32_t y = MinY; y <= MaxY; ++y) {
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

void DownloadTask::WriteLogHeader() const {
  const std::string now = FormatShortDateLongTime(Env.Now());
  if (Params.ContinueTask) {
    // An earlier run's log gets the marker; a missing log fails here.
    std::vector<std::string> lines = ReadLines(LogFilePath);
    lines.push_back("--------------------------------------------");
    lines.push_back("Log continue...");
    lines.push_back("Now time is:" + now);
    WriteLines(LogFilePath, lines);
    return;
  }
  std::vector<std::string> lines = {
      "Project: " + Params.Path + Params.TaskFileName,
      "Now time is:" + now,
      "",
      "[MapsType]",
      "MapsType=" + IntText(Params.MapsType),
      "",
  };
  AppendProxyLines(lines, Params.Proxy);
  AppendLogArea(lines, *this);
  lines.insert(
      lines.end(),
      {"All images' scope information are saved to " + ListFilePath, "",
       "Total count of images would be downloaded: " + IntText(TotalCount), "",
       "Download threads count: " + IntText(Params.ThreadCount), "",
       "Zoom level: " + IntText(Params.Zoom), "", "Dir=" + IntText(Params.Dir),
       "", "path: " + Params.Path, "", "Start downloading...",
       "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~"});
  WriteLines(LogFilePath, lines);
}

void DownloadTask::CreateFailedFile() const {
  if (Params.ContinueTask)
    return; // the earlier run's failures stay listed
  WriteTextFile(FailedFilePath, "");
}

} // namespace kestrane
