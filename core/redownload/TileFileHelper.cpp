#include "redownload/TileFileHelper.h"

#include "tile/TileCheck.h"
#include "tile/TileStore.h"

namespace kestrane {

TileFileHelper::TileFileHelper() : thread_([this] { Loop(); }) {}

TileFileHelper::~TileFileHelper() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    ending_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

void TileFileHelper::Start(int folderFd, const std::string &name,
                           std::string &body) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    folderFd_ = folderFd;
    name_ = name;
    body_.clear();
    body_.swap(body);
    outcome_ = Outcome{};
    working_ = true;
  }
  pending_ = true;
  cv_.notify_all();
}

std::optional<TileFileHelper::Outcome>
TileFileHelper::Finish(std::string &body) {
  if (!pending_)
    return std::nullopt;
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [this] { return !working_; });
  pending_ = false;
  body.clear();
  body.swap(body_);
  return outcome_;
}

void TileFileHelper::Loop() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    // A store under way is finished before the thread ends.
    cv_.wait(lock, [this] { return working_ || ending_; });
    if (!working_)
      return;
    lock.unlock();
    Outcome outcome;
    try {
      // Whether the body decodes, not its picture: an eighth of it tells.
      outcome.IsImage = BodyIsImage(body_, JpegPicture::Eighth);
      if (outcome.IsImage)
        outcome.Written =
            folderFd_ >= 0 && StoreTileFile(folderFd_, name_, body_);
    } catch (...) {
      // Out of memory: not stored, which the run reports as it does any
      // file it cannot write.
    }
    lock.lock();
    outcome_ = outcome;
    working_ = false;
    cv_.notify_all();
  }
}

} // namespace kestrane
