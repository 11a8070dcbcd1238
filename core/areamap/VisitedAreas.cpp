#include "areamap/VisitedAreas.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "platform/Ini.h"
#include "task/TaskInput.h"

namespace kestrane {

std::vector<VisitedArea> ReadVisitedAreas(const std::string &folder) {
  namespace fs = std::filesystem;
  std::vector<VisitedArea> areas;
  std::error_code ec;
  fs::directory_iterator it(folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const fs::path &path = it->path();
    if (path.extension() != ".ktsk" || !it->is_regular_file(ec))
      continue;
    const IniFile ini(path.string());
    const auto edge = [&ini](const char *key) {
      return ReadCoordinate(ini.ReadString("AREA", key, ""));
    };
    const std::optional<double> l = edge("Left_Longitude_download"),
                                r = edge("Right_Longitude_download"),
                                t = edge("Top_Latitude_download"),
                                b = edge("Bottom_Latitude_download");
    if (!l || !r || !t || !b)
      continue;
    areas.push_back({path.stem().string(), GeoBox{*l, *r, *t, *b}});
  }
  std::sort(areas.begin(), areas.end(),
            [](const VisitedArea &a, const VisitedArea &b) {
              return a.TaskName < b.TaskName;
            });
  return areas;
}

} // namespace kestrane
