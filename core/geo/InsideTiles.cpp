#include "geo/InsideTiles.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "geo/TileGrid.h"
#include "platform/Errors.h"
#include "platform/NumberFormat.h"

namespace kestrane {
namespace {

// A run of rows of one column, before the runs are put in order.
struct ColumnRun {
  int32_t Column; // counted from the block's west column
  int32_t First, Last;
};

// A ring edge crossing the vertical line through a column's middle.
struct Crossing {
  int32_t Column;
  double Latitude;
};

// The edges of the block's columns and rows in degrees: Edges[i] is the
// west (south) edge of the i-th column (row), Edges[size - 1] the east
// (north) edge of the last. Both rise.
struct GridEdges {
  std::vector<double> Columns, Rows;

  explicit GridEdges(const GridBlock &b) {
    for (int64_t x = b.MinX; x <= int64_t{b.MaxX} + 1; ++x)
      Columns.push_back(TileXToLongitude(static_cast<double>(x), b.Zoom));
    for (int64_t y = b.MinY; y <= int64_t{b.MaxY} + 1; ++y)
      Rows.push_back(TileYToLatitude(static_cast<double>(y), b.Zoom));
  }
};

// The cells i (0 .. edges.size() - 2) whose closed span [edges[i],
// edges[i + 1]] meets [lo, hi]; first > last when none does.
std::pair<int32_t, int32_t> CellsTouching(const std::vector<double> &edges,
                                          double lo, double hi) {
  const auto first =
      std::lower_bound(edges.begin() + 1, edges.end(), lo) - edges.begin() - 1;
  const auto last =
      std::upper_bound(edges.begin(), edges.end() - 1, hi) - edges.begin() - 1;
  return {static_cast<int32_t>(first), static_cast<int32_t>(last)};
}

// The latitude of the edge a-b at a longitude within its span; exact at
// its corners.
double LatitudeAt(const LonLat &a, const LonLat &b, double lon) {
  if (lon == a.Longitude)
    return a.Latitude;
  if (lon == b.Longitude)
    return b.Latitude;
  return a.Latitude + (lon - a.Longitude) * (b.Latitude - a.Latitude) /
                          (b.Longitude - a.Longitude);
}

// Puts `items` in the order of their columns (0 .. columns - 1, given by
// `column`) in O(items + columns), then each column's items in the order
// `less` gives; returns where each column's items begin (columns + 1
// entries). An outline of many corners gives many short columns: this keeps
// the set-up in proportion to the outline's size.
template <class T, class ColumnOf, class Less>
std::vector<uint32_t> SortByColumn(std::vector<T> &items, size_t columns,
                                   ColumnOf column, Less less) {
  std::vector<uint32_t> starts(columns + 1, 0);
  for (const T &item : items)
    ++starts[column(item) + 1];
  for (size_t c = 1; c <= columns; ++c)
    starts[c] += starts[c - 1];
  std::vector<T> sorted(items.size());
  std::vector<uint32_t> next(starts.begin(), starts.end() - 1);
  for (const T &item : items)
    sorted[next[column(item)]++] = item;
  for (size_t c = 0; c < columns; ++c)
    if (starts[c + 1] - starts[c] > 1)
      std::sort(sorted.begin() + starts[c], sorted.begin() + starts[c + 1],
                less);
  items.swap(sorted);
  return starts;
}

// Collects, for one polygon, the rows its edges touch in each column and
// where its edges cross each column's middle line.
class PolygonScan {
public:
  PolygonScan(const GridEdges &grid, std::vector<ColumnRun> &runs)
      : grid_(grid), runs_(runs), southParity_(grid.Columns.size() - 1, 0) {}

  void Add(const OutlinePolygon &polygon) {
    crossings_.clear();
    firstColumn_ = std::numeric_limits<int32_t>::max();
    lastColumn_ = -1;
    AddRing(polygon.Outer);
    for (const OutlineRing &hole : polygon.Holes)
      AddRing(hole);
    AddInterior();
  }

private:
  void AddRows(int32_t column, double lo, double hi) {
    const auto [first, last] = CellsTouching(grid_.Rows, lo, hi);
    if (first <= last)
      runs_.push_back({column, first, last});
  }

