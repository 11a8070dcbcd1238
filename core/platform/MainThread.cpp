#include "platform/MainThread.h"

namespace kestrane {

void MainThreadQueue::RunBlocking(const std::function<void()> &fn) {
  std::unique_lock<std::mutex> lock(mu_);
  if (drainer_ == std::this_thread::get_id()) {
    // Called from inside a queued call: waiting would wait for ourselves.
    lock.unlock();
    fn();
    return;
  }
  Call call{&fn, false, nullptr};
  calls_.push_back(&call);
  queued_.notify_all();
  finished_.wait(lock, [&call] { return call.done; });
  if (call.error)
    std::rethrow_exception(call.error);
}

size_t MainThreadQueue::RunQueued(std::unique_lock<std::mutex> &lock) {
  size_t count = 0;
  while (!calls_.empty()) {
    Call *call = calls_.front();
    calls_.pop_front();
    lock.unlock();
    std::exception_ptr error;
    try {
      (*call->fn)();
    } catch (...) {
      // The caller waits for this call; it must learn of the failure rather
      // than the draining thread dying of it.
      error = std::current_exception();
    }
    lock.lock();
    call->error = error;
    call->done = true;
    ++count;
    finished_.notify_all();
  }
  return count;
}

size_t MainThreadQueue::DrainFor(std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  std::unique_lock<std::mutex> lock(mu_);
  const std::thread::id previous = drainer_;
  drainer_ = std::this_thread::get_id();
  size_t count = 0;
  for (;;) {
    count += RunQueued(lock);
    // Checked after each round, so a steady stream of calls cannot keep the
    // drain from returning when its time is up.
    if (std::chrono::steady_clock::now() >= deadline)
      break;
    queued_.wait_until(lock, deadline, [this] { return !calls_.empty(); });
  }
  drainer_ = previous;
  return count;
}

size_t MainThreadQueue::DrainPending() {
  std::unique_lock<std::mutex> lock(mu_);
  const std::thread::id previous = drainer_;
  drainer_ = std::this_thread::get_id();
  size_t count = RunQueued(lock);
  drainer_ = previous;
  return count;
}

} // namespace kestrane
