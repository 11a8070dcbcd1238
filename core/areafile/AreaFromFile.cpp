#include "areafile/AreaFromFile.h"

#include <ogr_spatialref.h>

#include <cmath>
#include <memory>
#include <optional>

#include "areafile/AreaDataset.h"
#include "platform/Errors.h"
#include "platform/NumberFormat.h"

namespace kestrane {

namespace {

// The box around the points of geometries, and the first point that is no
// finite number.
class PointBox : public OGRDefaultConstGeometryVisitor {
public:
  using OGRDefaultConstGeometryVisitor::visit;
  void visit(const OGRPoint *p) override {
    if (p->IsEmpty())
      return;
    const double x = p->getX(), y = p->getY();
    if (!Infinite && (!std::isfinite(x) || !std::isfinite(y)))
      Infinite = std::isfinite(x) ? y : x;
    if (!std::isfinite(x) || !std::isfinite(y))
      return;
    Box.Merge(x, y);
    Any = true;
  }
  OGREnvelope Box;
  bool Any = false;
  std::optional<double> Infinite;
};

// The points' box of one layer, in the layer's own coordinates.
void VisitLayer(OGRLayer &layer, PointBox &box) {
  layer.ResetReading();
  for (auto &feature : layer)
    for (int g = 0; g < feature->GetGeomFieldCount(); ++g)
      if (const OGRGeometry *geometry = feature->GetGeomFieldRef(g))
        geometry->accept(&box);
}

// The envelope in longitude/latitude; layers without a coordinate system
// are taken as longitude/latitude already (as GeoJSON, KML and GPX are).
OGREnvelope ToLongitudeLatitude(const OGREnvelope &e,
                                const OGRSpatialReference *srs) {
  if (srs == nullptr || srs->IsEmpty())
    return e;
  OGRSpatialReference wgs84;
  wgs84.SetWellKnownGeogCS("WGS84");
  wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  OGRSpatialReference source(*srs);
  source.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  if (source.IsSame(&wgs84))
    return e;
  std::unique_ptr<OGRCoordinateTransformation> to(
      OGRCreateCoordinateTransformation(&source, &wgs84));
  OGREnvelope out;
  if (to == nullptr ||
      !to->TransformBounds(e.MinX, e.MinY, e.MaxX, e.MaxY, &out.MinX, &out.MinY,
                           &out.MaxX, &out.MaxY, 21))
    return e;
  return out;
}

} // namespace

GeoBox AreaFromFile(const std::string &path) {
  const AreaDataset dataset(path);
  bool any = false;
  OGREnvelope total;
  for (OGRLayer *layer : dataset.Get().GetLayers()) {
    PointBox points;
    if (layer != nullptr)
      VisitLayer(*layer, points);
    if (points.Infinite)
      throw KError(ErrorCause::InputRefused,
                   "Not a finite coordinate in " + path + ": " +
                       ShortestText(*points.Infinite));
    if (!points.Any)
      continue;
    const OGREnvelope e =
        ToLongitudeLatitude(points.Box, layer->GetSpatialRef());
    CheckOnTheGlobe(e, path);
    if (any)
      total.Merge(e);
    else
      total = e;
    any = true;
  }
  if (!any)
    throw KError(ErrorCause::InputRefused, "No features in " + path);
  return GeoBox{total.MinX, total.MaxX, total.MaxY, total.MinY};
}

} // namespace kestrane
