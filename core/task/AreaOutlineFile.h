#pragma once
// A task's outline on disk: "<task>_area.geojson" beside its project file
// (GeoJSON, longitude/latitude degrees). The project file does not name it:
// a task without one is the rectangle of its edges.
#include <cstddef>
#include <string>

#include "geo/Outline.h"
#include "task/DownloadTask.h"

namespace kestrane {

// The largest outline file read; a larger one is refused unread.
inline constexpr size_t kMaxOutlineFileBytes = size_t{64} << 20; // 64 MiB

// Path + the project file's name without its extension + "_area.geojson".
std::string AreaOutlinePath(const TaskParameters &params);

// The outline in the file at `path`; empty when nothing is there. Throws
// KError naming the file: CannotOpen ("Cannot open file " + path) when it
// cannot be read or is larger than kMaxOutlineFileBytes, InvalidFile ("The
// area outline " + path + " is not a polygon GeoJSON file: " + why) when
// it holds no polygons, and InputRefused ("The area outline " + path + ": "
// + why) for an outline no task takes (one crossing the 180th meridian).
Outline ReadAreaOutline(const std::string &path);

// The task's outline file, written whole and atomically, when the task has
// an outline and is not continued (a continued task's file is where it was
// read from). A fresh task without an outline removes a file an earlier
// task of that name left, so that it is not read back as this task's.
// Throws KError(CannotWrite, "Cannot create file " + path).
void WriteAreaOutline(const DownloadTask &task);

} // namespace kestrane
