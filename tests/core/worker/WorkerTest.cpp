#include "worker/DownloadWorker.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sys/socket.h>

#include "geo/TileGrid.h"
#include "task/TaskFiles.h"
#include "tests/support/WorkerFixtures.h"
#include "worker/FailurePolicy.h"
#include "worker/TileHttp.h"

namespace kestrane {
namespace {

using namespace test;
using std::chrono::milliseconds;
using Lines = std::vector<std::string>;

// A task over nx x ny tiles from the reference area's corner, its tile
// hosts on the given server.
struct Block {
  Block(const WorkerTileServer &server, int32_t nx, int32_t ny, int32_t threads)
      : params(WorkerBlock(dir.Path(), kWorkerX0, nx, kWorkerY0, ny, threads)),
        task(std::make_unique<DownloadTask>(
            params, WorkerEnvironment(server.Hosts()))) {
    CreateTileFolder(*task);
  }

  // The tile at column i, row j of the block.
  int32_t X(int i) const { return kWorkerX0 + i; }
  int32_t Y(int j) const { return kWorkerY0 + j; }
  std::string Url(int i, int j) const { return task->TileUrl(X(i), Y(j)); }
  std::string Target(int i, int j) const { return WorkerTarget(Url(i, j)); }
  std::string Path(int i, int j) const { return task->TilePath(X(i), Y(j)); }
  std::string Name(int i, int j) const {
    return task->TileFileName(X(i), Y(j));
  }

  WorkerTempDir dir;
  TaskParameters params;
  std::unique_ptr<DownloadTask> task;
};

class WorkerTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { HttpGlobalInit(); }
};

// Replaces {url}, {name}, {path}, {xy} in an expected line.
std::string Expand(std::string line, const Block &b) {
  const std::pair<std::string, std::string> tokens[] = {
      {"{url}", b.Url(0, 0)},
      {"{name}", b.Name(0, 0)},
      {"{path}", b.Path(0, 0)},
      {"{xy}", std::to_string(b.X(0)) + "-" + std::to_string(b.Y(0))}};
  for (const auto &[token, value] : tokens)
    for (size_t at; (at = line.find(token)) != std::string::npos;)
      line.replace(at, token.size(), value);
  return line;
}

// Runs the task's `workers` workers with short pauses; true when they
// ended in time, with `skipped` the tiles they skipped as done before.
bool RunCountingSkipped(const DownloadTask &task, int workers,
                        WorkerRecorder &host, int32_t &skipped) {
  return WorkerRun(task, workers, host, WorkerShortPacing(),
                   [&](auto &threads) {
                     skipped = 0;
                     for (const auto &t : threads)
                       skipped += t->TileCounts().Skipped;
                   });
}

Lines Repeat(int times, const std::string &line) {
  return Lines(static_cast<size_t>(times), line);
}

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines &p : parts)
    all.insert(all.end(), p.begin(), p.end());
  return all;
}

enum class OnDisk { Nothing, Blank, Existing, Body };

struct Outcome {
  const char *what;
  std::vector<HttpResponse> answers; // the n-th request gets answers[n-1],
                                     // the last one for every later request
  bool fileBefore;                   // a good tile from an earlier run
  int requests;
  Lines lines; // the worker's lines before "T1 Finished."
  bool recorded;
  OnDisk disk;
  std::string diskBody; // for OnDisk::Body
  std::string side;     // "", ".crashed" or ".invalid"
  std::string sideBody;
};

