#include "control/TaskPrepare.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "task/AreaOutlineFile.h"
#include "task/TaskFiles.h"

namespace kestrane {

namespace {

const char kCreateFailure[] = "Error: Create task failure.";

void Tell(MessageSink *messages, const std::string &text) {
  if (messages != nullptr)
    messages->ShowMessage(text);
}

// The task, its tile folder and the positions it resumes from, with the
// workers cut to the tile count; a failure has been told when nothing comes
// back.
std::shared_ptr<const DownloadTask> BuildTask(TaskParameters params,
                                              const TaskEnvironment &env,
                                              MessageSink *messages) {
  try {
    const DownloadTask full(params, env);
    CheckRoomForTileLists(full); // before anything is made
    CreateTileFolder(full);
    // The positions are read for every slot of the full worker count; the
    // count is cut to the tiles afterwards.
    const ResumePositions resume = ReadResumePositions(full);
    params.ThreadCount = std::min(params.ThreadCount, full.TotalCount);
    return std::make_shared<const DownloadTask>(std::move(params), env, resume);
  } catch (const KError &e) {
    Tell(messages, e.what());
  } catch (const std::exception &) {
  }
  Tell(messages, kCreateFailure);
  return nullptr;
}

} // namespace

PreparedTask PrepareTask(const TaskPreparation &preparation,
                         MessageSink *messages) {
  PreparedTask out;
  // The input checks in their fixed order, the direction among them: a
  // project file opened into the fields can leave the list without a
  // choice, and that is refused rather than guessed.
  const TaskInputCheck check = CheckTaskInput(preparation.Fields);
  if (!check.Ok()) {
    Tell(messages, *check.Message);
    return out;
  }
  bool continueTask = false;
  if (preparation.Decide) {
    const std::optional<bool> decided = preparation.Decide(check.Input);
    if (!decided)
      return out;
    continueTask = *decided;
  }
  out.Params = ParametersFor(check.Input, preparation.Config, continueTask);
  try {
    out.Params->Area = continueTask
                           ? ReadAreaOutline(AreaOutlinePath(*out.Params))
                           : preparation.Fields.Area;
  } catch (const KError &e) {
    Tell(messages, e.what());
    Tell(messages, kCreateFailure);
    return out;
  }
  TaskEnvironment env = preparation.Env;
  env.Hosts = preparation.Config.Hosts;
  out.Task = BuildTask(*out.Params, env, messages);
  if (out.Task)
    out.Params = out.Task->Params;
  return out;
}

} // namespace kestrane
