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

#include "areamap/AreaFields.h"
#include "picker/PickAreaWindow.h"
#include "platform/Files.h"
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

  shellOpen_ = [](const QUrl &url) { QDesktopServices::openUrl(url); };
  startProgram_ = [](const QString &program) {
    QProcess::startDetached(program, {});
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
}

MainWindow::~MainWindow() {
  tickTimer_->stop();
  endCountTimer_->stop();
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
  const OpenedTask task = OpenTaskFile(projectFile);
  leftLongitudeEdit_->setText(QStr(task.Left));
  rightLongitudeEdit_->setText(QStr(task.Right));
  topLatitudeEdit_->setText(QStr(task.Top));
  bottomLatitudeEdit_->setText(QStr(task.Bottom));
  pathEdit_->setText(QStr(task.Path));
  taskNameEdit_->setText(QStr(task.TaskName));
  // The spinner stays within its range; the field shows the stored number.
  zoomSpinner_->SetValue(task.Zoom);
  zoomEdit_->setText(QString::number(task.Zoom));
  directionBox_->setCurrentIndex(task.DirChoice());
}

void MainWindow::PickAreaChosen() {
  PickAreaWindow picker(programFolder_ + "map/world.bin", this);
  picker.SetVisited(ReadVisitedAreas(defaultPath_));
  picker.SetStart(AreaFromFieldTexts({StdStr(leftLongitudeEdit_->text()),
                                      StdStr(rightLongitudeEdit_->text()),
                                      StdStr(topLatitudeEdit_->text()),
                                      StdStr(bottomLatitudeEdit_->text())}),
                  zoomSpinner_->Value());
  if (picker.exec() != QDialog::Accepted)
    return;
  const std::optional<AreaFieldTexts> texts = picker.PickedTexts();
  if (!texts)
    return;
  leftLongitudeEdit_->setText(QStr(texts->Left));
  rightLongitudeEdit_->setText(QStr(texts->Right));
  topLatitudeEdit_->setText(QStr(texts->Top));
  bottomLatitudeEdit_->setText(QStr(texts->Bottom));
  zoomSpinner_->SetValue(picker.PickedZoom());
  zoomEdit_->setText(QString::number(picker.PickedZoom()));
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
  const ProgressFigures progress = control_->ProgressShown();
  if (progress.Total <= 0)
    return;
  progressBar_->setRange(0, progress.Total);
  progressBar_->setValue(progress.Concluded);
  progressBar_->setTextVisible(true);
  progressLabel_->setText(QStr(progress.Line));
}

void MainWindow::UpdateEstimate() {
  estimateLabel_->setText(
      QStr(EstimateLine(Fields(), MaxRateSetting(settingsPath_))));
}

// The control's panes and captions, mirrored.

void MainWindow::LogPaneReset(const std::vector<std::string> &lines) {
  logPane_->setPlainText(PaneText(lines));
  logPane_->verticalScrollBar()->setValue(
      logPane_->verticalScrollBar()->maximum());
}

void MainWindow::LogLineAppended(const std::string &line) {
  logPane_->appendPlainText(PaneLine(line));
}

void MainWindow::StateChanged(TaskState state) {
  startStopButton_->setText(QStr(CaptionFor(state)));
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
}

// ------------------------------------------------------------------ menus

void MainWindow::ViewLogFileChosen() {
  const TaskControl::LogFileView log = control_->LogFileToView();
  if (log.Path.empty())
    messages_.ShowMessage(log.Message);
  else
    shellOpen_(QUrl::fromLocalFile(QStr(log.Path)));
}

void MainWindow::TileViewerChosen() {
  startProgram_(QStr(programFolder_ + "tileview"));
}

void MainWindow::TileJoinerChosen() {
  startProgram_(QStr(programFolder_ + "tilejoin"));
}

void MainWindow::UserManualChosen() {
  shellOpen_(QUrl::fromLocalFile(QStr(programFolder_ + "help/help.html")));
}

void MainWindow::HomePageChosen() {
  shellOpen_(QUrl(QString::fromLatin1(kHomePageLink)));
}

void MainWindow::OptionsChosen() {
  if (tools_.Options)
    tools_.Options->exec();
}

void MainWindow::ConverterChosen() {
  if (tools_.Converter == nullptr)
    return;
  tools_.Converter->show();
  tools_.Converter->raise();
  tools_.Converter->activateWindow();
}

void MainWindow::RedownloadChosen() {
  if (tools_.Redownload)
    tools_.Redownload->exec();
}

void MainWindow::AboutChosen() {
  if (tools_.About)
    tools_.About->exec();
}

void MainWindow::ExitChosen() {
  close();
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
