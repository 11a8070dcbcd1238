#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cli/Commands.h"
#include "task/TaskInput.h"
#include "task/Unitclasstask.h"

namespace kestrane::cli {

// The task options shared by `plan` and `download`, for their usage texts.
extern const char kTaskOptionsHelp[];

// A direction given by name (North, East, South, West, any case) or by its
// index 0..3.
std::optional<int> ParseDirection(std::string_view text);

// Reads --task --path --left --right --top --bottom --zoom --dir, each as
// "--opt value" or "--opt=value", into `fields`, which holds the defaults
// beforehand. Returns false with `error` set at the first unknown option,
// missing value or unknown direction.
bool ParseTaskOptions(const Args &args, TaskFields &fields, std::string &error);

// The least time the workers' pacing allows: the largest worker share times
// 500 ms, plus 100 ms for each worker after the first.
int64_t LeastDownloadMilliseconds(int32_t totalCount, int32_t workers);
// "7.3 s", with hours, minutes and seconds added from one minute on:
// "3723.0 s (1 h 2 min 3 s)".
std::string FormatDuration(int64_t milliseconds);

// What a prepared task holds and which files it wrote, several lines, each
// ending in "\n": total, tile ranges, block edges, workers, files, least
// download time.
std::string TaskSummary(const MDTask &task);

} // namespace kestrane::cli
