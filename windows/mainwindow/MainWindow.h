#pragma once
// The main window: the task fields, the Start/Stop button, the log pane, the
// progress display and the menus. It reads the fields, calls the task
// control and shows what the control reports; the task logic is the
// control's.
#include <QMainWindow>
#include <QUrl>
#include <functional>
#include <memory>
#include <string>

#include "control/TaskControl.h"
#include "mainwindow/UpDown.h"
#include "qtbridge/QtBridge.h"
#include "task/TaskInput.h"
#include "worker/DownloadWorker.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class QVBoxLayout;

namespace kestrane {

class AboutBox;
class OneLineLabel;
class ConverterWindow;
class OptionsDialog;
class RedownloadWindow;

// The developer's links, shown by the about box and opened by "Homepage":
// the project's home page and contact address as the build was given them
// (KESTRANE_HOME_PAGE, KESTRANE_CONTACT), else the manual shipped in the
// program folder and no contact link.
QString HomePageLink(const std::string &programFolder);
QString ContactLink();

// What the main window is built with. The program leaves every field at its
// default; tests give a settings file of their own and short pauses.
struct MainWindowConfig {
  std::string ProgramFolder; // empty: the folder of the running program
  std::string SettingsPath;  // empty: ProgramFolder + "ini/config.ini"
  char DecimalSeparator = '.';
  WorkerPacing Pacing; // the real pauses unless a test passes short ones
  // Tasks of at least this many tiles write their files off the window's
  // thread (TaskControlEnv::BackgroundWritesFrom).
  int64_t BackgroundWritesFrom = 20000;
};

// The side windows that the menus show; created after the main window.
struct ToolWindows {
  AboutBox *About = nullptr;
  ConverterWindow *Converter = nullptr;
  OptionsDialog *Options = nullptr;
  RedownloadWindow *Redownload = nullptr;
};

class MainWindow : public QMainWindow, private TaskView {
  Q_OBJECT
public:
  explicit MainWindow(const MainWindowConfig &config = {},
                      QWidget *parent = nullptr);
  ~MainWindow() override;

  void SetToolWindows(const ToolWindows &windows) { tools_ = windows; }

  // Where message boxes go (null: the message box). Tests record the texts.
  void SetMessageSink(MessageSink *sink) { messages_.SetTarget(sink); }
  // Where failures that escape a handler go (null: the standard error box).
  void SetErrorSink(MessageSink *sink) { errors_.SetTarget(sink); }
  // The shell's "open" of a file or link, and the launch of a sibling
  // program with its arguments; each says whether it could. Tests replace
  // them so that nothing is started.
  using ShellOpen = std::function<bool(const QUrl &)>;
  using StartProgram =
      std::function<bool(const QString &, const QStringList &)>;
  void SetShellOpen(ShellOpen open) { shellOpen_ = std::move(open); }
  void SetStartProgram(StartProgram start) { startProgram_ = std::move(start); }
  // What ends the process when the window closes while a task runs.
  void SetAbandonExit(std::function<void()> exit) {
    abandonExit_ = std::move(exit);
  }

  // Handlers. Each may throw; the control's connections show the failure
  // in the error box, tests see it directly.
  void FirstShown();
  void BrowsePathClicked();
  void StartStopClicked();
  void TimerTicked();
  void OpenTaskClicked();
  // The part of "Open task ..." after the file dialog.
  void LoadTaskFile(const std::string &projectFile);
  void ViewLogFileChosen();
  void TileViewerChosen();
  void TileJoinerChosen();
  void UserManualChosen();
  void HomePageChosen();
  void OptionsChosen();
  void ConverterChosen();
  // "Pick area on map..." and the "Map..." button: the picker opens on the
  // area in the fields (when valid); OK fills the edges and the zoom.
  void PickAreaChosen();
  void RedownloadChosen();
  void AboutChosen();
  void ExitChosen();

