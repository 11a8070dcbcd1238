#include "mainwindow/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "areamap/PlaceOutline.h"
#include "mainwindow/OneLineLabel.h"
#include "platform/Files.h"
#include "platform/NumberFormat.h"
#include "task/Settings.h"
#include "tools/AboutBox.h"
#include "tools/ConverterWindow.h"
#include "tools/OptionsDialog.h"
#include "tools/RedownloadWindow.h"

namespace kestrane {

// ----------------------------------------------------------------- MainWindow

MainWindow::MainWindow(const MainWindowConfig &config, QWidget *parent)
    : QMainWindow(parent), programFolder_(config.ProgramFolder),
      settingsPath_(config.SettingsPath), boxSink_(this),
      errorBoxSink_(this, true), messages_(&boxSink_), errors_(&errorBoxSink_),
      bridge_(this) {
  if (programFolder_.empty())
    programFolder_ = kestrane::ProgramFolder();
  programFolder_ = IncludeTrailingDelimiter(programFolder_);
  if (settingsPath_.empty())
    settingsPath_ = SettingsPath(programFolder_);

  control_ = std::make_unique<TaskControl>(ControlEnv(config));

  shellOpen_ = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
  startProgram_ = [](const QString &program, const QStringList &arguments) {
    return QProcess::startDetached(program, arguments);
  };
  abandonExit_ = [] {
    // Workers may be waiting on this thread in a blocking call; ending the
    // process here, without unwinding, neither joins nor wakes them.
    std::fflush(nullptr);
    std::_Exit(0);
  };

  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Kestrane"));
  setFont(QFont(QStringLiteral("Tahoma"), 8));

  setCentralWidget(BuildPanes());
  BuildMenus();
  BuildStatusBar();

  BuildTimers();

  resize(596, 357);
  // The smallest size at which every field and the result under the
  // button still show whole.
  setMinimumSize(540, 340);
  if (const QScreen *screen = QGuiApplication::primaryScreen()) {
    QRect frame(QPoint(), size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

// The task control behind the window: its panes and positions are saved
// off the window's thread, and the end of a task is counted there too.
TaskControlEnv MainWindow::ControlEnv(const MainWindowConfig &config) {
  TaskControlEnv env;
  env.SavePositionsInBackground = true;
  env.EndInventoryInBackground = true;
  env.SettingsPath = settingsPath_;
  env.ProgramFolder = programFolder_;
  env.DecimalSeparator = config.DecimalSeparator;
  env.Messages = &messages_;
  env.Bridge = &bridge_;
  env.View = this;
  env.Pacing = config.Pacing;
  env.AskBeforeLongTasks = true;
  env.BackgroundWritesFrom = config.BackgroundWritesFrom;
  return env;
}

void MainWindow::BuildTimers() {
  tickTimer_ = new QTimer(this);
  tickTimer_->setObjectName(QStringLiteral("Timer1"));
  tickTimer_->setInterval(kTickPeriod);
  // A message box of a tick (the end of the task, a failure) runs its own
  // event loop; the ticks that come meanwhile wait for the next second.
  connect(tickTimer_, &QTimer::timeout, this, [this] {
    if (inTick_)
      return;
    inTick_ = true;
    Guarded(errors_, [this] { TimerTicked(); });
    inTick_ = false;
  });

  endCountTimer_ = new QTimer(this);
  endCountTimer_->setInterval(100);
  connect(endCountTimer_, &QTimer::timeout, this, [this] {
    if (control_->EndInventoryPending())
      return;
    endCountTimer_->stop();
    UpdateProgress();
  });

  // A large task's files are written off this thread; once they are, the
  // control starts the workers (or reports why it could not).
  prepareTimer_ = new QTimer(this);
  prepareTimer_->setInterval(50);
  connect(prepareTimer_, &QTimer::timeout, this, [this] {
    prepareTimer_->stop();
    bool pending = false;
    Guarded(errors_, [&] { pending = control_->PreparationPending(); });
    if (pending) {
      prepareTimer_->start();
      return;
    }
    SyncTimer();
    SyncFailedPane(true);
    UpdateProgress();
  });
}

MainWindow::~MainWindow() {
  tickTimer_->stop();
  endCountTimer_->stop();
  prepareTimer_->stop();
  // Workers wait on this thread for their calls: let each end after its
  // current tile before the control, which joins them, goes.
  if (control_->RunningThreads() > 0) {
    control_->Stop();
    while (control_->RunningThreads() > 0)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  control_.reset();
}

// ------------------------------------------------------- start-up, fields

void MainWindow::showEvent(QShowEvent *event) {
  QMainWindow::showEvent(event);
  if (!shown_) {
    shown_ = true;
    Guarded(errors_, [this] { FirstShown(); });
  }
}

void MainWindow::FirstShown() {
  const Settings settings = ReadSettings(settingsPath_);
  defaultPath_ = settings.DefaultPath;
  version_ = settings.Version;
  setWindowTitle(QStr("Kestrane " + version_));
  pathEdit_->setText(QStr(defaultPath_));
  if (tools_.About)
    tools_.About->SetVersion(QStr(version_));
}

void MainWindow::BrowsePathClicked() {
  const QString folder = QFileDialog::getExistingDirectory(
      this, QStringLiteral("Select path to save"), QString(),
      QFileDialog::ShowDirsOnly);
  if (!folder.isEmpty())
    pathEdit_->setText(folder);
}

TaskFields MainWindow::Fields() const {
  TaskFields fields;
  fields.TaskName = StdStr(taskNameEdit_->text());
  fields.Left = StdStr(leftLongitudeEdit_->text());
  fields.Right = StdStr(rightLongitudeEdit_->text());
  fields.Top = StdStr(topLatitudeEdit_->text());
  fields.Bottom = StdStr(bottomLatitudeEdit_->text());
  fields.Zoom = StdStr(zoomEdit_->text());
  fields.DirIndex = directionBox_->currentIndex();
  fields.Path = StdStr(pathEdit_->text());
  fields.Area = area_;
  return fields;
}

void MainWindow::OpenTaskClicked() {
  const QString file = QFileDialog::getOpenFileName(
      this, QStringLiteral("Open project file:"), QStr(defaultPath_),
      QStringLiteral("Projects(*.ktsk)"));
  if (!file.isEmpty())
    LoadTaskFile(StdStr(file));
}

void MainWindow::LoadTaskFile(const std::string &projectFile) {
  ShowFields(OpenTaskFile(projectFile).Fields());
}

void MainWindow::ShowFields(const TaskFields &fields) {
  leftLongitudeEdit_->setText(QStr(fields.Left));
  rightLongitudeEdit_->setText(QStr(fields.Right));
  topLatitudeEdit_->setText(QStr(fields.Top));
  bottomLatitudeEdit_->setText(QStr(fields.Bottom));
  pathEdit_->setText(QStr(fields.Path));
  taskNameEdit_->setText(QStr(fields.TaskName));
  // The spinner stays within its range; the field shows the stored number.
  const int zoom = QStr(fields.Zoom).toInt();
  zoomSpinner_->SetValue(zoom);
  zoomEdit_->setText(QStr(fields.Zoom));
  // A direction outside the four leaves the list without a choice.
  directionBox_->setCurrentIndex(
      fields.DirIndex >= 0 && fields.DirIndex <= 3 ? fields.DirIndex : -1);
  SetOutline(fields.Area);
}

void MainWindow::SetOutline(Outline area) {
  area_ = std::move(area);
  outlineLabel_->setText(QStr(OutlineSummary(area_)));
  outlineLabel_->setVisible(!area_.empty());
  UpdateEstimate();
}

// ------------------------------------------------------------ task, timer

bool MainWindow::TimerActive() const {
  return tickTimer_->isActive();
}

bool MainWindow::EndCountPending() const {
  return endCountTimer_->isActive();
}

void MainWindow::StartStopClicked() {
  const bool starting = control_->State() == TaskState::Idle;
  // The timer follows the control also when the Start path fails half-way:
  // workers that did start end their task through the ticks.
  struct AfterClick {
    MainWindow *Window;
    bool Starting;
    ~AfterClick() {
      if (Starting && Window->control_->TimerEnabled()) {
        Window->SyncFailedPane(true);
        Window->UpdateProgress();
      }
      Window->SyncTimer();
    }
  } after{this, starting};
  control_->ButtonClick(Fields());
}

void MainWindow::SyncTimer() {
  if (control_->TimerEnabled() && !tickTimer_->isActive())
    tickTimer_->start();
  else if (!control_->TimerEnabled() && tickTimer_->isActive())
    tickTimer_->stop();
}

void MainWindow::TimerTicked() {
  if (!control_->TimerEnabled()) {
    tickTimer_->stop();
    return;
  }
  control_->Tick();
  SyncTimer();
  SyncFailedPane(false);
  UpdateProgress();
}

void MainWindow::SyncFailedPane(bool reset) {
  const std::vector<std::string> &pane = control_->FailedPane();
  if (reset || pane.size() < failedMirrored_) {
    failedPane_->setPlainText(PaneText(pane));
    failedMirrored_ = pane.size();
    return;
  }
  for (; failedMirrored_ < pane.size(); ++failedMirrored_)
    failedPane_->appendPlainText(PaneLine(pane[failedMirrored_]));
}

void MainWindow::UpdateProgress() {
  if (control_->State() == TaskState::Preparing)
    return;
  const ProgressFigures progress = control_->ProgressShown();
  if (progress.Total <= 0)
    return;
  progressBar_->setRange(0, progress.Total);
  progressBar_->setValue(progress.Concluded);
  progressBar_->setFormat(QStr(GroupDigits(progress.Concluded) + " / " +
                               GroupDigits(progress.Total)));
  progressBar_->setTextVisible(true);
  progressLabel_->setText(KeepUnitsTogether(QStr(progress.Line)));
}

void MainWindow::UpdateEstimate() {
  const QString line =
      QStr(EstimateLine(Fields(), MaxRateSetting(settingsPath_)));
  estimateLabel_->setText(line);
  estimateLabel_->setToolTip(line.startsWith(QLatin1String("Tiles: "))
                                 ? line +
                                       QStringLiteral(" at the service's pace")
                                 : line);
}

// The control's panes and captions, mirrored.

void MainWindow::LogPaneReset(const std::vector<std::string> &lines) {
  logPane_->setPlainText(PaneText(lines));
  logPane_->verticalScrollBar()->setValue(
      logPane_->verticalScrollBar()->maximum());
}

void MainWindow::LogLineAppended(const std::string &line) {
  // The worker counted the tile before it sent the line: the bar moves
  // with the log, and is there when the line shows.
  if (control_->TaskRunning())
    UpdateProgress();
  logPane_->appendPlainText(PaneLine(line));
}

void MainWindow::FieldsRestored(const TaskFields &fields) {
  ShowFields(fields);
}

void MainWindow::StateChanged(TaskState state) {
  startStopButton_->setText(QStr(CaptionFor(state)));
  // While a large task's files are written, no second Start.
  startStopButton_->setEnabled(state != TaskState::Preparing);
  if (state == TaskState::Preparing) {
    progressBar_->setTextVisible(false);
    progressBar_->setValue(0);
    progressLabel_->setText(QStringLiteral("Writing the task's files..."));
    prepareTimer_->start();
    return;
  }
  // At the end of a task the control turns the button back before its
  // closing message box: the timer stops and the display is final while
  // the box is up, but for what the tile folder holds, which follows once
  // counted.
  if (state == TaskState::Idle) {
    SyncTimer();
    SyncFailedPane(false);
    // A count already in is taken before the line is shown.
    const bool counting = control_->EndInventoryPending();
    UpdateProgress();
    if (counting)
      endCountTimer_->start();
  }
}

void MainWindow::TotalLabelChanged(const std::string &text) {
  totalLabel_->setText(QStr(text));
  totalLabel_->setVisible(!text.empty());
}

void MainWindow::closeEvent(QCloseEvent *event) {
  event->accept();
  if (!control_->TaskRunning())
    return;
  // Closing while a task runs: the panes and positions are saved once and
  // the tiles in flight are left behind; the next Start of the same task
  // continues from the saved positions.
  tickTimer_->stop();
  control_->SaveAndAbandon();
  abandonExit_();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event) {
  if (logPane_ != nullptr && watched == logPane_->viewport() &&
      event->type() == QEvent::MouseButtonDblClick) {
    Guarded(errors_, [this] { ViewLogFileChosen(); });
    return true;
  }
  // The zoom field is read-only as text; the arrow keys, PgUp/PgDn and the
  // mouse wheel step it as the spinner does.
  if (watched == zoomEdit_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_PageUp) {
      zoomSpinner_->StepBy(1);
      return true;
    }
    if (key == Qt::Key_Down || key == Qt::Key_PageDown) {
      zoomSpinner_->StepBy(-1);
      return true;
    }
  }
  if ((watched == zoomEdit_ || watched == zoomSpinner_) &&
      event->type() == QEvent::Wheel) {
    const int delta = static_cast<QWheelEvent *>(event)->angleDelta().y();
    if (delta != 0)
      zoomSpinner_->StepBy(delta > 0 ? 1 : -1);
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

} // namespace kestrane
