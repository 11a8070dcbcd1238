#include "task/Unitclasstask.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

#include "geo/Commonfunc.h"
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

constexpr int32_t kMinZoom = 1;
constexpr int32_t kMaxZoom = 21;

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
    throw std::invalid_argument("zoom level outside 1..21");
  if (p.Dir < 0 || p.Dir > 3)
    throw std::invalid_argument("direction outside 0..3");
  const auto inside = [](double v, double limit) {
    return std::isfinite(v) && v >= -limit && v <= limit;
  };
  if (!inside(p.LeftLongitude, 180) || !inside(p.RightLongitude, 180) ||
      !inside(p.TopLatitude, 85) || !inside(p.BottomLatitude, 85))
    throw std::invalid_argument("coordinates outside the grid");
}

void WriteTextFile(const std::string &path, std::string_view bytes) {
  if (!WriteFileAtomic(path, bytes))
    throw KError("Cannot create file " + path);
}

const char kTileListHeader[] =
    "ImageFileName    Left_Edge_Longitude    Right_Edge_Longitude   "
    "Top_Edge_Latitude      Bottom_Edge_Latitude\r\n";

} // namespace

TileHosts DefaultTileHosts() {
  return {"ecn.t0.tiles.virtualearth.net", "ecn.t1.tiles.virtualearth.net",
          "ecn.t2.tiles.virtualearth.net", "ecn.t3.tiles.virtualearth.net"};
}

MDTask::MDTask(const TaskParameters &params, TaskEnvironment env)
    : Params(params), Env(std::move(env)) {
  const int32_t z = params.Zoom;
  CheckGeometryInputs(params);

  MinX = LongitudeToTileX(params.LeftLongitude, z);
  MaxX = LongitudeToTileX(params.RightLongitude, z);
  MinY = LatitudeToTileY(params.BottomLatitude, z);
  MaxY = LatitudeToTileY(params.TopLatitude, z);

  // The block edges come from the ranges as converted, before the rows are
  // put in order.
  LeftLongitudeDownload = TileXToLongitude(MinX, z);
  RightLongitudeDownload = TileXToLongitude(static_cast<double>(MaxX) + 1, z);
  TopLatitudeDownload = TileYToLatitude(static_cast<double>(MaxY) + 1, z);
  BottomLatitudeDownload = TileYToLatitude(MinY, z);

  if (MaxY < MinY)
    std::swap(MinY, MaxY);

  // Counted in 64 bits: a whole continent at zoom 21 holds trillions of
  // tiles, which the 32-bit tile counters of the workers cannot walk.
  const int64_t count = (int64_t{MaxX} - MinX + 1) * (int64_t{MaxY} - MinY + 1);
  if (count > std::numeric_limits<int32_t>::max())
    throw TaskSetupError("The area is too large: " + IntText(count) +
                         " tiles.");
  if (count < 1)
    throw std::invalid_argument("left edge east of right edge");
  TotalCount = static_cast<int32_t>(count);

  const DirectionRow &row = kDirections[params.Dir];
  DirLetter = row.Letter;
  QuadDigitNW = row.NW;
  QuadDigitNE = row.NE;
  QuadDigitSW = row.SW;
  QuadDigitSE = row.SE;
  if (row.SwapsAxes) {
    ViewMinX = MinY;
    ViewMaxX = MaxY;
    ViewMinY = MinX;
    ViewMaxY = MaxX;
  } else {
    ViewMinX = MinX;
    ViewMaxX = MaxX;
    ViewMinY = MinY;
    ViewMaxY = MaxY;
  }

  const std::string &name = params.TaskFileName;
  const std::string base =
      name.substr(0, name.size() - ExtractFileExt(name).size());
  LogFilePath = params.Path + base + "_log.txt";
  FailedFilePath = params.Path + base + "_failed.ftl";
  ListFilePath = params.Path + base + "_list.txt";
  TileFolder = params.Path + base + "/";

  if (!DirectoryExists(TileFolder) && !CreateDir(TileFolder))
    throw TaskSetupError("Create directory " + TileFolder + " Failed.");

  ThreadX.fill(0);
  ThreadY.fill(0);
  if (params.ContinueTask) {
    // The positions the timer saved in the earlier run; the thread count is
    // still the full one here, Start lowers it only after the set-up.
    const IniSnapshot ini(params.Path + params.TaskFileName);
    const int32_t slots = std::min<int32_t>(
        params.ThreadCount, static_cast<int32_t>(ThreadX.size()));
    for (int32_t i = 0; i < slots; ++i) {
      const std::string n = IntText(i + 1);
      const int32_t x = ini.ReadInteger("THREADS", "T" + n + "X", 0);
      const int32_t y = ini.ReadInteger("THREADS", "T" + n + "Y", 0);
      // A pair outside the block (edited by hand, or left by another task)
      // names no tile of this task: the worker starts its share afresh
      // rather than skip tiles it never fetched.
      if (x < MinX || x > MaxX || y < MinY || y > MaxY)
        continue;
      ThreadX[i] = x;
      ThreadY[i] = y;
    }
  }
}

