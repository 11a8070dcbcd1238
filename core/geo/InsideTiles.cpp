#include "geo/InsideTiles.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "geo/TileGrid.h"
#include "platform/Errors.h"

namespace kestrane {
namespace {

// The shortest text that reads back as the same value.
std::string Shortest(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

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

// Collects, for one polygon, the rows its edges touch in each column and
// where its edges cross each column's middle line.
class PolygonScan {
public:
  PolygonScan(const GridEdges &grid, std::vector<ColumnRun> &runs)
      : grid_(grid), runs_(runs) {}

  void Add(const OutlinePolygon &polygon) {
    crossings_.clear();
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
        crossings_.push_back({c, LatitudeAt(a, b, middle)});
    }
  }

  // Along each column's middle line the polygon's inside lies between the
  // first and second crossing, the third and fourth, and so on (holes
  // included, as their crossings are counted alike). A row that no edge
  // touches is wholly inside or wholly outside: inside exactly when its
  // middle lies between such a pair.
  void AddInterior() {
    std::sort(crossings_.begin(), crossings_.end(),
              [](const Crossing &l, const Crossing &r) {
                return l.Column != r.Column ? l.Column < r.Column
                                            : l.Latitude < r.Latitude;
              });
    for (size_t i = 0; i + 1 < crossings_.size(); i += 2) {
      const Crossing &south = crossings_[i];
      const Crossing &north = crossings_[i + 1];
      if (south.Column != north.Column) {
        --i; // an odd count: only a ring that does not close gives one
        continue;
      }
      AddRows(south.Column, south.Latitude, north.Latitude);
    }
  }

  const GridEdges &grid_;
  std::vector<ColumnRun> &runs_;
  std::vector<Crossing> crossings_;
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
                         Shortest(a.Longitude) + ", latitude " +
                         Shortest(a.Latitude));
      const LonLat &b = ring[(i + 1) % ring.size()];
      if (std::abs(b.Longitude - a.Longitude) > 180)
        throw KError(ErrorCause::InputRefused,
                     "The outline crosses the 180th meridian (an edge from "
                     "longitude " +
                         Shortest(a.Longitude) + " to " +
                         Shortest(b.Longitude) +
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

  std::sort(
      runs.begin(), runs.end(), [](const ColumnRun &l, const ColumnRun &r) {
        return l.Column != r.Column ? l.Column < r.Column : l.First < r.First;
      });
  const auto columns =
      static_cast<size_t>(int64_t{block.MaxX} - block.MinX + 1);
  starts_.assign(columns + 1, 0);
  count_ = 0;
  for (size_t i = 0; i < runs.size();) {
    const ColumnRun &start = runs[i];
    RowRun merged{start.First, start.Last};
    for (++i; i < runs.size() && runs[i].Column == start.Column &&
              runs[i].First <= merged.Last + 1;
         ++i)
      merged.Last = std::max(merged.Last, runs[i].Last);
    runs_.push_back({block.MinY + merged.First, block.MinY + merged.Last});
    count_ += int64_t{merged.Last} - merged.First + 1;
    ++starts_[static_cast<size_t>(start.Column) + 1];
  }
  for (size_t c = 1; c <= columns; ++c)
    starts_[c] += starts_[c - 1];
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
