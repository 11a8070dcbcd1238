#pragma once
// The main window's zoom spinner.
#include <QWidget>

class QToolButton;

namespace kestrane {

// An up-down spinner beside a read-only field: two arrow buttons that step
// a value within a range, without wrapping.
class UpDown : public QWidget {
  Q_OBJECT
public:
  explicit UpDown(QWidget *parent = nullptr);

  int value() const { return value_; }
  int minimum() const { return min_; }
  int maximum() const { return max_; }
  void setRange(int min, int max);
  // Clamps to the range; emits valueChanged when the value changes.
  void setValue(int value);
  void stepBy(int steps) { setValue(value_ + steps); }

signals:
  void valueChanged(int value);

private:
  QToolButton *up_;
  QToolButton *down_;
  int min_ = 0, max_ = 100, value_ = 0;
};

} // namespace kestrane
