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
  control_ = std::make_unique<TaskControl>(std::move(env));

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

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(kTickPeriod);
  // A message box of a tick (the end of the task, a failure) runs its own
  // event loop; the ticks that come meanwhile wait for the next second.
  connect(Timer1, &QTimer::timeout, this, [this] {
    if (inTick_)
      return;
    inTick_ = true;
    Guarded(errors_, [this] { Timer1Timer(); });
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

  resize(596, 357);
  if (const QScreen *screen = QGuiApplication::primaryScreen()) {
    QRect frame(QPoint(), size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

MainWindow::~MainWindow() {
  Timer1->stop();
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
    Guarded(errors_, [this] { FormShow(); });
  }
}

void MainWindow::FormShow() {
  const Settings settings = ReadSettings(settingsPath_);
  defaultPath_ = settings.DefaultPath;
  version_ = settings.Version;
  setWindowTitle(QStr("Kestrane " + version_));
  Edit6->setText(QStr(defaultPath_));
  if (tools_.About)
    tools_.About->SetVersion(QStr(version_));
}

void MainWindow::Button1Click() {
  const QString folder = QFileDialog::getExistingDirectory(
      this, QStringLiteral("Select path to save"), QString(),
      QFileDialog::ShowDirsOnly);
  if (!folder.isEmpty())
    Edit6->setText(folder);
}

TaskFields MainWindow::Fields() const {
  TaskFields fields;
  fields.TaskName = StdStr(EditTaskName->text());
  fields.Left = StdStr(Edit1->text());
  fields.Right = StdStr(Edit3->text());
  fields.Top = StdStr(Edit2->text());
  fields.Bottom = StdStr(Edit4->text());
  fields.Zoom = StdStr(Edit5->text());
  fields.DirIndex = cbDirection->currentIndex();
  fields.Path = StdStr(Edit6->text());
  return fields;
}

void MainWindow::LoadParametersfromprojectfilel1Click() {
  const QString file = QFileDialog::getOpenFileName(
      this, QStringLiteral("Open project file:"), QStr(defaultPath_),
      QStringLiteral("Projects(*.ktsk)"));
  if (!file.isEmpty())
    LoadTaskFile(StdStr(file));
}

void MainWindow::LoadTaskFile(const std::string &projectFile) {
  const OpenedTask task = OpenTaskFile(projectFile);
  Edit1->setText(QStr(task.Left));
  Edit3->setText(QStr(task.Right));
  Edit2->setText(QStr(task.Top));
  Edit4->setText(QStr(task.Bottom));
  Edit6->setText(QStr(task.Path));
  EditTaskName->setText(QStr(task.TaskName));
  // The spinner stays within its range; the field shows the stored number.
  UpDown1->setValue(task.Zoom);
  Edit5->setText(QString::number(task.Zoom));
  cbDirection->setCurrentIndex(task.DirChoice());
}

void MainWindow::Pickareaonmap1Click() {
  PickAreaWindow picker(programFolder_ + "map/world.bin", this);
  picker.SetVisited(ReadVisitedAreas(defaultPath_));
  picker.SetStart(
      AreaFromFieldTexts({StdStr(Edit1->text()), StdStr(Edit3->text()),
                          StdStr(Edit2->text()), StdStr(Edit4->text())}),
      UpDown1->value());
  if (picker.exec() != QDialog::Accepted)
    return;
  const std::optional<AreaFieldTexts> texts = picker.PickedTexts();
  if (!texts)
    return;
  Edit1->setText(QStr(texts->Left));
  Edit3->setText(QStr(texts->Right));
  Edit2->setText(QStr(texts->Top));
  Edit4->setText(QStr(texts->Bottom));
  UpDown1->setValue(picker.PickedZoom());
  Edit5->setText(QString::number(picker.PickedZoom()));
}

// ------------------------------------------------------------ task, timer

bool MainWindow::TimerActive() const {
  return Timer1->isActive();
}

bool MainWindow::EndCountPending() const {
  return endCountTimer_->isActive();
}

void MainWindow::BitBtn1Click() {
  const bool starting = control_->State() == TaskState::Idle;
  // The timer follows the control also when the Start path fails half-way:
  // workers that did start end their task through the ticks.
  struct AfterClick {
    MainWindow *form;
    bool starting;
    ~AfterClick() {
      if (starting && form->control_->TimerEnabled()) {
        form->SyncFailedPane(true);
        form->UpdateProgress();
      }
      form->SyncTimer();
    }
  } after{this, starting};
  control_->ButtonClick(Fields());
}

void MainWindow::SyncTimer() {
  if (control_->TimerEnabled() && !Timer1->isActive())
    Timer1->start();
  else if (!control_->TimerEnabled() && Timer1->isActive())
    Timer1->stop();
}

void MainWindow::Timer1Timer() {
  if (!control_->TimerEnabled()) {
    Timer1->stop();
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
    Memo2->setPlainText(PaneText(pane));
    failedMirrored_ = pane.size();
    return;
  }
  for (; failedMirrored_ < pane.size(); ++failedMirrored_)
    Memo2->appendPlainText(PaneLine(pane[failedMirrored_]));
}

void MainWindow::UpdateProgress() {
  const ProgressFigures progress = control_->ProgressShown();
  if (progress.Total <= 0)
    return;
  ProgressBar1->setRange(0, progress.Total);
  ProgressBar1->setValue(progress.Concluded);
  ProgressBar1->setTextVisible(true);
  LabelProgress->setText(QStr(progress.Line));
}

void MainWindow::UpdateEstimate() {
  LabelEstimate->setText(QStr(EstimateLine(Fields())));
}

// The control's panes and captions, mirrored.

void MainWindow::LogPaneReset(const std::vector<std::string> &lines) {
  Memo1->setPlainText(PaneText(lines));
  Memo1->verticalScrollBar()->setValue(Memo1->verticalScrollBar()->maximum());
}

void MainWindow::LogLineAppended(const std::string &line) {
  Memo1->appendPlainText(PaneLine(line));
}

void MainWindow::StateChanged(TaskState state) {
  BitBtn1->setText(QStr(CaptionFor(state)));
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
  LabelTotalxy->setText(QStr(text));
}

// ------------------------------------------------------------------ menus

void MainWindow::Viewlogfile1Click() {
  const TaskControl::LogFileView log = control_->LogFileToView();
  if (log.Path.empty())
    messages_.ShowMessage(log.Message);
  else
    shellOpen_(QUrl::fromLocalFile(QStr(log.Path)));
}

void MainWindow::Tileviewer1Click() {
  startProgram_(QStr(programFolder_ + "tileview"));
}

void MainWindow::CombineImages1Click() {
  startProgram_(QStr(programFolder_ + "tilejoin"));
}

void MainWindow::Usermanual1Click() {
  shellOpen_(QUrl::fromLocalFile(QStr(programFolder_ + "help/help.html")));
}

void MainWindow::Homepage1Click() {
  shellOpen_(QUrl(QString::fromLatin1(kHomePageLink)));
}

void MainWindow::Options2Click() {
  if (tools_.Options)
    tools_.Options->exec();
}

void MainWindow::ConvertLongitudeorLatitudetodegreen1Click() {
  if (tools_.Convert == nullptr)
    return;
  tools_.Convert->show();
  tools_.Convert->raise();
  tools_.Convert->activateWindow();
}

void MainWindow::ReDownloadfailedfiles1Click() {
  if (tools_.Flt)
    tools_.Flt->exec();
}

void MainWindow::About1Click() {
  if (tools_.About)
    tools_.About->exec();
}

void MainWindow::Exit1Click() {
  close();
}

void MainWindow::closeEvent(QCloseEvent *event) {
  event->accept();
  if (!control_->TaskRunning())
    return;
  // Closing while a task runs: the panes and positions are saved once and
  // the tiles in flight are left behind; the next Start of the same task
  // continues from the saved positions.
  Timer1->stop();
  control_->SaveAndAbandon();
  abandonExit_();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event) {
  if (Memo1 != nullptr && watched == Memo1->viewport() &&
      event->type() == QEvent::MouseButtonDblClick) {
    Guarded(errors_, [this] { Viewlogfile1Click(); });
    return true;
  }
  // The zoom field is read-only as text; the arrow keys, PgUp/PgDn and the
  // mouse wheel step it as the spinner does.
  if (watched == Edit5 && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_PageUp) {
      UpDown1->stepBy(1);
      return true;
    }
    if (key == Qt::Key_Down || key == Qt::Key_PageDown) {
      UpDown1->stepBy(-1);
      return true;
    }
  }
  if ((watched == Edit5 || watched == UpDown1) &&
      event->type() == QEvent::Wheel) {
    const int delta = static_cast<QWheelEvent *>(event)->angleDelta().y();
    if (delta != 0)
      UpDown1->stepBy(delta > 0 ? 1 : -1);
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

} // namespace kestrane
