// The area picker through the main window: Cancel leaves the fields as
// they were, OK writes the edges and the zoom, the picker opens on the
// fields' area beside the main window; and inside the picker, Shift+drag
// draws an area, the search shows a place, a match is chosen with the
// keyboard, a search without a match says so, the drop-down is as wide as
// its longest match, the scale bar and the pointer's place show at city
// scale, and names of earlier tasks never draw over each other.
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>

#include "areamap/PlaceSearch.h"
#include "mainwindow/MainWindow.h"
#include "picker/MapCanvas.h"
#include "picker/MapPainter.h"
#include "picker/PickAreaWindow.h"
#include "tests/windows/GuiTestSupport.h"

namespace kestrane::guitest {

class PickAreaTest : public QObject {
  Q_OBJECT
private slots:
  void cancelLeavesTheFieldsUntouched_data();
  void cancelLeavesTheFieldsUntouched();
  void okWritesTheEdgesAndTheZoom();
  void shiftDragDrawsTheAreaAndCountsItsTiles();
  void searchShowsTheFirstMatch();
  void matchChosenWithTheKeyboard();
  void searchWithoutMatchSaysSo();
  void cityScaleShowsScaleBarAndPointer();
  void labelsNeverDrawOverEachOther();
};

namespace {

struct Main {
  explicit Main(const GuiRig &rig) : form(Config(rig)) {
    form.SetMessageSink(&messages);
    form.SetErrorSink(&messages);
    form.show();
  }
  static MainWindowConfig Config(const GuiRig &rig) {
    MainWindowConfig config;
    config.ProgramFolder = KESTRANE_BUNDLE_DIR;
    config.SettingsPath = rig.SettingsPath();
    return config;
  }
  QLineEdit *Edit(const char *name) {
    return form.findChild<QLineEdit *>(QString::fromLatin1(name));
  }
  QStringList Fields() {
    QStringList texts;
    for (const char *name : {"Edit1", "Edit3", "Edit2", "Edit4", "Edit5"})
      texts << Edit(name)->text();
    return texts;
  }
  void SetFields(const QStringList &texts) {
    const char *names[] = {"Edit1", "Edit3", "Edit2", "Edit4"};
    for (int i = 0; i < 4; ++i)
      Edit(names[i])->setText(texts[i]);
  }
  // Runs `open` (which shows the picker modally) and `inside` on the
  // picker once it is up.
  void WithPicker(const std::function<void()> &open,
                  const std::function<void(PickAreaWindow &)> &inside) {
    bool ran = false;
    QTimer::singleShot(0, [&] {
      auto *picker =
          qobject_cast<PickAreaWindow *>(QApplication::activeModalWidget());
      QVERIFY(picker != nullptr);
      inside(*picker);
      ran = true;
    });
    open();
    QVERIFY(ran);
  }
  RecordingSink messages;
  MainWindow form;
};

void Press(PickAreaWindow &picker, QDialogButtonBox::StandardButton which) {
  auto *box = picker.findChild<QDialogButtonBox *>();
  QTest::mouseClick(box->button(which), Qt::LeftButton);
}

} // namespace

void PickAreaTest::cancelLeavesTheFieldsUntouched_data() {
  QTest::addColumn<QStringList>("fields");
  // A valid area with "," as the point, and fields that hold no area.
  QTest::newRow("valid area")
      << QStringList{"-122,34", "-122.33", "47.61", "47.6"};
  QTest::newRow("no area") << QStringList{"", "west", "91", ""};
}

void PickAreaTest::cancelLeavesTheFieldsUntouched() {
  QFETCH(QStringList, fields);
  GuiRig rig;
  rig.WriteSettings();
  Main w(rig);
  w.SetFields(fields);
  const QStringList before = w.Fields();
  auto *menuItem =
      w.form.findChild<QAction *>(QStringLiteral("Pickareaonmap1"));
  QVERIFY(menuItem != nullptr);
  w.WithPicker([&] { menuItem->trigger(); },
               [](PickAreaWindow &picker) {
                 // A new area and zoom, then Cancel.
                 picker.SetArea({10, 11, 50, 49});
                 picker.findChild<QSpinBox *>()->setValue(5);
                 Press(picker, QDialogButtonBox::Cancel);
               });
  QCOMPARE(w.Fields(), before);
  QVERIFY(w.messages.Texts.empty());
}

void PickAreaTest::okWritesTheEdgesAndTheZoom() {
  GuiRig rig;
  rig.WriteSettings();
  Main w(rig);
  w.SetFields({"-122.34", "-122.33", "47.61", "47.6"});
  auto *button = w.form.findChild<QPushButton *>(QStringLiteral("ButtonMap"));
  QVERIFY(button != nullptr);
  std::optional<WorldBox> opened;
  w.WithPicker([&] { QTest::mouseClick(button, Qt::LeftButton); },
               [&](PickAreaWindow &picker) {
                 opened = picker.Canvas()->Selection();
                 picker.findChild<QSpinBox *>()->setValue(15);
                 picker.SetArea({2.2945, 2.3, 48.86000001, 48.855});
                 Press(picker, QDialogButtonBox::Ok);
               });
  // It opened on the fields' area.
  QVERIFY(opened.has_value());
  QVERIFY(std::abs(opened->Left - LongitudeToWorldX(-122.34)) < 1e-12);
  QVERIFY(std::abs(opened->Top - LatitudeToWorldY(47.61)) < 1e-12);
  QCOMPARE(w.Fields(), (QStringList{"2.2945", "2.3", "48.86", "48.855", "15"}));
}

void PickAreaTest::shiftDragDrawsTheAreaAndCountsItsTiles() {
  PickAreaWindow picker(KESTRANE_BUNDLE_DIR "map/world.bin");
  picker.SetStart(std::nullopt, 3);
  picker.show();
  QVERIFY(QTest::qWaitForWindowExposed(&picker));
  MapCanvas *canvas = picker.Canvas();
  QVERIFY(!picker.PickedTexts().has_value());
  // Without Shift a drag moves the map and draws nothing.
  QTest::mousePress(canvas, Qt::LeftButton, {}, QPoint(100, 100));
  QTest::mouseMove(canvas, QPoint(200, 180));
  QTest::mouseRelease(canvas, Qt::LeftButton, {}, QPoint(200, 180));
  QVERIFY(!picker.PickedTexts().has_value());
  // From 100 pixels west and 60 north of the middle (over the world) to as
  // far south-east of it.
  const QPoint mid = canvas->rect().center();
  QTest::mousePress(canvas, Qt::LeftButton, Qt::ShiftModifier,
                    mid + QPoint(-100, -60));
  QTest::mouseMove(canvas, mid + QPoint(100, 60));
  QTest::mouseRelease(canvas, Qt::LeftButton, Qt::ShiftModifier,
                      mid + QPoint(100, 60));
  QVERIFY(picker.PickedTexts().has_value());
  const QString tiles =
      picker.findChild<QLabel *>(QStringLiteral("LabelTiles"))->text();
  QVERIFY2(tiles.startsWith(QStringLiteral("Tiles: ")), qPrintable(tiles));
  QVERIFY2(tiles.contains(QStringLiteral("Least time: ")), qPrintable(tiles));
  // Its west edge dragged 40 pixels further west.
  const double left = canvas->Selection()->Left;
  QTest::mousePress(canvas, Qt::LeftButton, {}, mid + QPoint(-100, 0));
  QTest::mouseMove(canvas, mid + QPoint(-140, 0));
  QTest::mouseRelease(canvas, Qt::LeftButton, {}, mid + QPoint(-140, 0));
  QVERIFY(canvas->Selection()->Left < left);
}

void PickAreaTest::searchShowsTheFirstMatch() {
  PickAreaWindow picker(KESTRANE_BUNDLE_DIR "map/world.bin");
  if (picker.Map().Places.empty())
    QSKIP("no map file in the bundle");
  picker.show();
  QVERIFY(QTest::qWaitForWindowExposed(&picker));
  const double before = picker.Canvas()->View().Scale();
  QVERIFY(picker.ShowPlace(QStringLiteral("ARDÈ")));
  QVERIFY(picker.Canvas()->View().Scale() > before * 10);
  QVERIFY(!picker.ShowPlace(QStringLiteral("Atlantis")));
}

// Down arrow and Enter in the drop-down show the chosen match, as a click
// does; the drop-down is as wide as its longest entry.
void PickAreaTest::matchChosenWithTheKeyboard() {
  PickAreaWindow picker(KESTRANE_BUNDLE_DIR "map/world.bin");
  if (picker.Map().Places.empty())
    QSKIP("no map file in the bundle");
  picker.show();
  picker.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&picker));
  auto *search = picker.findChild<QLineEdit *>(QStringLiteral("EditFindPlace"));
  search->setFocus();
  QTest::keyClicks(search, QStringLiteral("bay"));
  QAbstractItemView *list = picker.findChild<QCompleter *>()->popup();
  QVERIFY(QTest::qWaitFor([&] { return list->isVisible(); }, 5000));
  const int rows = list->model()->rowCount();
  QVERIFY(rows >= 2);
  int longest = 0;
  for (int r = 0; r < rows; ++r)
    longest =
        std::max(longest, list->fontMetrics().horizontalAdvance(
                              list->model()->index(r, 0).data().toString()));
  QVERIFY2(list->viewport()->width() >= longest,
           qPrintable(QStringLiteral("%1 < %2")
                          .arg(list->viewport()->width())
                          .arg(longest)));
  // The second match, with the keyboard.
  const QString second = list->model()->index(1, 0).data().toString();
  QTest::keyClick(list, Qt::Key_Down);
  QTest::keyClick(list, Qt::Key_Down);
  QTest::keyClick(list, Qt::Key_Return);
  QVERIFY(!list->isVisible());
  const int place = picker.Canvas()->Highlight();
  QVERIFY(place >= 0);
  QCOMPARE(QString::fromStdString(
               PlaceTitle(picker.Map().Places[static_cast<size_t>(place)])),
           second);
  // The map shows it.
  const WorldBox box = picker.Map().Places[static_cast<size_t>(place)].Box;
  const WorldPoint centre = picker.Canvas()->View().Center();
  QVERIFY(centre.X > box.Left && centre.X < box.Right);
  QVERIFY(centre.Y > box.Top && centre.Y < box.Bottom);
}

