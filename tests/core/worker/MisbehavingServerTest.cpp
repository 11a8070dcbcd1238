// A download worker against servers that misbehave on purpose: answers that
// never end, servers that never answer, redirects in a loop, a success that
// announces gigabytes. Each must end in a row of the failure classification
// within the client's time-outs, with memory bounded by the body maximum,
// and the worker must reach its "Finished." line.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sample/HttpServer.h"
#include "task/DownloadTask.h"
#include "task/TaskFiles.h"
#include "tests/support/WorkerFixtures.h"
#include "worker/DownloadWorker.h"
#include "worker/TileHttp.h"

namespace kestrane {
namespace {

using namespace test;

// Time-outs short enough for a quick test; the outcome is what is checked,
// never how long it took.
WorkerPacing HostilePacing() {
  WorkerPacing p = WorkerShortPacing();
  p.ConnectTimeout = std::chrono::milliseconds(1000);
  p.NoDataTimeout = std::chrono::milliseconds(300);
  p.RequestTimeout = std::chrono::milliseconds(2000);
  return p;
}

// The peak resident size of this process so far, in KiB.
long PeakRssKiB() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

// A socket that listens and never accepts: the kernel completes the
// connection, and then nothing ever comes.
class DeafListener {
public:
  DeafListener() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        listen(fd_, 64) == 0) {
      socklen_t len = sizeof a;
      getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
      port_ = ntohs(a.sin_port);
    }
  }
  ~DeafListener() { close(fd_); }
  uint16_t Port() const { return port_; }

private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// A server that answers 200 without a length and then sends one body byte
// every 50 ms for as long as the client listens: never silent long enough
// for the no-data time-out, and 16 MiB away from the body maximum.
class TrickleServer {
public:
  TrickleServer() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        listen(fd_, 16) != 0)
      return;
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~TrickleServer() {
    stop_ = true;
    shutdown(fd_, SHUT_RDWR);
    close(fd_);
    if (thread_.joinable())
      thread_.join();
  }
  uint16_t Port() const { return port_; }

private:
  void Run() {
    while (!stop_) {
      int c = accept(fd_, nullptr, nullptr);
      if (c < 0)
        return;
      char buf[4096];
      (void)recv(c, buf, sizeof buf, 0);
      const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\n"
                               "Connection: close\r\n\r\n";
      bool open = send(c, head.data(), head.size(), MSG_NOSIGNAL) > 0;
      while (open && !stop_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        open = send(c, "x", 1, MSG_NOSIGNAL) == 1;
      }
      close(c);
    }
  }
  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

enum class Outcome {
  GiveUpRecorded, // failure line, record, placeholder, next tile
  EndsNetwork,    // failure line, record, network message, worker ends
  EndsBanned,     // failure line, record, IP message, worker ends
};

struct HostileCase {
  const char *name;
  std::function<HttpResponse(const std::string &target)> answer;
  Outcome outcome;
  const char *failureText; // start of the failure text in the failure line
};

HttpResponse Endless(bool chunked) {
  HttpResponse r = HttpResponse::Make(200, "OK", std::string(65536, 'x'));
  r.Fault = HttpFault::EndlessBody;
  r.Chunked = chunked;
  r.ChunkSize = chunked ? 8192 : 0;
  r.ContentLength = false;
  return r;
}

const std::vector<HostileCase> &Cases() {
  static const std::vector<HostileCase> cases = {
      // A body without a length that never ends: an unbounded buffer would
      // grow until the machine runs out of memory.
      {"EndlessBodyUntilClose", [](auto &) { return Endless(false); },
       Outcome::GiveUpRecorded, "Response too large"},
      // The same in chunks: the chunk decoder must keep to the maximum too.
      {"EndlessChunkedBody", [](auto &) { return Endless(true); },
       Outcome::GiveUpRecorded, "Response too large"},
      // Header lines without end: a client that buffers every header line
      // would never finish the head.
      {"EndlessHeaders",
       [](auto &) {
         HttpResponse r = HttpResponse::Make(200, "OK", "");
         r.Fault = HttpFault::EndlessHeaders;
         return r;
       },
       Outcome::GiveUpRecorded, ""},
      // Accepts, reads the request and never answers: without a no-data
      // time-out the worker would wait for ever.
      {"AcceptsAndNeverAnswers",
       [](auto &) {
         HttpResponse r = HttpResponse::Make(200, "OK", "never");
         r.DelayMs = 600000;
         return r;
       },
       Outcome::EndsNetwork, "Socket Error # 10060"},
      // Headers, then silence before the body.
      {"StallsAfterHeaders",
       [](auto &) {
         HttpResponse r = HttpResponse::Make(200, "OK", "late body");
         r.Fault = HttpFault::StallAfterHeaders;
         r.StallMs = 600000;
         return r;
       },
       Outcome::EndsNetwork, "Socket Error # 10060"},
      // A redirect to itself: following it would loop for ever; it is the
      // banned-address sign and ends the worker after three requests.
      {"RedirectLoop302",
       [](const std::string &target) {
         HttpResponse r = HttpResponse::Make(302, "Found", "");
         r.Headers.push_back({"Location", target});
         return r;
       },
       Outcome::EndsBanned, "302 Found"},
      // A permanent redirect loop: a plain failure of the last row.
      {"RedirectLoop301",
       [](const std::string &target) {
         HttpResponse r = HttpResponse::Make(301, "Moved Permanently", "");
         r.Headers.push_back({"Location", target});
         return r;
       },
       Outcome::GiveUpRecorded, "301 Moved Permanently"},
      // A success that announces 5 GB and then sends without end: refused
      // from the announcement, before the body fills memory.
      {"HugeContentLength",
       [](auto &) {
         HttpResponse r = Endless(false);
         r.Headers.push_back({"Content-Length", "5000000000"});
         return r;
       },
       Outcome::GiveUpRecorded, "Response too large"},
  };
  return cases;
}

class MisbehavingServerTest : public ::testing::TestWithParam<HostileCase> {
protected:
  static void SetUpTestSuite() { HttpGlobalInit(); }
};

TEST_P(MisbehavingServerTest, EndsInItsFailureRowWithMemoryBounded) {
  const HostileCase &c = GetParam();
  WorkerTileServer server(
      [&c](const HttpRequest &req, int) { return c.answer(req.Target); });
  WorkerTempDir dir;
  TaskParameters params =
      WorkerBlock(dir.Path(), kWorkerX0, 1, kWorkerY0, 1, 1);
  DownloadTask task(params, WorkerEnvironment(server.Hosts()));
  CreateTileFolder(task);
  const std::string url = task.TileUrl(kWorkerX0, kWorkerY0);
  const std::string path = task.TilePath(kWorkerX0, kWorkerY0);

  const long rssBefore = PeakRssKiB();
  WorkerRecorder host;
  ASSERT_TRUE(
      WorkerRun(task, 1, host, HostilePacing(), {}, std::chrono::seconds(60)))
      << "the worker did not end";
  const long grownMiB = (PeakRssKiB() - rssBefore) / 1024;
  server.Server().Stop();

  // Three attempts, whatever the kind: no loop of redirects or retries.
  EXPECT_EQ(server.Count(WorkerTarget(url)), 3);
  // The body maximum is 16 MiB; the buffer may double once while it grows
  // and the sanitizers' quarantine keeps freed blocks for a while.
  EXPECT_LT(grownMiB, 512) << "memory grew by " << grownMiB << " MiB";

  ASSERT_FALSE(host.Log.empty());
  EXPECT_EQ(host.Log.back(), "T1 Finished.");
  const std::string failureLine = "T1 " + std::string(c.failureText);
  size_t failures = 0;
  for (const std::string &line : host.Log)
    if (line.rfind(failureLine, 0) == 0 && line.size() >= url.size() + 2 &&
        line.compare(line.size() - url.size() - 2, std::string::npos,
                     "->" + url) == 0)
      ++failures;
  EXPECT_EQ(failures, 1u) << "one failure line at the limit";
  ASSERT_EQ(host.Failed.size(), 1u);
  EXPECT_EQ(host.Failed[0], path + "|" + url);

  const std::string blank = "T1:" + std::to_string(kWorkerX0) + "-" +
                            std::to_string(kWorkerY0) + " got a blank image!";
  auto has = [&](const std::string &s) {
    for (const std::string &line : host.Log)
      if (line == s)
        return true;
    return false;
  };
  switch (c.outcome) {
  case Outcome::GiveUpRecorded:
    EXPECT_TRUE(has(blank));
    EXPECT_EQ(WorkerReadFile(path), WorkerBlankBytes());
    break;
  case Outcome::EndsNetwork:
    EXPECT_TRUE(has("Error: Your network has problem, please check it."));
    EXPECT_FALSE(WorkerFileExists(path));
    break;
  case Outcome::EndsBanned:
    EXPECT_TRUE(
        has("Error: may be your IP is banned.\nPlease try again later."));
    EXPECT_FALSE(WorkerFileExists(path));
    break;
  }
  // Nothing but the placeholder, if any: no side file, no temporary file.
  for (const std::string &name : WorkerFolderNames(task.TileFolder))
    EXPECT_EQ(name, task.TileFileName(kWorkerX0, kWorkerY0));
}

INSTANTIATE_TEST_SUITE_P(Servers, MisbehavingServerTest,
                         ::testing::ValuesIn(Cases()),
                         [](const auto &info) { return info.param.name; });

// A port where the connection is made by the kernel and never accepted:
// the no-data time-out ends each attempt, and the worker ends as for a
// network failure.
TEST(ServerTimeOutTest, NeverAcceptedConnectionEndsTheWorker) {
  HttpGlobalInit();
  DeafListener deaf;
  ASSERT_NE(deaf.Port(), 0);
  WorkerTempDir dir;
  TaskParameters params =
      WorkerBlock(dir.Path(), kWorkerX0, 1, kWorkerY0, 1, 1);
  const std::string host = "127.0.0.1:" + std::to_string(deaf.Port());
  DownloadTask task(params, WorkerEnvironment({host, host, host, host}));
  CreateTileFolder(task);
  WorkerRecorder rec;
  ASSERT_TRUE(
      WorkerRun(task, 1, rec, HostilePacing(), {}, std::chrono::seconds(60)));
  ASSERT_GE(rec.Log.size(), 3u);
  EXPECT_EQ(rec.Log.back(), "T1 Finished.");
  EXPECT_EQ(rec.Log[rec.Log.size() - 2],
            "Error: Your network has problem, please check it.");
  EXPECT_EQ(rec.Failed.size(), 1u);
}

// A body that trickles in without end keeps the no-data watch quiet: the
// deadline for the whole request ends it, as a time-out.
TEST(ServerTimeOutTest, TricklingBodyEndsWithinADeadline) {
  HttpGlobalInit();
  TrickleServer trickle;
  ASSERT_NE(trickle.Port(), 0);
  WorkerTempDir dir;
  TaskParameters params =
      WorkerBlock(dir.Path(), kWorkerX0, 1, kWorkerY0, 1, 1);
  const std::string host = "127.0.0.1:" + std::to_string(trickle.Port());
  DownloadTask task(params, WorkerEnvironment({host, host, host, host}));
  CreateTileFolder(task);
  WorkerRecorder rec;
  EXPECT_TRUE(
      WorkerRun(task, 1, rec, HostilePacing(), {}, std::chrono::seconds(30)))
      << "the worker was still receiving after 30 s";
  ASSERT_FALSE(rec.Log.empty());
  EXPECT_EQ(rec.Log.back(), "T1 Finished.");
}

} // namespace
} // namespace kestrane
