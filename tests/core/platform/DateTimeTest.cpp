#include "platform/DateTime.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace kestrane {
namespace {

// Fixes the time zone and LC_TIME for one test and restores them.
class FixedZone {
public:
  explicit FixedZone(const char *tz) {
    const char *old = std::getenv("TZ");
    if (old != nullptr)
      oldTz_ = old;
    oldLocale_ = std::setlocale(LC_TIME, nullptr);
    setenv("TZ", tz, 1);
    tzset();
    std::setlocale(LC_TIME, "C");
  }
  ~FixedZone() {
    if (oldTz_)
      setenv("TZ", oldTz_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
    std::setlocale(LC_TIME, oldLocale_.c_str());
  }

private:
  std::optional<std::string> oldTz_;
  std::string oldLocale_;
};

const std::time_t k20240303_140509_utc = 1709474709;

TEST(DateTime, Stamp14IsLocalTimeWithoutSeparators) {
  {
    FixedZone zone("UTC0");
    EXPECT_EQ(FormatStamp14(k20240303_140509_utc), "20240303140509");
    EXPECT_EQ(FormatStamp14(0), "19700101000000") << "zero padding";
  }
  {
    // Two hours east of UTC: the local hour, not the UTC one.
    FixedZone zone("XST-2");
    EXPECT_EQ(FormatStamp14(k20240303_140509_utc), "20240303160509");
    // 23:30 UTC on 31 December is already the next year locally.
    EXPECT_EQ(FormatStamp14(1704065400), "20240101013000");
  }
}

TEST(DateTime, ShortDateLongTimeFollowsLcTime) {
  FixedZone zone("UTC0");
  EXPECT_EQ(FormatShortDateLongTime(k20240303_140509_utc), "03/03/24 14:05:09");
}

TEST(DateTime, SystemClockIsTheWallClock) {
  Clock clock = SystemClock();
  std::time_t before = std::time(nullptr);
  std::time_t now = clock();
  std::time_t after = std::time(nullptr);
  EXPECT_LE(before, now);
  EXPECT_LE(now, after);
}

} // namespace
} // namespace kestrane
