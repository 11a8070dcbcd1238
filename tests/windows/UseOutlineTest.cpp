// "Use outline" in the picker: it takes the polygons of the place shown or
// of the file opened, the edges become their box and the map draws them;
// an area drawn by hand is the rectangle again. The main window hands the
// outline to Start, says so beside the edges, and an edge typed by hand
// drops it.
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <fstream>
#include <functional>

#include "areafile/AreaFromFile.h"
#include "areamap/PlaceOutline.h"
#include "picker/MapCanvas.h"
#include "picker/PickAreaWindow.h"
#include "tests/windows/MainWindowDriver.h"

namespace kestrane::guitest {

class UseOutlineTest : public QObject {
  Q_OBJECT
private slots:
  void takesThePlaceOrTheFileAndDropsItForAHandDrawnArea();
  void startGetsTheOutlineAndATypedEdgeDropsIt();
};

namespace {

// An L of three tiles' size at zoom 18 where MainWindowDriver::Fill puts
// its area.
const char kLShape[] = R"({"type": "Polygon", "coordinates": [[
 [116.25, 39.9], [116.2545, 39.9], [116.2545, 39.9015], [116.2515, 39.9015],
 [116.2515, 39.903], [116.25, 39.903], [116.25, 39.9]]]})";

std::string WriteLShape(const std::string &folder) {
  const std::string path = folder + "l.geojson";
  std::ofstream(path) << kLShape;
  return path;
}

QCheckBox *UseOutline(PickAreaWindow &picker) {
  return picker.findChild<QCheckBox *>(QStringLiteral("CheckUseOutline"));
}

} // namespace

void UseOutlineTest::takesThePlaceOrTheFileAndDropsItForAHandDrawnArea() {
  PickAreaWindow picker(KESTRANE_BUNDLE_DIR "map/world.bin");
  picker.show();
  QVERIFY(QTest::qWaitForWindowExposed(&picker));
  QCheckBox *use = UseOutline(picker);
  QVERIFY(use != nullptr);
  QVERIFY(!use->isEnabled()); // nothing shown yet to take

  GuiRig rig;
  const std::string file = WriteLShape(rig.Dir());
  struct Source {
    const char *name;
    std::function<bool()> show;
    std::function<Outline()> want;
  } sources[] = {
      {"a file opened",
       [&] {
         picker.OpenAreaFile(file);
         return true;
       },
       [&] { return AreaOutlineFromFile(file).Area; }},
      {"a place shown",
       [&] { return picker.ShowPlace(QStringLiteral("Finist")); },
       [&] {
         return PlaceOutline(
             picker.Map().Places[size_t(picker.Canvas()->Highlight())]);
       }},
  };
  for (const Source &s : sources) {
    if (!s.show()) {
      qInfo("%s: no map file in the bundle", s.name);
      continue;
    }
    use->setChecked(true);
    const Outline want = s.want();
    QVERIFY2(!want.empty(), s.name);
    QVERIFY2(picker.PickedOutline() == want, s.name);
    QVERIFY2(picker.Canvas()->ShowsOutline(), s.name);
    // The edges are the outline's box.
    const GeoBox box = OutlineBox(want);
    const std::optional<AreaFieldTexts> texts = picker.PickedTexts();
    QVERIFY(texts.has_value());
    const std::optional<GeoBox> edges = AreaFromFieldTexts(*texts);
    QVERIFY(edges.has_value());
    QVERIFY2(std::abs(edges->Left - box.Left) < 1e-6 &&
                 std::abs(edges->Top - box.Top) < 1e-6,
             s.name);
    // Unticked, the area stays as the box without the outline.
    use->setChecked(false);
    QVERIFY2(picker.PickedOutline().empty(), s.name);
    QVERIFY2(!picker.Canvas()->ShowsOutline(), s.name);
  }
  // An area drawn by hand replaces the outline.
  picker.OpenAreaFile(file);
  use->setChecked(true);
  QVERIFY(!picker.PickedOutline().empty());
  picker.Canvas()->SetSelection(ToWorld(GeoBox{10, 11, 50, 49}));
  QVERIFY(!use->isChecked());
  QVERIFY(picker.PickedOutline().empty());
}

void UseOutlineTest::startGetsTheOutlineAndATypedEdgeDropsIt() {
  GuiRig rig;
  rig.WriteSettings();
  MainWindowDriver w(rig);
  w.form.show();
  w.Fill(rig.Out());
  const std::string file = WriteLShape(rig.Dir());
  Outline picked;
  QTimer::singleShot(0, [&] {
    auto *picker =
        qobject_cast<PickAreaWindow *>(QApplication::activeModalWidget());
    QVERIFY(picker != nullptr);
    picker->OpenAreaFile(file);
    UseOutline(*picker)->setChecked(true);
    picker->findChild<QSpinBox *>()->setValue(18);
    picked = picker->PickedOutline();
    QTest::mouseClick(
        picker->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok),
        Qt::LeftButton);
  });
  QTest::mouseClick(w.Get<QPushButton>("ButtonMap"), Qt::LeftButton);
  QCOMPARE(picked.size(), size_t{1});
  auto *label = w.Get<QLabel>("LabelOutline");
  QVERIFY(label->isVisible());
  QCOMPARE(label->text(), QString("Outline: 1 polygon"));
  QCOMPARE(w.Edit("Edit1")->text(), QString("116.25"));
  QCOMPARE(w.Edit("Edit2")->text(), QString("39.903"));

  w.ClickStart();
  QVERIFY2(w.messages.Texts.empty(), w.messages.Last().c_str());
  QVERIFY(w.WaitEnded());
  const DownloadTask *task = w.form.Control().CurrentTask();
  QVERIFY(task != nullptr);
  QVERIFY(task->Params.Area == picked);

  // Typing an edge makes the area the rectangle again.
  w.Edit("Edit1")->setFocus();
  QTest::keyClick(w.Edit("Edit1"), Qt::Key_End);
  QTest::keyClicks(w.Edit("Edit1"), "1");
  QVERIFY(!label->isVisible());
  QVERIFY(w.form.Fields().Area.empty());
}

KESTRANE_GUI_TEST(UseOutlineTest);

} // namespace kestrane::guitest

#include "UseOutlineTest.moc"
