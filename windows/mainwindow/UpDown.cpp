#include "mainwindow/UpDown.h"

#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace kestrane {

UpDown::UpDown(QWidget *parent)
    : QWidget(parent), up_(new QToolButton(this)),
      down_(new QToolButton(this)) {
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  for (QToolButton *button : {up_, down_}) {
    button->setArrowType(button == up_ ? Qt::UpArrow : Qt::DownArrow);
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    button->setFixedWidth(16);
    button->setMinimumHeight(1);
    button->setIconSize(QSize(8, 6));
    layout->addWidget(button);
  }
  up_->setObjectName(QStringLiteral("UpDown1Up"));
  down_->setObjectName(QStringLiteral("UpDown1Down"));
  connect(up_, &QToolButton::clicked, this, [this] { StepBy(1); });
  connect(down_, &QToolButton::clicked, this, [this] { StepBy(-1); });
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
}

void UpDown::SetRange(int min, int max) {
  min_ = min;
  max_ = std::max(min, max);
  SetValue(value_);
}

void UpDown::SetValue(int value) {
  value = std::clamp(value, min_, max_);
  if (value == value_)
    return;
  value_ = value;
  emit ValueChanged(value_);
}

} // namespace kestrane
