#include "redownload/ImageCheckThread.h"

#include "tile/TileCheck.h"

namespace kestrane {

ImageCheckThread::ImageCheckThread() : thread_([this] { Loop(); }) {}

ImageCheckThread::~ImageCheckThread() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    ending_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

void ImageCheckThread::Start(std::string_view body) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    body_ = body;
    working_ = true;
    done_ = false;
  }
  cv_.notify_all();
}

bool ImageCheckThread::Result() {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [this] { return done_ || !working_; });
  const bool result = done_ && result_;
  done_ = false;
  return result;
}

void ImageCheckThread::Loop() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    cv_.wait(lock, [this] { return working_ || ending_; });
    if (!working_)
      return;
    const std::string_view body = body_;
    lock.unlock();
    bool result = false;
    try {
      // Whether the body decodes, not its picture: an eighth of it tells.
      result = BodyIsImage(body, JpegPicture::Eighth);
    } catch (...) {
      // Out of memory while decoding: no image that can be told apart.
    }
    lock.lock();
    result_ = result;
    working_ = false;
    done_ = true;
    cv_.notify_all();
  }
}

} // namespace kestrane
