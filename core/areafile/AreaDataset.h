#pragma once
// An area file opened for reading with GDAL, shared by the box and the
// outline readers of this library (not for use elsewhere: it hands out
// GDAL's own types).
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <memory>
#include <string>

namespace kestrane {

// The file at `path` opened by one of GDAL's GeoJSON, KML, LIBKML or GPX
// readers, from a copy of its bytes in memory. While this object lives,
// GDAL on this thread fetches nothing over the network and keeps its own
// messages quiet. Throws KError "Cannot open file " + path (no such
// regular file, or no reader takes it) and "The area file is larger than
// 64 MiB: " + path.
class AreaDataset {
public:
  explicit AreaDataset(const std::string &path);
  ~AreaDataset();
  AreaDataset(const AreaDataset &) = delete;
  AreaDataset &operator=(const AreaDataset &) = delete;
  GDALDataset &Get() const;

private:
  struct Open;
  std::unique_ptr<Open> open_;
};

// Refuses a box that leaves the globe, naming the file and the value:
// "Not a finite coordinate in ", "Longitude outside -180..180 in ",
// "Latitude outside -90..90 in " + path + ": " + value.
void CheckOnTheGlobe(const OGREnvelope &e, const std::string &path);

} // namespace kestrane
