// The main window driven through its widgets: fields, Start/Stop against the
// loopback tile server, "Open task ...", the menus' message texts.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>

#include "mainwindow/MainWindow.h"
#include "platform/Files.h"
#include "task/Settings.h"
#include "tests/windows/GuiTestSupport.h"
#include "tests/windows/MainWindowDriver.h"

namespace kestrane::guitest {

namespace {

// The driver's fields: twelve tiles at zoom 18 in one row, eight workers.
const int kTiles = 12;

const std::string kNoTask = "No task running now." + std::string(18, ' ');
const std::string kNoLog = "No logfile now." + std::string(25, ' ');
const std::string kTaskStoped = "Task stoped!" + std::string(20, ' ');

using Window = MainWindowDriver;

} // namespace

class MainWindowTest : public QObject {
  Q_OBJECT
private slots:
  void controlsHaveTheirNamesCaptionsAndDefaults();
  void menusHaveTheirCaptionsAndSeparators();
  void formShowReadsPathAndVersion_data();
  void formShowReadsPathAndVersion();
  void upDownStaysWithinOneTo21();
  void startRefusesInput_data();
  void startRefusesInput();
  void enterInAFieldPressesStart();
  void startStopStartContinues();
  void secondWindowCannotStartARunningTask();
  void openTaskFillsFields_data();
  void openTaskFillsFields();
  void openedTaskContinuesOnStart();
  void setUpFailureShowsTheErrorBox();
  void viewLogFileMessages();
  void menuCommandsOpenTheirTargets_data();
  void menuCommandsOpenTheirTargets();
};

void MainWindowTest::controlsHaveTheirNamesCaptionsAndDefaults() {
  GuiRig rig;
  Window w(rig);
  QCOMPARE(w.form.size(), QSize(596, 357));
  QCOMPARE(w.Edit("EditTaskName")->text(), QString("newtask.ktsk"));
  QCOMPARE(w.Get<QPushButton>("Button4")->text(), QString("Open task ..."));
  for (const char *name : {"Edit1", "Edit2", "Edit3", "Edit4"})
    QVERIFY2(w.Edit(name)->text().isEmpty(), name);
  // The zoom field only follows its spinner.
  QCOMPARE(w.Edit("Edit5")->text(), QString("13"));
  QVERIFY(w.Edit("Edit5")->isReadOnly());
  QCOMPARE(w.Get<UpDown>("UpDown1")->Value(), 13);
  auto *dir = w.Get<QComboBox>("cbDirection");
  QCOMPARE(dir->count(), 4);
  QCOMPARE(dir->itemText(0), QString("North"));
  QCOMPARE(dir->itemText(1), QString("East"));
  QCOMPARE(dir->itemText(2), QString("South"));
  QCOMPARE(dir->itemText(3), QString("West"));
  QCOMPARE(dir->currentIndex(), 0);
  auto *browse = w.Get<QPushButton>("Button1");
  QCOMPARE(browse->text(), QString("..."));
  QCOMPARE(browse->toolTip(), QString("Click to select path"));
  QCOMPARE(w.Button()->text(), QString("Start"));
  QVERIFY(w.Button()->font().bold());
  QVERIFY(w.Button()->isDefault());
  QVERIFY(w.Get<QLabel>("LabelTotalxy")->text().isEmpty());
  QCOMPARE(w.Memo1()->toPlainText(), QString("[log window]"));
  QVERIFY(w.Memo1()->isReadOnly());
  QCOMPARE(w.Memo1()->toolTip(),
           QString("Double click to view log in notepad"));
  QCOMPARE(w.Memo1()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  QCOMPARE(w.Memo1()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  auto *memo2 = w.Get<QPlainTextEdit>("Memo2");
  QCOMPARE(memo2->toPlainText(), QString("[Failed tile inforamtion window]"));
  w.form.show();
  QVERIFY(!memo2->isVisible());
  auto *timer = w.Get<QTimer>("Timer1");
  QCOMPARE(timer->interval(), 1000);
  QVERIFY(!timer->isActive());

  QStringList labels;
  for (const QLabel *label : w.form.findChildren<QLabel *>())
    labels << label->text();
  for (const char *caption :
       {"Task name:", "Left Longitude:", "Right Longitude:", "Top Latitude:",
        "Bottom Latitude:", "Zoom level:", "Direction: ", "Path to save:",
        "Download bird's eye view images from Bing Maps!"})
    QVERIFY2(labels.contains(QString::fromLatin1(caption)), caption);
}

void MainWindowTest::menusHaveTheirCaptionsAndSeparators() {
  GuiRig rig;
  Window w(rig);
  // One line per menu: its title, then its items ("-" a separator).
  const QStringList expected{
      "&File|E&xit", "&Options|Options...",
      "&Misc|Pick area on map...|-|"
      "Convert \"Degrees,Minutes,Seconds\"  to \"Degrees\"...|-|"
      "View log file",
      "&Tools|Tile Viewer|-|Tile Joiner|-|Re-Download failed images",
      "&Help|User manual|Homepage|-|About..."};
  QStringList actual;
  for (QAction *top : w.form.menuBar()->actions()) {
    QStringList items{top->text()};
    for (QAction *item : top->menu()->actions())
      items << (item->isSeparator() ? QString("-") : item->text());
    actual << items.join('|');
  }
  QCOMPARE(actual, expected);
}

void MainWindowTest::formShowReadsPathAndVersion_data() {
  QTest::addColumn<QStringList>("settings"); // null: no settings file
  QTest::addColumn<QString>("path");
  QTest::addColumn<QString>("caption");
  const QString home = QString::fromStdString(DefaultDownloadFolder());
  // No file: both defaults.
  QTest::newRow("no settings file") << QStringList() << home << "Kestrane 6.2";
  QTest::newRow("version 7.0")
      << QStringList{"[IniParas]", "Version=7.0"} << home << "Kestrane 7.0";
  QTest::newRow("default path")
      << QStringList{"[IniParas]", "DefaultPath=/srv/tiles"} << "/srv/tiles"
      << "Kestrane 6.2";
  // Present but empty is not missing.
  QTest::newRow("empty default path")
      << QStringList{"[IniParas]", "DefaultPath="} << ""
      << "Kestrane 6.2";
}

void MainWindowTest::formShowReadsPathAndVersion() {
  QFETCH(QStringList, settings);
  QFETCH(QString, path);
  QFETCH(QString, caption);
  GuiRig rig;
  if (!settings.isEmpty()) {
    std::vector<std::string> lines;
    for (const QString &line : settings)
      lines.push_back(line.toStdString());
    WriteTextFile(rig.SettingsPath(), lines);
  }
  Window w(rig);
  w.form.show();
  QCOMPARE(w.Edit("Edit6")->text(), path);
  QCOMPARE(w.form.windowTitle(), caption);
  QCOMPARE(QString::fromStdString(w.form.DefaultPath()), path);
}

void MainWindowTest::upDownStaysWithinOneTo21() {
  GuiRig rig;
  Window w(rig);
  w.form.show();
  auto *updown = w.Get<UpDown>("UpDown1");
  auto *up = w.Get<QToolButton>("UpDown1Up");
  auto *down = w.Get<QToolButton>("UpDown1Down");
  QLineEdit *zoom = w.Edit("Edit5");
  QTest::mouseClick(up, Qt::LeftButton);
  QCOMPARE(zoom->text(), QString("14"));
  updown->SetValue(21);
  QTest::mouseClick(up, Qt::LeftButton); // no wrap to 1
  QCOMPARE(zoom->text(), QString("21"));
  updown->SetValue(1);
  QTest::mouseClick(down, Qt::LeftButton); // no wrap to 21
  QCOMPARE(zoom->text(), QString("1"));
  // The arrow keys in the field step it too.
  QTest::keyClick(zoom, Qt::Key_Up);
  QCOMPARE(zoom->text(), QString("2"));
  QTest::keyClick(zoom, Qt::Key_Down);
  QCOMPARE(zoom->text(), QString("1"));
}

void MainWindowTest::startRefusesInput_data() {
  QTest::addColumn<QStringList>("coords"); // left, right, top, bottom
  QTest::addColumn<QString>("path");       // "@" stands for the rig folder
  QTest::addColumn<int>("dir");
  QTest::addColumn<QString>("message");
  const QStringList ok{"116.25", "116.26", "39.9", "39.9"};
  QTest::newRow("empty path")
      << ok << "" << 0 << "Please select a path to save the images.";
  // The folder as typed, without the "/" Start appends later.
  QTest::newRow("folder without parent")
      << ok << "@none/out" << 0 << "Create directory @none/out Failed.";
  QTest::newRow("1,234,5 is no number")
      << QStringList{"1,234,5", "116.26", "39.9", "39.9"} << "@out" << 0
      << "Longitude or latitude input error!";
  QTest::newRow("empty coordinate")
      << QStringList{"116.25", "116.26", "", "39.9"} << "@out" << 0
      << "Longitude or latitude input error!";
  // Only the first failing check is reported.
  QTest::newRow("left -181, others wrong too")
      << QStringList{"-181", "181", "86", "-86"} << "@out" << 0
      << "Left Longitude should be between -180 and 180.";
  QTest::newRow("right 181")
      << QStringList{"1", "181", "39.9", "39.9"} << "@out" << 0
      << "Right Longitude should be between -180 and 180.";
  QTest::newRow("top 85.5")
      << QStringList{"1", "2", "85.5", "39.9"} << "@out" << 0
      << "Top Latitude should be between -85 and 85.";
  QTest::newRow("bottom -86")
      << QStringList{"1", "2", "39.9", "-86"} << "@out" << 0
      << "Bottom Latitude should be between -85 and 85.";
  QTest::newRow("left greater than right")
      << QStringList{"10", "5", "39.9", "39.9"} << "@out" << 0
      << "Left Longitude should less than Right Longitude!";
  QTest::newRow("top less than bottom")
      << QStringList{"1", "2", "5", "10"} << "@out" << 0
      << "Bottom Latitude should less than Top Latitude!";
  // A project file's Dir outside 0..3 leaves no direction selected.
  QTest::newRow("no direction selected")
      << ok << "@out" << -1 << "Please select a direction.";
}

void MainWindowTest::startRefusesInput() {
  QFETCH(QStringList, coords);
  QFETCH(QString, path);
  QFETCH(int, dir);
  QFETCH(QString, message);
  GuiRig rig;
  rig.WriteSettings();
  const QString folder = QString::fromStdString(rig.Dir());
  path.replace("@", folder);
  message.replace("@", folder);
  Window w(rig);
  w.form.show();
  w.Edit("Edit1")->setText(coords[0]);
  w.Edit("Edit3")->setText(coords[1]);
  w.Edit("Edit2")->setText(coords[2]);
  w.Edit("Edit4")->setText(coords[3]);
  w.Edit("Edit6")->setText(path);
  w.Get<QComboBox>("cbDirection")->setCurrentIndex(dir);
  w.ClickStart();
  QCOMPARE(w.messages.Texts.size(), size_t{1});
  QCOMPARE(QString::fromStdString(w.messages.Last()), message);
  QVERIFY(w.errors.Texts.empty());
  QCOMPARE(w.Button()->text(), QString("Start"));
  QVERIFY(!w.form.TimerActive());
  QCOMPARE(w.Memo1()->toPlainText(), QString("[log window]"));
}

void MainWindowTest::enterInAFieldPressesStart() {
  GuiRig rig;
  Window w(rig);
  w.form.show();
  w.Edit("Edit6")->clear();
  QTest::keyClick(w.Edit("Edit1"), Qt::Key_Return);
  QCOMPARE(w.messages.Texts, std::vector<std::string>{
                                 "Please select a path to save the images."});
}

void MainWindowTest::startStopStartContinues() {
  // Each answer waits a little, so the task still runs when Stop comes.
  GuiRig rig(200);
  rig.WriteSettings();
  Window w(rig);
  w.form.show();
  w.Fill(rig.Out());
  w.ClickStart();
  QVERIFY2(w.messages.Texts.empty(), w.messages.Last().c_str());
  QCOMPARE(w.Button()->text(), QString("Stop"));
  QVERIFY(w.form.TimerActive());
  QCOMPARE(w.Get<QLabel>("LabelTotalxy")->text(),
           QString("Total images: %1").arg(kTiles));
  // The pane now shows the log file that Start wrote.
  QVERIFY(w.Log().first().startsWith("Project: "));

  w.ClickStart(); // reads "Stop"
  QVERIFY(
      w.Log().contains("Thread1will be terminated by user. please wait..."));
  QVERIFY(
      w.Log().contains("Thread8will be terminated by user. please wait..."));
  QVERIFY(w.WaitEnded());
  QVERIFY(!w.form.TimerActive());
  const DownloadTask *task = w.form.Control().CurrentTask();
  QVERIFY(task != nullptr);
  const QStringList log = w.Log();
  const QStringList closing = log.mid(log.size() - 7);
  QCOMPARE(closing[0], QString());
  QCOMPARE(closing[1], QString(32, '-'));
  QCOMPARE(closing[2], QString("Task Stoped!"));
  QVERIFY(closing[4].startsWith("Now time:"));
  QCOMPARE(closing[6], "Log file has been saved as " +
                           QString::fromStdString(task->LogFilePath));
  QCOMPARE(w.messages.Texts, std::vector<std::string>{kTaskStoped});
  // The saved log is the pane, line for line.
  QStringList saved =
      QString::fromStdString(ReadTextFile(task->LogFilePath)).split("\r\n");
  QCOMPARE(saved.takeLast(), QString()); // after the last line's CR LF
  QCOMPARE(saved, log);

  // The same fields again: the task continues and completes.
  w.ClickStart();
  QCOMPARE(w.Button()->text(), QString("Stop"));
  QVERIFY(w.Log().contains("Log continue..."));
  QVERIFY(w.WaitEnded());
  QCOMPARE(w.messages.Texts.size(), size_t{2});
  QVERIFY(w.errors.Texts.empty());
  task = w.form.Control().CurrentTask();
  for (int32_t x = task->MinX; x <= task->MaxX; ++x)
    for (int32_t y = task->MinY; y <= task->MaxY; ++y)
      QVERIFY2(FileExists(task->TilePath(x, y)), task->TilePath(x, y).c_str());
  auto *bar = w.Get<QProgressBar>("ProgressBar1");
  QCOMPARE(bar->maximum(), kTiles);
  QCOMPARE(bar->value(), kTiles);
  QVERIFY(w.Progress().startsWith("12 of 12 tiles"));
}

void MainWindowTest::openTaskFillsFields_data() {
  QTest::addColumn<QStringList>("file");
  QTest::addColumn<QStringList>("fields"); // Edit1, Edit3, Edit2, Edit4
  QTest::addColumn<QString>("zoom");
  QTest::addColumn<int>("spinner");
  QTest::addColumn<int>("dir");
  QTest::newRow("dir 2 selects South")
      << QStringList{"[AREA]",
                     "LeftLongitude=1.5",
                     "RightLongitude=2.5",
                     "TopLatitude=4.5",
                     "BottomLatitude=3.5",
                     "[Zoom]",
                     "Zoom=17",
                     "[Dir]",
                     "Dir=2"}
      << QStringList{"1.5", "2.5", "4.5", "3.5"} << "17" << 17 << 2;
  // Not a project file: empty fields, zoom 0 (the spinner stops at 1).
  QTest::newRow("missing keys give the defaults")
      << QStringList{"[Other]", "Key=1"} << QStringList{"", "", "", ""} << "0"
      << 1 << 0;
  // Texts as stored: Start reads the commas itself.
  QTest::newRow("comma coordinates shown as stored")
      << QStringList{"[AREA]",
                     "LeftLongitude=116,25",
                     "RightLongitude=116,3",
                     "TopLatitude=39,9",
                     "BottomLatitude=39,8",
                     "[Zoom]",
                     "Zoom=18"}
      << QStringList{"116,25", "116,3", "39,9", "39,8"} << "18" << 18 << 0;
  QTest::newRow("zoom above 21 shown as stored")
      << QStringList{"[Zoom]", "Zoom=25"} << QStringList{"", "", "", ""} << "25"
      << 21 << 0;
  QTest::newRow("dir outside 0..3 selects nothing")
      << QStringList{"[Dir]", "Dir=7"} << QStringList{"", "", "", ""} << "0"
      << 1 << -1;
}

void MainWindowTest::openTaskFillsFields() {
  QFETCH(QStringList, file);
  QFETCH(QStringList, fields);
  QFETCH(QString, zoom);
  QFETCH(int, spinner);
  QFETCH(int, dir);
  GuiRig rig;
  std::vector<std::string> lines;
  for (const QString &line : file)
    lines.push_back(line.toStdString());
  const std::string project = rig.Dir() + "saved.area.ktsk";
  WriteTextFile(project, lines);
  Window w(rig);
  w.form.show();
  w.Get<QComboBox>("cbDirection")->setCurrentIndex(3);
  w.form.LoadTaskFile(project);
  QCOMPARE(w.Edit("Edit1")->text(), fields[0]);
  QCOMPARE(w.Edit("Edit3")->text(), fields[1]);
  QCOMPARE(w.Edit("Edit2")->text(), fields[2]);
  QCOMPARE(w.Edit("Edit4")->text(), fields[3]);
  QCOMPARE(w.Edit("Edit5")->text(), zoom);
  QCOMPARE(w.Get<UpDown>("UpDown1")->Value(), spinner);
  QCOMPARE(w.Get<QComboBox>("cbDirection")->currentIndex(), dir);
  QCOMPARE(w.Edit("Edit6")->text(), QString::fromStdString(rig.Dir()));
  QCOMPARE(w.Edit("EditTaskName")->text(), QString("saved.area.ktsk"));
  QVERIFY(w.messages.Texts.empty());
}

void MainWindowTest::openedTaskContinuesOnStart() {
  GuiRig rig;
  rig.WriteSettings();
  std::string project;
  {
    Window first(rig);
    first.form.show();
    first.Fill(rig.Out(), "harbour");
    first.ClickStart();
    QVERIFY(first.WaitEnded());
    project = rig.Out() + "harbour.ktsk";
  }
  QVERIFY(FileExists(project));
  const int requests = rig.Server().TotalRequests();

  Window w(rig);
  w.form.show();
  w.form.LoadTaskFile(project);
  QCOMPARE(w.Edit("EditTaskName")->text(), QString("harbour.ktsk"));
  QCOMPARE(w.Edit("Edit5")->text(), QString("18"));
  QCOMPARE(w.Edit("Edit6")->text(), QString::fromStdString(rig.Out()));
  w.ClickStart();
  QVERIFY(w.Log().contains("Log continue..."));
  QVERIFY(w.WaitEnded());
  // Every tile was done in the first run: nothing is fetched again.
  QCOMPARE(rig.Server().TotalRequests(), requests);
}

// One process per task: a second window (a task control of its own, as a
// second program would have) gets the message box and starts nothing.
void MainWindowTest::secondWindowCannotStartARunningTask() {
  GuiRig rig(200);
  rig.WriteSettings();
  Window first(rig);
  first.Fill(rig.Out());
  first.ClickStart();
  QCOMPARE(first.Button()->text(), QString("Stop"));
  Window second(rig);
  second.Fill(rig.Out());
  second.ClickStart();
  QCOMPARE(second.messages.Texts,
           std::vector<std::string>{"The task is running in another process: " +
                                    rig.Out() + "t.ktsk"});
  QCOMPARE(second.Button()->text(), QString("Start"));
  QVERIFY(!second.form.TimerActive());
  first.ClickStart(); // Stop
  QVERIFY(first.WaitEnded());
}

void MainWindowTest::setUpFailureShowsTheErrorBox() {
  GuiRig rig;
  rig.WriteSettings();
  Window w(rig);
  w.form.show();
  w.Fill(rig.Out());
  w.ClickStart();
  QVERIFY(w.WaitEnded());
  // A continued task does not write its failed-tile list again: loading
  // the deleted list fails, and the failure reaches the error box.
  const std::string failed = w.form.Control().CurrentTask()->FailedFilePath;
  std::filesystem::remove(failed);
  w.ClickStart();
  QCOMPARE(w.errors.Texts,
           std::vector<std::string>{"Cannot open file " + failed});
  QCOMPARE(w.Button()->text(), QString("Start"));
  QVERIFY(!w.form.TimerActive());
  QCOMPARE(w.form.Control().RunningThreads(), 0);
}

void MainWindowTest::viewLogFileMessages() {
  GuiRig rig;
  rig.WriteSettings();
  Window w(rig);
  w.form.show();
  auto *view = w.Get<QAction>("Viewlogfile1");
  view->trigger();
  QCOMPARE(w.messages.Texts, std::vector<std::string>{kNoTask});
  // A double click on the log pane does the same.
  QTest::mouseDClick(w.Memo1()->viewport(), Qt::LeftButton);
  QCOMPARE(w.messages.Texts.size(), size_t{2});
  QCOMPARE(w.messages.Last(), kNoTask);

  w.Fill(rig.Out());
  w.ClickStart();
  QVERIFY(w.WaitEnded());
  w.messages.Texts.clear();
  const std::string log = w.form.Control().CurrentTask()->LogFilePath;
  view->trigger();
  QVERIFY(w.messages.Texts.empty());
  QCOMPARE(w.opened.size(), size_t{1});
  QCOMPARE(w.opened[0], QUrl::fromLocalFile(QString::fromStdString(log)));

  std::filesystem::remove(log);
  view->trigger();
  QCOMPARE(w.messages.Texts, std::vector<std::string>{kNoLog});
  QCOMPARE(w.opened.size(), size_t{1});
}

void MainWindowTest::menuCommandsOpenTheirTargets_data() {
  QTest::addColumn<QString>("action");
  QTest::addColumn<QString>("program"); // started, or empty
  QTest::addColumn<QUrl>("url");        // opened, or empty
  const QString bundle = QString::fromLatin1(KESTRANE_BUNDLE_DIR);
  QTest::newRow("tile viewer")
      << "Tileviewer1" << bundle + "tileview" << QUrl();
  QTest::newRow("tile joiner")
      << "CombineImages1" << bundle + "tilejoin" << QUrl();
  QTest::newRow("user manual")
      << "Usermanual1" << QString()
      << QUrl::fromLocalFile(bundle + "help/help.html");
  QTest::newRow("home page")
      << "Homepage1" << QString() << QUrl(HomePageLink(KESTRANE_BUNDLE_DIR));
}

void MainWindowTest::menuCommandsOpenTheirTargets() {
  QFETCH(QString, action);
  QFETCH(QString, program);
  QFETCH(QUrl, url);
  GuiRig rig;
  Window w(rig);
  w.Get<QAction>(action.toLatin1().constData())->trigger();
  QCOMPARE(w.started, program.isEmpty() ? QStringList() : QStringList{program});
  QCOMPARE(w.opened,
           url.isEmpty() ? std::vector<QUrl>{} : std::vector<QUrl>{url});
  QVERIFY(w.messages.Texts.empty());
}

KESTRANE_GUI_TEST(MainWindowTest);

} // namespace kestrane::guitest

#include "MainWindowTest.moc"
