// The workers of a task under a server that rations its answers: one
// refusal pauses all of them once, a refusal is never an attempt of the
// tile, the cap holds for all of them together, and a server that refuses
// without end ends them as a ban does, with no tile given up.
#include "worker/DownloadWorker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

#include "task/TaskFiles.h"
#include "tests/support/PaceClocks.h"
#include "tests/support/WorkerFixtures.h"
#include "worker/FailureTexts.h"
#include "worker/TileHttp.h"

namespace kestrane {
namespace {

using namespace test;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

const std::string kPause1s =
    "Paused by the server for 1 s (429 Too Many Requests)";

struct Block {
  Block(const WorkerTileServer &server, int32_t nx, int32_t ny, int32_t threads)
      : task(WorkerBlock(dir.Path(), kWorkerX0, nx, kWorkerY0, ny, threads),
             WorkerEnvironment(server.Hosts())) {
    CreateTileFolder(task);
  }
  WorkerTempDir dir;
  DownloadTask task;
};

struct Ran {
  std::vector<DownloadWorker::Position> Positions;
  std::vector<DownloadWorker::Counts> Counts;
};

// Runs `count` workers sharing `pace` until each has made its last call.
Ran RunSharing(const DownloadTask &task, int count, WorkerRecorder &host,
               std::shared_ptr<ServerPace> pace, WorkerPacing pacing) {
  MainThreadQueue queue;
  std::vector<std::unique_ptr<DownloadWorker>> threads;
  for (int i = 0; i < count; ++i)
    threads.push_back(std::make_unique<DownloadWorker>(false, task, i, queue,
                                                       host, pacing, pace));
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while (host.Done < count && Clock::now() < deadline)
    queue.DrainFor(milliseconds(2));
  EXPECT_EQ(host.Done, count) << "the workers did not end in time";
  for (auto &t : threads)
    t->Terminate();
  while (host.Done < count)
    queue.DrainFor(milliseconds(10));
  queue.DrainPending();
  Ran ran;
  for (const auto &t : threads) {
    ran.Positions.push_back(t->Current());
    ran.Counts.push_back(t->TileCounts());
  }
  return ran;
}

HttpResponse Refusal429(const char *retryAfter, int delayMs = 0) {
  HttpResponse r = WorkerStatus(429, "Too Many Requests");
  if (retryAfter)
    r.Headers.emplace_back("Retry-After", retryAfter);
  r.DelayMs = delayMs;
  return r;
}

int CountOf(const std::vector<std::string> &lines, const std::string &line) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

class PoliteWorkersTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { HttpGlobalInit(); }
};

// Requests arriving within `refuseForMs` of the first one are refused with
// Retry-After: 1 (the first alone for 0), each refusal sent after
// `delayMs`; the rest get the tile. With the pace's clock 5 times fast, the
// pause lasts 200 ms, so no request sent after the refusal may arrive
// earlier than 200 ms after the first: workers that met no refusal of their
// own wait too.
TEST_F(PoliteWorkersTest, EightWorkersMeetingARefusalPauseOnceTogether) {
  struct Row {
    const char *what;
    int startOffsetMs, refuseForMs, delayMs;
  } rows[] = {
      {"one refusal; the others start during the pause", 10, 0, 0},
      {"every worker's first request refused at once", 0, 15, 20},
  };
  const std::string jpeg = WorkerJpeg();
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    std::mutex mu;
    std::vector<Clock::time_point> arrivals;
    int refused = 0;
    WorkerTileServer server([&](const HttpRequest &, int) {
      std::lock_guard<std::mutex> lock(mu);
      arrivals.push_back(Clock::now());
      const auto since = arrivals.back() - arrivals.front();
      if (arrivals.size() == 1 || since <= milliseconds(row.refuseForMs)) {
        ++refused;
        return Refusal429("1", row.delayMs);
      }
      return WorkerOk(jpeg);
    });
    Block b(server, 4, 4, 8);
    const FastPaceClock clock(5);
    auto pace = std::make_shared<ServerPace>(PaceLimits{}, clock);
    WorkerPacing pacing = WorkerShortPacing();
    pacing.StartOffset = milliseconds(row.startOffsetMs);
    WorkerRecorder host;
    const Ran ran = RunSharing(b.task, 8, host, pace, pacing);

    EXPECT_EQ(CountOf(host.Log, kPause1s), 1);
    EXPECT_GE(refused, 1);
    std::lock_guard<std::mutex> lock(mu);
    EXPECT_EQ(static_cast<int>(arrivals.size()), 16 + refused);
    // A request that reached the server before the first refusal could
    // have reached any worker was sent before the pause began: a busy
    // machine (the sanitizers, tests beside this one) can hold a worker's
    // first request, or the worker that reads the refusal, back by tens of
    // milliseconds. The workers that start after those 40 ms (the last
    // three of the first row) still show a worker that ignored the pause.
    const Clock::time_point answered =
        arrivals.front() + milliseconds(row.delayMs + 40);
    for (size_t i = static_cast<size_t>(refused); i < arrivals.size(); ++i)
      if (arrivals[i] > answered) {
        EXPECT_GE(arrivals[i] - arrivals.front(), milliseconds(195))
            << "request " << i << " came during the pause";
      }
    int stored = 0;
    for (const auto &c : ran.Counts) {
      stored += c.Stored;
      EXPECT_EQ(c.GivenUp, 0);
      EXPECT_FALSE(c.EndedEarly);
    }
    EXPECT_EQ(stored, 16);
    EXPECT_TRUE(host.Failed.empty());
  }
}

