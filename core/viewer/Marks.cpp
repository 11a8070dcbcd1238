#include "viewer/Marks.h"

#include <algorithm>

namespace kestrane {

Mark CellMark::Kind() const {
  if (State == TileState::Damaged || SideFile)
    return Mark::Bad;
  if (State == TileState::Placeholder)
    return Mark::Placeholder;
  if (State == TileState::Missing)
    return Mark::Missing;
  return Mark::None;
}

ProblemMap::ProblemMap(const ViewGrid &grid, const TaskInventory &inventory) {
  marks_.reserve(inventory.Problems.size());
  for (const InventoryTile &t : inventory.Problems) {
    const ViewCell c = grid.CellOf(t.X, t.Y);
    marks_.push_back(
        {grid.Index(c.Column, c.Row), t.State, t.Crashed || t.Invalid});
  }
  std::sort(
      marks_.begin(), marks_.end(),
      [](const CellMark &a, const CellMark &b) { return a.Cell < b.Cell; });
}

std::vector<CellMark>::const_iterator
ProblemMap::LowerBound(int64_t cell) const {
  return std::lower_bound(
      marks_.begin(), marks_.end(), cell,
      [](const CellMark &m, int64_t c) { return m.Cell < c; });
}

const CellMark *ProblemMap::Find(int64_t cell) const {
  const auto it = LowerBound(cell);
  return it != marks_.end() && it->Cell == cell ? &*it : nullptr;
}

std::vector<int64_t> ProblemMap::Changed(const ProblemMap &before,
                                         const ProblemMap &after) {
  std::vector<int64_t> cells;
  auto a = before.marks_.begin(), b = after.marks_.begin();
  while (a != before.marks_.end() || b != after.marks_.end()) {
    if (b == after.marks_.end() ||
        (a != before.marks_.end() && a->Cell < b->Cell)) {
      cells.push_back((a++)->Cell);
    } else if (a == before.marks_.end() || b->Cell < a->Cell) {
      cells.push_back((b++)->Cell);
    } else {
      if (!(*a == *b))
        cells.push_back(a->Cell);
      ++a;
      ++b;
    }
  }
  return cells;
}

namespace {

int Rank(Mark m) {
  return static_cast<int>(m);
}

uint32_t OverviewColour(Mark m) {
  switch (m) {
  case Mark::Missing:
    return palette::kMissing;
  case Mark::Placeholder:
    return (palette::kPlaceholder & 0x00FFFFFFu) | 0xC0000000u;
  case Mark::Bad:
    return palette::kBad;
  case Mark::None:
    break;
  }
  return 0;
}

Mark MarkOfColour(uint32_t c) {
  if (c == palette::kBad)
    return Mark::Bad;
  if (c == OverviewColour(Mark::Placeholder))
    return Mark::Placeholder;
  if (c == palette::kMissing)
    return Mark::Missing;
  return Mark::None;
}

} // namespace

MarksOverview MakeMarksOverview(const ViewGrid &grid, const ProblemMap &map,
                                int maxSide) {
  MarksOverview o;
  const int64_t longest = std::max(grid.Columns(), grid.Rows());
  while (longest > o.Step * maxSide)
    o.Step *= 2;
  o.Image.Width = static_cast<int>((grid.Columns() + o.Step - 1) / o.Step);
  o.Image.Height = static_cast<int>((grid.Rows() + o.Step - 1) / o.Step);
  o.Image.Data.assign(static_cast<size_t>(o.Image.Width) * o.Image.Height, 0);
  for (const CellMark &m : map.Marks())
    PaintOverviewCell(o, grid, m.Cell, m.Kind());
  return o;
}

void PaintOverviewCell(MarksOverview &o, const ViewGrid &grid, int64_t cell,
                       Mark mark) {
  const int64_t col = cell % grid.Columns() / o.Step;
  const int64_t row = cell / grid.Columns() / o.Step;
  uint32_t &p = o.Image.Data[static_cast<size_t>(row * o.Image.Width + col)];
  if (Rank(mark) > Rank(MarkOfColour(p)))
    p = OverviewColour(mark);
}

} // namespace kestrane
