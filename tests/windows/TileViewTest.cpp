// The tile viewer's window on a small task with one tile of each kind:
// what its picture and status bar show, following new tiles, the list of
// tiles to fetch again, opening a tile, and the program in the bundle.
#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QImage>
#include <QMimeData>
#include <QPainter>
#include <QProcess>
#include <QTest>
#include <sys/stat.h>

#include <filesystem>

#include "tests/support/ViewerTask.h"
#include "tests/windows/GuiTestSupport.h"
#include "viewerwindow/TileCanvas.h"
#include "viewerwindow/TileViewWindow.h"

namespace kestrane::guitest {

class TileViewTest : public QObject {
  Q_OBJECT
private slots:
  void picturesMarksAndStatus();
  void followsNewTilesAndWritesTheList();
  void refusesWhatIsNotAProjectFile();
  void listNeverReplacesWhatIsNoFile();
  void bundleHoldsTheProgram();
};

namespace {

struct Rig {
  Rig() {
    projectFile = test::WriteViewerTask(dir.Path(), 0, 4, 3);
    TileViewConfig config;
    config.ProgramFolder = KESTRANE_BUNDLE_DIR;
    config.SettingsPath = dir.Path() + "config.ini";
    config.Limits.Threads = 2;
    window = std::make_unique<TileViewWindow>(config);
    window->SetMessageSink(&messages);
    window->SetShellOpen([this](const QUrl &url) { opened.push_back(url); });
    window->resize(800, 600);
    window->show();
  }
  // Tile (dx, dy) from the block's south-west corner.
  int32_t X(int dx) const { return window->Session()->Task().MinX + dx; }
  int32_t Y(int dy) const { return window->Session()->Task().MinY + dy; }
  qint64 Cell(int dx, int dy) const {
    const ViewGrid &g = window->Session()->Grid();
    const ViewCell c = g.CellOf(X(dx), Y(dy));
    return g.Index(c.Column, c.Row);
  }
  QImage Render() const {
    TileCanvas *canvas = window->Canvas();
    QImage image(canvas->size(), QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    canvas->Render(p, canvas->size());
    return image;
  }
  // The colour at a point of a cell: (fx, fy) in 0..1 across it.
  QRgb At(const QImage &image, qint64 cell, double fx, double fy) const {
    ViewTransform *t = window->Canvas()->Transform();
    const int64_t columns = window->Session()->Grid().Columns();
    const double c = t->CellPixels();
    return image.pixel(int(t->OffsetX() + (cell % columns + fx) * c),
                       int(t->OffsetY() + (cell / columns + fy) * c));
  }

  testing::TempDir dir;
  std::string projectFile;
  RecordingSink messages;
  std::vector<QUrl> opened;
  std::unique_ptr<TileViewWindow> window;
};

bool SameColour(QRgb a, uint32_t b) {
  return (a & 0xFFFFFF) == (b & 0xFFFFFF);
}

} // namespace

void TileViewTest::picturesMarksAndStatus() {
  Rig rig;
  QVERIFY(rig.window->OpenTask(rig.projectFile));
  QCOMPARE(rig.window->windowTitle(), QStringLiteral("Tile Viewer - t.ktsk"));
  const DownloadTask &task = rig.window->Session()->Task();
  for (int dx = 0; dx < 4; ++dx)
    test::PutTile(task, rig.X(dx), rig.Y(2), test::TileFile::Jpeg);
  test::PutTile(task, rig.X(0), rig.Y(1), test::TileFile::Placeholder);
  test::PutTile(task, rig.X(1), rig.Y(1), test::TileFile::Damaged);
  test::PutTile(task, rig.X(2), rig.Y(1), test::TileFile::Jpeg);
  testing::PutBytes(task.TilePath(rig.X(2), rig.Y(1)) + ".crashed", "x");
  rig.window->Session()->Refresh(); // the tiles came after opening
  QTRY_VERIFY(rig.window->Session()->Inventory() &&
              rig.window->Session()->MosaicDone());
  QTRY_COMPARE(rig.window->CountsText(),
               QStringLiteral("Stored 5  Placeholder 1  Damaged 1  "
                              "Missing 5  of 12  (1 with .crashed "
                              "or .invalid)"));

  QImage image = rig.Render();
  // Missing: empty, outlined; the stored tile beside it shows its picture.
  QVERIFY(
      SameColour(rig.At(image, rig.Cell(0, 0), 0.5, 0.5), palette::kMissing));
  QVERIFY(!SameColour(rig.At(image, rig.Cell(0, 2), 0.5, 0.5),
                      palette::kNotLoaded));
  // Damaged and the tile with a side file: a red frame.
  for (const qint64 cell : {rig.Cell(1, 1), rig.Cell(2, 1)})
    QVERIFY(SameColour(rig.At(image, cell, 0.01, 0.5), palette::kBad));
  // The placeholder: hatched, some of its pixels in the hatching colour.
  int hatched = 0;
  for (int i = 0; i < 40; ++i)
    hatched += SameColour(rig.At(image, rig.Cell(0, 1), 0.2 + i * 0.015, 0.5),
                          palette::kPlaceholder);
  QVERIFY(hatched > 0 && hatched < 40);

  // View > Mark problems off: the missing cell shows the bare ground.
  QAction *marks = rig.window->findChild<QAction *>("MarkProblems");
  QVERIFY(marks && marks->isChecked());
  marks->trigger();
  image = rig.Render();
  QVERIFY(
      SameColour(rig.At(image, rig.Cell(0, 0), 0.5, 0.5), palette::kNotLoaded));
  QVERIFY(!SameColour(rig.At(image, rig.Cell(1, 1), 0.01, 0.5), palette::kBad));

  // Under the mouse: the file name, column and row, and the edges.
  rig.window->Hover(rig.Cell(3, 0));
  const QString hover = rig.window->HoverText();
  QVERIFY2(hover.startsWith(
               QString::fromStdString(task.TileFileName(rig.X(3), rig.Y(0)))),
           qPrintable(hover));
  QVERIFY(
      hover.contains(QStringLiteral("X %1  Y %2").arg(rig.X(3)).arg(rig.Y(0))));
  QVERIFY(hover.contains(QStringLiteral("W -122.")));
  QVERIFY(hover.contains(QStringLiteral("N 47.")));

  // Double click: the tile's file, when there is one.
  rig.window->ShowTile(rig.Cell(0, 0));
  QVERIFY(rig.opened.empty());
  rig.window->ShowTile(rig.Cell(0, 2));
  QCOMPARE(rig.opened.size(), size_t{1});
  QCOMPARE(rig.opened[0].toLocalFile(),
           QString::fromStdString(task.TilePath(rig.X(0), rig.Y(2))));
}

void TileViewTest::followsNewTilesAndWritesTheList() {
  Rig rig;
  const DownloadTask *task = nullptr;
  QVERIFY(rig.window->OpenTask(rig.projectFile));
  task = &rig.window->Session()->Task();
  test::PutTile(*task, rig.X(0), rig.Y(0), test::TileFile::Jpeg);
  test::PutTile(*task, rig.X(1), rig.Y(0), test::TileFile::Placeholder);
  rig.window->SetFollowInterval(50);
  QTRY_VERIFY(rig.window->CountsText().startsWith("Stored 1 "));

  // The user zoomed in; tiles that come later do not move the view.
  ViewTransform *t = rig.window->Canvas()->Transform();
  t->SetScaleAbout(100, 100, 1.0);
  const double scale = t->Scale(), x = t->OffsetX(), y = t->OffsetY();
  test::PutTile(*task, rig.X(3), rig.Y(2), test::TileFile::Jpeg);
  QTRY_VERIFY(rig.window->CountsText().startsWith("Stored 2 "));
  QCOMPARE(t->Scale(), scale);
  QCOMPARE(t->OffsetX(), x);
  QCOMPARE(t->OffsetY(), y);

  // The list of tiles to fetch again: the placeholder and the missing.
  const std::string list = rig.dir.Path() + "again.ftl";
  bool written = false;
  rig.window->WriteMissingListTo(list, [&] { written = true; });
  QTRY_VERIFY(written);
  const std::vector<std::string> lines = ReadLines(list);
  QCOMPARE(lines.size(), size_t{10});
  const std::string placeholder = task->TilePath(rig.X(1), rig.Y(0)) + "|" +
                                  task->TileUrl(rig.X(1), rig.Y(0));
  QVERIFY(std::find(lines.begin(), lines.end(), placeholder) != lines.end());

  // A list that cannot be written says so.
  const std::string nowhere = rig.dir.Path() + "no/such/folder/again.ftl";
  written = false;
  rig.window->WriteMissingListTo(nowhere, [&] { written = true; });
  QTRY_VERIFY(written);
  QCOMPARE(rig.messages.Last(), "Cannot create file " + nowhere);
}

void TileViewTest::refusesWhatIsNotAProjectFile() {
  Rig rig;
  // Dropped files: only a project file is taken.
  const auto drop = [&rig](const std::string &path) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(rig.window.get(), &enter);
    QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton,
                       Qt::NoModifier);
    QApplication::sendEvent(rig.window.get(), &dropped);
    return enter.isAccepted();
  };
  QVERIFY(!drop(rig.dir.Path() + "picture.jpg"));
  QVERIFY(rig.window->Session() == nullptr);
  QVERIFY(drop(rig.projectFile));
  QVERIFY(rig.window->Session() != nullptr);
  QCOMPARE(rig.window->windowTitle(), QStringLiteral("Tile Viewer - t.ktsk"));

