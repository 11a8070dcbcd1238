#include "areafile/AreaFromFile.h"

#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <memory>
#include <mutex>

#include "platform/Errors.h"

namespace kestrane {

namespace {

struct DatasetCloser {
  void operator()(GDALDataset *d) const { GDALClose(d); }
};

// The envelope of one layer's geometries, in the layer's own coordinates.
bool LayerEnvelope(OGRLayer &layer, OGREnvelope &total) {
  bool any = false;
  layer.ResetReading();
  for (auto &feature : layer) {
    for (int g = 0; g < feature->GetGeomFieldCount(); ++g) {
      const OGRGeometry *geometry = feature->GetGeomFieldRef(g);
      if (geometry == nullptr || geometry->IsEmpty())
        continue;
      OGREnvelope e;
      geometry->getEnvelope(&e);
      if (any) {
        total.Merge(e);
      } else {
        total = e;
        any = true;
      }
    }
  }
  return any;
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
  static std::once_flag registered;
  std::call_once(registered, [] { GDALAllRegister(); });
  // GDAL's own messages stay quiet: the failure is reported as ours.
  CPLPushErrorHandler(CPLQuietErrorHandler);
  std::unique_ptr<GDALDataset, DatasetCloser> dataset(
      GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
  CPLPopErrorHandler();
  if (!dataset)
    throw KError(ErrorCause::CannotOpen, "Cannot open file " + path);
  bool any = false;
  OGREnvelope total;
  for (OGRLayer *layer : dataset->GetLayers()) {
    OGREnvelope e;
    if (layer == nullptr || !LayerEnvelope(*layer, e))
      continue;
    e = ToLongitudeLatitude(e, layer->GetSpatialRef());
    if (any) {
      total.Merge(e);
    } else {
      total = e;
      any = true;
    }
  }
  if (!any)
    throw KError(ErrorCause::InputRefused, "No features in " + path);
  return GeoBox{total.MinX, total.MaxX, total.MaxY, total.MinY};
}

} // namespace kestrane
