#include "joiner/PictureWriter.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "joiner/CogAssembly.h"
#include "joiner/CogLayout.h"
#include "joiner/OverviewTile.h"
#include "joiner/TileBatch.h"
#include "joiner/TileCodec.h"
#include "joiner/TileSpool.h"
#include "platform/Files.h"
#include "tile/TileRead.h"

namespace kestrane::joiner_detail {

namespace {

constexpr int kTile = kTilePixels;
constexpr double kEarthRadius = 6378137.0; // of EPSG:3857
constexpr double kPi = 3.14159265358979323846;
// The largest file whose offsets a classic TIFF holds.
constexpr uint64_t kClassicLimit = 0xFFFFFFFFull;

// No tile file is this large; a larger one is not read (memory stays
// bounded) and counts as damaged.
constexpr size_t kMaxTileBytes = size_t{16} * 1024 * 1024;

double MercatorX(double lon) {
  return lon * kPi / 180.0 * kEarthRadius;
}
double MercatorY(double lat) {
  return std::log(std::tan(kPi / 4 + lat * kPi / 360.0)) * kEarthRadius;
}

// The picture and, with overviews, every reduced level down to one tile.
std::vector<GridSize> LevelSizes(int64_t columns, int64_t rows,
                                 bool overviews) {
  std::vector<GridSize> levels{{columns * kTile, rows * kTile}};
  while (overviews &&
         (levels.back().Width > kTile || levels.back().Height > kTile))
    levels.push_back(
        {(levels.back().Width + 1) / 2, (levels.back().Height + 1) / 2});
  return levels;
}

class Writer {
public:
  Writer(const PictureInput &input, const JoinOptions &options,
         JoinResult &result)
      : task_(input.Task), options_(options), result_(result),
        problems_(input.Problems), checked_(input.Checked), h_(input.HSampling),
        v_(input.VSampling),
        levels_(LevelSizes(result.Columns, result.Rows, options.Overviews)) {}

  // Writes the whole file into `out`; false when cancelled.
  bool Write(AtomicFile &out, const std::string &target);

private:
  bool Cancelled() const {
    return options_.Cancel != nullptr && options_.Cancel->Requested();
  }
  void Report(JoinPhase phase, int64_t done, int64_t total) const {
    if (options_.Progress)
      options_.Progress(phase, done, total);
  }
  [[noreturn]] void Fail(const std::string &what) const {
    throw KError(ErrorCause::CannotWrite,
                 "Cannot write file " + target_ + ": " + what);
  }
  void Georeference(CogShape &shape) const;
  bool WriteBase(TileSpool &spool);
  bool WriteOverviews(TileSpool &spool);
  bool WriteOverview(TileSpool &spool, size_t to, int64_t &done, int64_t total);
  void GatherChildren(const TileSpool &spool, size_t from, int64_t oy,
                      int64_t ox0, int64_t n, std::vector<Children> &out);
  bool Assemble(TileSpool &spool, int fd);

