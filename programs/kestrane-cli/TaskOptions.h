#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Commands.h"
#include "Parse.h"
#include "task/DownloadTask.h"
#include "task/Estimate.h"
#include "task/TaskInput.h"

namespace kestrane::cli {

// The zooms and directions of a job (task/Job.h): both empty when the
// options ask for one task.
struct JobChoice {
  std::vector<int32_t> Zooms, Dirs;
  bool Several() const { return !Zooms.empty() || !Dirs.empty(); }
};

// Adds --task --path --left --right --top --bottom --zoom --dir (each as
// "--opt value" or "--opt=value"; given twice, the last counts) to a
// command; parsing writes them into `fields`, which holds the defaults
// beforehand and must outlive the parse. An unknown direction is refused.
// --area-from FILE sets the four edges to the box around a GeoJSON, KML or
// GPX file's features and the area to its polygons (AreaOutlineFromFile);
// an unreadable file is refused. --corridor METRES, only with --area-from,
// adds the corridor of that half-width around the file's lines. A --zoom
// list ("16-18", "14,16") or a --dir list ("all", "North,East") goes into
// `job` instead (a refused list ends the parse), a single zoom or direction
// into `fields` as before.
void AddTaskOptions(CLI::App &app, TaskFields &fields, JobChoice &job);

// What a prepared task holds and which files it wrote, several lines, each
// ending in "\n": total, tile ranges, block edges, workers, files, least
// download time (no shorter than the tiles at `maxRate` a second; 0: no
// cap).
std::string TaskSummary(const DownloadTask &task, double maxRate = 0);

} // namespace kestrane::cli
