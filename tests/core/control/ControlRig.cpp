#include "tests/core/control/ControlRig.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/Files.h"

namespace kestrane::controltest {

namespace fs = std::filesystem;

const Area kOneTile{"116.25", "116.25", "39.9", "39.9", "13"};
const Area kThreeTiles{"116.25", "116.2525", "39.9", "39.9", "18"};
const Area kTwelveTiles{"116.25", "116.265", "39.9", "39.9", "18"};
const Area kTileX5Y0{"50", "50", "-84", "-84", "3"};

std::string Slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

void Put(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool PaneHas(const TaskControl &c, const std::string &line) {
  for (const auto &l : c.LogPane())
    if (l == line)
      return true;
  return false;
}

std::vector<std::string> Names(const std::string &folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto &e : fs::directory_iterator(folder, ec))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> FileLines(const std::string &path) {
  if (!FileExists(path))
    return {};
  return ReadLines(path);
}

GatedTileServer::GatedTileServer()
    : jpeg_(Slurp(std::string(KESTRANE_BUNDLE_DIR) + "blankimg/blank180.jpg")) {
  HttpServerOptions options;
  options.RecordRequests = false;
  server_ = std::make_unique<HttpServer>(
      [this](const HttpRequest &request) {
        ++requests_;
        std::unique_lock<std::mutex> lock(mu_);
        if (!open_ && request.IndexOnConnection >= holdFrom_) {
          ++waiting_;
          cv_.wait(lock, [this] { return open_; });
          --waiting_;
        }
        return HttpResponse::Make(200, "OK", jpeg_, "image/jpeg");
      },
      options);
}

GatedTileServer::~GatedTileServer() {
  Open();
  server_->Stop();
}

void GatedTileServer::Close(uint32_t fromRequest) {
  std::lock_guard<std::mutex> lock(mu_);
  open_ = false;
  holdFrom_ = fromRequest;
}

void GatedTileServer::Open() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    open_ = true;
  }
  cv_.notify_all();
}

ControlRig::ControlRig(char decimalSeparator, const std::string &extraSettings,
                       bool backgroundPositions, bool backgroundEndCount) {
  CreateDir(dir_.Path() + "ini");
  const std::string host = "127.0.0.1:" + std::to_string(Server.Port());
  Put(dir_.Path() + "ini/config.ini",
      "[TileService]\r\nHost0=" + host + "\r\nHost1=" + host +
          "\r\nHost2=" + host + "\r\nHost3=" + host + "\r\n" + extraSettings);
  TaskControlEnv env;
  env.SettingsPath = dir_.Path() + "ini/config.ini";
  env.ProgramFolder = KESTRANE_BUNDLE_DIR;
  env.DecimalSeparator = decimalSeparator;
  env.Now = [this] { return Now; };
  env.Messages = &Sink;
  env.Bridge = &Queue;
  env.View = &View;
  env.SavePositionsInBackground = backgroundPositions;
  env.EndInventoryInBackground = backgroundEndCount;
  const std::chrono::milliseconds ms(1);
  env.Pacing.AfterStored = ms;
  env.Pacing.StartOffset = ms;
  env.Pacing.ShortRetry = ms;
  env.Pacing.LongRetry = ms;
  env.Pacing.ConnectTimeout = std::chrono::milliseconds(5000);
  env.Pacing.NoDataTimeout = std::chrono::milliseconds(30000);
  control_ = std::make_unique<TaskControl>(env);
}

ControlRig::~ControlRig() {
  Server.Open();
  if (control_->TimerEnabled()) {
    control_->Stop();
    RunToEnd();
  }
  control_.reset();
}

TaskFields ControlRig::Fields(const Area &area, const std::string &taskName) {
  TaskFields f;
  f.TaskName = taskName;
  f.Left = area.Left;
  f.Right = area.Right;
  f.Top = area.Top;
  f.Bottom = area.Bottom;
  f.Zoom = area.Zoom;
  f.DirIndex = 0;
  f.Path = Out();
  return f;
}

bool ControlRig::DrainUntil(const std::function<bool()> &pred) {
  const auto limit =
      std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > limit)
      return false;
    Queue.DrainFor(std::chrono::milliseconds(2));
  }
  return true;
}

bool ControlRig::WaitWorkersDone() {
  return DrainUntil([this] { return control_->RunningThreads() == 0; });
}

int ControlRig::RunToEnd() {
  int ticks = 0;
  if (!WaitWorkersDone())
    return -1;
  while (control_->TimerEnabled() && ticks < 100) {
    control_->Tick();
    ++ticks;
  }
  return ticks;
}

void ControlRig::Ticks(int n) {
  for (int i = 0; i < n; ++i)
    control_->Tick();
}

} // namespace kestrane::controltest
