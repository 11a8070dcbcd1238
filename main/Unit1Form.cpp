#include "main/Unit1Form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "areamap/AreaFields.h"
#include "picker/PickAreaForm.h"
#include "platform/Files.h"
#include "task/Settings.h"
#include "tools/AboutForm.h"
#include "tools/ConvertForm.h"
#include "tools/UnitftlForm.h"
#include "tools/UnitoptionsForm.h"

namespace kestrane {

namespace {

const char kStatusText[] = "Download bird's eye view images from Bing Maps!";

} // namespace

// ---------------------------------------------------------------- TUpDown

TUpDown::TUpDown(QWidget *parent)
    : QWidget(parent), up_(new QToolButton(this)),
      down_(new QToolButton(this)) {
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  for (QToolButton *button : {up_, down_}) {
    button->setArrowType(button == up_ ? Qt::UpArrow : Qt::DownArrow);
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    button->setFixedWidth(16);
    button->setMinimumHeight(1);
    button->setIconSize(QSize(8, 6));
    layout->addWidget(button);
  }
  up_->setObjectName(QStringLiteral("UpDown1Up"));
  down_->setObjectName(QStringLiteral("UpDown1Down"));
  connect(up_, &QToolButton::clicked, this, [this] { stepBy(1); });
  connect(down_, &QToolButton::clicked, this, [this] { stepBy(-1); });
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
}

void TUpDown::setRange(int min, int max) {
  min_ = min;
  max_ = std::max(min, max);
  setValue(value_);
}

void TUpDown::setValue(int value) {
  value = std::clamp(value, min_, max_);
  if (value == value_)
    return;
  value_ = value;
  emit valueChanged(value_);
}

// ----------------------------------------------------------------- TForm1

template <class Sender, class Signal, class F>
void TForm1::Connect(Sender *sender, Signal signal, F handler) {
  connect(sender, signal, this,
          [this, handler] { Guarded(errors_, [&] { (this->*handler)(); }); });
}

TForm1::TForm1(TForm1Config config, QWidget *parent)
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

  auto *central = new QWidget(this);
  auto *layout = new QHBoxLayout(central);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->setSpacing(6);
  layout->addWidget(BuildFields());

