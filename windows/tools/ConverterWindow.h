#pragma once
// The converter window: degrees, minutes and seconds to decimal degrees.
// Shown beside the main window without blocking it, above other windows.
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
  void setMessageSink(MessageSink *sink) { messages_.SetTarget(sink); }

  // "convert": reads the three fields and shows the result in Edit4, or
  // "Input Error." with Edit4 unchanged.
  void Button1Click();

private:
  char decimalSeparator_;
  QtMessageSink box_;
  ForwardingSink messages_;

  QGroupBox *GroupBox1;
  QLabel *Label1;
  QLineEdit *Edit1;
  QLineEdit *Edit2;
  QLineEdit *Edit3;
  QPushButton *Button1;
  QGroupBox *GroupBox2;
  QLabel *Label2;
  QLineEdit *Edit4;
};

} // namespace kestrane
