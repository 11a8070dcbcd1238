#pragma once
#include <cstdint>
#include <vector>

#include "inventory/TaskInventory.h"
#include "viewer/TileDecode.h"
#include "viewer/ViewGrid.h"

namespace kestrane {

// How a cell is marked, from the task inventory.
enum class Mark : uint8_t {
  None,        // stored, nothing to mark
  Missing,     // empty with an outline
  Placeholder, // hatched
  Bad,         // red: damaged, or a ".crashed" / ".invalid" beside it
};

struct CellMark {
  int64_t Cell = 0; // index in the view grid
  TileState State = TileState::Stored;
  bool SideFile = false; // ".crashed" or ".invalid"
  Mark Kind() const;
  bool operator==(const CellMark &) const = default;
};

// The colours of the marks and of the picture's ground, 0xAARRGGBB.
namespace palette {
inline constexpr uint32_t kWindow = 0xFF2B2B2B;    // around the block
inline constexpr uint32_t kNotLoaded = 0xFF555555; // a stored tile not read yet
inline constexpr uint32_t kMissing = 0xFF161616;   // an empty cell
inline constexpr uint32_t kOutline = 0xFF9A9A9A;   // a missing cell's outline
inline constexpr uint32_t kPlaceholder = 0xFFF0B020; // hatching
inline constexpr uint32_t kBad = 0xFFE02828;         // damaged, side files
} // namespace palette

// The problems of an inventory by cell, for finding the marks of the cells
// in view without walking the block. Memory grows with the problems only.
class ProblemMap {
public:
  ProblemMap() = default;
  ProblemMap(const ViewGrid &grid, const TaskInventory &inventory);

  // nullptr: stored, nothing to mark.
  const CellMark *Find(int64_t cell) const;
  // Sorted by cell.
  const std::vector<CellMark> &Marks() const { return marks_; }
  // The first mark at or after `cell`.
  std::vector<CellMark>::const_iterator LowerBound(int64_t cell) const;

  // Cells whose mark differs between two inventories, in order: their
  // files came, went or changed.
  static std::vector<int64_t> Changed(const ProblemMap &before,
                                      const ProblemMap &after);

private:
  std::vector<CellMark> marks_;
};

// The marks of the whole block as a small picture: one pixel per `Step` x
// `Step` cells, transparent where nothing is marked; where cells of
// different marks share a pixel, red wins over hatched over missing. For
// drawing the marks of a block whose cells are too small to mark one by
// one.
struct MarksOverview {
  Pixels Image;
  int64_t Step = 1;
};
MarksOverview MakeMarksOverview(const ViewGrid &grid, const ProblemMap &map,
                                int maxSide = 2048);
// Colours one cell's pixel (when its mark outranks what is there).
void PaintOverviewCell(MarksOverview &overview, const ViewGrid &grid,
                       int64_t cell, Mark mark);

} // namespace kestrane