  const std::string missing = rig.dir.Path() + "none.ktsk";
  QVERIFY(!rig.window->OpenTask(missing));
  QCOMPARE(rig.messages.Last(), "Cannot open file " + missing);
  // What was shown stays.
  QCOMPARE(rig.window->windowTitle(), QStringLiteral("Tile Viewer - t.ktsk"));
  QVERIFY(rig.window->Session() != nullptr);
}

// "Write list of missing tiles..." to a FIFO, a folder or one of the
// task's files: refused at once with a message, and it stays as it was.
void TileViewTest::listNeverReplacesWhatIsNoFile() {
  Rig rig;
  QVERIFY(rig.window->OpenTask(rig.projectFile));
  const std::string d = rig.dir.Path();
  QCOMPARE(::mkfifo((d + "fifo.ftl").c_str(), 0600), 0);
  std::filesystem::create_directory(d + "folder.ftl");
  const std::string project = testing::GetBytes(rig.projectFile);
  const std::pair<std::string, std::string> rows[] = {
      {d + "fifo.ftl", "a FIFO"},
      {d + "folder.ftl", "a folder"},
      {rig.projectFile, "the project file"},
  };
  for (const auto &[path, what] : rows) {
    bool written = false;
    rig.window->WriteMissingListTo(path, [&] { written = true; });
    QVERIFY(written); // at once: no inventory was taken
    QCOMPARE(rig.messages.Last(),
             "Cannot create file " + path + ": it is " + what);
  }
  QCOMPARE(std::filesystem::symlink_status(d + "fifo.ftl").type(),
           std::filesystem::file_type::fifo);
  QVERIFY(std::filesystem::is_directory(d + "folder.ftl"));
  QCOMPARE(testing::GetBytes(rig.projectFile), project);
}

// The main window's "Tile Viewer" starts the bundle's tileview.
void TileViewTest::bundleHoldsTheProgram() {
  QProcess p;
  p.start(QStringLiteral(KESTRANE_BUNDLE_DIR "tileview"),
          {QStringLiteral("--version")});
  QVERIFY(p.waitForFinished(10000));
  QCOMPARE(p.exitCode(), 0);
  QVERIFY(p.readAllStandardOutput().startsWith("tileview "));
}

KESTRANE_GUI_TEST(TileViewTest);

} // namespace kestrane::guitest

#include "TileViewTest.moc"
