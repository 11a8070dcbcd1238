// The Tile Joiner window: the output that follows the project file, a join
// with its result lines, and refused input shown in the pane.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "joinerwindow/JoinerWindow.h"
#include "sample/TileImage.h"
#include "task/DownloadTask.h"
#include "task/TaskFiles.h"
#include "tests/support/TempDir.h"
#include "tests/windows/GuiTestSupport.h"

namespace kestrane::guitest {

class JoinerWindowTest : public QObject {
  Q_OBJECT
private slots:
  void outputFollowsTheProjectFileUntilEdited();
  void joinShowsTheResultLines();
  void refusedInputIsShownInThePane();
  void formatChoiceSetsTheOutputAndWritesMbTiles();
  void progressNeverGoesBack();
};

namespace {

// A North task of 1 x 2 tiles at zoom 10 with every tile stored.
std::string MakeTask(const std::string &folder) {
  TaskParameters p;
  p.Path = folder;
  p.TaskFileName = "w.ktsk";
  p.Zoom = 10;
  p.LeftLongitude = -100.1;
  p.RightLongitude = -99.9;
  p.TopLatitude = 40.1;
  p.BottomLatitude = 39.9;
  const DownloadTask t(p);
  WriteProjectFile(t);
  CreateTileFolder(t);
  for (int32_t y = t.MinY; y <= t.MaxY; ++y)
    for (int32_t x = t.MinX; x <= t.MaxX; ++x)
      testing::PutBytes(t.TilePath(x, y), TileJpeg(TileAddress{10, x, y, 0}));
  return folder + "w.ktsk";
}

bool Join(JoinerWindow &form) {
  QSignalSpy finished(&form, &JoinerWindow::Finished);
  QTest::mouseClick(form.JoinButton, Qt::LeftButton);
  return finished.count() > 0 || finished.wait(30000);
}

} // namespace

void JoinerWindowTest::outputFollowsTheProjectFileUntilEdited() {
  JoinerWindow form;
  QCOMPARE(form.windowTitle(), QStringLiteral("Tile Joiner"));
  QVERIFY(form.OverviewsBox->isChecked());
  QCOMPARE(form.JoinButton->text(), QStringLiteral("Join"));
  QVERIFY(form.Results->isReadOnly());
  form.ProjectEdit->setText(QStringLiteral("/data/a.ktsk"));
  QCOMPARE(form.OutputEdit->text(), QStringLiteral("/data/a.tif"));
  form.ProjectEdit->setText(QStringLiteral("/data/b.ktsk"));
  QCOMPARE(form.OutputEdit->text(), QStringLiteral("/data/b.tif"));
  form.OutputEdit->setText(QStringLiteral("/elsewhere/mine.tif"));
  form.ProjectEdit->setText(QStringLiteral("/data/c.ktsk"));
  QCOMPARE(form.OutputEdit->text(), QStringLiteral("/elsewhere/mine.tif"));
}

void JoinerWindowTest::joinShowsTheResultLines() {
  testing::TempDir dir;
  JoinerWindow form;
  form.show();
  form.ProjectEdit->setText(QString::fromStdString(MakeTask(dir.Path())));
  QVERIFY(Join(form));
  const QStringList lines = PaneLines(form.Results);
  QVERIFY2(lines.contains(QStringLiteral(
               "Tiles joined: 2 of 2 (carried 2, re-encoded 0)")),
           qPrintable(lines.join(QLatin1Char('\n'))));
  QVERIFY(lines.contains(QStringLiteral("Overview levels: 1")));
  QVERIFY(PathExists(dir.Path() + "w.tif"));
  QCOMPARE(form.JoinButton->text(), QStringLiteral("Join"));
  QCOMPARE(form.Progress->value(), form.Progress->maximum());
}

void JoinerWindowTest::refusedInputIsShownInThePane() {
  testing::TempDir dir;
  JoinerWindow form;
  const QString none = QString::fromStdString(dir.Path() + "none.ktsk");
  form.ProjectEdit->setText(none);
  QVERIFY(Join(form));
  QCOMPARE(PaneLines(form.Results),
           QStringList{QStringLiteral("Cannot open file ") + none});
  QVERIFY(!PathExists(dir.Path() + "none.tif"));
}

// MBTiles chosen: the output takes its extension, whether it follows the
// project file or was written by hand, overviews (the TIFF's) are off, and
// the join writes the database; back to GeoTIFF, ".tif" again.
void JoinerWindowTest::formatChoiceSetsTheOutputAndWritesMbTiles() {
  testing::TempDir dir;
  JoinerWindow form;
  form.show();
  QCOMPARE(form.FormatBox->currentIndex(), 0);
  form.ProjectEdit->setText(QString::fromStdString(MakeTask(dir.Path())));
  const QString base = QString::fromStdString(dir.Path());
  form.FormatBox->setCurrentIndex(1);
  QCOMPARE(form.OutputEdit->text(), base + QStringLiteral("w.mbtiles"));
  QVERIFY(!form.OverviewsBox->isEnabled());
  form.OutputEdit->setText(base + QStringLiteral("mine.tif"));
  form.FormatBox->setCurrentIndex(0);
  form.FormatBox->setCurrentIndex(1);
  QCOMPARE(form.OutputEdit->text(), base + QStringLiteral("mine.mbtiles"));
  QVERIFY(Join(form));
  QVERIFY2(PaneLines(form.Results)
               .contains(QStringLiteral(
                   "Tiles joined: 2 of 2 (carried 2, re-encoded 0)")),
           qPrintable(PaneLines(form.Results).join(QLatin1Char('\n'))));
  QVERIFY(PathExists(dir.Path() + "mine.mbtiles"));
  QVERIFY(!PathExists(dir.Path() + "mine.tif"));
  form.FormatBox->setCurrentIndex(0);
  QCOMPARE(form.OutputEdit->text(), base + QStringLiteral("mine.tif"));
  QVERIFY(form.OverviewsBox->isEnabled());
}

// The file is laid out after the overviews: the bar stays where they left
// it rather than going back.
void JoinerWindowTest::progressNeverGoesBack() {
  testing::TempDir dir;
  JoinerWindow form;
  form.ProjectEdit->setText(QString::fromStdString(MakeTask(dir.Path())));
  QList<int> values;
  connect(form.Progress, &QProgressBar::valueChanged, &form,
          [&values](int v) { values << v; });
  QVERIFY(Join(form));
  QVERIFY(values.size() > 2);
  for (qsizetype i = 1; i < values.size(); ++i)
    QVERIFY2(
        values[i] >= values[i - 1],
        qPrintable(
            QStringLiteral("%1 after %2").arg(values[i]).arg(values[i - 1])));
}

KESTRANE_GUI_TEST(JoinerWindowTest);

} // namespace kestrane::guitest

#include "JoinerWindowTest.moc"
