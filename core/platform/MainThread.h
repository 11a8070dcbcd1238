#pragma once
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace kestrane {

// The blocking call by which a worker runs a method on the main thread: the
// worker waits until the main thread has run it. The desktop program
// implements it with a blocking queued invocation; the command line and the
// tests with MainThreadQueue below.
class MainThreadBridge {
public:
  virtual ~MainThreadBridge() = default;
  virtual void RunBlocking(const std::function<void()> &fn) = 0;
};

// A queue that the main thread drains. RunBlocking may be called from any
// thread but the draining one (from inside a queued call it runs the call at
// once). An exception thrown by a queued call reaches the RunBlocking caller.
class MainThreadQueue : public MainThreadBridge {
public:
  void RunBlocking(const std::function<void()> &fn) override;

  // Runs every queued call, then waits up to `wait` for more and runs those,
  // returning when `wait` has passed. Returns the number of calls run.
  size_t DrainFor(std::chrono::milliseconds wait);
  // Runs what is queued now, without waiting.
  size_t DrainPending();

private:
  struct Call {
    const std::function<void()> *fn;
    bool done = false;
    std::exception_ptr error; // thrown by fn, rethrown to the caller
  };
  // Runs the calls queued now; the lock is held on entry and on return.
  size_t RunQueued(std::unique_lock<std::mutex> &lock);

  std::mutex mu_;
  std::condition_variable queued_;
  std::condition_variable finished_;
  std::deque<Call *> calls_;
  // The thread inside DrainFor/DrainPending, so that a call made from within
  // a queued call runs at once instead of waiting for itself.
  std::thread::id drainer_;
};

} // namespace kestrane