  Memo1 = new QPlainTextEdit(central);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QPalette palette = Memo1->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::ToolTipBase));
  palette.setColor(QPalette::Text, QColor(0, 128, 0));
  Memo1->setPalette(palette);
  Memo1->setToolTip(QStringLiteral("Double click to view log in notepad"));
  Memo1->setPlainText(QStringLiteral("[log window]"));
  Memo1->viewport()->installEventFilter(this);
  layout->addWidget(Memo1, 1);

  // The failed-tile pane: the working copy of the failed-tile list, never
  // shown.
  Panel2 = new QWidget(central);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  Panel2->hide();
  Memo2 = new QPlainTextEdit(Panel2);
  Memo2->setObjectName(QStringLiteral("Memo2"));
  Memo2->setReadOnly(true);
  Memo2->setPlainText(QStringLiteral("[Failed tile inforamtion window]"));

  setCentralWidget(central);
  BuildMenus();

  auto *status = new QLabel(QString::fromLatin1(kStatusText), this);
  status->setObjectName(QStringLiteral("StatusBar1Panel"));
  // Room below the base line for the descenders of "y" and "g", whatever
  // font stands in for Tahoma.
  status->setContentsMargins(0, 1, 0, 2);
  status->setMinimumHeight(status->fontMetrics().height() + 3);
  statusBar()->setObjectName(QStringLiteral("StatusBar1"));
  statusBar()->addWidget(status, 1);
  statusBar()->setSizeGripEnabled(false);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);
  // A message box of a tick (the end of the task, a failure) runs its own
  // event loop; the ticks that come meanwhile wait for the next second.
  connect(Timer1, &QTimer::timeout, this, [this] {
    if (inTick_)
      return;
    inTick_ = true;
    Guarded(errors_, [this] { Timer1Timer(); });
    inTick_ = false;
  });

  resize(596, 357);
  if (const QScreen *screen = QGuiApplication::primaryScreen()) {
    QRect frame(QPoint(), size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

TForm1::~TForm1() {
  Timer1->stop();
  // Workers wait on this thread for their calls: let each end after its
  // current tile before the control, which joins them, goes.
  if (control_->RunningThreads() > 0) {
    control_->Stop();
    while (control_->RunningThreads() > 0)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  control_.reset();
}

QWidget *TForm1::BuildFields() {
  auto *panel = new QWidget(this);
  panel->setObjectName(QStringLiteral("PanelFields"));
  auto *grid = new QGridLayout(panel);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setHorizontalSpacing(4);
  grid->setVerticalSpacing(3);

  auto label = [&](const char *text, int row) {
    auto *l = new QLabel(QString::fromLatin1(text), panel);
    grid->addWidget(l, row, 0);
    return l;
  };
  auto edit = [&](const char *name, int row, int span = 2) {
    auto *e = new QLineEdit(panel);
    e->setObjectName(QString::fromLatin1(name));
    grid->addWidget(e, row, 1, 1, span);
    return e;
  };

  label("Task name:", 0);
  EditTaskName = edit("EditTaskName", 0, 1);
  EditTaskName->setText(QStringLiteral("newtask.ktsk"));
  Button4 = new QPushButton(QStringLiteral("Open task ..."), panel);
  Button4->setObjectName(QStringLiteral("Button4"));
  Button4->setAutoDefault(false);
  grid->addWidget(Button4, 0, 2);

  label("Left Longitude:", 1);
  Edit1 = edit("Edit1", 1, 1);
  ButtonMap = new QPushButton(QStringLiteral("Map..."), panel);
  ButtonMap->setObjectName(QStringLiteral("ButtonMap"));
  ButtonMap->setToolTip(QStringLiteral("Pick the area on a map"));
  ButtonMap->setAutoDefault(false);
  grid->addWidget(ButtonMap, 1, 2);
  label("Right Longitude:", 2);
  Edit3 = edit("Edit3", 2);
  label("Top Latitude:", 3);
  Edit2 = edit("Edit2", 3);
  label("Bottom Latitude:", 4);
  Edit4 = edit("Edit4", 4);

  label("Zoom level:", 5);
  auto *zoom = new QWidget(panel);
  auto *zoomLayout = new QHBoxLayout(zoom);
  zoomLayout->setContentsMargins(0, 0, 0, 0);
  zoomLayout->setSpacing(0);
  Edit5 = new QLineEdit(QStringLiteral("13"), zoom);
  Edit5->setObjectName(QStringLiteral("Edit5"));
  Edit5->setReadOnly(true);
  Edit5->setMaximumWidth(48);
  Edit5->installEventFilter(this);
  UpDown1 = new TUpDown(zoom);
  UpDown1->setObjectName(QStringLiteral("UpDown1"));
  UpDown1->setRange(1, 21);
  UpDown1->setValue(13);
  UpDown1->installEventFilter(this);
  // As tall as its field: two small arrows beside it.
  UpDown1->setFixedHeight(Edit5->sizeHint().height());
  zoomLayout->addWidget(Edit5);
  zoomLayout->addWidget(UpDown1);
  zoomLayout->addStretch(1);
  grid->addWidget(zoom, 5, 1, 1, 2);
  connect(UpDown1, &TUpDown::valueChanged, this,
          [this](int value) { Edit5->setText(QString::number(value)); });

  label("Direction: ", 6);
  cbDirection = new QComboBox(panel);
  cbDirection->setObjectName(QStringLiteral("cbDirection"));
  cbDirection->addItems({QStringLiteral("North"), QStringLiteral("East"),
                         QStringLiteral("South"), QStringLiteral("West")});
  cbDirection->setCurrentIndex(0);
  grid->addWidget(cbDirection, 6, 1, 1, 2);

  label("Path to save:", 7);
  auto *pathRow = new QHBoxLayout;
  pathRow->setSpacing(4);
  Edit6 = new QLineEdit(panel);
  Edit6->setObjectName(QStringLiteral("Edit6"));
  Button1 = new QPushButton(QStringLiteral("..."), panel);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setToolTip(QStringLiteral("Click to select path"));
  Button1->setAutoDefault(false);
  Button1->setFixedWidth(28);
  pathRow->addWidget(Edit6, 1);
  pathRow->addWidget(Button1);
  grid->addLayout(pathRow, 7, 1, 1, 2);

  // What the fields as typed would cost, or why Start would refuse them.
  LabelEstimate = new QLabel(panel);
  LabelEstimate->setObjectName(QStringLiteral("LabelEstimate"));
  LabelEstimate->setWordWrap(true);
  QPalette grey = LabelEstimate->palette();
  grey.setColor(QPalette::WindowText, QColor(110, 110, 110));
  LabelEstimate->setPalette(grey);
  grid->addWidget(LabelEstimate, 8, 0, 1, 3);

  BitBtn1 = new QPushButton(QStringLiteral("Start"), panel);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  QFont bold(QStringLiteral("Tahoma"), 10);
  bold.setBold(true);
  BitBtn1->setFont(bold);
  BitBtn1->setDefault(true);
  BitBtn1->setMinimumHeight(28);
  grid->addWidget(BitBtn1, 9, 0, 1, 3);

  LabelTotalxy = new QLabel(panel);
  LabelTotalxy->setObjectName(QStringLiteral("LabelTotalxy"));
  grid->addWidget(LabelTotalxy, 10, 0, 1, 3);

  ProgressBar1 = new QProgressBar(panel);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setRange(0, 1);
  ProgressBar1->setValue(0);
  ProgressBar1->setMaximumHeight(16);
  ProgressBar1->setFormat(QStringLiteral("%v / %m"));
  ProgressBar1->setTextVisible(false); // until a task starts
  grid->addWidget(ProgressBar1, 11, 0, 1, 3);

  LabelProgress = new QLabel(panel);
  LabelProgress->setObjectName(QStringLiteral("LabelProgress"));
  LabelProgress->setWordWrap(true);
  grid->addWidget(LabelProgress, 12, 0, 1, 3);
  grid->setRowStretch(13, 1);
  grid->setColumnStretch(1, 1);

  // Enter in a field presses the default button, as in a dialog.
  for (QLineEdit *e : {EditTaskName, Edit1, Edit3, Edit2, Edit4, Edit5, Edit6})
    connect(e, &QLineEdit::returnPressed, BitBtn1, &QPushButton::click);

  for (QLineEdit *e : {EditTaskName, Edit1, Edit3, Edit2, Edit4, Edit5, Edit6})
    connect(e, &QLineEdit::textChanged, this, &TForm1::UpdateEstimate);
  connect(cbDirection, &QComboBox::currentIndexChanged, this,
          &TForm1::UpdateEstimate);
  UpdateEstimate();

  Connect(Button4, &QPushButton::clicked,
          &TForm1::LoadParametersfromprojectfilel1Click);
  Connect(Button1, &QPushButton::clicked, &TForm1::Button1Click);
  Connect(ButtonMap, &QPushButton::clicked, &TForm1::Pickareaonmap1Click);
  Connect(BitBtn1, &QPushButton::clicked, &TForm1::BitBtn1Click);

  panel->setFixedWidth(300);
  return panel;
}

void TForm1::BuildMenus() {
  QMenuBar *bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));
  auto item = [&](QMenu *menu, const QString &text, const char *name,
                  void (TForm1::*handler)()) {
    QAction *action = menu->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    Connect(action, &QAction::triggered, handler);
    return action;
  };

  QMenu *file = bar->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("File1"));
  item(file, QStringLiteral("E&xit"), "Exit1", &TForm1::Exit1Click);

  QMenu *options = bar->addMenu(QStringLiteral("&Options"));
  options->setObjectName(QStringLiteral("Options1"));
  item(options, QStringLiteral("Options..."), "Options2",
       &TForm1::Options2Click);

  QMenu *misc = bar->addMenu(QStringLiteral("&Misc"));
  misc->setObjectName(QStringLiteral("Misc1"));
  item(misc, QStringLiteral("Pick area on map..."), "Pickareaonmap1",
       &TForm1::Pickareaonmap1Click);
  misc->addSeparator();
  item(misc,
       QStringLiteral("Convert \"Degrees,Minutes,Seconds\"  to \"Degrees\"..."),
       "ConvertLongitudeorLatitudetodegreen1",
       &TForm1::ConvertLongitudeorLatitudetodegreen1Click);
  misc->addSeparator();
  item(misc, QStringLiteral("View log file"), "Viewlogfile1",
       &TForm1::Viewlogfile1Click);

  QMenu *tools = bar->addMenu(QStringLiteral("&Tools"));
  tools->setObjectName(QStringLiteral("Tools1"));
  item(tools, QStringLiteral("Tile Viewer"), "Tileviewer1",
       &TForm1::Tileviewer1Click);
  tools->addSeparator();
  item(tools, QStringLiteral("Tile Joiner"), "CombineImages1",
       &TForm1::CombineImages1Click);
  tools->addSeparator();
  item(tools, QStringLiteral("Re-Download failed images"),
       "ReDownloadfailedfiles1", &TForm1::ReDownloadfailedfiles1Click);

  QMenu *help = bar->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("Help1"));
  item(help, QStringLiteral("User manual"), "Usermanual1",
       &TForm1::Usermanual1Click);
  item(help, QStringLiteral("Homepage"), "Homepage1", &TForm1::Homepage1Click);
  help->addSeparator();
  item(help, QStringLiteral("About..."), "About1", &TForm1::About1Click);
}

