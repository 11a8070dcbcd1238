#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

#include "inventory/ProjectFile.h"
#include "inventory/TaskInventory.h"
#include "viewer/Marks.h"
#include "viewer/Mosaic.h"
#include "viewer/TileCache.h"
#include "viewer/ViewGrid.h"
#include "viewer/ViewTransform.h"

namespace kestrane {

// What a session needs from the window that shows it.
struct SessionHooks {
  // Runs `fn` on the main thread later. Called from the session's threads.
  std::function<void(std::function<void()>)> Post;
  // On the main thread, after pictures or marks came in.
  std::function<void()> Changed;
  // Decodes a tile's bytes at a level (0..3) within the bounds of the
  // workers' image check, leaving off when the stop request given is set;
  // DecodeJpeg when empty.
  std::function<std::optional<Pixels>(std::string_view, int, const StopFlag *)>
      Decode;
};

struct SessionLimits {
  size_t CacheBytes = size_t{192} << 20; // decoded tiles of the views
  int Threads = 0;                       // decoding threads; 0: one per core
  int MosaicSide = 2048;                 // the mosaic's longer side, pixels
};

// One opened task as the viewer sees it: its grid, the inventory's marks,
// the mosaic and the decoded tiles. Tiles are read and decoded on
// background threads, views first, then the mosaic; the inventory is taken
// on a thread of its own and swapped in whole. Everything but the
// constructor's threads runs on the main thread; results reach it through
// SessionHooks::Post, so the main thread never waits for the disk.
class ViewerSession {
public:
  ViewerSession(LoadedTask task, SessionHooks hooks, SessionLimits limits = {});
  ~ViewerSession();
  ViewerSession(const ViewerSession &) = delete;
  ViewerSession &operator=(const ViewerSession &) = delete;

  const DownloadTask &Task() const { return task_.Task; }
  const std::string &ProjectFile() const { return task_.ProjectFile; }
  const ViewGrid &Grid() const { return grid_; }
  // The task's outline (empty: the whole block), for the window to draw.
  const Outline &Area() const { return task_.Task.Params.Area; }
  // Whether the cell's tile lies outside the outline: no part of the task,
  // never read, and shown as the ground around the block (palette::kWindow),
  // neither missing nor stored.
  bool Outside(int64_t cell) const;

  // Takes the inventory again in the background (`decode`: with the image
  // check of every stored tile) and swaps it in; `done` runs on the main
  // thread after the swap; `onThread`, when given, runs on the inventory's
  // thread with the new inventory first (for work that writes files). One
  // runs at a time: asked while one runs, it follows that one (a later ask
  // replaces an earlier waiting one).
  void Refresh(bool decode = false, std::function<void()> done = {},
               std::function<void(const TaskInventory &)> onThread = {});
  bool Refreshing() const { return running_; }
  // Refresh, unless nothing came into, left or changed in the tile folder
  // since the last inventory began (its time of change tells): a task that
  // is not running costs one look at its folder. False when skipped.
  bool RefreshIfChanged();

  // nullptr until the first inventory is in.
  const TaskInventory *Inventory() const {
    return inventory_ ? &*inventory_ : nullptr;
  }
  // The inventory's counts, with the tiles found damaged while reading
  // them for the picture counted as damaged, not stored.
  InventoryCounts Counts() const;
  Mark MarkAt(int64_t cell) const;
  // Every marked cell in `range`, row by row: f(cell, mark, placeholder);
  // `placeholder` also for a red placeholder (one with a side file).
  void ForEachMark(const CellRange &range,
                   const std::function<void(int64_t, Mark, bool)> &f) const;
  const MarksOverview &Overview() const { return overview_; }

  const Mosaic &GetMosaic() const { return mosaic_; }
  bool MosaicDone() const;
  TileCache &Cache() { return cache_; }
  // The tiles the view needs, most wanted first; replaces the previous
  // wish. Tiles already cached or on their way are not asked again.
  void Want(const std::vector<TileKey> &keys);
  size_t Outstanding() const;

private:
  struct Job {
    TileKey Key;
    bool Fill = false;
  };
  struct Result {
    Job Done;
    std::shared_ptr<const Pixels> Image; // null: no picture
    bool Found = false;                  // the file was there
  };
  struct Inbox {
    std::mutex Mutex;
    std::vector<Result> Results;
    ViewerSession *Session;
  };
  struct Taken {
    TaskInventory Inventory;
    std::shared_ptr<const ProblemMap> Problems;
    MarksOverview Overview;
  };

  void Work();
  Result Run(const Job &job);
  void Deliver(Result r);
  void Drain();
  struct RefreshRequest {
    bool Decode = false;
    std::function<void()> Done;
    std::function<void(const TaskInventory &)> OnThread;
  };
  void StartInventory(RefreshRequest request);
  void SwapIn(Taken taken, const std::function<void()> &done);
  void NoteDamaged(int64_t cell);
  void ShowOutsideAsGround();

  LoadedTask task_;
  ViewGrid grid_;
  SessionHooks hooks_;
  TileCache cache_;
  Mosaic mosaic_;
  MosaicFill fill_;

  // Main thread.
  std::optional<TaskInventory> inventory_;
  std::shared_ptr<const ProblemMap> problems_;
  MarksOverview overview_;
  std::set<int64_t> damaged_; // found by reading, stored by the inventory
  bool running_ = false;
  std::optional<std::pair<int64_t, int64_t>> seen_; // folder's change time
  int64_t seenAt_ = 0;                              // when it was looked at
  std::optional<RefreshRequest> next_;

  // Decoding threads.
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<TileKey> view_;
  std::unordered_set<TileKey, TileKeyHash> outstanding_;
  bool stop_ = false;
  std::vector<std::thread> threads_;

  std::atomic<int> fillsRunning_{0};
  int overviewSide_;
  StopFlag cancel_;
  std::thread inventoryThread_;
  std::shared_ptr<Inbox> inbox_;
};

} // namespace kestrane
