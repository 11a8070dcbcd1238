#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Errors.h"
#include "task/DownloadTask.h"
#include "task/Settings.h"
#include "task/TaskInput.h"

namespace kestrane {

// What preparing a task needs: the fields as typed, the settings (tile
// hosts and proxy) and the task's environment (its Hosts are taken from
// the settings).
struct TaskPreparation {
  TaskFields Fields;
  Settings Config;
  TaskEnvironment Env;
  // Called once the input checks have passed and before anything of the
  // task is written: whether the task continues an earlier run, or nullopt
  // to refuse it (the callback has said why). Empty: a fresh task.
  std::function<std::optional<bool>(const CheckedTaskInput &)> Decide;
};

// A prepared task. Params is set once the checks passed and Decide agreed,
// Task once the task was built; a write that failed afterwards leaves both.
struct PreparedTask {
  std::shared_ptr<TaskParameters> Params;
  std::unique_ptr<DownloadTask> Task;
};

// Prepares a task for Start and for `plan`: the input checks, the
// parameters, building the task, the worker count cut to the tile count,
// the project file, the tile list, the log header and the empty failed-tile
// list, then the removal of temporary files that a run killed in mid-write
// left beside the tiles and the task files. A refused input or a task that
// could not be built is told to `messages` (may be null; the failure's own
// text, then "Error: Create task failure.") and gives false; an error of the
// writes propagates, with `out` holding what was prepared.
bool PrepareTask(const TaskPreparation &preparation, MessageSink *messages,
                 PreparedTask &out);

} // namespace kestrane
