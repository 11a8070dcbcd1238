#include "geo/OutlineGeoJson.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/Errors.h"
#include "platform/NumberFormat.h"

namespace kestrane {
namespace {

// The positions of one "coordinates" member as read: every corner in order,
// where each ring ends (an index into Points) and where each polygon ends
// (an index into RingEnds), and how deeply its arrays nest (1 a position,
// 3 a polygon, 4 a multipolygon).
struct Coordinates {
  std::vector<LonLat> Points;
  std::vector<size_t> RingEnds;
  std::vector<size_t> PolygonEnds;
  int Height = 0;
};

// A recursive reader of the JSON text that keeps only what makes polygons:
// the "type", "coordinates", "geometry", "geometries" and "features"
// members; everything else (properties, ids, boxes) is read over.
class Reader {
public:
  explicit Reader(std::string_view text) : t_(text) {}

  Outline Run() {
    GeoObject(1);
    SkipSpace();
    if (pos_ != t_.size())
      Fail("text after the end of the GeoJSON object");
    if (out_.empty())
      Fail("no polygon in it");
    return std::move(out_);
  }

private:
  [[noreturn]] void Fail(const std::string &why) const {
    throw KError(ErrorCause::InvalidFile,
                 why + " (at byte " + std::to_string(pos_) + ")");
  }

  void SkipSpace() {
    while (pos_ < t_.size() && (t_[pos_] == ' ' || t_[pos_] == '\t' ||
                                t_[pos_] == '\n' || t_[pos_] == '\r'))
      ++pos_;
  }
  char Peek() {
    SkipSpace();
    return pos_ < t_.size() ? t_[pos_] : '\0';
  }
  bool Eat(char c) {
    if (Peek() != c)
      return false;
    ++pos_;
    return true;
  }
  void Expect(char c) {
    if (!Eat(c))
      Fail(std::string("'") + c + "' expected");
  }
  void Enter(int depth) const {
    if (depth > kMaxGeoJsonNesting)
      Fail("nesting deeper than " + std::to_string(kMaxGeoJsonNesting));
  }
  bool Literal(std::string_view word) {
    if (t_.substr(pos_, word.size()) != word)
      return false;
    pos_ += word.size();
    return true;
  }

  std::string String();
  double Number();
  void SkipValue(int depth);
  void GeoObject(int depth);
  void Members(int depth, std::string &type, Coordinates &coords);
  int Positions(int depth, Coordinates &coords);
  LonLat Position();
  void TakePolygons(const std::string &type, const Coordinates &coords);
  OutlineRing Ring(const Coordinates &coords, size_t ring) const;

