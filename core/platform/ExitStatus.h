#pragma once
// The exit statuses of the command-line programs (kestrane-cli and
// tilejoin), the same in every command:
//   0   the work is done (every tile stored or joined, the task prepared)
//   1   the run went to its end, but not every tile is there (given up,
//       a placeholder, missing, not joined)
//   2   a failure ended the command: input refused, a file that cannot be
//       read or written, a library that failed
//   130 stopped by SIGINT, SIGTERM or SIGHUP
#include "platform/Errors.h"

namespace kestrane {

inline constexpr int kExitDone = 0;
inline constexpr int kExitIncomplete = 1;
inline constexpr int kExitFailed = 2;
inline constexpr int kExitStopped = 130;

// The exit status of a command that a failure of `cause` ended. Every cause
// is named, so that a new one needs its status chosen here.
constexpr int ExitStatusFor(ErrorCause cause) {
  switch (cause) {
  case ErrorCause::InputRefused:
  case ErrorCause::CannotOpen:
  case ErrorCause::InvalidFile:
  case ErrorCause::CannotWrite:
  case ErrorCause::SystemFailed:
    return kExitFailed;
  }
  return kExitFailed;
}

} // namespace kestrane
