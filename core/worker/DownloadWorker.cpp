#include "worker/DownloadWorker.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <optional>
#include <system_error>
#include <utility>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "tile/Placeholder.h"
#include "tile/SideFiles.h"
#include "tile/TileStore.h"
#include "worker/FailurePolicy.h"
#include "worker/FailureTexts.h"
#include "worker/TileHttp.h"

namespace kestrane {

namespace {

uint64_t Pack(int32_t x, int32_t y) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(x)) << 32) |
         static_cast<uint32_t>(y);
}

HttpOptions ClientOptions(const TaskParameters &params,
                          const WorkerPacing &pacing) {
  HttpOptions o;
  o.Proxy = params.Proxy; // the client reads it only when UseProxy is set
  o.ConnectTimeout = pacing.ConnectTimeout;
  o.NoDataTimeout = pacing.NoDataTimeout;
  o.RequestTimeout = pacing.RequestTimeout;
  return o;
}

} // namespace

// One run of the worker's body: the walk over the block and the handling of
// each tile of the worker's share.
class DownloadWorker::Walker {
public:
  explicit Walker(DownloadWorker &w)
      : w_(w), task_(w.task_), n_(std::to_string(w.threadIndex_ + 1)) {}

  // Steps 1 to 7 of the body. Returns when the share is done, a stop was
  // asked for, or an outcome ended the worker (then EndedEarly is set). The
  // HTTP client lives as long as the walker.
  void Run();

private:
  void Log(const std::string &text) {
    w_.bridge_.RunBlocking([&] { w_.host_.AddLogLine(text); });
  }

  // The requests of one tile until it is concluded or ends the worker;
  // never RequestAgain.
  TileOutcome HandleTile(int32_t x, int32_t y, int64_t seqNo);
  TileOutcome ActOnFailure(const FailureVerdict &v, const std::string &text);
  TileOutcome ActOnBody(BodyVerdict v, int64_t seqNo);
  bool Settle(TileOutcome outcome);

  // The current tile's record in the failed-tile list.
  void Record() {
    const std::string line = path_ + kRecordSeparator + url_;
    w_.bridge_.RunBlocking([&] { w_.host_.AddFailedLine(line); });
  }
  // The lines of a tile whose answer carried no text or no image.
  void LogFailed() { Log(name_ + ":failed ->" + url_); }
  void LogCrashed() { Log(name_ + ":failed. crashed image->" + url_); }
  void Pause(std::chrono::milliseconds ms) {
    if (ms.count() > 0)
      std::this_thread::sleep_for(ms);
  }
  void PauseBeforeRetry(RetryPause p) {
    Pause(p == RetryPause::Long    ? w_.pacing_.LongRetry
          : p == RetryPause::Short ? w_.pacing_.ShortRetry
                                   : std::chrono::milliseconds{0});
  }
  // Writes bytes atomically to the file `name` of the tile folder; on
  // failure logs the worker's error line and returns false.
  bool Write(const std::string &name, std::string_view bytes);
  TileOutcome KeepBadBody(SideFile kind, const char *what);
  TileOutcome GiveUp(const char *what);
  void PlaceBlank();

  DownloadWorker &w_;
  const DownloadTask &task_;
  const std::string n_; // the worker's number in log lines
  std::optional<TileHttp> http_;
  std::string blankPath_;
  // The tile folder, held open: every file of a tile goes there, even when
  // its path is given to a link during a request. When it could not be
  // opened, every write fails with the reason.
  UniqueFd folder_;
  int folderError_ = 0;
  // The current tile.
  int32_t x_ = 0, y_ = 0;
  std::string url_, path_, name_;
  std::string buffer_; // TileBuffer
};