// One tile, one worker: refusals never count among the tile's attempts, and
// a 503 without Retry-After is a failure as it always was.
TEST_F(PoliteWorkersTest, ARefusalIsNoAttemptOfTheTile) {
  const std::string jpeg = WorkerJpeg();
  const HttpResponse e500 = WorkerStatus(500, "Internal Server Error");
  const HttpResponse e503 = WorkerStatus(503, "Service Unavailable");
  HttpResponse e503Later = e503;
  e503Later.Headers.emplace_back("Retry-After", "1");
  struct Row {
    const char *what;
    std::vector<HttpResponse> answers; // the last one repeats
    int requests;
    int pauses;
    std::string last; // the worker's last line before "Finished."
  } rows[] = {
      {"two refusals, then the tile",
       {Refusal429("1"), Refusal429("1"), WorkerOk(jpeg)},
       3,
       2,
       "OK"},
      {"three failures between refusals give up",
       {Refusal429("1"), e500, e500, Refusal429("1"), e500},
       5,
       2,
       "got a blank image!"},
      {"503 with Retry-After pauses, without it fails",
       {e503Later, e503},
       4,
       1,
       "got a blank image!"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    WorkerTileServer server([&](const HttpRequest &, int nth) {
      const size_t i = std::min(static_cast<size_t>(nth), row.answers.size());
      return row.answers[i - 1];
    });
    Block b(server, 1, 1, 1);
    const FastPaceClock clock(50);
    WorkerRecorder host;
    RunSharing(b.task, 1, host,
               std::make_shared<ServerPace>(PaceLimits{}, clock),
               WorkerShortPacing());
    EXPECT_EQ(server.TotalRequests(), row.requests);
    const int pauses =
        CountOf(host.Log, kPause1s) +
        CountOf(host.Log,
                "Paused by the server for 1 s (503 Service Unavailable)");
    EXPECT_EQ(pauses, row.pauses);
    const std::vector<std::string> own = host.LinesOf(1);
    ASSERT_GE(own.size(), 2u);
    const std::string &last = own[own.size() - 2];
    EXPECT_EQ(last.substr(last.size() - row.last.size()), row.last);
  }
}

TEST_F(PoliteWorkersTest, TheCapHoldsForAllWorkersTogether) {
  const std::string jpeg = WorkerJpeg();
  std::mutex mu;
  std::vector<Clock::time_point> arrivals;
  WorkerTileServer server([&](const HttpRequest &, int) {
    std::lock_guard<std::mutex> lock(mu);
    arrivals.push_back(Clock::now());
    return WorkerOk(jpeg);
  });
  Block b(server, 4, 4, 8);
  WorkerRecorder host;
  const Ran ran = RunSharing(b.task, 8, host,
                             std::make_shared<ServerPace>(PaceLimits{40, 0}),
                             WorkerShortPacing());
  std::lock_guard<std::mutex> lock(mu);
  ASSERT_EQ(arrivals.size(), 16u);
  // 16 requests at most 40 a second: 15 gaps of at least 25 ms.
  EXPECT_GE(arrivals.back() - arrivals.front(), milliseconds(15 * 25 - 5));
  for (const auto &c : ran.Counts)
    EXPECT_EQ(c.Stored, 2);
}

// Refusals without Retry-After: 2 s, 4 s, ... up to 5 minutes; with the
// clock 3000 times fast half an hour passes in 0.6 s. Each worker then ends
// as on a ban, its tile recorded and its position where it was, and no
// placeholder stands in for any tile.
TEST_F(PoliteWorkersTest, ServerRefusingEverythingEndsTheRunNotTheTask) {
  WorkerTileServer server(
      [](const HttpRequest &, int) { return Refusal429(nullptr); });
  Block b(server, 2, 2, 2);
  const FastPaceClock clock(3000);
  WorkerRecorder host;
  const Ran ran = RunSharing(b.task, 2, host,
                             std::make_shared<ServerPace>(PaceLimits{}, clock),
                             WorkerShortPacing());
  for (int n = 1; n <= 2; ++n) {
    SCOPED_TRACE(n);
    const std::vector<std::string> own = host.LinesOf(n);
    ASSERT_EQ(own.size(), 2u);
    EXPECT_EQ(own[0].rfind("T" + std::to_string(n) +
                               " 429 Too Many Requests->http://",
                           0),
              0u)
        << own[0];
    EXPECT_EQ(own[1], "T" + std::to_string(n) + " Finished.");
    const auto &pos = ran.Positions[static_cast<size_t>(n - 1)];
    EXPECT_EQ(pos.X, 0);
    EXPECT_EQ(pos.Y, 0);
    const auto &c = ran.Counts[static_cast<size_t>(n - 1)];
    EXPECT_EQ(c.GivenUp, 0);
    EXPECT_TRUE(c.EndedEarly);
  }
  EXPECT_EQ(CountOf(host.Log, std::string(kBannedMessage)), 2);
  EXPECT_EQ(host.Failed.size(), 2u);
  EXPECT_TRUE(WorkerFolderNames(b.task.TileFolder).empty());
  const auto pauses =
      std::count_if(host.Log.begin(), host.Log.end(), [](const std::string &l) {
        return l.rfind("Paused by the server for ", 0) == 0;
      });
  // 2 + 4 + ... + 256 + 300 x 5 s reach half an hour: about 13 pauses.
  EXPECT_GE(pauses, 8);
  EXPECT_LE(pauses, 16);
}

} // namespace
} // namespace kestrane
