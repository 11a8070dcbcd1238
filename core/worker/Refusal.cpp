#include "worker/Refusal.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace kestrane {

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// A delta-seconds this large waits longer than any pause anyway; larger
// numbers stop here instead of overflowing.
constexpr int64_t kSaturatedSeconds = int64_t{1} << 31;

constexpr std::string_view kDayNames[7] = {"Mon", "Tue", "Wed", "Thu",
                                           "Fri", "Sat", "Sun"};
constexpr std::string_view kLongDayNames[7] = {
    "Monday", "Tuesday",  "Wednesday", "Thursday",
    "Friday", "Saturday", "Sunday"};
constexpr std::string_view kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr",
                                              "May", "Jun", "Jul", "Aug",
                                              "Sep", "Oct", "Nov", "Dec"};

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads an HTTP date from left to right; every step fails without moving
// on a mismatch, and the caller gives up at the first failure.
class DateReader {
public:
  explicit DateReader(std::string_view text) : s_(text) {}

  bool Literal(std::string_view lit) {
    if (s_.substr(0, lit.size()) != lit)
      return false;
    s_.remove_prefix(lit.size());
    return true;
  }
  // Exactly `count` digits.
  bool Number(int count, int &out) {
    if (s_.size() < static_cast<size_t>(count))
      return false;
    int v = 0;
    for (int i = 0; i < count; ++i) {
      if (!IsDigit(s_[static_cast<size_t>(i)]))
        return false;
      v = v * 10 + (s_[static_cast<size_t>(i)] - '0');
    }
    s_.remove_prefix(static_cast<size_t>(count));
    out = v;
    return true;
  }
  template <size_t N>
  bool Name(const std::string_view (&names)[N], int &index) {
    for (size_t i = 0; i < N; ++i)
      if (Literal(names[i])) {
        index = static_cast<int>(i);
        return true;
      }
    return false;
  }
  // hour ":" minute ":" second
  bool TimeOfDay(int &h, int &m, int &sec) {
    return Number(2, h) && Literal(":") && Number(2, m) && Literal(":") &&
           Number(2, sec);
  }
  bool AtEnd() const { return s_.empty(); }

private:
  std::string_view s_;
};

struct CivilTime {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

bool Valid(const CivilTime &t) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30,
                                    31, 31, 30, 31, 30, 31};
  if (t.Month < 1 || t.Month > 12 || t.Day < 1)
    return false;
  const int days = kDays[t.Month - 1] + (t.Month == 2 && IsLeap(t.Year));
  // Second 60 is a leap second.
  return t.Day <= days && t.Hour <= 23 && t.Minute <= 59 && t.Second <= 60;
}

// "Sun, 06 Nov 1994 08:49:37 GMT"
std::optional<CivilTime> ImfFixdate(std::string_view text) {
  DateReader r(text);
  CivilTime t;
  int day = 0, month = 0;
  if (r.Name(kDayNames, day) && r.Literal(", ") && r.Number(2, t.Day) &&
      r.Literal(" ") && r.Name(kMonthNames, month) && r.Literal(" ") &&
      r.Number(4, t.Year) && r.Literal(" ") &&
      r.TimeOfDay(t.Hour, t.Minute, t.Second) && r.Literal(" GMT") &&
      r.AtEnd()) {
    t.Month = month + 1;
    return t;
  }
  return std::nullopt;
}

// "Sunday, 06-Nov-94 08:49:37 GMT". A two-digit year is the latest year
// with those two digits that lies no more than 50 years ahead of `nowYear`.
std::optional<CivilTime> Rfc850Date(std::string_view text, int nowYear) {
  DateReader r(text);
  CivilTime t;
  int day = 0, month = 0, yy = 0;
  if (!(r.Name(kLongDayNames, day) && r.Literal(", ") && r.Number(2, t.Day) &&
        r.Literal("-") && r.Name(kMonthNames, month) && r.Literal("-") &&
        r.Number(2, yy) && r.Literal(" ") &&
        r.TimeOfDay(t.Hour, t.Minute, t.Second) && r.Literal(" GMT") &&
        r.AtEnd()))
    return std::nullopt;
  t.Month = month + 1;
  t.Year = nowYear - nowYear % 100 + yy;
  if (t.Year > nowYear + 50)
    t.Year -= 100;
  else if (t.Year + 100 <= nowYear + 50)
    t.Year += 100;
  return t;
}

