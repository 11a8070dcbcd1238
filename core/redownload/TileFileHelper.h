#pragma once
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace kestrane {

// The store of a re-downloaded tile on a thread of its own, so that it runs
// while the run's next request is on its way: the body's image check (a
// PNG, or a JPEG all of whose data decodes, made into an eighth-size
// picture) and, when it is an image, the atomic write of the tile's file
// (StoreTileFile, relative to the folder's handle). The run itself only hands
// the body over and later takes the outcome, which keeps its lines in the order
// of its records.
class TileFileHelper {
public:
  struct Outcome {
    bool IsImage = false; // the body is an image
    bool Written = false; // ... and the tile's file holds it
  };

  TileFileHelper();
  // Finishes the store under way, then ends the thread.
  ~TileFileHelper();
  TileFileHelper(const TileFileHelper &) = delete;
  TileFileHelper &operator=(const TileFileHelper &) = delete;

  // Starts the store of `body` as the file `name` of the folder held open
  // as `folderFd` (-1: none, the write fails); `body` is taken (swapped
  // with an empty string). The caller keeps the folder open until Finish.
  // The store started before must have been finished.
  void Start(int folderFd, const std::string &name, std::string &body);
  // Whether a store was started and not yet finished.
  bool Pending() const { return pending_; }
  // Waits for the store started last and gives its outcome; the body comes
  // back in `body` for the next request to reuse. Nothing when no store is
  // pending.
  std::optional<Outcome> Finish(std::string &body);

private:
  void Loop();

  std::mutex mu_;
  std::condition_variable cv_;
  // Guarded by mu_: the job and its state.
  int folderFd_ = -1;
  std::string name_, body_;
  bool working_ = false, ending_ = false;
  Outcome outcome_;
  bool pending_ = false; // the caller's side only
  std::thread thread_;
};

} // namespace kestrane
