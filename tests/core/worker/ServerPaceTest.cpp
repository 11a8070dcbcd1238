// The pace that all workers of a task share: where a refusal sets it, how
// it probes upward, the cap, the gate's one pause for requests in flight
// together, the doubling pause, the end after half an hour of refusals, and
// the wait that a stop cuts short.
#include "worker/ServerPace.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/PaceClocks.h"

namespace kestrane {
namespace {

using namespace std::chrono;
using Effect = PaceModel::Effect;

const PaceModel::time_point kStart = PaceModel::time_point() + hours(1);

PaceModel::time_point T(double s) {
  return kStart + duration_cast<PaceModel::duration>(duration<double>(s));
}

// One step of a scenario: an answer (sent and answered at t), a refusal at
// t of a request sent at t with Retry-After `value` seconds, or the rate
// the pace allows at t.
enum class K { Answer, Refuse, Rate };
struct Ev {
  K kind;
  double t;
  double value = 0;
};
using Script = std::vector<Ev>;

// Answers at `perSecond` from `from` (exclusive) to `to` (inclusive).
Script Answers(double from, double to, double perSecond) {
  Script s;
  for (int k = 1; from + k / perSecond <= to + 1e-9; ++k)
    s.push_back({K::Answer, from + k / perSecond});
  return s;
}

Script Join(std::initializer_list<Script> parts) {
  Script all;
  for (const Script &p : parts)
    all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(PaceArithmeticTest, SetAtARefusalProbedUpwardWithinTheCap) {
  // Every refusal below asks for 2 s; the gate is closed from the refusal
  // at 5 s to 7 s, and the probes count open time only.
  const Ev refuse5{K::Refuse, 5, 2};
  struct Row {
    const char *what;
    PaceLimits limits;
    Script script;
  } rows[] = {
      {"a server that never refuses sees no limit",
       {},
       Join({Answers(0, 20, 10), {{K::Rate, 20, 0}}})},
      {"the cap alone limits from the start", {4, 0}, {{K::Rate, 0, 4}}},
      {"set to what the server accepted over the window",
       {},
       Join({Answers(0, 5, 4), {refuse5, {K::Rate, 7, 3.84}}})},
      {"only the last five seconds count",
       {},
       Join({Answers(0, 14.9, 16),
             Answers(15, 20, 4),
             {{K::Refuse, 20, 2}, {K::Rate, 22, 3.84}}})},
      {"a first refusal after a few answers reads them over one second",
       {},
       Join(
           {Answers(0, 0.4, 10), {{K::Refuse, 0.4, 2}, {K::Rate, 2.4, 3.84}}})},
      {"a refusal with nothing answered sets no pace",
       {},
       {{K::Refuse, 0.1, 2}, {K::Rate, 3, 0}}},
      {"no probe within ten seconds of open gate",
       {},
       Join({Answers(0, 5, 4), {refuse5, {K::Rate, 16.9, 3.84}}})},
      {"probed up two percent after ten seconds of open gate",
       {},
       Join({Answers(0, 5, 4), {refuse5, {K::Rate, 17.1, 3.84 * 1.02}}})},
      // 3.84 x 1.02^2 would pass 98 % of the 4 a second the server took
      // when it refused: that probe waits a minute longer, then they go on.
      {"holds just below the rate the server refused at",
       {},
       Join({Answers(0, 5, 4),
             {refuse5,
              {K::Rate, 27.1, 3.84 * 1.02},
              {K::Rate, 76.9, 3.84 * 1.02}}})},
      {"then probes past it",
       {},
       Join({Answers(0, 5, 4),
             {refuse5,
              {K::Rate, 77.1, 3.84 * 1.02 * 1.02},
              {K::Rate, 87.1, 3.84 * 1.02 * 1.02 * 1.02}}})},
      {"probes stop at the workers' own rate",
       {0, 4},
       Join({Answers(0, 5, 4), {refuse5, {K::Rate, 600, 4}}})},
      {"the cap holds below the server's rate",
       {3, 0},
       Join({Answers(0, 5, 4), {refuse5, {K::Rate, 7, 3}, {K::Rate, 600, 3}}})},
      {"a cap above the server's rate changes nothing",
       {10, 0},
       Join({Answers(0, 5, 4), {refuse5, {K::Rate, 7, 3.84}}})},
      // The pace held at 3.84 x 1.02 = 3.917; the server then accepted 5 a
      // second (answers to requests from before), but a refusal never
      // raises the pace.
      {"a refusal never raises the pace",
       {},
       Join({Answers(0, 5, 4),
             {refuse5},
             Answers(32, 37, 5),
             {{K::Refuse, 37, 2}, {K::Rate, 39, 3.84 * 1.02}}})},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    PaceModel m(row.limits, kStart);
    for (const Ev &e : row.script) {
      if (e.kind == K::Answer)
        m.Answered(T(e.t), T(e.t));
      else if (e.kind == K::Refuse)
        m.Refused(T(e.t), T(e.t), seconds(static_cast<int64_t>(e.value)), 0);
      else
        EXPECT_NEAR(m.RateAt(T(e.t)), e.value, 1e-9) << "at " << e.t;
    }
  }
}

TEST(PaceArithmeticTest, TheBucketSpacesRequestsWithoutBursts) {
  PaceModel m({4, 0}, kStart);
  EXPECT_EQ(m.TakeSlot(T(0)), T(0));
  EXPECT_EQ(m.TakeSlot(T(0)), T(0.25));
  EXPECT_EQ(m.TakeSlot(T(0.1)), T(0.5));
  // Idle for long: one request goes at once, the next a quarter later.
  EXPECT_EQ(m.TakeSlot(T(10)), T(10));
  EXPECT_EQ(m.TakeSlot(T(10)), T(10.25));
  // No limit: every request goes when it asks.
  PaceModel free({}, kStart);
  EXPECT_EQ(free.TakeSlot(T(1)), T(1));
  EXPECT_EQ(free.TakeSlot(T(1)), T(1));
}

TEST(PaceGateTest, OnePauseForRequestsInFlightDoublingUntilAnAnswer) {
  struct Step {
    double sent, at; // a refusal of a request sent at `sent`, or an answer
    bool answer;
    Effect effect;
    double pause; // seconds, for a new pause
  };
  struct Row {
    const char *what;
    std::vector<Step> steps;
  } rows[] = {
      {"requests in flight when the gate closed share its pause",
       {{0.00, 0.05, false, Effect::NewPause, 2},
        {0.01, 0.06, false, Effect::SamePause, 0},
        {0.02, 2.50, false, Effect::SamePause, 0}}},
      {"refused again after the pause: doubled",
       {{0.00, 0.05, false, Effect::NewPause, 2},
        {2.05, 2.10, false, Effect::NewPause, 4},
        {6.10, 6.20, false, Effect::NewPause, 8}}},
      {"an answer after the pause ends the row",
       {{0.00, 0.05, false, Effect::NewPause, 2},
        {2.05, 2.10, true, Effect::NewPause, 0},
        {2.20, 2.30, false, Effect::NewPause, 2}}},
      {"an answer to a request from before the pause does not",
       {{0.00, 0.05, false, Effect::NewPause, 2},
        {0.01, 0.50, true, Effect::NewPause, 0},
        {2.05, 2.10, false, Effect::NewPause, 4}}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    PaceModel m({}, kStart);
    for (const Step &s : row.steps) {
      if (s.answer) {
        m.Answered(T(s.sent), T(s.at));
        continue;
      }
      const PaceModel::RefusalEffect e =
          m.Refused(T(s.sent), T(s.at), std::nullopt, 0);
      EXPECT_EQ(e.Kind, s.effect) << "refusal at " << s.at;
      if (e.Kind == Effect::NewPause) {
        EXPECT_EQ(e.Pause, duration_cast<PaceModel::duration>(
                               duration<double>(s.pause)));
        EXPECT_TRUE(m.Closed(T(s.at)));
        EXPECT_FALSE(m.Closed(T(s.at + s.pause + 1e-6)));
      }
    }
  }
}

TEST(PaceGateTest, HalfAnHourOfRefusalsWithoutAStoredTileGivesUp) {
  const double kHalfHour = 1800;
  struct Row {
    const char *what;
    double storedAt; // < 0: never
    double lastRefusal;
    Effect want;
  } rows[] = {
      {"just under half an hour", -1, kHalfHour - 1, Effect::NewPause},
      {"half an hour", -1, kHalfHour, Effect::GiveUp},
      {"a stored tile starts the watch again", 1000, kHalfHour + 1,
       Effect::NewPause},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    PaceModel m({}, kStart);
    m.Refused(T(0), T(0), seconds(600), 0);
    if (row.storedAt >= 0) {
      m.Answered(T(row.storedAt), T(row.storedAt));
      m.Stored();
    }
    m.Refused(T(1000.5), T(1000.5), seconds(600), 0);
    EXPECT_EQ(
        m.Refused(T(row.lastRefusal), T(row.lastRefusal), seconds(1), 0).Kind,
        row.want);
    EXPECT_EQ(m.GivenUp(), row.want == Effect::GiveUp);
  }
}

TEST(ServerPaceTest, AStopCutsOnlyAWaitShort) {
  test::ManualPaceClock clock;
  StopFlag stop;
  stop.Request();
  ServerPace pace({}, clock);
  ServerPace::time_point sent;
  // An open gate: the request goes even though a stop was asked for (the
  // tile under way is finished first).
  ASSERT_EQ(pace.Wait(&stop, sent), ServerPace::Turn::Go);
  EXPECT_EQ(pace.Refused(sent, seconds(2), "429 Too Many Requests").Kind,
            Effect::NewPause);
  const auto refusedAt = clock.Now();
  EXPECT_EQ(pace.Now().PausedFor, PaceClock::duration(seconds(2)));
  // A closed gate: the stop ends the wait at once.
  EXPECT_EQ(pace.Wait(&stop, sent), ServerPace::Turn::Stop);
  EXPECT_EQ(clock.Now(), refusedAt);
  // Without a stop the wait lasts the pause.
  ASSERT_EQ(pace.Wait(nullptr, sent), ServerPace::Turn::Go);
  EXPECT_EQ(sent, refusedAt + seconds(2));
  EXPECT_FALSE(pace.Now().PausedFor);
}

TEST(ServerPaceTest, AfterGivingUpEveryWaitEnds) {
  test::ManualPaceClock clock;
  ServerPace pace({}, clock);
  ServerPace::time_point sent;
  ASSERT_EQ(pace.Wait(nullptr, sent), ServerPace::Turn::Go);
  pace.Refused(sent, seconds(600), "429 Slow down");
  clock.Advance(minutes(30));
  EXPECT_EQ(
      pace.Refused(sent + minutes(30), seconds(600), "429 Slow down").Kind,
      Effect::GiveUp);
  EXPECT_EQ(pace.Wait(nullptr, sent), ServerPace::Turn::GiveUp);
  EXPECT_EQ(pace.LastRefusal(), "429 Slow down");
}

} // namespace
} // namespace kestrane
