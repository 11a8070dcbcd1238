#include "worker/FailurePolicy.h"

#include <gtest/gtest.h>

#include "tests/support/WorkerFixtures.h"

namespace kestrane {
namespace {

using A = FailureAction;
using L = FailureLine;
using P = RetryPause;

const std::string kReset = "Socket Error # 10054\r\nConnection reset by peer.";
const std::string kInUse = "Socket Error # 10048\r\nAddress already in use.";
const std::string kRefused = "Socket Error # 10061\r\nConnection refused.";
const std::string kTimedOut = "Socket Error # 10060\r\nConnection timed out.";
const std::string kClosed = "Connection Closed Gracefully.";

struct Case {
  const char *what; // the fault the row catches
  std::optional<std::string> text;
  int32_t attempt;
  FailureVerdict want;
};

FailureVerdict Retry(P pause, L line = L::None) {
  return {A::Retry, pause, line, false, {}};
}
FailureVerdict GiveUp(L line, bool record) {
  return {A::GiveUp, P::None, line, record, {}};
}
FailureVerdict End(std::string_view message) {
  return {A::EndWorker, P::None, L::Failure, true, message};
}

TEST(FailurePolicyTest, EveryRowAndItsLimit) {
  const Case cases[] = {
      // Row 1: resets and early closes retried up to 30 requests, each
      // logged, then the placeholder.
      {"reset retried at the first attempt", kReset, 1,
       Retry(P::Short, L::Failure)},
      {"reset still retried at 29 (limit off by one)", kReset, 29,
       Retry(P::Short, L::Failure)},
      {"reset gives up at 30", kReset, 30, GiveUp(L::Failure, true)},
      {"early close is row 1 too", kClosed, 1, Retry(P::Short, L::Failure)},
      {"early close gives up at 30", kClosed, 30, GiveUp(L::Failure, true)},
      // Row 2: address in use, the long pause.
      {"address in use uses the long pause", kInUse, 1,
       Retry(P::Long, L::Failure)},
      {"address in use gives up at 30", kInUse, 30, GiveUp(L::Failure, true)},
      // Row 3: a sign of a blocked address ends the worker.
      {"302 retried silently", std::string("302 Found"), 1, Retry(P::Short)},
      {"302 at 2", std::string("302 Found"), 2, Retry(P::Short)},
      {"302 ends the worker at 3", std::string("302 Found"), 3,
       End(kBannedMessage)},
      {"403 ends the worker at 3", std::string("403 Forbidden"), 3,
       End(kBannedMessage)},
      // Row 4: other socket failures end the worker.
      {"refused retried with the long pause", kRefused, 2, Retry(P::Long)},
      {"refused ends the worker at 3", kRefused, 3, End(kNetworkMessage)},
      {"time-out is a network failure", kTimedOut, 3, End(kNetworkMessage)},
      // Row 5: not found, no record.
      {"404 retried", std::string("404 Not Found"), 2, Retry(P::Short)},
      {"404 gives up without record", std::string("404 Not Found"), 3,
       GiveUp(L::NotFound, false)},
      {"400 is row 5 too", std::string("400 Bad Request"), 3,
       GiveUp(L::NotFound, false)},
      // Row 6: anything else.
      {"500 retried", std::string("500 Internal Server Error"), 1,
       Retry(P::Short)},
      {"500 gives up with record", std::string("500 Internal Server Error"), 3,
       GiveUp(L::Failure, true)},
      {"a redirect other than 302 is row 6", std::string("301 Moved"), 3,
       GiveUp(L::Failure, true)},
      {"307 is row 6", std::string("307 Temporary Redirect"), 3,
       GiveUp(L::Failure, true)},
      {"an empty text is still a text: row 6", std::string(), 3,
       GiveUp(L::Failure, true)},
      // Row 7: a failure without text.
      {"no text retried", std::nullopt, 1, Retry(P::Short)},
      {"no text gives up with the name line", std::nullopt, 3,
       GiveUp(L::NameOnly, true)},
      // Bounded bodies: the number in the text must not read as a status.
      {"too large is row 6",
       std::string("Response too large: more than "
                   "67108864 bytes"),
       3, GiveUp(L::Failure, true)},
      {"too large with 4000 is not a 400",
       std::string("Response too large: more than 4000 bytes"), 3,
       GiveUp(L::Failure, true)},
      {"too large with 10054 is not a reset",
       std::string("Response too large: more than 10054 bytes"), 3,
       GiveUp(L::Failure, true)},
      // Order: the first matching row decides.
      {"10054 is tested before Socket Error", kReset, 3,
       Retry(P::Short, L::Failure)},
      {"10048 is tested before Socket Error", kInUse, 3,
       Retry(P::Long, L::Failure)},
      {"302 is tested before 404 ('302 ... 404')", std::string("302 see 404"),
       3, End(kBannedMessage)},
      {"403 before Socket Error", std::string("403 Socket Error"), 3,
       End(kBannedMessage)},
      {"Socket Error before 404", std::string("Socket Error # 10404"), 3,
       End(kNetworkMessage)},
      {"case-sensitive: 'socket error' is row 6",
       std::string("socket error # 10061"), 3, GiveUp(L::Failure, true)},
      // Attempts past a limit (after other kinds of failures) act at once.
      {"404 after two resets gives up at once", std::string("404 Not Found"), 3,
       GiveUp(L::NotFound, false)},
      {"403 at attempt 31 ends at once", std::string("403 Forbidden"), 31,
       End(kBannedMessage)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const FailureVerdict got = ClassifyFailure(c.text, c.attempt);
    EXPECT_EQ(static_cast<int>(got.Action), static_cast<int>(c.want.Action));
    EXPECT_EQ(static_cast<int>(got.Pause), static_cast<int>(c.want.Pause));
    EXPECT_EQ(static_cast<int>(got.Line), static_cast<int>(c.want.Line));
    EXPECT_EQ(got.Record, c.want.Record);
    EXPECT_EQ(got.EndMessage, c.want.EndMessage);
  }
}

TEST(FailurePolicyTest, EndMessagesAreOneLineEach) {
  // The banned message holds one line feed and is logged in one call.
  EXPECT_EQ(kBannedMessage,
            "Error: may be your IP is banned.\nPlease try again later.");
  EXPECT_EQ(kNetworkMessage,
            "Error: Your network has problem, please check it.");
}

TEST(FailurePolicyTest, BodyCheck) {
  const std::string jpeg = test::WorkerJpeg(64, 64);
  const std::string crashed = std::string("\xFF\xD8", 2) + "text, no image";
  struct BodyCase {
    const char *what;
    std::string body;
    int32_t attempt;
    BodyVerdict want;
  };
  const BodyCase cases[] = {
      {"a whole JPEG is stored", jpeg, 1, BodyVerdict::Stored},
      {"a PNG is stored undecoded", test::WorkerPngBody(), 1,
       BodyVerdict::Stored},
      {"a crashed JPEG is retried at 1", crashed, 1, BodyVerdict::CrashedRetry},
      {"still retried at 3 (four requests in all)", crashed, 3,
       BodyVerdict::CrashedRetry},
      {"given up at 4", crashed, 4, BodyVerdict::CrashedGiveUp},
      {"GIF is invalid at once", test::WorkerGifBody(), 1,
       BodyVerdict::Invalid},
      {"an empty body is invalid, not read past its end", "", 1,
       BodyVerdict::Invalid},
      {"one byte FF is invalid", "\xFF", 1, BodyVerdict::Invalid},
      {"89 alone is invalid", "\x89", 1, BodyVerdict::Invalid},
      {"an HTML page is invalid", "<html></html>", 1, BodyVerdict::Invalid},
  };
  for (const BodyCase &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(static_cast<int>(CheckBody(c.body, c.attempt)),
              static_cast<int>(c.want));
  }
}

} // namespace
} // namespace kestrane
