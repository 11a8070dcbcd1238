#pragma once
#include <QImage>
#include <QPainterPath>
#include <QPoint>
#include <QWidget>
#include <memory>
#include <optional>

#include "viewer/ViewTransform.h"
#include "viewer/ViewerSession.h"

namespace kestrane {

// The block as one picture: paints the mosaic, the decoded tiles in view
// and the marks, and the task's outline, from what the session holds at the
// moment; asks the session for the tiles it lacks and never waits for them.
// Drag pans, the wheel zooms about the mouse.
class TileCanvas : public QWidget {
  Q_OBJECT
public:
  explicit TileCanvas(QWidget *parent = nullptr);

  // The session shown (not owned); nullptr shows the empty viewer.
  void SetSession(ViewerSession *session);
  ViewerSession *Session() const { return session_; }
  ViewTransform *Transform() { return transform_ ? &*transform_ : nullptr; }

  void SetMarks(bool on);
  bool Marks() const { return marks_; }
  void Fit();
  // Tile pixels 1:1 about the mouse (or the window's centre).
  void ActualSize();

  // Paints the whole view into `painter` (the widget's paint, and the
  // benchmarks' rendering into an image).
  void Render(QPainter &painter, const QSize &size);

signals:
  // The cell under the mouse (-1: none).
  void Hovered(qint64 cell);
  void Activated(qint64 cell);

protected:
  void paintEvent(QPaintEvent *) override;
  void resizeEvent(QResizeEvent *) override;
  void mousePressEvent(QMouseEvent *) override;
  void mouseMoveEvent(QMouseEvent *) override;
  void mouseReleaseEvent(QMouseEvent *) override;
  void mouseDoubleClickEvent(QMouseEvent *) override;
  void wheelEvent(QWheelEvent *) override;
  void leaveEvent(QEvent *) override;

private:
  void DrawTiles(QPainter &p, const CellRange &visible);
  void DrawPicture(QPainter &p, const CellRange &visible, const QImage &image,
                   double perTile);
  void DrawMarks(QPainter &p, const CellRange &visible);
  void DrawMarkCells(QPainter &p, const CellRange &visible);
  void DrawLegend(QPainter &p, const QSize &size);
  void DrawOutline(QPainter &p);
  QRectF CellRect(int64_t column, int64_t row) const;
  qint64 CellUnder(const QPointF &pos) const;

  ViewerSession *session_ = nullptr;
  std::optional<ViewTransform> transform_;
  bool marks_ = true;
  std::optional<QPoint> dragFrom_;
  QPainterPath outline_; // the task's outline in cells; empty: none
};

} // namespace kestrane
