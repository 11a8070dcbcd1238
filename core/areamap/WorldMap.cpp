#include "areamap/WorldMap.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/Errors.h"
#include "platform/Files.h"

namespace kestrane {

namespace {

constexpr char kMagic[8] = {'K', 'W', 'M', 'A', 'P', '0', '0', '1'};

class Writer {
public:
  template <class T> void Put(const T &value) {
    const char *p = reinterpret_cast<const char *>(&value);
    bytes.append(p, sizeof(T));
  }
  void PutText(const std::string &text) {
    Put(static_cast<uint32_t>(text.size()));
    bytes += text;
  }
  void PutRings(const MapRings &rings) {
    Put(static_cast<uint32_t>(rings.Starts.size()));
    Put(static_cast<uint32_t>(rings.Points.size()));
    // An empty vector's data() may be null: nothing to append then.
    if (!rings.Starts.empty())
      bytes.append(reinterpret_cast<const char *>(rings.Starts.data()),
                   rings.Starts.size() * sizeof(uint32_t));
    if (!rings.Points.empty())
      bytes.append(reinterpret_cast<const char *>(rings.Points.data()),
                   rings.Points.size() * sizeof(MapPointF));
  }
  std::string bytes;
};

// Reads what Writer wrote; every read checks the length left, so a cut or
// foreign file fails instead of reading past its end.
class Reader {
public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {}
  template <class T> bool Get(T &value) {
    if (rest_.size() < sizeof(T))
      return false;
    std::memcpy(&value, rest_.data(), sizeof(T));
    rest_.remove_prefix(sizeof(T));
    return true;
  }
  bool GetText(std::string &text) {
    uint32_t n = 0;
    if (!Get(n) || rest_.size() < n)
      return false;
    text.assign(rest_.data(), n);
    rest_.remove_prefix(n);
    return true;
  }
  bool GetRings(MapRings &rings) {
    uint32_t starts = 0, points = 0;
    if (!Get(starts) || !Get(points))
      return false;
    const uint64_t need = uint64_t{starts} * sizeof(uint32_t) +
                          uint64_t{points} * sizeof(MapPointF);
    if (rest_.size() < need)
      return false;
    rings.Starts.resize(starts);
    rings.Points.resize(points);
    if (starts > 0)
      std::memcpy(rings.Starts.data(), rest_.data(), starts * sizeof(uint32_t));
    rest_.remove_prefix(starts * sizeof(uint32_t));
    if (points > 0)
      std::memcpy(rings.Points.data(), rest_.data(),
                  points * sizeof(MapPointF));
    rest_.remove_prefix(points * sizeof(MapPointF));
    // Ring bounds must lie within the points, in order.
    for (size_t i = 0; i < rings.Starts.size(); ++i)
      if (rings.Starts[i] > points ||
          (i > 0 && rings.Starts[i] < rings.Starts[i - 1]))
        return false;
    return true;
  }
  bool AtEnd() const { return rest_.empty(); }

private:
  std::string_view rest_;
};

double SegmentDistanceSquared(const MapPointF &p, const MapPointF &a,
                              const MapPointF &b) {
  const double dx = b.X - a.X, dy = b.Y - a.Y;
  const double len2 = dx * dx + dy * dy;
  double t = 0;
  if (len2 > 0)
    t = std::clamp(((p.X - a.X) * dx + (p.Y - a.Y) * dy) / len2, 0.0, 1.0);
  const double ex = a.X + t * dx - p.X, ey = a.Y + t * dy - p.Y;
  return ex * ex + ey * ey;
}

} // namespace

WorldMap LoadWorldMap(const std::string &path) {
  const std::string bytes = ReadFileBytes(path);
  const KError invalid(ErrorCause::InvalidFile, "Invalid map file " + path);
  if (bytes.size() < sizeof(kMagic) ||
      std::memcmp(bytes.data(), kMagic, sizeof(kMagic)) != 0)
    throw invalid;
  Reader in(std::string_view(bytes).substr(sizeof(kMagic)));
  uint32_t count = 0;
  if (!in.Get(count))
    throw invalid;
  WorldMap map;
  map.Places.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    MapPlace place;
    uint8_t kind = 0;
    if (!in.Get(kind) || kind > 1 || !in.GetText(place.Name) ||
        !in.GetText(place.Country) || !in.Get(place.Box) ||
        !in.Get(place.Label) || !in.GetRings(place.Coarse) ||
        !in.GetRings(place.Fine))
      throw invalid;
    place.Kind = static_cast<PlaceKind>(kind);
    map.Places.push_back(std::move(place));
  }
  if (!in.AtEnd())
    throw invalid;
  return map;
}

void SaveWorldMap(const WorldMap &map, const std::string &path) {
  Writer out;
  out.bytes.append(kMagic, sizeof(kMagic));
  out.Put(static_cast<uint32_t>(map.Places.size()));
  for (const MapPlace &place : map.Places) {
    out.Put(static_cast<uint8_t>(place.Kind));
    out.PutText(place.Name);
    out.PutText(place.Country);
    out.Put(place.Box);
    out.Put(place.Label);
    out.PutRings(place.Coarse);
    out.PutRings(place.Fine);
  }
  if (!WriteFileAtomic(path, out.bytes))
    throw KError(ErrorCause::CannotWrite, "Unable to write to " + path);
}

std::vector<MapPointF> SimplifyRing(const std::vector<MapPointF> &ring,
                                    double tolerance) {
  const size_t n = ring.size();
  if (n <= 4)
    return ring;
  // Iterative Douglas-Peucker over index ranges; the first and last points
  // stay, and so does the point farthest from them, so a closed ring never
  // collapses to a line.
  std::vector<char> keep(n, 0);
  keep[0] = keep[n - 1] = 1;
  size_t far = 1;
  double farD = -1;
  for (size_t i = 1; i + 1 < n; ++i) {
    const double dx = ring[i].X - ring[0].X, dy = ring[i].Y - ring[0].Y;
    if (dx * dx + dy * dy > farD) {
      farD = dx * dx + dy * dy;
      far = i;
    }
  }
  keep[far] = 1;
  const double tol2 = tolerance * tolerance;
  std::vector<std::pair<size_t, size_t>> stack = {{0, far}, {far, n - 1}};
  while (!stack.empty()) {
    const auto [a, b] = stack.back();
    stack.pop_back();
    if (b <= a + 1)
      continue;
    size_t best = a;
    double bestD = -1;
    for (size_t i = a + 1; i < b; ++i) {
      const double d = SegmentDistanceSquared(ring[i], ring[a], ring[b]);
      if (d > bestD) {
        bestD = d;
        best = i;
      }
    }
    if (bestD > tol2) {
      keep[best] = 1;
      stack.emplace_back(a, best);
      stack.emplace_back(best, b);
    }
  }
  std::vector<MapPointF> out;
  for (size_t i = 0; i < n; ++i)
    if (keep[i])
      out.push_back(ring[i]);
  return out;
}

} // namespace kestrane
