#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include <memory>
#include <string_view>

#include "platform/MainThread.h"
#include "platform/StopSignal.h"
#include "task/DownloadTask.h"
#include "task/Estimate.h"
#include "worker/ServerPace.h"

namespace kestrane {

// The pauses of a worker. The program keeps these; tests pass short ones.
struct WorkerPacing {
  std::chrono::milliseconds AfterStored{kPauseAfterStored};
  // Times the worker's index.
  std::chrono::milliseconds StartOffset{kWorkerStartOffset};
  std::chrono::milliseconds ShortRetry{1000};
  std::chrono::milliseconds LongRetry{2000};
  // HTTP time-outs of the worker's client.
  std::chrono::milliseconds ConnectTimeout{30000};
  std::chrono::milliseconds NoDataTimeout{60000};
  // A body that trickles in without end is cut off after this long.
  std::chrono::milliseconds RequestTimeout{600000};
};

// The most tiles a second `workers` workers take with these pauses (each
// pauses AfterStored after every tile); 0 when they do not pause.
double OwnRate(const WorkerPacing &pacing, int32_t workers);

// Whether a tile host ("host" or "host:port", an IPv6 address in brackets)
// is a loopback address: 127.0.0.0/8 or ::1, written as an address. Names
// are not looked up, so "localhost" is not one.
bool IsLoopbackHost(std::string_view hostAndPort);

// What a worker reaches on the main thread. Every call runs there, through
// the blocking call, while the worker waits.
class WorkerHost {
public:
  virtual ~WorkerHost() = default;
  virtual void AddLogLine(const std::string &line) = 0;
  virtual void AddFailedLine(const std::string &line) = 0;
  // The worker's last call: lowers the count of running workers.
  virtual void WorkerDone() = 0;
};

// The sequence number up to which the worker with `index` skips its tiles
// as done by an earlier run (its saved position); 0 when it has none.
int64_t ResumeSkipCount(const DownloadTask &task, int32_t index);
// The tiles an earlier run concluded, which the task's workers skip: the
// tiles of each worker's share up to its saved position, known before any
// worker has walked there.
int64_t TilesDoneBefore(const DownloadTask &task);

// One download worker: fetches, checks and stores every N-th tile of the
// task on a thread of its own, which starts on construction.
class DownloadWorker {
public:
  // `task`, `bridge` and `host` are used until the thread has returned.
  // `pace` is shared by every worker of the task: a refusal by the server
  // pauses all of them (see ServerPace). Without one the worker keeps a
  // pace of its own, bounded by its own pauses alone.
  DownloadWorker(bool createSuspended, const DownloadTask &task,
                 int32_t threadIndex, MainThreadBridge &bridge,
                 WorkerHost &host, WorkerPacing pacing = {},
                 std::shared_ptr<ServerPace> pace = nullptr);
  // Waits until the thread has returned.
  ~DownloadWorker();
  DownloadWorker(const DownloadWorker &) = delete;
  DownloadWorker &operator=(const DownloadWorker &) = delete;

  // Asks the worker to end; it looks before each tile.
  void Terminate() { stop_.Request(); }
  bool Terminated() const { return stop_.Requested(); }
  // Lets the thread run on unowned, for a program that is closing while
  // the worker may still wait on the main thread: the destructor then no
  // longer waits. The object must stay alive (the thread goes on using it).
  void Detach() {
    if (thread_.joinable())
      thread_.detach();
  }

  // The last concluded tile, read as one pair (never the X of one tile
  // with the Y of another). Both 0 until the first.
  struct Position {
    int32_t X = 0, Y = 0;
  };
  Position Current() const;
  int32_t CurrentX() const { return Current().X; }
  int32_t CurrentY() const { return Current().Y; }

  int32_t ThreadIndex() const { return threadIndex_; }

  // How the worker's tiles ended so far, for progress and the exit status.
  // Kept up to date by the body: Stored on each stored tile, GivenUp on each
  // tile given up (placeholder outcomes), each counted before the tile's
  // line reaches the log, so that a log line never shows a tile the counts
  // do not hold yet; Skipped for each own position
  // skipped as done by an earlier run, EndedEarly when an outcome or an
  // error ended the worker before its share was done (not for a stop). A
  // tile the server refused is never given up: it is asked for again.
  struct Counts {
    int32_t Stored = 0, GivenUp = 0, Skipped = 0;
    bool EndedEarly = false;
  };
  Counts TileCounts() const {
    return {stored_.load(), givenUp_.load(), skipped_.load(),
            endedEarly_.load()};
  }

private:
  class Walker; // one run of the body: the walk and the tiles

  void Execute();
  void SetCurrent(int32_t x, int32_t y);

  const DownloadTask &task_;
  const int32_t threadIndex_;
  MainThreadBridge &bridge_;
  WorkerHost &host_;
  const WorkerPacing pacing_;
  const std::shared_ptr<ServerPace> pace_;
  // The start offset is counted from here.
  const std::chrono::steady_clock::time_point created_;
  StopFlag stop_;
  std::atomic<uint64_t> current_{0};
  std::atomic<int32_t> stored_{0}, givenUp_{0}, skipped_{0};
  std::atomic<bool> endedEarly_{false};
  std::thread thread_;
};

} // namespace kestrane
