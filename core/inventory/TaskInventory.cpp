#include "inventory/TaskInventory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "inventory/TileBits.h"
#include "platform/Files.h"
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

// Everything a tile folder listing needs, walked once.
class FolderScan {
public:
  FolderScan(const DownloadTask &task, const InventoryOptions &options,
             BlockPlanes &planes)
      : task_(task), options_(options), planes_(planes) {
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
    const std::string_view ext = extension_;
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
          options_.Progress(std::min<int64_t>(tiles_, task_.TotalCount),
                            task_.TotalCount);
      }
      const ParsedTileName n =
          ParseTileFileName(e->d_name, task_.Params.Zoom, ext);
      if (n.Kind == TileNameKind::Other)
        continue;
      const GridPlace tile = TileOfNameNumbers(block_, n.Numbers);
      if (!BlockHolds(block_, tile))
        continue; // a tile of another block with the same zoom
      const int64_t i = WalkIndex(task_, static_cast<int32_t>(tile.X),
                                  static_cast<int32_t>(tile.Y));
      if (n.Kind == TileNameKind::Crashed)
        planes_.Crashed.Set(i);
      else if (n.Kind == TileNameKind::Invalid)
        planes_.Invalid.Set(i);
      else
        Classify(fd, e->d_name, i);
    }
    ::closedir(dir);
    if (whole && listError != 0)
      throw KError(ErrorCause::CannotOpen,
                   "Cannot open file " + task_.TileFolder);
    return whole;
  }

private:
  void Classify(int dirFd, const char *name, int64_t i) {
    ++tiles_;
    struct stat st;
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
      return; // gone since the listing: missing
    if (S_ISLNK(st.st_mode)) {
      // A link under a tile's name is not followed: whatever it points at
      // is no tile of this task.
      planes_.File.Set(i);
      planes_.Damaged.Set(i);
      return;
    }
    if (!S_ISREG(st.st_mode))
      return; // nothing a tile can be read from: missing
    if (st.st_size == 0) {
      // No image is empty, whatever the check asked for.
      planes_.File.Set(i);
      planes_.Damaged.Set(i);
      return;
    }
    if (!blank_.empty() && static_cast<size_t>(st.st_size) == blank_.size()) {
      bool missing = false;
      if (ReadInto(dirFd, name, buffer_, &missing) && buffer_ == blank_) {
        planes_.Blank.Set(i);
        return;
      }
      if (missing)
        return;
    }
    planes_.File.Set(i);
  }

  const DownloadTask &task_;
  const InventoryOptions &options_;
  BlockPlanes &planes_;
  const TileBlock block_ = TileBlockOf(task_);
  const std::string extension_ = task_.TileExtension();
  std::string blank_;
  std::string buffer_;
  int64_t tiles_ = 0;
};

// The image check of every file the listing kept, on several threads. Each
// thread takes chunks of the walk and marks the tiles that fail; the calling
// thread works too and reports progress. False when cancelled.
bool DecodeCheck(const DownloadTask &task, const InventoryOptions &options,
                 BlockPlanes &planes) {
  const int64_t total = task.TotalCount;
  const int dirFd =
      ::open(task.TileFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0)
    return true; // the listing found no folder: no file to check
  std::atomic<int64_t> next{0};
  std::atomic<int64_t> done{0};
  StopFlag stop; // the threads' own: one that is cancelled stops them all

  const auto work = [&](bool reports) {
    std::string bytes;
    for (;;) {
      const int64_t begin = next.fetch_add(kDecodeChunk);
      if (begin >= total)
        return;
      const int64_t end = std::min(total, begin + kDecodeChunk);
      for (int64_t i = begin; i < end; ++i) {
        if (stop.Requested() || Cancelled(options)) {
          stop.Request();
          return;
        }
        if (!planes.File.Get(i) || planes.Damaged.Get(i))
          continue;
        int32_t x = 0, y = 0;
        TileAt(task, i, &x, &y);
        const std::string name = task.TileFileName(x, y);
        bool missing = false;
        if (!ReadInto(dirFd, name.c_str(), bytes, &missing)) {
          // Gone since the listing: missing now; no file: damaged.
          if (missing)
            planes.File.Clear(i);
          else
            planes.Damaged.Set(i);
        } else if (!StoredTileIsImage(bytes, options.Cancel)) {
          planes.Damaged.Set(i);
        }
      }
      const int64_t now = done.fetch_add(end - begin) + (end - begin);
      if (reports && options.Progress)
        options.Progress(now, total);
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
  ::close(dirFd);
  return !stop.Requested();
}

} // namespace

TaskInventory TakeInventory(const DownloadTask &task,
                            const InventoryOptions &options) {
  TaskInventory inv;
  const int64_t total = task.TotalCount;
  BlockPlanes planes(total);
  if (!FolderScan(task, options, planes).Run() ||
      (options.Decode && !DecodeCheck(task, options, planes))) {
    inv.Cancelled = true;
    return inv;
  }

  // The walk of the workers: columns from MinX, each from MinY.
  InventoryCounts &c = inv.Counts;
  c.Total = total;
  int64_t i = 0;
  for (int64_t x = task.MinX; x <= task.MaxX; ++x) {
    for (int64_t y = task.MinY; y <= task.MaxY; ++y, ++i) {
      InventoryTile t;
      t.X = static_cast<int32_t>(x);
      t.Y = static_cast<int32_t>(y);
      t.State = planes.Blank.Get(i)     ? TileState::Placeholder
                : planes.Damaged.Get(i) ? TileState::Damaged
                : planes.File.Get(i)    ? TileState::Stored
                                        : TileState::Missing;
      t.Crashed = planes.Crashed.Get(i);
      t.Invalid = planes.Invalid.Get(i);
      switch (t.State) {
      case TileState::Stored:
        ++c.Stored;
        break;
      case TileState::Placeholder:
        ++c.Placeholder;
        break;
      case TileState::Damaged:
        ++c.Damaged;
        break;
      case TileState::Missing:
        ++c.Missing;
        break;
      }
      if (t.Crashed || t.Invalid)
        ++c.SideFiles;
      if (t.State != TileState::Stored || t.Crashed || t.Invalid)
        inv.Problems.push_back(t);
    }
  }
  if (options.Progress)
    options.Progress(total, total);
  return inv;
}

std::optional<InventoryCounts> CountTileFolder(const DownloadTask &task) {
  try {
    return TakeInventory(task).Counts;
  } catch (const KError &) {
    return std::nullopt;
  }
}

} // namespace kestrane
