#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "Commands.h"
#include "JobRun.h"
#include "TaskOptions.h"
#include "control/TaskPrepare.h"
#include "platform/ExitStatus.h"
#include "platform/Files.h"
#include "platform/NumberFormat.h"
#include "task/Settings.h"
#include "task/TaskFiles.h"

namespace kestrane::cli {
namespace {

// A plan's refusals go to stderr, each on a line of its own.
class StderrMessages : public MessageSink {
public:
  void ShowMessage(const std::string &text) override {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
};

// A plan starts a task afresh: an existing project file (perhaps one with
// saved progress) is never replaced.
std::optional<bool> FreshTaskOnly(const CheckedTaskInput &input,
                                  MessageSink &messages) {
  const std::string projectFile = input.Path + input.TaskFileName;
  if (FileExists(projectFile)) {
    messages.ShowMessage("Task file exists already: " + projectFile);
    return std::nullopt;
  }
  return false;
}

} // namespace

int PlanTask(TaskPreparation preparation, bool printSummary) {
  StderrMessages messages;
  preparation.Env.DecimalSeparator = UserDecimalSeparator();
  preparation.Decide = [&messages](const CheckedTaskInput &input) {
    return FreshTaskOnly(input, messages);
  };
  // Refused (and told): the input, or a task that could not be built.
  const PreparedTask prepared = PrepareTask(preparation, &messages);
  if (!prepared.Task)
    return ExitStatusFor(ErrorCause::InputRefused);
  WriteTaskFiles(*prepared.Task);
  if (printSummary)
    std::fputs(TaskSummary(*prepared.Task, preparation.Config.MaxRate).c_str(),
               stdout);
  return kExitDone;
}

// A settings file that cannot be read, or a task file that cannot be
// written ("Cannot create file ..."), ends the command as a thrown KError.
int RunPlan(const Args &args) {
  TaskPreparation preparation;
  preparation.Config = ReadSettings(SettingsPath(ProgramFolder()));
  preparation.Fields.Path = preparation.Config.DefaultPath;
  const auto app = CommandApp(
      "plan", "Prepares a task: writes its project file, tile lists, log "
              "header and\nempty failed-tile list, and shows its size. "
              "Downloads nothing.");
  JobChoice job;
  AddTaskOptions(*app, preparation.Fields, job);
  if (const std::optional<int> status = ParseCommand(*app, args))
    return *status;
  if (job.Several())
    return RunJobPlan(preparation, job);
  return PlanTask(std::move(preparation), /*printSummary=*/true);
}

} // namespace kestrane::cli
