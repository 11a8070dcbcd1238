#pragma once
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/PositionSaver.h"
#include "control/Progress.h"
#include "control/StartQuestions.h"
#include "control/TaskPrepare.h"
#include "control/TaskState.h"
#include "inventory/ProjectFile.h"
#include "inventory/TaskInventory.h"
#include "platform/DateTime.h"
#include "platform/Errors.h"
#include "platform/FileLock.h"
#include "platform/MainThread.h"
#include "task/DownloadTask.h"
#include "task/TaskInput.h"
#include "worker/DownloadWorker.h"

namespace kestrane {

// The timer's period, and how often the running task's panes and the
// workers' positions are saved.
inline constexpr std::chrono::milliseconds kTickPeriod{1000};
inline constexpr std::chrono::seconds kPositionSavePeriod{5};

// Observer of the main window's state: the window mirrors the panes and the
// button; the command line prints the appended lines. Called on the main
// thread only.
class TaskView {
public:
  virtual ~TaskView() = default;
  virtual void LogPaneReset(const std::vector<std::string> & /*lines*/) {}
  virtual void LogLineAppended(const std::string & /*line*/) {}
  // The button's state; its caption is CaptionFor(state).
  virtual void StateChanged(TaskState /*state*/) {}
  virtual void TotalLabelChanged(const std::string & /*text*/) {}
  // Start has put the saved task's values back into the fields (the answer
  // "Continue the saved task"); the window shows them.
  virtual void FieldsRestored(const TaskFields & /*fields*/) {}
};

struct TaskControlEnv {
  std::string SettingsPath;  // proxy keys and tile hosts are read at Start
  std::string ProgramFolder; // data files; empty: the executable's folder
  char DecimalSeparator = '.';
  Clock Now = SystemClock();
  MessageSink *Messages = nullptr; // message boxes
  MainThreadBridge *Bridge = nullptr;
  TaskView *View = nullptr; // may stay null
  WorkerPacing Pacing;
  // Pauses that stand in for Pacing when every tile host of the task is a
  // loopback address, so that tests and benchmarks run whole tasks against
  // a local service quickly. Against any other host the workers keep
  // Pacing; the server's pace and the cap apply either way.
  std::optional<WorkerPacing> LoopbackPacing;
  // The cap on tiles a second for all workers together, in place of the
  // settings' MaxRate (0: no cap); nullopt: the settings' value.
  std::optional<double> MaxRate;
  // The disk waits of recording positions on a thread of their own, so the
  // main thread's five-second save stays short (the program does this;
  // tests keep them in the tick, where they can watch the file).
  bool SavePositionsInBackground = false;
  // The end of a task counts the tile folder on a thread of its own, so a
  // large block does not hold the window while its folder is read
  // (EndInventory stays empty until EndInventoryPending has taken the
  // count); the command line counts at once.
  bool EndInventoryInBackground = false;
  // Before a fresh task whose least download time is over an hour, Start
  // asks whether to begin it (the window; the command line was told).
  bool AskBeforeLongTasks = false;
  // A task of at least this many tiles writes its files (tile lists, log
  // header, project file) on a thread of its own: Start returns while the
  // state is Preparing and PreparationPending finishes the start. 0: never
  // (the files are written within Start).
  int64_t BackgroundWritesFrom = 0;
};

// The task control behind the main window: the Start and Stop paths of the
// Start/Stop button, the one-second timer tick, the end of a task, and the
// two panes. Runs on the main thread; the workers reach it through the
// bridge.
class TaskControl : public WorkerHost {
public:
  explicit TaskControl(TaskControlEnv env);
  // Asks running workers to stop and waits for their threads. A worker
  // waiting on the bridge cannot end meanwhile, so the owner ends a running
  // task first (Stop, then Tick until TimerEnabled() is false) or lets go
  // of it with SaveAndAbandon.
  ~TaskControl() override;

  // The button: the Start path when idle, else Stop.
  void ButtonClick(const TaskFields &fields);
  // The Start path. True when workers were started, or, for a task whose
  // files are written in the background, when the state is Preparing; a
  // refused input shows its message and returns false (so does a call while
  // a task runs or prepares, and a project file that another task control,
  // in this process or another, is running: "The task is running in
  // another process: " + its path). A project file with saved positions
  // that the fields would not continue is replaced only after the message
  // sink's "Start afresh" to RestartQuestion; "Continue the saved task"
  // puts the file's values into the fields (TaskView::FieldsRestored) and
  // starts them; "Cancel" returns false with nothing changed. An error of
  // the task's set-up steps or of loading the panes propagates (the
  // window's standard error box).
  bool Start(const TaskFields &fields);
  // With BackgroundWritesFrom: true while the task's files are being
  // written. Once they are, starts the workers (the rest of Start) and
  // returns false; an error of the writes propagates then, and the state
  // goes back to Idle.
  bool PreparationPending();
  // The Stop path: asks every worker to end and logs the lines.
  void Stop();
  // The timer tick (every second while the timer is enabled).
  void Tick();
  // Closing the program while a task runs: saves both panes and every
  // worker's position once, asks the workers to stop, and lets go of them
  // without waiting (the process is about to end). The workers and the
  // task stay with this control, which the workers call: it must not be
  // destroyed while the bridge still runs the workers' calls (end the
  // process instead). Afterwards Start refuses and Tick does nothing.
  void SaveAndAbandon();