  void AddRing(const OutlineRing &ring) {
    for (size_t i = 0; i < ring.size(); ++i)
      AddEdge(ring[i], ring[(i + 1) % ring.size()]);
  }

  // The rows the edge touches in every column it passes, and its crossing
  // of each column's middle line (counted when exactly one end lies west
  // of or on the line, so a corner on the line counts once).
  void AddEdge(const LonLat &a, const LonLat &b) {
    const double lo = std::min(a.Longitude, b.Longitude);
    const double hi = std::max(a.Longitude, b.Longitude);
    const auto [first, last] = CellsTouching(grid_.Columns, lo, hi);
    for (int32_t c = first; c <= last; ++c) {
      const double west = grid_.Columns[static_cast<size_t>(c)];
      const double east = grid_.Columns[static_cast<size_t>(c) + 1];
      const double l0 = LatitudeAt(a, b, std::max(lo, west));
      const double l1 = LatitudeAt(a, b, std::min(hi, east));
      if (lo == hi)
        AddRows(c, std::min(a.Latitude, b.Latitude),
                std::max(a.Latitude, b.Latitude));
      else
        AddRows(c, std::min(l0, l1), std::max(l0, l1));
      const double middle = (west + east) / 2;
      if ((a.Longitude <= middle) != (b.Longitude <= middle))
        AddCrossing(c, LatitudeAt(a, b, middle));
    }
  }

  // A crossing north of the block changes nothing in it; of those south of
  // it only their count matters: whether the line enters the block inside.
  void AddCrossing(int32_t column, double latitude) {
    if (latitude > grid_.Rows.back())
      return;
    if (latitude < grid_.Rows.front()) {
      uint8_t &parity = southParity_[static_cast<size_t>(column)];
      if (parity == 0)
        southColumns_.push_back(column);
      parity ^= 1;
      return;
    }
    crossings_.push_back({column, latitude});
    firstColumn_ = std::min(firstColumn_, column);
    lastColumn_ = std::max(lastColumn_, column);
  }

  // Along each column's middle line the polygon's inside lies between the
  // first and second crossing, the third and fourth, and so on (holes
  // included, as their crossings are counted alike); an odd count south of
  // the block counts as one crossing at its south edge. A row that no edge
  // touches is wholly inside or wholly outside: inside exactly when its
  // middle lies between such a pair.
  void AddInterior() {
    for (const int32_t c : southColumns_) {
      uint8_t &parity = southParity_[static_cast<size_t>(c)];
      if (parity == 0)
        continue; // listed twice: its count went odd again
      parity = 0;
      crossings_.push_back({c, grid_.Rows.front()});
      firstColumn_ = std::min(firstColumn_, c);
      lastColumn_ = std::max(lastColumn_, c);
    }
    southColumns_.clear();
    if (crossings_.empty())
      return;
    const int32_t base = firstColumn_;
    const std::vector<uint32_t> starts = SortByColumn(
        crossings_, static_cast<size_t>(lastColumn_ - base + 1),
        [base](const Crossing &k) {
          return static_cast<size_t>(k.Column - base);
        },
        [](const Crossing &l, const Crossing &r) {
          return l.Latitude < r.Latitude;
        });
    for (size_t c = 0; c + 1 < starts.size(); ++c) {
      // An odd count (a ring crossing the block's north edge) leaves the
      // line inside up to that edge.
      for (uint32_t i = starts[c]; i < starts[c + 1]; i += 2)
        AddRows(base + static_cast<int32_t>(c), crossings_[i].Latitude,
                i + 1 < starts[c + 1] ? crossings_[i + 1].Latitude
                                      : grid_.Rows.back());
    }
  }

