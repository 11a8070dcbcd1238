#include "tools/ConverterWindow.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "geo/DmsConverter.h"

namespace kestrane {

ConverterWindow::ConverterWindow(char decimalSeparator, QWidget *parent)
    : QDialog(parent), decimalSeparator_(decimalSeparator), box_(this),
      messages_(&box_) {
  setObjectName(QStringLiteral("frmConvert"));
  setWindowTitle(
      QStringLiteral("Convert \"Degrees,Minutes,Seconds\" to \"Degrees\""));
  // Above the main window as its tool window (the window manager keeps a
  // window's transients above it), but not above every window: a message
  // box or a dialog of the program must never be hidden behind it.
  setWindowFlag(Qt::Tool);
  setFont(QFont(QStringLiteral("Tahoma"), 8));

  auto *layout = new QHBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->setSpacing(8);

  inputGroup_ = new QGroupBox(this);
  inputGroup_->setObjectName(QStringLiteral("GroupBox1"));
  auto *input = new QVBoxLayout(inputGroup_);
  inputLabel_ =
      new QLabel(QStringLiteral("Degrees, Minutes, Seconds:"), inputGroup_);
  inputLabel_->setObjectName(QStringLiteral("Label1"));
  input->addWidget(inputLabel_);
  auto *parts = new QHBoxLayout;
  parts->setSpacing(4);
  int n = 1;
  for (QLineEdit **edit : {&degreesEdit_, &minutesEdit_, &secondsEdit_}) {
    *edit = new QLineEdit(inputGroup_);
    (*edit)->setObjectName(QStringLiteral("Edit%1").arg(n++));
    (*edit)->setFixedWidth(56);
    parts->addWidget(*edit);
  }
  input->addLayout(parts);
  layout->addWidget(inputGroup_);

  convertButton_ = new QPushButton(QStringLiteral("convert"), this);
  convertButton_->setObjectName(QStringLiteral("Button1"));
  convertButton_->setDefault(true);
  layout->addWidget(convertButton_, 0, Qt::AlignVCenter);

  resultGroup_ = new QGroupBox(this);
  resultGroup_->setObjectName(QStringLiteral("GroupBox2"));
  auto *output = new QVBoxLayout(resultGroup_);
  resultLabel_ = new QLabel(QStringLiteral("Degrees:"), resultGroup_);
  resultLabel_->setObjectName(QStringLiteral("Label2"));
  resultEdit_ = new QLineEdit(resultGroup_);
  resultEdit_->setObjectName(QStringLiteral("Edit4"));
  resultEdit_->setReadOnly(true);
  resultEdit_->setMinimumWidth(150);
  output->addWidget(resultLabel_);
  output->addWidget(resultEdit_);
  layout->addWidget(resultGroup_);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(convertButton_, &QPushButton::clicked, this,
          [this] { Guarded(messages_, [this] { ConvertClicked(); }); });

  // Centred on the screen, not on the main window.
  adjustSize();
  if (const QScreen *screen = QGuiApplication::primaryScreen()) {
    QRect frame(QPoint(), size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

void ConverterWindow::ConvertClicked() {
  const std::optional<std::string> result =
      ConvertDegrees(StdStr(degreesEdit_->text()), StdStr(minutesEdit_->text()),
                     StdStr(secondsEdit_->text()), decimalSeparator_);
  if (!result) {
    messages_.ShowMessage(kConvertInputError);
    return;
  }
  resultEdit_->setText(QStr(*result));
}

} // namespace kestrane