void DownloadWorker::Walker::Run() {
  // 1. The client, configured from the task's parameters.
  const HttpOptions options = ClientOptions(task_.Params, w_.pacing_);
  if (TileHttp::ProxyPortError(options)) {
    w_.endedEarly_ = true;
    Log("T" + n_ + " Error: the proxy port is not a number: " +
        task_.Params.Proxy.ProxyPort);
    return;
  }
  http_.emplace(options);

  // 2. The blank placeholder, and the folder the tiles go to.
  blankPath_ = PlaceholderPath(task_.Env.ProgramFolder, task_.BlankImageNumber,
                               task_.TileExtension());
  folder_ = OpenFolder(task_.TileFolder);
  folderError_ = folder_.Valid() ? 0 : errno;

  // 3. and 4. Where an earlier run of this worker stopped, the bounds and
  // the share. 64 bits: a block's sequence numbers need not fit 32.
  const int32_t minX = task_.MinX, maxX = task_.MaxX;
  const int32_t minY = task_.MinY, maxY = task_.MaxY;
  const int32_t index = w_.threadIndex_;
  int64_t skipCount = 0;
  if (index >= 0 && static_cast<size_t>(index) < task_.ResumeX.size()) {
    const int32_t tx = task_.ResumeX[static_cast<size_t>(index)];
    const int32_t ty = task_.ResumeY[static_cast<size_t>(index)];
    if (tx != 0 && ty != 0)
      skipCount = (int64_t{tx} - minX) * (int64_t{maxY} - minY + 1) +
                  (int64_t{ty} - minY) + 1;
  }
  // A count below 1 would leave no share to anyone; it cannot come from a
  // task that Start built.
  const int64_t n = std::max<int64_t>(1, task_.Params.ThreadCount);

  // 5. The start offset, counted from the worker's creation.
  std::this_thread::sleep_until(w_.created_ + w_.pacing_.StartOffset * index);

  // 6. The walk.
  int64_t seqNo = 0;
  for (int64_t x = minX; x <= maxX; ++x) {
    for (int64_t y = minY; y <= maxY; ++y) {
      if (w_.Terminated())
        return;
      ++seqNo;
      if (seqNo % n != index)
        continue;
      if (seqNo <= skipCount) {
        ++w_.skipped_;
        continue;
      }
      if (!Settle(HandleTile(static_cast<int32_t>(x), static_cast<int32_t>(y),
                             seqNo)))
        return;
    }
  }
}

TileOutcome DownloadWorker::Walker::HandleTile(int32_t x, int32_t y,
                                               int64_t seqNo) {
  x_ = x;
  y_ = y;
  url_ = task_.TileUrl(x, y);
  path_ = task_.TilePath(x, y);
  name_ = task_.TileFileName(x, y);
  for (int32_t attempt = 1;; ++attempt) {
    // Every request starts from an empty buffer, so that an error page of
    // an earlier attempt never ends up in front of the tile's bytes.
    buffer_.clear();
    bool ok = false;
    std::optional<std::string> failure; // nullopt: a failure without text
    try {
      FetchResult r = http_->Fetch(url_, buffer_);
      ok = r.Ok;
      if (!ok && !r.FailureText.empty())
        failure = std::move(r.FailureText);
    } catch (const KError &e) {
      failure = e.what();
    } catch (...) {
      // Not one of the system's failures: it has no text of its own.
    }
    const TileOutcome outcome =
        ok ? ActOnBody(CheckBody(buffer_, attempt), seqNo)
           : ActOnFailure(ClassifyFailure(failure, attempt),
                          failure.value_or(std::string()));
    if (outcome != TileOutcome::RequestAgain)
      return outcome;
  }
}

TileOutcome DownloadWorker::Walker::ActOnFailure(const FailureVerdict &v,
                                                 const std::string &text) {
  switch (v.Line) {
  case FailureLine::None:
    break;
  case FailureLine::Failure:
    Log("T" + n_ + " " + text + "->" + url_);
    break;
  case FailureLine::NotFound:
    Log(std::string(kNotFoundMessage) + text);
    break;
  case FailureLine::NameOnly:
    LogFailed();
    break;
  }
  if (v.Record)
    Record();
  switch (v.Action) {
  case FailureAction::Retry:
    PauseBeforeRetry(v.Pause);
    return TileOutcome::RequestAgain;
  case FailureAction::EndWorker:
    std::string().swap(buffer_);
    Log(std::string(v.EndMessage));
    return TileOutcome::EndsWorker;
  case FailureAction::GiveUp:
    return GiveUp(" got a blank image!");
  }
  return TileOutcome::EndsWorker; // no verdict: the tile stays open
}

TileOutcome DownloadWorker::Walker::ActOnBody(BodyVerdict v, int64_t seqNo) {
  switch (v) {
  case BodyVerdict::Stored:
    // The bytes were checked in memory; the tile file changes only now,
    // in one rename, so it is either the old file or the whole new one.
    if (!Write(name_, buffer_))
      return TileOutcome::EndsWorker;
    std::string().swap(buffer_);
    Log("T" + n_ + ":seq=" + std::to_string(seqNo) + "," + name_ + " OK");
    return TileOutcome::Stored;
  case BodyVerdict::CrashedRetry:
    LogCrashed();
    PauseBeforeRetry(RetryPause::Short);
    return TileOutcome::RequestAgain;
  case BodyVerdict::CrashedGiveUp:
    LogCrashed();
    return KeepBadBody(SideFile::Crashed, " got a crashed image!");
  case BodyVerdict::Invalid:
    LogFailed();
    return KeepBadBody(SideFile::Invalid, " got a invalid image!");
  }
  return TileOutcome::EndsWorker; // no verdict: the tile stays open
}

