// The options dialog against a settings file: what each showing reads, what
// OK writes, that Cancel writes nothing and that a refused write keeps the
// dialog open; the tile service's hosts set in the dialog; a new default
// folder that the main window takes at once.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "mainwindow/MainWindow.h"
#include "task/Settings.h"
#include "tests/windows/GuiTestSupport.h"
#include "tools/OptionsDialog.h"

namespace kestrane::guitest {

namespace {

struct Dialog {
  explicit Dialog(const std::string &settingsPath) : form(settingsPath) {
    form.SetErrorSink(&errors);
  }
  QLineEdit *Edit(const char *name) {
    return form.findChild<QLineEdit *>(QString::fromLatin1(name));
  }
  QCheckBox *Box() {
    return form.findChild<QCheckBox *>(QStringLiteral("CheckBoxUseProxy"));
  }
  // A click on the box's indicator toggles it.
  void ClickBox() {
    QTest::mouseClick(Box(), Qt::LeftButton, {},
                      QPoint(6, Box()->height() / 2));
  }
  QPushButton *Button(const char *name) {
    return form.findChild<QPushButton *>(QString::fromLatin1(name));
  }
  // The five fields after the path, in the dialog's order.
  QStringList Fields() {
    return {Edit("Edit12")->text(),
            Box()->isChecked() ? "ticked" : "clear",
            Edit("EditProxyServer")->text(),
            Edit("EditProxyPort")->text(),
            Edit("EditProxyUsername")->text(),
            Edit("EditProxyPassword")->text()};
  }

