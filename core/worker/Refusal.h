#pragma once
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "worker/TileHttp.h"

namespace kestrane {

// A tile service that rations its answers says "not now" with 429 Too Many
// Requests, or with 503 Service Unavailable and a Retry-After header. Such
// an answer is no failure of the tile: the workers pause together (see
// ServerPace) and ask for the same tile again. Decided here, without a
// clock of its own, so every case is a plain table.

// The value of a Retry-After header: delta-seconds ("120") or an HTTP date
// in any of its three forms ("Sun, 06 Nov 1994 08:49:37 GMT", the obsolete
// "Sunday, 06-Nov-94 08:49:37 GMT" and "Sun Nov  6 08:49:37 1994"), as the
// time to wait from `now`. A date in the past gives 0; a number of more
// than 2^31 seconds (68 years) gives 2^31; anything else (empty, garbage, a
// negative number, a date that does not exist) gives nullopt, as if there were
// no header.
std::optional<std::chrono::seconds>
ParseRetryAfter(std::string_view value,
                std::chrono::system_clock::time_point now);

// One refusal: the status text that logs it ("429 Too Many Requests") and
// the wait the server asked for, if it asked for one it could be read.
struct Refusal {
  std::string Status;
  std::optional<std::chrono::seconds> RetryAfter;
  friend bool operator==(const Refusal &, const Refusal &) = default;
};

// The refusal an answer is, or nullopt for any other answer: 429 with or
// without Retry-After; 503 only with a Retry-After that reads (a 503
// without one is a failure like any other).
std::optional<Refusal> RefusalOf(const FetchResult &result,
                                 std::chrono::system_clock::time_point now);

// The bounds of a pause. A server's Retry-After is kept within
// kLeastPause .. kLongestPause; without one the pause starts at
// kFirstBackoff and doubles with every refusal in a row up to kLongestBackoff,
// each drawn within kBackoffJitter of its value, so that many clients
// paused together do not come back together.
inline constexpr std::chrono::milliseconds kLeastPause{1000};
inline constexpr std::chrono::milliseconds kLongestPause{600000};
inline constexpr std::chrono::milliseconds kFirstBackoff{2000};
inline constexpr std::chrono::milliseconds kLongestBackoff{300000};
inline constexpr double kBackoffJitter = 0.2;

// The pause of a refusal. `inRow` counts the refusals in a row, this one
// included (1 for the first after an accepted answer); `jitter` in -1..1
// picks the point within the jitter band (0: the middle).
std::chrono::milliseconds
RefusalPause(const std::optional<std::chrono::seconds> &retryAfter, int inRow,
             double jitter);

// The one log line of a pause: "Paused by the server for 2 s (429 Too Many
// Requests)". Seconds with one decimal below 10 s unless whole.
std::string PauseLine(std::chrono::milliseconds pause, std::string_view status);

} // namespace kestrane
