#include "viewerwindow/TileViewWindow.h"

#include <QAction>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QMimeData>
#include <QStatusBar>
#include <QTimer>
#include <memory>
#include <optional>

#include "platform/Files.h"
#include "task/Settings.h"
#include "tile/TileCheck.h"
#include "viewerwindow/TileCanvas.h"

namespace kestrane {

namespace {

QString Count(int64_t n) {
  return QLocale().toString(qlonglong(n));
}

// The project file among dropped or given URLs, if any.
QString ProjectFileOf(const QMimeData *mime) {
  if (!mime || !mime->hasUrls())
    return {};
  for (const QUrl &url : mime->urls())
    if (url.isLocalFile() &&
        url.toLocalFile().endsWith(QLatin1String(".ktsk"), Qt::CaseInsensitive))
      return url.toLocalFile();
  return {};
}

// Tiles that are not JPEGs (a service may answer with a PNG) are decoded by
// the toolkit, at full size and shrunk to the level's size; a PNG whose
// header is not sound or that is larger than the bound of a side of the
// workers' check is not decoded.
std::optional<Pixels> DecodeAny(std::string_view bytes, int level,
                                const StopFlag *cancel) {
  if (SignatureOf(bytes) == ImageSignature::Jpeg)
    return DecodeJpeg(bytes, level, cancel);
  if (!PngWithinBounds(bytes))
    return std::nullopt;
  QImage image;
  if (!image.loadFromData(reinterpret_cast<const uchar *>(bytes.data()),
                          static_cast<int>(bytes.size())))
    return std::nullopt;
  image = image.convertToFormat(QImage::Format_RGB32);
  if (level > 0)
    image = image.scaled(std::max(1, image.width() >> level),
                         std::max(1, image.height() >> level),
                         Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  Pixels out;
  out.Width = image.width();
  out.Height = image.height();
  out.Data.resize(static_cast<size_t>(out.Width) * out.Height);
  for (int y = 0; y < out.Height; ++y) {
    const auto *line =
        reinterpret_cast<const uint32_t *>(image.constScanLine(y));
    std::copy_n(line, out.Width,
                out.Data.begin() + static_cast<ptrdiff_t>(y) * out.Width);
  }
  return out;
}

} // namespace

TileViewWindow::TileViewWindow(const TileViewConfig &config, QWidget *parent)
    : QMainWindow(parent), programFolder_(config.ProgramFolder),
      settingsPath_(config.SettingsPath), limits_(config.Limits),
      canvas_(new TileCanvas(this)), counts_(new QLabel(this)),
      hover_(new QLabel(this)), follow_(new QTimer(this)), boxSink_(this),
      sink_(&boxSink_) {
  if (programFolder_.empty())
    programFolder_ = ProgramFolder();
  programFolder_ = IncludeTrailingDelimiter(programFolder_);
  if (settingsPath_.empty())
    settingsPath_ = SettingsPath(programFolder_);
  shellOpen_ = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
  saveDialog_ = [this](const QString &suggested) {
    return QFileDialog::getSaveFileName(
        this, QStringLiteral("Write list of missing tiles"), suggested,
        QStringLiteral("Failed tile lists(*.ftl)"));
  };

  setWindowTitle(QStringLiteral("Tile Viewer"));
  setCentralWidget(canvas_);
  setAcceptDrops(true);
  // Within a 1366x768 screen, title bar and panel included.
  resize(1024, 640);
  statusBar()->addWidget(counts_);
  statusBar()->addPermanentWidget(hover_);
  BuildMenus();
  UpdateStatus();

  connect(canvas_, &TileCanvas::Hovered, this, &TileViewWindow::Hover);
  connect(canvas_, &TileCanvas::Activated, this, &TileViewWindow::ShowTile);
  follow_->setInterval(5000);
  connect(follow_, &QTimer::timeout, this, &TileViewWindow::Follow);
}

TileViewWindow::~TileViewWindow() {
  canvas_->SetSession(nullptr);
  session_.reset(); // joins the session's threads before the window goes
}

void TileViewWindow::BuildMenus() {
  QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
  QAction *open = file->addAction(QStringLiteral("&Open task..."), this,
                                  &TileViewWindow::OpenChosen);
  open->setObjectName(QStringLiteral("OpenTask"));
  open->setShortcut(QKeySequence::Open);
  QAction *list =
      file->addAction(QStringLiteral("&Write list of missing tiles..."), this,
                      &TileViewWindow::WriteListChosen);
  list->setObjectName(QStringLiteral("WriteMissingList"));
  file->addSeparator();
  file->addAction(QStringLiteral("E&xit"), this, &QWidget::close);

  QMenu *view = menuBar()->addMenu(QStringLiteral("&View"));
  QAction *fit =
      view->addAction(QStringLiteral("&Fit"), canvas_, &TileCanvas::Fit);
  fit->setObjectName(QStringLiteral("Fit"));
  fit->setShortcut(QKeySequence(Qt::Key_F));
  QAction *actual = view->addAction(QStringLiteral("&Actual size"), canvas_,
                                    &TileCanvas::ActualSize);
  actual->setObjectName(QStringLiteral("ActualSize"));
  actual->setShortcut(QKeySequence(Qt::Key_1));
  marks_ = view->addAction(QStringLiteral("&Mark problems"));
  marks_->setObjectName(QStringLiteral("MarkProblems"));
  marks_->setCheckable(true);
  marks_->setChecked(true);
  connect(marks_, &QAction::toggled, canvas_, &TileCanvas::SetMarks);
}

bool TileViewWindow::OpenTask(const std::string &projectFile) {
  try {
    const Settings settings = ReadSettings(settingsPath_);
    TaskEnvironment env;
    env.Hosts = settings.Hosts;
    env.ProgramFolder = programFolder_;
    return ShowTask(LoadTask(projectFile, env));
  } catch (const std::exception &e) {
    sink_.ShowMessage(e.what());
    return false;
  }
}

bool TileViewWindow::ShowTask(LoadedTask task) {
  try {
    const std::string projectFile = task.ProjectFile;
    SessionHooks hooks;
    hooks.Post = [this](std::function<void()> fn) {
      QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
    };
    hooks.Changed = [this] { ScheduleRepaint(); };
    hooks.Decode = DecodeAny;
    auto session =
        std::make_unique<ViewerSession>(std::move(task), hooks, limits_);
    canvas_->SetSession(nullptr);
    session_ = std::move(session);
    canvas_->SetSession(session_.get());
    canvas_->setFocus();
    setWindowTitle(QStringLiteral("Tile Viewer - ") +
                   QStr(ExtractFileName(projectFile)));
    hoverCell_ = -1;
    session_->Refresh();
    follow_->start();
    UpdateStatus();
    return true;
  } catch (const std::exception &e) {
    sink_.ShowMessage(e.what());
    return false;
  }
}

void TileViewWindow::OpenChosen() {
  // The open task's folder, else the settings' default folder.
  std::string folder = session_ ? ExtractFilePath(session_->ProjectFile()) : "";
  if (folder.empty()) {
    const Settings settings = ReadSettings(settingsPath_);
    folder = settings.DefaultPath.empty() ? DefaultDownloadFolder()
                                          : settings.DefaultPath;
  }
  const QString file = QFileDialog::getOpenFileName(
      this, QStringLiteral("Open task"), QStr(folder),
      QStringLiteral("Projects(*.ktsk)"));
  if (!file.isEmpty())
    OpenTask(file.toStdString());
}

void TileViewWindow::WriteListChosen() {
  if (!session_)
    return;
  const QString path =
      saveDialog_(QStr(MissingListPath(session_->ProjectFile())));
  if (!path.isEmpty())
    WriteMissingListTo(path.toStdString());
}

void TileViewWindow::WriteMissingListTo(const std::string &listPath,
                                        std::function<void()> done) {
  if (!session_)
    return;
  try {
    // Refused before every tile is checked; what stands there stays.
    RefuseAsOutput(session_->Task(), listPath);
  } catch (const KError &e) {
    sink_.ShowMessage(e.what());
    if (done)
      done();
    return;
  }
  statusBar()->showMessage(QStringLiteral("Checking every tile..."));
  // The list is written on the inventory's thread: for a large block it is
  // many megabytes, and the window keeps painting meanwhile.
  ViewerSession *session = session_.get();
  // Stays set when no inventory came to write from.
  auto failure = std::make_shared<std::optional<std::string>>(
      "Cannot create file " + listPath);
  auto toFetch = std::make_shared<int64_t>(0);
  const auto write = [session, listPath, failure,
                      toFetch](const TaskInventory &inventory) {
    try {
      WriteMissingList(session->Task(), inventory, listPath);
      failure->reset();
      *toFetch = inventory.Counts.Total - inventory.Counts.Stored;
    } catch (const std::exception &e) {
      *failure = e.what();
    }
  };
  session_->Refresh(
      true,
      [this, listPath, failure, toFetch, done = std::move(done)] {
        statusBar()->clearMessage();
        if (*failure)
          sink_.ShowMessage(**failure);
        else
          statusBar()->showMessage(
              QStringLiteral("%1 tiles to fetch again written to %2")
                  .arg(Count(*toFetch), QString::fromStdString(listPath)),
              10000);
        if (done)
          done();
      },
      write);
}

void TileViewWindow::ShowTile(qint64 cell) {
  if (!session_ || cell < 0)
    return;
  const TileXY t = session_->Grid().TileAtIndex(cell);
  const std::string path = session_->Task().TilePath(t.X, t.Y);
  const QUrl url = QUrl::fromLocalFile(QStr(path));
  if (FileExists(path) && !shellOpen_(url))
    sink_.ShowMessage(CannotOpenText(url));
}

void TileViewWindow::Hover(qint64 cell) {
  hoverCell_ = cell;
  hover_->setText(HoverText());
}

QString TileViewWindow::HoverText() const {
  if (!session_ || hoverCell_ < 0)
    return {};
  const DownloadTask &task = session_->Task();
  const TileXY t = session_->Grid().TileAtIndex(hoverCell_);
  QString text = QStringLiteral("%1   X %2  Y %3")
                     .arg(QStr(task.TileFileName(t.X, t.Y)))
                     .arg(t.X)
                     .arg(t.Y);
  if (task.Params.Dir == 0) {
    const TileEdges e = EdgesOf(t, task.Params.Zoom);
    // Six decimals: about a tenth of a metre on the ground.
    text += QStringLiteral("   W %1  E %2  N %3  S %4")
                .arg(e.West, 0, 'f', 6)
                .arg(e.East, 0, 'f', 6)
                .arg(e.North, 0, 'f', 6)
                .arg(e.South, 0, 'f', 6);
  }
  return text;
}

QString TileViewWindow::CountsText() const {
  if (!session_)
    return {};
  if (!session_->Inventory())
    return QStringLiteral("Taking the inventory of %1 tiles...")
        .arg(Count(session_->Task().InsideCount));
  const InventoryCounts c = session_->Counts();
  QString text = QStringLiteral("Stored %1  Placeholder %2  Damaged %3  "
                                "Missing %4  of %5")
                     .arg(Count(c.Stored), Count(c.Placeholder),
                          Count(c.Damaged), Count(c.Missing), Count(c.Total));
  if (c.Outlined)
    text += QStringLiteral("  Outside the outline %1").arg(Count(c.Outside));
  if (c.SideFiles > 0)
    text += QStringLiteral("  (%1 with .crashed or .invalid)")
                .arg(Count(c.SideFiles));
  return text;
}

void TileViewWindow::UpdateStatus() {
  counts_->setText(session_ ? CountsText() : QStringLiteral("No task open"));
  hover_->setText(HoverText());
}

// Pictures arrive in bursts; one repaint every few frames' time is enough.
void TileViewWindow::ScheduleRepaint() {
  if (repaintPending_)
    return;
  repaintPending_ = true;
  QTimer::singleShot(30, this, [this] {
    repaintPending_ = false;
    canvas_->update();
    UpdateStatus();
  });
}

// While a download adds tiles, the next inventory shows them; the view
// stays where it is.
void TileViewWindow::Follow() {
  if (session_)
    session_->RefreshIfChanged();
}

void TileViewWindow::SetFollowInterval(int ms) {
  follow_->setInterval(ms);
}

void TileViewWindow::dragEnterEvent(QDragEnterEvent *e) {
  if (!ProjectFileOf(e->mimeData()).isEmpty())
    e->acceptProposedAction();
}

void TileViewWindow::dropEvent(QDropEvent *e) {
  const QString file = ProjectFileOf(e->mimeData());
  if (!file.isEmpty()) {
    e->acceptProposedAction();
    OpenTask(file.toStdString());
  }
}

} // namespace kestrane
