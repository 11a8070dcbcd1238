#pragma once
#include <functional>
#include <thread>

#include <QUrl>
#include <QWidget>

#include "joiner/TileJoiner.h"
#include "qtbridge/QtBridge.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace kestrane {

// The Tile Joiner window: gathers the project file, the output file, its
// format and the overview choice, runs the joiner on a thread of its own and
// shows its progress and result lines. It asks before it replaces a picture,
// keeps its paths while a join runs, and opens the picture's folder
// afterwards.
class JoinerWindow : public QWidget {
  Q_OBJECT
public:
  explicit JoinerWindow(QWidget *parent = nullptr);
  ~JoinerWindow() override;

  QLineEdit *ProjectEdit = nullptr;
  QLineEdit *OutputEdit = nullptr;
  QComboBox *FormatBox = nullptr; // GeoTIFF, MBTiles
  QCheckBox *OverviewsBox = nullptr;
  QPushButton *JoinButton = nullptr;
  QProgressBar *Progress = nullptr;
  QPlainTextEdit *Results = nullptr;
  QPushButton *OpenFolderButton = nullptr; // once a picture was written

  bool Running() const { return worker_.joinable(); }

  // Where the file dialogs start before a project file is given: the
  // default folder of the settings.
  void SetStartFolder(const QString &folder) { startFolder_ = folder; }
  // Where questions and failures go (null: message boxes). Tests record.
  void SetMessageSink(MessageSink *sink) { messages_.SetTarget(sink); }
  // The shell's "open" of the picture's folder, true when it could.
  void SetShellOpen(std::function<bool(const QUrl &)> open) {
    shellOpen_ = std::move(open);
  }
  // The folder the file dialogs start in: the project file's, else the
  // picture's, else the start folder.
  QString DialogFolder() const;

signals:
  void Finished(); // the join has ended and its lines are shown

private:
  void BrowseProject();
  void BrowseOutput();
  void ProjectChanged();
  void FormatChanged();
  JoinFormat Format() const;
  void JoinClicked();
  void Done(const QStringList &lines, const QString &written);
  void Stop();
  // The paths, the format and the overview choice stay as they are while a
  // join runs.
  void LockInputs(bool locked);
  void OpenFolderClicked();

  std::thread worker_;
  StopFlag cancel_;
  QString defaultOutput_; // the output the project file suggested
  QString startFolder_;
  QString written_; // the picture of the last join, when one was written
  QPushButton *projectButton_ = nullptr;
  QPushButton *outputButton_ = nullptr;
  QtMessageSink box_;
  ForwardingSink messages_;
  std::function<bool(const QUrl &)> shellOpen_;
};

} // namespace kestrane
