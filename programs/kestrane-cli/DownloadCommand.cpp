#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "JobRun.h"
#include "Parse.h"
#include "TaskOptions.h"
#include "control/TaskControl.h"
#include "platform/ExitStatus.h"
#include "platform/Files.h"
#include "platform/MainThread.h"
#include "platform/NumberFormat.h"
#include "platform/StopSignal.h"
#include "task/Job.h"
#include "task/Settings.h"
#include "task/TaskInput.h"
#include "worker/TileHttp.h"

namespace kestrane::cli {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// KESTRANE_PACING_SCALE (a positive number such as 0.01) multiplies every
// pause of the workers and the timer's period, so that tests and benchmarks
// can run whole tasks quickly against the loopback sample service. It is
// heeded only when every tile host is a loopback address (the task control
// decides from the task's own hosts): no setting of the environment makes
// the program less polite to a real service. The program's own pacing is
// scale 1; the variable is deliberately left out of the usage text.
std::optional<double> PacingScale() {
  const char *text = std::getenv("KESTRANE_PACING_SCALE");
  if (text == nullptr || *text == '\0')
    return std::nullopt;
  char *end = nullptr;
  const double scale = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(scale) || scale < 0)
    return std::nullopt;
  return scale;
}

milliseconds Scaled(milliseconds ms, double scale) {
  return milliseconds(std::llround(static_cast<double>(ms.count()) * scale));
}

WorkerPacing ScaledPacing(double scale) {
  WorkerPacing p;
  p.AfterStored = Scaled(p.AfterStored, scale);
  p.StartOffset = Scaled(p.StartOffset, scale);
  p.ShortRetry = Scaled(p.ShortRetry, scale);
  p.LongRetry = Scaled(p.LongRetry, scale);
  return p;
}

// The terminal side of a task: every line that reaches the log pane goes to
// stdout as it arrives, message boxes to stderr, and, when stderr is a
// terminal, one progress line that is redrawn in place.
class Console : public TaskView, public MessageSink {
public:
  // restart: the answer to Start's question whether to begin afresh a task
  // whose saved positions the options would not continue.
  explicit Console(bool restart)
      : restart_(restart), progressOn_(isatty(STDERR_FILENO) == 1),
        linesOnTerminal_(progressOn_ && isatty(STDOUT_FILENO) == 1) {}

  void LogPaneReset(const std::vector<std::string> &lines) override {
    for (const auto &l : lines)
      PrintLine(l);
  }
  void LogLineAppended(const std::string &line) override { PrintLine(line); }
  void ShowMessage(const std::string &text) override {
    ClearProgress();
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", text.c_str());
  }

  // The question before saved positions are lost: --restart answers
  // "Start afresh"; without it the question is the refusal, with the way
  // to continue.
  size_t AskChoice(const std::string &question,
                   const std::vector<std::string> &answers,
                   size_t fallback) override {
    const std::string &afresh =
        RestartAnswerTexts()[static_cast<size_t>(RestartAnswer::StartAfresh)];
    const auto it = std::find(answers.begin(), answers.end(), afresh);
    if (restart_ && it != answers.end())
      return static_cast<size_t>(it - answers.begin());
    ShowMessage(question);
    ShowMessage("Not started: `kestrane-cli resume FILE.ktsk` continues the "
                "saved task, --restart begins it afresh.");
    return fallback;
  }

  void Flush() { std::fflush(stdout); }

  void ShowProgress(const ProgressFigures &p) {
    if (!progressOn_ || p.Total <= 0)
      return;
    Flush();
    std::fprintf(stderr, "\r%s\033[K", p.Line.c_str());
    std::fflush(stderr);
    shown_ = true;
  }

  void ClearProgress() {
    if (!shown_)
      return;
    std::fputs("\r\033[K", stderr);
    shown_ = false;
  }

private:
  void PrintLine(const std::string &line) {
    // Lines that share the terminal with the progress line go above it.
    if (linesOnTerminal_)
      ClearProgress();
    PrintPaneLine(line);
  }

