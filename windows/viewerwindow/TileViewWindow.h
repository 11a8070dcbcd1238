#pragma once
#include <QMainWindow>
#include <QUrl>
#include <functional>
#include <memory>
#include <string>

#include "qtbridge/QtBridge.h"
#include "viewer/ViewerSession.h"

class QAction;
class QLabel;
class QTimer;

namespace kestrane {

class TileCanvas;

struct TileViewConfig {
  std::string ProgramFolder; // empty: the running program's folder
  std::string SettingsPath;  // empty: the program folder's settings file
  SessionLimits Limits;
};

// The tile viewer's window: a task's block as one picture with what is
// missing marked, following the task while its download runs.
class TileViewWindow : public QMainWindow {
  Q_OBJECT
public:
  explicit TileViewWindow(const TileViewConfig &config = {},
                          QWidget *parent = nullptr);
  ~TileViewWindow() override;

  // Opens a project file; a failure is shown in a message box and the
  // window keeps what it showed.
  bool OpenTask(const std::string &projectFile);
  // Shows a task already loaded (its outline, Params.Area, drawn over the
  // tiles); a failure is shown as OpenTask shows it.
  bool ShowTask(LoadedTask task);
  // Takes the inventory with the image check and writes the list of tiles
  // to fetch again to `listPath`; `done` (optional) runs after the write.
  // A path that is one of the task's files or not a regular file is refused
  // at once, with a message.
  void WriteMissingListTo(const std::string &listPath,
                          std::function<void()> done = {});

  ViewerSession *Session() const { return session_.get(); }
  TileCanvas *Canvas() const { return canvas_; }
  QString CountsText() const;
  QString HoverText() const;
  // How often the inventory is taken again (5 s).
  void SetFollowInterval(int ms);
  void SetMessageSink(MessageSink *sink) { sink_.SetTarget(sink); }
  // The shell's "open" of a tile, true when it could.
  void SetShellOpen(std::function<bool(const QUrl &)> f) {
    shellOpen_ = std::move(f);
  }
  void SetSaveDialog(std::function<QString(const QString &)> f) {
    saveDialog_ = std::move(f);
  }

  void OpenChosen();
  void WriteListChosen();
  void ShowTile(qint64 cell);
  void Hover(qint64 cell);

protected:
  void dragEnterEvent(QDragEnterEvent *) override;
  void dropEvent(QDropEvent *) override;

private:
  void BuildMenus();
  void ScheduleRepaint();
  void UpdateStatus();
  void Follow();

  std::string programFolder_;
  std::string settingsPath_;
  SessionLimits limits_;
  std::unique_ptr<ViewerSession> session_;
  TileCanvas *canvas_;
  QLabel *counts_;
  QLabel *hover_;
  QTimer *follow_;
  QAction *marks_ = nullptr;
  bool repaintPending_ = false;
  qint64 hoverCell_ = -1;
  QtMessageSink boxSink_;
  ForwardingSink sink_;
  std::function<bool(const QUrl &)> shellOpen_;
  std::function<QString(const QString &)> saveDialog_;
};

} // namespace kestrane
