#include <ogr_geometry.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>

#include "areafile/AreaDataset.h"
#include "areafile/AreaFromFile.h"
#include "platform/Errors.h"
#include "platform/NumberFormat.h"

namespace kestrane {

namespace {

using Transform = std::unique_ptr<OGRCoordinateTransformation>;

OGRSpatialReference LongitudeLatitude() {
  OGRSpatialReference wgs84;
  wgs84.SetWellKnownGeogCS("WGS84");
  wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  return wgs84;
}

// The transformation of a layer's coordinates to longitude/latitude; null
// when they are that already (or the layer names no coordinate system, as
// GeoJSON, KML and GPX need not).
Transform ToLongitudeLatitude(const OGRSpatialReference *srs) {
  if (srs == nullptr || srs->IsEmpty())
    return nullptr;
  const OGRSpatialReference wgs84 = LongitudeLatitude();
  OGRSpatialReference source(*srs);
  source.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  if (source.IsSame(&wgs84))
    return nullptr;
  return Transform(OGRCreateCoordinateTransformation(&source, &wgs84));
}

[[noreturn]] void RefuseCorners(const std::string &path) {
  throw KError(ErrorCause::InputRefused,
               "The outline has more than " +
                   std::to_string(kMaxOutlineCorners) + " corners in " + path);
}

// The polygons and the lines of a file, in longitude/latitude, and how many
// corners they have together.
struct Shapes {
  OGRMultiPolygon Polygons;
  OGRMultiLineString Lines;
  size_t Corners = 0;
  std::string Path;

  void CountCorners(size_t n) {
    Corners += n;
    if (Corners > kMaxOutlineCorners)
      RefuseCorners(Path);
  }

