#include "task/AreaOutlineFile.h"

#include <cerrno>
#include <cstdio>
#include <optional>

#include "geo/InsideTiles.h"
#include "geo/OutlineGeoJson.h"
#include "platform/Errors.h"
#include "platform/Files.h"

namespace kestrane {

std::string AreaOutlinePath(const TaskParameters &params) {
  const std::string &name = params.TaskFileName;
  return params.Path +
         name.substr(0, name.size() - ExtractFileExt(name).size()) +
         "_area.geojson";
}

Outline ReadAreaOutline(const std::string &path) {
  bool missing = false;
  const std::optional<std::string> text =
      TryReadFileBytes(path, &missing, kMaxOutlineFileBytes);
  if (!text) {
    if (missing)
      return {};
    throw KError(ErrorCause::CannotOpen, "Cannot open file " + path);
  }
  Outline outline;
  try {
    outline = ParseOutlineGeoJson(*text);
  } catch (const KError &e) {
    throw KError(ErrorCause::InvalidFile, "The area outline " + path +
                                              " is not a polygon GeoJSON "
                                              "file: " +
                                              e.what());
  }
  try {
    CheckOutline(outline);
  } catch (const KError &e) {
    throw KError(ErrorCause::InputRefused,
                 "The area outline " + path + ": " + e.what());
  }
  return outline;
}

void WriteAreaOutline(const DownloadTask &task) {
  const TaskParameters &p = task.Params;
  if (p.ContinueTask)
    return;
  const std::string path = AreaOutlinePath(p);
  if (p.Area.empty()) {
    if (std::remove(path.c_str()) != 0 && errno != ENOENT)
      throw KError(ErrorCause::CannotWrite, "Cannot create file " + path);
    return;
  }
  if (!WriteFileAtomic(path, OutlineToGeoJson(p.Area)))
    throw KError(ErrorCause::CannotWrite, "Cannot create file " + path);
}

} // namespace kestrane