TEST_F(WorkerTest, EachOutcomeOfOneTile) {
  const std::string jpeg = WorkerJpeg();
  const std::string cut = WorkerJpegCutInScan(jpeg);
  const std::string crashed = std::string("\xFF\xD8", 2) + "no image here";
  const std::string old = WorkerJpeg(256, 256, true); // the earlier tile
  const HttpResponse reset = WorkerFault(HttpFault::Reset);
  const HttpResponse closed = WorkerFault(HttpFault::CloseWithoutAnswer);
  const HttpResponse e403 = WorkerStatus(403, "Forbidden");
  const HttpResponse e302 = [] {
    HttpResponse r = WorkerStatus(302, "Found");
    r.Headers.emplace_back("Location", "http://127.0.0.1:1/elsewhere");
    return r;
  }();
  const HttpResponse e404 = WorkerStatus(404, "Not Found");
  const HttpResponse e500 = WorkerStatus(500, "Internal Server Error");
  const HttpResponse tooLarge = [] {
    HttpResponse r = WorkerOk("x");
    r.Headers.emplace_back("Content-Length", "99999999999");
    r.Fault = HttpFault::PartialBody;
    r.PartialBytes = 1;
    return r;
  }();
  const std::string resetLine =
      "T1 Socket Error # 10054\r\nConnection reset by peer.->{url}";
  const std::string closedLine = "T1 Connection Closed Gracefully.->{url}";
  const std::string blankLine = "T1:{xy} got a blank image!";
  const std::string okLine = "T1:seq=1,{name} OK";
  const std::string notFound =
      "Error: the image is not found on server.404 Not Found";
  const std::string banned(kBannedMessage);
  const std::string network(kNetworkMessage);

  const Outcome cases[] = {
      {"a JPEG is stored",
       {WorkerOk(jpeg)},
       false,
       1,
       {okLine},
       false,
       OnDisk::Body,
       jpeg,
       "",
       ""},
      {"a stored tile replaces the earlier one",
       {WorkerOk(jpeg)},
       true,
       1,
       {okLine},
       false,
       OnDisk::Body,
       jpeg,
       "",
       ""},
      {"a PNG is stored under the .jpg name undecoded",
       {WorkerOk(WorkerPngBody())},
       false,
       1,
       {okLine},
       false,
       OnDisk::Body,
       WorkerPngBody(),
       "",
       ""},
      {"a JPEG cut in its image data: four requests, then crashed",
       {WorkerOk(cut)},
       false,
       4,
       Join({Repeat(4, "{name}:failed. crashed image->{url}"),
             {"T1:{xy} got a crashed image!"}}),
       true,
       OnDisk::Blank,
       "",
       ".crashed",
       cut},
      {"a JPEG cut short, then the whole one",
       {WorkerOk(cut), WorkerOk(jpeg)},
       false,
       2,
       {"{name}:failed. crashed image->{url}", okLine},
       false,
       OnDisk::Body,
       jpeg,
       "",
       ""},
      {"an error page, then the tile: stored intact (buffer emptied)",
       {e500, WorkerOk(jpeg)},
       false,
       2,
       {okLine},
       false,
       OnDisk::Body,
       jpeg,
       "",
       ""},
      {"a reset, then the tile (the dead connection is left behind)",
       {reset, WorkerOk(jpeg)},
       false,
       2,
       {resetLine, okLine},
       false,
       OnDisk::Body,
       jpeg,
       "",
       ""},
      {"30 resets: 30 lines, record, placeholder",
       {reset},
       false,
       30,
       Join({Repeat(30, resetLine), {blankLine}}),
       true,
       OnDisk::Blank,
       "",
       "",
       ""},
      {"30 resets keep an earlier good tile",
       {reset},
       true,
       30,
       Join({Repeat(30, resetLine), {blankLine}}),
       true,
       OnDisk::Existing,
       "",
       "",
       ""},
      {"30 closes before an answer are row 1",
       {closed},
       false,
       30,
       Join({Repeat(30, closedLine), {blankLine}}),
       true,
       OnDisk::Blank,
       "",
       "",
       ""},
      {"403 three times ends the worker",
       {e403},
       false,
       3,
       {"T1 403 Forbidden->{url}", banned},
       true,
       OnDisk::Nothing,
       "",
       "",
       ""},
      {"302 three times ends the worker, tile untouched",
       {e302},
       true,
       3,
       {"T1 302 Found->{url}", banned},
       true,
       OnDisk::Existing,
       "",
       "",
       ""},
      {"404 three times: one line, placeholder, no record",
       {e404},
       false,
       3,
       {notFound, blankLine},
       false,
       OnDisk::Blank,
       "",
       "",
       ""},
      {"404 keeps an earlier tile",
       {e404},
       true,
       3,
       {notFound, blankLine},
       false,
       OnDisk::Existing,
       "",
       "",
       ""},
      {"two resets then a 404 gives up at attempt 3",
       {reset, reset, e404},
       false,
       3,
       {resetLine, resetLine, notFound, blankLine},
       false,
       OnDisk::Blank,
       "",
       "",
       ""},
      {"500 three times: one line, record, placeholder",
       {e500},
       false,
       3,
       {"T1 500 Internal Server Error->{url}", blankLine},
       true,
       OnDisk::Blank,
       "",
       "",
       ""},
      {"500 keeps an earlier tile",
       {e500},
       true,
       3,
       {"T1 500 Internal Server Error->{url}", blankLine},
       true,
       OnDisk::Existing,
       "",
       "",
       ""},
      {"a body over the limit is row 6",
       {tooLarge},
       false,
       3,
       {"T1 Response too large: more than 16777216 bytes->{url}", blankLine},
       true,
       OnDisk::Blank,
       "",
       "",
       ""},
      {"a GIF is invalid at once",
       {WorkerOk(WorkerGifBody())},
       false,
       1,
       {"{name}:failed ->{url}", "T1:{xy} got a invalid image!"},
       true,
       OnDisk::Blank,
       "",
       ".invalid",
       WorkerGifBody()},
      {"an invalid body keeps an earlier tile",
       {WorkerOk(WorkerGifBody())},
       true,
       1,
       {"{name}:failed ->{url}", "T1:{xy} got a invalid image!"},
       true,
       OnDisk::Existing,
       "",
       ".invalid",
       WorkerGifBody()},
      {"an empty success body is invalid",
       {WorkerOk("")},
       false,
       1,
       {"{name}:failed ->{url}", "T1:{xy} got a invalid image!"},
       true,
       OnDisk::Blank,
       "",
       ".invalid",
       ""},
      {"a one-byte body is invalid",
       {WorkerOk("\xFF")},
       false,
       1,
       {"{name}:failed ->{url}", "T1:{xy} got a invalid image!"},
       true,
       OnDisk::Blank,
       "",
       ".invalid",
       "\xFF"},
      {"FF D8 and text: four requests, then crashed",
       {WorkerOk(crashed)},
       false,
       4,
       Join({Repeat(4, "{name}:failed. crashed image->{url}"),
             {"T1:{xy} got a crashed image!"}}),
       true,
       OnDisk::Blank,
       "",
       ".crashed",
       crashed},
      {"a crashed body never replaces an earlier tile",
       {WorkerOk(crashed)},
       true,
       4,
       Join({Repeat(4, "{name}:failed. crashed image->{url}"),
             {"T1:{xy} got a crashed image!"}}),
       true,
       OnDisk::Existing,
       "",
       ".crashed",
       crashed},
      {"a crashed body, then a good one",
       {WorkerOk(crashed), WorkerOk(jpeg)},
       false,
       2,
       {"{name}:failed. crashed image->{url}", okLine},
       false,
       OnDisk::Body,
       jpeg,
       "",
       ""},
  };

  for (const Outcome &c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<HttpResponse> answers = c.answers;
    WorkerTileServer server([&answers](const HttpRequest &, int nth) {
      return answers[std::min<size_t>(static_cast<size_t>(nth),
                                      answers.size()) -
                     1];
    });
    Block b(server, 1, 1, 1);
    if (c.fileBefore)
      WorkerWriteFile(b.Path(0, 0), old);
    WorkerRecorder host;
    ASSERT_TRUE(WorkerRun(*b.task, 1, host));

    EXPECT_EQ(server.Count(b.Target(0, 0)), c.requests);
    Lines want;
    for (const std::string &line : c.lines)
      want.push_back(Expand(line, b));
    want.push_back("T1 Finished.");
    EXPECT_EQ(host.Log, want);
    EXPECT_EQ(host.Failed,
              c.recorded ? Lines{b.Path(0, 0) + "|" + b.Url(0, 0)} : Lines{});
    EXPECT_EQ(host.Done, 1);

    const std::string path = b.Path(0, 0);
    switch (c.disk) {
    case OnDisk::Nothing:
      EXPECT_FALSE(WorkerFileExists(path));
      break;
    case OnDisk::Blank:
      EXPECT_EQ(WorkerReadFile(path), WorkerBlankBytes());
      break;
    case OnDisk::Existing:
      EXPECT_EQ(WorkerReadFile(path), old);
      break;
    case OnDisk::Body:
      EXPECT_EQ(WorkerReadFile(path), c.diskBody);
      break;
    }
    // Nothing else in the folder: no temporary file, no stray side file.
    std::vector<std::string> names;
    if (c.disk != OnDisk::Nothing)
      names.push_back(b.Name(0, 0));
    if (!c.side.empty()) {
      names.push_back(b.Name(0, 0) + c.side);
      EXPECT_EQ(WorkerReadFile(path + c.side), c.sideBody);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(WorkerFolderNames(b.task->TileFolder), names);
  }
}

TEST_F(WorkerTest, RefusedConnectionEndsTheWorker) {
  // A port where nothing listens: a socket failure other than a reset.
  uint16_t port = 0;
  {
    WorkerTileServer gone(
        [](const HttpRequest &, int) { return WorkerOk(""); });
    port = gone.Port();
  }
  WorkerTileServer server(
      [](const HttpRequest &, int) { return WorkerOk(""); });
  WorkerTempDir dir;
  TaskParameters params =
      WorkerBlock(dir.Path(), kWorkerX0, 2, kWorkerY0, 1, 1);
  TileHosts hosts;
  hosts.fill("127.0.0.1:" + std::to_string(port));
  DownloadTask task(params, WorkerEnvironment(hosts));
  CreateTileFolder(task);
  WorkerRecorder host;
  ASSERT_TRUE(WorkerRun(task, 1, host));
  const std::string url = task.TileUrl(kWorkerX0, kWorkerY0);
  EXPECT_EQ(host.Log,
            (Lines{"T1 Socket Error # 10061\r\nConnection refused.->" + url,
                   std::string(kNetworkMessage), "T1 Finished."}));
  EXPECT_EQ(host.Failed,
            Lines{task.TilePath(kWorkerX0, kWorkerY0) + "|" + url});
  EXPECT_TRUE(WorkerFolderNames(task.TileFolder).empty());
}

TEST_F(WorkerTest, NoDataTimeOutIsANetworkFailure) {
  WorkerTileServer server([](const HttpRequest &, int) {
    HttpResponse r = WorkerOk(WorkerJpeg(8, 8));
    r.Fault = HttpFault::StallAfterHeaders;
    r.StallMs = 5000;
    return r;
  });
  Block b(server, 1, 1, 1);
  WorkerRecorder host;
  WorkerPacing pacing = WorkerShortPacing();
  pacing.NoDataTimeout = milliseconds(150);
  ASSERT_TRUE(WorkerRun(*b.task, 1, host, pacing));
  EXPECT_EQ(server.Count(b.Target(0, 0)), 3);
  EXPECT_EQ(
      host.Log,
      (Lines{"T1 Socket Error # 10060\r\nConnection timed out.->" + b.Url(0, 0),
             std::string(kNetworkMessage), "T1 Finished."}));
}

TEST_F(WorkerTest, BannedWorkerFetchesNoMoreTiles) {
  // The first tile is refused; the worker's other tiles are not visited and
  // its position stays where it was.
  WorkerTileServer server(
      [](const HttpRequest &, int) { return WorkerStatus(403, "Forbidden"); });
  Block b(server, 1, 3, 1);
  WorkerRecorder host;
  std::unique_ptr<DownloadWorker::Position> last;
  ASSERT_TRUE(
      WorkerRun(*b.task, 1, host, WorkerShortPacing(), [&](auto &threads) {
        last =
            std::make_unique<DownloadWorker::Position>(threads[0]->Current());
      }));
  EXPECT_EQ(server.Targets(), Lines{b.Target(0, 0)});
  EXPECT_EQ(server.TotalRequests(), 3);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->X, 0);
  EXPECT_EQ(last->Y, 0);
  EXPECT_EQ(host.Log.back(), "T1 Finished.");
}

