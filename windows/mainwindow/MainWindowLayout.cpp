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
#include <QVBoxLayout>

#include "mainwindow/MainWindow.h"
#include "mainwindow/OneLineLabel.h"

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
  auto *column = new QVBoxLayout(central);
  column->setContentsMargins(6, 6, 6, 4);
  column->setSpacing(3);
  auto *layout = new QHBoxLayout;
  layout->setSpacing(6);
  // The fields' column grows with a wide window, the log pane more.
  layout->addWidget(BuildFields(), 2);

  logPane_ = new QPlainTextEdit(central);
  logPane_->setObjectName(QStringLiteral("Memo1"));
  logPane_->setReadOnly(true);
  // Lines stay whole: a long one scrolls sideways.
  logPane_->setLineWrapMode(QPlainTextEdit::NoWrap);
  logPane_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  logPane_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  logPane_->setMinimumWidth(150);
  QPalette palette = logPane_->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::ToolTipBase));
  palette.setColor(QPalette::Text, QColor(0, 128, 0));
  logPane_->setPalette(palette);
  logPane_->setToolTip(QStringLiteral("Double click to view log in notepad"));
  logPane_->setPlainText(QStringLiteral("[log window]"));
  logPane_->viewport()->installEventFilter(this);
  layout->addWidget(logPane_, 3);
  column->addLayout(layout, 1);
  BuildProgress(central, column);

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

// The zoom field with its spinner, and the direction list, on one row.
QWidget *MainWindow::BuildZoomAndDirection(QWidget *parent) {
  auto *zoom = new QWidget(parent);
  auto *zoomLayout = new QHBoxLayout(zoom);
  zoomLayout->setContentsMargins(0, 0, 0, 0);
  zoomLayout->setSpacing(0);
  zoomEdit_ = new QLineEdit(QStringLiteral("13"), zoom);
  zoomEdit_->setObjectName(QStringLiteral("Edit5"));
  zoomEdit_->setReadOnly(true);
  zoomEdit_->setFixedWidth(
      zoomEdit_->fontMetrics().horizontalAdvance(QStringLiteral("000")) + 14);
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
  zoomLayout->addSpacing(10);
  auto *directionLabel = new QLabel(QStringLiteral("Direction: "), zoom);
  zoomLayout->addWidget(directionLabel);
  directionBox_ = new QComboBox(zoom);
  directionBox_->setObjectName(QStringLiteral("cbDirection"));
  directionBox_->addItems({QStringLiteral("North"), QStringLiteral("East"),
                           QStringLiteral("South"), QStringLiteral("West")});
  directionBox_->setCurrentIndex(0);
  zoomLayout->addWidget(directionBox_, 1);
  connect(zoomSpinner_, &UpDown::ValueChanged, this,
          [this](int value) { zoomEdit_->setText(QString::number(value)); });
  return zoom;
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
  rightLongitudeEdit_ = edit("Edit3", 2, 1);
  label("Top Latitude:", 3);
  topLatitudeEdit_ = edit("Edit2", 3, 1);
  label("Bottom Latitude:", 4);
  bottomLatitudeEdit_ = edit("Edit4", 4, 1);
  // Beside the edges while the area is an outline inside them.
  outlineLabel_ = new QLabel(panel);
  outlineLabel_->setObjectName(QStringLiteral("LabelOutline"));
  outlineLabel_->setWordWrap(true);
  // As wide as the buttons above it: the edges keep their width.
  outlineLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  outlineLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  outlineLabel_->setToolTip(QStringLiteral(
      "Only the tiles inside the outline picked on the map; typing an edge "
      "makes the area the rectangle of the edges again"));
  outlineLabel_->hide();
  grid->addWidget(outlineLabel_, 2, 2, 3, 1);

  // Zoom and direction share a row: the result under the button needs the
  // height at the window's default size.
  label("Zoom level:", 5);
  grid->addWidget(BuildZoomAndDirection(panel), 5, 1, 1, 2);

  label("Path to save:", 6);
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
  grid->addLayout(pathRow, 6, 1, 1, 2);

  // What the fields as typed would cost, or why Start would refuse them;
  // one line, whatever its length.
  estimateLabel_ = new OneLineLabel(panel);
  estimateLabel_->setObjectName(QStringLiteral("LabelEstimate"));
  QPalette grey = estimateLabel_->palette();
  grey.setColor(QPalette::WindowText, QColor(110, 110, 110));
  estimateLabel_->setPalette(grey);
  grid->addWidget(estimateLabel_, 7, 0, 1, 3);

  startStopButton_ = new QPushButton(QStringLiteral("Start"), panel);
  startStopButton_->setObjectName(QStringLiteral("BitBtn1"));
  QFont bold(QStringLiteral("Tahoma"), 10);
  bold.setBold(true);
  startStopButton_->setFont(bold);
  startStopButton_->setDefault(true);
  startStopButton_->setMinimumHeight(28);
  grid->addWidget(startStopButton_, 8, 0, 1, 3);
  grid->setRowStretch(9, 1);
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
  // An edge typed by hand makes the area the rectangle again.
  for (QLineEdit *e : {leftLongitudeEdit_, rightLongitudeEdit_,
                       topLatitudeEdit_, bottomLatitudeEdit_})
    connect(e, &QLineEdit::textEdited, this, [this] { SetOutline({}); });
  connect(directionBox_, &QComboBox::currentIndexChanged, this,
          &MainWindow::UpdateEstimate);
  UpdateEstimate();

  Connect(openTaskButton_, &QPushButton::clicked, &MainWindow::OpenTaskClicked);
  Connect(browsePathButton_, &QPushButton::clicked,
          &MainWindow::BrowsePathClicked);
  Connect(mapButton_, &QPushButton::clicked, &MainWindow::PickAreaChosen);
  Connect(startStopButton_, &QPushButton::clicked,
          &MainWindow::StartStopClicked);

  // Wide enough for the estimate of a task of millions of tiles on one
  // line; a wide window gives it more.
  panel->setMinimumWidth(
      estimateLabel_->fontMetrics().horizontalAdvance(QStringLiteral(
          "Tiles: 99,999,999 (9,999 x 9,999), at least 999 h 59 min")) +
      4);
  panel->setMaximumWidth(560);
  return panel;
}

// Under both columns, the whole window wide: the tile count beside the bar,
// and the progress line, which wraps between its parts and never inside a
// figure with its unit.
void MainWindow::BuildProgress(QWidget *central, QVBoxLayout *column) {
  auto *row = new QHBoxLayout;
  row->setSpacing(8);
  totalLabel_ = new QLabel(central);
  totalLabel_->setObjectName(QStringLiteral("LabelTotalxy"));
  totalLabel_->hide(); // until a task gives it its count
  row->addWidget(totalLabel_);
  progressBar_ = new QProgressBar(central);
  progressBar_->setObjectName(QStringLiteral("ProgressBar1"));
  progressBar_->setRange(0, 1);
  progressBar_->setValue(0);
  progressBar_->setMaximumHeight(16);
  progressBar_->setTextVisible(false); // until a task starts
  row->addWidget(progressBar_, 1);
  column->addLayout(row);

  progressLabel_ = new QLabel(central);
  progressLabel_->setObjectName(QStringLiteral("LabelProgress"));
  progressLabel_->setWordWrap(true);
  progressLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  column->addWidget(progressLabel_);
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
