// Actions never fail silently: when nothing opens files or links (no
// xdg-open), the manual, the home page, the log file (menu and double
// click) and the about box's links say so in a message box that names the
// path.
#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <cstdlib>
#include <functional>

#include "tests/windows/GuiTestSupport.h"
#include "tests/windows/MainWindowDriver.h"
#include "tools/AboutBox.h"

namespace kestrane::guitest {

class MissingOpenerTest : public QObject {
  Q_OBJECT
private slots:
  void mainWindowSaysWhatItCouldNotOpen();
  void theDesktopsOpenerMissingIsTold();
  void aboutBoxLinks();
};

void MissingOpenerTest::mainWindowSaysWhatItCouldNotOpen() {
  GuiRig rig;
  rig.WriteSettings();
  MainWindowDriver w(rig);
  w.form.show();
  w.Fill(rig.Out());
  w.ClickStart();
  QVERIFY(w.WaitEnded());
  w.opener = false;
  w.messages.Texts.clear();
  const QString bundle = QString::fromLatin1(KESTRANE_BUNDLE_DIR);
  const QUrl log = QUrl::fromLocalFile(
      QString::fromStdString(w.form.Control().CurrentTask()->LogFilePath));
  const struct {
    const char *what;
    std::function<void()> act;
    QUrl target;
  } rows[] = {
      {"User manual", [&] { w.Get<QAction>("Usermanual1")->trigger(); },
       QUrl::fromLocalFile(bundle + "help/help.html")},
      {"Homepage", [&] { w.Get<QAction>("Homepage1")->trigger(); },
       QUrl(HomePageLink(KESTRANE_BUNDLE_DIR))},
      {"View log file", [&] { w.Get<QAction>("Viewlogfile1")->trigger(); },
       log},
      {"double click on the log",
       [&] { QTest::mouseDClick(w.Memo1()->viewport(), Qt::LeftButton); }, log},
  };
  for (const auto &row : rows) {
    w.messages.Texts.clear();
    w.opened.clear();
    row.act();
    QVERIFY2(w.opened == std::vector<QUrl>{row.target}, row.what);
    QVERIFY2(w.messages.Texts ==
                 std::vector<std::string>{CannotOpenText(row.target)},
             row.what);
    const std::string path = row.target.isLocalFile()
                                 ? row.target.toLocalFile().toStdString()
                                 : row.target.toString().toStdString();
    QVERIFY2(w.messages.Last().find(path) != std::string::npos, row.what);
  }
}

// The desktop's own opener, with no xdg-open to be found: the window says
// so instead of leaving a line on stderr.
void MissingOpenerTest::theDesktopsOpenerMissingIsTold() {
  GuiRig rig;
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", QByteArray::fromStdString(rig.Dir())); // no programs there
  RecordingSink messages;
  {
    MainWindow form(MainWindowDriver::Config(rig));
    form.SetMessageSink(&messages);
    form.findChild<QAction *>(QStringLiteral("Usermanual1"))->trigger();
  }
  qputenv("PATH", path);
  const QUrl manual = QUrl::fromLocalFile(
      QString::fromLatin1(KESTRANE_BUNDLE_DIR) + "help/help.html");
  QCOMPARE(messages.Texts, std::vector<std::string>{CannotOpenText(manual)});
}

void MissingOpenerTest::aboutBoxLinks() {
  RecordingSink messages;
  AboutBox about(QStringLiteral("https://home.test/"),
                 QStringLiteral("mailto:someone@home.test"));
  about.SetMessageSink(&messages);
  about.SetShellOpen([](const QUrl &) { return false; });
  about.LinkClicked(QStringLiteral("https://home.test/"));
  QCOMPARE(messages.Texts, std::vector<std::string>{
                               CannotOpenText(QUrl("https://home.test/"))});

  // Without a home page from the build, the manual stands in for it and
  // is shown as what it is; no contact link is shown.
  AboutBox local(HomePageLink(KESTRANE_BUNDLE_DIR), QString());
  QCOMPARE(local.findChild<QLabel *>("LabelHomePage")->text(),
           QStringLiteral("<a href=\"%1\">User manual</a>")
               .arg(HomePageLink(KESTRANE_BUNDLE_DIR)));
  local.show();
  QVERIFY(!local.findChild<QLabel *>("LabelContact")->isVisible());
}

KESTRANE_GUI_TEST(MissingOpenerTest);

} // namespace kestrane::guitest

#include "MissingOpenerTest.moc"
