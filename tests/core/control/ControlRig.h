#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "control/TaskControl.h"
#include "platform/MainThread.h"
#include "sample/HttpServer.h"
#include "tests/support/TempDir.h"

namespace kestrane::controltest {

// A fresh folder for one test, removed with its content afterwards. Path()
// ends with "/".
using TempFolder = ::kestrane::testing::TempDir;

std::string Slurp(const std::string &path);
void Put(const std::string &path, const std::string &bytes);
// Whether the control's log pane holds `line` as one of its lines.
bool PaneHas(const TaskControl &c, const std::string &line);
// The names in a folder, sorted.
std::vector<std::string> Names(const std::string &folder);

// A loopback tile server that answers every request with a real JPEG. While
// its gate is closed, requests wait, so a test can keep workers busy in a
// tile for as many ticks as it likes.
class GatedTileServer {
public:
  GatedTileServer();
  ~GatedTileServer();
  // From now on requests wait at the gate; with fromRequest 2 a
  // connection's first request is still answered, so each worker (one
  // connection each) gets its first tile and waits in its second.
  void Close(uint32_t fromRequest = 1);
  void Open();
  int Requests() const { return requests_.load(); }
  // Requests that arrived and are waiting at the closed gate.
  int Waiting() const { return waiting_.load(); }
  uint16_t Port() const { return server_->Port(); }
  HttpServer &Server() { return *server_; }

private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool open_ = true;
  uint32_t holdFrom_ = 1;
  std::atomic<int> requests_{0};
  std::atomic<int> waiting_{0};
  std::string jpeg_;
  std::unique_ptr<HttpServer> server_;
};

class RecordingSink : public MessageSink {
public:
  void ShowMessage(const std::string &text) override { Texts.push_back(text); }
  // Questions are recorded and answered with Answer.
  bool AskYesNo(const std::string &question) override {
    Questions.push_back(question);
    return Answer;
  }
  std::vector<std::string> Texts;
  std::vector<std::string> Questions;
  bool Answer = true;
};

class RecordingView : public TaskView {
public:
  void LogPaneReset(const std::vector<std::string> &lines) override {
    Resets.push_back(lines);
  }
  void LogLineAppended(const std::string &line) override {
    Appended.push_back(line);
  }
  void StateChanged(TaskState state) override {
    Captions.push_back(CaptionFor(state));
  }
  void TotalLabelChanged(const std::string &text) override {
    Totals.push_back(text);
  }
  std::vector<std::vector<std::string>> Resets;
  std::vector<std::string> Appended, Captions, Totals;
};

// Areas of known tile counts (degrees as typed).
struct Area {
  std::string Left, Right, Top, Bottom, Zoom;
};
// One tile at zoom 13.
extern const Area kOneTile;
// Three tiles side by side at zoom 18 (one row).
extern const Area kThreeTiles;
// More than eight tiles at zoom 18.
extern const Area kTwelveTiles;
// The tile (5, 0) at zoom 3: column 5, the southernmost row.
extern const Area kTileX5Y0;

// A task control with everything around it: a settings file pointing the
// tile hosts at the gated server, a fixed clock, recorders for the message
// boxes and the view, a main-thread queue that the test drains, and worker
// pauses of a millisecond.
class ControlRig {
public:
  explicit ControlRig(char decimalSeparator = '.',
                      const std::string &extraSettings = "",
                      bool backgroundPositions = false,
                      bool backgroundEndCount = false);
  // Ends a task still running (gate opened, Stop, ticks) before the control
  // goes, so no worker is left waiting on the queue.
  ~ControlRig();

  TaskControl &Control() { return *control_; }
  // Fields for the area, the output folder Out() and the task name.
  TaskFields Fields(const Area &area, const std::string &taskName = "t.ktsk");
  std::string Out() const { return dir_.Path() + "out/"; }
  const std::string &Dir() const { return dir_.Path(); }

  // Drains the queue until pred holds (false after 60 s).
  bool DrainUntil(const std::function<bool()> &pred);
  // Until every worker has made its last call.
  bool WaitWorkersDone();
  // Waits for the workers, then ticks until the task has ended. Returns the
  // number of ticks.
  int RunToEnd();
  void Ticks(int n);

  GatedTileServer Server;
  std::time_t Now = 1709474709; // moved on by the tests
  RecordingSink Sink;
  RecordingView View;
  MainThreadQueue Queue;

private:
  TempFolder dir_;
  std::unique_ptr<TaskControl> control_;
};

// The lines of a text file (CR LF ended); empty when there is none.
std::vector<std::string> FileLines(const std::string &path);

} // namespace kestrane::controltest
