#include "viewer/ViewerSession.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>

#include "platform/Files.h"
#include "tile/TileRead.h"

namespace kestrane {

ViewerSession::ViewerSession(LoadedTask task, SessionHooks hooks,
                             SessionLimits limits)
    : task_(std::move(task)), grid_(task_.Task), hooks_(std::move(hooks)),
      cache_(limits.CacheBytes),
      mosaic_(grid_.Columns(), grid_.Rows(), limits.MosaicSide),
      fill_(grid_.Columns(), grid_.Rows(), mosaic_.Step(),
            [this](int64_t cell) { return Outside(cell); }),
      overviewSide_(limits.MosaicSide), inbox_(std::make_shared<Inbox>()) {
  inbox_->Session = this;
  ShowOutsideAsGround();
  if (!hooks_.Decode)
    hooks_.Decode = DecodeJpeg;
  int threads = limits.Threads;
  if (threads <= 0)
    threads = std::max(1u, std::thread::hardware_concurrency());
  for (int i = 0; i < threads; ++i)
    threads_.emplace_back([this] { Work(); });
}

bool ViewerSession::Outside(int64_t cell) const {
  const DownloadTask &task = task_.Task;
  if (task.Inside.Everything())
    return false;
  const TileXY t = grid_.TileAtIndex(cell);
  return !task.IsInside(t.X, t.Y);
}

// The mosaic's places of the tiles outside the outline show the ground
// from the start: they are never read.
void ViewerSession::ShowOutsideAsGround() {
  if (task_.Task.Inside.Everything())
    return;
  const int64_t step = mosaic_.Step();
  for (int64_t row = 0; row < grid_.Rows(); row += step)
    for (int64_t column = 0; column < grid_.Columns(); column += step)
      if (Outside(grid_.Index(column, row)))
        mosaic_.Reset(column, row, palette::kWindow);
}

ViewerSession::~ViewerSession() {
  cancel_.Request();
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  for (std::thread &t : threads_)
    t.join();
  if (inventoryThread_.joinable())
    inventoryThread_.join();
}

// ---- decoding ----

void ViewerSession::Work() {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      for (;;) {
        if (stop_)
          return;
        if (!view_.empty()) {
          job.Key = view_.front();
          view_.pop_front();
          break;
        }
        int64_t cell = 0;
        if (fill_.Next(cell)) {
          job = Job{TileKey{cell, kMaxDecodeLevel}, true};
          ++fillsRunning_;
          break;
        }
        wake_.wait(lock);
      }
    }
    Deliver(Run(job));
  }
}

ViewerSession::Result ViewerSession::Run(const Job &job) {
  Result r;
  r.Done = job;
  const TileXY t = grid_.TileAtIndex(job.Key.Cell);
  // A link under the tile's name is not followed: found, and damaged.
  thread_local std::string bytes;
  const StoredTileRead read =
      ReadStoredTile(AT_FDCWD, task_.Task.TilePath(t.X, t.Y).c_str(),
                     kMaxViewTileBytes, bytes);
  r.Found = read != StoredTileRead::Missing;
  if (read != StoredTileRead::Whole)
    return r;
  std::optional<Pixels> image =
      hooks_.Decode(bytes, std::min(job.Key.Level, kMaxDecodeLevel), &cancel_);
  if (!image)
    return r;
  if (job.Key.Level > kMaxDecodeLevel && !job.Fill)
    image = Shrink(*image, kViewTileSize >> job.Key.Level);
  if (job.Fill)
    r.Image = std::make_shared<const Pixels>(
        MosaicThumb(*image, mosaic_.ThumbSize()));
  else
    r.Image = std::make_shared<const Pixels>(std::move(*image));
  return r;
}

void ViewerSession::Deliver(Result r) {
  bool first = false;
  {
    std::lock_guard lock(inbox_->Mutex);
    first = inbox_->Results.empty();
    const bool fill = r.Done.Fill;
    inbox_->Results.push_back(std::move(r));
    if (fill)
      --fillsRunning_;
  }
  if (first && hooks_.Post) {
    std::weak_ptr<Inbox> weak = inbox_;
    hooks_.Post([weak] {
      if (const auto inbox = weak.lock())
        inbox->Session->Drain();
    });
  }
}

void ViewerSession::Drain() {
  std::vector<Result> results;
  {
    std::lock_guard lock(inbox_->Mutex);
    results.swap(inbox_->Results);
  }
  {
    std::lock_guard lock(mutex_);
    for (const Result &r : results)
      if (!r.Done.Fill)
        outstanding_.erase(r.Done.Key);
  }
  for (Result &r : results) {
    const int64_t cell = r.Done.Key.Cell;
    if (r.Found && !r.Image)
      NoteDamaged(cell);
    if (r.Done.Fill) {
      if (r.Image)
        mosaic_.Put(cell % grid_.Columns(), cell / grid_.Columns(), *r.Image);
    } else {
      cache_.Put(r.Done.Key, std::move(r.Image));
    }
  }
  if (hooks_.Changed)
    hooks_.Changed();
}

// A tile that is there but does not decode. The inventory without the image
// check counts it as stored; the picture shows it as damaged.
void ViewerSession::NoteDamaged(int64_t cell) {
  if (!problems_)
    return;
  const CellMark *m = problems_->Find(cell);
  if (m != nullptr && m->State != TileState::Stored)
    return;
  if (damaged_.insert(cell).second)
    PaintOverviewCell(overview_, grid_, cell, Mark::Bad);
}