TEST_F(WorkerTest, OtherWorkersGoOnWhenOneIsBanned) {
  // Only worker 2's first tile is refused: worker 1 stores all of its own.
  Block *block = nullptr;
  WorkerTileServer server([&](const HttpRequest &req, int) {
    if (req.Target == block->Target(0, 0))
      return WorkerStatus(403, "Forbidden");
    return WorkerOk(WorkerJpeg(8, 8));
  });
  Block b(server, 1, 4, 2);
  block = &b;
  WorkerRecorder host;
  ASSERT_TRUE(WorkerRun(*b.task, 2, host));
  // Tile 1 (seq 1) is worker 2's; seq 2 and 4 are worker 1's, seq 3 is
  // worker 2's and never fetched.
  EXPECT_EQ(host.LinesOf(1),
            (Lines{"T1:seq=2," + b.Name(0, 1) + " OK",
                   "T1:seq=4," + b.Name(0, 3) + " OK", "T1 Finished."}));
  EXPECT_EQ(server.Count(b.Target(0, 2)), 0);
  EXPECT_EQ(host.Done, 2);
}

TEST_F(WorkerTest, SharingOfTheBlock) {
  // Three workers over 2 columns by 4 rows: positions are numbered column
  // by column, and worker index i takes the numbers d with d mod 3 == i.
  WorkerTileServer server(
      [](const HttpRequest &, int) { return WorkerOk(WorkerJpeg(8, 8)); });
  Block b(server, 2, 4, 3);
  WorkerRecorder host;
  ASSERT_TRUE(WorkerRun(*b.task, 3, host));
  auto ok = [&](int n, int seq) {
    const int i = (seq - 1) / 4, j = (seq - 1) % 4;
    return "T" + std::to_string(n) + ":seq=" + std::to_string(seq) + "," +
           b.Name(i, j) + " OK";
  };
  EXPECT_EQ(host.LinesOf(1), (Lines{ok(1, 3), ok(1, 6), "T1 Finished."}));
  EXPECT_EQ(host.LinesOf(2),
            (Lines{ok(2, 1), ok(2, 4), ok(2, 7), "T2 Finished."}));
  EXPECT_EQ(host.LinesOf(3),
            (Lines{ok(3, 2), ok(3, 5), ok(3, 8), "T3 Finished."}));
  EXPECT_EQ(server.TotalRequests(), 8);
  EXPECT_EQ(host.Done, 3);
}

