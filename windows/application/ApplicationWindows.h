#pragma once
// The desktop program's start-up, shared by `kestrane` and the showcase
// program of the build: the application object and the program's windows.
#include <QApplication>
#include <functional>
#include <string>

#include "mainwindow/MainWindow.h"
#include "tools/AboutBox.h"
#include "tools/ConverterWindow.h"
#include "tools/OptionsDialog.h"
#include "tools/RedownloadWindow.h"

namespace kestrane {

// A failure that escapes an event handler is shown in the standard error box
// and the program goes on.
class KestraneApplication : public QApplication {
public:
  using QApplication::QApplication;
  bool notify(QObject *receiver, QEvent *event) override;
};

// The main window and the tool windows its menus show, built for a program
// folder: its settings file (or the user's, when the folder's ini/ is not
// writable), its map and its manual.
class ApplicationWindows {
public:
  ApplicationWindows(const std::string &programFolder, char decimalSeparator);

  MainWindow &Main() { return main_; }
  const ToolWindows &Tools() const { return tools_; }

private:
  MainWindow main_;
  AboutBox about_;
  ConverterWindow converter_;
  OptionsDialog options_;
  RedownloadWindow redownload_;
  ToolWindows tools_;
};

// What a program does with its windows once they are built; its result is
// the exit status.
using WindowsRun = std::function<int(QApplication &, ApplicationWindows &)>;

// Starts the desktop program: the C locale from the environment, the HTTP
// library, the application with its name and icon, the windows for
// `programFolder` (empty: the running program's folder); then `run`. A
// failure of the HTTP library is printed and gives 1; a failure while the
// windows are built or run is shown in the error box and gives 1.
int RunApplication(int argc, char **argv, const std::string &programFolder,
                   const WindowsRun &run);

} // namespace kestrane
