#include "inventory/TaskInventory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstring>
#include <thread>

#include "inventory/TileBits.h"
#include "platform/Files.h"
#include "platform/UniqueFd.h"
#include "tile/Placeholder.h"
#include "tile/TileCheck.h"
#include "tile/TileRead.h"

namespace kestrane {

using namespace inventory_detail;

namespace {

// Report progress and look at the cancel flag every this many entries.
constexpr int64_t kReportEvery = 4096;
// Tiles a decode thread takes at a time: a multiple of 64, so that no two
// threads write the same word of a plane.
constexpr int64_t kDecodeChunk = 1024;
static_assert(kDecodeChunk % 64 == 0);

bool Cancelled(const InventoryOptions &o) {
  return o.Cancel != nullptr && o.Cancel->Requested();
}

// No tile comes near this size; a larger file under a tile's name is not
// read into memory but counted as damaged.
constexpr size_t kMaxTileBytes = size_t{64} << 20;

// Reads a whole tile file into `out` (reused between calls). False when it
// is no file a tile can be read from (a link, a folder, a FIFO, too large,
// unreadable); `missing` tells that nothing is there.
bool ReadInto(int dirFd, const char *name, std::string &out, bool *missing) {
  const StoredTileRead read = ReadStoredTile(dirFd, name, kMaxTileBytes, out);
  *missing = read == StoredTileRead::Missing;
  return read == StoredTileRead::Whole;
}

// Everything a tile folder listing needs for the tiles of one band, walked
// once.
class FolderScan {
public:
  FolderScan(const DownloadTask &task, const InventoryOptions &options,
             WalkBand band, BlockPlanes &planes)
      : task_(task), options_(options), band_(band), planes_(planes) {
    std::optional<std::string> blank = TryReadFileBytes(PlaceholderPath(
        task.Env.ProgramFolder, task.BlankImageNumber, task.TileExtension()));
    // Without the program's blank image no file can be told to be one.
    if (blank && !blank->empty())
      blank_ = std::move(*blank);
  }

  // False when cancelled. Throws KError when the folder exists but cannot
  // be read.
  bool Run() {
    DIR *dir = ::opendir(task_.TileFolder.c_str());
    if (dir == nullptr) {
      if (errno == ENOENT || errno == ENOTDIR)
        return true; // no folder: every tile is missing
      throw KError(ErrorCause::CannotOpen,
                   "Cannot open file " + task_.TileFolder);
    }
    const int fd = ::dirfd(dir);
    int64_t seen = 0;
    bool whole = true;
    int listError = 0;
    for (;;) {
      // readdir tells its end from an error only through errno.
      errno = 0;
      const dirent *e = ::readdir(dir);
      if (e == nullptr) {
        listError = errno;
        break;
      }
      if (++seen % kReportEvery == 0) {
        if (Cancelled(options_)) {
          whole = false;
          break;
        }
        if (options_.Progress && !options_.Decode)
          options_.Progress(band_.Begin + std::min(tiles_, band_.Size()),
                            task_.TotalCount);
      }
      Look(fd, e->d_name);
    }
    ::closedir(dir);
    if (whole && listError != 0)
      throw KError(ErrorCause::CannotOpen,
                   "Cannot open file " + task_.TileFolder);
    return whole;
  }

private:
  // One name of the folder: a tile of this band or a side file beside one.
  void Look(int dirFd, const char *name) {
    const ParsedTileName n =
        ParseTileFileName(name, task_.Params.Zoom, extension_);
    if (n.Kind == TileNameKind::Other)
      return;
    const GridPlace tile = TileOfNameNumbers(block_, n.Numbers);
    if (!BlockHolds(block_, tile))
      return; // a tile of another block with the same zoom
    const int64_t i = WalkIndex(task_, static_cast<int32_t>(tile.X),
                                static_cast<int32_t>(tile.Y));
    if (i < band_.Begin || i >= band_.End)
      return; // looked at with another band
    const int64_t k = i - band_.Begin;
    if (!planes_.IsInside(k))
      return; // no tile of the task
    if (n.Kind == TileNameKind::Crashed)
      planes_.Crashed.Set(k);
    else if (n.Kind == TileNameKind::Invalid)
      planes_.Invalid.Set(k);
    else
      Classify(dirFd, name, k);
  }

