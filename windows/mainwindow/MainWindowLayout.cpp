// The main window's widgets, menus and connections: layout only; what the
// handlers do is in Unit1Form.cpp.
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
  UpDown1 = new UpDown(zoom);
  UpDown1->setObjectName(QStringLiteral("UpDown1"));
  UpDown1->setRange(kMinZoom, kMaxZoom);
  UpDown1->setValue(13);
  UpDown1->installEventFilter(this);
  // As tall as its field: two small arrows beside it.
  UpDown1->setFixedHeight(Edit5->sizeHint().height());
  zoomLayout->addWidget(Edit5);
  zoomLayout->addWidget(UpDown1);
  zoomLayout->addStretch(1);
  grid->addWidget(zoom, 5, 1, 1, 2);
  connect(UpDown1, &UpDown::valueChanged, this,
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
    connect(e, &QLineEdit::textChanged, this, &MainWindow::UpdateEstimate);
  connect(cbDirection, &QComboBox::currentIndexChanged, this,
          &MainWindow::UpdateEstimate);
  UpdateEstimate();

  Connect(Button4, &QPushButton::clicked,
          &MainWindow::LoadParametersfromprojectfilel1Click);
  Connect(Button1, &QPushButton::clicked, &MainWindow::Button1Click);
  Connect(ButtonMap, &QPushButton::clicked, &MainWindow::Pickareaonmap1Click);
  Connect(BitBtn1, &QPushButton::clicked, &MainWindow::BitBtn1Click);

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
  item(file, QStringLiteral("E&xit"), "Exit1", &MainWindow::Exit1Click);

  QMenu *options = bar->addMenu(QStringLiteral("&Options"));
  options->setObjectName(QStringLiteral("Options1"));
  item(options, QStringLiteral("Options..."), "Options2",
       &MainWindow::Options2Click);

  QMenu *misc = bar->addMenu(QStringLiteral("&Misc"));
  misc->setObjectName(QStringLiteral("Misc1"));
  item(misc, QStringLiteral("Pick area on map..."), "Pickareaonmap1",
       &MainWindow::Pickareaonmap1Click);
  misc->addSeparator();
  item(misc,
       QStringLiteral("Convert \"Degrees,Minutes,Seconds\"  to \"Degrees\"..."),
       "ConvertLongitudeorLatitudetodegreen1",
       &MainWindow::ConvertLongitudeorLatitudetodegreen1Click);
  misc->addSeparator();
  item(misc, QStringLiteral("View log file"), "Viewlogfile1",
       &MainWindow::Viewlogfile1Click);

  QMenu *tools = bar->addMenu(QStringLiteral("&Tools"));
  tools->setObjectName(QStringLiteral("Tools1"));
  item(tools, QStringLiteral("Tile Viewer"), "Tileviewer1",
       &MainWindow::Tileviewer1Click);
  tools->addSeparator();
  item(tools, QStringLiteral("Tile Joiner"), "CombineImages1",
       &MainWindow::CombineImages1Click);
  tools->addSeparator();
  item(tools, QStringLiteral("Re-Download failed images"),
       "ReDownloadfailedfiles1", &MainWindow::ReDownloadfailedfiles1Click);

  QMenu *help = bar->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("Help1"));
  item(help, QStringLiteral("User manual"), "Usermanual1",
       &MainWindow::Usermanual1Click);
  item(help, QStringLiteral("Homepage"), "Homepage1",
       &MainWindow::Homepage1Click);
  help->addSeparator();
  item(help, QStringLiteral("About..."), "About1", &MainWindow::About1Click);
}

} // namespace kestrane
