// The desktop program: the main window and its side windows.
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QIcon>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "mainwindow/MainWindow.h"
#include "mainwindow/Showcase.h"
#include "platform/Files.h"
#include "platform/NumberFormat.h"
#include "platform/Version.h"
#include "task/Settings.h"
#include "tools/AboutBox.h"
#include "tools/ConverterWindow.h"
#include "tools/OptionsDialog.h"
#include "tools/RedownloadWindow.h"
#include "worker/TileHttp.h"

namespace {

// A failure that escapes an event handler is shown in the standard error box
// and the program goes on.
class KestraneApplication : public QApplication {
public:
  using QApplication::QApplication;
  bool notify(QObject *receiver, QEvent *event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
      QMessageBox::critical(activeWindow(), applicationDisplayName(),
                            QString::fromStdString(e.what()));
    }
    return false;
  }
};

// Message boxes of the screenshot run go to stderr: a box would stop it.
class StderrSink : public kestrane::MessageSink {
public:
  void ShowMessage(const std::string &text) override {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
};

void Wait(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

bool Save(QWidget *widget, const QString &folder, const QString &name) {
  Wait(200);
  const QString file = QDir(folder).filePath(name);
  const bool ok = widget->grab().save(file);
  std::fprintf(stderr, "%s %s\n", ok ? "saved" : "could not save",
               file.toLocal8Bit().constData());
  return ok;
}

// Shows every window in turn and saves it as a PNG in `folder`: a check of
// captions and layout. With a project file the main window then starts
// that task and is saved again after `seconds` of downloading.
int Screenshots(kestrane::MainWindow &mainWindow,
                const kestrane::ToolWindows &tools, const QString &folder,
                const QString &task, int seconds) {
  QDir().mkpath(folder);
  bool ok = true;
  mainWindow.show();
  ok &= Save(&mainWindow, folder, QStringLiteral("main.png"));
  int n = 0;
  for (QMenu *menu : mainWindow.menuBar()->findChildren<QMenu *>()) {
    if (menu->title().isEmpty())
      continue; // the menu bar's own overflow menu
    menu->popup(mainWindow.mapToGlobal(QPoint(20 + 60 * n, 20)));
    ok &= Save(menu, folder,
               QStringLiteral("menu-%1.png")
                   .arg(menu->title().remove(QLatin1Char('&')).toLower()));
    menu->hide();
    ++n;
  }
  const std::pair<QWidget *, const char *> windows[] = {
      {tools.Options, "options.png"},
      {tools.Converter, "convert.png"},
      {tools.Redownload, "redownload.png"},
      {tools.About, "about.png"}};
  for (const auto &[window, name] : windows) {
    window->show();
    ok &= Save(window, folder, QString::fromLatin1(name));
    window->hide();
  }
  if (!task.isEmpty()) {
    mainWindow.LoadTaskFile(task.toStdString());
    mainWindow.StartStopClicked();
    Wait(seconds * 1000);
    ok &= Save(&mainWindow, folder, QStringLiteral("main-download.png"));
    // Leaves as closing the window during a task does.
    mainWindow.SetAbandonExit([ok] {
      std::fflush(nullptr);
      std::_Exit(ok ? 0 : 1);
    });
    mainWindow.close();
  }
  return ok ? 0 : 1;
}

// The options dialog's round trip, for the package test: types `folder` as
// the default path, presses OK, shows the dialog again (which reads the
// file back) and prints where the settings went. Exit 0 when the folder
// came back.
int OptionsRoundTrip(kestrane::OptionsDialog &options, const QString &folder) {
  StderrSink errors; // a refused write is printed, not shown in a box
  options.SetErrorSink(&errors);
  options.show();
  auto *path = options.findChild<QLineEdit *>(QStringLiteral("Edit12"));
  auto *ok = options.findChild<QPushButton *>(QStringLiteral("Button1"));
  if (path == nullptr || ok == nullptr)
    return 1;
  path->setText(folder);
  ok->click();
  const bool closed = !options.isVisible(); // a refused write keeps it open
  options.show();                           // reads the file again
  const QString back = path->text();
  options.hide();
  std::printf("settings file: %s\ndefault path: %s\n",
              options.SettingsFile().c_str(), back.toLocal8Bit().constData());
  return closed && back == folder ? 0 : 1;
}

// Hidden options: --screenshot DIR [--task FILE.ktsk] [--seconds N];
// --options-round-trip FOLDER; --showcase STATE [--ftl FILE.ftl].
struct HiddenOptions {
  QString ShotFolder, ShotTask, RoundTripFolder, Showcase, ShowcaseFtl;
  int ShotSeconds = 8;
};

HiddenOptions ReadHiddenOptions(const QStringList &args) {
  HiddenOptions o;
  for (int i = 1; i + 1 < args.size(); ++i) {
    if (args[i] == QLatin1String("--screenshot"))
      o.ShotFolder = args[++i];
    else if (args[i] == QLatin1String("--task"))
      o.ShotTask = args[++i];
    else if (args[i] == QLatin1String("--seconds"))
      o.ShotSeconds = args[++i].toInt();
    else if (args[i] == QLatin1String("--options-round-trip"))
      o.RoundTripFolder = args[++i];
    else if (args[i] == QLatin1String("--showcase"))
      o.Showcase = args[++i];
    else if (args[i] == QLatin1String("--ftl"))
      o.ShowcaseFtl = args[++i];
  }
  return o;
}

// The main window as the program shows it, or one of the hidden modes.
int RunWindows(QApplication &app, kestrane::MainWindow &mainWindow,
               const kestrane::ToolWindows &tools, const HiddenOptions &o) {
  if (!o.RoundTripFolder.isEmpty())
    return OptionsRoundTrip(*tools.Options, o.RoundTripFolder);
  if (!o.Showcase.isEmpty()) {
    if (!kestrane::StartShowcase(mainWindow, tools, o.Showcase, o.ShowcaseFtl))
      return 2;
    return app.exec();
  }
  if (!o.ShotFolder.isEmpty()) {
    StderrSink sink;
    mainWindow.SetMessageSink(&sink);
    return Screenshots(mainWindow, tools, o.ShotFolder, o.ShotTask,
                       o.ShotSeconds);
  }
  mainWindow.show();
  return app.exec();
}

} // namespace

int main(int argc, char **argv) {
  // Answered before any window system is needed.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("kestrane %s\n", kestrane::kVersion);
      return 0;
    }
  }
  std::setlocale(LC_ALL, "");
  try {
    kestrane::HttpGlobalInit(); // before any thread of ours
  } catch (const std::exception &e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  KestraneApplication app(argc, argv);
  kestrane::NameApplication();
  // Qt sets the C locale from the environment again; the number format the
  // program passes around is read after it.
  const char separator = kestrane::UserDecimalSeparator();

  const HiddenOptions hidden = ReadHiddenOptions(app.arguments());
  try {
    const std::string folder = kestrane::ProgramFolder();
    app.setWindowIcon(QIcon(QString::fromStdString(folder + "kestrane.png")));

    kestrane::MainWindowConfig config;
    config.ProgramFolder = folder;
    config.DecimalSeparator = separator;
    kestrane::MainWindow mainWindow(config);
    kestrane::AboutBox about(QString::fromLatin1(kestrane::kHomePageLink),
                             QString::fromLatin1(kestrane::kContactLink),
                             &mainWindow);
    kestrane::ConverterWindow converter(separator, &mainWindow);
    kestrane::OptionsDialog options(kestrane::SettingsPath(folder),
                                    &mainWindow);
    kestrane::RedownloadWindow redownload(&mainWindow);
    const kestrane::ToolWindows tools{&about, &converter, &options,
                                      &redownload};
    mainWindow.SetToolWindows(tools);

    return RunWindows(app, mainWindow, tools, hidden);
  } catch (const std::exception &e) {
    QMessageBox::critical(nullptr, app.applicationDisplayName(),
                          QString::fromStdString(e.what()));
    return 1;
  }
}
