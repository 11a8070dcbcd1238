#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sample/HttpServer.h"
#include "task/DownloadTask.h"
#include "worker/DownloadWorker.h"

#include "tests/support/TempDir.h"
#include "tests/support/TileBodies.h"

namespace kestrane::test {

// A fresh folder, removed with its content afterwards. Path() ends in "/".
using WorkerTempDir = ::kestrane::testing::TempDir;

// Sorted names in a folder (to see what a run left there).
std::vector<std::string> WorkerFolderNames(const std::string &folder);
std::string WorkerReadFile(const std::string &path);
void WorkerWriteFile(const std::string &path, const std::string &bytes);
bool WorkerFileExists(const std::string &path);

// The test tile server: answers each request by a script that sees the
// request and how many times its target has been asked for (1 for the
// first). Listens on 127.0.0.1 to 127.0.0.(addresses).
class WorkerTileServer {
public:
  using Script =
      std::function<HttpResponse(const HttpRequest &, int nthForTarget)>;
  explicit WorkerTileServer(Script script, int addresses = 1);

  HttpServer &Server() { return *server_; }
  uint16_t Port() const { return server_->Port(); }
  // The hosts for TaskEnvironment: four shard hosts on this server, spread
  // over its addresses.
  TileHosts Hosts() const;
  // Requests of one target so far (URL path with query).
  int Count(const std::string &target) const;
  int TotalRequests() const;
  // Targets in the order they were first asked for.
  std::vector<std::string> Targets() const;
  // When each target was first asked for.
  std::chrono::steady_clock::time_point
  FirstSeen(const std::string &target) const;

private:
  Script script_;
  int addresses_;
  mutable std::mutex mu_;
  std::map<std::string, int> counts_;
  std::map<std::string, std::chrono::steady_clock::time_point> firstSeen_;
  std::vector<std::string> order_;
  std::unique_ptr<HttpServer> server_;
};

// "/tiles/svi...?g=5340&dir=dir_n" of a URL "http://host:port/tiles/...".
std::string WorkerTarget(const std::string &url);

// Common answers.
HttpResponse WorkerOk(const std::string &body);
HttpResponse WorkerStatus(int status, const std::string &reason,
                          const std::string &body = "<html>error</html>");
HttpResponse WorkerFault(HttpFault fault);

// Task inputs for a block of nx columns by ny rows of tiles at zoom 18,
// with its lower left tile at (x0, y0); the edges lie inside the tiles.
TaskParameters WorkerBlock(const std::string &folder, int32_t x0, int32_t nx,
                           int32_t y0, int32_t ny, int32_t threads);
// The reference area of the tests: zoom 18 over -122.34..-122.33,
// 47.60..47.61 (9 columns from 41986, 12 rows from 170585).
constexpr int32_t kWorkerX0 = 41986;
constexpr int32_t kWorkerY0 = 170585;

TaskEnvironment WorkerEnvironment(const TileHosts &hosts);

// Records what the workers hand to the main thread. Called on the draining
// (test) thread only.
class WorkerRecorder : public WorkerHost {
public:
  void AddLogLine(const std::string &line) override { Log.push_back(line); }
  void AddFailedLine(const std::string &line) override {
    Failed.push_back(line);
  }
  void WorkerDone() override { ++Done; }

  // The log lines of one worker ("T" + n + ...), in order.
  std::vector<std::string> LinesOf(int n) const;

  std::vector<std::string> Log;
  std::vector<std::string> Failed;
  int Done = 0;
};

// Pauses short enough for tests; the order of events is what is checked.
WorkerPacing WorkerShortPacing();

// Starts `count` workers on the task with indexes 0..count-1, drains the
// queue on this thread until every one has called WorkerDone (at most
// `limit`), calling `onDrain` after each round, and releases them. Returns
// false when the limit passed first.
bool WorkerRun(
    const DownloadTask &task, int count, WorkerRecorder &host,
    WorkerPacing pacing = WorkerShortPacing(),
    const std::function<void(std::vector<std::unique_ptr<DownloadWorker>> &)>
        &onDrain = {},
    std::chrono::seconds limit = std::chrono::seconds(120));

} // namespace kestrane::test