  void Classify(int dirFd, const char *name, int64_t k) {
    ++tiles_;
    struct stat st;
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
      return; // gone since the listing: missing
    if (S_ISLNK(st.st_mode)) {
      // A link under a tile's name is not followed: whatever it points at
      // is no tile of this task.
      planes_.File.Set(k);
      planes_.Damaged.Set(k);
      return;
    }
    if (!S_ISREG(st.st_mode))
      return; // nothing a tile can be read from: missing
    if (st.st_size == 0) {
      // No image is empty, whatever the check asked for.
      planes_.File.Set(k);
      planes_.Damaged.Set(k);
      return;
    }
    if (!blank_.empty() && static_cast<size_t>(st.st_size) == blank_.size()) {
      bool missing = false;
      if (ReadInto(dirFd, name, buffer_, &missing) && buffer_ == blank_) {
        planes_.Blank.Set(k);
        return;
      }
      if (missing)
        return;
    }
    planes_.File.Set(k);
  }

  const DownloadTask &task_;
  const InventoryOptions &options_;
  const WalkBand band_;
  BlockPlanes &planes_;
  const TileBlock block_ = TileBlockOf(task_);
  const std::string extension_ = task_.TileExtension();
  std::string blank_;
  std::string buffer_;
  int64_t tiles_ = 0;
};

// The image check of every file the listing kept, on several threads. Each
// thread takes chunks of the band and marks the tiles that fail; the
// calling thread works too and reports progress. False when cancelled.
bool DecodeCheck(const DownloadTask &task, const InventoryOptions &options,
                 WalkBand band, BlockPlanes &planes) {
  const UniqueFd dirFd(
      ::open(task.TileFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dirFd.Valid())
    return true; // the listing found no folder: no file to check
  std::atomic<int64_t> next{0};
  std::atomic<int64_t> done{0};
  StopFlag stop; // the threads' own: one that is cancelled stops them all

  const auto work = [&](bool reports) {
    std::string bytes;
    for (;;) {
      const int64_t begin = next.fetch_add(kDecodeChunk);
      if (begin >= band.Size())
        return;
      const int64_t end = std::min(band.Size(), begin + kDecodeChunk);
      for (int64_t k = begin; k < end; ++k) {
        if (stop.Requested() || Cancelled(options)) {
          stop.Request();
          return;
        }
        if (!planes.File.Get(k) || planes.Damaged.Get(k) || !planes.IsInside(k))
          continue;
        int32_t x = 0, y = 0;
        TileAt(task, band.Begin + k, &x, &y);
        const std::string name = task.TileFileName(x, y);
        bool missing = false;
        if (!ReadInto(dirFd.Get(), name.c_str(), bytes, &missing)) {
          // Gone since the listing: missing now; no file: damaged.
          if (missing)
            planes.File.Clear(k);
          else
            planes.Damaged.Set(k);
        } else if (!StoredTileIsImage(bytes, options.Cancel)) {
          planes.Damaged.Set(k);
        }
      }
      const int64_t now = done.fetch_add(end - begin) + (end - begin);
      if (reports && options.Progress)
        options.Progress(band.Begin + now, task.TotalCount);
    }
  };

  int threads = options.Threads > 0
                    ? options.Threads
                    : static_cast<int>(std::thread::hardware_concurrency());
  threads = std::clamp(threads, 1, 64);
  std::vector<std::thread> helpers;
  helpers.reserve(static_cast<size_t>(threads - 1));
  for (int t = 1; t < threads; ++t)
    helpers.emplace_back(work, false);
  work(true);
  for (std::thread &h : helpers)
    h.join();
  return !stop.Requested();
}

// The tiles of the band inside the task's outline, when it has one.
void MarkInside(const DownloadTask &task, WalkBand band, BlockPlanes &planes) {
  if (!planes.Outlined)
    return;
  const int64_t rows = int64_t{task.MaxY} - task.MinY + 1;
  const auto firstX = static_cast<int32_t>(task.MinX + band.Begin / rows);
  const auto lastX = static_cast<int32_t>(task.MinX + (band.End - 1) / rows);
  for (int32_t x = firstX; x <= lastX; ++x)
    for (const RowRun &run : task.Inside.Column(x))
      for (int32_t y = run.First; y <= run.Last; ++y) {
        const int64_t i = WalkIndex(task, x, y);
        if (i >= band.Begin && i < band.End)
          planes.Inside.Set(i - band.Begin);
      }
}

} // namespace

InventoryWalk::InventoryWalk(const DownloadTask &task, InventoryOptions options)
    : task_(task), options_(std::move(options)),
      bandTiles_(options_.BandTiles > 0 ? options_.BandTiles
                                        : kInventoryBandTiles) {
  counts_.Total = task.InsideCount;
}

InventoryWalk::~InventoryWalk() = default;

int64_t InventoryWalk::Bands() const {
  return (int64_t{task_.TotalCount} + bandTiles_ - 1) / bandTiles_;
}

bool InventoryWalk::Look(int64_t band) {
  held_ = -1;
  const WalkBand b{
      band * bandTiles_,
      std::min<int64_t>(task_.TotalCount, (band + 1) * bandTiles_)};
  planes_.reset(); // the band before goes first
  planes_ = std::make_unique<BlockPlanes>(b.Size(), !task_.Inside.Everything());
  heldTiles_ = b.Size();
  MarkInside(task_, b, *planes_);
  if (!FolderScan(task_, options_, b, *planes_).Run() ||
      (options_.Decode && !DecodeCheck(task_, options_, b, *planes_)))
    return false;
  held_ = band;
  return true;
}

namespace {

// The tiles of word `w` of the planes that are stored whole, with no side
// file.
uint64_t StoredClean(const BlockPlanes &p, size_t w) {
  return p.File.Word(w) & ~p.Damaged.Word(w) & ~p.Blank.Word(w) &
         ~p.Crashed.Word(w) & ~p.Invalid.Word(w);
}

} // namespace

void InventoryWalk::Count() {
  const BlockPlanes &p = *planes_;
  InventoryCounts &c = counts_;
  int64_t files = 0;
  int64_t inside = heldTiles_;
  if (p.Outlined) {
    inside = 0;
    for (size_t w = 0; w < p.Inside.Words(); ++w)
      inside += std::popcount(p.Inside.Word(w));
  }
  for (size_t w = 0; w < p.File.Words(); ++w) {
    const uint64_t blank = p.Blank.Word(w);
    const uint64_t damaged = p.Damaged.Word(w) & ~blank;
    c.Placeholder += std::popcount(blank);
    c.Damaged += std::popcount(damaged);
    c.Stored += std::popcount(p.File.Word(w) & ~damaged & ~blank);
    c.SideFiles += std::popcount(p.Crashed.Word(w) | p.Invalid.Word(w));
    files += std::popcount(p.File.Word(w) | blank | damaged);
  }
  c.Missing += inside - files;
  c.Outside += heldTiles_ - inside;
}

// Hands over the tiles of the band held that are not stored or have a side
// file, skipping 64 stored tiles at a time. False when cancelled.
bool InventoryWalk::Visit(const ProblemVisitor &visit) const {
  const BlockPlanes &p = *planes_;
  const int64_t begin = held_ * bandTiles_;
  for (size_t w = 0; w < p.File.Words(); ++w) {
    if (w % 1024 == 0 && Cancelled(options_))
      return false;
    const int64_t first = static_cast<int64_t>(w) * 64;
    const int64_t left = heldTiles_ - first;
    uint64_t problems = ~StoredClean(p, w) & p.InsideWord(w);
    if (left < 64)
      problems &= (uint64_t{1} << left) - 1;
    for (; problems != 0; problems &= problems - 1) {
      const int64_t k = first + std::countr_zero(problems);
      InventoryTile t;
      TileAt(task_, begin + k, &t.X, &t.Y);
      t.State = p.Blank.Get(k)     ? TileState::Placeholder
                : p.Damaged.Get(k) ? TileState::Damaged
                : p.File.Get(k)    ? TileState::Stored
                                   : TileState::Missing;
      t.Crashed = p.Crashed.Get(k);
      t.Invalid = p.Invalid.Get(k);
      visit(t);
    }
  }
  return true;
}

bool InventoryWalk::Run(const ProblemVisitor &visit) {
  counts_ = InventoryCounts{};
  counts_.Total = task_.InsideCount;
  counts_.Outlined = !task_.Inside.Everything();
  for (int64_t band = 0; band < Bands(); ++band) {
    if (!Look(band))
      return false;
    Count();
    if (visit && !Visit(visit))
      return false;
  }
  if (options_.Progress)
    options_.Progress(task_.TotalCount, task_.TotalCount);
  return true;
}

bool InventoryWalk::Replay(const ProblemVisitor &visit) {
  for (int64_t band = 0; band < Bands(); ++band) {
    if ((held_ != band && !Look(band)) || !Visit(visit))
      return false;
  }
  return true;
}

TaskInventory TakeInventory(const DownloadTask &task,
                            const InventoryOptions &options) {
  TaskInventory inv;
  InventoryWalk walk(task, options);
  if (!walk.Run(
          [&inv](const InventoryTile &t) { inv.Problems.push_back(t); })) {
    inv.Problems.clear();
    inv.Cancelled = true;
    return inv;
  }
  inv.Counts = walk.Counts();
  return inv;
}

std::optional<InventoryCounts> CountTileFolder(const DownloadTask &task) {
  try {
    InventoryWalk walk(task);
    walk.Run();
    return walk.Counts();
  } catch (const KError &) {
    return std::nullopt;
  }
}

} // namespace kestrane
