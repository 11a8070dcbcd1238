// The progress model that the window and the command line show.
#include <gtest/gtest.h>

#include "control/Progress.h"
#include "task/Estimate.h"

namespace kestrane {
namespace {

TaskProgress Counts(int32_t total, int32_t stored, int32_t givenUp,
                    int32_t skipped) {
  TaskProgress p;
  p.Total = total;
  p.Stored = stored;
  p.GivenUp = givenUp;
  p.Skipped = skipped;
  return p;
}

// The estimate counts the pauses the workers really make.
static_assert(WorkerPacing{}.AfterStored == kPauseAfterStored);
static_assert(WorkerPacing{}.StartOffset == kWorkerStartOffset);

TEST(ProgressFiguresTest, ConcludedRateAndTimeLeft) {
  struct Row {
    const char *what;
    TaskProgress p;
    bool running;
    double seconds;
    int32_t concluded;
    double rate;
    std::optional<int64_t> left;
  } rows[] = {
      {"running", Counts(35, 9, 1, 0), true, 5, 10, 2.0, 13},
      {"idle: no rate, no time left", Counts(35, 9, 1, 0), false, 5, 10, 0,
       std::nullopt},
      {"nothing fetched yet", Counts(35, 0, 0, 0), true, 3, 0, 0, std::nullopt},
      {"no time passed", Counts(35, 4, 0, 0), true, 0, 4, 0, std::nullopt},
      // Counts that overshoot the total (a worker's last tile counted
      // twice) never show more than the whole.
      {"concluded capped at the total", Counts(10, 9, 2, 1), true, 4, 10, 2.75,
       0},
      {"earlier run's tiles cost no time", Counts(40, 4, 0, 30), true, 2, 34,
       2.0, 3},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    const ProgressFigures f = ComputeProgress(row.p, row.running, row.seconds);
    EXPECT_EQ(f.Total, row.p.Total);
    EXPECT_EQ(f.Concluded, row.concluded);
    EXPECT_EQ(f.Running, row.running);
    EXPECT_DOUBLE_EQ(f.Rate, row.rate);
    EXPECT_EQ(f.SecondsLeft, row.left);
    EXPECT_EQ(f.Line, ProgressLine(row.p, row.running, row.seconds));
  }
}

TEST(ProgressFiguresTest, EndedTaskAddsWhatTheTileFolderHolds) {
  InventoryCounts end;
  end.Total = 35;
  end.Stored = 31;
  end.Placeholder = 4;
  const std::string folder = "; in the tile folder: 31 of 35 tiles stored, 4 "
                             "placeholders, 0 damaged, 0 missing, 0 side "
                             "files";
  const std::string ended = "35 of 35 tiles concluded: 31 stored, 4 given up";
  struct Row {
    const char *what;
    bool running;
    std::optional<InventoryCounts> end;
    std::string line;
  } rows[] = {
      {"ended, folder read", false, end, ended + folder},
      {"ended, folder unreadable", false, std::nullopt, ended},
      {"still running: no counts of the folder yet", true, end,
       ProgressLine(Counts(35, 31, 4, 0), true, 10)},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    const ProgressFigures f =
        ComputeProgress(Counts(35, 31, 4, 0), row.running, 10);
    EXPECT_EQ(ProgressLineWithEnd(f, row.end), row.line);
  }
}

TEST(ProgressFiguresTest, LineGroupsTheCounts) {
  struct Row {
    const char *what;
    TaskProgress p;
    bool running;
    std::string line;
  } rows[] = {
      {"a large block, stopped", Counts(1570646, 12000, 1234, 20000), false,
       "33,234 of 1,570,646 tiles concluded: 12,000 stored, 1,234 given up, "
       "20,000 done before; stopped"},
      {"running: the rate and the time left", Counts(1570646, 12000, 0, 0),
       true,
       "12,000 of 1,570,646 tiles concluded: 12,000 stored, 0 given up; "
       "12.0 tiles/s, 36:04:47 left"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(ProgressLine(row.p, row.running, 1000), row.line);
  }
}

// The server's pace: the rate a refusal set is the current rate, the cap
// bounds the average, and a pause of the server is shown and counted in the
// time left.
TEST(ProgressFiguresTest, ThePaceTheServerSet) {
  // Each line is checked from its first ";" on: the counts before it are
  // those of ConcludedRateAndTimeLeft.
  struct Row {
    const char *what;
    TaskProgress p;
    bool running;
    PaceFigures pace;
    std::string tail;
  } rows[] = {
      {"no pace: the average",
       Counts(100, 20, 0, 0),
       true,
       {},
       "; 2.0 tiles/s, 0:40 left"},
      {"a pace set by a refusal",
       Counts(100, 20, 0, 0),
       true,
       {3.84, true, std::nullopt},
       "; 3.8 tiles/s, 0:21 left"},
      {"paused by the server",
       Counts(100, 20, 0, 0),
       true,
       {3.84, true, 12},
       "; 3.8 tiles/s, 0:33 left; paused by the server, resumes in 0:12"},
      {"a cap above the average changes nothing",
       Counts(100, 20, 0, 0),
       true,
       {4, false, std::nullopt},
       "; 2.0 tiles/s, 0:40 left"},
      {"a cap below the average",
       Counts(100, 20, 0, 0),
       true,
       {1, false, std::nullopt},
       "; 1.0 tiles/s, 1:20 left"},
      {"paused before the first tile: no time left",
       Counts(100, 0, 0, 0),
       true,
       {0, false, 5},
       "; 0.0 tiles/s; paused by the server, resumes in "
       "0:05"},
      {"an ended task shows no pause",
       Counts(100, 20, 0, 0),
       false,
       {3.84, true, 12},
       "; stopped"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    const std::string line =
        ComputeProgress(row.p, row.running, 10, row.pace).Line;
    EXPECT_EQ(line.substr(line.find(';')), row.tail);
  }
}

TEST(LeastDownloadTimeTest, FollowsThePacing) {
  WorkerPacing fast;
  fast.AfterStored = std::chrono::milliseconds(10);
  fast.StartOffset = std::chrono::milliseconds(1);
  struct Row {
    const char *what;
    int64_t tiles;
    int32_t workers;
    WorkerPacing pacing;
    int64_t ms;
  } rows[] = {
      // 35 tiles over 8 workers: shares of 5, seven workers start later.
      {"the program's pacing", 35, 8, WorkerPacing{}, 5 * 500 + 7 * 100},
      {"one tile", 1, 1, WorkerPacing{}, 500},
      {"a faster pacing", 35, 8, fast, 5 * 10 + 7 * 1},
      {"no tiles", 0, 8, WorkerPacing{}, 0},
      {"no workers", 35, 0, WorkerPacing{}, 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(LeastDownloadMilliseconds(row.tiles, row.workers, row.pacing),
              row.ms);
  }
  // The area estimate of the window and the picker counts the same pauses.
  EXPECT_EQ(LeastPacedMilliseconds(35, 8, kPauseAfterStored.count(),
                                   kWorkerStartOffset.count()),
            LeastDownloadMilliseconds(35, 8));
}

TEST(LeastDownloadTimeTest, NoShorterThanTheCapAllows) {
  struct Row {
    const char *what;
    int64_t paced, tiles;
    double maxRate;
    int64_t ms;
  } rows[] = {
      {"no cap", 26000, 400, 0, 26000},
      {"a cap the pacing never reaches", 26000, 400, 100, 26000},
      {"130 tiles at 4 a second", 8900, 130, 4, 32500},
      {"a fraction of a tile a second", 500, 3, 0.5, 6000},
      {"a cap so small it would overflow", 500, 1000000, 1e-300,
       int64_t{1000000000000000}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(LeastCappedMilliseconds(row.paced, row.tiles, row.maxRate),
              row.ms);
  }
}

TEST(FormatDurationTest, BothStyles) {
  struct Row {
    int64_t ms;
    DurationStyle style;
    const char *text;
  } rows[] = {
      {7250, DurationStyle::Seconds, "7.3 s"},
      {59949, DurationStyle::Seconds, "59.9 s"},
      {60000, DurationStyle::Seconds, "60.0 s (1 min 0 s)"},
      {3723000, DurationStyle::Seconds, "3723.0 s (1 h 2 min 3 s)"},
      {0, DurationStyle::Clock, "0:00"},
      {59999, DurationStyle::Clock, "0:59"},
      {123000, DurationStyle::Clock, "2:03"},
      {3600000, DurationStyle::Clock, "1:00:00"},
      {100590000, DurationStyle::Clock, "27:56:30"},
      {7250, DurationStyle::Compact, "7.3 s"},
      {59949, DurationStyle::Compact, "59.9 s"},
      {59950, DurationStyle::Compact, "1 min 0 s"},
      {98000, DurationStyle::Compact, "1 min 38 s"},
      {3599000, DurationStyle::Compact, "59 min 59 s"},
      {98163000, DurationStyle::Compact, "27 h 16 min"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.ms);
    EXPECT_EQ(FormatDuration(row.ms, row.style), row.text);
  }
}

TEST(ProgressLineTest, StoredAndGivenUpApart) {
  const auto progress = [](int32_t total, int32_t stored, int32_t givenUp,
                           int32_t skipped) {
    TaskProgress p;
    p.Total = total;
    p.Stored = stored;
    p.GivenUp = givenUp;
    p.Skipped = skipped;
    return p;
  };
  struct Row {
    const char *what;
    TaskProgress p;
    bool running;
    double seconds;
    const char *line;
  } rows[] = {
      {"ended, some given up", progress(35, 31, 4, 0), false, 20,
       "35 of 35 tiles concluded: 31 stored, 4 given up"},
      {"running: rate and time left", progress(35, 9, 1, 0), true, 5,
       "10 of 35 tiles concluded: 9 stored, 1 given up; 2.0 tiles/s, 0:13 "
       "left"},
      {"running, nothing fetched yet: no time left", progress(35, 0, 0, 0),
       true, 0, "0 of 35 tiles concluded: 0 stored, 0 given up; 0.0 tiles/s"},
      // Tiles of an earlier run count as concluded, not towards the rate.
      {"continued task", progress(40, 4, 0, 30), true, 2,
       "34 of 40 tiles concluded: 4 stored, 0 given up, 30 done before; 2.0 "
       "tiles/s, 0:03 left"},
      {"stopped before the end", progress(35, 20, 2, 0), false, 9,
       "22 of 35 tiles concluded: 20 stored, 2 given up; stopped"},
      {"an hour and more left", progress(100000, 10, 0, 0), true, 10,
       "10 of 100,000 tiles concluded: 10 stored, 0 given up; 1.0 tiles/s, "
       "27:46:30 left"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(ProgressLine(row.p, row.running, row.seconds), row.line);
  }
}

} // namespace
} // namespace kestrane
