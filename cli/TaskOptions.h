#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cli/Commands.h"
#include "task/Estimate.h"
#include "task/TaskInput.h"
#include "task/Unitclasstask.h"

namespace kestrane::cli {

// The task options shared by `plan` and `download`, for their usage texts.
extern const char kTaskOptionsHelp[];

// A direction given by name (North, East, South, West, any case) or by its
// index 0..3.
std::optional<int> ParseDirection(std::string_view text);

// Reads --task --path --left --right --top --bottom --zoom --dir
// --area-from, each as "--opt value" or "--opt=value", into `fields`, which
// holds the defaults beforehand; --area-from sets the four edges to the box
// around a vector file's features. Returns false with `error` set at the
// first unknown option, missing value, unknown direction or unreadable
// area file.
bool ParseTaskOptions(const Args &args, TaskFields &fields, std::string &error);

// What a prepared task holds and which files it wrote, several lines, each
// ending in "\n": total, tile ranges, block edges, workers, files, least
// download time.
std::string TaskSummary(const MDTask &task);

} // namespace kestrane::cli