TEST_F(WorkerTest, ResumeSkipsTheSavedShare) {
  struct Case {
    const char *what;
    int workers, index;    // the worker under test
    int savedI, savedJ;    // saved tile within the block, -1: a 0 entry
    std::vector<int> seqs; // the sequence numbers it fetches
    int skipped;
  };
  const Case cases[] = {
      {"(MinX, MinY) skips exactly position 1", 1, 0, 0, 0, {2, 3, 4, 5, 6}, 1},
      {"X entry 0 counts as no saved position",
       1,
       0,
       -1,
       0,
       {1, 2, 3, 4, 5, 6},
       0},
      {"Y entry 0 counts as no saved position",
       1,
       0,
       0,
       -1,
       {1, 2, 3, 4, 5, 6},
       0},
      {"second column: the count runs over columns", 1, 0, 1, 0, {5, 6}, 4},
      {"saved last tile: empty share, only Finished", 1, 0, 1, 2, {}, 6},
      {"worker 2 of 2 skips its own positions 1 and 3", 2, 1, 0, 2, {5}, 2},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    WorkerTileServer server(
        [](const HttpRequest &, int) { return WorkerOk(WorkerJpeg(8, 8)); });
    Block b(server, 2, 3, c.workers);
    const size_t at = static_cast<size_t>(c.index);
    ResumePositions resume;
    resume.X[at] = c.savedI < 0 ? 0 : b.X(c.savedI);
    resume.Y[at] = c.savedJ < 0 ? 0 : b.Y(c.savedJ);
    const DownloadTask task = b.task->WithResumePositions(resume);
    WorkerRecorder host;
    int32_t skipped = -1;
    ASSERT_TRUE(WorkerRun(
        task, c.workers, host, WorkerShortPacing(),
        [&](auto &threads) { skipped = threads[at]->TileCounts().Skipped; }));
    const int n = c.index + 1;
    Lines want;
    for (int seq : c.seqs)
      want.push_back("T" + std::to_string(n) + ":seq=" + std::to_string(seq) +
                     "," + b.Name((seq - 1) / 3, (seq - 1) % 3) + " OK");
    want.push_back("T" + std::to_string(n) + " Finished.");
    EXPECT_EQ(host.LinesOf(n), want);
    EXPECT_EQ(skipped, c.skipped);
    // Known before the walk: the progress shows it from the start.
    EXPECT_EQ(TilesDoneBefore(task), c.skipped);
  }
}

