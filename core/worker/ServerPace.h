#pragma once
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <string>

#include "platform/StopSignal.h"

namespace kestrane {

// The time of the pace: the program's is the steady clock and real sleeps;
// tests pass one that runs faster, so minutes of pauses take milliseconds.
class PaceClock {
public:
  using time_point = std::chrono::steady_clock::time_point;
  using duration = std::chrono::steady_clock::duration;
  virtual ~PaceClock() = default;
  virtual time_point Now() const = 0;
  virtual void SleepFor(duration d) const = 0;
};
const PaceClock &SteadyPaceClock();

// What bounds the pace from above. 0 stands for no bound.
struct PaceLimits {
  // The user's cap, tiles a second for all requests together.
  double MaxRate = 0;
  // The most the requesters' own pauses allow (a task's workers: their
  // count over the pause after a stored tile): the pace probes no higher.
  double OwnRate = 0;
};

// The constants of the pace.
// - At a refusal the pace is set to kSettleShare of the rate the server
//   accepted over the last kRateWindow of open gate (counted over at least
//   kLeastRateSpan, so that the few answers before a first refusal do not
//   read as a burst rate).
// - While no refusal comes it rises by kProbeStep every kProbeEvery of open
//   gate, up to PaceLimits::OwnRate. The step that would pass kHoldShare of
//   the rate the server accepted when it last refused waits kProbeHold
//   more: the pace stays just below that rate for a while (with room for
//   requests that go a little late) before it tries above it.
// - Refusals for kGiveUpAfter with no tile stored in between end the run.
inline constexpr std::chrono::seconds kRateWindow{5};
inline constexpr std::chrono::seconds kLeastRateSpan{1};
inline constexpr double kSettleShare = 0.96;
inline constexpr std::chrono::seconds kProbeEvery{10};
inline constexpr double kProbeStep = 1.02;
inline constexpr std::chrono::seconds kProbeHold{60};
inline constexpr double kHoldShare = 0.98;
inline constexpr std::chrono::minutes kGiveUpAfter{30};

// The arithmetic of the pace, without a clock or a lock: every call names
// its time. One gate (closed while the server has paused the requests), one
// token bucket of one token (a request may go every 1/rate seconds), the
// rate's estimate and probe, and the watch for a server that refuses
// without end.
class PaceModel {
public:
  using time_point = PaceClock::time_point;
  using duration = PaceClock::duration;

  PaceModel(PaceLimits limits, time_point start);

  bool Closed(time_point t) const { return t < gateUntil_; }
  time_point OpensAt() const { return gateUntil_; }

  // The time at or after t at which the next request may go, taken from
  // the bucket. For an open gate.
  time_point TakeSlot(time_point t);

  // An answer that was no refusal, to a request sent at `sent`, came at t.
  void Answered(time_point sent, time_point t);
  // A tile was stored at t: the watch for endless refusals starts again.
  void Stored() { firstRefusal_.reset(); }

  enum class Effect {
    NewPause,  // the gate closes: log the pause
    SamePause, // a request sent before the gate closed: no new pause
    GiveUp,    // refusals for kGiveUpAfter with no tile stored: end
  };
  struct RefusalEffect {
    Effect Kind = Effect::NewPause;
    duration Pause{}; // of a new pause
  };
  // A refusal at t of a request sent at `sent`; `jitter` in -1..1 for a
  // pause without Retry-After.
  RefusalEffect Refused(time_point sent, time_point t,
                        const std::optional<std::chrono::seconds> &retryAfter,
                        double jitter);

  // The tiles a second the bucket gives at t: the pace after its probes,
  // within the cap; 0 when nothing limits.
  double RateAt(time_point t) const;
  // Whether a refusal has set the pace (the cap alone does not).
  bool Settled() const { return base_ > 0; }
  bool GivenUp() const { return givenUp_; }

private:
  // Seconds of open gate from the start to t.
  double OpenSeconds(time_point t) const;
  // The pace `elapsed` seconds of open gate after it was set.
  double Probed(double elapsed) const;
  // The answers in the last kRateWindow of open gate, a second, up to t.
  std::optional<double> AcceptedRate(time_point t);
  void Close(time_point t, duration pause);

  PaceLimits limits_;
  time_point start_;
  // The last closing of the gate and its end; the closings before it sum
  // to closedBefore_.
  time_point closedAt_, gateUntil_;
  duration closedBefore_{};
  int refusalsInRow_ = 0;
  // The pace before its probes (0: none set), the open time it was set,
  // and the rate the server accepted when it refused then.
  double base_ = 0;
  double baseOpen_ = 0;
  double refusedAt_ = 0;
  time_point nextSlot_;
  std::deque<double> answers_; // open seconds of the recent answers
  std::optional<time_point> firstRefusal_;
  bool givenUp_ = false;
};

// The pace of one task's workers (or of one re-download run): one object
// that every requester asks before each request, thread-safe. A refusal
// closes the gate for every requester; the pace then holds all of them
// together to the rate the server accepts, and the user's cap always.
class ServerPace {
public:
  using time_point = PaceClock::time_point;
  using duration = PaceClock::duration;

  explicit ServerPace(PaceLimits limits = {},
                      const PaceClock &clock = SteadyPaceClock());

  enum class Turn {
    Go,     // send the request now
    Stop,   // the stop flag was set while waiting: end, the tile open
    GiveUp, // the server has refused for kGiveUpAfter: end as on a ban
  };
  // When a request may go. Waits while the gate is closed and for the
  // bucket; looks at `stop` (may be null) only while it has to wait, so a
  // request that may go at once always goes. `sent` gets the time.
  Turn Wait(const StopFlag *stop, time_point &sent);

  void Answered(time_point sent);
  void Stored();
  // A refusal of the request sent at `sent`. `status` is kept for the
  // lines of the requesters that end on GiveUp (LastRefusal).
  PaceModel::RefusalEffect
  Refused(time_point sent,
          const std::optional<std::chrono::seconds> &retryAfter,
          const std::string &status);
  std::string LastRefusal() const;

  // For the progress display: how long the gate stays closed (nullopt when
  // open) and the rate the pace allows now (0: none in force).
  struct Shown {
    std::optional<duration> PausedFor;
    double Rate = 0;
    bool Settled = false; // see PaceModel::Settled
  };
  Shown Now() const;

private:
  const PaceClock &clock_;
  mutable std::mutex mu_;
  PaceModel model_;         // guarded by mu_
  std::mt19937_64 jitter_;  // guarded by mu_
  std::string lastRefusal_; // guarded by mu_
};

} // namespace kestrane