  const DownloadTask &task_;
  const JoinOptions &options_;
  JoinResult &result_;
  const CellStates &problems_;
  const CheckedTiles &checked_;
  int h_, v_;
  const std::vector<GridSize> levels_;
  bool masks_ = false; // some tile of the picture holds no data
  std::string target_;
  std::vector<SpoolEntry> rowAbove_, rowBelow_; // children being gathered
};

// Web Mercator keys: the picture's corners are the block's edges.
void Writer::Georeference(CogShape &shape) const {
  const double left = MercatorX(task_.LeftLongitudeDownload);
  const double right = MercatorX(task_.RightLongitudeDownload);
  const double top = MercatorY(
      std::max(task_.TopLatitudeDownload, task_.BottomLatitudeDownload));
  const double bottom = MercatorY(
      std::min(task_.TopLatitudeDownload, task_.BottomLatitudeDownload));
  const double width = static_cast<double>(result_.Columns * kTile);
  const double height = static_cast<double>(result_.Rows * kTile);
  shape.Georeferenced = true;
  shape.Scale[0] = (right - left) / width;
  shape.Scale[1] = (top - bottom) / height;
  shape.Tie[3] = left;
  shape.Tie[4] = top;
}

// The picture's tiles, row by row: JPEG tiles that pass the workers' image
// check (or that the workers' record shows they passed) carried as they are,
// others decoded within its bounds and encoded once, the rest left empty.
bool Writer::WriteBase(TileSpool &spool) {
  const int64_t total = result_.Total;
  TileBatch batch(TileForm{CarryRule::TiffTile, h_, v_, options_.Quality},
                  options_, checked_);
  spool.BeginLevel();
  for (int64_t index = 0; index < total;) {
    if (Cancelled())
      return false;
    Report(JoinPhase::Joining, index, total);
    batch.Clear();
    for (; index < total && !batch.Full(); ++index) {
      int32_t x = 0, y = 0;
      ViewCellTile(task_, index % result_.Columns, index / result_.Columns, x,
                   y);
      batch.Add(problems_.Get(index), task_.TilePath(x, y));
    }
    batch.Prepare();
    for (size_t k = 0; k < batch.Size(); ++k) {
      if (batch.Use(k) == BatchTile::Cancelled)
        return false;
      spool.Add(batch.CountIn(k, result_) ? std::string_view(batch.Bytes(k))
                                          : std::string_view());
    }
  }
  spool.EndLevel();
  Report(JoinPhase::Joining, total, total);
  return true;
}

// The children of tiles [ox0, ox0 + n) of row `oy` of level `from` + 1.
void Writer::GatherChildren(const TileSpool &spool, size_t from, int64_t oy,
                            int64_t ox0, int64_t n,
                            std::vector<Children> &out) {
  const GridSize &f = levels_[from];
  const int64_t c0 = 2 * ox0, c1 = std::min(2 * (ox0 + n), f.Across());
  std::vector<SpoolEntry> *rows[2] = {&rowAbove_, &rowBelow_};
  for (int half = 0; half < 2; ++half) {
    std::vector<SpoolEntry> &r = *rows[half];
    r.assign(static_cast<size_t>(2 * n), SpoolEntry{});
    const int64_t y = 2 * oy + half;
    if (y < f.Down())
      spool.ReadEntries(static_cast<int>(from), y * f.Across() + c0, c1 - c0,
                        r.data());
  }
  for (int64_t k = 0; k < n; ++k)
    for (int q = 0; q < 4; ++q)
      out[static_cast<size_t>(k)][static_cast<size_t>(q)] =
          (*rows[q >> 1])[static_cast<size_t>(2 * k + (q & 1))];
}

// One reduced level from the one above it. Tiles are built by several
// threads in batches along a row and added in order.
bool Writer::WriteOverview(TileSpool &spool, size_t to, int64_t &done,
                           int64_t total) {
  const GridSize &level = levels_[to];
  const int threads =
      std::clamp(options_.Threads > 0
                     ? options_.Threads
                     : static_cast<int>(std::thread::hardware_concurrency()),
                 1, 4);
  const int64_t batch = int64_t{16} * threads;
  std::vector<std::string> encoded(static_cast<size_t>(batch)),
      masks(static_cast<size_t>(batch));
  std::vector<char> failed(static_cast<size_t>(batch));
  std::vector<Children> children(static_cast<size_t>(batch));
  const TileEncoding encoding{h_, v_, options_.Quality};
  spool.BeginLevel();
  for (int64_t oy = 0; oy < level.Down(); ++oy)
    for (int64_t ox0 = 0; ox0 < level.Across(); ox0 += batch) {
      if (Cancelled())
        return false;
      const int64_t n = std::min(batch, level.Across() - ox0);
      GatherChildren(spool, to - 1, oy, ox0, n, children);
      // Threads only for a batch with picture in it.
      const bool busy =
          std::any_of(children.begin(), children.begin() + n, HasChildren);
      std::atomic<int64_t> next{0};
      // Each thread only reads the spool.
      auto work = [&] {
        OverviewScratch scratch;
        for (int64_t k = next++; k < n; k = next++) {
          const auto i = static_cast<size_t>(k);
          const int w = static_cast<int>(level.Width - (ox0 + k) * kTile);
          const int h = static_cast<int>(level.Height - oy * kTile);
          failed[i] = EncodeOverviewTile(spool, children[i], encoding, scratch,
                                         encoded[i]) &&
                              (!masks_ || encoded[i].empty() ||
                               BuildOverviewMask(spool, children[i], w, h,
                                                 scratch, masks[i]))
                          ? 0
                          : 1;
        }
      };
      std::vector<std::thread> pool;
      for (int t = 1; busy && t < threads && t < n; ++t)
        pool.emplace_back(work);
      work();
      for (auto &t : pool)
        t.join();
      for (int64_t k = 0; k < n; ++k) {
        const auto i = static_cast<size_t>(k);
        if (failed[i])
          Fail("overview tile");
        spool.Add(encoded[i], encoded[i].empty() ? std::string() : masks[i]);
        masks[i].clear();
      }
      done += n;
      Report(JoinPhase::Overviews, done, total);
    }
  spool.EndLevel();
  return true;
}

// Every reduced level down to one tile, each built from the one above.
bool Writer::WriteOverviews(TileSpool &spool) {
  int64_t total = 0, done = 0;
  for (size_t l = 1; l < levels_.size(); ++l)
    total += levels_[l].Tiles();
  for (size_t l = 1; l < levels_.size(); ++l)
    if (!WriteOverview(spool, l, done, total))
      return false;
  result_.OverviewLevels = static_cast<int>(levels_.size()) - 1;
  return true;
}

// Lays the file out from the spool: classic TIFF while it fits.
bool Writer::Assemble(TileSpool &spool, int fd) {
  CogShape shape;
  shape.Levels = levels_;
  shape.Masks = masks_;
  shape.HSampling = h_;
  shape.VSampling = v_;
  if (task_.Params.Dir == 0)
    Georeference(shape);
  shape.BigTiff = options_.ForceBigTiff;
  const uint64_t data = CogDataBytes(spool.Sum(), masks_);
  if (!shape.BigTiff && LayOutCog(shape).DataStart + data > kClassicLimit)
    shape.BigTiff = true;
  result_.BigTiff = shape.BigTiff;
  result_.Georeferenced = shape.Georeferenced;
  const CogHeader header = LayOutCog(shape);
  return AssembleCog(header, shape, spool, fd, target_,
                     [this](int64_t done, int64_t total) {
                       Report(JoinPhase::Writing, done, total);
                       return !Cancelled();
                     });
}

bool Writer::Write(AtomicFile &out, const std::string &target) {
  target_ = target;
  TileSpool spool(target);
  if (!WriteBase(spool))
    return false;
  masks_ = result_.Missing + result_.Placeholder + result_.Damaged > 0;
  if (!WriteOverviews(spool) || !Assemble(spool, out.Fd()))
    return false;
  return true;
}

} // namespace

bool ReadTile(const std::string &path, std::string &out, FileStamp *stamp) {
  switch (ReadStoredTile(AT_FDCWD, path.c_str(), kMaxTileBytes, out, stamp)) {
  case StoredTileRead::Missing:
    return false;
  case StoredTileRead::NotATile:
    out.clear();
    break;
  case StoredTileRead::Whole:
    break;
  }
  return true;
}

bool WritePicture(const PictureInput &input, const JoinOptions &options,
                  JoinResult &result, AtomicFile &out,
                  const std::string &target) {
  Writer writer(input, options, result);
  return writer.Write(out, target);
}

} // namespace kestrane::joiner_detail
