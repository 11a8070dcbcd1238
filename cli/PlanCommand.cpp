#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "cli/Commands.h"
#include "cli/TaskOptions.h"
#include "platform/Files.h"
#include "platform/NumberFormat.h"
#include "task/Settings.h"
#include "task/TaskInput.h"
#include "task/Unitclasstask.h"

namespace kestrane::cli {
namespace {

int Fail(const std::string &text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  return 2;
}

// The task's set-up; a failure has been reported when nullopt comes back.
std::optional<MDTask> BuildTask(const TaskParameters &params,
                                TaskEnvironment env) {
  try {
    return std::optional<MDTask>(std::in_place, params, std::move(env));
  } catch (const TaskSetupError &e) {
    std::fprintf(stderr, "%s\n", e.what());
  } catch (const std::exception &) {
  }
  std::fputs("Error: Create task failure.\n", stderr);
  return std::nullopt;
}

} // namespace

int RunPlan(const Args &args) {
  Settings settings;
  try {
    settings = ReadSettings(SettingsPath(ProgramFolder()));
  } catch (const std::exception &e) {
    return Fail(e.what()); // a settings file that is no file to read
  }
  try {
    TaskFields fields;
    fields.Path = settings.DefaultPath;
    const auto app = CommandApp(
        "plan", "Prepares a task: writes its project file, tile lists, log "
                "header and\nempty failed-tile list, and shows its size. "
                "Downloads nothing.");
    AddTaskOptions(*app, fields);
    if (const std::optional<int> status = ParseCommand(*app, args))
      return *status;

    const TaskInputCheck check = CheckTaskInput(fields);
    if (!check.Ok())
      return Fail(*check.Message);
    // A plan starts a task afresh: an existing project file (perhaps one
    // with saved progress) is never replaced.
    const std::string projectFile = check.Input.Path + check.Input.TaskFileName;
    if (FileExists(projectFile))
      return Fail("Task file exists already: " + projectFile);

    TaskParameters params =
        ParametersFor(check.Input, settings, /*continueTask=*/false);
    TaskEnvironment env;
    env.Hosts = settings.Hosts;
    env.DecimalSeparator = UserDecimalSeparator();
    std::optional<MDTask> task = BuildTask(params, std::move(env));
    if (!task)
      return 2;
    if (task->TotalCount < params.ThreadCount)
      params.ThreadCount = task->TotalCount;

    task->WriteTaskFile();
    task->WriteTileList();
    task->WriteLogHeader();
    task->CreateFailedFile();
    std::fputs(TaskSummary(*task).c_str(), stdout);
    return 0;
  } catch (const std::exception &e) {
    // A file the task could not write or read ("Cannot create file ...").
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}

} // namespace kestrane::cli
