// What the main window tells the user while they type and run a task: the
// live estimate, the progress line with given-up tiles apart, the question
// before a restart, the zoom field's wheel and page keys, the status bar's
// height, and a caption without the program's name appended.
#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QWheelEvent>
#include <cstdlib>
#include <functional>

#include "mainwindow/MainWindow.h"
#include "platform/Files.h"
#include "tests/windows/GuiTestSupport.h"
#include "tests/windows/MainWindowDriver.h"
#include "tools/RedownloadWindow.h"

namespace kestrane::guitest {

namespace {

using Window = MainWindowDriver;

void Wheel(QWidget *target, int delta) {
  const QPointF at(target->width() / 2.0, target->height() / 2.0);
  QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, delta),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(target, &event);
}

} // namespace

class MainWindowFeedbackTest : public QObject {
  Q_OBJECT
private slots:
  void estimateFollowsTheFieldsAndCreatesNothing();
  void progressAndRestartQuestion();
  void zoomFieldTakesTheWheelAndPageKeys();
  void statusBarShowsItsTextWhole();
  void captionsCarryNoAppendedName();
};

void MainWindowFeedbackTest::estimateFollowsTheFieldsAndCreatesNothing() {
  GuiRig rig;
  Window w(rig);
  w.form.show();
  w.Fill(rig.Dir());
  QCOMPARE(w.Estimate(),
           QString("Tiles: 12 (12 x 1), at least 1.7 s at the service's pace"));
  w.Get<UpDown>("UpDown1")->SetValue(17);
  QCOMPARE(w.Estimate(),
           QString("Tiles: 6 (6 x 1), at least 1.0 s at the service's pace"));
  w.Edit("Edit3")->setText(QString());
  QCOMPARE(w.Estimate(), QString("Longitude or latitude input error!"));
  w.Edit("Edit3")->setText(QStringLiteral("116.265"));
  // A new folder is only created by Start.
  const std::string folder = rig.Dir() + "new";
  w.Edit("Edit6")->setText(QString::fromStdString(folder));
  QVERIFY(w.Estimate().startsWith("Tiles: 6 "));
  QVERIFY(!DirectoryExists(folder));
  const std::string deep = rig.Dir() + "no/such";
  w.Edit("Edit6")->setText(QString::fromStdString(deep));
  QCOMPARE(w.Estimate(),
           QString::fromStdString("Create directory " + deep + " Failed."));
  QVERIFY(w.messages.Texts.empty());
}

void MainWindowFeedbackTest::progressAndRestartQuestion() {
  GuiRig rig;
  rig.WriteSettings();
  Window w(rig);
  w.form.show();
  w.Fill(rig.Out());
  w.ClickStart();
  QVERIFY(w.WaitEnded());
  QVERIFY(w.Get<QLabel>("LabelProgress")
              ->text()
              .startsWith("12 of 12 tiles concluded: 12 stored, 0 given up; "
                          "in the tile folder: "));

  // The top edge typed as 39.90: the continue rule fails and the saved
  // positions would be lost. The recorder answers No: nothing starts.
  const std::string project = rig.Out() + "t.ktsk";
  const std::string before = ReadTextFile(project);
  const size_t messages = w.messages.Texts.size();
  w.Edit("Edit2")->setText(QStringLiteral("39.90"));
  w.ClickStart();
  QCOMPARE(w.messages.Texts.size(), messages + 1);
  QCOMPARE(w.messages.Last(), RestartQuestion(project));
  QCOMPARE(w.Get<QPushButton>("BitBtn1")->text(), QString("Start"));
  QVERIFY(!w.form.TimerActive());
  QCOMPARE(ReadTextFile(project), before);
}

void MainWindowFeedbackTest::zoomFieldTakesTheWheelAndPageKeys() {
  GuiRig rig;
  Window w(rig);
  w.form.show();
  QLineEdit *zoom = w.Edit("Edit5");
  struct Step {
    const char *what;
    std::function<void()> act;
    const char *expected;
  } steps[] = {
      {"wheel up", [&] { Wheel(zoom, 120); }, "14"},
      {"wheel down twice", [&] { Wheel(zoom, -120), Wheel(zoom, -120); }, "12"},
      {"wheel over the arrows", [&] { Wheel(w.Get<UpDown>("UpDown1"), 120); },
       "13"},
      {"PgUp", [&] { QTest::keyClick(zoom, Qt::Key_PageUp); }, "14"},
      {"PgDn", [&] { QTest::keyClick(zoom, Qt::Key_PageDown); }, "13"},
      {"at 21 the wheel stops",
       [&] {
         w.Get<UpDown>("UpDown1")->SetValue(21);
         Wheel(zoom, 120);
       },
       "21"},
      {"at 1 PgDn stops",
       [&] {
         w.Get<UpDown>("UpDown1")->SetValue(1);
         QTest::keyClick(zoom, Qt::Key_PageDown);
       },
       "1"},
  };
  for (const Step &step : steps) {
    step.act();
    QVERIFY2(zoom->text() == QLatin1String(step.expected), step.what);
  }
  QVERIFY(zoom->isReadOnly());
}

// The rows of an image that hold ink of dark text.
int InkRows(const QImage &image) {
  int rows = 0;
  for (int y = 0; y < image.height(); ++y) {
    bool ink = false;
    for (int x = 0; x < image.width() && !ink; ++x)
      ink = qGray(image.pixel(x, y)) < 140;
    rows += ink ? 1 : 0;
  }
  return rows;
}

void MainWindowFeedbackTest::statusBarShowsItsTextWhole() {
  GuiRig rig;
  Window w(rig);
  w.form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w.form));
  // The descenders of "y" and "g" reach below the base line: the status
  // bar's text shows as many rows of ink as the same text given room.
  auto *panel = w.Get<QLabel>("StatusBar1Panel");
  QLabel roomy(panel->text());
  roomy.setFont(panel->font());
  roomy.resize(panel->width(), 4 * panel->fontMetrics().height());
  const int whole = InkRows(roomy.grab().toImage());
  QVERIFY(whole > 0);
  QCOMPARE(InkRows(panel->grab().toImage()), whole);
}

void MainWindowFeedbackTest::captionsCarryNoAppendedName() {
  // The window system appends a display name to every caption that does
  // not end with it: the program sets none (the test program names itself
  // the way the program does).
  QCOMPARE(QGuiApplication::applicationName(), QString("Kestrane"));
  QCOMPARE(QGuiApplication::applicationDisplayName(), QString("Kestrane"));
  GuiRig rig;
  Window w(rig);
  w.form.show();
  QCOMPARE(w.form.windowTitle(), QString("Kestrane 6.2"));
}

KESTRANE_GUI_TEST(MainWindowFeedbackTest);

} // namespace kestrane::guitest

#include "MainWindowFeedbackTest.moc"