// The tiles done before, counted from the saved positions alone, are the
// tiles the workers skip when they walk: for every worker count and any mix
// of saved positions.
TEST_F(WorkerTest, DoneBeforeIsWhatTheWorkersSkip) {
  struct Case {
    const char *what;
    int workers;
    std::vector<std::pair<int, int>> saved; // per worker: (i, j), -1 none
  };
  const Case cases[] = {
      {"three workers, all saved", 3, {{0, 2}, {1, 1}, {2, 0}}},
      {"three workers, one without a position", 3, {{1, 0}, {-1, -1}, {3, 2}}},
      {"eight workers over twelve tiles",
       8,
       {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}, {2, 0}, {3, 2}}},
      {"one worker at the last tile", 1, {{3, 2}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    WorkerTileServer server(
        [](const HttpRequest &, int) { return WorkerOk(WorkerJpeg(8, 8)); });
    Block b(server, 4, 3, c.workers);
    ResumePositions resume;
    for (size_t k = 0; k < c.saved.size(); ++k) {
      if (c.saved[k].first < 0)
        continue;
      resume.X[k] = b.X(c.saved[k].first);
      resume.Y[k] = b.Y(c.saved[k].second);
    }
    const DownloadTask task = b.task->WithResumePositions(resume);
    WorkerRecorder host;
    int32_t skipped = 0;
    ASSERT_TRUE(RunCountingSkipped(task, c.workers, host, skipped));
    EXPECT_GT(skipped, 0);
    EXPECT_EQ(TilesDoneBefore(task), skipped);
  }
}

TEST_F(WorkerTest, StopDuringATileFinishesTheTileFirst) {
  // The first tile fails twice, then comes; the stop request arrives while
  // it is under way, so the tile is retried to its end and stored, and the
  // next tile is not fetched.
  Block *block = nullptr;
  const std::string jpeg = WorkerJpeg(8, 8);
  WorkerTileServer server([&](const HttpRequest &req, int nth) {
    if (req.Target == block->Target(0, 0) && nth < 3)
      return WorkerStatus(500, "Internal Server Error");
    return WorkerOk(jpeg);
  });
  Block b(server, 1, 3, 1);
  block = &b;
  WorkerRecorder host;
  WorkerPacing pacing = WorkerShortPacing();
  pacing.ShortRetry = milliseconds(50);
  ASSERT_TRUE(WorkerRun(*b.task, 1, host, pacing, [&](auto &threads) {
    if (server.TotalRequests() >= 1)
      threads[0]->Terminate();
  }));
  EXPECT_EQ(host.Log,
            (Lines{"T1:seq=1," + b.Name(0, 0) + " OK", "T1 Finished."}));
  EXPECT_EQ(server.Count(b.Target(0, 0)), 3);
  EXPECT_EQ(server.Count(b.Target(0, 1)), 0);
}

TEST_F(WorkerTest, StartOffsetByIndex) {
  WorkerTileServer server(
      [](const HttpRequest &, int) { return WorkerOk(WorkerJpeg(8, 8)); });
  Block b(server, 1, 8, 8);
  WorkerRecorder host;
  WorkerPacing pacing = WorkerShortPacing();
  pacing.StartOffset = milliseconds(20);
  const auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(WorkerRun(*b.task, 8, host, pacing));
  // Index 7 takes sequence number 7 (row 6); index 0 takes number 8.
  EXPECT_GE(server.FirstSeen(b.Target(0, 6)) - before, milliseconds(140));
  EXPECT_EQ(host.Done, 8);
}

TEST_F(WorkerTest, PositionIsPublishedAsOnePair) {
  // One worker over 3 x 3 tiles: every position read while it runs is one
  // the worker concluded, in walk order; the last is the last tile. A torn
  // read (the new X with the old Y) would step backwards.
  WorkerTileServer server(
      [](const HttpRequest &, int) { return WorkerOk(WorkerJpeg(8, 8)); });
  Block b(server, 3, 3, 1);
  WorkerRecorder host;
  std::vector<DownloadWorker::Position> seen;
  ASSERT_TRUE(
      WorkerRun(*b.task, 1, host, WorkerShortPacing(),
                [&](auto &threads) { seen.push_back(threads[0]->Current()); }));
  int64_t previous = -1;
  for (const auto &p : seen) {
    if (p.X == 0 && p.Y == 0)
      continue;
    ASSERT_GE(p.X, b.X(0));
    ASSERT_LE(p.X, b.X(2));
    ASSERT_GE(p.Y, b.Y(0));
    ASSERT_LE(p.Y, b.Y(2));
    const int64_t seq = (p.X - b.X(0)) * 3 + (p.Y - b.Y(0));
    EXPECT_GE(seq, previous);
    previous = seq;
  }
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().X, b.X(2));
  EXPECT_EQ(seen.back().Y, b.Y(2));
}

