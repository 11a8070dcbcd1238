// A re-download run under a server that rations its answers: a refusal
// pauses the run and the same record is asked for again, refusals without
// end stop the run as a ban does, the cap spaces the requests, and a stop
// ends a pause at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "redownload/RedownloadRun.h"
#include "tests/support/PaceClocks.h"
#include "tests/support/WorkerFixtures.h"
#include "worker/FailureTexts.h"
#include "worker/TileHttp.h"

namespace kestrane {
namespace {

using namespace test;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

HttpResponse Later(int status, const char *reason, const char *retryAfter) {
  HttpResponse r = WorkerStatus(status, reason);
  if (retryAfter)
    r.Headers.emplace_back("Retry-After", retryAfter);
  return r;
}

class RedownloadPaceTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { HttpGlobalInit(); }

  // Record n's answers follow `answers[n]` (the last one repeats).
  void Serve(std::vector<std::vector<HttpResponse>> answers) {
    answers_ = std::move(answers);
    server_ = std::make_unique<WorkerTileServer>(
        [this](const HttpRequest &req, int nth) {
          const size_t n = static_cast<size_t>(
              std::stoi(req.Target.substr(std::string("/tiles/svi").size())));
          const auto &list = answers_[n];
          return list[std::min(static_cast<size_t>(nth), list.size()) - 1];
        });
  }
  std::string Url(int n) const {
    return server_->Server().BaseUrl() + "/tiles/svi" + std::to_string(n) +
           "?g=5340&dir=dir_n";
  }
  std::string Path(int n) const {
    return dir_.Path() + "ks_" + std::to_string(n) + "_1_18.jpg";
  }
  std::string Ok(int n) const { return Path(n) + ":" + Url(n) + " ->OK"; }

  RedownloadResult Run(RedownloadOptions options,
                       const StopFlag *stop = nullptr) {
    std::string text;
    for (size_t n = 0; n < answers_.size(); ++n)
      text +=
          Path(static_cast<int>(n)) + "|" + Url(static_cast<int>(n)) + "\r\n";
    WorkerWriteFile(dir_.Path() + "t_failed.ftl", text);
    options.ConnectTimeout = options.NoDataTimeout = milliseconds(2000);
    return RedownloadRun(std::move(options))
        .Run(
            dir_.Path() + "t_failed.ftl",
            [this](const std::string &l) { lines_.push_back(l); }, stop);
  }

  WorkerTempDir dir_;
  std::vector<std::vector<HttpResponse>> answers_;
  std::unique_ptr<WorkerTileServer> server_;
  Lines lines_;
  const std::string jpeg_ = WorkerJpeg();
};

TEST_F(RedownloadPaceTest, ARefusalPausesTheRunAndAsksAgain) {
  const FastPaceClock clock(50);
  const HttpResponse ok = WorkerOk(jpeg_);
  const HttpResponse e503 = WorkerStatus(503, "Service Unavailable");
  struct Row {
    const char *what;
    std::vector<std::vector<HttpResponse>> answers;
    std::vector<std::string> middle; // lines between "Start..." and the end
  } rows[] = {
      {"429, then the tile",
       {{Later(429, "Too Many Requests", "1"), ok}, {ok}},
       {"Paused by the server for 1 s (429 Too Many Requests)", "{ok0}",
        "{ok1}"}},
      {"503 with Retry-After pauses, without it fails as before",
       {{Later(503, "Service Unavailable", "2"), e503}, {ok}},
       {"Paused by the server for 2 s (503 Service Unavailable)",
        "503 Service Unavailable->{url0}", "{ok1}"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    lines_.clear();
    Serve(row.answers);
    RedownloadOptions o;
    o.Clock = &clock;
    Run(o);
    Lines want{"Start..."};
    for (std::string line : row.middle) {
      for (int n : {0, 1}) {
        const std::string ok = "{ok" + std::to_string(n) + "}";
        const std::string url = "{url" + std::to_string(n) + "}";
        if (line == ok)
          line = Ok(n);
        if (const size_t at = line.find(url); at != std::string::npos)
          line.replace(at, url.size(), Url(n));
      }
      want.push_back(line);
    }
    want.push_back("Download End.");
    EXPECT_EQ(lines_, want);
  }
}

TEST_F(RedownloadPaceTest, RefusalsForHalfAnHourStopTheRunAsABan) {
  const FastPaceClock clock(3000);
  Serve({{Later(429, "Too Many Requests", nullptr)}, {WorkerOk(jpeg_)}});
  RedownloadOptions o;
  o.Clock = &clock;
  const RedownloadResult r = Run(o);
  ASSERT_GE(lines_.size(), 5u);
  const Lines tail(lines_.end() - 3, lines_.end());
  EXPECT_EQ(tail, (Lines{"429 Too Many Requests->" + Url(0),
                         std::string(kBannedMessage), "Download End."}));
  EXPECT_TRUE(r.EndedByFailure);
  EXPECT_EQ(server_->Count(WorkerTarget(Url(1))), 0);
  EXPECT_FALSE(WorkerFileExists(Path(0)));
}

TEST_F(RedownloadPaceTest, TheCapSpacesTheRequests) {
  Serve(std::vector<std::vector<HttpResponse>>(6, {WorkerOk(jpeg_)}));
  RedownloadOptions o;
  o.MaxRate = 20;
  const auto begun = Clock::now();
  const RedownloadResult r = Run(o);
  EXPECT_EQ(r.Succeeded, 6);
  // Six requests at most 20 a second: five gaps of 50 ms.
  EXPECT_GE(Clock::now() - begun, milliseconds(5 * 50 - 5));
}

TEST_F(RedownloadPaceTest, AStopEndsAPauseAtOnce) {
  Serve({{Later(429, "Too Many Requests", "600")}, {WorkerOk(jpeg_)}});
  StopFlag stop;
  std::thread stopper([&stop] {
    std::this_thread::sleep_for(milliseconds(100));
    stop.Request();
  });
  const auto begun = Clock::now();
  const RedownloadResult r = Run(RedownloadOptions{}, &stop);
  stopper.join();
  EXPECT_LT(Clock::now() - begun, std::chrono::seconds(5));
  EXPECT_TRUE(r.StoppedByRequest);
  EXPECT_EQ(lines_,
            (Lines{"Start...",
                   "Paused by the server for 600 s (429 Too Many Requests)",
                   "Download End."}));
}

} // namespace
} // namespace kestrane
