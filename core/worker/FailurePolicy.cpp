#include "worker/FailurePolicy.h"

#include <array>

#include "tile/TileCheck.h"

namespace kestrane {

namespace {

using A = FailureAction;
using L = FailureLine;
using P = RetryPause;

// One row of the classification: a request is retried while attempt <
// Limit, after Pause, logging EachLine; at the limit come LastLine, the
// record when Record is set, and the row's action.
struct Row {
  std::array<std::string_view, 2> Contains; // both empty: any text
  int32_t Limit;
  P Pause;
  L EachLine;
  L LastLine;
  bool Record;
  A AtLimit;
  std::string_view EndMessage = {};
};

// Searched in order with plain case-sensitive substrings; the first match
// decides. "Response too large" comes first: the limit it names is a number
// and could otherwise read as a status code ("... more than 4000 bytes").
// clang-format off
constexpr Row kRows[] = {
    // contains
    //   limit  pause     each line    last line    record  at the limit
    {{kResponseTooLarge},
         3,     P::Short, L::None,     L::Failure,  true,   A::GiveUp},
    {{kConnectionReset, kClosedGracefully},                     // row 1
         30,    P::Short, L::Failure,  L::Failure,  true,   A::GiveUp},
    {{kAddressInUse},                                           // row 2
         30,    P::Long,  L::Failure,  L::Failure,  true,   A::GiveUp},
    {{kStatusFound, kStatusForbidden},                          // row 3
         3,     P::Short, L::None,     L::Failure,  true,   A::EndWorker,
         kBannedMessage},
    {{kSocketError},                                            // row 4
         3,     P::Long,  L::None,     L::Failure,  true,   A::EndWorker,
         kNetworkMessage},
    {{kStatusNotFound, kStatusBadRequest},                      // row 5
         3,     P::Short, L::None,     L::NotFound, false,  A::GiveUp},
    {{},                                                        // row 6
         3,     P::Short, L::None,     L::Failure,  true,   A::GiveUp},
};

// Row 7: a failure that carries no text.
constexpr Row kNoTextRow =
    {{},
         3,     P::Short, L::None,     L::NameOnly, true,   A::GiveUp};
// clang-format on

bool Matches(const Row &row, const std::string &text) {
  if (row.Contains[0].empty() && row.Contains[1].empty())
    return true;
  for (std::string_view needle : row.Contains)
    if (!needle.empty() && text.find(needle) != std::string::npos)
      return true;
  return false;
}

const Row &RowFor(const std::optional<std::string> &text) {
  if (!text)
    return kNoTextRow;
  for (const Row &row : kRows)
    if (Matches(row, *text))
      return row;
  return kRows[std::size(kRows) - 1];
}

// A JPEG body that does not decode is requested again while attempt <= this.
constexpr int32_t kCrashedRetries = 3;

} // namespace

FailureVerdict ClassifyFailure(const std::optional<std::string> &failureText,
                               int32_t attempt) {
  const Row &row = RowFor(failureText);
  FailureVerdict v;
  if (attempt < row.Limit) {
    v.Action = A::Retry;
    v.Pause = row.Pause;
    v.Line = row.EachLine;
    return v;
  }
  v.Action = row.AtLimit;
  v.Line = row.LastLine;
  v.Record = row.Record;
  v.EndMessage = row.EndMessage;
  return v;
}

BodyVerdict CheckBody(std::string_view body, int32_t attempt) {
  const ImageSignature signature = SignatureOf(body);
  if (signature == ImageSignature::Png)
    return BodyVerdict::Stored;
  if (signature != ImageSignature::Jpeg)
    return BodyVerdict::Invalid;
  if (JpegDecodes(body))
    return BodyVerdict::Stored;
  return attempt <= kCrashedRetries ? BodyVerdict::CrashedRetry
                                    : BodyVerdict::CrashedGiveUp;
}

} // namespace kestrane
