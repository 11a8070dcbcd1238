#pragma once
// The commands' tasks and jobs: one task as plan, download and resume run
// it, and the jobs of several zooms and directions (task/Job.h) that run
// their tasks one after another.
#include <optional>
#include <string>

#include "TaskOptions.h"
#include "control/TaskPrepare.h"
#include "inventory/TaskInventory.h"
#include "platform/StopSignal.h"
#include "task/TaskInput.h"

namespace kestrane::cli {

// How one task's run ended: its exit status, and the count of the tile
// folder at its end (none when the task did not start).
struct TaskOutcome {
  int Status = 0;
  std::optional<InventoryCounts> End;
};

// What pressing Start does, then the timer until the task has ended;
// `stop` (the stop signals' request) stops it as the Stop button does.
// `maxRate`: --max-rate, in place of the settings' cap. The inventory's
// counts are printed at the end.
TaskOutcome RunTask(const TaskFields &fields, bool restart,
                    std::optional<double> maxRate, StopFlag &stop);

// Prepares the task of `preparation.Fields` afresh and writes its files
// (an existing project file is refused); with `printSummary` its size and
// files on stdout. Returns the exit status.
int PlanTask(TaskPreparation preparation, bool printSummary);

// plan, download and resume of a job; each returns the exit status.
int RunJobPlan(const TaskPreparation &preparation, const JobChoice &job);
int RunJobDownload(const TaskFields &fields, const JobChoice &job, bool restart,
                   std::optional<double> maxRate);
int RunJobResume(const std::string &jobFile, std::optional<double> maxRate);

} // namespace kestrane::cli
