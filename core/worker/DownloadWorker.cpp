#include "worker/DownloadWorker.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <exception>
#include <netinet/in.h>
#include <optional>
#include <system_error>
#include <utility>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "tile/CheckedTiles.h"
#include "tile/Placeholder.h"
#include "tile/SideFiles.h"
#include "tile/TileCheck.h"
#include "tile/TileStore.h"
#include "worker/FailurePolicy.h"
#include "worker/FailureTexts.h"
#include "worker/Refusal.h"
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

double OwnRate(const WorkerPacing &pacing, int32_t workers) {
  if (pacing.AfterStored.count() <= 0 || workers <= 0)
    return 0;
  return workers * 1000.0 / static_cast<double>(pacing.AfterStored.count());
}

bool IsLoopbackHost(std::string_view hostAndPort) {
  std::string host(hostAndPort);
  if (!host.empty() && host.front() == '[') {
    const size_t close = host.find(']');
    if (close == std::string::npos)
      return false;
    host = host.substr(1, close - 1);
  } else if (std::count(host.begin(), host.end(), ':') == 1) {
    host.resize(host.find(':')); // one colon: the port follows it
  }
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1)
    return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return inet_pton(AF_INET6, host.c_str(), &v6) == 1 &&
         std::memcmp(&v6, &in6addr_loopback, sizeof v6) == 0;
}

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

  // What one request brought back.
  struct Answer {
    bool Ok = false;
    std::optional<std::string> Failure; // nullopt: a failure without text
    std::optional<Refusal> Refused;     // the server asked to wait
  };

  // The requests of one tile until it is concluded or ends the worker;
  // never RequestAgain.
  TileOutcome HandleTile(int32_t x, int32_t y, int64_t seqNo);
  Answer Request();
  std::optional<TileOutcome> OnRefusal(const Refusal &r,
                                       ServerPace::time_point sent);
  TileOutcome EndAsRefused(const std::string &status);
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
  // failure logs the worker's error line and returns false. `placed` as
  // for StoreTileFile.
  bool Write(const std::string &name, std::string_view bytes,
             FileStamp *placed = nullptr);
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
  // Where the stored tiles that passed the image check are recorded.
  std::optional<CheckedTileRecord> checked_;
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
  checked_.emplace(task_.CheckedFilePath);

  // 3. and 4. Where an earlier run of this worker stopped, the bounds and
  // the share. 64 bits: a block's sequence numbers need not fit 32.
  const int32_t minX = task_.MinX, maxX = task_.MaxX;
  const int32_t minY = task_.MinY, maxY = task_.MaxY;
  const int32_t index = w_.threadIndex_;
  const int64_t skipCount = ResumeSkipCount(task_, index);
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
      // A tile outside the outline is no part of the task: no request, no
      // record, no placeholder; its position still counts in the walk.
      if (!task_.IsInside(static_cast<int32_t>(x), static_cast<int32_t>(y)))
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
  ServerPace &pace = *w_.pace_;
  for (int32_t attempt = 1;;) {
    ServerPace::time_point sent;
    switch (pace.Wait(&w_.stop_, sent)) {
    case ServerPace::Turn::Go:
      break;
    case ServerPace::Turn::Stop:
      return TileOutcome::Stopped;
    case ServerPace::Turn::GiveUp:
      return EndAsRefused(pace.LastRefusal());
    }
    const Answer a = Request();
    if (a.Refused) {
      // Being asked to wait is no attempt of the tile: it is asked for
      // again once the gate opens.
      if (const std::optional<TileOutcome> end = OnRefusal(*a.Refused, sent))
        return *end;
      continue;
    }
    pace.Answered(sent);
    const TileOutcome outcome =
        a.Ok ? ActOnBody(CheckBody(buffer_, attempt), seqNo)
             : ActOnFailure(ClassifyFailure(a.Failure, attempt),
                            a.Failure.value_or(std::string()));
    if (outcome != TileOutcome::RequestAgain)
      return outcome;
    ++attempt;
  }
}

DownloadWorker::Walker::Answer DownloadWorker::Walker::Request() {
  // Every request starts from an empty buffer, so that an error page of an
  // earlier attempt never ends up in front of the tile's bytes.
  buffer_.clear();
  Answer a;
  try {
    FetchResult r = http_->Fetch(url_, buffer_);
    a.Ok = r.Ok;
    a.Refused = RefusalOf(r, std::chrono::system_clock::now());
    if (!a.Ok && !r.FailureText.empty())
      a.Failure = std::move(r.FailureText);
  } catch (const KError &e) {
    a.Failure = e.what();
  } catch (...) {
    // Not one of the system's failures: it has no text of its own.
  }
  return a;
}

// A refusal closes the gate of every worker of the task; the worker whose
// refusal began the pause logs it, once for all of them.
std::optional<TileOutcome>
DownloadWorker::Walker::OnRefusal(const Refusal &r,
                                  ServerPace::time_point sent) {
  const PaceModel::RefusalEffect effect =
      w_.pace_->Refused(sent, r.RetryAfter, r.Status);
  switch (effect.Kind) {
  case PaceModel::Effect::NewPause:
    Log(PauseLine(
        std::chrono::duration_cast<std::chrono::milliseconds>(effect.Pause),
        r.Status));
    return std::nullopt;
  case PaceModel::Effect::SamePause:
    return std::nullopt;
  case PaceModel::Effect::GiveUp:
    break;
  }
  return EndAsRefused(r.Status);
}

// A server that has refused for so long with no tile stored ends the
// worker as a ban does: its failure line, the tile recorded, the ban
// message, the position kept, so that a later run continues here.
TileOutcome DownloadWorker::Walker::EndAsRefused(const std::string &status) {
  Log("T" + n_ + " " + status + "->" + url_);
  Record();
  std::string().swap(buffer_);
  Log(std::string(kBannedMessage));
  return TileOutcome::EndsWorker;
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
    // A JPEG passed the full decoding (CheckBody): the record says so, and
    // the joiner need not decode it again.
    if (FileStamp placed; Write(name_, buffer_, &placed)) {
      if (SignatureOf(buffer_) == ImageSignature::Jpeg)
        checked_->Add(placed, buffer_);
    } else {
      return TileOutcome::EndsWorker;
    }
    std::string().swap(buffer_);
    ++w_.stored_;
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
    // A stop is no early end: the user asked for it.
    if (outcome != TileOutcome::Stopped)
      w_.endedEarly_ = true;
    return false;
  }
  // The tile was counted with its line (ActOnBody, GiveUp).
  w_.SetCurrent(x_, y_);
  if (outcome == TileOutcome::Stored) {
    w_.pace_->Stored();
    Pause(w_.pacing_.AfterStored);
  }
  return true;
}

bool DownloadWorker::Walker::Write(const std::string &name,
                                   std::string_view bytes, FileStamp *placed) {
  std::string reason;
  // The task control settles the tiles on the disk before it records the
  // worker's position, so one wait covers many tiles.
  if (!folder_.Valid())
    reason = std::generic_category().message(folderError_);
  else if (StoreTileFile(folder_.Get(), name, bytes, &reason, placed))
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
  ++w_.givenUp_;
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
                               WorkerPacing pacing,
                               std::shared_ptr<ServerPace> pace)
    : task_(task), threadIndex_(threadIndex), bridge_(bridge), host_(host),
      pacing_(pacing), pace_(pace ? std::move(pace)
                                  : std::make_shared<ServerPace>(
                                        PaceLimits{0, OwnRate(pacing, 1)})),
      created_(std::chrono::steady_clock::now()) {
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