TEST_F(WorkerTest, GivenUpTileBecomesThePosition) {
  // A given-up tile is concluded too; the tile on which a worker ends is
  // not: (first tile stored, second given up, third ends the worker).
  Block *block = nullptr;
  WorkerTileServer server([&](const HttpRequest &req, int) {
    if (req.Target == block->Target(0, 1))
      return WorkerStatus(404, "Not Found");
    if (req.Target == block->Target(0, 2))
      return WorkerStatus(403, "Forbidden");
    return WorkerOk(WorkerJpeg(8, 8));
  });
  Block b(server, 1, 3, 1);
  block = &b;
  WorkerRecorder host;
  DownloadWorker::Position last;
  DownloadWorker::Counts counts;
  ASSERT_TRUE(
      WorkerRun(*b.task, 1, host, WorkerShortPacing(), [&](auto &threads) {
        last = threads[0]->Current();
        counts = threads[0]->TileCounts();
      }));
  EXPECT_EQ(last.X, b.X(0));
  EXPECT_EQ(last.Y, b.Y(1));
  EXPECT_EQ(counts.Stored, 1);
  EXPECT_EQ(counts.GivenUp, 1);
  EXPECT_TRUE(counts.EndedEarly);
}

// What each outcome of a tile does to its worker. The middle tile of three
// gets the row's answers (the n-th request answers[n-1], the last one for
// every later request), the others a good tile. Only a concluded tile
// (stored or given up) counts and moves the position that a later run
// resumes after; a request again counts nothing; a tile that ends the
// worker leaves the position on the tile before it, and the next tile is
// never asked for.
TEST_F(WorkerTest, OnlyAConcludedTileMovesThePosition) {
  const std::string good = WorkerJpeg(8, 8);
  const HttpResponse ok = WorkerOk(good);
  const HttpResponse crashed =
      WorkerOk(std::string("\xFF\xD8", 2) + "no image here");
  const HttpResponse gif = WorkerOk(WorkerGifBody());
  const HttpResponse e404 = WorkerStatus(404, "Not Found");
  const HttpResponse e500 = WorkerStatus(500, "Internal Server Error");
  struct Row {
    const char *what;
    std::vector<HttpResponse> answers;
    std::optional<std::string> blocked; // suffix of the middle tile's path
                                        // that a folder stands on
    TileOutcome outcome;
  };
  const Row rows[] = {
      {"stored", {ok}, {}, TileOutcome::Stored},
      {"stored after a 500", {e500, ok}, {}, TileOutcome::Stored},
      {"stored after a crashed body", {crashed, ok}, {}, TileOutcome::Stored},
      {"given up: not on the server", {e404}, {}, TileOutcome::GivenUp},
      {"given up: 500 three times", {e500}, {}, TileOutcome::GivenUp},
      {"given up: crashed four times", {crashed}, {}, TileOutcome::GivenUp},
      {"given up: no image", {gif}, {}, TileOutcome::GivenUp},
      {"given up although the placeholder cannot be placed",
       {e404},
       "",
       TileOutcome::GivenUp},
      {"ends the worker: banned",
       {WorkerStatus(403, "Forbidden")},
       {},
       TileOutcome::EndsWorker},
      {"ends the worker: the tile cannot be written",
       {ok},
       "",
       TileOutcome::EndsWorker},
      {"ends the worker: the side file cannot be written",
       {gif},
       ".invalid",
       TileOutcome::EndsWorker},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    Block *block = nullptr;
    WorkerTileServer server([&](const HttpRequest &req, int nth) {
      if (req.Target != block->Target(0, 1))
        return ok;
      return r.answers[std::min<size_t>(static_cast<size_t>(nth),
                                        r.answers.size()) -
                       1];
    });
    Block b(server, 1, 3, 1);
    block = &b;
    if (r.blocked)
      std::filesystem::create_directory(b.Path(0, 1) + *r.blocked);
    WorkerRecorder host;
    std::vector<DownloadWorker::Position> seen;
    DownloadWorker::Counts counts;
    ASSERT_TRUE(
        WorkerRun(*b.task, 1, host, WorkerShortPacing(), [&](auto &threads) {
          seen.push_back(threads[0]->Current());
          counts = threads[0]->TileCounts();
        }));
    const bool concluded = Concludes(r.outcome);
    EXPECT_EQ(counts.Stored, r.outcome == TileOutcome::Stored    ? 3
                             : r.outcome == TileOutcome::GivenUp ? 2
                                                                 : 1);
    EXPECT_EQ(counts.GivenUp, r.outcome == TileOutcome::GivenUp ? 1 : 0);
    EXPECT_EQ(counts.EndedEarly, !concluded);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().X, b.X(0));
    EXPECT_EQ(seen.back().Y, b.Y(concluded ? 2 : 0));
    for (const DownloadWorker::Position &p : seen) {
      if (!concluded) {
        EXPECT_NE(p.Y, b.Y(1)) << "the position passed an open tile";
      }
    }
    EXPECT_EQ(server.Count(b.Target(0, 2)), concluded ? 1 : 0);
  }
}

TEST_F(WorkerTest, ProxyPortThatIsNoNumberEndsEachWorker) {
  WorkerTileServer server(
      [](const HttpRequest &, int) { return WorkerOk(WorkerJpeg(8, 8)); });
  Block b(server, 1, 2, 2);
  TaskParameters params = b.params;
  params.Proxy.UseProxy = true;
  params.Proxy.ProxyServer = "127.0.0.1";
  params.Proxy.ProxyPort = "abc";
  const DownloadTask task(params, b.task->Env);
  WorkerRecorder host;
  ASSERT_TRUE(WorkerRun(task, 2, host));
  EXPECT_EQ(
      host.LinesOf(1),
      (Lines{"T1 Error: the proxy port is not a number: abc", "T1 Finished."}));
  EXPECT_EQ(
      host.LinesOf(2),
      (Lines{"T2 Error: the proxy port is not a number: abc", "T2 Finished."}));
  EXPECT_EQ(server.TotalRequests(), 0);
  EXPECT_EQ(host.Done, 2);
}

