// The side windows: the converter through its fields, a re-download run
// against the loopback server, how the main window's menus show them, and
// the Re-Download window's size and place.
#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <cstdlib>

#include "mainwindow/MainWindow.h"
#include "tests/windows/GuiTestSupport.h"
#include "tools/AboutBox.h"
#include "tools/ConverterWindow.h"
#include "tools/OptionsDialog.h"
#include "tools/RedownloadWindow.h"

namespace kestrane::guitest {

class ToolWindowsTest : public QObject {
  Q_OBJECT
private slots:
  void converterCaptionAndTable_data();
  void converterCaptionAndTable();
  void converterUsesTheDecimalSeparator();
  void redownloadReportsEachRecord();
  void redownloadStopButtonEndsTheRun();
  void redownloadMissingListShowsTheError();
  void menusShowTheWindows_data();
  void menusShowTheWindows();
  void aboutOpensItsLinks();
  void redownloadWindowIsCentredAndWide();
};

namespace {

struct Converter {
  Converter(char separator = '.') : form(separator) {
    form.SetMessageSink(&messages);
    form.show();
  }
  QLineEdit *Edit(const char *name) {
    return form.findChild<QLineEdit *>(QString::fromLatin1(name));
  }
  RecordingSink messages;
  ConverterWindow form;
};

} // namespace

void ToolWindowsTest::converterCaptionAndTable_data() {
  QTest::addColumn<QString>("degrees");
  QTest::addColumn<QString>("minutes");
  QTest::addColumn<QString>("seconds");
  QTest::addColumn<QString>("result"); // empty: "Input Error."
  QTest::newRow("12 30 0") << "12"
                           << "30"
                           << "0"
                           << "12.5";
  // Single precision shows in the later digits.
  QTest::newRow("12 30 30") << "12"
                            << "30"
                            << "30"
                            << "12.5083332061768";
  // Each part keeps its own sign.
  QTest::newRow("-12 30 0") << "-12"
                            << "30"
                            << "0"
                            << "-11.5";
  QTest::newRow("-12 -30 0") << "-12"
                             << "-30"
                             << "0"
                             << "-12.5";
  QTest::newRow("minutes past 59") << "0"
                                   << "90"
                                   << "0"
                                   << "1.5";
  QTest::newRow("one second") << "0"
                              << "0"
                              << "1"
                              << "0.000277777784503996";
  // The seconds never fail: nothing or no number counts as 0.
  QTest::newRow("empty seconds") << "45"
                                 << "0"
                                 << ""
                                 << "45";
  QTest::newRow("seconds abc") << "45"
                               << "0"
                               << "abc"
                               << "45";
  QTest::newRow("seconds stop at a comma") << "12"
                                           << "30"
                                           << "30,5"
                                           << "12.5083332061768";
  QTest::newRow("decimal degrees refused") << "12.5"
                                           << "0"
                                           << "0"
                                           << "";
  QTest::newRow("empty degrees refused") << ""
                                         << "0"
                                         << "0"
                                         << "";
  QTest::newRow("minutes with a blank after refused") << "1"
                                                      << "2 "
                                                      << "0"
                                                      << "";
}

void ToolWindowsTest::converterCaptionAndTable() {
  QFETCH(QString, degrees);
  QFETCH(QString, minutes);
  QFETCH(QString, seconds);
  QFETCH(QString, result);
  Converter c;
  QCOMPARE(c.form.windowTitle(),
           QString("Convert \"Degrees,Minutes,Seconds\" to \"Degrees\""));
  // Above its main window as a tool window, never above every window (it
  // would hide the program's message boxes and dialogs).
  QCOMPARE(c.form.windowType(), Qt::Tool);
  QVERIFY(!(c.form.windowFlags() & Qt::WindowStaysOnTopHint));
  QVERIFY(c.Edit("Edit4")->isReadOnly());
  c.Edit("Edit4")->setText("before");
  c.Edit("Edit1")->setText(degrees);
  c.Edit("Edit2")->setText(minutes);
  c.Edit("Edit3")->setText(seconds);
  auto *button = c.form.findChild<QPushButton *>("Button1");
  QCOMPARE(button->text(), QString("convert"));
  QTest::mouseClick(button, Qt::LeftButton);
  if (result.isEmpty()) {
    QCOMPARE(c.messages.Texts, std::vector<std::string>{"Input Error."});
    QCOMPARE(c.Edit("Edit4")->text(), QString("before")); // unchanged
  } else {
    QVERIFY(c.messages.Texts.empty());
    QCOMPARE(c.Edit("Edit4")->text(), result);
  }
}

void ToolWindowsTest::converterUsesTheDecimalSeparator() {
  Converter c(',');
  c.Edit("Edit1")->setText("12");
  c.Edit("Edit2")->setText("30");
  c.Edit("Edit3")->setText("0");
  // Enter presses the default button.
  QTest::keyClick(c.Edit("Edit3"), Qt::Key_Return);
  QCOMPARE(c.Edit("Edit4")->text(), QString("12,5"));
}

namespace {

struct Redownload {
  Redownload() {
    form.SetErrorSink(&errors);
    RedownloadOptions options;
    options.ConnectTimeout = std::chrono::milliseconds(5000);
    options.NoDataTimeout = std::chrono::milliseconds(5000);
    form.SetRunOptions(options);
    form.show();
  }
  QPushButton *Button() { return form.findChild<QPushButton *>("Button1"); }
  QStringList Lines() {
    return PaneLines(form.findChild<QPlainTextEdit *>("Memo1"));
  }
  bool WaitDone() {
    return QTest::qWaitFor([this] { return !form.Running(); }, 60000);
  }
  RecordingSink errors;
  RedownloadWindow form;
};

} // namespace

void ToolWindowsTest::redownloadReportsEachRecord() {
  const std::string jpeg = test::WorkerJpeg();
  GuiRig rig([jpeg](const HttpRequest &request, int) {
    if (request.Target.rfind("/missing", 0) == 0)
      return test::WorkerStatus(404, "Not Found");
    return test::WorkerOk(jpeg);
  });
  const std::string base = rig.Server().Server().BaseUrl();
  const std::string missing = base + "/missing?g=5340";
  const std::string good = base + "/tiles/svi0?g=5340";
  const std::string list = rig.Dir() + "t_failed.ftl";
  // The middle record names a file outside the list's folder: refused.
  const std::string outside = "/etc/ks_9_9_18.jpg";
  WriteTextFile(list,
                {rig.Dir() + "ks_1_1_18.jpg|" + missing, outside + "|" + good,
                 rig.Dir() + "ks_2_1_18.jpg|" + good});
  Redownload r;
  QCOMPARE(r.form.windowTitle(), QString("Re-Download failed files"));
  QCOMPARE(r.Button()->text(), QString("Open *.ftl file and download..."));
  r.form.StartRun(list);
  QCOMPARE(r.Button()->text(), QString("Stop"));
  QVERIFY(r.WaitDone()); // every line is in: they were queued before the end
  const QStringList expected{
      "Start...",
      QString::fromStdString("404 Not Found->" + missing),
      QString::fromStdString(missing +
                             ":Error: the image is not found on server."),
      QString::fromStdString(outside +
                             ":refused, not a tile file of this list's folder"),
      QString::fromStdString(rig.Dir() + "ks_2_1_18.jpg:" + good + " ->OK"),
      "Download End."};
  QCOMPARE(r.Lines(), expected);
  QCOMPARE(r.Button()->text(), QString("Open *.ftl file and download..."));
  QCOMPARE(ReadTextFile(rig.Dir() + "ks_2_1_18.jpg"), jpeg);
  QVERIFY(!PathExists(rig.Dir() + "ks_1_1_18.jpg"));
  QCOMPARE(rig.Server().TotalRequests(), 2);
  QVERIFY(r.errors.Texts.empty());

  // The next showing starts with an empty report.
  r.form.hide();
  r.form.show();
  QCOMPARE(r.Lines(), QStringList{QString()});
}

void ToolWindowsTest::redownloadStopButtonEndsTheRun() {
  const std::string jpeg = test::WorkerJpeg();
  GuiRig rig([jpeg](const HttpRequest &, int) {
    HttpResponse answer = test::WorkerOk(jpeg);
    answer.DelayMs = 100;
    return answer;
  });
  const std::string base = rig.Server().Server().BaseUrl();
  std::vector<std::string> records;
  for (int i = 0; i < 50; ++i)
    records.push_back(rig.Dir() + "ks_" + std::to_string(i) + "_1_18.jpg|" +
                      base + "/tiles/svi" + std::to_string(i));
  const std::string list = rig.Dir() + "long.ftl";
  WriteTextFile(list, records);
  Redownload r;
  QSignalSpy finished(&r.form, &RedownloadWindow::RunFinished);
  r.form.StartRun(list);
  QVERIFY(QTest::qWaitFor([&] { return r.Lines().size() >= 3; }, 30000));
  // The window stays responsive: its button stops the run.
  QTest::mouseClick(r.Button(), Qt::LeftButton);
  QVERIFY(r.WaitDone());
  QCOMPARE(finished.count(), 1);
  const QStringList lines = r.Lines();
  QCOMPARE(lines.last(), QString("Download End."));
  QVERIFY2(lines.size() < 50, qPrintable(QString::number(lines.size())));
  QVERIFY(rig.Server().TotalRequests() < 50);
  QVERIFY(r.Button()->isEnabled());
}

void ToolWindowsTest::redownloadMissingListShowsTheError() {
  GuiRig rig;
  const std::string list = rig.Dir() + "nothing.ftl";
  Redownload r;
  QSignalSpy finished(&r.form, &RedownloadWindow::RunFinished);
  r.form.StartRun(list);
  QVERIFY(finished.wait(10000));
  QCOMPARE(r.errors.Texts,
           std::vector<std::string>{"Cannot open file " + list});
  QCOMPARE(r.Lines(), QStringList{QString()});
  QCOMPARE(rig.Server().TotalRequests(), 0);
}

void ToolWindowsTest::menusShowTheWindows_data() {
  QTest::addColumn<QString>("action");
  QTest::addColumn<QString>("window");
  QTest::addColumn<bool>("modal");
  QTest::newRow("options") << "Options2"
                           << "frmOptions" << true;
  QTest::newRow("re-download") << "ReDownloadfailedfiles1"
                               << "frmFlt" << true;
  QTest::newRow("about") << "About1"
                         << "frmAbout" << true;
  // The converter stays open beside the main window.
  QTest::newRow("converter") << "ConvertLongitudeorLatitudetodegreen1"
                             << "frmConvert" << false;
}

void ToolWindowsTest::menusShowTheWindows() {
  QFETCH(QString, action);
  QFETCH(QString, window);
  QFETCH(bool, modal);
  GuiRig rig;
  MainWindowConfig config;
  config.ProgramFolder = KESTRANE_BUNDLE_DIR;
  config.SettingsPath = rig.SettingsPath();
  MainWindow form1(config);
  AboutBox about("https://h.example/", "mailto:m@h.example", &form1);
  ConverterWindow convert('.', &form1);
  OptionsDialog options(rig.SettingsPath(), &form1);
  RedownloadWindow flt(&form1);
  form1.SetToolWindows({&about, &convert, &options, &flt});
  form1.show();

  QString shownModal;
  // A modal window runs its own loop: look at it from there, then close it.
  QTimer::singleShot(0, [&] {
    if (QWidget *w = QApplication::activeModalWidget()) {
      shownModal = w->objectName();
      w->close();
    }
  });
  form1.findChild<QAction *>(action)->trigger();
  if (modal) {
    QCOMPARE(shownModal, window);
  } else {
    QCoreApplication::processEvents();
    QVERIFY(shownModal.isEmpty());
    QWidget *w = form1.findChild<QWidget *>(window);
    QVERIFY(w->isVisible());
    QVERIFY(!w->isModal());
  }
}

void ToolWindowsTest::aboutOpensItsLinks() {
  AboutBox about("https://h.example/", "mailto:m@h.example");
  std::vector<QUrl> opened;
  about.SetShellOpen([&](const QUrl &url) { opened.push_back(url); });
  about.SetVersion("7.0");
  QStringList texts;
  for (const QLabel *label : about.findChildren<QLabel *>())
    texts << label->text();
  QVERIFY(texts.contains("Kestrane"));
  QVERIFY(texts.contains("Version 7.0"));
  QCOMPARE(about.findChild<QPushButton *>("OKButton")->text(), QString("&OK"));
  for (QLabel *label : about.findChildren<QLabel *>())
    if (label->text().contains("href"))
      emit label->linkActivated(label->text().section('"', 1, 1));
  QCOMPARE(opened, (std::vector<QUrl>{QUrl("https://h.example/"),
                                      QUrl("mailto:m@h.example")}));
}

void ToolWindowsTest::redownloadWindowIsCentredAndWide() {
  RedownloadWindow flt;
  flt.show();
  QVERIFY(QTest::qWaitForWindowExposed(&flt));
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  const QPoint off = flt.frameGeometry().center() - screen.center();
  QVERIFY2(std::abs(off.x()) <= 2 && std::abs(off.y()) <= 2,
           qPrintable(QString("%1,%2").arg(off.x()).arg(off.y())));
  // A record of a tile in the default download folder shows whole.
  auto *memo = flt.findChild<QPlainTextEdit *>(QStringLiteral("Memo1"));
  const QString line = QStringLiteral(
      "/home/username/Downloads/newtask/ks_431446_325612_19.jpg:http://"
      "ecn.t0.tiles.virtualearth.net/tiles/"
      "svi0231131232103300201?g=5340&dir=dir_n ->OK");
  memo->setPlainText(line);
  // (On a screen too narrow for it the window takes the screen's width.)
  const bool fits =
      memo->fontMetrics().horizontalAdvance(line) < memo->viewport()->width();
  QVERIFY2(fits || flt.frameGeometry().width() >= screen.width(),
           qPrintable(QString("%1 %2")
                          .arg(memo->fontMetrics().horizontalAdvance(line))
                          .arg(memo->viewport()->width())));
}

KESTRANE_GUI_TEST(ToolWindowsTest);

} // namespace kestrane::guitest

#include "ToolWindowsTest.moc"
