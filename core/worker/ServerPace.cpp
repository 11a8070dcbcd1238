#include "worker/ServerPace.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "worker/Refusal.h"

namespace kestrane {

namespace {

using Seconds = std::chrono::duration<double>;

// A waiting requester looks at its stop flag this often.
constexpr std::chrono::milliseconds kWaitSlice{100};

// Past this many probes the pace has long left any real server behind.
constexpr double kMostProbes = 1000;

class SteadyClock final : public PaceClock {
public:
  time_point Now() const override { return std::chrono::steady_clock::now(); }
  void SleepFor(duration d) const override { std::this_thread::sleep_for(d); }
};

double SecondsOf(PaceClock::duration d) {
  return std::chrono::duration_cast<Seconds>(d).count();
}

} // namespace

const PaceClock &SteadyPaceClock() {
  static const SteadyClock clock;
  return clock;
}

// ------------------------------------------------------------------ model

PaceModel::PaceModel(PaceLimits limits, time_point start)
    : limits_(limits), start_(start), closedAt_(start), gateUntil_(start),
      nextSlot_(start) {}

double PaceModel::OpenSeconds(time_point t) const {
  const duration closing = gateUntil_ - closedAt_;
  const duration inLast =
      std::clamp<duration>(t - closedAt_, duration::zero(), closing);
  return SecondsOf(t - start_ - closedBefore_ - inLast);
}

PaceModel::time_point PaceModel::TakeSlot(time_point t) {
  const double rate = RateAt(t);
  if (rate <= 0) {
    nextSlot_ = t;
    return t;
  }
  const time_point slot = std::max(t, nextSlot_);
  nextSlot_ = slot + std::chrono::duration_cast<duration>(Seconds(1 / rate));
  return slot;
}

void PaceModel::Answered(time_point sent, time_point t) {
  const double open = OpenSeconds(t);
  answers_.push_back(open);
  while (!answers_.empty() && answers_.front() < open - kRateWindow.count())
    answers_.pop_front();
  // An answer to a request sent before the last closing says nothing about
  // the server since.
  if (sent >= closedAt_)
    refusalsInRow_ = 0;
}

std::optional<double> PaceModel::AcceptedRate(time_point t) {
  const double open = OpenSeconds(t);
  const double window = static_cast<double>(kRateWindow.count());
  while (!answers_.empty() && answers_.front() < open - window)
    answers_.pop_front();
  if (answers_.empty())
    return std::nullopt; // nothing to go by: the pace stays as it was
  const double span = std::max(std::min(window, open),
                               static_cast<double>(kLeastRateSpan.count()));
  return static_cast<double>(answers_.size()) / span;
}

void PaceModel::Close(time_point t, duration pause) {
  closedBefore_ += gateUntil_ - closedAt_;
  closedAt_ = t;
  gateUntil_ = t + pause;
}

PaceModel::RefusalEffect
PaceModel::Refused(time_point sent, time_point t,
                   const std::optional<std::chrono::seconds> &retryAfter,
                   double jitter) {
  if (!firstRefusal_)
    firstRefusal_ = t;
  if (givenUp_ || t - *firstRefusal_ >= kGiveUpAfter) {
    givenUp_ = true;
    return {Effect::GiveUp, {}};
  }
  // A request that was on its way when the gate closed, or a refusal that
  // comes while it is closed, belongs to the pause under way; a longer
  // Retry-After of its own makes that pause longer.
  if (sent < closedAt_ || Closed(t)) {
    if (Closed(t))
      gateUntil_ = std::max(
          gateUntil_, t + RefusalPause(retryAfter, refusalsInRow_, jitter));
    return {Effect::SamePause, {}};
  }
  ++refusalsInRow_;
  if (const std::optional<double> accepted = AcceptedRate(t)) {
    double settled = *accepted * kSettleShare;
    if (base_ > 0)
      settled = std::min(settled, RateAt(t));
    base_ = settled;
    baseOpen_ = OpenSeconds(t);
    refusedAt_ = *accepted;
  }
  const duration pause = RefusalPause(retryAfter, refusalsInRow_, jitter);
  Close(t, pause);
  return {Effect::NewPause, pause};
}

double PaceModel::Probed(double elapsed) const {
  const double every = static_cast<double>(kProbeEvery.count());
  double probes = std::floor(elapsed / every);
  if (refusedAt_ > 0) {
    // The probes that stay within kHoldShare of the rate the server refused
    // at; the next one comes kProbeHold later than it would, the rest as
    // before.
    const double below =
        std::max(0.0, std::floor(std::log(kHoldShare * refusedAt_ / base_) /
                                 std::log(kProbeStep)));
    const double holdEnd =
        below * every + static_cast<double>(kProbeHold.count());
    if (probes > below)
      probes = elapsed < holdEnd
                   ? below
                   : below + 1 + std::floor((elapsed - holdEnd) / every);
  }
  return base_ * std::pow(kProbeStep, std::clamp(probes, 0.0, kMostProbes));
}

double PaceModel::RateAt(time_point t) const {
  double pace = 0;
  if (base_ > 0) {
    pace = Probed(OpenSeconds(t) - baseOpen_);
    if (limits_.OwnRate > 0)
      pace = std::min(pace, limits_.OwnRate);
  }
  if (limits_.MaxRate > 0)
    return pace > 0 ? std::min(pace, limits_.MaxRate) : limits_.MaxRate;
  return pace;
}

// ------------------------------------------------------------------ pace

ServerPace::ServerPace(PaceLimits limits, const PaceClock &clock)
    : clock_(clock), model_(limits, clock.Now()),
      jitter_(std::random_device{}()) {}

ServerPace::Turn ServerPace::Wait(const StopFlag *stop, time_point &sent) {
  std::optional<time_point> slot;
  for (;;) {
    duration wait{};
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (model_.GivenUp())
        return Turn::GiveUp;
      const time_point now = clock_.Now();
      if (model_.Closed(now)) {
        slot.reset(); // a slot taken before the gate closed is lost
        wait = model_.OpensAt() - now;
      } else {
        if (!slot)
          slot = model_.TakeSlot(now);
        if (*slot <= now) {
          sent = now;
          return Turn::Go;
        }
        wait = *slot - now;
      }
    }
    if (stop && stop->Requested())
      return Turn::Stop;
    clock_.SleepFor(std::min<duration>(wait, kWaitSlice));
  }
}

void ServerPace::Answered(time_point sent) {
  std::lock_guard<std::mutex> lock(mu_);
  model_.Answered(sent, clock_.Now());
}

void ServerPace::Stored() {
  std::lock_guard<std::mutex> lock(mu_);
  model_.Stored();
}

PaceModel::RefusalEffect
ServerPace::Refused(time_point sent,
                    const std::optional<std::chrono::seconds> &retryAfter,
                    const std::string &status) {
  std::lock_guard<std::mutex> lock(mu_);
  lastRefusal_ = status;
  const double jitter = std::uniform_real_distribution<double>(-1, 1)(jitter_);
  return model_.Refused(sent, clock_.Now(), retryAfter, jitter);
}

std::string ServerPace::LastRefusal() const {
  std::lock_guard<std::mutex> lock(mu_);
  return lastRefusal_;
}

ServerPace::Shown ServerPace::Now() const {
  std::lock_guard<std::mutex> lock(mu_);
  const time_point now = clock_.Now();
  Shown s;
  if (model_.Closed(now))
    s.PausedFor = model_.OpensAt() - now;
  s.Rate = model_.RateAt(now);
  s.Settled = model_.Settled();
  return s;
}

} // namespace kestrane