TEST_F(WorkerTest, UnwritableFilesEndTheWorker) {
  // The second tile's path (or its side file's) is taken by a folder, so
  // it cannot be written: the worker ends with the system's reason, at the
  // first tile's position.
  struct Case {
    const char *what;
    std::string body;
    std::string blocked; // suffix of the second tile's path made a folder
    bool recorded;
  };
  const Case cases[] = {
      {"the tile file", WorkerJpeg(8, 8), "", false},
      {"the .invalid side file", WorkerGifBody(), ".invalid", true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Block *block = nullptr;
    const std::string good = WorkerJpeg(8, 8);
    WorkerTileServer server([&](const HttpRequest &req, int) {
      return WorkerOk(req.Target == block->Target(0, 1) ? c.body : good);
    });
    Block b(server, 1, 3, 1);
    block = &b;
    const std::string blocked = b.Path(0, 1) + c.blocked;
    std::filesystem::create_directory(blocked);
    WorkerRecorder host;
    DownloadWorker::Position last;
    ASSERT_TRUE(
        WorkerRun(*b.task, 1, host, WorkerShortPacing(),
                  [&](auto &threads) { last = threads[0]->Current(); }));
    ASSERT_FALSE(host.Log.empty());
    EXPECT_EQ(host.Log.front(), "T1:seq=1," + b.Name(0, 0) + " OK");
    EXPECT_EQ(host.Log[host.Log.size() - 2],
              "T1 Error: cannot write " + blocked + ": Is a directory");
    EXPECT_EQ(host.Log.back(), "T1 Finished.");
    EXPECT_EQ(server.Count(b.Target(0, 2)), 0);
    EXPECT_EQ(last.X, b.X(0));
    EXPECT_EQ(last.Y, b.Y(0));
    EXPECT_EQ(host.Failed.size(), c.recorded ? 1u : 0u);
    // Only the first tile and the folder in the way: no temporary file.
    std::vector<std::string> want{b.Name(0, 0), b.Name(0, 1) + c.blocked};
    std::sort(want.begin(), want.end());
    EXPECT_EQ(WorkerFolderNames(b.task->TileFolder), want);
  }
}

TEST_F(WorkerTest, MissingBlankFileLeavesNoPlaceholder) {
  WorkerTileServer server(
      [](const HttpRequest &, int) { return WorkerStatus(404, "Not Found"); });
  WorkerTempDir dir, program;
  TaskParameters params =
      WorkerBlock(dir.Path(), kWorkerX0, 1, kWorkerY0, 1, 1);
  TaskEnvironment env = WorkerEnvironment(server.Hosts());
  env.ProgramFolder = program.Path(); // no blankimg/ there
  DownloadTask task(params, env);
  CreateTileFolder(task);
  WorkerRecorder host;
  ASSERT_TRUE(WorkerRun(task, 1, host));
  EXPECT_EQ(host.Log.size(), 3u); // not found, blank image, Finished
  EXPECT_TRUE(WorkerFolderNames(task.TileFolder).empty());
}

TEST_F(WorkerTest, PlaceholderThatCannotBePlacedIsLogged) {
  WorkerTileServer server(
      [](const HttpRequest &, int) { return WorkerStatus(404, "Not Found"); });
  WorkerTempDir dir;
  TaskParameters params =
      WorkerBlock(dir.Path(), kWorkerX0, 1, kWorkerY0, 1, 1);
  DownloadTask task(params, WorkerEnvironment(server.Hosts()));
  CreateTileFolder(task);
  // A folder where the placeholder should go: the copy cannot land.
  const std::string path = task.TilePath(kWorkerX0, kWorkerY0);
  std::filesystem::create_directory(path);
  WorkerRecorder host;
  ASSERT_TRUE(WorkerRun(task, 1, host));
  ASSERT_EQ(host.Log.size(), 4u);
  EXPECT_EQ(host.Log[1], "T1 Error: cannot place the blank image at " + path);
  // The tile is given up all the same, and the worker goes on.
  EXPECT_NE(host.Log[2].find(" got a blank image!"), std::string::npos);
  EXPECT_EQ(host.Log[3], "T1 Finished.");
  EXPECT_TRUE(std::filesystem::is_directory(path));
}

// A host whose log pane refuses the OK lines.
class RefusingHost : public WorkerRecorder {
public:
  void AddLogLine(const std::string &line) override {
    if (line.find(" OK") != std::string::npos)
      throw std::runtime_error("pane full");
    WorkerRecorder::AddLogLine(line);
  }
};

TEST_F(WorkerTest, FailureInsideTheBodyStillEndsProperly) {
  WorkerTileServer server(
      [](const HttpRequest &, int) { return WorkerOk(WorkerJpeg(8, 8)); });
  Block b(server, 1, 2, 1);
  RefusingHost host;
  ASSERT_TRUE(WorkerRun(*b.task, 1, host));
  EXPECT_EQ(host.Log, (Lines{"T1 Error: pane full", "T1 Finished."}));
  EXPECT_EQ(host.Done, 1);
}

TEST_F(WorkerTest, FewConnectionsPerWorker) {
  // 64 tiles, 8 workers, four shard hosts on 127.0.0.1 to 127.0.0.4: each
  // worker keeps its connections open, at most one per host.
  WorkerTileServer server(
      [](const HttpRequest &, int) { return WorkerOk(WorkerJpeg(8, 8)); }, 4);
  Block b(server, 4, 16, 8);
  WorkerRecorder host;
  ASSERT_TRUE(WorkerRun(*b.task, 8, host));
  ASSERT_EQ(server.TotalRequests(), 64);
  std::map<std::string, int> workerOf;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 16; ++j)
      workerOf[b.Target(i, j)] = (i * 16 + j + 1) % 8;
  std::map<uint64_t, std::set<int>> workersOnConnection;
  std::map<int, std::set<uint64_t>> connectionsOfWorker;
  for (const HttpRequest &req : server.Server().Requests()) {
    const int w = workerOf.at(req.Target);
    workersOnConnection[req.ConnectionId].insert(w);
    connectionsOfWorker[w].insert(req.ConnectionId);
  }
  for (const auto &[id, workers] : workersOnConnection)
    EXPECT_EQ(workers.size(), 1u) << "connection " << id;
  for (const auto &[w, ids] : connectionsOfWorker)
    EXPECT_LE(ids.size(), 4u) << "worker index " << w;
  EXPECT_LE(server.Server().ConnectionsAccepted(), 32u);
}

} // namespace
} // namespace kestrane

