// The main window's widgets, menus and connections: layout only; what the
// handlers do is in MainWindow.cpp.
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>

#include "mainwindow/MainWindow.h"

namespace kestrane {

namespace {

const char kStatusText[] = "Download bird's eye view images from Bing Maps!";

} // namespace

template <class Sender, class Signal, class F>
void MainWindow::Connect(Sender *sender, Signal signal, F handler) {
  connect(sender, signal, this,
          [this, handler] { Guarded(errors_, [&] { (this->*handler)(); }); });
}

QWidget *MainWindow::BuildPanes() {
  auto *central = new QWidget(this);
  auto *layout = new QHBoxLayout(central);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->setSpacing(6);
  layout->addWidget(BuildFields());

  logPane_ = new QPlainTextEdit(central);
  logPane_->setObjectName(QStringLiteral("Memo1"));
  logPane_->setReadOnly(true);
  logPane_->setLineWrapMode(QPlainTextEdit::NoWrap);
  logPane_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  logPane_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QPalette palette = logPane_->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::ToolTipBase));
  palette.setColor(QPalette::Text, QColor(0, 128, 0));
  logPane_->setPalette(palette);
  logPane_->setToolTip(QStringLiteral("Double click to view log in notepad"));
  logPane_->setPlainText(QStringLiteral("[log window]"));
  logPane_->viewport()->installEventFilter(this);
  layout->addWidget(logPane_, 1);

  // The failed-tile pane: the working copy of the failed-tile list, never
  // shown.
  failedPanel_ = new QWidget(central);
  failedPanel_->setObjectName(QStringLiteral("Panel2"));
  failedPanel_->hide();
  failedPane_ = new QPlainTextEdit(failedPanel_);
  failedPane_->setObjectName(QStringLiteral("Memo2"));
  failedPane_->setReadOnly(true);
  failedPane_->setPlainText(QStringLiteral("[Failed tile inforamtion window]"));

  return central;
}

void MainWindow::BuildStatusBar() {
  auto *status = new QLabel(QString::fromLatin1(kStatusText), this);
  status->setObjectName(QStringLiteral("StatusBar1Panel"));
  // Room below the base line for the descenders of "y" and "g", whatever
  // font stands in for Tahoma.
  status->setContentsMargins(0, 1, 0, 2);
  status->setMinimumHeight(status->fontMetrics().height() + 3);
  statusBar()->setObjectName(QStringLiteral("StatusBar1"));
  statusBar()->addWidget(status, 1);
  statusBar()->setSizeGripEnabled(false);
}

