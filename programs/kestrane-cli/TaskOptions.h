#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Commands.h"
#include "Parse.h"
#include "task/DownloadTask.h"
#include "task/Estimate.h"
#include "task/TaskInput.h"

namespace kestrane::cli {

// A direction given by name (North, East, South, West, any case) or by its
// index 0..3.
std::optional<int> ParseDirection(std::string_view text);

// Adds --task --path --left --right --top --bottom --zoom --dir (each as
// "--opt value" or "--opt=value"; given twice, the last counts) to a
// command; parsing writes them into `fields`, which holds the defaults
// beforehand and must outlive the parse. An unknown direction is refused.
// --area-from FILE sets the four edges to the box around a GeoJSON, KML or
// GPX file's features and the area to its polygons (AreaOutlineFromFile);
// an unreadable file is refused. --corridor METRES, only with --area-from,
// adds the corridor of that half-width around the file's lines.
void AddTaskOptions(CLI::App &app, TaskFields &fields);

// What a prepared task holds and which files it wrote, several lines, each
// ending in "\n": total, tile ranges, block edges, workers, files, least
// download time (no shorter than the tiles at `maxRate` a second; 0: no
// cap).
std::string TaskSummary(const DownloadTask &task, double maxRate = 0);

} // namespace kestrane::cli
