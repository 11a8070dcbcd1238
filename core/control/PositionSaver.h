#pragma once
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kestrane {

// Records the workers' positions in the project file. The positions are
// taken on the main thread; the waits for the disk (the tiles they name
// first, then the project file) happen here, on a thread of the saver's
// own, so the main thread's five-second save stays short however much the
// workers wrote since the last one.
class PositionSaver {
public:
  using Keys = std::vector<std::pair<std::string, std::string>>;

  // With `background` false every call does its work at once (tests, and a
  // program that prefers it).
  explicit PositionSaver(bool background);
  ~PositionSaver(); // finishes the pending job

  // Syncs the file system of `tileFolder`, then, when that succeeded, writes
  // `keys` into section
  // THREADS of `projectFile` in one replacement. A job that is still waiting
  // is replaced by the newer one: it holds every position of the older.
  void Submit(std::string projectFile, std::string tileFolder, Keys keys);
  // Waits until every submitted job is done.
  void Flush();
  // The failure text of a job done since the last call ("Unable to write to
  // ...", or "cannot flush the tiles in ... to the disk; the positions stay
  // as they were" when the sync failed and nothing was written), once.
  std::optional<std::string> TakeError();

private:
  struct Job {
    std::string ProjectFile, TileFolder;
    Keys Values;
  };
  static std::optional<std::string> Run(const Job &job);
  void Loop();

  const bool background_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::optional<Job> pending_;
  bool busy_ = false;
  bool quit_ = false;
  std::optional<std::string> error_;
  std::thread thread_;
};

} // namespace kestrane
