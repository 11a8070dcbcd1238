#include "tests/support/WorkerFixtures.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "geo/TileGrid.h"

namespace kestrane::test {

std::vector<std::string> WorkerFolderNames(const std::string &folder) {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string WorkerReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

void WorkerWriteFile(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool WorkerFileExists(const std::string &path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

WorkerTileServer::WorkerTileServer(Script script, int addresses)
    : script_(std::move(script)), addresses_(addresses) {
  HttpServerOptions options;
  options.Addresses.clear();
  for (int i = 1; i <= addresses; ++i)
    options.Addresses.push_back("127.0.0." + std::to_string(i));
  server_ = std::make_unique<HttpServer>(
      [this](const HttpRequest &req) {
        int nth = 0;
        {
          std::lock_guard<std::mutex> lock(mu_);
          nth = ++counts_[req.Target];
          if (nth == 1) {
            firstSeen_[req.Target] = std::chrono::steady_clock::now();
            order_.push_back(req.Target);
          }
        }
        return script_(req, nth);
      },
      options);
}

TileHosts WorkerTileServer::Hosts() const {
  TileHosts hosts;
  for (int s = 0; s < 4; ++s)
    hosts[static_cast<size_t>(s)] = "127.0.0." +
                                    std::to_string(1 + s % addresses_) + ":" +
                                    std::to_string(server_->Port());
  return hosts;
}

int WorkerTileServer::Count(const std::string &target) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = counts_.find(target);
  return it == counts_.end() ? 0 : it->second;
}

int WorkerTileServer::TotalRequests() const {
  std::lock_guard<std::mutex> lock(mu_);
  int total = 0;
  for (const auto &kv : counts_)
    total += kv.second;
  return total;
}

std::vector<std::string> WorkerTileServer::Targets() const {
  std::lock_guard<std::mutex> lock(mu_);
  return order_;
}

std::chrono::steady_clock::time_point
WorkerTileServer::FirstSeen(const std::string &target) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = firstSeen_.find(target);
  return it == firstSeen_.end() ? std::chrono::steady_clock::time_point{}
                                : it->second;
}

std::string WorkerTarget(const std::string &url) {
  const size_t scheme = url.find("://");
  const size_t slash =
      url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  return slash == std::string::npos ? "/" : url.substr(slash);
}

HttpResponse WorkerOk(const std::string &body) {
  return HttpResponse::Make(200, "OK", body, "image/jpeg");
}

HttpResponse WorkerStatus(int status, const std::string &reason,
                          const std::string &body) {
  return HttpResponse::Make(status, reason, body, "text/html");
}

HttpResponse WorkerFault(HttpFault fault) {
  HttpResponse r;
  r.Fault = fault;
  return r;
}

TaskParameters WorkerBlock(const std::string &folder, int32_t x0, int32_t nx,
                           int32_t y0, int32_t ny, int32_t threads) {
  constexpr int32_t z = 18;
  auto midX = [](int32_t x) {
    return (TileXToLongitude(x, z) + TileXToLongitude(x + 1, z)) / 2;
  };
  auto midY = [](int32_t y) {
    return (TileYToLatitude(y, z) + TileYToLatitude(y + 1, z)) / 2;
  };
  TaskParameters p;
  p.LeftLongitude = midX(x0);
  p.RightLongitude = midX(x0 + nx - 1);
  p.BottomLatitude = midY(y0);
  p.TopLatitude = midY(y0 + ny - 1);
  p.Zoom = z;
  p.Dir = 0;
  p.ThreadCount = threads;
  p.Path = folder;
  p.TaskFileName = "t.ktsk";
  return p;
}

TaskEnvironment WorkerEnvironment(const TileHosts &hosts) {
  TaskEnvironment env;
  env.Hosts = hosts;
  env.ProgramFolder = KESTRANE_BUNDLE_DIR;
  return env;
}

std::vector<std::string> WorkerRecorder::LinesOf(int n) const {
  const std::string prefix = "T" + std::to_string(n);
  std::vector<std::string> out;
  for (const std::string &line : Log)
    if (line.rfind(prefix, 0) == 0 && line.size() > prefix.size() &&
        (line[prefix.size()] == ':' || line[prefix.size()] == ' '))
      out.push_back(line);
  return out;
}

WorkerPacing WorkerShortPacing() {
  WorkerPacing p;
  p.AfterStored = std::chrono::milliseconds(1);
  p.StartOffset = std::chrono::milliseconds(2);
  p.ShortRetry = std::chrono::milliseconds(1);
  p.LongRetry = std::chrono::milliseconds(2);
  p.ConnectTimeout = std::chrono::milliseconds(5000);
  p.NoDataTimeout = std::chrono::milliseconds(5000);
  return p;
}

bool WorkerRun(
    const DownloadTask &task, int count, WorkerRecorder &host,
    WorkerPacing pacing,
    const std::function<void(std::vector<std::unique_ptr<DownloadWorker>> &)>
        &onDrain,
    std::chrono::seconds limit) {
  MainThreadQueue queue;
  const int doneBefore = host.Done;
  std::vector<std::unique_ptr<DownloadWorker>> threads;
  for (int i = 0; i < count; ++i)
    threads.push_back(
        std::make_unique<DownloadWorker>(false, task, i, queue, host, pacing));
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (host.Done - doneBefore < count &&
         std::chrono::steady_clock::now() < deadline) {
    queue.DrainFor(std::chrono::milliseconds(2));
    if (onDrain)
      onDrain(threads);
  }
  const bool inTime = host.Done - doneBefore >= count;
  if (!inTime) {
    // Let the workers end so the threads can be joined.
    for (auto &t : threads)
      t->Terminate();
    while (host.Done - doneBefore < count)
      queue.DrainFor(std::chrono::milliseconds(10));
  }
  queue.DrainPending();
  threads.clear();
  return inTime;
}

} // namespace kestrane::test
