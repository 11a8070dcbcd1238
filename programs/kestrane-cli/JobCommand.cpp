// Jobs: several zooms and directions of one area, one ordinary task each,
// run one after another; the job file lists their project files.
#include <cstdio>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "JobRun.h"
#include "control/TaskControl.h"
#include "platform/ExitStatus.h"
#include "platform/Files.h"
#include "task/Job.h"
#include "task/Settings.h"

namespace kestrane::cli {
namespace {

void Refusal(const std::string &text) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", text.c_str());
}

// The project file of each task, after its input checks (which create a
// missing output folder); nullopt, the refusal told, when one is refused.
// Nothing of a job is written before every task has passed.
std::optional<std::vector<std::string>>
CheckedProjectFiles(const std::vector<TaskFields> &tasks) {
  std::vector<std::string> files;
  for (const TaskFields &t : tasks) {
    const TaskInputCheck check = CheckTaskInput(t);
    if (!check.Ok()) {
      Refusal(*check.Message);
      return std::nullopt;
    }
    files.push_back(check.Input.Path + check.Input.TaskFileName);
  }
  return files;
}

// The job file lies beside its tasks' project files.
std::string JobFilePath(const std::vector<std::string> &projectFiles,
                        const TaskFields &fields) {
  return ExtractFilePath(projectFiles.front()) +
         ExtractFileName(JobFileNameFor(fields.TaskName));
}

// One summary line of a task of the job.
std::string SummaryLine(const std::string &projectFile,
                        const std::optional<TaskOutcome> &outcome) {
  std::string line = "Task " + ExtractFileName(projectFile) + ": ";
  if (!outcome)
    return line + "not started";
  switch (outcome->Status) {
  case kExitDone:
    line += "complete";
    break;
  case kExitIncomplete:
    line += "incomplete";
    break;
  case kExitStopped:
    line += "stopped";
    break;
  default:
    line += "failed";
  }
  if (outcome->End)
    line += ", " + std::to_string(outcome->End->Stored) + " of " +
            std::to_string(outcome->End->Total) + " tiles stored";
  if (outcome->Status != kExitDone)
    line += " (exit " + std::to_string(outcome->Status) + ")";
  return line;
}

// Runs the job's tasks one after another: the fields of task i come from
// `fieldsOf(i)` (a failure there fails that task only). A stop by signal
// (`stop`) ends the running task as it ends a single one and starts no
// other.
// Then one summary line per task; the exit status is the worst of the
// tasks' (WorseExitStatus).
int RunJobTasks(const std::string &jobFile,
                const std::vector<std::string> &projectFiles,
                const std::function<TaskFields(size_t)> &fieldsOf, bool restart,
                std::optional<double> maxRate, StopFlag &stop) {
  const size_t n = projectFiles.size();
  std::vector<std::optional<TaskOutcome>> outcomes(n);
  int worst = kExitDone;
  for (size_t i = 0; i < n; ++i) {
    if (stop.Requested()) { // between two tasks
      worst = WorseExitStatus(worst, kExitStopped);
      break;
    }
    std::printf("Job task %zu of %zu: %s\n", i + 1, n, projectFiles[i].c_str());
    std::fflush(stdout);
    TaskOutcome outcome;
    try {
      outcome = RunTask(fieldsOf(i), restart, maxRate, stop);
    } catch (const KError &e) {
      outcome.Status = Fail(e);
    } catch (const std::exception &e) {
      outcome.Status = Fail(ErrorCause::SystemFailed, e.what());
    }
    outcomes[i] = outcome;
    worst = WorseExitStatus(worst, outcome.Status);
    if (outcome.Status == kExitStopped)
      break;
  }
  std::printf("Job %s:\n", jobFile.c_str());
  for (size_t i = 0; i < n; ++i)
    std::printf("%s\n", SummaryLine(projectFiles[i], outcomes[i]).c_str());
  return worst;
}

} // namespace

int RunJobPlan(const TaskPreparation &preparation, const JobChoice &job) {
  const std::vector<TaskFields> tasks =
      JobTasks(preparation.Fields, job.Zooms, job.Dirs);
  const std::optional<std::vector<std::string>> files =
      CheckedProjectFiles(tasks);
  if (!files)
    return ExitStatusFor(ErrorCause::InputRefused);
  // A plan starts every task afresh and replaces none.
  for (const std::string &file : *files)
    if (FileExists(file)) {
      Refusal("Task file exists already: " + file);
      return ExitStatusFor(ErrorCause::InputRefused);
    }
  for (size_t i = 0; i < tasks.size(); ++i) {
    if (i > 0)
      std::fputs("\n", stdout);
    TaskPreparation task = preparation;
    task.Fields = tasks[i];
    if (const int status = PlanTask(task, /*printSummary=*/true);
        status != kExitDone)
      return status;
  }
  const std::string jobFile = JobFilePath(*files, preparation.Fields);
  WriteJobFile(jobFile, *files);
  std::printf("\nJob file: %s\n", jobFile.c_str());
  return kExitDone;
}

int RunJobDownload(const TaskFields &fields, const JobChoice &job, bool restart,
                   std::optional<double> maxRate) {
  const std::vector<TaskFields> tasks = JobTasks(fields, job.Zooms, job.Dirs);
  const std::optional<std::vector<std::string>> files =
      CheckedProjectFiles(tasks);
  if (!files)
    return ExitStatusFor(ErrorCause::InputRefused);
  // Every task's files first, as plan writes them, so that the job file
  // lists only project files that are there: a job stopped in its second
  // task resumes with the tasks it has not reached yet. A task of an
  // earlier run keeps its files; its own run decides whether it continues.
  // A stop meanwhile ends the job before any task runs.
  StopFlag &stop = StopOnSignals();
  for (size_t i = 0; i < tasks.size(); ++i) {
    if (stop.Requested())
      return kExitStopped;
    if (FileExists((*files)[i]))
      continue;
    TaskPreparation task;
    task.Config = ReadSettings(SettingsPath(ProgramFolder()));
    task.Fields = tasks[i];
    if (const int status = PlanTask(task, /*printSummary=*/false);
        status != kExitDone)
      return status;
  }
  const std::string jobFile = JobFilePath(*files, fields);
  WriteJobFile(jobFile, *files);
  return RunJobTasks(
      jobFile, *files, [&tasks](size_t i) { return tasks[i]; }, restart,
      maxRate, stop);
}

int RunJobResume(const std::string &jobFile, std::optional<double> maxRate) {
  const std::vector<std::string> files = ReadJobFile(jobFile);
  // Each task as `resume` continues it: "Open task ..." then Start with the
  // fields unchanged. A task that is complete finds nothing left to fetch.
  return RunJobTasks(
      jobFile, files,
      [&files](size_t i) { return OpenTaskFile(files[i]).Fields(); },
      /*restart=*/false, maxRate, StopOnSignals());
}

} // namespace kestrane::cli
