#include "areamap/PlaceOutline.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace kestrane {

namespace {

struct Ring {
  const MapPointF *Begin = nullptr, *End = nullptr;
  WorldBox Box;
  double Area = 0; // the box's, to choose the smallest holder
};

// Even-odd point-in-ring test in world units.
bool Holds(const Ring &ring, MapPointF p) {
  bool inside = false;
  const size_t n = static_cast<size_t>(ring.End - ring.Begin);
  for (size_t i = 0, j = n - 1; i < n; j = i++) {
    const MapPointF a = ring.Begin[i], b = ring.Begin[j];
    if ((a.Y > p.Y) != (b.Y > p.Y) &&
        p.X < (b.X - a.X) * (p.Y - a.Y) / (b.Y - a.Y) + a.X)
      inside = !inside;
  }
  return inside;
}

std::vector<Ring> RingsOf(const MapRings &rings) {
  std::vector<Ring> out;
  for (size_t r = 0; r < rings.RingCount(); ++r) {
    Ring ring{rings.Points.data() + rings.Starts[r],
              rings.Points.data() + rings.Starts[r + 1],
              {2, 2, -1, -1},
              0};
    if (ring.End - ring.Begin < 3)
      continue;
    for (const MapPointF *p = ring.Begin; p != ring.End; ++p) {
      ring.Box.Left = std::min(ring.Box.Left, double(p->X));
      ring.Box.Right = std::max(ring.Box.Right, double(p->X));
      ring.Box.Top = std::min(ring.Box.Top, double(p->Y));
      ring.Box.Bottom = std::max(ring.Box.Bottom, double(p->Y));
    }
    ring.Area =
        (ring.Box.Right - ring.Box.Left) * (ring.Box.Bottom - ring.Box.Top);
    out.push_back(ring);
  }
  return out;
}

// The smallest other ring that holds ring `r`, if any.
std::optional<size_t> Holder(const std::vector<Ring> &rings, size_t r) {
  std::optional<size_t> best;
  for (size_t o = 0; o < rings.size(); ++o) {
    if (o == r || rings[o].Area < rings[r].Area ||
        !rings[o].Box.Intersects(rings[r].Box) ||
        !Holds(rings[o], *rings[r].Begin))
      continue;
    if (!best || rings[o].Area < rings[*best].Area)
      best = o;
  }
  return best;
}

OutlineRing InDegrees(const Ring &ring) {
  OutlineRing out;
  out.reserve(static_cast<size_t>(ring.End - ring.Begin));
  for (const MapPointF *p = ring.Begin; p != ring.End; ++p)
    out.push_back({WorldXToLongitude(p->X), WorldYToLatitude(p->Y)});
  return out;
}

} // namespace

Outline PlaceOutline(const MapPlace &place) {
  const std::vector<Ring> rings = RingsOf(place.Fine);
  std::vector<std::optional<size_t>> holder(rings.size());
  std::vector<int> polygonOf(rings.size(), -1);
  Outline out;
  for (size_t r = 0; r < rings.size(); ++r) {
    holder[r] = Holder(rings, r);
    if (holder[r])
      continue;
    polygonOf[r] = static_cast<int>(out.size());
    out.push_back({InDegrees(rings[r]), {}});
  }
  // An island in a lake (a ring inside a hole) is its own polygon again.
  for (size_t r = 0; r < rings.size(); ++r) {
    if (!holder[r])
      continue;
    if (const int p = polygonOf[*holder[r]]; p >= 0)
      out[static_cast<size_t>(p)].Holes.push_back(InDegrees(rings[r]));
    else if (holder[*holder[r]])
      out.push_back({InDegrees(rings[r]), {}});
  }
  return out;
}

GeoBox OutlineBox(const Outline &area) {
  if (area.empty())
    return {};
  double inf = std::numeric_limits<double>::infinity();
  GeoBox box{inf, -inf, -inf, inf};
  for (const OutlinePolygon &p : area)
    for (const LonLat &c : p.Outer) {
      box.Left = std::min(box.Left, c.Longitude);
      box.Right = std::max(box.Right, c.Longitude);
      box.Top = std::max(box.Top, c.Latitude);
      box.Bottom = std::min(box.Bottom, c.Latitude);
    }
  return box;
}

std::string OutlineSummary(const Outline &area) {
  return "Outline: " + std::to_string(area.size()) +
         (area.size() == 1 ? " polygon" : " polygons");
}

} // namespace kestrane