  const GridEdges &grid_;
  std::vector<ColumnRun> &runs_;
  std::vector<Crossing> crossings_; // those within the block's rows
  int32_t firstColumn_ = 0, lastColumn_ = -1;
  // Per column, whether an odd count of crossings lies south of the block,
  // and the columns where one came.
  std::vector<uint8_t> southParity_;
  std::vector<int32_t> southColumns_;
};

} // namespace

void CheckOutline(const Outline &outline) {
  const auto checkRing = [](const OutlineRing &ring) {
    for (size_t i = 0; i < ring.size(); ++i) {
      const LonLat &a = ring[i];
      if (!std::isfinite(a.Longitude) || !std::isfinite(a.Latitude) ||
          std::abs(a.Longitude) > 180 || std::abs(a.Latitude) > 90)
        throw KError(ErrorCause::InputRefused,
                     "The outline has a corner off the globe: longitude " +
                         ShortestText(a.Longitude) + ", latitude " +
                         ShortestText(a.Latitude));
      const LonLat &b = ring[(i + 1) % ring.size()];
      if (std::abs(b.Longitude - a.Longitude) > 180)
        throw KError(ErrorCause::InputRefused,
                     "The outline crosses the 180th meridian (an edge from "
                     "longitude " +
                         ShortestText(a.Longitude) + " to " +
                         ShortestText(b.Longitude) +
                         "); a task's area must lie on one side of it.");
    }
  };
  for (const OutlinePolygon &polygon : outline) {
    checkRing(polygon.Outer);
    for (const OutlineRing &hole : polygon.Holes)
      checkRing(hole);
  }
}

InsideTiles::InsideTiles(const Outline &outline, const GridBlock &block)
    : block_(block), everything_(outline.empty()), count_(block.Tiles()) {
  if (everything_)
    return;
  CheckOutline(outline);
  const GridEdges grid(block);
  std::vector<ColumnRun> runs;
  PolygonScan scan(grid, runs);
  for (const OutlinePolygon &polygon : outline)
    scan.Add(polygon);

  const auto columns =
      static_cast<size_t>(int64_t{block.MaxX} - block.MinX + 1);
  const std::vector<uint32_t> byColumn = SortByColumn(
      runs, columns,
      [](const ColumnRun &r) { return static_cast<size_t>(r.Column); },
      [](const ColumnRun &l, const ColumnRun &r) { return l.First < r.First; });
  starts_.assign(columns + 1, 0);
  count_ = 0;
  for (size_t c = 0; c < columns; ++c) {
    for (uint32_t i = byColumn[c]; i < byColumn[c + 1];) {
      RowRun merged{runs[i].First, runs[i].Last};
      for (++i; i < byColumn[c + 1] && runs[i].First <= merged.Last + 1; ++i)
        merged.Last = std::max(merged.Last, runs[i].Last);
      runs_.push_back({block.MinY + merged.First, block.MinY + merged.Last});
      count_ += int64_t{merged.Last} - merged.First + 1;
    }
    starts_[c + 1] = static_cast<uint32_t>(runs_.size());
  }
}

bool InsideTiles::Contains(int32_t x, int32_t y) const {
  if (!InBlock(x, y))
    return false;
  if (everything_)
    return true;
  const auto c = static_cast<size_t>(x - block_.MinX);
  const auto begin = runs_.begin() + starts_[c];
  const auto end = runs_.begin() + starts_[c + 1];
  // The first run ending at or north of y.
  const auto it = std::lower_bound(
      begin, end, y, [](const RowRun &r, int32_t row) { return r.Last < row; });
  return it != end && it->First <= y;
}

std::vector<RowRun> InsideTiles::Column(int32_t x) const {
  if (x < block_.MinX || x > block_.MaxX)
    return {};
  if (everything_)
    return {{block_.MinY, block_.MaxY}};
  const auto c = static_cast<size_t>(x - block_.MinX);
  return {runs_.begin() + starts_[c], runs_.begin() + starts_[c + 1]};
}

} // namespace kestrane
