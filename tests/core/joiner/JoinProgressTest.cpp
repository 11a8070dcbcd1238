// The joiner's progress as one fraction: the reduced levels count for their
// share of the work, the bar never goes back, and it is full only at the
// end of the last phase.
#include <gtest/gtest.h>

#include <vector>

#include "joiner/JoinProgress.h"

namespace kestrane {
namespace {

struct Report {
  JoinPhase phase;
  int64_t done, total;
};

TEST(JoinProgressTest, OverviewsCountForTheirWork) {
  const int64_t tiles = 9000, reduced = 3003;
  std::vector<Report> reports;
  for (int64_t d = 0; d <= tiles; d += 900)
    reports.push_back({JoinPhase::Checking, d, tiles});
  for (int64_t d = 0; d <= tiles; d += 900)
    reports.push_back({JoinPhase::Joining, d, tiles});
  for (int64_t d = 0; d <= reduced; d += 273) // up to 3003 itself
    reports.push_back({JoinPhase::Overviews, d, reduced});

  struct Row {
    const char *what;
    bool overviews;
  } rows[] = {{"with overviews", true}, {"without", false}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    JoinProgress progress(row.overviews);
    EXPECT_EQ(progress.Fraction(), 0);
    double last = 0, afterJoining = 0;
    bool fullEarly = false;
    for (const Report &r : reports) {
      if (!row.overviews && r.phase == JoinPhase::Overviews)
        break;
      fullEarly = fullEarly || last >= 1.0;
      progress.Report(r.phase, r.done, r.total);
      EXPECT_GE(progress.Fraction(), last);
      last = progress.Fraction();
      if (r.phase == JoinPhase::Joining && r.done == tiles)
        afterJoining = last;
    }
    EXPECT_FALSE(fullEarly);
    EXPECT_DOUBLE_EQ(last, 1.0);
    if (row.overviews) {
      // The reduced levels take most of the bar (most of the time), not a
      // fixed fifth of it.
      EXPECT_GT(afterJoining, 0.02);
      EXPECT_LT(afterJoining, 0.5);
    } else {
      EXPECT_DOUBLE_EQ(afterJoining, 1.0);
    }
  }
}

// A strip of tiles has more reduced tiles than the estimate of a third:
// the bar holds still rather than going back when the real count arrives.
TEST(JoinProgressTest, NeverGoesBack) {
  JoinProgress progress(true);
  progress.Report(JoinPhase::Checking, 100, 100);
  progress.Report(JoinPhase::Joining, 100, 100);
  const double joined = progress.Fraction();
  progress.Report(JoinPhase::Overviews, 0, 99);
  EXPECT_EQ(progress.Fraction(), joined);
  progress.Report(JoinPhase::Overviews, 99, 99);
  EXPECT_DOUBLE_EQ(progress.Fraction(), 1.0);
  // Reports out of range are taken as the nearest possible.
  JoinProgress odd(false);
  odd.Report(JoinPhase::Joining, 150, 100);
  EXPECT_DOUBLE_EQ(odd.Fraction(), 1.0);
}

// The TIFF is laid out from what was built at the end: until that is done
// the bar is not full, with or without overviews; a join that lays nothing
// out is full when its last tile is joined.
TEST(JoinProgressTest, LayingOutTheFileIsTheLastShare) {
  struct Row {
    bool overviews, laysOut;
  } rows[] = {{false, true}, {true, true}, {false, false}};
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::Message() << row.overviews << row.laysOut);
    JoinProgress progress(row.overviews, row.laysOut);
    progress.Report(JoinPhase::Checking, 100, 100);
    progress.Report(JoinPhase::Joining, 100, 100);
    if (row.overviews)
      progress.Report(JoinPhase::Overviews, 33, 33);
    const double built = progress.Fraction();
    if (!row.laysOut) {
      EXPECT_DOUBLE_EQ(built, 1.0);
      continue;
    }
    EXPECT_LT(built, 1.0);
    progress.Report(JoinPhase::Writing, 0, 133);
    EXPECT_EQ(progress.Fraction(), built);
    progress.Report(JoinPhase::Writing, 66, 133);
    EXPECT_GT(progress.Fraction(), built);
    EXPECT_LT(progress.Fraction(), 1.0);
    progress.Report(JoinPhase::Writing, 133, 133);
    EXPECT_DOUBLE_EQ(progress.Fraction(), 1.0);
  }
}

} // namespace
} // namespace kestrane