std::string MDTask::Quadkey(int32_t x, int32_t y) const {
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

std::string MDTask::TileUrl(int32_t x, int32_t y) const {
  // Neighbouring rows go to different shards.
  const int32_t shard = ((y % 4) + 4) % 4;
  return "http://" + Env.Hosts[static_cast<size_t>(shard)] + "/tiles/svi" +
         Quadkey(x, y) + "?g=5340&dir=dir_" + DirLetter;
}

std::string MDTask::TileFileName(int32_t x, int32_t y) const {
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

std::string MDTask::TilePath(int32_t x, int32_t y) const {
  return TileFolder + TileFileName(x, y);
}

void MDTask::WriteTaskFile() const {
  if (Params.ContinueTask)
    return; // keeps the saved worker positions
  const auto deg = [this](double v) {
    return FormatGeneral(v, Env.DecimalSeparator);
  };
  std::vector<std::string> lines = {
      "[MapsType]",
      "MapsType=" + IntText(Params.MapsType),
      "",
      "[AREA]",
      "LeftLongitude=" + deg(Params.LeftLongitude),
      "RightLongitude=" + deg(Params.RightLongitude),
      "TopLatitude=" + deg(Params.TopLatitude),
      "BottomLatitude=" + deg(Params.BottomLatitude),
      "",
      "Left_Longitude_download=" + deg(LeftLongitudeDownload),
      "Right_Longitude_download=" + deg(RightLongitudeDownload),
      "Top_Latitude_download=" + deg(TopLatitudeDownload),
      "Bottom_Latitude_download=" + deg(BottomLatitudeDownload),
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
  };
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

void MDTask::WriteTileList() const {
  if (Params.ContinueTask || Params.Dir != 0)
    return;
  const int32_t z = Params.Zoom;
  const int64_t rows = int64_t{MaxY} - MinY + 1;

  // The latitudes of a row are the same in every column: when the rows fit
  // one chunk their text (" north south") is made once. A latitude always
  // fills its 20 characters, so every row's text has the same length.
  constexpr size_t kLatText = 1 + 20 + 1 + 20;
  const auto appendRow = [z](std::string &out, int32_t y) {
    out += ' ';
    AppendFixed20_14(out, TileYToLatitude(static_cast<double>(y) + 1, z));
    out += ' ';
    AppendFixed20_14(out, TileYToLatitude(y, z));
  };
  std::string rowText;
  bool cacheRows = rows <= kTileListChunk;
  if (cacheRows) {
    rowText.reserve(static_cast<size_t>(rows) * kLatText);
    for (int32_t y = MinY; y <= MaxY; ++y)
      appendRow(rowText, y);
    cacheRows = rowText.size() == static_cast<size_t>(rows) * kLatText;
  }

  // A tile line is at most about 120 bytes; one chunk is held at a time.
  std::string chunk;
  chunk.reserve(
      static_cast<size_t>(std::min<int64_t>(TotalCount, kTileListChunk)) * 128 +
      sizeof kTileListHeader);
  chunk += kTileListHeader;
  int32_t linesInFile = 0;
  int64_t tiles = 0;
  std::string prefix; // "ks_X_" and the column's two longitudes
  std::string zoomSuffix = "_" + IntText(z) + "." + TileExtension() + ": ";
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
      chunk += prefix;
      AppendInt(chunk, y);
      chunk += zoomSuffix;
      chunk += longitudes;
      if (cacheRows)
        chunk.append(rowText, static_cast<size_t>(y - MinY) * kLatText,
                     kLatText);
      else
        appendRow(chunk, y);
      chunk += "\r\n";
      ++linesInFile;
      ++tiles;
      if (linesInFile == kTileListChunk) {
        WriteTextFile(ListFilePath + IntText(tiles / kTileListChunk) + ".txt",
                      chunk);
        chunk.clear();
        chunk += kTileListHeader;
        linesInFile = 0;
      }
    }
  }
  if (linesInFile > 0)
    WriteTextFile(ListFilePath + IntText(tiles / kTileListChunk + 1) + ".txt",
                  chunk);
}

void MDTask::WriteLogHeader() const {
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
  const auto deg = [this](double v) {
    return FormatGeneral(v, Env.DecimalSeparator);
  };
  std::vector<std::string> lines = {
      "Project: " + Params.Path + Params.TaskFileName,
      "Now time is:" + now,
      "",
      "[MapsType]",
      "MapsType=" + IntText(Params.MapsType),
      "",
  };
  if (Params.UseProxy) {
    // The log is often passed around: the password never goes into it.
    lines.insert(lines.end(),
                 {"Using Proxy:", "Proxy Server:" + Params.ProxyServer,
                  "Proxy Port:" + Params.ProxyPort,
                  "ProxyUsername:" + Params.ProxyUsername,
                  std::string("ProxyPassword:") +
                      (Params.ProxyPassword.empty() ? "" : "********"),
                  ""});
  }
  lines.insert(
      lines.end(),
      {"Left Longitude  input= " + deg(Params.LeftLongitude),
       "Right Longitude input= " + deg(Params.RightLongitude),
       "Top Latitude    input= " + deg(Params.TopLatitude),
       "Bottom Latitude input= " + deg(Params.BottomLatitude),
       "",
       "MinX = " + IntText(MinX),
       "MinY = " + IntText(MinY),
       "MaxX = " + IntText(MaxX),
       "MaxY = " + IntText(MaxY),
       "",
       "Left Longitude  download=" + deg(LeftLongitudeDownload),
       "Right Longitude download=" + deg(RightLongitudeDownload),
       "Top Latitude    download=" + deg(TopLatitudeDownload),
       "Bottom Latitude download=" + deg(BottomLatitudeDownload),
       "",
       "All images' scope information are saved to " + ListFilePath,
       "",
       "Total count of images would be downloaded: " + IntText(TotalCount),
       "",
       "Download threads count: " + IntText(Params.ThreadCount),
       "",
       "Zoom level: " + IntText(Params.Zoom),
       "",
       "Dir=" + IntText(Params.Dir),
       "",
       "path: " + Params.Path,
       "",
       "Start downloading...",
       "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~"});
  WriteLines(LogFilePath, lines);
}

void MDTask::CreateFailedFile() const {
  if (Params.ContinueTask)
    return; // the earlier run's failures stay listed
  WriteTextFile(FailedFilePath, "");
}

} // namespace kestrane
