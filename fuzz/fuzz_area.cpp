// Random bytes as an area file (--area-from, the picker's "Open area..."):
// the first byte picks the file's extension, the rest is the file. Besides
// the sanitizers' findings it fails when
// - the importer gives a box that is not on the globe (an edge that is not
//   finite, outside -180..180 or -90..90, or the edges the wrong way round),
//   or an outline with a corner off the globe, a ring of fewer than three
//   corners or an edge across the antimeridian (bit 2 of the first byte
//   asks for a corridor of 50 m around the lines);
// - it fails with anything but the system's own failure naming the file;
// - one import costs more than five seconds of CPU (libFuzzer's own
//   time-out catches a hang).
#include "areafile/AreaFromFile.h"
#include "fuzz/FuzzTemp.h"
#include "platform/Errors.h"

#include <cmath>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace {

using kestrane::fuzz::Fail;

const char *const kExtensions[] = {".geojson", ".kml", ".gpx", ".json"};

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

bool OnTheGlobe(const kestrane::GeoBox &b) {
  const auto within = [](double v, double limit) {
    return std::isfinite(v) && v >= -limit && v <= limit;
  };
  return within(b.Left, 180) && within(b.Right, 180) && within(b.Top, 90) &&
         within(b.Bottom, 90) && b.Left <= b.Right && b.Bottom <= b.Top;
}

// Every corner of an outline on the globe, and no edge across the
// antimeridian.
bool OutlineOnTheGlobe(const kestrane::Outline &area) {
  const auto ring = [](const kestrane::OutlineRing &r) {
    for (size_t i = 0; i < r.size(); ++i) {
      const kestrane::LonLat &a = r[i], &b = r[(i + 1) % r.size()];
      if (!OnTheGlobe({a.Longitude, a.Longitude, a.Latitude, a.Latitude}) ||
          std::abs(a.Longitude - b.Longitude) > 180)
        return false;
    }
    return r.size() >= 3;
  };
  for (const kestrane::OutlinePolygon &p : area) {
    if (!ring(p.Outer))
      return false;
    for (const kestrane::OutlineRing &hole : p.Holes)
      if (!ring(hole))
        return false;
  }
  return true;
}

// The box, then the outline (with a corridor around the lines when
// `corridor`).
void Import(const std::string &path, bool corridor) {
  const double cpu0 = ThreadCpuSeconds();
  try {
    if (!OnTheGlobe(kestrane::AreaFromFile(path)))
      Fail("a box off the globe");
    const kestrane::FileArea area = kestrane::AreaOutlineFromFile(
        path, corridor ? std::optional<double>(50) : std::nullopt);
    if (!OnTheGlobe(area.Box) || !OutlineOnTheGlobe(area.Area))
      Fail("an outline off the globe");
  } catch (const kestrane::KError &e) {
    if (std::string(e.what()).find(path) == std::string::npos)
      Fail("a failure that does not name the file");
  } catch (...) {
    Fail("a failure that is not the system's own");
  }
  if (ThreadCpuSeconds() - cpu0 > 5.0)
    Fail("one import cost more than five seconds of CPU");
}

} // namespace

// GDAL registers its readers once, at the first import: done here, so that
// what it keeps for the whole process is not taken for a leak of an input.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  const std::string path = kestrane::fuzz::ScratchFolder() + "first.geojson";
  kestrane::fuzz::WriteRaw(path, R"({"type": "Point", "coordinates": [1, 2]})");
  Import(path, true);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0)
    return 0;
  const std::string path =
      kestrane::fuzz::ScratchFolder() + "area" + kExtensions[data[0] % 4];
  kestrane::fuzz::WriteRaw(
      path, std::string(reinterpret_cast<const char *>(data) + 1, size - 1));
  Import(path, (data[0] & 4) != 0);
  return 0;
}
