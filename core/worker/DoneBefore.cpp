// Where the workers of a continued task take up their shares again, and
// how many tiles an earlier run concluded before those places.
#include <algorithm>

#include "worker/DownloadWorker.h"

namespace kestrane {

int64_t ResumeSkipCount(const DownloadTask &task, int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= task.ResumeX.size() ||
      static_cast<size_t>(index) >= task.ResumeY.size())
    return 0;
  const int32_t tx = task.ResumeX[static_cast<size_t>(index)];
  const int32_t ty = task.ResumeY[static_cast<size_t>(index)];
  if (tx == 0 || ty == 0)
    return 0;
  return (int64_t{tx} - task.MinX) * (int64_t{task.MaxY} - task.MinY + 1) +
         (int64_t{ty} - task.MinY) + 1;
}

namespace {

// How many of the sequence numbers first..last are i modulo n (n > 0,
// 0 <= i < n, first >= 1).
int64_t WithResidue(int64_t first, int64_t last, int64_t n, int64_t i) {
  if (last < first)
    return 0;
  const auto upTo = [&](int64_t s) { // of 0..s; s >= 0
    return s < i ? 0 : (s - i) / n + 1;
  };
  return upTo(last) - upTo(first - 1);
}

// The inside tiles among sequence numbers 1..skip that are i modulo n.
int64_t InsideUpTo(const DownloadTask &task, int64_t skip, int64_t n,
                   int64_t i) {
  const int64_t height = int64_t{task.MaxY} - task.MinY + 1;
  int64_t count = 0;
  for (int64_t x = task.MinX; x <= task.MaxX; ++x) {
    const int64_t columnStart = (x - task.MinX) * height; // seq before it
    if (columnStart >= skip)
      break;
    for (const RowRun &run : task.Inside.Column(static_cast<int32_t>(x)))
      count += WithResidue(
          columnStart + (run.First - task.MinY) + 1,
          std::min(skip, columnStart + (run.Last - task.MinY) + 1), n, i);
  }
  return count;
}

} // namespace

int64_t TilesDoneBefore(const DownloadTask &task) {
  // Worker i takes the sequence numbers s with s % n == i, and of those the
  // tiles inside the outline.
  const int64_t n = std::max<int64_t>(1, task.Params.ThreadCount);
  int64_t done = 0;
  for (int32_t i = 0; i < n; ++i) {
    const int64_t skip =
        std::min<int64_t>(ResumeSkipCount(task, i), task.TotalCount);
    if (skip <= 0)
      continue;
    done += task.Inside.Everything() ? WithResidue(1, skip, n, i)
                                     : InsideUpTo(task, skip, n, i);
  }
  return done;
}

} // namespace kestrane
