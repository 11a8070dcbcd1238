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

  GroupBox1 = new QGroupBox(this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  auto *input = new QVBoxLayout(GroupBox1);
  Label1 = new QLabel(QStringLiteral("Degrees, Minutes, Seconds:"), GroupBox1);
  Label1->setObjectName(QStringLiteral("Label1"));
  input->addWidget(Label1);
  auto *parts = new QHBoxLayout;
  parts->setSpacing(4);
  int n = 1;
  for (QLineEdit **edit : {&Edit1, &Edit2, &Edit3}) {
    *edit = new QLineEdit(GroupBox1);
    (*edit)->setObjectName(QStringLiteral("Edit%1").arg(n++));
    (*edit)->setFixedWidth(56);
    parts->addWidget(*edit);
  }
  input->addLayout(parts);
  layout->addWidget(GroupBox1);

  Button1 = new QPushButton(QStringLiteral("convert"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setDefault(true);
  layout->addWidget(Button1, 0, Qt::AlignVCenter);

  GroupBox2 = new QGroupBox(this);
  GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
  auto *output = new QVBoxLayout(GroupBox2);
  Label2 = new QLabel(QStringLiteral("Degrees:"), GroupBox2);
  Label2->setObjectName(QStringLiteral("Label2"));
  Edit4 = new QLineEdit(GroupBox2);
  Edit4->setObjectName(QStringLiteral("Edit4"));
  Edit4->setReadOnly(true);
  Edit4->setMinimumWidth(150);
  output->addWidget(Label2);
  output->addWidget(Edit4);
  layout->addWidget(GroupBox2);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(Button1, &QPushButton::clicked, this,
          [this] { Guarded(messages_, [this] { Button1Click(); }); });

  // Centred on the screen, not on the main window.
  adjustSize();
  if (const QScreen *screen = QGuiApplication::primaryScreen()) {
    QRect frame(QPoint(), size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

void ConverterWindow::Button1Click() {
  const std::optional<std::string> result =
      ConvertDegrees(StdStr(Edit1->text()), StdStr(Edit2->text()),
                     StdStr(Edit3->text()), decimalSeparator_);
  if (!result) {
    messages_.ShowMessage(kConvertInputError);
    return;
  }
  Edit4->setText(QStr(*result));
}

} // namespace kestrane
