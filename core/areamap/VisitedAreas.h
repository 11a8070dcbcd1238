#pragma once
// The areas of the project files in a folder: what has been downloaded
// there already, drawn by the picker as outlines with the task names.
#include <string>
#include <vector>

#include "areamap/Mercator.h"

namespace kestrane {

struct VisitedArea {
  std::string TaskName; // the file name without ".ktsk"
  GeoBox Block;         // the block edges of the task
};

// Every "*.ktsk" file directly in `folder` whose four block edges
// (Left_Longitude_download, ... in [AREA]) read as numbers, by task name.
// A missing folder gives none; files that do not read are left out.
std::vector<VisitedArea> ReadVisitedAreas(const std::string &folder);

} // namespace kestrane
