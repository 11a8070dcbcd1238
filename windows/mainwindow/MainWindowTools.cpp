// The main window's menu commands and the windows they open: the area
// picker and the tools beside the main window, the log file, the manual,
// the links, the options and the other dialogs.
#include <QLineEdit>
#include <QUrl>

#include "areamap/AreaFields.h"
#include "mainwindow/MainWindow.h"
#include "picker/PickAreaWindow.h"
#include "qtbridge/Placement.h"
#include "task/Settings.h"
#include "tools/AboutBox.h"
#include "tools/ConverterWindow.h"
#include "tools/OptionsDialog.h"
#include "tools/RedownloadWindow.h"

namespace kestrane {

namespace {

// What the tool windows ask for, client sizes: room for a useful picture
// and no more than a 1366x768 screen holds beside the main window.
const QSize kViewerSize(1024, 640), kViewerMinimum(560, 400);
const QSize kJoinerSize(600, 360), kJoinerMinimum(460, 280);
const QSize kPickerSize(900, 600), kPickerMinimum(620, 430);

} // namespace

QString HomePageLink(const std::string &programFolder) {
  const QString page = QString::fromUtf8(KESTRANE_HOME_PAGE);
  if (!page.isEmpty())
    return page;
  return QUrl::fromLocalFile(QStr(programFolder + "help/help.html")).toString();
}

QString ContactLink() {
  return QString::fromUtf8(KESTRANE_CONTACT);
}

void MainWindow::Open(const QUrl &url) {
  if (!shellOpen_(url))
    messages_.ShowMessage(CannotOpenText(url));
}

void MainWindow::PickAreaChosen() {
  PickAreaWindow picker(programFolder_ + "map/world.bin", this);
  picker.SetVisited(ReadVisitedAreas(defaultPath_));
  picker.SetStart(AreaFromFieldTexts({StdStr(leftLongitudeEdit_->text()),
                                      StdStr(rightLongitudeEdit_->text()),
                                      StdStr(topLatitudeEdit_->text()),
                                      StdStr(bottomLatitudeEdit_->text())}),
                  zoomSpinner_->Value(), area_);
  MoveToPlace(&picker, PlaceBesideWindow(this, kPickerSize, kPickerMinimum));
  if (picker.exec() != QDialog::Accepted)
    return;
  const std::optional<AreaFieldTexts> texts = picker.PickedTexts();
  if (!texts)
    return;
  leftLongitudeEdit_->setText(QStr(texts->Left));
  rightLongitudeEdit_->setText(QStr(texts->Right));
  topLatitudeEdit_->setText(QStr(texts->Top));
  bottomLatitudeEdit_->setText(QStr(texts->Bottom));
  zoomSpinner_->SetValue(picker.PickedZoom());
  zoomEdit_->setText(QString::number(picker.PickedZoom()));
  SetOutline(picker.PickedOutline());
}

void MainWindow::ViewLogFileChosen() {
  const TaskControl::LogFileView log = control_->LogFileToView();
  if (log.Path.empty())
    messages_.ShowMessage(log.Message);
  else
    Open(QUrl::fromLocalFile(QStr(log.Path)));
}

// The tool opens on the task in hand, beside this window.
void MainWindow::StartTool(const char *program, const QSize &wanted,
                           const QSize &minimum) {
  QStringList arguments;
  if (std::string(program) == "tilejoin")
    arguments << QStringLiteral("--window");
  arguments << PlaceArguments(PlaceBesideWindow(this, wanted, minimum));
  const std::string project = control_->ProjectFileInHand(Fields());
  if (!project.empty())
    arguments << QStr(project);
  const QString path = QStr(programFolder_ + program);
  if (!startProgram_(path, arguments))
    messages_.ShowMessage("Cannot start " + StdStr(path) + ".");
}

void MainWindow::TileViewerChosen() {
  StartTool("tileview", kViewerSize, kViewerMinimum);
}

void MainWindow::TileJoinerChosen() {
  StartTool("tilejoin", kJoinerSize, kJoinerMinimum);
}

void MainWindow::UserManualChosen() {
  Open(QUrl::fromLocalFile(QStr(programFolder_ + "help/help.html")));
}

void MainWindow::HomePageChosen() {
  Open(QUrl(HomePageLink(programFolder_)));
}

void MainWindow::OptionsChosen() {
  if (!tools_.Options || tools_.Options->exec() != QDialog::Accepted)
    return;
  // A new default folder takes effect at once: "Open task ..." starts in
  // it, and the path field follows it unless the user typed another.
  const std::string chosen = ReadSettings(settingsPath_).DefaultPath;
  if (StdStr(pathEdit_->text()) == defaultPath_)
    pathEdit_->setText(QStr(chosen));
  defaultPath_ = chosen;
}

void MainWindow::ConverterChosen() {
  if (tools_.Converter == nullptr)
    return;
  // Beside the fields its result goes into, not over them.
  if (!tools_.Converter->isVisible()) {
    const QSize size = tools_.Converter->sizeHint();
    MoveToPlace(tools_.Converter,
                PlaceBesideWindow(this, size, size, PreferSide::Left));
  }
  tools_.Converter->show();
  tools_.Converter->raise();
  tools_.Converter->activateWindow();
}

void MainWindow::RedownloadChosen() {
  if (tools_.Redownload)
    tools_.Redownload->exec();
}

void MainWindow::AboutChosen() {
  if (tools_.About)
    tools_.About->exec();
}

void MainWindow::ExitChosen() {
  close();
}

} // namespace kestrane
