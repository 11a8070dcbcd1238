#pragma once
// How far a join has come, as one fraction for a progress bar: the check of
// the tile folder, the joining of the tiles, the reduced levels and the
// laying out of the file, each weighted by the work it does.
#include <cstdint>

#include "joiner/TileJoiner.h"

namespace kestrane {

class JoinProgress {
public:
  // `overviews`: whether the join builds the reduced levels
  // (JoinOptions::Overviews); `laysOut`: whether the file is laid out from
  // what was built at the end (the TIFF's Writing phase).
  explicit JoinProgress(bool overviews, bool laysOut = false)
      : overviews_(overviews), laysOut_(laysOut) {}

  // One report of JoinOptions::Progress.
  void Report(JoinPhase phase, int64_t done, int64_t total);
  // 0 to 1; never goes back, and is 1 only once the last phase is done.
  double Fraction() const;

private:
  double Computed() const;

  bool overviews_, laysOut_;
  int64_t tiles_ = 0;    // the picture's tiles (the check's total)
  int64_t reduced_ = -1; // the reduced levels' tiles, once reported
  int64_t checked_ = 0, joined_ = 0, built_ = 0;
  double laidOut_ = 0;  // the share of the layout written, 0 to 1
  double fraction_ = 0; // the largest so far
};

} // namespace kestrane
