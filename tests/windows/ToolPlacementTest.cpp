// Where the program's new windows open: beside the main window, never over
// it, within a 1366x768 screen (the main window moves aside when it must);
// the tool programs open on the task in hand and are told their place; the
// converter opens beside the fields its result goes into.
#include <QAction>
#include <QApplication>
#include <QScreen>
#include <QTest>

#include "qtbridge/Placement.h"
#include "tests/windows/GuiTestSupport.h"
#include "tests/windows/MainWindowDriver.h"
#include "tools/ConverterWindow.h"

namespace kestrane::guitest {

class ToolPlacementTest : public QObject {
  Q_OBJECT
private slots:
  void besideTheMainWindowWithinTheScreen();
  void placeArgumentsReadBack();
  void toolsOpenOnTheTaskInHand();
  void converterOpensBesideTheFields();
};

namespace {

const QRect kScreen(0, 0, 1366, 768);

QString Text(const QRect &r) {
  return QStringLiteral("%1,%2 %3x%4")
      .arg(r.x())
      .arg(r.y())
      .arg(r.width())
      .arg(r.height());
}

} // namespace

void ToolPlacementTest::besideTheMainWindowWithinTheScreen() {
  // The main window's frame, centred on the screen as it starts.
  const QRect centred(383, 193, 600, 382);
  struct Row {
    const char *what;
    QRect anchor;
    QSize wanted, minimum;
    PreferSide prefer;
    QRect anchorAfter, window;
  } rows[] = {
      {"room on the right as it stands", QRect(0, 100, 600, 382),
       QSize(500, 300), QSize(300, 200), PreferSide::Right,
       QRect(0, 100, 600, 382), QRect(608, 100, 500, 300)},
      {"the viewer beside a centred window: it moves to the left edge", centred,
       QSize(1028, 730), QSize(564, 430), PreferSide::Right,
       QRect(0, 193, 600, 382), QRect(608, 38, 758, 730)},
      {"the converter: below the fields when the left has no room", centred,
       QSize(520, 120), QSize(520, 120), PreferSide::Left,
       QRect(383, 193, 600, 382), QRect(383, 583, 520, 120)},
      {"the converter on the left where there is room",
       QRect(700, 193, 600, 382), QSize(520, 120), QSize(520, 120),
       PreferSide::Left, QRect(700, 193, 600, 382), QRect(172, 193, 520, 120)},
      {"a screen too small for both: within the screen, over the window",
       QRect(0, 0, 1000, 700), QSize(1200, 800), QSize(800, 600),
       PreferSide::Right, QRect(0, 0, 1000, 700), QRect(166, 0, 1200, 768)},
  };
  for (const Row &row : rows) {
    const Placement p =
        PlaceBeside(row.anchor, row.wanted, row.minimum, kScreen, row.prefer);
    QVERIFY2(p.Anchor == row.anchorAfter,
             qPrintable(QString(row.what) + ": anchor " + Text(p.Anchor)));
    QVERIFY2(p.Window == row.window,
             qPrintable(QString(row.what) + ": window " + Text(p.Window)));
    QVERIFY2(kScreen.contains(p.Window), row.what);
    QVERIFY2(kScreen.contains(p.Anchor), row.what);
    if (QString(row.what).contains(QLatin1String("too small")))
      continue;
    QVERIFY2(!p.Window.intersects(p.Anchor), row.what);
    QVERIFY2(p.Window.width() >= row.minimum.width() &&
                 p.Window.height() >= row.minimum.height(),
             row.what);
  }
}

void ToolPlacementTest::placeArgumentsReadBack() {
  const QRect place(608, 38, 1024, 700);
  QStringList arguments{QStringLiteral("--window")};
  arguments << PlaceArguments(place) << QStringLiteral("/d/t.ktsk");
  QCOMPARE(PlaceFromArguments(arguments), std::optional<QRect>(place));
  for (const QStringList &wrong :
       {QStringList{}, QStringList{"--place"}, QStringList{"--place", "1,2,3"},
        QStringList{"--place", "1,2,0,4"}, QStringList{"--place", "a,b,c,d"}})
    QCOMPARE(PlaceFromArguments(wrong), std::nullopt);
}

// Tools > Tile Viewer and Tile Joiner start their programs on the project
// file in hand, beside the main window.
void ToolPlacementTest::toolsOpenOnTheTaskInHand() {
  GuiRig rig;
  rig.WriteSettings();
  MainWindowDriver w(rig);
  w.form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w.form));
  // The test program's screen is a laptop's.
  QCOMPARE(w.form.screen()->availableGeometry(), kScreen);
  const QString bundle = QString::fromLatin1(KESTRANE_BUNDLE_DIR);
  struct Launch {
    const char *action, *program;
  } launches[] = {{"Tileviewer1", "tileview"}, {"CombineImages1", "tilejoin"}};

  // No task yet: the tools open empty.
  for (const Launch &l : launches)
    w.Get<QAction>(l.action)->trigger();
  QCOMPARE(w.started, (QStringList{bundle + "tileview", bundle + "tilejoin"}));
  QCOMPARE(w.startedWith[0],
           PlaceArguments(*PlaceFromArguments(w.startedWith[0])));
  QCOMPARE(w.startedWith[1].first(), QString("--window"));

  w.Fill(rig.Out());
  w.ClickStart();
  QVERIFY(w.WaitEnded());
  w.started.clear();
  w.startedWith.clear();
  for (const Launch &l : launches)
    w.Get<QAction>(l.action)->trigger();
  const QString project = QString::fromStdString(rig.Out() + "t.ktsk");
  for (const QStringList &arguments : w.startedWith) {
    QCOMPARE(arguments.last(), project);
    const std::optional<QRect> place = PlaceFromArguments(arguments);
    QVERIFY(place.has_value());
    // Beside the main window, not over it, within the screen.
    QVERIFY(kScreen.contains(*place));
    QVERIFY2(
        !place->intersects(w.form.frameGeometry()),
        qPrintable(Text(*place) + " over " + Text(w.form.frameGeometry())));
  }
  QVERIFY(w.messages.Texts.size() == 1); // "Task stoped!"

  // A program that does not start is told.
  w.form.SetStartProgram(
      [](const QString &, const QStringList &) { return false; });
  w.Get<QAction>("Tileviewer1")->trigger();
  QCOMPARE(w.messages.Last(),
           "Cannot start " + std::string(KESTRANE_BUNDLE_DIR) + "tileview.");
}

void ToolPlacementTest::converterOpensBesideTheFields() {
  GuiRig rig;
  MainWindowDriver w(rig);
  ConverterWindow converter('.', &w.form);
  ToolWindows tools;
  tools.Converter = &converter;
  w.form.SetToolWindows(tools);
  w.form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w.form));
  w.Get<QAction>("ConvertLongitudeorLatitudetodegreen1")->trigger();
  QVERIFY(converter.isVisible());
  // Not over the fields, which take the main window's left part.
  const QRect fields(w.Get<QWidget>("PanelFields")->mapToGlobal(QPoint()),
                     w.Get<QWidget>("PanelFields")->size());
  QVERIFY2(
      !converter.frameGeometry().intersects(fields),
      qPrintable(Text(converter.frameGeometry()) + " over " + Text(fields)));
}

KESTRANE_GUI_TEST(ToolPlacementTest);

} // namespace kestrane::guitest

#include "ToolPlacementTest.moc"