  TaskState State() const { return state_; }
  std::string Caption() const { return CaptionFor(state_); }
  const std::string &TotalLabel() const { return totalLabel_; }
  bool TimerEnabled() const { return timerEnabled_; }
  int32_t RunningThreads() const { return runningThreads_; }
  int32_t TickCount() const { return tickCount_; }
  const std::vector<std::string> &LogPane() const { return logPane_; }
  const std::vector<std::string> &FailedPane() const { return failedPane_; }
  const DownloadTask *CurrentTask() const { return task_.get(); }
  // The parameters of the most recent Start that passed the checks: the
  // current task's, unless that Start could not build its task.
  const TaskParameters *CurrentParameters() const {
    return params_ ? &*params_ : nullptr;
  }
  // The started workers of the running task (empty when idle).
  const std::vector<std::unique_ptr<DownloadWorker>> &Threads() const {
    return threads_;
  }
  // Whether the workers of the current task run with LoopbackPacing.
  bool LoopbackPacingInForce() const { return loopbackPacing_; }
  TaskProgress Progress() const;
  // Whether workers run or the end of the task is still to come.
  bool TaskRunning() const { return timerEnabled_ || runningThreads_ > 0; }
  // The progress display: the figures of Progress() over the time since
  // the workers started; once the task has ended, the line adds what its
  // tile folder holds (EndInventory).
  ProgressFigures ProgressShown() const;
  // What the tile folder held when the task last ended (the inventory
  // without the decode check); empty while a task runs, before the first
  // end, and when the folder could not be read.
  const std::optional<InventoryCounts> &EndInventory() const {
    return endInventory_;
  }
  // With EndInventoryInBackground: takes the count into EndInventory once
  // it is in; true while the tile folder is still being counted.
  bool EndInventoryPending();

  // "View log file": the current task's log file to open, or, with Path
  // empty, the message saying why there is none.
  struct LogFileView {
    std::string Path;
    std::string Message;
  };
  LogFileView LogFileToView() const;
  // The project file the tools (viewer, joiner) open on: the one the
  // fields name when it exists, else the current task's; empty when there
  // is neither.
  std::string ProjectFileInHand(const TaskFields &fields) const;

  // WorkerHost, run on the main thread through the bridge.
  void AddLogLine(const std::string &line) override;
  void AddFailedLine(const std::string &line) override;
  void WorkerDone() override;

private:
  // The steps of Start after the checks. A "Continue the saved task"
  // answer leaves the file's fields in `saved` (when given) and refuses
  // this preparation.
  PreparedTask Prepare(const TaskFields &fields, FileLock &lock,
                       std::optional<TaskFields> *saved);
  std::optional<bool> DecideContinue(const TaskFields &fields,
                                     const CheckedTaskInput &input,
                                     FileLock &lock,
                                     std::optional<TaskFields> *saved);
  bool AskBeforeLongTask(const CheckedTaskInput &input, const Outline &area);
  void Adopt(const PreparedTask &prepared);
  // The rest of Start once the task's files are written.
  void FinishStart();
  void LoadPanes();
  void StartWorkers();
  // The five-second save: both panes, then, when both reached the disk, the
  // workers' positions.
  void SaveRecordsThenPositions();
  // The same at the end of a task or the program, waiting until the
  // positions are written.
  void SaveFinalState();
  PositionSaver::Keys TakePositions() const;
  void SubmitPositions(PositionSaver::Keys keys);
  // True when both panes were saved.
  bool SavePanes(bool rotate);
  bool RotateLog();
  bool SavePane(const std::string &path, const std::vector<std::string> &lines);
  std::string PartLogName() const;
  void EndTask();
  void AppendLog(const std::string &line);
  void ResetLog(std::vector<std::string> lines);
  void SetState(TaskState state);
  void Message(const std::string &text);
  bool Ask(const std::string &question);
  RestartAnswer AskRestart(const std::string &question, bool canContinue);

  TaskControlEnv env_;
  TaskState state_ = TaskState::Idle;
  std::string totalLabel_;
  bool timerEnabled_ = false;
  int32_t runningThreads_ = 0;
  int32_t tickCount_ = 0;
  std::vector<std::string> logPane_{"[log window]"};
  size_t logPaneShown_ = 1; // the lines logPane_ shows, for the rotation
  std::vector<std::string> failedPane_{"[Failed tile inforamtion window]"};
  std::optional<TaskParameters> params_; // see CurrentParameters
  // The current task: read by its workers, and by the count of its tile
  // folder at its end, which may outlast it as the current one.
  std::shared_ptr<const DownloadTask> task_;
  std::vector<std::unique_ptr<DownloadWorker>> threads_;
  // The pace the current task's workers share, and what bounds it.
  std::shared_ptr<ServerPace> pace_;
  double maxRate_ = 0;
  bool loopbackPacing_ = false;
  // The workers SaveAndAbandon let go of: their threads run on unowned and
  // use them, the task and this control until they end (or the process
  // does).
  std::vector<std::unique_ptr<DownloadWorker>> abandoned_;
  // Tile counts of the workers released so far in the current task.
  TaskProgress released_;
  // The tiles an earlier run concluded (TilesDoneBefore), from Start on.
  int32_t doneBefore_ = 0;
  // The task's file writes while the state is Preparing.
  std::future<void> writes_;
  RunClock runClock_; // since the workers of the current task started
  PositionSaver saver_;
  std::optional<InventoryCounts> endInventory_;
  // The count of the last end, while it is taken on its thread.
  std::future<std::optional<InventoryCounts>> endCount_;
  // The running task's project file is locked against other processes.
  FileLock taskLock_;
};

} // namespace kestrane
