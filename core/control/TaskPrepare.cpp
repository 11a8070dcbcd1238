#include "control/TaskPrepare.h"

#include <exception>

#include "platform/Files.h"

namespace kestrane {

namespace {

const char kCreateFailure[] = "Error: Create task failure.";

void Tell(MessageSink *messages, const std::string &text) {
  if (messages != nullptr)
    messages->ShowMessage(text);
}

// The task's set-up; a failure has been told when null comes back.
std::unique_ptr<DownloadTask> BuildTask(const TaskParameters &params,
                                        TaskEnvironment env,
                                        MessageSink *messages) {
  try {
    return std::make_unique<DownloadTask>(params, std::move(env));
  } catch (const KError &e) {
    Tell(messages, e.what());
  } catch (const std::exception &) {
  }
  Tell(messages, kCreateFailure);
  return nullptr;
}

void WriteTaskFiles(DownloadTask &task) {
  task.WriteTaskFile();
  task.WriteTileList();
  task.WriteLogHeader();
  task.CreateFailedFile();
  // A run killed in mid-write may have left temporary files beside its
  // tiles and task files; nothing of them is needed any more.
  RemoveStaleTemporaries(task.TileFolder);
  RemoveStaleTemporaries(task.Params.Path);
}

} // namespace

bool PrepareTask(const TaskPreparation &preparation, MessageSink *messages,
                 PreparedTask &out) {
  // The input checks in their fixed order, the direction among them: a
  // project file opened into the fields can leave the list without a
  // choice, and that is refused rather than guessed.
  const TaskInputCheck check = CheckTaskInput(preparation.Fields);
  if (!check.Ok()) {
    Tell(messages, *check.Message);
    return false;
  }
  bool continueTask = false;
  if (preparation.Decide) {
    const std::optional<bool> decided = preparation.Decide(check.Input);
    if (!decided)
      return false;
    continueTask = *decided;
  }
  out.Params = std::make_shared<TaskParameters>(
      ParametersFor(check.Input, preparation.Config, continueTask));

  TaskEnvironment env = preparation.Env;
  env.Hosts = preparation.Config.Hosts;
  out.Task = BuildTask(*out.Params, std::move(env), messages);
  if (!out.Task)
    return false;
  if (out.Task->TotalCount < out.Params->ThreadCount)
    out.Params->ThreadCount = out.Task->TotalCount;
  WriteTaskFiles(*out.Task);
  return true;
}

} // namespace kestrane