  std::string_view t_;
  size_t pos_ = 0;
  Outline out_;
};

std::string Reader::String() {
  Expect('"');
  std::string s;
  while (pos_ < t_.size() && t_[pos_] != '"') {
    const char c = t_[pos_++];
    if (static_cast<unsigned char>(c) < 0x20)
      Fail("a control character in a string");
    if (c != '\\') {
      s += c;
      continue;
    }
    if (pos_ >= t_.size())
      break;
    const char e = t_[pos_++];
    if (e == 'u') {
      // Names and types are plain ASCII; any other character stands as '?'.
      if (pos_ + 4 > t_.size())
        Fail("a cut-off \\u escape");
      pos_ += 4;
      s += '?';
    } else {
      s += e == 'n' ? '\n' : e == 't' ? '\t' : e;
    }
  }
  if (pos_ >= t_.size())
    Fail("a string without its end");
  ++pos_;
  return s;
}

double Reader::Number() {
  SkipSpace();
  const size_t start = pos_;
  while (pos_ < t_.size() &&
         (std::string_view("+-.eE0123456789").find(t_[pos_]) !=
          std::string_view::npos))
    ++pos_;
  double v = 0;
  const auto r = std::from_chars(t_.data() + start, t_.data() + pos_, v);
  if (r.ec != std::errc() || r.ptr != t_.data() + pos_ || start == pos_) {
    pos_ = start;
    Fail("not a finite number");
  }
  return v;
}

void Reader::SkipValue(int depth) {
  Enter(depth);
  const char c = Peek();
  if (c == '"') {
    String();
  } else if (c == '{' || c == '[') {
    ++pos_;
    const char close = c == '{' ? '}' : ']';
    if (Eat(close))
      return;
    do {
      if (c == '{') {
        String();
        Expect(':');
      }
      SkipValue(depth + 1);
    } while (Eat(','));
    Expect(close);
  } else if (!Literal("true") && !Literal("false") && !Literal("null")) {
    Number();
  }
}

// An object that is a GeoJSON object: a FeatureCollection, a Feature or a
// geometry. Its polygons are added to the outline once its type is known.
void Reader::GeoObject(int depth) {
  Enter(depth);
  if (Peek() == 'n' && Literal("null"))
    return; // a feature without a geometry
  std::string type;
  Coordinates coords;
  Expect('{');
  if (!Eat('}'))
    Members(depth, type, coords);
  TakePolygons(type, coords);
}

void Reader::Members(int depth, std::string &type, Coordinates &coords) {
  do {
    const std::string key = String();
    Expect(':');
    if (key == "type") {
      type = String();
    } else if (key == "coordinates") {
      coords = Coordinates{};
      coords.Height = Positions(depth + 1, coords);
    } else if (key == "geometry") {
      GeoObject(depth + 1);
    } else if (key == "features" || key == "geometries") {
      Enter(depth + 1);
      Expect('[');
      if (!Eat(']')) {
        do
          GeoObject(depth + 2);
        while (Eat(','));
        Expect(']');
      }
    } else {
      SkipValue(depth + 1);
    }
  } while (Eat(','));
  Expect('}');
}

// One array of "coordinates", however deep; returns its height.
int Reader::Positions(int depth, Coordinates &coords) {
  Enter(depth);
  Expect('[');
  const char c = Peek();
  if (c == '-' || (c >= '0' && c <= '9')) {
    coords.Points.push_back(Position());
    return 1;
  }
  if (c == ']')
    Fail("an empty coordinate list");
  int child = 0;
  do {
    const int h = Positions(depth + 1, coords);
    if (child != 0 && h != child)
      Fail("coordinate lists of different depths side by side");
    child = h;
  } while (Eat(','));
  Expect(']');
  if (child == 1)
    coords.RingEnds.push_back(coords.Points.size());
  else if (child == 2)
    coords.PolygonEnds.push_back(coords.RingEnds.size());
  return child + 1;
}

// The numbers of a position after its '['; a height and more are read over.
LonLat Reader::Position() {
  std::vector<double> n;
  do {
    n.push_back(Number());
  } while (Eat(',') && n.size() < 8);
  Expect(']');
  if (n.size() < 2)
    Fail("a position of fewer than two numbers");
  const LonLat p{n[0], n[1]};
  if (!std::isfinite(p.Longitude) || std::abs(p.Longitude) > 180)
    Fail("a longitude outside -180..180: " + ShortestText(p.Longitude));
  if (!std::isfinite(p.Latitude) || std::abs(p.Latitude) > 90)
    Fail("a latitude outside -90..90: " + ShortestText(p.Latitude));
  return p;
}

OutlineRing Reader::Ring(const Coordinates &coords, size_t ring) const {
  const size_t begin = ring == 0 ? 0 : coords.RingEnds[ring - 1];
  const size_t end = coords.RingEnds[ring];
  OutlineRing r(coords.Points.begin() + static_cast<ptrdiff_t>(begin),
                coords.Points.begin() + static_cast<ptrdiff_t>(end));
  if (r.size() > 1 && r.front() == r.back())
    r.pop_back();
  if (r.size() < 3)
    Fail("a ring of fewer than three corners");
  return r;
}

void Reader::TakePolygons(const std::string &type, const Coordinates &coords) {
  if (type == "FeatureCollection" || type == "Feature" ||
      type == "GeometryCollection")
    return;
  if (type == "Point" || type == "MultiPoint" || type == "LineString" ||
      type == "MultiLineString")
    Fail("a " + type + " is no polygon");
  const int want = type == "Polygon" ? 3 : type == "MultiPolygon" ? 4 : 0;
  if (want == 0)
    Fail("not a GeoJSON object (type \"" + type + "\")");
  if (coords.Height != want)
    Fail("the coordinates of a " + type + " nested wrongly");
  size_t ring = 0;
  for (const size_t polygonEnd : coords.PolygonEnds) {
    OutlinePolygon polygon;
    polygon.Outer = Ring(coords, ring++);
    while (ring < polygonEnd)
      polygon.Holes.push_back(Ring(coords, ring++));
    out_.push_back(std::move(polygon));
  }
}

void AppendRing(std::string &s, const OutlineRing &ring) {
  s += '[';
  if (ring.empty()) {
    s += ']';
    return;
  }
  for (size_t i = 0; i <= ring.size(); ++i) {
    const LonLat &p = ring[i % ring.size()];
    if (i > 0)
      s += ',';
    s += '[' + ShortestText(p.Longitude) + ',' + ShortestText(p.Latitude) + ']';
  }
  s += ']';
}

} // namespace

Outline ParseOutlineGeoJson(std::string_view text) {
  return Reader(text).Run();
}

std::string OutlineToGeoJson(const Outline &outline) {
  std::string s = "{\"type\":\"FeatureCollection\",\"features\":[{\"type\":"
                  "\"Feature\",\"properties\":{},\"geometry\":{\"type\":"
                  "\"MultiPolygon\",\"coordinates\":[";
  for (size_t i = 0; i < outline.size(); ++i) {
    if (i > 0)
      s += ",\n";
    s += '[';
    AppendRing(s, outline[i].Outer);
    for (const OutlineRing &hole : outline[i].Holes) {
      s += ',';
      AppendRing(s, hole);
    }
    s += ']';
  }
  s += "]}}]}\n";
  return s;
}

} // namespace kestrane