QWidget *MainWindow::BuildFields() {
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
  taskNameEdit_ = edit("EditTaskName", 0, 1);
  taskNameEdit_->setText(QStringLiteral("newtask.ktsk"));
  openTaskButton_ = new QPushButton(QStringLiteral("Open task ..."), panel);
  openTaskButton_->setObjectName(QStringLiteral("Button4"));
  openTaskButton_->setAutoDefault(false);
  grid->addWidget(openTaskButton_, 0, 2);

  label("Left Longitude:", 1);
  leftLongitudeEdit_ = edit("Edit1", 1, 1);
  mapButton_ = new QPushButton(QStringLiteral("Map..."), panel);
  mapButton_->setObjectName(QStringLiteral("ButtonMap"));
  mapButton_->setToolTip(QStringLiteral("Pick the area on a map"));
  mapButton_->setAutoDefault(false);
  grid->addWidget(mapButton_, 1, 2);
  label("Right Longitude:", 2);
  rightLongitudeEdit_ = edit("Edit3", 2);
  label("Top Latitude:", 3);
  topLatitudeEdit_ = edit("Edit2", 3);
  label("Bottom Latitude:", 4);
  bottomLatitudeEdit_ = edit("Edit4", 4);

  label("Zoom level:", 5);
  auto *zoom = new QWidget(panel);
  auto *zoomLayout = new QHBoxLayout(zoom);
  zoomLayout->setContentsMargins(0, 0, 0, 0);
  zoomLayout->setSpacing(0);
  zoomEdit_ = new QLineEdit(QStringLiteral("13"), zoom);
  zoomEdit_->setObjectName(QStringLiteral("Edit5"));
  zoomEdit_->setReadOnly(true);
  zoomEdit_->setMaximumWidth(48);
  zoomEdit_->installEventFilter(this);
  zoomSpinner_ = new UpDown(zoom);
  zoomSpinner_->setObjectName(QStringLiteral("UpDown1"));
  zoomSpinner_->SetRange(kMinZoom, kMaxZoom);
  zoomSpinner_->SetValue(13);
  zoomSpinner_->installEventFilter(this);
  // As tall as its field: two small arrows beside it.
  zoomSpinner_->setFixedHeight(zoomEdit_->sizeHint().height());
  zoomLayout->addWidget(zoomEdit_);
  zoomLayout->addWidget(zoomSpinner_);
  zoomLayout->addStretch(1);
  grid->addWidget(zoom, 5, 1, 1, 2);
  connect(zoomSpinner_, &UpDown::ValueChanged, this,
          [this](int value) { zoomEdit_->setText(QString::number(value)); });

  label("Direction: ", 6);
  directionBox_ = new QComboBox(panel);
  directionBox_->setObjectName(QStringLiteral("cbDirection"));
  directionBox_->addItems({QStringLiteral("North"), QStringLiteral("East"),
                           QStringLiteral("South"), QStringLiteral("West")});
  directionBox_->setCurrentIndex(0);
  grid->addWidget(directionBox_, 6, 1, 1, 2);

  label("Path to save:", 7);
  auto *pathRow = new QHBoxLayout;
  pathRow->setSpacing(4);
  pathEdit_ = new QLineEdit(panel);
  pathEdit_->setObjectName(QStringLiteral("Edit6"));
  browsePathButton_ = new QPushButton(QStringLiteral("..."), panel);
  browsePathButton_->setObjectName(QStringLiteral("Button1"));
  browsePathButton_->setToolTip(QStringLiteral("Click to select path"));
  browsePathButton_->setAutoDefault(false);
  browsePathButton_->setFixedWidth(28);
  pathRow->addWidget(pathEdit_, 1);
  pathRow->addWidget(browsePathButton_);
  grid->addLayout(pathRow, 7, 1, 1, 2);

  // What the fields as typed would cost, or why Start would refuse them.
  estimateLabel_ = new QLabel(panel);
  estimateLabel_->setObjectName(QStringLiteral("LabelEstimate"));
  estimateLabel_->setWordWrap(true);
  QPalette grey = estimateLabel_->palette();
  grey.setColor(QPalette::WindowText, QColor(110, 110, 110));
  estimateLabel_->setPalette(grey);
  grid->addWidget(estimateLabel_, 8, 0, 1, 3);

  startStopButton_ = new QPushButton(QStringLiteral("Start"), panel);
  startStopButton_->setObjectName(QStringLiteral("BitBtn1"));
  QFont bold(QStringLiteral("Tahoma"), 10);
  bold.setBold(true);
  startStopButton_->setFont(bold);
  startStopButton_->setDefault(true);
  startStopButton_->setMinimumHeight(28);
  grid->addWidget(startStopButton_, 9, 0, 1, 3);

  totalLabel_ = new QLabel(panel);
  totalLabel_->setObjectName(QStringLiteral("LabelTotalxy"));
  grid->addWidget(totalLabel_, 10, 0, 1, 3);

  progressBar_ = new QProgressBar(panel);
  progressBar_->setObjectName(QStringLiteral("ProgressBar1"));
  progressBar_->setRange(0, 1);
  progressBar_->setValue(0);
  progressBar_->setMaximumHeight(16);
  progressBar_->setFormat(QStringLiteral("%v / %m"));
  progressBar_->setTextVisible(false); // until a task starts
  grid->addWidget(progressBar_, 11, 0, 1, 3);

  progressLabel_ = new QLabel(panel);
  progressLabel_->setObjectName(QStringLiteral("LabelProgress"));
  progressLabel_->setWordWrap(true);
  grid->addWidget(progressLabel_, 12, 0, 1, 3);
  grid->setRowStretch(13, 1);
  grid->setColumnStretch(1, 1);

  // Enter in a field presses the default button, as in a dialog.
  for (QLineEdit *e :
       {taskNameEdit_, leftLongitudeEdit_, rightLongitudeEdit_,
        topLatitudeEdit_, bottomLatitudeEdit_, zoomEdit_, pathEdit_})
    connect(e, &QLineEdit::returnPressed, startStopButton_,
            &QPushButton::click);

  for (QLineEdit *e :
       {taskNameEdit_, leftLongitudeEdit_, rightLongitudeEdit_,
        topLatitudeEdit_, bottomLatitudeEdit_, zoomEdit_, pathEdit_})
    connect(e, &QLineEdit::textChanged, this, &MainWindow::UpdateEstimate);
  connect(directionBox_, &QComboBox::currentIndexChanged, this,
          &MainWindow::UpdateEstimate);
  UpdateEstimate();

  Connect(openTaskButton_, &QPushButton::clicked, &MainWindow::OpenTaskClicked);
  Connect(browsePathButton_, &QPushButton::clicked,
          &MainWindow::BrowsePathClicked);
  Connect(mapButton_, &QPushButton::clicked, &MainWindow::PickAreaChosen);
  Connect(startStopButton_, &QPushButton::clicked,
          &MainWindow::StartStopClicked);

  panel->setFixedWidth(300);
  return panel;
}