void ViewerSession::Want(const std::vector<TileKey> &keys) {
  {
    std::lock_guard lock(mutex_);
    for (const TileKey &k : view_)
      outstanding_.erase(k);
    view_.clear();
    for (const TileKey &k : keys)
      if (!Outside(k.Cell) && !cache_.Contains(k) &&
          outstanding_.insert(k).second)
        view_.push_back(k);
  }
  wake_.notify_all();
}

size_t ViewerSession::Outstanding() const {
  std::lock_guard lock(mutex_);
  return outstanding_.size();
}

bool ViewerSession::MosaicDone() const {
  std::lock_guard lock(inbox_->Mutex);
  return fill_.Done() && fillsRunning_ == 0 && inbox_->Results.empty();
}

// ---- the inventory ----

namespace {

// The tile folder's time of last change (seconds, nanoseconds); a tile
// stored, renamed into place or removed, or a side file written, moves it.
std::optional<std::pair<int64_t, int64_t>>
FolderChangeTime(const std::string &folder) {
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0)
    return std::nullopt;
  return std::pair<int64_t, int64_t>{st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

} // namespace

bool ViewerSession::RefreshIfChanged() {
  if (running_)
    return false;
  const auto now = FolderChangeTime(task_.Task.TileFolder);
  // A change within the file system's time granularity of the last look
  // could leave the time as it was: such a recent time does not count.
  if (now && seen_ && *now == *seen_ && now->first + 2 < seenAt_)
    return false;
  Refresh();
  return true;
}

void ViewerSession::Refresh(
    bool decode, std::function<void()> done,
    std::function<void(const TaskInventory &)> onThread) {
  RefreshRequest request{decode, std::move(done), std::move(onThread)};
  if (running_) {
    next_ = std::move(request);
    return;
  }
  StartInventory(std::move(request));
}

void ViewerSession::StartInventory(RefreshRequest request) {
  if (inventoryThread_.joinable())
    inventoryThread_.join();
  running_ = true;
  seen_ = FolderChangeTime(task_.Task.TileFolder);
  seenAt_ = static_cast<int64_t>(std::time(nullptr));
  std::weak_ptr<Inbox> weak = inbox_;
  inventoryThread_ =
      std::thread([this, weak, request = std::move(request)]() mutable {
        InventoryOptions options;
        options.Decode = request.Decode;
        options.Cancel = &cancel_;
        auto taken = std::make_shared<Taken>();
        try {
          taken->Inventory = TakeInventory(task_.Task, options);
        } catch (const std::exception &) {
          // An unreadable folder is shown as it was; the next round tries
          // again.
          taken->Inventory.Cancelled = true;
        }
        if (!taken->Inventory.Cancelled) {
          taken->Problems =
              std::make_shared<const ProblemMap>(grid_, taken->Inventory);
          taken->Overview =
              MakeMarksOverview(grid_, *taken->Problems, overviewSide_);
          if (request.OnThread)
            request.OnThread(taken->Inventory);
        }
        if (cancel_.Requested() || !hooks_.Post)
          return;
        hooks_.Post([weak, taken, done = std::move(request.Done)]() mutable {
          if (const auto inbox = weak.lock())
            inbox->Session->SwapIn(std::move(*taken), std::move(done));
        });
      });
}

void ViewerSession::SwapIn(Taken taken, const std::function<void()> &done) {
  running_ = false;
  if (taken.Problems) {
    std::vector<int64_t> changed;
    if (problems_)
      changed = ProblemMap::Changed(*problems_, *taken.Problems);
    for (const int64_t cell : changed) {
      cache_.EraseCell(cell);
      damaged_.erase(cell);
      mosaic_.Reset(cell % grid_.Columns(), cell / grid_.Columns(),
                    palette::kNotLoaded);
    }
    problems_ = std::move(taken.Problems);
    overview_ = std::move(taken.Overview);
    for (const int64_t cell : damaged_)
      PaintOverviewCell(overview_, grid_, cell, Mark::Bad);
    inventory_ = std::move(taken.Inventory);
    fill_.SetProblems(problems_);
    fill_.Add(changed);
    wake_.notify_all();
  }
  if (done)
    done();
  if (hooks_.Changed)
    hooks_.Changed();
  if (next_) {
    RefreshRequest request = std::move(*next_);
    next_.reset();
    StartInventory(std::move(request));
  }
}

InventoryCounts ViewerSession::Counts() const {
  if (!inventory_)
    return InventoryCounts{};
  InventoryCounts c = inventory_->Counts;
  const auto found = static_cast<int64_t>(damaged_.size());
  c.Stored -= found;
  c.Damaged += found;
  return c;
}

Mark ViewerSession::MarkAt(int64_t cell) const {
  if (damaged_.count(cell))
    return Mark::Bad;
  if (!problems_)
    return Mark::None;
  const CellMark *m = problems_->Find(cell);
  return m ? m->Kind() : Mark::None;
}

void ViewerSession::ForEachMark(
    const CellRange &range,
    const std::function<void(int64_t, Mark, bool)> &f) const {
  if (!problems_ || range.Empty())
    return;
  const int64_t cols = grid_.Columns();
  const auto &marks = problems_->Marks();
  for (int64_t row = range.Row0; row <= range.Row1; ++row) {
    const int64_t first = row * cols + range.Column0;
    const int64_t last = row * cols + range.Column1;
    for (auto it = problems_->LowerBound(first);
         it != marks.end() && it->Cell <= last; ++it)
      f(it->Cell, damaged_.count(it->Cell) ? Mark::Bad : it->Kind(),
        it->State == TileState::Placeholder);
    for (auto it = damaged_.lower_bound(first);
         it != damaged_.end() && *it <= last; ++it)
      if (!problems_->Find(*it))
        f(*it, Mark::Bad, false);
  }
}

} // namespace kestrane
