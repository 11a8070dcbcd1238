#include "redownload/TileFileHelper.h"

#include "tile/TileCheck.h"

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

void TileFileHelper::Prepare(const std::string &path) {
  {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [this] { return !preparing_; });
    // An earlier write that no body came for is removed on the thread too.
    if (prepared_)
      dropped_ = std::move(prepared_);
    preparePath_ = path;
    preparing_ = true;
  }
  cv_.notify_all();
}

std::unique_ptr<PreparedWrite> TileFileHelper::TakePrepared() {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [this] { return !preparing_; });
  return std::move(prepared_);
}

void TileFileHelper::StartCheck(std::string_view body) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    checkBody_ = body;
    checking_ = true;
    checked_ = false;
  }
  cv_.notify_all();
}

bool TileFileHelper::CheckResult() {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [this] { return !checking_; });
  const bool result = checked_ && isImage_;
  checked_ = false;
  return result;
}

void TileFileHelper::Loop() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    cv_.wait(lock, [this] {
      return ending_ || checkBody_ || preparePath_ || dropped_;
    });
    if (ending_)
      return;
    // A check holds up the run's store; a preparation only the next one.
    if (checkBody_)
      RunCheck(lock);
    else if (preparePath_)
      RunPrepare(lock);
    else if (std::unique_ptr<PreparedWrite> dropped = std::move(dropped_)) {
      lock.unlock();
      dropped.reset(); // removes its temporary file
      lock.lock();
    }
  }
}

void TileFileHelper::RunPrepare(std::unique_lock<std::mutex> &lock) {
  const std::string path = std::move(*preparePath_);
  preparePath_.reset();
  lock.unlock();
  std::unique_ptr<PreparedWrite> write;
  try {
    write = std::make_unique<PreparedWrite>(path);
  } catch (...) {
    // Out of memory: the run prepares the write itself, and says so.
  }
  lock.lock();
  prepared_ = std::move(write);
  preparing_ = false;
  cv_.notify_all();
}

void TileFileHelper::RunCheck(std::unique_lock<std::mutex> &lock) {
  const std::string_view body = *checkBody_;
  checkBody_.reset();
  lock.unlock();
  bool isImage = false;
  try {
    // Whether the body decodes, not its picture: an eighth of it tells.
    isImage = BodyIsImage(body, JpegPicture::Eighth);
  } catch (...) {
    // Out of memory while decoding: no image that can be told apart.
  }
  lock.lock();
  isImage_ = isImage;
  checked_ = true;
  checking_ = false;
  cv_.notify_all();
}

} // namespace kestrane
