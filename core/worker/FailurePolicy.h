#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "worker/FailureTexts.h"

namespace kestrane {

// What a download worker does after one request for a tile. Decided here,
// in one place, from the request's outcome and the number of requests made
// so far for the tile (the first request is attempt 1, requests of every
// kind count together); the worker only carries the verdict out.

// Which pause comes before the next request of the tile.
enum class RetryPause {
  None,
  Short, // WorkerPacing::ShortRetry (1000 ms)
  Long,  // WorkerPacing::LongRetry (2000 ms)
};

// The line the worker logs first for a failed request.
enum class FailureLine {
  None,
  Failure,  // "T" + n + " " + failure text + "->" + url
  NotFound, // "Error: the image is not found on server." + failure text
  NameOnly, // name + ":failed ->" + url
};

enum class FailureAction {
  Retry,     // pause, then request the tile again
  GiveUp,    // the blank placeholder takes the tile's place (where no file
             // is yet), "got a blank image!", the tile is concluded
  EndWorker, // log EndMessage and end this worker; the tile stays open
};

struct FailureVerdict {
  FailureAction Action = FailureAction::Retry;
  RetryPause Pause = RetryPause::None; // for Retry
  FailureLine Line = FailureLine::None;
  bool Record = false;         // record path + "|" + url after the line
  std::string_view EndMessage; // for EndWorker
  friend bool operator==(const FailureVerdict &,
                         const FailureVerdict &) = default;
};

// The failure classification of a failed request. `failureText` is nullopt
// for a failure that carries no text.
FailureVerdict ClassifyFailure(const std::optional<std::string> &failureText,
                               int32_t attempt);

// The check of a body that came with a success answer.
enum class BodyVerdict {
  Stored,        // a PNG, or a JPEG that decodes: write it to the tile
  CrashedRetry,  // a JPEG that does not decode: crashed line, short pause,
                 // request again
  CrashedGiveUp, // the same at the limit: crashed line, record, ".crashed"
                 // side file, placeholder, "got a crashed image!"
  Invalid,       // neither PNG nor JPEG (or under 2 bytes): ":failed ->"
                 // line, record, ".invalid" side file, placeholder,
                 // "got a invalid image!"
};

BodyVerdict CheckBody(std::string_view body, int32_t attempt);

// What one request left of its tile, once the worker has carried out the
// verdict. Only a concluded tile moves the worker's position (the resume
// position of a later run) and its counts.
enum class TileOutcome {
  RequestAgain, // open: the tile is requested again after its pause
  Stored,       // concluded: the body is in the tile's file
  GivenUp,      // concluded: the placeholder stands for it (where no file
                // was yet), a bad body kept in its side file
  EndsWorker,   // open: the worker ends here (banned, no network, a file
                // that cannot be written); a later run fetches the tile
  Stopped,      // open: the stop request came while the worker waited for
                // the server's pace; a later run fetches the tile
};

constexpr bool Concludes(TileOutcome outcome) {
  return outcome == TileOutcome::Stored || outcome == TileOutcome::GivenUp;
}

} // namespace kestrane