  // Sorts a geometry's parts into polygons and lines; points only count
  // for the box.
  void Add(const OGRGeometry &g) {
    if (g.hasCurveGeometry()) {
      const std::unique_ptr<OGRGeometry> linear(g.getLinearGeometry());
      if (linear)
        Add(*linear);
      return;
    }
    switch (wkbFlatten(g.getGeometryType())) {
    case wkbPolygon:
      for (const OGRLinearRing *ring : *g.toPolygon())
        CountCorners(static_cast<size_t>(ring->getNumPoints()));
      Polygons.addGeometry(&g);
      break;
    case wkbLineString:
      CountCorners(static_cast<size_t>(g.toLineString()->getNumPoints()));
      Lines.addGeometry(&g);
      break;
    case wkbMultiPolygon:
    case wkbMultiLineString:
    case wkbGeometryCollection:
      for (const OGRGeometry *part : *g.toGeometryCollection())
        Add(*part);
      break;
    default:
      break;
    }
  }
};

Shapes ReadShapes(const AreaDataset &dataset, const std::string &path) {
  Shapes shapes;
  shapes.Path = path;
  for (OGRLayer *layer : dataset.Get().GetLayers()) {
    if (layer == nullptr)
      continue;
    const Transform to = ToLongitudeLatitude(layer->GetSpatialRef());
    layer->ResetReading();
    for (auto &feature : *layer)
      for (int i = 0; i < feature->GetGeomFieldCount(); ++i) {
        const OGRGeometry *g = feature->GetGeomFieldRef(i);
        if (g == nullptr || g->IsEmpty())
          continue;
        std::unique_ptr<OGRGeometry> copy(g->clone());
        if (to != nullptr && copy->transform(to.get()) != OGRERR_NONE)
          continue;
        shapes.Add(*copy);
      }
  }
  return shapes;
}

// The area within `metres` of the lines: buffered in an azimuthal
// equidistant projection around the lines' middle, where distances are
// true to within 1% up to about 1,500 km from it, then turned back into
// degrees.
std::unique_ptr<OGRGeometry> Corridor(const OGRMultiLineString &lines,
                                      double metres, const std::string &path) {
  OGREnvelope e;
  lines.getEnvelope(&e);
  OGRSpatialReference local;
  local.SetAE((e.MinY + e.MaxY) / 2, (e.MinX + e.MaxX) / 2, 0, 0);
  local.SetWellKnownGeogCS("WGS84");
  local.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  const OGRSpatialReference wgs84 = LongitudeLatitude();
  const Transform there(OGRCreateCoordinateTransformation(&wgs84, &local));
  const Transform back(OGRCreateCoordinateTransformation(&local, &wgs84));
  const auto refuse = [&path] {
    throw KError(ErrorCause::InputRefused,
                 "Cannot draw the corridor around the lines of " + path);
  };
  OGRMultiLineString projected(lines);
  if (!there || !back || projected.transform(there.get()) != OGRERR_NONE)
    refuse();
  std::unique_ptr<OGRGeometry> area(projected.Buffer(metres));
  if (!area || area->transform(back.get()) != OGRERR_NONE)
    refuse();
  return area;
}

OutlineRing RingOf(const OGRLinearRing &ring) {
  OutlineRing out;
  out.reserve(static_cast<size_t>(ring.getNumPoints()));
  for (const OGRPoint &p : ring)
    out.push_back({p.getX(), p.getY()});
  if (out.size() > 1 && out.front() == out.back())
    out.pop_back();
  return out;
}

// Appends the polygons of a geometry; rings of fewer than three corners
// enclose nothing and are left out.
void AppendPolygons(const OGRGeometry &g, Outline &out) {
  const auto type = wkbFlatten(g.getGeometryType());
  if (type == wkbMultiPolygon || type == wkbGeometryCollection) {
    for (const OGRGeometry *part : *g.toGeometryCollection())
      AppendPolygons(*part, out);
    return;
  }
  if (type != wkbPolygon || g.IsEmpty())
    return;
  const OGRPolygon &polygon = *g.toPolygon();
  OutlinePolygon p;
  p.Outer = RingOf(*polygon.getExteriorRing());
  if (p.Outer.size() < 3)
    return;
  for (int i = 0; i < polygon.getNumInteriorRings(); ++i)
    if (OutlineRing hole = RingOf(*polygon.getInteriorRing(i));
        hole.size() >= 3)
      p.Holes.push_back(std::move(hole));
  out.push_back(std::move(p));
}

void CheckRing(const OutlineRing &ring, const std::string &path) {
  for (size_t i = 0; i < ring.size(); ++i) {
    const LonLat &a = ring[i], &b = ring[(i + 1) % ring.size()];
    if (std::abs(a.Longitude - b.Longitude) > 180)
      throw KError(ErrorCause::InputRefused,
                   "The outline crosses the antimeridian (longitude 180) "
                   "in " +
                       path +
                       ": give its parts east and west of it as separate "
                       "polygons");
  }
}

GeoBox BoxOf(const Outline &area, const std::string &path) {
  OGREnvelope e;
  for (const OutlinePolygon &p : area)
    for (const LonLat &c : p.Outer)
      e.Merge(c.Longitude, c.Latitude);
  CheckOnTheGlobe(e, path);
  return GeoBox{e.MinX, e.MaxX, e.MaxY, e.MinY};
}

} // namespace

namespace {

[[noreturn]] void RefuseCorridor(const std::string &typed) {
  throw KError(ErrorCause::InputRefused,
               "The corridor's half-width must be a positive number of "
               "metres, at most " +
                   std::to_string(static_cast<long>(kMaxCorridorMetres)) +
                   ": " + typed);
}

} // namespace

void CheckCorridorMetres(double metres) {
  if (!(metres > 0 && metres <= kMaxCorridorMetres))
    RefuseCorridor(ShortestText(metres));
}

double ReadCorridorMetres(const std::string &text) {
  double metres = 0;
  const char *end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, metres);
  if (r.ec != std::errc() || r.ptr != end || !(metres > 0) ||
      !(metres <= kMaxCorridorMetres))
    RefuseCorridor(text);
  return metres;
}

FileArea AreaOutlineFromFile(const std::string &path,
                             std::optional<double> corridorMetres) {
  if (corridorMetres)
    CheckCorridorMetres(*corridorMetres);
  // The box of every feature, with its checks of the coordinates.
  FileArea out{{}, AreaFromFile(path)};
  // Kept open to the end: GDAL stays offline and quiet meanwhile.
  const AreaDataset dataset(path);
  const Shapes shapes = ReadShapes(dataset, path);
  AppendPolygons(shapes.Polygons, out.Area);
  if (corridorMetres && !shapes.Lines.IsEmpty())
    AppendPolygons(*Corridor(shapes.Lines, *corridorMetres, path), out.Area);
  size_t corners = 0;
  for (const OutlinePolygon &p : out.Area) {
    CheckRing(p.Outer, path);
    corners += p.Outer.size();
    for (const OutlineRing &hole : p.Holes) {
      CheckRing(hole, path);
      corners += hole.size();
    }
  }
  if (corners > kMaxOutlineCorners)
    RefuseCorners(path);
  if (!out.Area.empty())
    out.Box = BoxOf(out.Area, path);
  return out;
}

} // namespace kestrane
