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

// The exit status of a job, whose tasks run one after another: the worst
// of the tasks' statuses, by severity rather than by number: a task with
// tiles missing (1) is worse than a done one (0), a failure that ended a
// task (2) worse than that, and a stop by signal (130), which also ends
// the job, worst of all. A status outside the four counts as a failure.
constexpr int ExitSeverity(int status) {
  switch (status) {
  case kExitDone:
    return 0;
  case kExitIncomplete:
    return 1;
  case kExitStopped:
    return 3;
  default:
    return 2;
  }
}
constexpr int WorseExitStatus(int a, int b) {
  return ExitSeverity(b) > ExitSeverity(a) ? b : a;
}

} // namespace kestrane
