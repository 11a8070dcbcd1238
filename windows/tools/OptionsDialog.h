#pragma once
// The options dialog: the default output folder and the HTTP proxy, shown
// from the settings file on every showing and written back on OK.
#include <QDialog>
#include <string>

#include "qtbridge/QtBridge.h"

class QCheckBox;
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
  void setErrorSink(MessageSink *sink) { errors_.SetTarget(sink); }

  // Handlers; Button1Click throws KError("Unable to write to " + path) when
  // the file refuses a key, and the dialog then stays open.
  void FormShow();
  void Button3Click();
  void Button1Click();
  void Button2Click();

  const std::string &SettingsFile() const { return settingsPath_; }

protected:
  void showEvent(QShowEvent *event) override;

private:
  std::string settingsPath_;
  QtMessageSink errorBox_;
  ForwardingSink errors_;

  QWidget *Panel1;
  QLabel *Label1;
  QLineEdit *Edit12;
  QPushButton *Button3;
  QGroupBox *GroupBox1;
  QCheckBox *CheckBoxUseProxy;
  QLabel *Label3;
  QLineEdit *EditProxyServer;
  QLabel *Label4;
  QLineEdit *EditProxyPort;
  QLabel *Label5;
  QLineEdit *EditProxyUsername;
  QLabel *Label6;
  QLineEdit *EditProxyPassword;
  QPushButton *Button1;
  QPushButton *Button2;
};

} // namespace kestrane
