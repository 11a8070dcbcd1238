#pragma once
#include <thread>

#include <QWidget>

#include "joiner/TileJoiner.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace kestrane {

// The Tile Joiner window: gathers the project file, the output file, its
// format and the overview choice, runs the joiner on a thread of its own and
// shows its progress and result lines.
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

  bool Running() const { return worker_.joinable(); }

signals:
  void Finished(); // the join has ended and its lines are shown

private:
  void BrowseProject();
  void BrowseOutput();
  void ProjectChanged();
  void FormatChanged();
  JoinFormat Format() const;
  void JoinClicked();
  void Done(const QStringList &lines);
  void Stop();

  std::thread worker_;
  StopFlag cancel_;
  QString defaultOutput_; // the output the project file suggested
};

} // namespace kestrane
