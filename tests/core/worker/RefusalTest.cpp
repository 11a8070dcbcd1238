// A server's "not now": which answers are refusals, the wait a Retry-After
// asks for, the pause that follows and its log line, and the header as the
// HTTP client hands it over.
#include "worker/Refusal.h"

#include <gtest/gtest.h>

#include "tests/support/WorkerFixtures.h"

namespace kestrane {
namespace {

using namespace std::chrono;
using std::optional;

// 1994-11-06 08:49:00 UTC, the day of the RFC's examples.
const system_clock::time_point kNow =
    sys_days{year{1994} / November / 6} + hours(8) + minutes(49);
constexpr int64_t kSaturated = int64_t{1} << 31;

TEST(RetryAfterTest, SecondsAndTheThreeDateForms) {
  struct Row {
    const char *what;
    const char *value;
    optional<int64_t> seconds; // nullopt: read as no header
  } rows[] = {
      {"delta-seconds", "120", 120},
      {"blanks around it", " \t7 ", 7},
      {"zero", "0", 0},
      {"10^12 saturates instead of wrapping", "1000000000000", kSaturated},
      {"far more digits than any integer", "99999999999999999999999999",
       kSaturated},
      {"IMF-fixdate", "Sun, 06 Nov 1994 08:49:37 GMT", 37},
      {"obsolete RFC 850 form", "Sunday, 06-Nov-94 08:49:37 GMT", 37},
      {"asctime form, one-digit day", "Sun Nov  6 08:49:37 1994", 37},
      {"asctime form, two-digit day", "Mon Nov 07 08:49:00 1994", 86400},
      {"the next day", "Mon, 07 Nov 1994 08:49:00 GMT", 86400},
      {"a date in the past waits not at all", "Sun, 06 Nov 1994 08:48:00 GMT",
       0},
      {"the year before", "Sat, 06 Nov 1993 08:49:00 GMT", 0},
      {"29 February of a leap year", "Thu, 29 Feb 1996 00:00:00 GMT",
       (days(480) - hours(8) - minutes(49)) / seconds(1)},
      // A two-digit year more than 50 years ahead is the past century's.
      {"two-digit year 50 years ahead", "Friday, 06-Nov-44 08:49:00 GMT",
       (sys_days{year{2044} / November / 6} -
        sys_days{year{1994} / November / 6}) /
           seconds(1)},
      {"two-digit year 51 years ahead is 1945",
       "Tuesday, 06-Nov-45 08:49:00 GMT", 0},
      {"empty", "", std::nullopt},
      {"a word", "soon", std::nullopt},
      {"negative", "-5", std::nullopt},
      {"a fraction", "1.5", std::nullopt},
      {"a unit after the number", "12 s", std::nullopt},
      {"UTC is not GMT", "Sun, 06 Nov 1994 08:49:37 UTC", std::nullopt},
      {"names are case-sensitive", "sun, 06 nov 1994 08:49:37 GMT",
       std::nullopt},
      {"one-digit day in IMF-fixdate", "Sun, 6 Nov 1994 08:49:37 GMT",
       std::nullopt},
      {"29 February of another year", "Wed, 29 Feb 1995 00:00:00 GMT",
       std::nullopt},
      {"hour 25", "Sun, 06 Nov 1994 25:00:00 GMT", std::nullopt},
      {"trailing text", "Sun, 06 Nov 1994 08:49:37 GMT x", std::nullopt},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    const optional<seconds> got = ParseRetryAfter(row.value, kNow);
    ASSERT_EQ(got.has_value(), row.seconds.has_value());
    if (got) {
      EXPECT_EQ(got->count(), *row.seconds);
    }
  }
}

FetchResult Answer(long status, const char *text,
                   optional<std::string> retryAfter) {
  FetchResult r;
  r.Ok = status >= 200 && status <= 299;
  r.Status = status;
  r.FailureText = r.Ok ? "" : text;
  r.RetryAfter = std::move(retryAfter);
  return r;
}

TEST(RefusalTest, WhichAnswersAreRefusals) {
  const char *k429 = "429 Too Many Requests";
  const char *k503 = "503 Service Unavailable";
  struct Row {
    const char *what;
    FetchResult answer;
    optional<Refusal> want;
  } rows[] = {
      {"429 without Retry-After", Answer(429, k429, std::nullopt),
       Refusal{k429, std::nullopt}},
      {"429 with seconds", Answer(429, k429, "3"), Refusal{k429, seconds(3)}},
      {"429 with a date", Answer(429, k429, "Sun, 06 Nov 1994 08:50:00 GMT"),
       Refusal{k429, seconds(60)}},
      {"429 with garbage is still a refusal", Answer(429, k429, "later"),
       Refusal{k429, std::nullopt}},
      {"503 with Retry-After", Answer(503, k503, "30"),
       Refusal{k503, seconds(30)}},
      {"503 without Retry-After is a failure", Answer(503, k503, std::nullopt),
       std::nullopt},
      {"503 with garbage is a failure", Answer(503, k503, "later"),
       std::nullopt},
      {"500 with Retry-After is a failure", Answer(500, "500 Oops", "3"),
       std::nullopt},
      {"a tile with Retry-After", Answer(200, "", "3"), std::nullopt},
      {"no reason phrase: the code alone", Answer(429, "429 ", std::nullopt),
       Refusal{"429", std::nullopt}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(RefusalOf(row.answer, kNow), row.want);
  }
}

TEST(RefusalTest, PauseBoundsDoublingAndJitter) {
  struct Row {
    const char *what;
    optional<seconds> retryAfter;
    int inRow;
    double jitter;
    int64_t ms;
  } rows[] = {
      {"the server's 2 s", seconds(2), 1, 0, 2000},
      {"Retry-After is not jittered", seconds(2), 1, 1, 2000},
      {"Retry-After is not doubled", seconds(2), 5, 0, 2000},
      {"0 waits at least a second", seconds(0), 1, 0, 1000},
      {"an hour waits at most 10 minutes", seconds(3600), 1, 0, 600000},
      {"a saturated value too", seconds(kSaturated), 1, 0, 600000},
      {"without: 2 s first", std::nullopt, 1, 0, 2000},
      {"then 4 s", std::nullopt, 2, 0, 4000},
      {"then 8 s", std::nullopt, 3, 0, 8000},
      {"256 s at the eighth", std::nullopt, 8, 0, 256000},
      {"5 minutes at most", std::nullopt, 9, 0, 300000},
      {"and after any number in a row", std::nullopt, 1000, 0, 300000},
      {"jitter up 20 %", std::nullopt, 1, 1, 2400},
      {"jitter down 20 %", std::nullopt, 1, -1, 1600},
      {"jitter never passes 5 minutes", std::nullopt, 9, 1, 300000},
      {"jitter below 5 minutes", std::nullopt, 9, -1, 240000},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(RefusalPause(row.retryAfter, row.inRow, row.jitter).count(),
              row.ms);
  }
}

TEST(RefusalTest, PauseLine) {
  const std::pair<int64_t, const char *> rows[] = {
      {2000, "Paused by the server for 2 s (429 Too Many Requests)"},
      {2400, "Paused by the server for 2.4 s (429 Too Many Requests)"},
      {1960, "Paused by the server for 2 s (429 Too Many Requests)"},
      {12345, "Paused by the server for 12 s (429 Too Many Requests)"},
      {600000, "Paused by the server for 600 s (429 Too Many Requests)"},
  };
  for (const auto &[ms, line] : rows)
    EXPECT_EQ(PauseLine(milliseconds(ms), "429 Too Many Requests"), line);
}

// The client hands the last answer's Retry-After over, in any letter case,
// and forgets it with the next answer on the same connection.
TEST(RefusalTest, ClientHandsTheHeaderOver) {
  HttpGlobalInit();
  test::WorkerTileServer server([](const HttpRequest &req, int) {
    HttpResponse r = test::WorkerStatus(429, "Too Many Requests");
    if (req.Target == "/upper")
      r.Headers.emplace_back("Retry-After", "5");
    else if (req.Target == "/lower")
      r.Headers.emplace_back("retry-after", "  Sun, 06 Nov 1994 08:49:37 GMT ");
    return r;
  });
  TileHttp http(HttpOptions{});
  const std::string base = "http://127.0.0.1:" + std::to_string(server.Port());
  const std::pair<const char *, optional<std::string>> rows[] = {
      {"/upper", "5"},
      {"/none", std::nullopt},
      {"/lower", "Sun, 06 Nov 1994 08:49:37 GMT"},
  };
  for (const auto &[target, want] : rows) {
    SCOPED_TRACE(target);
    std::string buffer;
    const FetchResult r = http.Fetch(base + target, buffer);
    EXPECT_EQ(r.Status, 429);
    EXPECT_EQ(r.FailureText, "429 Too Many Requests");
    EXPECT_EQ(r.RetryAfter, want);
  }
}

} // namespace
} // namespace kestrane
