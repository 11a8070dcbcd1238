#include "tools/ConverterWindow.h"

#include <QApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include "geo/DmsConverter.h"

namespace kestrane {

ConverterWindow::ConverterWindow(char decimalSeparator, QWidget *parent)
    : QDialog(parent), decimalSeparator_(decimalSeparator), box_(this),
      messages_(&box_) {
  setObjectName(QStringLiteral("frmConvert"));
  setWindowTitle(
      QStringLiteral("Convert \"Degrees,Minutes,Seconds\" to \"Degrees\""));
  // A tool window of the main window, and above other windows too: the
  // tile viewer and joiner are programs of their own. Not above a message
  // box or a dialog of the program, which must never be hidden behind it
  // (UpdateStacking).
  setWindowFlag(Qt::Tool);
  SetOnTop(true);
  qApp->installEventFilter(this);
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

  // The main window places it beside its fields when it shows it.
  adjustSize();
}

bool ConverterWindow::eventFilter(QObject *watched, QEvent *event) {
  const QEvent::Type type = event->type();
  if ((type == QEvent::Show || type == QEvent::Hide) && watched != this &&
      watched->isWidgetType()) {
    auto *widget = static_cast<QWidget *>(watched);
    if (widget->isWindow() && widget->isModal())
      UpdateStacking(type == QEvent::Hide ? widget : nullptr);
  }
  return QDialog::eventFilter(watched, event);
}

void ConverterWindow::UpdateStacking(const QWidget *leaving) {
  bool modal = false;
  for (const QWidget *w : QApplication::topLevelWidgets())
    modal = modal || (w != this && w != leaving && w->isModal() &&
                      (w->isVisible() || !w->isHidden()));
  SetOnTop(!modal);
}

void ConverterWindow::SetOnTop(bool on) {
  if (on == onTop_)
    return;
  onTop_ = on;
  // Told to the window system without hiding the window (which setting
  // the widget's own flag would).
  Qt::WindowFlags flags = windowFlags();
  flags.setFlag(Qt::WindowStaysOnTopHint, on);
  overrideWindowFlags(flags);
  if (QWindow *window = windowHandle())
    window->setFlag(Qt::WindowStaysOnTopHint, on);
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