  const bool restart_;
  const bool progressOn_;
  const bool linesOnTerminal_;
  bool shown_ = false;
};

// The timer's period, scaled with the pacing; at least a millisecond.
Clock::duration TickPeriod(double scale) {
  return std::max<Clock::duration>(milliseconds(1),
                                   Scaled(milliseconds(kTickPeriod), scale));
}

// What pressing Start does: nullopt when the task runs (workers started,
// or some started before the system refused a thread), else the exit
// status. A refused input has been told; a failure is told here.
std::optional<int> StartTask(TaskControl &control, Console &console,
                             const TaskFields &fields) {
  std::optional<KError> failure;
  try {
    if (control.Start(fields))
      return std::nullopt;
    return ExitStatusFor(ErrorCause::InputRefused);
  } catch (const KError &e) {
    failure = e; // a task's file that cannot be written, ...
  } catch (const std::exception &e) {
    failure = KError(ErrorCause::SystemFailed, e.what()); // a thread refused
  }
  console.ShowMessage(failure->what());
  // Only a refused thread leaves workers running; they end the task
  // through the timer as usual.
  if (control.TimerEnabled())
    return std::nullopt;
  return ExitStatusFor(failure->Cause());
}

// Runs the worker calls and the timer, whose first tick is one period after
// `started`, until the task has ended; true when a stop request ended it.
// The stop signals' request turns into the Stop path, so a task ended by
// the service manager, `kill` or a closed terminal saves its positions and
// panes as one stopped by Ctrl-C.
bool RunTimer(TaskControl &control, MainThreadQueue &queue, Console &console,
              StopFlag &stop, Clock::time_point started,
              Clock::duration period) {
  bool userStopped = false;
  Clock::time_point next = started + period;
  while (control.TimerEnabled()) {
    for (;;) {
      if (stop.Requested()) {
        stop.Clear();
        userStopped = true;
        control.Stop();
      }
      const Clock::time_point now = Clock::now();
      if (now >= next)
        break;
      // Short slices, so that a stop request is seen at once.
      const auto slice =
          std::min<Clock::duration>(next - now, milliseconds(50));
      queue.DrainFor(std::chrono::ceil<milliseconds>(slice));
      console.Flush();
    }
    control.Tick();
    console.Flush();
    // A steady schedule: the next tick is one period after the last one's
    // due time, whatever the tick's own work took; after a long stall the
    // schedule starts again from now instead of firing a burst.
    next += period;
    if (const Clock::time_point now = Clock::now(); next + period < now)
      next = now + period;
    if (control.TimerEnabled())
      console.ShowProgress(control.ProgressShown());
  }
  console.ClearProgress();
  return userStopped;
}

} // namespace

TaskOutcome RunTask(const TaskFields &fields, bool restart,
                    std::optional<double> maxRate, StopFlag &stop) {
  try {
    HttpGlobalInit();
  } catch (const KError &e) {
    return {Fail(e), std::nullopt};
  }
  const std::optional<double> scale = PacingScale();

  MainThreadQueue queue;
  Console console(restart);
  TaskControlEnv env;
  env.SavePositionsInBackground = true;
  env.SettingsPath = SettingsPath(ProgramFolder());
  env.DecimalSeparator = UserDecimalSeparator();
  env.Messages = &console;
  env.Bridge = &queue;
  env.View = &console;
  if (scale)
    env.LoopbackPacing = ScaledPacing(*scale);
  env.MaxRate = maxRate;
  TaskControl control(env);

  const Clock::time_point started = Clock::now();
  if (const std::optional<int> status = StartTask(control, console, fields))
    return {*status, std::nullopt};
  const bool userStopped =
      RunTimer(control, queue, console, stop, started,
               TickPeriod(control.LoopbackPacingInForce() ? *scale : 1.0));

  // The end of the task looked at what the tile folder holds: every tile
  // of the block, whichever run stored it, gave it up, or lost it since.
  const std::optional<InventoryCounts> &end = control.EndInventory();
  if (end)
    PrintInventorySummary(*end);
  if (userStopped)
    return {kExitStopped, end};
  return {end && end->Complete() ? kExitDone : kExitIncomplete, end};
}

