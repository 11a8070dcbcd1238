#pragma once
// The stop requests of the runs that can be stopped (a download's workers,
// an inventory, a re-download run, a join) and the stop signals of the
// command-line programs (kestrane-cli, tilejoin): SIGINT, SIGTERM and
// SIGHUP ask a run to end as Ctrl-C does.
#include <atomic>
#include <csignal>

namespace kestrane {

// A request to stop a run: set by a signal handler, a window's Stop button
// or the run's owner, and read by the run between its steps. Setting it is
// safe in a signal handler (the flag is lock-free); it carries no data, so
// the accesses need no ordering.
class StopFlag {
public:
  void Request() noexcept { requested_.store(true, std::memory_order_relaxed); }
  bool Requested() const noexcept {
    return requested_.load(std::memory_order_relaxed);
  }
  // Takes the request back: the next run of the same owner starts afresh.
  void Clear() noexcept { requested_.store(false, std::memory_order_relaxed); }

private:
  static_assert(std::atomic<bool>::is_always_lock_free);
  std::atomic<bool> requested_{false};
};

// Has SIGINT, SIGTERM and SIGHUP request a stop of the process's run and
// returns that request, cleared. `flags` are sigaction's: SA_RESETHAND lets
// a second signal end the process, SA_RESTART lets calls in progress go on.
// A signal whose handler cannot be installed is named on stderr ("Cannot
// catch signal 15: ..."); the run goes on, and that signal then ends the
// process as it would have.
StopFlag &StopOnSignals(int flags = 0);

} // namespace kestrane
