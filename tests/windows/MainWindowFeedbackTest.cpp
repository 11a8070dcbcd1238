// What the main window tells the user while they type and run a task: the
// live estimate (and how to begin on an empty form), the progress line with
// given-up tiles apart and a bar that moves with the log, the question
// before a restart with its three answers, the question before a long
// task, a large task's files written without holding the window, the zoom
// field's wheel and page keys, the status bar's height, and a caption
// without the program's name appended.
#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
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
  void emptyFormSaysHowToBegin();
  void restartQuestionOffersThreeAnswers_data();
  void restartQuestionOffersThreeAnswers();
  void barMovesWithTheLog();
  void longTaskIsAskedAboutFirst();
  void largeTaskWritesItsFilesWithoutHoldingTheWindow();
  void zoomFieldTakesTheWheelAndPageKeys();
  void statusBarShowsItsTextWhole();
  void captionsCarryNoAppendedName();
};

void MainWindowFeedbackTest::estimateFollowsTheFieldsAndCreatesNothing() {
  GuiRig rig;
  Window w(rig);
  w.form.show();
  w.Fill(rig.Dir());
  QCOMPARE(w.Estimate(), QString("Tiles: 12 (12 x 1), at least 1.7 s"));
  w.Get<UpDown>("UpDown1")->SetValue(17);
  QCOMPARE(w.Estimate(), QString("Tiles: 6 (6 x 1), at least 1.0 s"));
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
  QVERIFY(w.Progress().startsWith(
      "12 of 12 tiles concluded: 12 stored, 0 given up; "
      "in the tile folder: "));

  // The top edge typed as 39.90: the continue rule fails and the saved
  // positions would be lost. The recorder answers Cancel: nothing starts.
  const std::string project = rig.Out() + "t.ktsk";
  const std::string before = ReadTextFile(project);
  const size_t messages = w.messages.Texts.size();
  w.Edit("Edit2")->setText(QStringLiteral("39.90"));
  w.ClickStart();
  QCOMPARE(w.messages.Texts.size(), messages + 1);
  QCOMPARE(w.messages.Last(),
           RestartQuestion(project, {{"Top Latitude", "39.90", "39.9"}}));
  QCOMPARE(w.Get<QPushButton>("BitBtn1")->text(), QString("Start"));
  QVERIFY(!w.form.TimerActive());
  QCOMPARE(ReadTextFile(project), before);
}

void MainWindowFeedbackTest::emptyFormSaysHowToBegin() {
  GuiRig rig;
  Window w(rig);
  w.form.show();
  QCOMPARE(w.Estimate(),
           QString("Pick an area with Map... or type its four edges"));
  // Once an edge is typed, the checks speak.
  w.Edit("Edit1")->setText(QStringLiteral("116.25"));
  QCOMPARE(w.Estimate(), QString("Longitude or latitude input error!"));
  w.Edit("Edit1")->setText(QString());
  QCOMPARE(w.Estimate(),
           QString("Pick an area with Map... or type its four edges"));
}

void MainWindowFeedbackTest::restartQuestionOffersThreeAnswers_data() {
  QTest::addColumn<QString>("answer");
  QTest::addColumn<bool>("started");
  QTest::addColumn<bool>("continued");
  QTest::newRow("continue the saved task")
      << "Continue the saved task" << true << true;
  QTest::newRow("start afresh") << "Start afresh" << true << false;
  QTest::newRow("cancel") << "Cancel" << false << false;
}

// Stop, then Start with the name typed without ".ktsk": the question names
// the field with both values and offers to continue the saved task.
void MainWindowFeedbackTest::restartQuestionOffersThreeAnswers() {
  QFETCH(QString, answer);
  QFETCH(bool, started);
  QFETCH(bool, continued);
  GuiRig rig(20);
  rig.WriteSettings();
  Window w(rig);
  w.form.show();
  w.Fill(rig.Out());
  w.ClickStart();
  QVERIFY(QTest::qWaitFor(
      [&] { return w.Log().filter(QStringLiteral(" OK")).size() >= 3; },
      30000));
  w.ClickStart(); // Stop
  QVERIFY(w.WaitEnded());
  const std::string project = rig.Out() + "t.ktsk";

  w.messages.Texts.clear();
  w.messages.Choice = answer.toStdString();
  w.Edit("EditTaskName")->setText(QStringLiteral("t"));
  w.ClickStart();
  QCOMPARE(w.messages.Texts.size(), size_t{1});
  QCOMPARE(w.messages.Texts[0],
           RestartQuestion(project, {{"Task name", "t", "t.ktsk"}}));
  QCOMPARE(w.messages.Offered,
           std::vector<std::vector<std::string>>{RestartAnswerTexts()});
  QCOMPARE(w.Button()->text(), started ? QString("Stop") : QString("Start"));
  // Continuing puts the saved task's name back into its field.
  QCOMPARE(w.Edit("EditTaskName")->text(),
           continued ? QString("t.ktsk") : QString("t"));
  QCOMPARE(w.Log().contains("Log continue..."), continued);
  if (started)
    QVERIFY(w.WaitEnded());
  QCOMPARE(PathExists(rig.Out() + "t.ktsk.ktsk"), false);
}