// The one place where a tile's outcome takes effect. A concluded tile's
// position becomes the worker's, which a later run skips up to (the tile's
// record was handed over before, so a saved position never passes an
// unsaved record); any other outcome ends the worker, the tile left open.
// False when the worker ends.
bool DownloadWorker::Walker::Settle(TileOutcome outcome) {
  if (!Concludes(outcome)) {
    w_.endedEarly_ = true;
    return false;
  }
  w_.SetCurrent(x_, y_);
  if (outcome == TileOutcome::Stored) {
    ++w_.stored_;
    Pause(w_.pacing_.AfterStored);
  } else {
    ++w_.givenUp_;
  }
  return true;
}

bool DownloadWorker::Walker::Write(const std::string &name,
                                   std::string_view bytes) {
  std::string reason;
  // The task control settles the tiles on the disk before it records the
  // worker's position, so one wait covers many tiles.
  if (!folder_.Valid())
    reason = std::generic_category().message(folderError_);
  else if (StoreTileFile(folder_.Get(), name, bytes, &reason))
    return true;
  std::string().swap(buffer_);
  Log("T" + n_ + " Error: cannot write " + task_.TileFolder + name + ": " +
      reason);
  return false;
}

// A body that is no image, at the end of its tile: recorded, kept in a side
// file beside the tile for a look later, and the placeholder takes the
// tile's place.
TileOutcome DownloadWorker::Walker::KeepBadBody(SideFile kind,
                                                const char *what) {
  Record();
  if (!Write(SideFilePath(name_, kind), buffer_))
    return TileOutcome::EndsWorker;
  return GiveUp(what);
}

// The tile's end without its image: the placeholder takes its place and
// the given-up line is logged.
TileOutcome DownloadWorker::Walker::GiveUp(const char *what) {
  std::string().swap(buffer_);
  PlaceBlank();
  Log("T" + n_ + ":" + std::to_string(x_) + "-" + std::to_string(y_) + what);
  return TileOutcome::GivenUp;
}

// The placeholder goes only where no file is yet (see PlacePlaceholder). A
// blank that cannot be copied into place gets the worker's error line, and
// the tile is given up all the same.
void DownloadWorker::Walker::PlaceBlank() {
  if (folder_.Valid() && PlacePlaceholder(blankPath_, folder_.Get(), name_))
    return;
  Log("T" + n_ + " Error: cannot place the blank image at " + path_);
}

DownloadWorker::DownloadWorker(bool /*createSuspended*/,
                               const DownloadTask &task, int32_t threadIndex,
                               MainThreadBridge &bridge, WorkerHost &host,
                               WorkerPacing pacing)
    : task_(task), threadIndex_(threadIndex), bridge_(bridge), host_(host),
      pacing_(pacing), created_(std::chrono::steady_clock::now()) {
  // The body starts at once (a suspended start is never asked for); the
  // thread is started last, when every member it reads is in place.
  thread_ = std::thread([this] { Execute(); });
}

DownloadWorker::~DownloadWorker() {
  if (thread_.joinable())
    thread_.join();
}

DownloadWorker::Position DownloadWorker::Current() const {
  const uint64_t v = current_.load(std::memory_order_acquire);
  return {static_cast<int32_t>(static_cast<uint32_t>(v >> 32)),
          static_cast<int32_t>(static_cast<uint32_t>(v))};
}

void DownloadWorker::SetCurrent(int32_t x, int32_t y) {
  current_.store(Pack(x, y), std::memory_order_release);
}

void DownloadWorker::Execute() {
  // Nothing may keep a worker from its last two calls: a line that cannot
  // be made or handed over is dropped.
  auto log = [this](auto &&makeLine) {
    try {
      const std::string line = makeLine();
      bridge_.RunBlocking([&] { host_.AddLogLine(line); });
    } catch (...) {
    }
  };
  const std::string n = std::to_string(threadIndex_ + 1);
  // The main window counts on every worker reaching its "Finished." line
  // and WorkerDone, whatever happens in between.
  try {
    Walker(*this).Run(); // the client is released with the walker
  } catch (const std::exception &e) {
    endedEarly_ = true;
    log([&] { return "T" + n + " Error: " + e.what(); });
  } catch (...) {
    endedEarly_ = true;
    log([&] { return "T" + n + " Error: unexpected failure"; });
  }
  // 8. The last two calls.
  log([&] { return "T" + n + " Finished."; });
  try {
    bridge_.RunBlocking([this] { host_.WorkerDone(); });
  } catch (...) {
  }
}

} // namespace kestrane