void MainWindow::BuildMenus() {
  QMenuBar *bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));
  auto item = [&](QMenu *menu, const QString &text, const char *name,
                  void (MainWindow::*handler)()) {
    QAction *action = menu->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    Connect(action, &QAction::triggered, handler);
    return action;
  };

  QMenu *file = bar->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("File1"));
  item(file, QStringLiteral("E&xit"), "Exit1", &MainWindow::ExitChosen);

  QMenu *options = bar->addMenu(QStringLiteral("&Options"));
  options->setObjectName(QStringLiteral("Options1"));
  item(options, QStringLiteral("Options..."), "Options2",
       &MainWindow::OptionsChosen);

  QMenu *misc = bar->addMenu(QStringLiteral("&Misc"));
  misc->setObjectName(QStringLiteral("Misc1"));
  item(misc, QStringLiteral("Pick area on map..."), "Pickareaonmap1",
       &MainWindow::PickAreaChosen);
  misc->addSeparator();
  item(misc,
       QStringLiteral("Convert \"Degrees,Minutes,Seconds\"  to \"Degrees\"..."),
       "ConvertLongitudeorLatitudetodegreen1", &MainWindow::ConverterChosen);
  misc->addSeparator();
  item(misc, QStringLiteral("View log file"), "Viewlogfile1",
       &MainWindow::ViewLogFileChosen);

  QMenu *tools = bar->addMenu(QStringLiteral("&Tools"));
  tools->setObjectName(QStringLiteral("Tools1"));
  item(tools, QStringLiteral("Tile Viewer"), "Tileviewer1",
       &MainWindow::TileViewerChosen);
  tools->addSeparator();
  item(tools, QStringLiteral("Tile Joiner"), "CombineImages1",
       &MainWindow::TileJoinerChosen);
  tools->addSeparator();
  item(tools, QStringLiteral("Re-Download failed images"),
       "ReDownloadfailedfiles1", &MainWindow::RedownloadChosen);

  QMenu *help = bar->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("Help1"));
  item(help, QStringLiteral("User manual"), "Usermanual1",
       &MainWindow::UserManualChosen);
  item(help, QStringLiteral("Homepage"), "Homepage1",
       &MainWindow::HomePageChosen);
  help->addSeparator();
  item(help, QStringLiteral("About..."), "About1", &MainWindow::AboutChosen);
}

} // namespace kestrane
