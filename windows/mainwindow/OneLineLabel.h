#pragma once
// A label that keeps to one line: a text wider than the label ends in "…"
// (text() stays whole), and the label asks for no more width than a few
// characters, so that a long message never widens the fields' column.
#include <QLabel>

namespace kestrane {

class OneLineLabel : public QLabel {
  Q_OBJECT
public:
  explicit OneLineLabel(QWidget *parent = nullptr) : QLabel(parent) {}

  QSize minimumSizeHint() const override;
  // Whether the whole text shows at the label's width.
  bool ShowsWholeText() const;

protected:
  void paintEvent(QPaintEvent *event) override;
};

} // namespace kestrane
