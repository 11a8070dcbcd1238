// Build step: derives the picker's map file from Natural Earth's country
// and state/province outlines (a GeoPackage read with GDAL/OGR).
//   kestrane-make-worldmap SOURCE.gpkg OUT.bin
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "areamap/WorldMap.h"
#include "platform/Errors.h"

namespace kestrane {
namespace {

struct DatasetCloser {
  void operator()(GDALDataset *d) const { GDALClose(d); }
};

MapRings Simplified(const std::vector<std::vector<MapPointF>> &rings,
                    double tolerance) {
  MapRings out;
  out.Starts.push_back(0);
  for (const auto &ring : rings) {
    float minX = 2, maxX = -1, minY = 2, maxY = -1;
    for (const MapPointF &p : ring) {
      minX = std::min(minX, p.X);
      maxX = std::max(maxX, p.X);
      minY = std::min(minY, p.Y);
      maxY = std::max(maxY, p.Y);
    }
    // Islands smaller than the tolerance would be a dot at that level.
    if (maxX - minX < tolerance && maxY - minY < tolerance)
      continue;
    const std::vector<MapPointF> kept = SimplifyRing(ring, tolerance);
    out.Points.insert(out.Points.end(), kept.begin(), kept.end());
    out.Starts.push_back(static_cast<uint32_t>(out.Points.size()));
  }
  return out;
}

void AddPolygon(const OGRPolygon &polygon,
                std::vector<std::vector<MapPointF>> &rings) {
  for (const OGRLinearRing *ring : polygon) {
    std::vector<MapPointF> points;
    points.reserve(static_cast<size_t>(ring->getNumPoints()));
    for (const OGRPoint &p : *ring)
      points.push_back({static_cast<float>(LongitudeToWorldX(p.getX())),
                        static_cast<float>(LatitudeToWorldY(p.getY()))});
    if (points.size() >= 3)
      rings.push_back(std::move(points));
  }
}

// The label goes inside the largest part (France's label in France, not
// between its overseas parts).
WorldPoint LabelPoint(const OGRGeometry &geometry) {
  const OGRGeometry *largest = &geometry;
  if (const auto *multi = dynamic_cast<const OGRMultiPolygon *>(&geometry)) {
    double best = -1;
    for (const OGRPolygon *part : *multi)
      if (part->get_Area() > best) {
        best = part->get_Area();
        largest = part;
      }
  }
  OGRPoint point;
  if (largest->Centroid(&point) != OGRERR_NONE)
    return {0.5, 0.5};
  if (!largest->Contains(&point))
    if (const auto *polygon = dynamic_cast<const OGRPolygon *>(largest))
      polygon->PointOnSurface(&point);
  return {LongitudeToWorldX(point.getX()), LatitudeToWorldY(point.getY())};
}

void ReadLayer(GDALDataset &source, const char *layerName,
               const char *nameField, const char *countryField, PlaceKind kind,
               WorldMap &map) {
  OGRLayer *layer = source.GetLayerByName(layerName);
  if (layer == nullptr)
    throw KError(ErrorCause::InvalidFile, std::string("No layer ") + layerName);
  for (auto &feature : *layer) {
    const OGRGeometry *geometry = feature->GetGeometryRef();
    if (geometry == nullptr || geometry->IsEmpty())
      continue;
    std::vector<std::vector<MapPointF>> rings;
    const auto type = wkbFlatten(geometry->getGeometryType());
    if (type == wkbPolygon) {
      AddPolygon(*geometry->toPolygon(), rings);
    } else if (type == wkbMultiPolygon) {
      for (const OGRPolygon *part : *geometry->toMultiPolygon())
        AddPolygon(*part, rings);
    }
    if (rings.empty())
      continue;
    MapPlace place;
    place.Kind = kind;
    place.Name = feature->GetFieldAsString(nameField);
    if (countryField != nullptr)
      place.Country = feature->GetFieldAsString(countryField);
    if (place.Name.empty())
      continue;
    place.Box = {2, 2, -1, -1};
    for (const auto &ring : rings)
      for (const MapPointF &p : ring) {
        place.Box.Left = std::min<double>(place.Box.Left, p.X);
        place.Box.Right = std::max<double>(place.Box.Right, p.X);
        place.Box.Top = std::min<double>(place.Box.Top, p.Y);
        place.Box.Bottom = std::max<double>(place.Box.Bottom, p.Y);
      }
    place.Label = LabelPoint(*geometry);
    place.Coarse = Simplified(rings, kCoarseTolerance);
    place.Fine = Simplified(rings, kFineTolerance);
    map.Places.push_back(std::move(place));
  }
}

} // namespace
} // namespace kestrane

int main(int argc, char **argv) {
  using namespace kestrane;
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SOURCE.gpkg OUT.bin\n", argv[0]);
    return 2;
  }
  try {
    GDALAllRegister();
    std::unique_ptr<GDALDataset, DatasetCloser> source(
        GDALDataset::Open(argv[1], GDAL_OF_VECTOR | GDAL_OF_READONLY));
    if (!source)
      throw KError(ErrorCause::CannotOpen,
                   std::string("Cannot open file ") + argv[1]);
    WorldMap map;
    ReadLayer(*source, "countries", "NAME", nullptr, PlaceKind::Country, map);
    ReadLayer(*source, "states_provinces", "name", "admin", PlaceKind::Province,
              map);
    SaveWorldMap(map, argv[2]);
    size_t coarse = 0, fine = 0;
    for (const MapPlace &p : map.Places) {
      coarse += p.Coarse.Points.size();
      fine += p.Fine.Points.size();
    }
    std::printf("%zu places, %zu coarse and %zu fine points\n",
                map.Places.size(), coarse, fine);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