  // The fields as Start reads them.
  TaskFields Fields() const;
  const TaskControl &Control() const { return *control_; }
  const std::string &ProgramFolder() const { return programFolder_; }
  const std::string &DefaultPath() const { return defaultPath_; }
  const std::string &Version() const { return version_; }
  bool TimerActive() const;
  // Whether the tile folder of the task that just ended is still being
  // counted (the progress line shows the count once it is in).
  bool EndCountPending() const;

protected:
  void showEvent(QShowEvent *event) override;
  void closeEvent(QCloseEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  // TaskView: the control's panes and captions mirrored into the widgets.
  void LogPaneReset(const std::vector<std::string> &lines) override;
  void LogLineAppended(const std::string &line) override;
  void StateChanged(TaskState state) override;
  void TotalLabelChanged(const std::string &text) override;
  void FieldsRestored(const TaskFields &fields) override;

  // The widgets (MainWindowLayout.cpp).
  void BuildMenus();
  QWidget *BuildFields();
  QWidget *BuildZoomAndDirection(QWidget *parent);
  QWidget *BuildPanes();
  void BuildProgress(QWidget *central, QVBoxLayout *column);
  void BuildStatusBar();
  void BuildTimers();
  TaskControlEnv ControlEnv(const MainWindowConfig &config);
  // Connects a control's signal to a handler run through Guarded.
  template <class Sender, class Signal, class F>
  void Connect(Sender *sender, Signal signal, F handler);
  void SyncTimer();
  void SyncFailedPane(bool reset);
  void UpdateProgress();
  void UpdateEstimate();
  void ShowFields(const TaskFields &fields);
  // The area's outline and the label that tells of it.
  void SetOutline(Outline area);
  // Opens a file or link; a missing opener is told with the path.
  void Open(const QUrl &url);
  // Starts a tool program beside this window on the task in hand.
  void StartTool(const char *program, const QSize &wanted,
                 const QSize &minimum);

  std::string programFolder_;
  std::string settingsPath_;
  std::string defaultPath_;
  std::string version_;
  bool shown_ = false;
  bool inTick_ = false;

  QtMessageSink boxSink_;
  QtMessageSink errorBoxSink_;
  ForwardingSink messages_;
  ForwardingSink errors_;
  QtMainThreadBridge bridge_;
  std::unique_ptr<TaskControl> control_;
  ToolWindows tools_;
  ShellOpen shellOpen_;
  StartProgram startProgram_;
  std::function<void()> abandonExit_;

  // The failed-tile pane's lines already shown in failedPane_.
  size_t failedMirrored_ = 0;

  QLineEdit *taskNameEdit_ = nullptr;
  QPushButton *openTaskButton_ = nullptr;
  QLineEdit *leftLongitudeEdit_ = nullptr;
  QPushButton *mapButton_ = nullptr;
  QLineEdit *rightLongitudeEdit_ = nullptr;
  QLineEdit *topLatitudeEdit_ = nullptr;
  QLineEdit *bottomLatitudeEdit_ = nullptr;
  QLineEdit *zoomEdit_ = nullptr;
  UpDown *zoomSpinner_ = nullptr;
  QComboBox *directionBox_ = nullptr;
  QLineEdit *pathEdit_ = nullptr;
  QPushButton *browsePathButton_ = nullptr;
  OneLineLabel *estimateLabel_ = nullptr;
  QLabel *outlineLabel_ = nullptr;
  // The outline picked on the map, handed to Start with the edges; empty:
  // the area is the rectangle of the edges.
  Outline area_;
  QPushButton *startStopButton_ = nullptr;
  QLabel *totalLabel_ = nullptr;
  QProgressBar *progressBar_ = nullptr;
  QLabel *progressLabel_ = nullptr;
  QPlainTextEdit *logPane_ = nullptr;
  QWidget *failedPanel_ = nullptr;
  QPlainTextEdit *failedPane_ = nullptr;
  QTimer *tickTimer_ = nullptr;
  QTimer *endCountTimer_ = nullptr; // looks for the end count until it is in
  QTimer *prepareTimer_ = nullptr;  // looks for the task's files until written
};

} // namespace kestrane
