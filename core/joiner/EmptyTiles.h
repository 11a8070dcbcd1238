#pragma once
#include <cstdint>
#include <utility>
#include <vector>

namespace kestrane {

// Tiles of the base picture that hold no data, one bit a tile, and its
// coarser copies: cell (i, j) of copy k is set when all 2^k x 2^k tiles
// under it are empty.
class EmptyTiles {
public:
  EmptyTiles(int64_t columns, int64_t rows) : columns_(columns), rows_(rows) {
    grids_.push_back(
        std::vector<bool>(static_cast<size_t>(columns * rows), false));
  }
  void Set(int64_t c, int64_t r) {
    grids_[0][static_cast<size_t>(r * columns_ + c)] = true;
    any_ = true;
  }
  bool Any() const { return any_; }
  // Whether cell (c, r) of copy k is empty; cells outside count as empty.
  bool Empty(int k, int64_t c, int64_t r) {
    while (static_cast<int>(grids_.size()) <= k)
      Coarsen();
    const int64_t w = Across(k), h = Down(k);
    if (c < 0 || r < 0 || c >= w || r >= h)
      return true;
    return grids_[static_cast<size_t>(k)][static_cast<size_t>(r * w + c)];
  }

private:
  int64_t Across(int k) const { return (columns_ + (1ll << k) - 1) >> k; }
  int64_t Down(int k) const { return (rows_ + (1ll << k) - 1) >> k; }
  void Coarsen() {
    const int k = static_cast<int>(grids_.size());
    const int64_t w = Across(k), h = Down(k);
    std::vector<bool> g(static_cast<size_t>(w * h));
    for (int64_t r = 0; r < h; ++r)
      for (int64_t c = 0; c < w; ++c)
        g[static_cast<size_t>(r * w + c)] = Empty(k - 1, 2 * c, 2 * r) &&
                                            Empty(k - 1, 2 * c + 1, 2 * r) &&
                                            Empty(k - 1, 2 * c, 2 * r + 1) &&
                                            Empty(k - 1, 2 * c + 1, 2 * r + 1);
    grids_.push_back(std::move(g));
  }
  int64_t columns_, rows_;
  std::vector<std::vector<bool>> grids_;
  bool any_ = false;
};

} // namespace kestrane
