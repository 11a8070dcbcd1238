#include "control/PositionSaver.h"

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Ini.h"

namespace kestrane {

PositionSaver::PositionSaver(bool background) : background_(background) {}

PositionSaver::~PositionSaver() {
  if (!thread_.joinable())
    return;
  {
    std::lock_guard<std::mutex> lock(mu_);
    quit_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

std::optional<std::string> PositionSaver::Run(const Job &job) {
  // A recorded position must never stand for a tile that a power cut could
  // still take back: the tiles reach the disk before the file names them.
  // When the sync fails the positions stay as they were (a later run
  // fetches those tiles again) and the failure is reported.
  if (!SyncFileSystem(job.TileFolder))
    return "cannot flush the tiles in " + job.TileFolder +
           " to the disk; the positions stay as they were";
  try {
    IniFile(job.ProjectFile).WriteStrings("THREADS", job.Values);
  } catch (const KError &e) {
    return std::string(e.what());
  }
  return std::nullopt;
}

void PositionSaver::Submit(std::string projectFile, std::string tileFolder,
                           Keys keys) {
  Job job{std::move(projectFile), std::move(tileFolder), std::move(keys)};
  if (!background_) {
    if (auto e = Run(job))
      error_ = std::move(e);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    pending_ = std::move(job);
    if (!thread_.joinable())
      thread_ = std::thread([this] { Loop(); });
  }
  cv_.notify_all();
}

void PositionSaver::Loop() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    cv_.wait(lock, [this] { return quit_ || pending_.has_value(); });
    if (!pending_)
      return; // quit with nothing left to write
    Job job = std::move(*pending_);
    pending_.reset();
    busy_ = true;
    lock.unlock();
    std::optional<std::string> e = Run(job);
    lock.lock();
    busy_ = false;
    if (e)
      error_ = std::move(e);
    cv_.notify_all();
  }
}

void PositionSaver::Flush() {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [this] { return !pending_ && !busy_; });
}

std::optional<std::string> PositionSaver::TakeError() {
  std::lock_guard<std::mutex> lock(mu_);
  std::optional<std::string> e = std::move(error_);
  error_.reset();
  return e;
}

} // namespace kestrane
