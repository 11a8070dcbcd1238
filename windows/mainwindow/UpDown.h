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

  int Value() const { return value_; }
  int Minimum() const { return min_; }
  int Maximum() const { return max_; }
  void SetRange(int min, int max);
  // Clamps to the range; emits ValueChanged when the value changes.
  void SetValue(int value);
  void StepBy(int steps) { SetValue(value_ + steps); }

signals:
  void ValueChanged(int value);

private:
  QToolButton *up_;
  QToolButton *down_;
  int min_ = 0, max_ = 100, value_ = 0;
};

} // namespace kestrane
