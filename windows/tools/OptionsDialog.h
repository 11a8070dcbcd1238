#pragma once
// The options dialog: the default output folder, the most tiles a second,
// the HTTP proxy and the tile service's four hosts, shown from the settings
// file on every showing and written back on OK.
#include <QDialog>
#include <array>
#include <string>

#include "qtbridge/QtBridge.h"

class QCheckBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kestrane {

class OptionsDialog : public QDialog {
  Q_OBJECT
public:
  explicit OptionsDialog(std::string settingsPath, QWidget *parent = nullptr);

  // Where a refused write is shown (null: the standard error box).
  void SetErrorSink(MessageSink *sink) { errors_.SetTarget(sink); }

  // Handlers; OkClicked throws KError("Unable to write to " + path) when
  // the file refuses a key, and the dialog then stays open.
  void Showing();
  void BrowsePathClicked();
  void OkClicked();
  void CancelClicked();

  const std::string &SettingsFile() const { return settingsPath_; }

protected:
  void showEvent(QShowEvent *event) override;

private:
  std::string settingsPath_;
  QtMessageSink errorBox_;
  ForwardingSink errors_;

  QWidget *pathPanel_;
  QLabel *pathLabel_;
  QLineEdit *defaultPathEdit_;
  QPushButton *browsePathButton_;
  QWidget *ratePanel_;
  QLabel *maxRateLabel_;
  QDoubleSpinBox *maxRateEdit_; // 0 shows "no cap"
  QGroupBox *proxyGroup_;
  QCheckBox *useProxyBox_;
  QLabel *proxyServerLabel_;
  QLineEdit *proxyServerEdit_;
  QLabel *proxyPortLabel_;
  QLineEdit *proxyPortEdit_;
  QLabel *proxyUsernameLabel_;
  QLineEdit *proxyUsernameEdit_;
  QLabel *proxyPasswordLabel_;
  QLineEdit *proxyPasswordEdit_;
  QGroupBox *hostsGroup_;
  std::array<QLineEdit *, 4> hostEdits_{};
  QPushButton *okButton_;
  QPushButton *cancelButton_;
};

} // namespace kestrane
