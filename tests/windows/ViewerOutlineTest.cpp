// The tile viewer draws the task's outline over the tiles, turned with
// them: a triangle in the north-west of a tile lies in the corner of its
// cell where that tile's north-west shows for the task's direction.
#include <QImage>
#include <QPainter>
#include <QTest>

#include "geo/TileGrid.h"
#include "tests/support/TempDir.h"
#include "tests/support/ViewerTask.h"
#include "tests/windows/GuiTestSupport.h"
#include "viewerwindow/TileCanvas.h"
#include "viewerwindow/TileViewWindow.h"

namespace kestrane::guitest {

class ViewerOutlineTest : public QObject {
  Q_OBJECT
private slots:
  void outlineTurnsWithTheTiles();
};

void ViewerOutlineTest::outlineTurnsWithTheTiles() {
  // The quarter of the cell (0: left or top, 1: right or bottom) where
  // the tile's north-west shows.
  struct Row {
    int32_t dir;
    int across, down;
  } rows[] = {{0, 0, 0}, {1, 0, 1}, {2, 1, 1}, {3, 1, 0}};
  for (const Row &r : rows) {
    testing::TempDir dir;
    const LoadedTask plain =
        LoadTask(test::WriteViewerTask(dir.Path(), r.dir, 3, 2),
                 test::ViewerEnvironment());
    // A triangle in the north-west of the block's middle column's tile.
    TaskParameters params = plain.Task.Params;
    const int32_t z = params.Zoom, x = plain.Task.MinX + 1, y = plain.Task.MinY;
    const auto lon = [&](double f) { return TileXToLongitude(x + f, z); };
    const auto lat = [&](double f) { return TileYToLatitude(y + f, z); };
    params.Area = {
        {{{lon(0.1), lat(0.9)}, {lon(0.4), lat(0.9)}, {lon(0.1), lat(0.6)}},
         {}}};
    TileViewConfig config;
    config.ProgramFolder = KESTRANE_BUNDLE_DIR;
    config.SettingsPath = dir.Path() + "config.ini";
    TileViewWindow window(config);
    window.resize(800, 600);
    window.show();
    QVERIFY(window.ShowTask(
        {DownloadTask(params, plain.Task.Env), plain.ProjectFile}));
    TileCanvas *canvas = window.Canvas();
    canvas->SetMarks(false);
    QImage image(canvas->size(), QImage::Format_ARGB32_Premultiplied);
    {
      QPainter p(&image);
      canvas->Render(p, canvas->size());
    }
    // The line's pixels in each quarter of the tile's cell.
    const ViewCell cell = window.Session()->Grid().CellOf(x, y);
    ViewTransform *t = canvas->Transform();
    const double c = t->CellPixels();
    int lit[2][2] = {};
    for (int py = 0; py < int(c); ++py)
      for (int px = 0; px < int(c); ++px) {
        const QColor colour =
            image.pixelColor(int(t->OffsetX() + double(cell.Column) * c) + px,
                             int(t->OffsetY() + double(cell.Row) * c) + py);
        if (colour.blue() > 200 && colour.green() > 150 && colour.red() < 120)
          ++lit[2 * py / int(c)][2 * px / int(c)];
      }
    QVERIFY2(lit[r.down][r.across] > 0, qPrintable(QString::number(r.dir)));
    QCOMPARE(lit[1 - r.down][1 - r.across], 0);
    QCOMPARE(lit[r.down][1 - r.across] + lit[1 - r.down][r.across], 0);
  }
}

KESTRANE_GUI_TEST(ViewerOutlineTest);

} // namespace kestrane::guitest

#include "ViewerOutlineTest.moc"