// ------------------------------------------------------- start-up, fields

void TForm1::showEvent(QShowEvent *event) {
  QMainWindow::showEvent(event);
  if (!shown_) {
    shown_ = true;
    Guarded(errors_, [this] { FormShow(); });
  }
}

void TForm1::FormShow() {
  const Settings settings = ReadSettings(settingsPath_);
  defaultPath_ = settings.DefaultPath;
  version_ = settings.Version;
  setWindowTitle(QStr("Kestrane " + version_));
  Edit6->setText(QStr(defaultPath_));
  if (tools_.About)
    tools_.About->SetVersion(QStr(version_));
}

void TForm1::Button1Click() {
  const QString folder = QFileDialog::getExistingDirectory(
      this, QStringLiteral("Select path to save"), QString(),
      QFileDialog::ShowDirsOnly);
  if (!folder.isEmpty())
    Edit6->setText(folder);
}

TaskFields TForm1::Fields() const {
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

void TForm1::LoadParametersfromprojectfilel1Click() {
  const QString file = QFileDialog::getOpenFileName(
      this, QStringLiteral("Open project file:"), QStr(defaultPath_),
      QStringLiteral("Projects(*.ktsk)"));
  if (!file.isEmpty())
    LoadTaskFile(StdStr(file));
}

void TForm1::LoadTaskFile(const std::string &projectFile) {
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
  cbDirection->setCurrentIndex(task.Dir >= 0 && task.Dir < 4 ? task.Dir : -1);
}

void TForm1::Pickareaonmap1Click() {
  TfrmPickArea picker(programFolder_ + "map/world.bin", this);
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

bool TForm1::TaskRunning() const {
  return control_->TimerEnabled() || control_->RunningThreads() > 0;
}

bool TForm1::TimerActive() const {
  return Timer1->isActive();
}

void TForm1::BitBtn1Click() {
  const bool starting = control_->Caption() == "Start";
  // The timer follows the control also when the Start path fails half-way:
  // workers that did start end their task through the ticks.
  struct AfterClick {
    TForm1 *form;
    bool starting;
    ~AfterClick() {
      if (starting && form->control_->TimerEnabled()) {
        form->runClock_.start();
        form->SyncFailedPane(true);
        form->UpdateProgress();
      }
      form->SyncTimer();
    }
  } after{this, starting};
  control_->ButtonClick(Fields());
}

void TForm1::SyncTimer() {
  if (control_->TimerEnabled() && !Timer1->isActive())
    Timer1->start();
  else if (!control_->TimerEnabled() && Timer1->isActive())
    Timer1->stop();
}

void TForm1::Timer1Timer() {
  if (!control_->TimerEnabled()) {
    Timer1->stop();
    return;
  }
  control_->Tick();
  SyncTimer();
  SyncFailedPane(false);
  UpdateProgress();
}

void TForm1::SyncFailedPane(bool reset) {
  const std::vector<std::string> &pane = control_->FailedPane();
  if (reset || pane.size() < failedMirrored_) {
    Memo2->setPlainText(PaneText(pane));
    failedMirrored_ = pane.size();
    return;
  }
  for (; failedMirrored_ < pane.size(); ++failedMirrored_)
    Memo2->appendPlainText(PaneLine(pane[failedMirrored_]));
}

void TForm1::UpdateProgress() {
  const TaskProgress progress = control_->Progress();
  if (progress.Total <= 0)
    return;
  const int concluded = std::min(progress.Concluded(), progress.Total);
  ProgressBar1->setRange(0, progress.Total);
  ProgressBar1->setValue(concluded);
  ProgressBar1->setTextVisible(true);
  const double seconds = runClock_.isValid() ? runClock_.elapsed() / 1000.0 : 0;
  std::string line = ProgressLine(progress, TaskRunning(), seconds);
  // Once a task has ended, also what its tile folder holds, as the command
  // line's summary counts it: tiles of earlier runs and deleted ones too.
  if (!TaskRunning())
    if (const auto &end = control_->EndInventory())
      line += "; in the tile folder: " + InventorySummaryLine(*end);
  LabelProgress->setText(QStr(line));
}

void TForm1::UpdateEstimate() {
  LabelEstimate->setText(QStr(EstimateLine(Fields())));
}

// The control's panes and captions, mirrored.

void TForm1::LogPaneReset(const std::vector<std::string> &lines) {
  Memo1->setPlainText(PaneText(lines));
  Memo1->verticalScrollBar()->setValue(Memo1->verticalScrollBar()->maximum());
}

void TForm1::LogLineAppended(const std::string &line) {
  Memo1->appendPlainText(PaneLine(line));
}

void TForm1::CaptionChanged(const std::string &caption) {
  BitBtn1->setText(QStr(caption));
  // At the end of a task the control turns the button back before its
  // closing message box: the timer stops and the display is final while
  // the box is up.
  if (caption == "Start") {
    SyncTimer();
    SyncFailedPane(false);
    UpdateProgress();
  }
}

void TForm1::TotalLabelChanged(const std::string &text) {
  LabelTotalxy->setText(QStr(text));
}

// ------------------------------------------------------------------ menus

void TForm1::Viewlogfile1Click() {
  const MDTask *task = control_->CurrentTask();
  if (task == nullptr) {
    messages_.ShowMessage("No task running now." + std::string(18, ' '));
    return;
  }
  if (FileExists(task->LogFilePath))
    shellOpen_(QUrl::fromLocalFile(QStr(task->LogFilePath)));
  else
    messages_.ShowMessage("No logfile now." + std::string(25, ' '));
}

void TForm1::Tileviewer1Click() {
  startProgram_(QStr(programFolder_ + "tileview"));
}

void TForm1::CombineImages1Click() {
  startProgram_(QStr(programFolder_ + "tilejoin"));
}

void TForm1::Usermanual1Click() {
  shellOpen_(QUrl::fromLocalFile(QStr(programFolder_ + "help/help.html")));
}

void TForm1::Homepage1Click() {
  shellOpen_(QUrl(QString::fromLatin1(kHomePageLink)));
}

void TForm1::Options2Click() {
  if (tools_.Options)
    tools_.Options->exec();
}

void TForm1::ConvertLongitudeorLatitudetodegreen1Click() {
  if (tools_.Convert == nullptr)
    return;
  tools_.Convert->show();
  tools_.Convert->raise();
  tools_.Convert->activateWindow();
}

void TForm1::ReDownloadfailedfiles1Click() {
  if (tools_.Flt)
    tools_.Flt->exec();
}

void TForm1::About1Click() {
  if (tools_.About)
    tools_.About->exec();
}

void TForm1::Exit1Click() {
  close();
}

void TForm1::closeEvent(QCloseEvent *event) {
  event->accept();
  if (!TaskRunning())
    return;
  // Closing while a task runs: the panes and positions are saved once and
  // the tiles in flight are left behind; the next Start of the same task
  // continues from the saved positions.
  Timer1->stop();
  control_->SaveAndAbandon();
  abandonExit_();
}

bool TForm1::eventFilter(QObject *watched, QEvent *event) {
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
