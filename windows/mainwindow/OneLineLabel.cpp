#include "mainwindow/OneLineLabel.h"

#include <QPainter>
#include <QStyle>

namespace kestrane {

QSize OneLineLabel::minimumSizeHint() const {
  const QSize hint = QLabel::minimumSizeHint();
  return {fontMetrics().horizontalAdvance(QStringLiteral("Tiles: ...")),
          hint.height()};
}

bool OneLineLabel::ShowsWholeText() const {
  return fontMetrics().horizontalAdvance(text()) <= contentsRect().width();
}

void OneLineLabel::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  const QRect area = contentsRect();
  const QString shown =
      fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
  style()->drawItemText(&painter, area, Qt::AlignLeft | Qt::AlignVCenter,
                        palette(), isEnabled(), shown, foregroundRole());
}

} // namespace kestrane