// "Sun Nov  6 08:49:37 1994" (a one-digit day after a blank).
std::optional<CivilTime> AsctimeDate(std::string_view text) {
  DateReader r(text);
  CivilTime t;
  int day = 0, month = 0;
  if (!(r.Name(kDayNames, day) && r.Literal(" ") &&
        r.Name(kMonthNames, month) && r.Literal(" ")))
    return std::nullopt;
  if (!(r.Literal(" ") ? r.Number(1, t.Day) : r.Number(2, t.Day)))
    return std::nullopt;
  if (!(r.Literal(" ") && r.TimeOfDay(t.Hour, t.Minute, t.Second) &&
        r.Literal(" ") && r.Number(4, t.Year) && r.AtEnd()))
    return std::nullopt;
  t.Month = month + 1;
  return t;
}

std::optional<seconds> DeltaSeconds(std::string_view text) {
  if (text.empty())
    return std::nullopt;
  int64_t v = 0;
  for (const char c : text) {
    if (!IsDigit(c))
      return std::nullopt;
    v = std::min(kSaturatedSeconds, v * 10 + (c - '0'));
  }
  return seconds(v);
}

int YearOf(std::chrono::system_clock::time_point now) {
  const auto days = std::chrono::floor<std::chrono::days>(now);
  return static_cast<int>(std::chrono::year_month_day(days).year());
}

} // namespace

std::optional<seconds>
ParseRetryAfter(std::string_view value,
                std::chrono::system_clock::time_point now) {
  value = TrimBlanks(value);
  if (!value.empty() && IsDigit(value.front()))
    return DeltaSeconds(value);
  std::optional<CivilTime> t = ImfFixdate(value);
  if (!t)
    t = Rfc850Date(value, YearOf(now));
  if (!t)
    t = AsctimeDate(value);
  if (!t || !Valid(*t))
    return std::nullopt;
  const int64_t at = DaysFromCivil(t->Year, t->Month, t->Day) * 86400 +
                     t->Hour * 3600 + t->Minute * 60 + t->Second;
  const auto nowMs =
      std::chrono::duration_cast<milliseconds>(now.time_since_epoch()).count();
  const int64_t leftMs = at * 1000 - nowMs;
  if (leftMs <= 0)
    return seconds(0);
  return seconds(std::min(kSaturatedSeconds, (leftMs + 999) / 1000));
}

std::optional<Refusal> RefusalOf(const FetchResult &result,
                                 std::chrono::system_clock::time_point now) {
  if (result.Ok || (result.Status != 429 && result.Status != 503))
    return std::nullopt;
  Refusal r;
  if (result.RetryAfter)
    r.RetryAfter = ParseRetryAfter(*result.RetryAfter, now);
  if (result.Status == 503 && !r.RetryAfter)
    return std::nullopt;
  r.Status = std::string(TrimBlanks(result.FailureText));
  return r;
}

milliseconds RefusalPause(const std::optional<seconds> &retryAfter, int inRow,
                          double jitter) {
  if (retryAfter)
    return std::clamp<milliseconds>(*retryAfter, kLeastPause, kLongestPause);
  // 2 s, 4 s, 8 s, ...: past 2^20 the doubling has long passed the bound.
  const int doublings = std::clamp(inRow - 1, 0, 20);
  const milliseconds plain =
      std::min(kLongestBackoff, kFirstBackoff * (int64_t{1} << doublings));
  const double factor = 1 + kBackoffJitter * std::clamp(jitter, -1.0, 1.0);
  const auto drawn =
      milliseconds(std::llround(static_cast<double>(plain.count()) * factor));
  return std::clamp<milliseconds>(drawn, kLeastPause, kLongestBackoff);
}

std::string PauseLine(milliseconds pause, std::string_view status) {
  const int64_t tenths = (pause.count() + 50) / 100;
  char amount[32];
  if (tenths % 10 == 0 || tenths >= 100)
    std::snprintf(amount, sizeof amount, "%lld",
                  static_cast<long long>((tenths + 5) / 10));
  else
    std::snprintf(amount, sizeof amount, "%lld.%lld",
                  static_cast<long long>(tenths / 10),
                  static_cast<long long>(tenths % 10));
  return "Paused by the server for " + std::string(amount) + " s (" +
         std::string(status) + ")";
}

} // namespace kestrane
