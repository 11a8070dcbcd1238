#pragma once
#include <cstdint>
#include <vector>

#include "inventory/TaskInventory.h"

namespace kestrane::joiner_detail {

// The inventory's state of every cell of the picture (rows from the top),
// two bits a cell: a quarter of a byte a tile, however many tiles are not
// stored whole.
class CellStates {
public:
  explicit CellStates(int64_t cells)
      : words_(static_cast<size_t>((cells + 31) / 32), 0) {}
  TileState Get(int64_t cell) const {
    return static_cast<TileState>(
        (words_[static_cast<size_t>(cell >> 5)] >> Shift(cell)) & 3u);
  }
  void Set(int64_t cell, TileState state) {
    uint64_t &w = words_[static_cast<size_t>(cell >> 5)];
    w = (w & ~(uint64_t{3} << Shift(cell))) |
        (uint64_t{static_cast<uint8_t>(state)} << Shift(cell));
  }

private:
  static_assert(static_cast<int>(TileState::Stored) == 0 &&
                static_cast<int>(TileState::Missing) == 3);
  static unsigned Shift(int64_t cell) {
    return static_cast<unsigned>(cell & 31) * 2;
  }
  std::vector<uint64_t> words_;
};

} // namespace kestrane::joiner_detail
