#pragma once
#include <condition_variable>
#include <mutex>
#include <string_view>
#include <thread>

namespace kestrane {

// The image check of a re-downloaded body (BodyIsImage: a PNG, or a JPEG
// all of whose data decodes, made into an eighth-size picture) on a thread
// of its own, so that it runs while the body is written aside: the decoding
// and the file's creation then take the time of the longer one, not of
// both.
class ImageCheckThread {
public:
  ImageCheckThread();
  // Finishes a check under way, then ends the thread.
  ~ImageCheckThread();
  ImageCheckThread(const ImageCheckThread &) = delete;
  ImageCheckThread &operator=(const ImageCheckThread &) = delete;

  // Starts the check of `body`, which must stay as it is until Result has
  // returned. The check started before must have been taken.
  void Start(std::string_view body);
  // Waits for the check started last and takes its result; false when none
  // was started.
  bool Result();

private:
  void Loop();

  std::mutex mu_;
  std::condition_variable cv_;
  std::string_view body_; // read by the thread while working_
  bool working_ = false, done_ = false, ending_ = false, result_ = false;
  std::thread thread_;
};

} // namespace kestrane