void PickAreaTest::searchWithoutMatchSaysSo() {
  PickAreaWindow picker(KESTRANE_BUNDLE_DIR "map/world.bin");
  if (picker.Map().Places.empty())
    QSKIP("no map file in the bundle");
  picker.show();
  auto *note = picker.findChild<QLabel *>(QStringLiteral("LabelSearchNote"));
  QVERIFY(!note->isVisible());
  QVERIFY(!picker.ShowPlace(QStringLiteral("Atlantis")));
  QVERIFY(note->isVisible());
  QCOMPARE(note->text(), QStringLiteral("No place matches \"Atlantis\"."));
  QVERIFY(picker.ShowPlace(QStringLiteral("ARDÈ")));
  QVERIFY(!note->isVisible());
}

// At city scale a scale bar shows at the bottom left and the pointer's
// longitude and latitude at the bottom right; over the whole world neither.
void PickAreaTest::cityScaleShowsScaleBarAndPointer() {
  PickAreaWindow picker(KESTRANE_BUNDLE_DIR "map/world.bin");
  picker.show();
  QVERIFY(QTest::qWaitForWindowExposed(&picker));
  MapCanvas *canvas = picker.Canvas();
  // A backdrop pixel: inside the scale bar's box, off its line and text.
  const QPoint barBox(8, canvas->height() - 8);
  const auto whitish = [&](const QPoint &at) {
    const QColor c = canvas->grab().toImage().pixelColor(at);
    return c.red() > 240 && c.green() > 240 && c.blue() > 240;
  };
  QVERIFY(canvas->View().Scale() < kDetailFromScale);
  QVERIFY(!whitish(barBox));
  picker.SetArea({2.33, 2.35, 48.87, 48.85}); // a Paris quarter
  QVERIFY(canvas->View().Scale() >= kDetailFromScale);
  QVERIFY(whitish(barBox));
  // The pointer's place: a box at the bottom right while it is over the
  // map.
  const QPoint pointer = canvas->rect().center();
  const QPoint coordsBox(canvas->width() - 8, canvas->height() - 8);
  QVERIFY(!whitish(coordsBox));
  QTest::mouseMove(canvas, pointer);
  QVERIFY(whitish(coordsBox));
}

