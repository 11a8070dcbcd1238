#pragma once
// How far a join has come, as one fraction for a progress bar: the check of
// the tile folder, the joining of the tiles and the reduced levels, each
// weighted by the work it does.
#include <cstdint>

#include "joiner/TileJoiner.h"

namespace kestrane {

class JoinProgress {
public:
  // `overviews`: whether the join builds the reduced levels
  // (JoinOptions::Overviews).
  explicit JoinProgress(bool overviews) : overviews_(overviews) {}

  // One report of JoinOptions::Progress.
  void Report(JoinPhase phase, int64_t done, int64_t total);
  // 0 to 1; never goes back, and is 1 only once the last phase is done.
  double Fraction() const;

private:
  double Computed() const;

  bool overviews_;
  int64_t tiles_ = 0;    // the picture's tiles (the check's total)
  int64_t reduced_ = -1; // the reduced levels' tiles, once reported
  int64_t checked_ = 0, joined_ = 0, built_ = 0;
  double fraction_ = 0; // the largest so far
};

} // namespace kestrane
