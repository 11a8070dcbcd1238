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
// A fresh task is wanted inside Fields.Area (empty: the rectangle of the
// fields); a continued one reads its own outline from beside its project
// file (ReadAreaOutline), and an outline file that cannot be read refuses it.
struct TaskPreparation {
  TaskFields Fields;
  Settings Config;
  TaskEnvironment Env;
  // Called once the input checks have passed and before anything of the
  // task is written: whether the task continues an earlier run, or nullopt
  // to refuse it (the callback has said why). Empty: a fresh task.
  std::function<std::optional<bool>(const CheckedTaskInput &)> Decide;
};

// What preparing a task came to. Params is set once the checks passed and
// Decide agreed, Task once the task was built and its tile folder is there
// (with the workers cut to the tile count in both). A refusal leaves Task
// empty; the refusal has been told.
struct PreparedTask {
  std::optional<TaskParameters> Params;
  std::shared_ptr<const DownloadTask> Task;
};

// Prepares a task for Start and for `plan`: the input checks, the
// parameters, building the task, its tile folder, the positions a continued
// task resumes from, and the worker count cut to the tile count. A refused
// input or a task that could not be built or given its tile folder is told
// to `messages` (may be null; the failure's own text, then "Error: Create
// task failure."). Writes no file but the tile folder: the caller writes
// the task's files (WriteTaskFiles) once it has taken the task.
PreparedTask PrepareTask(const TaskPreparation &preparation,
                         MessageSink *messages);

} // namespace kestrane