namespace kestrane {
namespace {

using namespace test;

// An L over a block of 4 x 3 tiles: row 0 and column 0 are inside, the
// other six tiles lie wholly outside.
Outline LOverFourByThree(int32_t zoom) {
  const auto at = [zoom](double i, double j) {
    return LonLat{TileXToLongitude(kWorkerX0 + i, zoom),
                  TileYToLatitude(kWorkerY0 + j, zoom)};
  };
  return {{{at(0.2, 0.2), at(3.8, 0.2), at(3.8, 0.8), at(0.8, 0.8),
            at(0.8, 2.8), at(0.2, 2.8)},
           {}}};
}

class OutlineWorkerTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { HttpGlobalInit(); }
};

// The workers ask for the tiles inside the outline and nothing else: no
// request, record or placeholder for a tile outside, for any worker count,
// and a saved position skips only the inside tiles before it.
TEST_F(OutlineWorkerTest, TilesOutsideAreNeverAsked) {
  struct Case {
    const char *what;
    int workers;
    std::pair<int, int> saved; // worker 1's position (i, j); -1: none
    std::vector<std::pair<int, int>> asked;
    int skipped;
  };
  const std::vector<std::pair<int, int>> inside = {{0, 0}, {0, 1}, {0, 2},
                                                   {1, 0}, {2, 0}, {3, 0}};
  const Case cases[] = {
      {"one worker", 1, {-1, -1}, inside, 0},
      {"two workers", 2, {-1, -1}, inside, 0},
      {"three workers", 3, {-1, -1}, inside, 0},
      {"saved at (1, 0): four inside tiles before it",
       1,
       {1, 0},
       {{2, 0}, {3, 0}},
       4},
      {"saved at (2, 0): two outside tiles passed before it",
       1,
       {2, 0},
       {{3, 0}},
       5},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    WorkerTileServer server(
        [](const HttpRequest &, int) { return WorkerOk(WorkerJpeg(8, 8)); });
    WorkerTempDir dir;
    TaskParameters params =
        WorkerBlock(dir.Path(), kWorkerX0, 4, kWorkerY0, 3, c.workers);
    params.Area = LOverFourByThree(params.Zoom);
    ResumePositions resume;
    if (c.saved.first >= 0) {
      resume.X[0] = kWorkerX0 + c.saved.first;
      resume.Y[0] = kWorkerY0 + c.saved.second;
    }
    const DownloadTask task(params, WorkerEnvironment(server.Hosts()), resume);
    CreateTileFolder(task);
    ASSERT_EQ(task.TotalCount, 12);
    ASSERT_EQ(task.InsideCount, 6);
    WorkerRecorder host;
    int32_t skipped = 0;
    ASSERT_TRUE(RunCountingSkipped(task, c.workers, host, skipped));
    std::set<std::string> want, files;
    for (const auto &[i, j] : c.asked) {
      want.insert(WorkerTarget(task.TileUrl(kWorkerX0 + i, kWorkerY0 + j)));
      files.insert(task.TileFileName(kWorkerX0 + i, kWorkerY0 + j));
    }
    const std::vector<std::string> targets = server.Targets();
    EXPECT_EQ(std::set<std::string>(targets.begin(), targets.end()), want);
    EXPECT_EQ(server.TotalRequests(), static_cast<int>(want.size()));
    const std::vector<std::string> names = WorkerFolderNames(task.TileFolder);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), files);
    EXPECT_TRUE(host.Failed.empty());
    EXPECT_EQ(skipped, c.skipped);
    EXPECT_EQ(TilesDoneBefore(task), c.skipped);
  }
}

} // namespace
} // namespace kestrane