  RecordingSink errors;
  OptionsDialog form;
};

std::vector<std::string> Lines(const QStringList &list) {
  std::vector<std::string> lines;
  for (const QString &line : list)
    lines.push_back(line.toStdString());
  return lines;
}

} // namespace

class OptionsTest : public QObject {
  Q_OBJECT
private slots:
  void captionsAndControls();
  void showingReadsTheFile_data();
  void showingReadsTheFile();
  void okCreatesTheFileInOrder();
  void okWritesZeroForAnyOtherUseProxy();
  void cancelWritesNothingAndTheNextShowingRereads();
  void refusedWriteKeepsTheDialogOpen();
  void tileHostsAreSetInTheDialog();
  void newDefaultFolderTakesEffectAtOnce();
};

void OptionsTest::captionsAndControls() {
  GuiRig rig;
  Dialog d(rig.SettingsPath());
  QCOMPARE(d.form.windowTitle(), QString("Options"));
  QStringList labels;
  for (const QLabel *label : d.form.findChildren<QLabel *>())
    labels << label->text();
  for (const char *caption :
       {"Default path to save :", "Proxy Server Name (IP)", "Proxy Port",
        "Proxy Username", "Proxy Password"})
    QVERIFY2(labels.contains(QString::fromLatin1(caption)), caption);
  QCOMPARE(d.Box()->text(), QString("Use proxy server"));
  QCOMPARE(d.Button("Button3")->text(), QString("..."));
  QCOMPARE(d.Button("Button1")->text(), QString("OK"));
  QVERIFY(d.Button("Button1")->isDefault());
  QCOMPARE(d.Button("Button2")->text(), QString("Cancel"));
  // The password is stored in the clear and shown so.
  QCOMPARE(d.Edit("EditProxyPassword")->echoMode(), QLineEdit::Normal);
  d.form.show();
  // Fixed size: the layout does not let it grow or shrink.
  QCOMPARE(d.form.minimumSize(), d.form.maximumSize());
}

void OptionsTest::showingReadsTheFile_data() {
  QTest::addColumn<QStringList>("file"); // empty: no settings file
  QTest::addColumn<QStringList>("fields");
  const QString home = QString::fromStdString(DefaultDownloadFolder());
  QTest::newRow("no file: defaults")
      << QStringList() << QStringList{home, "clear", "", "", "", ""};
  QTest::newRow("all keys") << QStringList{"[IniParas]",
                                           "DefaultPath=/srv/tiles",
                                           "[Proxy]",
                                           "UseProxy=1",
                                           "ProxyServer=10.0.0.1",
                                           "ProxyPort=3128",
                                           "ProxyUsername=ann",
                                           "ProxyPassword=s3cret"}
                            << QStringList{"/srv/tiles", "ticked", "10.0.0.1",
                                           "3128",       "ann",    "s3cret"};
  // Only exactly 1 ticks the box.
  QTest::newRow("UseProxy 2 is no proxy")
      << QStringList{"[Proxy]", "UseProxy=2"}
      << QStringList{home, "clear", "", "", "", ""};
  QTest::newRow("UseProxy not a number")
      << QStringList{"[Proxy]", "UseProxy=yes"}
      << QStringList{home, "clear", "", "", "", ""};
  // Present and empty is not missing.
  QTest::newRow("empty DefaultPath")
      << QStringList{"[IniParas]", "DefaultPath="}
      << QStringList{"", "clear", "", "", "", ""};
}

void OptionsTest::showingReadsTheFile() {
  QFETCH(QStringList, file);
  QFETCH(QStringList, fields);
  GuiRig rig;
  if (!file.isEmpty())
    WriteTextFile(rig.SettingsPath(), Lines(file));
  Dialog d(rig.SettingsPath());
  d.form.show();
  QCOMPARE(d.Fields(), fields);
  QVERIFY(d.errors.Texts.empty());
}

void OptionsTest::okCreatesTheFileInOrder() {
  GuiRig rig;
  Dialog d(rig.SettingsPath());
  d.form.show();
  d.Edit("Edit12")->setText("/data/out");
  d.Edit("EditProxyPort")->setText("not a port"); // stored as typed
  QTest::mouseClick(d.Button("Button1"), Qt::LeftButton);
  QVERIFY(!d.form.isVisible());
  QCOMPARE(d.form.result(), int(QDialog::Accepted));
  QCOMPARE(ReadTextFile(rig.SettingsPath()),
           std::string("[IniParas]\r\nDefaultPath=/data/out\r\n[Proxy]\r\n"
                       "UseProxy=0\r\nProxyServer=\r\nProxyPort=not a port\r\n"
                       "ProxyUsername=\r\nProxyPassword=\r\n"));
}

void OptionsTest::okWritesZeroForAnyOtherUseProxy() {
  GuiRig rig;
  WriteTextFile(rig.SettingsPath(),
                {"[Proxy]", "UseProxy=2", "[TileService]", "Host0=h:1"});
  Dialog d(rig.SettingsPath());
  d.form.show();
  QTest::mouseClick(d.Button("Button1"), Qt::LeftButton);
  const Settings s = ReadSettings(rig.SettingsPath());
  const std::string text = ReadTextFile(rig.SettingsPath());
  QVERIFY(text.find("UseProxy=0\r\n") != std::string::npos);
  QVERIFY(!s.Proxy.UseProxy);
  // Keys the dialog does not know survive.
  QVERIFY(text.find("Host0=h:1\r\n") != std::string::npos);

  // Ticking the box writes 1.
  d.form.show();
  d.ClickBox();
  QTest::mouseClick(d.Button("Button1"), Qt::LeftButton);
  QVERIFY(ReadSettings(rig.SettingsPath()).Proxy.UseProxy);
}

void OptionsTest::cancelWritesNothingAndTheNextShowingRereads() {
  GuiRig rig;
  WriteTextFile(rig.SettingsPath(),
                {"[IniParas]", "DefaultPath=/keep", "[Proxy]", "UseProxy=1"});
  const std::string before = ReadTextFile(rig.SettingsPath());
  const auto stamp = std::filesystem::last_write_time(rig.SettingsPath());
  Dialog d(rig.SettingsPath());
  d.form.show();
  d.Edit("Edit12")->setText("/changed");
  d.ClickBox();
  d.Edit("EditProxyServer")->setText("proxy.example");
  QTest::mouseClick(d.Button("Button2"), Qt::LeftButton);
  QVERIFY(!d.form.isVisible());
  QCOMPARE(d.form.result(), int(QDialog::Rejected));
  QCOMPARE(ReadTextFile(rig.SettingsPath()), before);
  QCOMPARE(std::filesystem::last_write_time(rig.SettingsPath()), stamp);
  d.form.show();
  QCOMPARE(d.Fields(), (QStringList{"/keep", "ticked", "", "", "", ""}));
}

void OptionsTest::refusedWriteKeepsTheDialogOpen() {
  GuiRig rig;
  // No ini folder: the program never creates it, so the write is refused.
  const std::string path = rig.Dir() + "missing/config.ini";
  const std::string message = "Unable to write to " + path;
  Dialog d(path);
  d.form.show();
  QTest::mouseClick(d.Button("Button1"), Qt::LeftButton);
  QCOMPARE(d.errors.Texts, std::vector<std::string>{message});
  QVERIFY(d.form.isVisible());
  // The handler itself raises it (the standard error box shows it).
  try {
    d.form.OkClicked();
    QFAIL("no error raised");
  } catch (const KError &e) {
    QCOMPARE(std::string(e.what()), message);
  }
  QVERIFY(d.form.isVisible());
  QVERIFY(!PathExists(path));
}

// A first run needs no file editing: the four hosts show (the defaults
// when the file names none) and OK writes the ones changed.
void OptionsTest::tileHostsAreSetInTheDialog() {
  GuiRig rig;
  Dialog d(rig.SettingsPath());
  d.form.show();
  const TileHosts defaults = DefaultTileHosts();
  for (size_t i = 0; i < 4; ++i)
    QCOMPARE(d.Edit(("EditHost" + std::to_string(i)).c_str())->text(),
             QString::fromStdString(defaults[i]));
  d.Edit("EditHost0")->setText(" 127.0.0.1:8080 ");
  d.Edit("EditHost2")->setText("127.0.0.3:8080");
  QTest::mouseClick(d.Button("Button1"), Qt::LeftButton);
  const TileHosts hosts = ReadSettings(rig.SettingsPath()).Hosts;
  QCOMPARE(hosts[0], std::string("127.0.0.1:8080"));
  QCOMPARE(hosts[1], defaults[1]);
  QCOMPARE(hosts[2], std::string("127.0.0.3:8080"));
  const std::string text = ReadTextFile(rig.SettingsPath());
  QVERIFY(text.find("Host1=") == std::string::npos); // a default is not written
  d.form.show();
  QCOMPARE(d.Edit("EditHost0")->text(), QString("127.0.0.1:8080"));
}

// OK with a new default folder: the main window's path field, still on the
// old default, follows at once; a path the user typed stays.
void OptionsTest::newDefaultFolderTakesEffectAtOnce() {
  for (const bool typed : {false, true}) {
    GuiRig rig;
    WriteTextFile(rig.SettingsPath(), {"[IniParas]", "DefaultPath=/old"});
    MainWindowConfig config;
    config.ProgramFolder = KESTRANE_BUNDLE_DIR;
    config.SettingsPath = rig.SettingsPath();
    MainWindow main(config);
    OptionsDialog options(rig.SettingsPath(), &main);
    ToolWindows tools;
    tools.Options = &options;
    main.SetToolWindows(tools);
    main.show();
    auto *path = main.findChild<QLineEdit *>(QStringLiteral("Edit6"));
    QCOMPARE(path->text(), QString("/old"));
    if (typed)
      path->setText("/mine");
    QTimer::singleShot(0, &options, [&] {
      options.findChild<QLineEdit *>(QStringLiteral("Edit12"))->setText("/new");
      options.findChild<QPushButton *>(QStringLiteral("Button1"))->click();
    });
    main.OptionsChosen();
    QCOMPARE(main.DefaultPath(), std::string("/new"));
    QCOMPARE(path->text(), typed ? QString("/mine") : QString("/new"));
  }
}

KESTRANE_GUI_TEST(OptionsTest);

} // namespace kestrane::guitest

#include "OptionsTest.moc"
