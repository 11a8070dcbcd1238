#pragma once
// Clocks for the server's pace in tests: one that runs faster than real
// time, so that pauses of seconds or minutes take milliseconds while the
// workers run on real threads, and one that moves only when slept on.
#include <chrono>
#include <thread>

#include "worker/ServerPace.h"

namespace kestrane::test {

class FastPaceClock final : public PaceClock {
public:
  explicit FastPaceClock(double speed)
      : speed_(speed), origin_(std::chrono::steady_clock::now()) {}
  time_point Now() const override {
    const auto real = std::chrono::steady_clock::now() - origin_;
    return origin_ + std::chrono::duration_cast<duration>(real * speed_);
  }
  void SleepFor(duration d) const override {
    std::this_thread::sleep_for(
        std::chrono::duration_cast<duration>(d / speed_));
  }
  // The real time a span of this clock takes.
  std::chrono::milliseconds Real(duration d) const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d / speed_);
  }

private:
  double speed_;
  time_point origin_;
};

// For one thread: Now stands still until SleepFor or Advance moves it.
class ManualPaceClock final : public PaceClock {
public:
  time_point Now() const override { return now_; }
  void SleepFor(duration d) const override { now_ += d; }
  void Advance(duration d) { now_ += d; }

private:
  mutable time_point now_ = time_point() + std::chrono::hours(1);
};

} // namespace kestrane::test
