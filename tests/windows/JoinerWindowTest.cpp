// The Tile Joiner window: the output that follows the project file, a join
// with its result lines, refused input shown in the pane, the question
// before a picture is replaced, the paths kept while a join runs, an empty
// bar after Cancel, and "Open folder" after a join.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

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
  void asksBeforeReplacingAPicture();
  void cancelEmptiesTheBarAndFreesThePaths();
  void openFolderAfterAJoin();
  void formatChoiceSetsTheOutputAndWritesMbTiles();
  void progressNeverGoesBack();
};

namespace {

// A North task of 1 x 2 tiles at zoom 10 with every tile stored (at zoom
// 15, some 400 tiles).
std::string MakeTask(const std::string &folder, int32_t zoom = 10) {
  TaskParameters p;
  p.Path = folder;
  p.TaskFileName = "w.ktsk";
  p.Zoom = zoom;
  p.LeftLongitude = -100.1;
  p.RightLongitude = -99.9;
  p.TopLatitude = 40.1;
  p.BottomLatitude = 39.9;
  const DownloadTask t(p);
  WriteProjectFile(t);
  CreateTileFolder(t);
  for (int32_t y = t.MinY; y <= t.MaxY; ++y)
    for (int32_t x = t.MinX; x <= t.MaxX; ++x)
      testing::PutBytes(t.TilePath(x, y), TileJpeg(TileAddress{zoom, x, y, 0}));
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

// A picture of an earlier join is replaced only after a Yes.
void JoinerWindowTest::asksBeforeReplacingAPicture() {
  testing::TempDir dir;
  JoinerWindow form;
  RecordingSink messages;
  form.SetMessageSink(&messages);
  form.ProjectEdit->setText(QString::fromStdString(MakeTask(dir.Path())));
  QVERIFY(Join(form));
  QVERIFY(messages.Texts.empty()); // nothing to replace the first time
  const std::string picture = dir.Path() + "w.tif";
  testing::PutBytes(picture, "an earlier picture");
  for (const bool yes : {false, true}) {
    messages.Texts.clear();
    messages.Yes = yes;
    QSignalSpy finished(&form, &JoinerWindow::Finished);
    QTest::mouseClick(form.JoinButton, Qt::LeftButton);
    QCOMPARE(messages.Texts,
             std::vector<std::string>{"The picture " + picture +
                                      " exists already. Replace it?"});
    if (!yes) {
      QVERIFY(!form.Running());
      QCOMPARE(finished.count(), 0);
      QCOMPARE(testing::GetBytes(picture), std::string("an earlier picture"));
      continue;
    }
    QVERIFY(finished.count() > 0 || finished.wait(30000));
    QVERIFY(testing::GetBytes(picture) != "an earlier picture");
  }
}

// Cancel leaves no picture and an empty bar; the paths, kept while the join
// ran, take input again.
void JoinerWindowTest::cancelEmptiesTheBarAndFreesThePaths() {
  testing::TempDir dir;
  JoinerWindow form;
  form.show();
  form.ProjectEdit->setText(QString::fromStdString(MakeTask(dir.Path(), 15)));
  QSignalSpy finished(&form, &JoinerWindow::Finished);
  QTest::mouseClick(form.JoinButton, Qt::LeftButton);
  QVERIFY(form.Running());
  QVERIFY(!form.OverviewsBox->isEnabled());
  QVERIFY(!form.FormatBox->isEnabled());
  QVERIFY(form.ProjectEdit->isReadOnly());
  QVERIFY(form.OutputEdit->isReadOnly());
  QCOMPARE(form.JoinButton->text(), QStringLiteral("Cancel"));
  QTest::mouseClick(form.JoinButton, Qt::LeftButton);
  QVERIFY(finished.count() > 0 || finished.wait(30000));
  QCOMPARE(PaneLines(form.Results).last(),
           QStringLiteral("Cancelled: no picture was written."));
  QCOMPARE(form.Progress->value(), 0);
  QVERIFY(!form.OpenFolderButton->isEnabled());
  QVERIFY(!form.ProjectEdit->isReadOnly());
  QVERIFY(!form.OutputEdit->isReadOnly());
  QVERIFY(form.OverviewsBox->isEnabled());
  QVERIFY(form.FormatBox->isEnabled());
  QVERIFY(!PathExists(dir.Path() + "w.tif"));
}

void JoinerWindowTest::openFolderAfterAJoin() {
  testing::TempDir dir;
  JoinerWindow form;
  RecordingSink messages;
  form.SetMessageSink(&messages);
  std::vector<QUrl> opened;
  bool opener = true;
  form.SetShellOpen([&](const QUrl &url) {
    opened.push_back(url);
    return opener;
  });
  QVERIFY(!form.OpenFolderButton->isEnabled());
  // The file dialogs start in the task's folder.
  form.SetStartFolder(QStringLiteral("/nowhere/"));
  QCOMPARE(form.DialogFolder(), QStringLiteral("/nowhere/"));
  form.ProjectEdit->setText(QString::fromStdString(MakeTask(dir.Path())));
  QCOMPARE(form.DialogFolder(), QString::fromStdString(dir.Path()));
  QVERIFY(Join(form));
  QVERIFY(form.OpenFolderButton->isEnabled());
  const QUrl folder = QUrl::fromLocalFile(QString::fromStdString(dir.Path()));
  QTest::mouseClick(form.OpenFolderButton, Qt::LeftButton);
  QCOMPARE(opened, std::vector<QUrl>{folder});
  QVERIFY(messages.Texts.empty());
  opener = false;
  QTest::mouseClick(form.OpenFolderButton, Qt::LeftButton);
  QCOMPARE(messages.Texts, std::vector<std::string>{CannotOpenText(folder)});
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
