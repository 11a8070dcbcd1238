// The Start path of the task control: the checks, the questions before a
// task replaces saved positions or runs for hours, the task's files and the
// workers.
#include <algorithm>
#include <exception>
#include <thread>
#include <utility>

#include "control/TaskControl.h"
#include "platform/Files.h"
#include "platform/NumberFormat.h"
#include "task/Estimate.h"
#include "task/Settings.h"
#include "task/TaskFiles.h"

namespace kestrane {

namespace {

const char kRunningElsewhere[] = "The task is running in another process: ";
const char kCannotLock[] = "Cannot lock the task with ";
// Beside the project file; the project file itself is replaced by rename on
// every save, so a lock on it would not stay with the path.
const char kLockSuffix[] = ".lock";

} // namespace

bool TaskControl::Start(const TaskFields &typed) {
  // Only an idle window starts a task: the workers of a running one still
  // use the current task.
  if (!threads_.empty() || !abandoned_.empty() || state_ != TaskState::Idle)
    return false;

  TaskFields fields = typed;
  FileLock lock;
  PreparedTask prepared;
  // "Continue the saved task" puts the file's values into the fields and
  // prepares once more, now continuing it.
  for (int round = 0; round < 2; ++round) {
    std::optional<TaskFields> saved;
    prepared = Prepare(fields, lock, round == 0 ? &saved : nullptr);
    if (!saved)
      break;
    fields = *saved;
    if (env_.View)
      env_.View->FieldsRestored(fields);
  }
  Adopt(prepared);
  if (!prepared.Task)
    return false;
  // Held until the task ends (or the process does).
  taskLock_ = std::move(lock);
  const int64_t from = env_.BackgroundWritesFrom;
  if (from > 0 && task_->InsideCount >= from) {
    // Many tile lists: written off this thread, the window keeps painting.
    SetState(TaskState::Preparing);
    writes_ = std::async(std::launch::async,
                         [task = task_] { WriteTaskFiles(*task); });
    return true;
  }
  try {
    // Errors of the task's writes reach the caller: nothing is started
    // then, and the new task stays the current one.
    WriteTaskFiles(*task_);
  } catch (...) {
    taskLock_.Release();
    throw;
  }
  FinishStart();
  return true;
}

PreparedTask TaskControl::Prepare(const TaskFields &fields, FileLock &lock,
                                  std::optional<TaskFields> *saved) {
  TaskPreparation preparation;
  preparation.Fields = fields;
  preparation.Config = ReadSettings(env_.SettingsPath);
  preparation.Env.DecimalSeparator = env_.DecimalSeparator;
  preparation.Env.Now = env_.Now;
  preparation.Env.ProgramFolder = env_.ProgramFolder;
  preparation.Decide = [&](const CheckedTaskInput &input) {
    return DecideContinue(fields, input, lock, saved);
  };
  maxRate_ = env_.MaxRate.value_or(preparation.Config.MaxRate);
  return PrepareTask(preparation, env_.Messages);
}

std::optional<bool>
TaskControl::DecideContinue(const TaskFields &fields,
                            const CheckedTaskInput &input, FileLock &lock,
                            std::optional<TaskFields> *saved) {
  // One process per task: a second run of the same project file would
  // write the same tiles, lists and positions at once. Nothing is written
  // before this. A task that cannot be locked does not run: whatever stands
  // at the lock's path (a link, a folder, a FIFO, a file this user may not
  // open) would otherwise let two runs share the task without a word.
  const std::string projectFile = input.Path + input.TaskFileName;
  if (!lock.Held()) {
    const std::string lockFile = projectFile + kLockSuffix;
    std::string reason;
    switch (lock.Acquire(lockFile, &reason)) {
    case FileLock::Result::Locked:
      break;
    case FileLock::Result::Busy:
      Message(kRunningElsewhere + projectFile);
      return std::nullopt;
    case FileLock::Result::Unavailable:
      Message(kCannotLock + lockFile + ": " + reason);
      return std::nullopt;
    }
  }
  if (!FileExists(projectFile))
    return AskBeforeLongTask(input, fields.Area) ? std::optional<bool>(false)
                                                 : std::nullopt;
  const std::vector<FieldDifference> differences =
      DifferingFields(projectFile, fields, input.Zoom, input.Dir);
  if (differences.empty())
    return true;
  // The continue rule compares the texts as typed: "47.60" against a
  // stored "47.6", or the name typed without ".ktsk", starts afresh and
  // would lose the saved positions without a word.
  if (HoldsPositions(projectFile, TaskParameters{}.ThreadSlots)) {
    // A file of another map type cannot be continued here.
    const bool canContinue =
        saved != nullptr && std::none_of(differences.begin(), differences.end(),
                                         [](const FieldDifference &d) {
                                           return d.Field == "Map type";
                                         });
    switch (
        AskRestart(RestartQuestion(projectFile, differences), canContinue)) {
    case RestartAnswer::ContinueSaved:
      *saved = OpenTaskFile(projectFile).Fields();
      // The next round locks the same file again.
      lock.Release();
      return std::nullopt;
    case RestartAnswer::Cancel:
      return std::nullopt;
    case RestartAnswer::StartAfresh:
      break;
    }
  }
  return AskBeforeLongTask(input, fields.Area) ? std::optional<bool>(false)
                                               : std::nullopt;
}

bool TaskControl::AskBeforeLongTask(const CheckedTaskInput &input,
                                    const Outline &area) {
  if (!env_.AskBeforeLongTasks)
    return true;
  // The figures of the estimate line: at the service's pace, and no faster
  // than the settings' cap.
  const AreaEstimate e =
      EstimateArea(input.LeftLongitude, input.RightLongitude, input.TopLatitude,
                   input.BottomLatitude, input.Zoom, area);
  const std::optional<std::string> question = LongTaskQuestion(
      e.Tiles, LeastCappedMilliseconds(e.LeastMilliseconds, e.Tiles,
                                       MaxRateSetting(env_.SettingsPath)));
  return !question || Ask(*question);
}

RestartAnswer TaskControl::AskRestart(const std::string &question,
                                      bool canContinue) {
  // Nobody to ask: nothing is lost.
  if (env_.Messages == nullptr)
    return RestartAnswer::Cancel;
  const std::vector<std::string> &texts = RestartAnswerTexts();
  std::vector<std::string> offered;
  std::vector<RestartAnswer> meaning;
  for (size_t i = 0; i < texts.size(); ++i) {
    const auto answer = static_cast<RestartAnswer>(i);
    if (answer == RestartAnswer::ContinueSaved && !canContinue)
      continue;
    offered.push_back(texts[i]);
    meaning.push_back(answer);
  }
  const size_t chosen =
      env_.Messages->AskChoice(question, offered, offered.size() - 1);
  return chosen < meaning.size() ? meaning[chosen] : RestartAnswer::Cancel;
}

void TaskControl::Adopt(const PreparedTask &prepared) {
  if (!prepared.Params)
    return; // refused before anything changed
  runningThreads_ = 0;
  endInventory_.reset();
  endCount_ = {}; // a count still being taken belongs to the old task
  params_ = prepared.Params;
  // A task that could not be built leaves the earlier one current.
  if (prepared.Task)
    task_ = prepared.Task;
}

bool TaskControl::PreparationPending() {
  if (!writes_.valid())
    return false;
  if (writes_.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
    return true;
  try {
    writes_.get();
  } catch (...) {
    // As a failing write within Start: nothing started, the new task stays
    // the current one.
    taskLock_.Release();
    SetState(TaskState::Idle);
    throw;
  }
  FinishStart();
  return false;
}

void TaskControl::FinishStart() {
  LoadPanes();
  totalLabel_ = "Total images: " + GroupDigits(task_->InsideCount);
  if (env_.View)
    env_.View->TotalLabelChanged(totalLabel_);
  SetState(TaskState::Running);
  StartWorkers();
}

void TaskControl::LoadPanes() {
  std::vector<std::string> logLines = ReadLines(task_->LogFilePath);
  std::vector<std::string> failedLines = ReadLines(task_->FailedFilePath);
  ResetLog(std::move(logLines));
  failedPane_ = std::move(failedLines);
}

void TaskControl::StartWorkers() {
  released_ = TaskProgress{};
  doneBefore_ = static_cast<int32_t>(TilesDoneBefore(*task_));
  runClock_.Restart();
  const TileHosts &hosts = task_->Env.Hosts;
  loopbackPacing_ = env_.LoopbackPacing.has_value() &&
                    std::all_of(hosts.begin(), hosts.end(), IsLoopbackHost);
  const WorkerPacing pacing =
      loopbackPacing_ ? *env_.LoopbackPacing : env_.Pacing;
  const int32_t workers = task_->Params.ThreadCount;
  pace_ = std::make_shared<ServerPace>(
      PaceLimits{maxRate_, OwnRate(pacing, workers)});
  try {
    for (int32_t i = 0; i < workers; ++i) {
      threads_.push_back(std::make_unique<DownloadWorker>(
          false, *task_, i, *env_.Bridge, *this, pacing, pace_));
      ++runningThreads_;
    }
  } catch (...) {
    // The system refused a thread: the workers already started still end
    // the task through the tick, so the timer runs for them.
    timerEnabled_ = true;
    tickCount_ = 0;
    throw;
  }
  timerEnabled_ = true;
  tickCount_ = 0;
}

std::string TaskControl::ProjectFileInHand(const TaskFields &fields) const {
  if (!fields.Path.empty()) {
    const std::string named = IncludeTrailingDelimiter(fields.Path) +
                              TaskFileNameFor(fields.TaskName);
    if (FileExists(named))
      return named;
  }
  if (task_)
    return task_->Params.Path + task_->Params.TaskFileName;
  return "";
}

} // namespace kestrane
