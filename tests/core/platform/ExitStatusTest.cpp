#include <gtest/gtest.h>

#include "platform/ExitStatus.h"

namespace kestrane {
namespace {

// A job's status is its worst task's, by severity: 130 over 2 over 1 over
// 0, whichever order the tasks ran in; an unknown status counts as 2.
TEST(WorseExitStatusTest, Severity) {
  struct Row {
    int a, b, worse;
  };
  const Row rows[] = {
      {0, 0, 0},     {0, 1, 1},     {1, 2, 2}, {2, 1, 2}, {2, 130, 130},
      {130, 2, 130}, {130, 0, 130}, {0, 2, 2}, {1, 7, 7}, {7, 130, 130},
  };
  for (const Row &r : rows)
    EXPECT_EQ(WorseExitStatus(r.a, r.b), r.worse) << r.a << " " << r.b;
}

} // namespace
} // namespace kestrane
