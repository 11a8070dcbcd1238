#include "task/DownloadTask.h"

#include <cmath>
#include <limits>
#include <utility>

#include "geo/TileGrid.h"
#include "platform/Files.h"
#include "platform/NumberFormat.h"
#include "tile/TileName.h"

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

} // namespace

// What the parameters give, computed in full before a task's members are
// set from it.
struct DownloadTask::Layout {
  int32_t MinX = 0, MinY = 0, MaxX = 0, MaxY = 0;
  int32_t ViewMinX = 0, ViewMaxX = 0, ViewMinY = 0, ViewMaxY = 0;
  double LeftLongitudeDownload = 0, RightLongitudeDownload = 0,
         TopLatitudeDownload = 0, BottomLatitudeDownload = 0;
  int32_t TotalCount = 0;
  std::string DirLetter;
  int32_t QuadDigitNW = 0, QuadDigitNE = 0, QuadDigitSW = 0, QuadDigitSE = 0;
  std::string LogFilePath, FailedFilePath, ListFilePath, CheckedFilePath,
      TileFolder;
  InsideTiles Inside;

  explicit Layout(const TaskParameters &p) {
    CheckGeometryInputs(p);
    SetTileRanges(p);
    SetDirection(p.Dir);
    SetFilePaths(p);
    Inside = InsideTiles(p.Area, GridBlock{MinX, MinY, MaxX, MaxY, p.Zoom});
    if (Inside.Count() == 0)
      throw KError(ErrorCause::InputRefused,
                   "The outline holds no tile of the area's block.");
  }

private:
  void SetTileRanges(const TaskParameters &p);
  void SetDirection(int32_t dir);
  void SetFilePaths(const TaskParameters &p);
};

// The tile ranges of the area, the block's edges and the tile count.
void DownloadTask::Layout::SetTileRanges(const TaskParameters &p) {
  const int32_t z = p.Zoom;
  MinX = LongitudeToTileX(p.LeftLongitude, z);
  MaxX = LongitudeToTileX(p.RightLongitude, z);
  MinY = LatitudeToTileY(p.BottomLatitude, z);
  MaxY = LatitudeToTileY(p.TopLatitude, z);

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
    throw KError(ErrorCause::InputRefused,
                 "The area is too large: " + std::to_string(count) + " tiles.");
  if (count < 1)
    throw KError(ErrorCause::InputRefused, "left edge east of right edge");
  TotalCount = static_cast<int32_t>(count);
}

// The request letter, the quadkey digits and the view ranges of the task's
// direction.
void DownloadTask::Layout::SetDirection(int32_t dir) {
  const DirectionRow &row = kDirections[dir];
  DirLetter = row.Letter;
  QuadDigitNW = row.NW;
  QuadDigitNE = row.NE;
  QuadDigitSW = row.SW;
  QuadDigitSE = row.SE;
  const bool swap = row.SwapsAxes;
  ViewMinX = swap ? MinY : MinX;
  ViewMaxX = swap ? MaxY : MaxX;
  ViewMinY = swap ? MinX : MinY;
  ViewMaxY = swap ? MaxX : MaxY;
}

// The log, failed-tile list, tile list, record of checked tiles and tile
// folder beside the project file, named after it.
void DownloadTask::Layout::SetFilePaths(const TaskParameters &p) {
  const std::string &name = p.TaskFileName;
  const std::string base =
      p.Path + name.substr(0, name.size() - ExtractFileExt(name).size());
  LogFilePath = base + "_log.txt";
  FailedFilePath = base + "_failed.ftl";
  ListFilePath = base + "_list.txt";
  CheckedFilePath = base + "_checked.bin";
  TileFolder = base + "/";
}

TileHosts DefaultTileHosts() {
  return {"ecn.t0.tiles.virtualearth.net", "ecn.t1.tiles.virtualearth.net",
          "ecn.t2.tiles.virtualearth.net", "ecn.t3.tiles.virtualearth.net"};
}

DownloadTask::DownloadTask(TaskParameters params, TaskEnvironment env,
                           const ResumePositions &resume)
    : DownloadTask(Layout(params), params, std::move(env), resume) {}

DownloadTask::DownloadTask(const Layout &layout, const TaskParameters &params,
                           TaskEnvironment env, const ResumePositions &resume)
    : Params(params), Env(std::move(env)), ResumeX(resume.X), ResumeY(resume.Y),
      MinX(layout.MinX), MinY(layout.MinY), MaxX(layout.MaxX),
      MaxY(layout.MaxY), ViewMinX(layout.ViewMinX), ViewMaxX(layout.ViewMaxX),
      ViewMinY(layout.ViewMinY), ViewMaxY(layout.ViewMaxY),
      LeftLongitudeDownload(layout.LeftLongitudeDownload),
      RightLongitudeDownload(layout.RightLongitudeDownload),
      TopLatitudeDownload(layout.TopLatitudeDownload),
      BottomLatitudeDownload(layout.BottomLatitudeDownload),
      TotalCount(layout.TotalCount), DirLetter(layout.DirLetter),
      QuadDigitNW(layout.QuadDigitNW), QuadDigitNE(layout.QuadDigitNE),
      QuadDigitSW(layout.QuadDigitSW), QuadDigitSE(layout.QuadDigitSE),
      LogFilePath(layout.LogFilePath), FailedFilePath(layout.FailedFilePath),
      ListFilePath(layout.ListFilePath),
      CheckedFilePath(layout.CheckedFilePath), TileFolder(layout.TileFolder),
      Inside(layout.Inside),
      InsideCount(static_cast<int32_t>(layout.Inside.Count())) {}

DownloadTask
DownloadTask::WithResumePositions(const ResumePositions &resume) const {
  return DownloadTask(Params, Env, resume);
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
  const TileBlock block{MinX, MinY, MaxX, MaxY, Params.Dir};
  return kestrane::TileFileName(NameNumbersOf(block, x, y), Params.Zoom,
                                TileExtension());
}

std::string DownloadTask::TilePath(int32_t x, int32_t y) const {
  return TileFolder + TileFileName(x, y);
}

} // namespace kestrane
