#include "tools/RedownloadWindow.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextDocument>
#include <QVBoxLayout>
#include <algorithm>

#include "task/Settings.h"

namespace kestrane {

namespace {
const char kOpenCaption[] = "Open *.ftl file and download...";
// A report line of a tile at zoom 19 in the default download folder.
const char kTypicalLine[] =
    "/home/username/Downloads/newtask/ks_431446_325612_19.jpg:"
    "http://ecn.t0.tiles.virtualearth.net/tiles/"
    "svi0231131232103300201?g=5340&dir=dir_n ->OK";
} // namespace

RedownloadWindow::RedownloadWindow(QWidget *parent)
    : QDialog(parent), errorBox_(this, true), errors_(&errorBox_) {
  setObjectName(QStringLiteral("frmFlt"));
  setWindowTitle(QStringLiteral("Re-Download failed files"));
  setFont(QFont(QStringLiteral("Tahoma"), 8));

  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  buttonPanel_ = new QWidget(this);
  buttonPanel_->setObjectName(QStringLiteral("Panel1"));
  auto *top = new QHBoxLayout(buttonPanel_);
  top->setContentsMargins(8, 8, 8, 8);
  openStopButton_ =
      new QPushButton(QString::fromLatin1(kOpenCaption), buttonPanel_);
  openStopButton_->setObjectName(QStringLiteral("Button1"));
  openStopButton_->setMinimumWidth(220);
  top->addWidget(openStopButton_);
  top->addStretch(1);
  layout->addWidget(buttonPanel_);

  reportPanel_ = new QWidget(this);
  reportPanel_->setObjectName(QStringLiteral("Panel2"));
  auto *body = new QVBoxLayout(reportPanel_);
  body->setContentsMargins(8, 0, 8, 8);
  reportPane_ = new QPlainTextEdit(reportPanel_);
  reportPane_->setObjectName(QStringLiteral("Memo1"));
  reportPane_->setReadOnly(true);
  reportPane_->setLineWrapMode(QPlainTextEdit::NoWrap);
  reportPane_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  reportPane_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  body->addWidget(reportPane_);
  layout->addWidget(reportPanel_, 1);

  // Wide enough that a typical report line (a tile's path, its URL and
  // " ->OK") shows whole, and centred on the screen.
  const QFontMetrics metrics(reportPane_->font());
  const int line = metrics.horizontalAdvance(QString::fromLatin1(kTypicalLine));
  const int chrome =
      reportPane_->verticalScrollBar()->sizeHint().width() +
      2 * reportPane_->frameWidth() +
      2 * static_cast<int>(reportPane_->document()->documentMargin()) + 16 +
      40; // reportPanel_'s margins and some air
  QSize size(std::max(560, line + chrome), 380);
  if (const QScreen *screen = QGuiApplication::primaryScreen())
    size.setWidth(std::min(size.width(), screen->availableGeometry().width()));
  setFixedSize(size);
  CentreOnScreen();
  connect(openStopButton_, &QPushButton::clicked, this,
          [this] { Guarded(errors_, [this] { OpenOrStopClicked(); }); });
}

RedownloadWindow::~RedownloadWindow() {
  if (worker_.joinable()) {
    stop_->Request();
    worker_.join();
  }
}

void RedownloadWindow::CentreOnScreen() {
  const QScreen *screen = QGuiApplication::primaryScreen();
  if (screen == nullptr)
    return;
  QRect frame(QPoint(), size());
  frame.moveCenter(screen->availableGeometry().center());
  move(frame.topLeft());
}

void RedownloadWindow::showEvent(QShowEvent *event) {
  Guarded(errors_, [this] { Showing(); });
  QDialog::showEvent(event);
}

void RedownloadWindow::Showing() {
  reportPane_->clear();
}

void RedownloadWindow::OpenOrStopClicked() {
  if (Running()) {
    StopRun();
    return;
  }
  const QString file = QFileDialog::getOpenFileName(
      this, QStringLiteral("Open ftl file:"), QString(),
      QStringLiteral("Projects(*.ftl)"));
  if (!file.isEmpty())
    StartRun(StdStr(file));
}

void RedownloadWindow::StartRun(const std::string &ftlPath) {
  if (Running())
    return;
  reportPane_->clear();
  stop_ = std::make_shared<StopFlag>();
  openStopButton_->setText(QStringLiteral("Stop"));
  openStopButton_->setEnabled(true);
  // The run blocks for as long as its requests take: it goes on a thread of
  // its own and hands each line to this window's thread as it is added.
  // Queued calls to a window that is gone are dropped, and the window joins
  // the thread before it goes.
  RedownloadOptions options = options_;
  if (!settingsPath_.empty())
    options.MaxRate = MaxRateSetting(settingsPath_);
  worker_ = std::thread([this, ftlPath, stop = stop_, options] {
    std::string error;
    try {
      RedownloadRun(options).Run(
          ftlPath,
          [this](const std::string &line) {
            QMetaObject::invokeMethod(
                this, [this, text = PaneLine(line)] { AddLine(text); },
                Qt::QueuedConnection);
          },
          stop.get());
    } catch (const std::exception &e) {
      error = e.what();
    }
    QMetaObject::invokeMethod(
        this, [this, error] { Finished(error); }, Qt::QueuedConnection);
  });
}

void RedownloadWindow::StopRun() {
  if (!Running())
    return;
  stop_->Request();
  // The run ends after the request in progress.
  openStopButton_->setEnabled(false);
}

void RedownloadWindow::AddLine(const QString &line) {
  reportPane_->appendPlainText(line);
}

void RedownloadWindow::Finished(const std::string &error) {
  if (worker_.joinable())
    worker_.join(); // its last act was to queue this call
  openStopButton_->setText(QString::fromLatin1(kOpenCaption));
  openStopButton_->setEnabled(true);
  if (!error.empty())
    errors_.ShowMessage(error);
  emit RunFinished();
  if (closeWhenDone_) {
    closeWhenDone_ = false;
    QDialog::reject();
  }
}

void RedownloadWindow::reject() {
  // Closing during a run stops it; the window closes once it has ended.
  if (Running()) {
    closeWhenDone_ = true;
    StopRun();
    return;
  }
  QDialog::reject();
}

} // namespace kestrane
