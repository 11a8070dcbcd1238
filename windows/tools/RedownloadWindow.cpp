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

  Panel1 = new QWidget(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  auto *top = new QHBoxLayout(Panel1);
  top->setContentsMargins(8, 8, 8, 8);
  Button1 = new QPushButton(QString::fromLatin1(kOpenCaption), Panel1);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setMinimumWidth(220);
  top->addWidget(Button1);
  top->addStretch(1);
  layout->addWidget(Panel1);

  Panel2 = new QWidget(this);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  auto *body = new QVBoxLayout(Panel2);
  body->setContentsMargins(8, 0, 8, 8);
  Memo1 = new QPlainTextEdit(Panel2);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  body->addWidget(Memo1);
  layout->addWidget(Panel2, 1);

  // Wide enough that a typical report line (a tile's path, its URL and
  // " ->OK") shows whole, and centred on the screen.
  const QFontMetrics metrics(Memo1->font());
  const int line = metrics.horizontalAdvance(QString::fromLatin1(kTypicalLine));
  const int chrome = Memo1->verticalScrollBar()->sizeHint().width() +
                     2 * Memo1->frameWidth() +
                     2 * static_cast<int>(Memo1->document()->documentMargin()) +
                     16 + 40; // Panel2's margins and some air
  QSize size(std::max(560, line + chrome), 380);
  if (const QScreen *screen = QGuiApplication::primaryScreen())
    size.setWidth(std::min(size.width(), screen->availableGeometry().width()));
  setFixedSize(size);
  CentreOnScreen();
  connect(Button1, &QPushButton::clicked, this,
          [this] { Guarded(errors_, [this] { Button1Click(); }); });
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
  Guarded(errors_, [this] { FormShow(); });
  QDialog::showEvent(event);
}

void RedownloadWindow::FormShow() {
  Memo1->clear();
}

void RedownloadWindow::Button1Click() {
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
  Memo1->clear();
  stop_ = std::make_shared<StopFlag>();
  Button1->setText(QStringLiteral("Stop"));
  Button1->setEnabled(true);
  // The run blocks for as long as its requests take: it goes on a thread of
  // its own and hands each line to this window's thread as it is added.
  // Queued calls to a window that is gone are dropped, and the window joins
  // the thread before it goes.
  worker_ = std::thread([this, ftlPath, stop = stop_, options = options_] {
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
  Button1->setEnabled(false);
}

void RedownloadWindow::AddLine(const QString &line) {
  Memo1->appendPlainText(line);
}

void RedownloadWindow::Finished(const std::string &error) {
  if (worker_.joinable())
    worker_.join(); // its last act was to queue this call
  Button1->setText(QString::fromLatin1(kOpenCaption));
  Button1->setEnabled(true);
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
