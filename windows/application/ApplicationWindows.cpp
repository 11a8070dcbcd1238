#include "application/ApplicationWindows.h"

#include <QIcon>
#include <QMessageBox>
#include <clocale>
#include <cstdio>
#include <exception>

#include "platform/Files.h"
#include "platform/NumberFormat.h"
#include "task/Settings.h"
#include "worker/TileHttp.h"

namespace kestrane {

bool KestraneApplication::notify(QObject *receiver, QEvent *event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception &e) {
    QMessageBox::critical(activeWindow(), applicationDisplayName(),
                          QString::fromStdString(e.what()));
  }
  return false;
}

namespace {

MainWindowConfig MainConfig(const std::string &programFolder,
                            char decimalSeparator) {
  MainWindowConfig config;
  config.ProgramFolder = programFolder;
  config.DecimalSeparator = decimalSeparator;
  return config;
}

} // namespace

ApplicationWindows::ApplicationWindows(const std::string &programFolder,
                                       char decimalSeparator)
    : main_(MainConfig(programFolder, decimalSeparator)),
      about_(HomePageLink(main_.ProgramFolder()), ContactLink(), &main_),
      converter_(decimalSeparator, &main_),
      options_(SettingsPath(programFolder), &main_),
      redownload_(&main_), tools_{&about_, &converter_, &options_,
                                  &redownload_} {
  redownload_.SetSettingsPath(SettingsPath(programFolder));
  main_.SetToolWindows(tools_);
}

int RunApplication(int argc, char **argv, const std::string &programFolder,
                   const WindowsRun &run) {
  std::setlocale(LC_ALL, "");
  try {
    HttpGlobalInit(); // before any thread of ours
  } catch (const std::exception &e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  KestraneApplication app(argc, argv);
  NameApplication();
  // Qt sets the C locale from the environment again; the number format the
  // program passes around is read after it.
  const char separator = UserDecimalSeparator();
  try {
    const std::string folder = programFolder.empty()
                                   ? ProgramFolder()
                                   : IncludeTrailingDelimiter(programFolder);
    app.setWindowIcon(QIcon(QString::fromStdString(folder + "kestrane.png")));
    ApplicationWindows windows(folder, separator);
    return run(app, windows);
  } catch (const std::exception &e) {
    QMessageBox::critical(nullptr, app.applicationDisplayName(),
                          QString::fromStdString(e.what()));
    return 1;
  }
}

} // namespace kestrane