namespace {

// One task, as download and resume have always run it. Every signal asks
// for the stop again: the task ends through its timer.
int RunOneTask(const TaskFields &fields, bool restart,
               std::optional<double> maxRate) {
  return RunTask(fields, restart, maxRate, StopOnSignals()).Status;
}

// A project file named without a folder lies in the current one.
std::string WithFolder(const std::string &path) {
  return ExtractFilePath(path).empty() ? "./" + path : path;
}

const char kDirectionNames[4][6] = {"North", "East", "South", "West"};

} // namespace

int RunDownload(const Args &args) {
  TaskFields fields;
  fields.Path = ReadSettings(SettingsPath(ProgramFolder())).DefaultPath;
  bool restart = false;
  std::optional<double> maxRate;
  const auto app = CommandApp(
      "download",
      "Downloads a task as Start does in the window; an earlier run of the "
      "same task\nis continued. Ctrl-C stops it (resume later).\n"
      "At the end it counts the tiles of the block in the tile folder.\n"
      "Exit status: 0 every tile of the block stored, 1 not (given up, a\n"
      "placeholder or missing), 2 input refused, 130 stopped.");
  JobChoice job;
  AddTaskOptions(*app, fields, job);
  app->add_flag("--restart", restart,
                "begin afresh a task whose project file holds saved "
                "positions that these options would not continue");
  AddMaxRateOption(*app, maxRate);
  if (const std::optional<int> status = ParseCommand(*app, args))
    return *status;
  if (job.Several())
    return RunJobDownload(fields, job, restart, maxRate);
  return RunOneTask(fields, restart, maxRate);
}

// The one argument of `resume` and `open`: an existing project file. Returns
// its path, or the exit status in `status` when there is nothing to do.
// `maxRate` (may be null) takes --max-rate.
static std::string ProjectFileArgument(const Args &args, const char *name,
                                       const char *description, int &status,
                                       std::optional<double> *maxRate) {
  std::string file;
  const auto app = CommandApp(name, description);
  app->add_option("FILE.ktsk", file, "the project file")->required();
  if (maxRate)
    AddMaxRateOption(*app, *maxRate);
  if (const std::optional<int> s = ParseCommand(*app, args)) {
    status = *s;
    return {};
  }
  std::string path = WithFolder(file);
  if (!FileExists(path)) {
    status = Fail(ErrorCause::CannotOpen, "Cannot open file " + file);
    return {};
  }
  return path;
}

int RunResume(const Args &args) {
  int status = 0;
  std::optional<double> maxRate;
  const std::string path = ProjectFileArgument(
      args, "resume",
      "Continues the task of a project file where it stopped, or the job "
      "of a job\nfile (.kjob); exit status as for download.",
      status, &maxRate);
  if (path.empty())
    return status;
  if (ExtractFileExt(path) == kJobFileExt)
    return RunJobResume(path, maxRate);
  // "Open task ..." then Start with the fields unchanged.
  return RunOneTask(OpenTaskFile(path).Fields(), /*restart=*/false, maxRate);
}

int RunOpen(const Args &args) {
  int status = 0;
  const std::string path = ProjectFileArgument(
      args, "open",
      "Shows the fields that a project file loads into the window.", status,
      nullptr);
  if (path.empty())
    return status;
  const OpenedTask t = OpenTaskFile(path);
  const int32_t choice = t.DirChoice();
  const char *dir = choice >= 0 ? kDirectionNames[choice] : "";
  std::printf("Left Longitude: %s\n"
              "Right Longitude: %s\n"
              "Top Latitude: %s\n"
              "Bottom Latitude: %s\n"
              "Zoom level: %d\n"
              "Direction: %s\n"
              "Path to save: %s\n"
              "Task name: %s\n",
              t.Left.c_str(), t.Right.c_str(), t.Top.c_str(), t.Bottom.c_str(),
              static_cast<int>(t.Zoom), dir, t.Path.c_str(),
              t.TaskName.c_str());
  return kExitDone;
}

} // namespace kestrane::cli
