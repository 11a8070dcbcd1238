// The area picker through the main window: Cancel leaves the fields as
// they were, OK writes the edges and the zoom, the picker opens on the
// fields' area; and inside the picker, Shift+drag draws an area and the
// search shows a place.
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <functional>

#include "mainwindow/MainWindow.h"
#include "picker/MapCanvas.h"
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

KESTRANE_GUI_TEST(PickAreaTest);

} // namespace kestrane::guitest

#include "PickAreaTest.moc"
