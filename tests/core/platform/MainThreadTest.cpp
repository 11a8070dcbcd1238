#include "platform/MainThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace kestrane {
namespace {

using namespace std::chrono_literals;

TEST(MainThreadQueue, CallsFromTwoWorkersRunOnTheDrainingThread) {
  MainThreadQueue queue;
  const std::thread::id mainId = std::this_thread::get_id();
  const int kCalls = 200;
  int counter = 0; // no lock: only the draining thread touches it
  std::vector<std::thread::id> ranOn;
  std::atomic<int> finishedWorkers{0};
  std::atomic<int> returnedEarly{0};

  auto worker = [&] {
    for (int i = 0; i < kCalls; ++i) {
      bool ran = false;
      queue.RunBlocking([&] {
        ++counter;
        ranOn.push_back(std::this_thread::get_id());
        ran = true;
      });
      // RunBlocking returns only once the call has run.
      if (!ran)
        ++returnedEarly;
    }
    // The worker's last act, as a download worker lowers the running count.
    queue.RunBlocking([&] { ++finishedWorkers; });
  };
  std::thread a(worker);
  std::thread b(worker);
  size_t drained = 0;
  while (finishedWorkers.load() < 2)
    drained += queue.DrainFor(5ms);
  a.join();
  b.join();
  drained += queue.DrainPending();

  EXPECT_EQ(counter, 2 * kCalls);
  EXPECT_EQ(drained, static_cast<size_t>(2 * kCalls + 2));
  EXPECT_EQ(returnedEarly.load(), 0);
  for (const std::thread::id &id : ranOn)
    ASSERT_EQ(id, mainId) << "a call ran on the worker's own thread";
}

TEST(MainThreadQueue, DrainingAnEmptyQueueRunsNothing) {
  MainThreadQueue queue;
  EXPECT_EQ(queue.DrainPending(), 0u);
  EXPECT_EQ(queue.DrainFor(1ms), 0u);
}

TEST(MainThreadQueue, ExceptionReachesTheWaitingWorker) {
  MainThreadQueue queue;
  std::atomic<bool> caught{false};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    try {
      queue.RunBlocking([] { throw std::runtime_error("boom"); });
    } catch (const std::runtime_error &e) {
      caught = std::string(e.what()) == "boom";
    }
    done = true;
  });
  while (!done.load())
    queue.DrainFor(5ms); // the draining thread survives the throw
  worker.join();
  EXPECT_TRUE(caught.load());
}

TEST(MainThreadQueue, CallFromInsideAQueuedCallRunsAtOnce) {
  MainThreadQueue queue;
  std::atomic<int> inner{0};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    // Without the inline path the nested call would wait for the drain it
    // is part of, forever.
    queue.RunBlocking([&] { queue.RunBlocking([&] { ++inner; }); });
    done = true;
  });
  while (!done.load())
    queue.DrainFor(5ms);
  worker.join();
  EXPECT_EQ(inner.load(), 1);
}

} // namespace
} // namespace kestrane