void PickAreaTest::labelsNeverDrawOverEachOther() {
  struct Row {
    const char *what;
    std::vector<QRectF> wanted;
    std::vector<std::optional<QRectF>> placed;
  } rows[] = {
      {"apart: each where it wants",
       {QRectF(0, 100, 50, 12), QRectF(100, 100, 50, 12)},
       {QRectF(0, 100, 50, 12), QRectF(100, 100, 50, 12)}},
      {"the same area twice: the second name above the first",
       {QRectF(0, 100, 50, 12), QRectF(0, 100, 60, 12)},
       {QRectF(0, 100, 50, 12), QRectF(0, 88, 60, 12)}},
      {"three over one corner stack up",
       {QRectF(0, 100, 50, 12), QRectF(5, 102, 50, 12), QRectF(0, 100, 50, 12)},
       {QRectF(0, 100, 50, 12), QRectF(5, 78, 50, 12), QRectF(0, 64, 50, 12)}},
  };
  for (const Row &row : rows) {
    QCOMPARE(PlaceLabels(row.wanted), row.placed);
    // Whatever was placed, nothing overlaps.
    const auto placed = PlaceLabels(row.wanted);
    for (size_t i = 0; i < placed.size(); ++i)
      for (size_t j = i + 1; j < placed.size(); ++j)
        if (placed[i] && placed[j])
          QVERIFY2(!placed[i]->intersects(*placed[j]), row.what);
  }
  // More names over one corner than tries: the rest are left out.
  const std::vector<QRectF> crowd(7, QRectF(0, 100, 50, 12));
  const auto placed = PlaceLabels(crowd, 4);
  QCOMPARE(std::count_if(placed.begin(), placed.end(),
                         [](const auto &p) { return p.has_value(); }),
           5);
}

KESTRANE_GUI_TEST(PickAreaTest);

} // namespace kestrane::guitest

#include "PickAreaTest.moc"
