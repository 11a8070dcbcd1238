#pragma once
// The re-download window: fetches again every tile of a failed-tile list,
// one after the other, and reports each outcome as a line. The run goes on
// a thread of its own so that the window stays responsive; its button
// stops the run after the current record.
#include <QDialog>
#include <memory>
#include <string>
#include <thread>

#include "qtbridge/QtBridge.h"
#include "redownload/RedownloadRun.h"

class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace kestrane {

class RedownloadWindow : public QDialog {
  Q_OBJECT
public:
  explicit RedownloadWindow(QWidget *parent = nullptr);
  // Stops a run that is still going and waits for it.
  ~RedownloadWindow() override;

  // Where "Cannot open file ..." and "Cannot create file ..." go (null:
  // the standard error box).
  void SetErrorSink(MessageSink *sink) { errors_.SetTarget(sink); }

  // How the runs request their tiles (tests shorten the time-outs).
  void SetRunOptions(RedownloadOptions options) {
    options_ = std::move(options);
  }
  // The settings file whose MaxRate caps each run, read as the run starts
  // (empty: the run options' cap).
  void SetSettingsPath(std::string path) { settingsPath_ = std::move(path); }

  // Handlers. OpenOrStopClicked asks for a list and starts a run; during a run
  // (the button then reads "Stop") it asks the run to stop.
  void Showing();
  void OpenOrStopClicked();
  // Starts a run on `ftlPath`: the part of OpenOrStopClicked after the dialog.
  void StartRun(const std::string &ftlPath);
  void StopRun();
  bool Running() const { return worker_.joinable(); }

signals:
  // Emitted on the window thread once a run has ended.
  void RunFinished();

protected:
  void showEvent(QShowEvent *event) override;
  void reject() override;

private:
  void CentreOnScreen();
  void AddLine(const QString &line);
  void Finished(const std::string &error);

  QtMessageSink errorBox_;
  ForwardingSink errors_;
  RedownloadOptions options_;
  std::string settingsPath_;
  std::thread worker_;
  std::shared_ptr<StopFlag> stop_;
  bool closeWhenDone_ = false;

  QWidget *buttonPanel_;
  QPushButton *openStopButton_;
  QWidget *reportPanel_;
  QPlainTextEdit *reportPane_;
};

} // namespace kestrane
