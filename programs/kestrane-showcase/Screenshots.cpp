#include "Screenshots.h"

#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "tools/AboutBox.h"
#include "tools/ConverterWindow.h"
#include "tools/OptionsDialog.h"
#include "tools/RedownloadWindow.h"

namespace kestrane {

namespace {

// Message boxes of these drives go to stderr: a box would stop them.
class StderrSink : public MessageSink {
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

bool SaveMenus(MainWindow &mainWindow, const QString &folder) {
  bool ok = true;
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
  return ok;
}

} // namespace

int SaveScreenshots(MainWindow &mainWindow, const ToolWindows &tools,
                    const QString &folder, const QString &task, int seconds) {
  static StderrSink sink; // outlives the window, which reports to it
  mainWindow.SetMessageSink(&sink);
  QDir().mkpath(folder);
  bool ok = true;
  mainWindow.show();
  ok &= Save(&mainWindow, folder, QStringLiteral("main.png"));
  ok &= SaveMenus(mainWindow, folder);
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

int OptionsRoundTrip(OptionsDialog &options, const QString &folder) {
  // A refused write is printed, not shown in a box; the sink outlives the
  // dialog, which reports to it.
  static StderrSink errors;
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

} // namespace kestrane
