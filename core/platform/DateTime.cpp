#include "platform/DateTime.h"

#include <cstdio>

namespace kestrane {

namespace {

std::tm LocalTime(std::time_t t) {
  std::tm tm{};
  if (localtime_r(&t, &tm) == nullptr) {
    // Beyond the C library's range: show 1970-01-01 00:00:00 rather than
    // fields that were never filled in.
    tm = std::tm{};
    tm.tm_year = 70;
    tm.tm_mday = 1;
  }
  return tm;
}

} // namespace

Clock SystemClock() {
  return [] { return std::time(nullptr); };
}

std::string FormatShortDateLongTime(std::time_t t) {
  std::tm tm = LocalTime(t);
  char buf[256];
  size_t n = std::strftime(buf, sizeof buf, "%x %X", &tm);
  return std::string(buf, n);
}

std::string FormatStamp14(std::time_t t) {
  std::tm tm = LocalTime(t);
  // Plain %d conversions print ASCII digits whatever the locale.
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d",
                        tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                        tm.tm_hour, tm.tm_min, tm.tm_sec);
  if (n < 0)
    return std::string();
  return std::string(buf, static_cast<size_t>(n) < sizeof buf
                              ? static_cast<size_t>(n)
                              : sizeof buf - 1);
}

} // namespace kestrane
