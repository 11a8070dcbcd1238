#pragma once
// Tile bodies made to cost a decoder time or memory, with the worker's
// verdict on each: every decoder of the program (the workers' check, the
// joiner's, the viewer's) must agree with it.
#include <string>
#include <vector>

#include "tests/support/HostileJpeg.h"
#include "tests/support/TileBodies.h"

namespace kestrane::test {

struct HostileBody {
  const char *What;
  std::string Bytes;
  bool Decodes; // within the bounds of the workers' check
};

inline std::vector<HostileBody> HostileBodies() {
  const std::string progressive = WorkerJpeg(256, 256, true);
  const int scans = hostile::CountScans(progressive);
  return {
      {"4096 wide: the largest side taken", WorkerJpeg(4096, 8), true},
      {"4097 wide", WorkerJpeg(4097, 8), false},
      {"4097 high", WorkerJpeg(8, 4097), false},
      {"8000 x 8000 progressive", hostile::FlatProgressiveJpeg(8000, 8000),
       false},
      {"64 scans", hostile::RepeatLastScan(progressive, 64 - scans + 1), true},
      {"65 scans", hostile::RepeatLastScan(progressive, 65 - scans + 1), false},
      {"a flat 2048 x 2048 whose last scan repeats 1000 times",
       hostile::RepeatLastScan(hostile::FlatProgressiveJpeg(2048, 2048), 1000),
       false},
      {"baseline 4096 x 4096", hostile::SmoothJpeg(4096, 4096, false), true},
      {"progressive 4096 x 2048 needs more than 16 MiB",
       hostile::SmoothJpeg(4096, 2048, true), false},
      {"progressive 1024 x 1024", hostile::SmoothJpeg(1024, 1024, true), true},
  };
}

} // namespace kestrane::test
