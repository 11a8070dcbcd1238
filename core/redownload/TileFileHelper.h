#pragma once
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/Files.h"

namespace kestrane {

// The slow parts of storing a re-downloaded tile, on a thread of its own:
// the tile's file is prepared (its temporary file created beside it, which
// a busy file system makes the costly part of a small write) while the
// tile's request is on its way, and the body's image check (a PNG, or a
// JPEG all of whose data decodes, made into an eighth-size picture) runs
// while the body is written. The run's own path keeps the write of the
// bytes and the rename.
class TileFileHelper {
public:
  TileFileHelper();
  // Ends the thread after the job under way; a prepared write not taken
  // leaves nothing behind.
  ~TileFileHelper();
  TileFileHelper(const TileFileHelper &) = delete;
  TileFileHelper &operator=(const TileFileHelper &) = delete;

  // Starts preparing the write of `path`; a write prepared before and not
  // taken is dropped.
  void Prepare(const std::string &path);
  // Waits for the write prepared last and takes it; null when none was
  // asked for (or it could not be made).
  std::unique_ptr<PreparedWrite> TakePrepared();

  // Starts the image check of `body`, which must stay as it is until
  // CheckResult has returned.
  void StartCheck(std::string_view body);
  // Waits for the check started last and takes its result; false when none
  // was started.
  bool CheckResult();

private:
  void Loop();
  void RunPrepare(std::unique_lock<std::mutex> &lock);
  void RunCheck(std::unique_lock<std::mutex> &lock);

  std::mutex mu_;
  std::condition_variable cv_;
  // Guarded by mu_: the jobs asked for, their state and results.
  std::optional<std::string> preparePath_;
  bool preparing_ = false;
  std::unique_ptr<PreparedWrite> prepared_, dropped_;
  std::optional<std::string_view> checkBody_;
  bool checking_ = false, checked_ = false, isImage_ = false;
  bool ending_ = false;
  std::thread thread_;
};

} // namespace kestrane