// Each tile is counted before its line reaches the log: whenever the pane
// shows a stored tile's line, the bar counts it.
void MainWindowFeedbackTest::barMovesWithTheLog() {
  GuiRig rig(30);
  rig.WriteSettings();
  Window w(rig);
  w.form.show();
  w.Fill(rig.Out());
  auto *bar = w.Get<QProgressBar>("ProgressBar1");
  int checks = 0;
  QStringList behind;
  connect(w.Memo1(), &QPlainTextEdit::textChanged, this, [&] {
    if (w.Button()->text() != QLatin1String("Stop"))
      return;
    const qsizetype ok =
        w.Log().filter(QRegularExpression(QStringLiteral(" OK$"))).size();
    ++checks;
    if (bar->value() < ok)
      behind << QStringLiteral("%1 < %2").arg(bar->value()).arg(ok);
  });
  w.ClickStart();
  QVERIFY(w.WaitEnded());
  QVERIFY(checks >= 12);
  QVERIFY2(behind.isEmpty(), qPrintable(behind.join(", ")));
  QCOMPARE(bar->value(), 12);
}

void MainWindowFeedbackTest::longTaskIsAskedAboutFirst() {
  GuiRig rig;
  rig.WriteSettings();
  Window w(rig);
  w.form.show();
  w.Fill(rig.Out());
  // A degree square at zoom 18: about 700,000 tiles, days at the pace.
  w.Edit("Edit1")->setText(QStringLiteral("116"));
  w.Edit("Edit3")->setText(QStringLiteral("117"));
  w.Edit("Edit2")->setText(QStringLiteral("40"));
  w.Edit("Edit4")->setText(QStringLiteral("39"));
  w.messages.Yes = false;
  w.ClickStart();
  QCOMPARE(w.messages.Texts.size(), size_t{1});
  const QString question = QString::fromStdString(w.messages.Texts[0]);
  QVERIFY2(question.startsWith("This task has ") &&
               question.contains(" tiles; at the service's pace their "
                                 "download takes at least ") &&
               question.contains(" h ") && question.endsWith(" min. Start it?"),
           qPrintable(question));
  // The count is the estimate's, grouped.
  QVERIFY(
      w.Estimate().startsWith("Tiles: " + question.section(' ', 3, 3) + " ("));
  QCOMPARE(w.Button()->text(), QString("Start"));
  QVERIFY(!PathExists(rig.Out() + "t.ktsk"));
}

// A task of many tiles writes its files off the window's thread: the
// button takes no second Start meanwhile, and the task starts once they
// are written.
void MainWindowFeedbackTest::largeTaskWritesItsFilesWithoutHoldingTheWindow() {
  GuiRig rig;
  rig.WriteSettings();
  MainWindowConfig config = Window::Config(rig);
  config.BackgroundWritesFrom = 1; // every task, for the test
  Window w(config);
  w.form.show();
  w.Fill(rig.Out());
  w.ClickStart();
  QCOMPARE(w.form.Control().State(), TaskState::Preparing);
  QCOMPARE(w.Button()->text(), QString("Start"));
  QVERIFY(!w.Button()->isEnabled());
  QCOMPARE(w.Progress(), QString("Writing the task's files..."));
  // Enter in a field presses the button: nothing happens now.
  QTest::keyClick(w.Edit("Edit1"), Qt::Key_Return);
  QVERIFY(QTest::qWaitFor([&] { return w.Button()->text() == "Stop"; }, 30000));
  QVERIFY(w.Button()->isEnabled());
  QVERIFY(w.WaitEnded());
  QVERIFY(w.messages.Texts.size() == 1); // "Task stoped!" only
  QVERIFY(w.Progress().startsWith("12 of 12 tiles concluded"));
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
