#pragma once
#include <ctime>
#include <functional>
#include <string>

namespace kestrane {

// The clock is passed in wherever a text carries the time, so tests can fix it.
using Clock = std::function<std::time_t()>;
Clock SystemClock();

// The user's short date and long time: strftime "%x %X" under LC_TIME, in
// local time.
std::string FormatShortDateLongTime(std::time_t t);

// "yyyymmddhhmmss" in local time (14 digits), for part-log names.
std::string FormatStamp14(std::time_t t);

} // namespace kestrane
