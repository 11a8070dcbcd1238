#pragma once
// The converter window: degrees, minutes and seconds to decimal degrees.
// Shown beside the main window without blocking it, above the program's
// windows and its tools, and below any modal window of the program (a
// message box, a dialog), which it would otherwise hide.
#include <QDialog>

#include "qtbridge/QtBridge.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kestrane {

class ConverterWindow : public QDialog {
  Q_OBJECT
public:
  // `decimalSeparator`: the user's, for the result.
  explicit ConverterWindow(char decimalSeparator, QWidget *parent = nullptr);

  // Where "Input Error." goes (null: the message box).
  void SetMessageSink(MessageSink *sink) { messages_.SetTarget(sink); }

  // "convert": reads the three fields and shows the result in resultEdit_, or
  // "Input Error." with resultEdit_ unchanged.
  void ConvertClicked();

  // Whether the window keeps above other windows now.
  bool OnTop() const { return onTop_; }

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  // Above every window while no modal window of the program is shown.
  void UpdateStacking(const QWidget *leaving = nullptr);
  void SetOnTop(bool on);

  bool onTop_ = false;
  char decimalSeparator_;
  QtMessageSink box_;
  ForwardingSink messages_;

  QGroupBox *inputGroup_;
  QLabel *inputLabel_;
  QLineEdit *degreesEdit_;
  QLineEdit *minutesEdit_;
  QLineEdit *secondsEdit_;
  QPushButton *convertButton_;
  QGroupBox *resultGroup_;
  QLabel *resultLabel_;
  QLineEdit *resultEdit_;
};

} // namespace kestrane
