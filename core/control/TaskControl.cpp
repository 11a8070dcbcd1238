#include "control/TaskControl.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "platform/Files.h"
#include "platform/Ini.h"
#include "task/Settings.h"
#include "task/TaskFiles.h"

namespace kestrane {

namespace {

// The log pane is moved into a dated part-log file when it holds this many
// lines, so that the pane and the saved log stay small.
constexpr size_t kRotateLines = 30000;

std::string PositionKey(size_t index, char axis) {
  return "T" + std::to_string(index + 1) + axis;
}

// The lines a pane entry shows: a socket failure's text carries a CR LF, and
// the pane breaks a line at CR LF, at a lone CR and at a lone LF.
size_t ShownLines(const std::string &entry) {
  size_t lines = 1;
  for (size_t i = 0; i < entry.size(); ++i) {
    if (entry[i] == '\r') {
      ++lines;
      if (i + 1 < entry.size() && entry[i + 1] == '\n')
        ++i;
    } else if (entry[i] == '\n') {
      ++lines;
    }
  }
  return lines;
}

// The workers' own counts of the tiles they skipped lag behind their walk;
// the tiles done before are known from the start (doneBefore_).
void AddCounts(TaskProgress &sum, const DownloadWorker::Counts &c) {
  sum.Stored += c.Stored;
  sum.GivenUp += c.GivenUp;
  sum.EndedEarly = sum.EndedEarly || c.EndedEarly;
}

} // namespace

TaskControl::TaskControl(TaskControlEnv env)
    : env_(std::move(env)), saver_(env_.SavePositionsInBackground) {}

TaskControl::~TaskControl() {
  // Releasing a worker waits for its thread. A worker that is still running
  // can only end once it sees the stop request, so ask first. (The owner
  // ends a running task through Stop and Tick, or lets go of it with
  // SaveAndAbandon, before destroying the control.)
  for (auto &t : threads_)
    t->Terminate();
  threads_.clear();
}

void TaskControl::ButtonClick(const TaskFields &fields) {
  if (state_ == TaskState::Idle)
    Start(fields);
  else if (state_ == TaskState::Running)
    Stop();
}

void TaskControl::Stop() {
  for (size_t i = 0; i < threads_.size(); ++i) {
    threads_[i]->Terminate();
    AppendLog("Thread" + std::to_string(i + 1) +
              "will be terminated by user. please wait...");
  }
}

void TaskControl::Tick() {
  if (!timerEnabled_)
    return;
  ++tickCount_;
  if (tickCount_ % (kPositionSavePeriod / kTickPeriod) == 0)
    SaveRecordsThenPositions();
  if (runningThreads_ == 0)
    EndTask();
}

void TaskControl::SaveAndAbandon() {
  if (threads_.empty() || !task_)
    return;
  SaveFinalState();
  timerEnabled_ = false;
  // The threads may still be waiting on the main thread or in a request;
  // they run on unowned, using their worker objects, the task and this
  // control, which all stay allocated (the process is about to end).
  for (auto &t : threads_) {
    t->Terminate();
    t->Detach();
  }
  abandoned_ = std::move(threads_);
  threads_.clear();
}

TaskProgress TaskControl::Progress() const {
  TaskProgress p = released_;
  p.Total = task_ ? task_->InsideCount : 0;
  p.Skipped = doneBefore_;
  for (const auto &t : threads_)
    AddCounts(p, t->TileCounts());
  return p;
}

ProgressFigures TaskControl::ProgressShown() const {
  PaceFigures pace;
  if (pace_ && TaskRunning()) {
    const ServerPace::Shown shown = pace_->Now();
    pace.Rate = shown.Rate;
    pace.Settled = shown.Settled;
    if (shown.PausedFor)
      pace.PausedSeconds =
          std::chrono::ceil<std::chrono::seconds>(*shown.PausedFor).count();
  }
  ProgressFigures f =
      ComputeProgress(Progress(), TaskRunning(), runClock_.Seconds(), pace);
  f.Line = ProgressLineWithEnd(f, endInventory_);
  return f;
}

TaskControl::LogFileView TaskControl::LogFileToView() const {
  if (!task_)
    return {"", "No task running now." + std::string(18, ' ')};
  if (!FileExists(task_->LogFilePath))
    return {"", "No logfile now." + std::string(25, ' ')};
  return {task_->LogFilePath, ""};
}

void TaskControl::AddLogLine(const std::string &line) {
  AppendLog(line);
}

void TaskControl::AddFailedLine(const std::string &line) {
  failedPane_.push_back(line);
}

void TaskControl::WorkerDone() {
  --runningThreads_;
}

// A saved position tells a later run to skip every tile of the worker up to
// it, so it may only reach the project file once the failed-tile list on disk
// holds every record up to it: else a crash (or a full disk) between the two
// saves loses the records of tiles that no run will fetch again. A worker
// hands its record over before it moves its position, and both panes are
// changed only on this thread, so the positions taken here are covered by
// the panes saved right after.
void TaskControl::SaveRecordsThenPositions() {
  // A failure of the previous save reaches the log now.
  if (std::optional<std::string> e = saver_.TakeError())
    AppendLog("Error: " + *e);
  if (!task_)
    return;
  PositionSaver::Keys keys = TakePositions();
  // A pane that could not be saved leaves the positions where they were.
  if (SavePanes(true))
    SubmitPositions(std::move(keys));
}

void TaskControl::SaveFinalState() {
  if (std::optional<std::string> e = saver_.TakeError())
    AppendLog("Error: " + *e);
  PositionSaver::Keys keys = TakePositions();
  const bool panesSaved = SavePanes(false);
  if (panesSaved)
    SubmitPositions(std::move(keys));
  // The last positions are on disk, or their failure is in the log, before
  // the task's end or the program's is written down.
  saver_.Flush();
  if (std::optional<std::string> e = saver_.TakeError()) {
    AppendLog("Error: " + *e);
    if (panesSaved)
      SavePane(task_->LogFilePath, logPane_);
  }
}

PositionSaver::Keys TaskControl::TakePositions() const {
  PositionSaver::Keys keys;
  for (size_t i = 0; i < threads_.size(); ++i) {
    // One pair, read at once: never the X of one tile with the Y of
    // another. A 0 is never written, so an earlier position stays.
    const DownloadWorker::Position pos = threads_[i]->Current();
    if (pos.X > 0)
      keys.emplace_back(PositionKey(i, 'X'), std::to_string(pos.X));
    if (pos.Y > 0)
      keys.emplace_back(PositionKey(i, 'Y'), std::to_string(pos.Y));
  }
  return keys;
}

void TaskControl::SubmitPositions(PositionSaver::Keys keys) {
  if (keys.empty())
    return;
  // All positions in one replacement of the project file; the task goes on
  // when it is refused, and the next save tries again.
  saver_.Submit(task_->Params.Path + task_->Params.TaskFileName,
                task_->TileFolder, std::move(keys));
}

bool TaskControl::SavePanes(bool rotate) {
  // The failed-tile list first: it is the one the positions depend on.
  const bool failedSaved = SavePane(task_->FailedFilePath, failedPane_);
  const bool logSaved = rotate && logPaneShown_ >= kRotateLines
                            ? RotateLog()
                            : SavePane(task_->LogFilePath, logPane_);
  return failedSaved && logSaved;
}

bool TaskControl::RotateLog() {
  const std::string partLog = PartLogName();
  // A pane that could not be saved is kept whole; the next save retries.
  if (!SavePane(partLog, logPane_))
    return false;
  ResetLog({});
  AppendLog("Part log saved to " + partLog + "  Continue...");
  return true;
}

std::string TaskControl::PartLogName() const {
  const std::string stem = task_->LogFilePath + "." + FormatStamp14(env_.Now());
  std::string name = stem + ".txt";
  // Two rotations within one second, or a clock set back (the hour repeated
  // when summer time ends), would give the name of an earlier part log; that
  // one is kept and the new part gets a number.
  for (int k = 2; FileExists(name) || DirectoryExists(name); ++k)
    name = stem + "-" + std::to_string(k) + ".txt";
  return name;
}

bool TaskControl::SavePane(const std::string &path,
                           const std::vector<std::string> &lines) {
  // One buffer for the whole file: the log pane may hold 30000 lines and is
  // saved every five seconds.
  size_t size = 0;
  for (const auto &l : lines)
    size += l.size() + 2;
  std::string text;
  text.reserve(size);
  for (const auto &l : lines) {
    text += l;
    text += "\r\n";
  }
  std::string reason;
  if (WriteFileAtomicUnsynced(path, text, &reason))
    return true;
  AppendLog("Error: cannot save " + path + ": " + reason);
  return false;
}

void TaskControl::EndTask() {
  timerEnabled_ = false;
  AppendLog("");
  AppendLog("--------------------------------");
  AppendLog("Task Stoped!");
  AppendLog("");
  AppendLog("Now time:" + FormatShortDateLongTime(env_.Now()));
  AppendLog("");
  AppendLog("Log file has been saved as " + task_->LogFilePath);
  // Every worker has ended, so the positions are final.
  SaveFinalState();
  // Every worker has made its last call: releasing one waits only for its
  // thread to return.
  for (auto &t : threads_) {
    AddCounts(released_, t->TileCounts());
    t.reset();
  }
  threads_.clear();
  // The counts of the whole block, not of this run: tiles an earlier run
  // gave up or that were deleted since count too; no decoding, the workers
  // have just checked what they stored. The counting thread shares the
  // task, which a later Start may replace meanwhile.
  endInventory_.reset();
  if (env_.EndInventoryInBackground) {
    std::packaged_task<std::optional<InventoryCounts>()> count(
        [task = task_] { return CountTileFolder(*task); });
    endCount_ = count.get_future();
    std::thread(std::move(count)).detach();
  } else {
    endInventory_ = CountTileFolder(*task_);
  }
  taskLock_.Release();
  SetState(TaskState::Idle);
  Message("Task stoped!" + std::string(20, ' '));
}

bool TaskControl::EndInventoryPending() {
  if (!endCount_.valid())
    return false;
  if (endCount_.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
    return true;
  endInventory_ = endCount_.get();
  return false;
}

void TaskControl::AppendLog(const std::string &line) {
  logPane_.push_back(line);
  logPaneShown_ += ShownLines(line);
  if (env_.View)
    env_.View->LogLineAppended(line);
}

void TaskControl::ResetLog(std::vector<std::string> lines) {
  logPane_ = std::move(lines);
  logPaneShown_ = 0;
  for (const std::string &l : logPane_)
    logPaneShown_ += ShownLines(l);
  if (env_.View)
    env_.View->LogPaneReset(logPane_);
}

void TaskControl::SetState(TaskState state) {
  state_ = state;
  if (env_.View)
    env_.View->StateChanged(state_);
}

void TaskControl::Message(const std::string &text) {
  if (env_.Messages)
    env_.Messages->ShowMessage(text);
}

bool TaskControl::Ask(const std::string &question) {
  // Nobody to ask: nothing is lost.
  return env_.Messages != nullptr && env_.Messages->AskYesNo(question);
}

} // namespace kestrane
