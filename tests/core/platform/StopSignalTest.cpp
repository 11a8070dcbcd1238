#include "platform/StopSignal.h"

#include <gtest/gtest.h>

#include <csignal>

namespace kestrane {
namespace {

// Each of the three stop signals requests the stop, and every set-up
// starts from a cleared request.
TEST(StopOnSignals, EachStopSignalRequestsTheStop) {
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    StopFlag &stop = StopOnSignals();
    EXPECT_FALSE(stop.Requested());
    ASSERT_EQ(std::raise(sig), 0);
    EXPECT_TRUE(stop.Requested());
  }
  for (const int sig : {SIGINT, SIGTERM, SIGHUP})
    std::signal(sig, SIG_DFL);
}

} // namespace
} // namespace kestrane
