#include "viewerwindow/TileCanvas.h"

#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "viewer/OutlineCells.h"

namespace kestrane {

namespace {

// Cells smaller than this on the screen are marked through the overview
// picture, larger ones one by one.
constexpr double kMarkCellPixels = 8;
// Cells this small or smaller are always drawn from the mosaic.
constexpr double kMosaicCellPixels = 4;
// The task's outline: a colour no mark and no aerial picture uses much.
constexpr uint32_t kAreaLine = 0xFF30D0F0;

QColor Colour(uint32_t argb) {
  return QColor::fromRgba(static_cast<QRgb>(argb));
}

// A picture of the core shown without copying; `pixels` outlives it.
QImage Wrap(const Pixels &pixels,
            QImage::Format format = QImage::Format_RGB32) {
  return QImage(reinterpret_cast<const uchar *>(pixels.Data.data()),
                pixels.Width, pixels.Height, qsizetype{pixels.Width} * 4,
                format);
}

} // namespace

TileCanvas::TileCanvas(QWidget *parent) : QWidget(parent) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  setMinimumSize(200, 150);
}

void TileCanvas::SetSession(ViewerSession *session) {
  session_ = session;
  transform_.reset();
  outline_ = QPainterPath();
  if (session_) {
    // The outline in cell units once; each paint scales it to the view.
    const DownloadTask &task = session_->Task();
    for (const std::vector<CellPoint> &ring :
         OutlineInCells(session_->Grid(), task.Params.Area, task.Params.Zoom)) {
      QPolygonF polygon;
      for (const CellPoint &c : ring)
        polygon << QPointF(c.Column, c.Row);
      outline_.addPolygon(polygon);
      outline_.closeSubpath();
    }
    transform_.emplace(session_->Grid().Columns(), session_->Grid().Rows(),
                       kViewTileSize);
    transform_->SetViewport(width(), height());
  }
  update();
}

void TileCanvas::SetMarks(bool on) {
  marks_ = on;
  update();
}

void TileCanvas::Fit() {
  if (transform_)
    transform_->Fit();
  update();
}

void TileCanvas::ActualSize() {
  // About the mouse when it is over the picture, else about the centre.
  QPointF at(width() / 2.0, height() / 2.0);
  const QPoint mouse = mapFromGlobal(QCursor::pos());
  if (rect().contains(mouse))
    at = mouse;
  if (transform_)
    transform_->SetScaleAbout(at.x(), at.y(), 1.0);
  update();
}

QRectF TileCanvas::CellRect(int64_t column, int64_t row) const {
  const double c = transform_->CellPixels();
  return QRectF(transform_->OffsetX() + double(column) * c,
                transform_->OffsetY() + double(row) * c, c, c);
}

void TileCanvas::Render(QPainter &p, const QSize &size) {
  p.fillRect(QRect(QPoint(0, 0), size), Colour(palette::kWindow));
  if (!session_ || !transform_) {
    p.setPen(QColor(200, 200, 200));
    p.drawText(QRect(QPoint(0, 0), size), Qt::AlignCenter,
               tr("File > Open task... or drop a project file here"));
    return;
  }
  if (transform_->ViewportWidth() != size.width() ||
      transform_->ViewportHeight() != size.height())
    transform_->SetViewport(size.width(), size.height());
  const CellRange visible = transform_->Visible();
  if (visible.Empty())
    return;

  // The mosaic under everything: cells whose tiles are not read yet show it.
  const Mosaic &mosaic = session_->GetMosaic();
  const double perTile = mosaic.PixelsPerTile();
  DrawPicture(p, visible, Wrap(mosaic.Image()), perTile);

  // Cells of a few pixels come from the mosaic even where it is coarser:
  // one tile each would be more drawing than picture.
  if (transform_->CellPixels() > std::max(perTile, kMosaicCellPixels))
    DrawTiles(p, visible);
  else
    session_->Want({});
  if (marks_)
    DrawMarks(p, visible);
  if (!outline_.isEmpty())
    DrawOutline(p);
  if (marks_)
    DrawLegend(p, size);
}

// The task's outline as a thin line over the tiles.
void TileCanvas::DrawOutline(QPainter &p) {
  const double c = transform_->CellPixels();
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setTransform(
      QTransform(c, 0, 0, c, transform_->OffsetX(), transform_->OffsetY()),
      true);
  QPen pen(Colour(kAreaLine), 1.5);
  pen.setCosmetic(true);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  p.drawPath(outline_);
  p.restore();
}

// The tiles in view at the decode level of the zoom; a tile not decoded at
// that level yet shows any other level the cache holds, or the mosaic.
void TileCanvas::DrawTiles(QPainter &p, const CellRange &visible) {
  const int level = transform_->DecodeLevel();
  TileCache &cache = session_->Cache();
  std::vector<TileKey> wanted;
  p.setRenderHint(QPainter::SmoothPixmapTransform,
                  transform_->Scale() * (1 << level) < 1.0);
  for (int64_t row = visible.Row0; row <= visible.Row1; ++row)
    for (int64_t col = visible.Column0; col <= visible.Column1; ++col) {
      const int64_t cell = session_->Grid().Index(col, row);
      const std::shared_ptr<const Pixels> *image =
          cache.Find(TileKey{cell, level});
      if (!image) {
        wanted.push_back(TileKey{cell, level});
        for (int other = kMaxViewLevel; other >= 0 && !image; --other)
          if (other != level)
            image = cache.Find(TileKey{cell, other});
      }
      if (image && *image)
        p.drawImage(CellRect(col, row), Wrap(**image));
    }
  // The centre of the view first: that is where the eye is.
  if (wanted.size() > 1) {
    const double cc = (visible.Column0 + visible.Column1) / 2.0;
    const double cr = (visible.Row0 + visible.Row1) / 2.0;
    const int64_t columns = session_->Grid().Columns();
    std::vector<std::pair<double, TileKey>> byDistance;
    byDistance.reserve(wanted.size());
    for (const TileKey &k : wanted) {
      const double dc = double(k.Cell % columns) - cc;
      const double dr = double(k.Cell / columns) - cr;
      byDistance.push_back({dc * dc + dr * dr, k});
    }
    std::stable_sort(
        byDistance.begin(), byDistance.end(),
        [](const auto &a, const auto &b) { return a.first < b.first; });
    for (size_t i = 0; i < wanted.size(); ++i)
      wanted[i] = byDistance[i].second;
  }
  session_->Want(wanted);
}

// Draws `image`, a picture of the whole grid with `perTile` pixels a cell,
// over the visible cells.
void TileCanvas::DrawPicture(QPainter &p, const CellRange &visible,
                             const QImage &image, double perTile) {
  const QRectF area = CellRect(visible.Column0, visible.Row0)
                          .united(CellRect(visible.Column1, visible.Row1));
  const QRectF source(double(visible.Column0) * perTile,
                      double(visible.Row0) * perTile,
                      double(visible.Column1 - visible.Column0 + 1) * perTile,
                      double(visible.Row1 - visible.Row0 + 1) * perTile);
  p.drawImage(area, image, source);
}

void TileCanvas::DrawMarks(QPainter &p, const CellRange &visible) {
  if (transform_->CellPixels() >= kMarkCellPixels) {
    DrawMarkCells(p, visible);
    return;
  }
  const MarksOverview &o = session_->Overview();
  if (o.Image.Empty())
    return;
  p.setRenderHint(QPainter::SmoothPixmapTransform, false);
  DrawPicture(p, visible, Wrap(o.Image, QImage::Format_ARGB32),
              1.0 / double(o.Step));
}

// Marks cell by cell, for cells large enough to tell apart.
void TileCanvas::DrawMarkCells(QPainter &p, const CellRange &visible) {
  const double cellPx = transform_->CellPixels();
  const QBrush hatch(Colour(palette::kPlaceholder), Qt::BDiagPattern);
  const QColor bad = Colour(palette::kBad);
  QColor badFill = bad;
  badFill.setAlpha(70);
  const double badWidth = std::clamp(cellPx / 40, 2.0, 6.0);
  const int64_t columns = session_->Grid().Columns();
  // Gathered by kind and drawn in a few calls: a view of small cells may
  // hold tens of thousands of marks.
  std::vector<QRectF> missing, missingEdges, hatched, placeholderEdges, bads,
      badEdges;
  const double b = badWidth / 2;
  session_->ForEachMark(
      visible, [&](int64_t cell, Mark mark, bool placeholder) {
        const QRectF r = CellRect(cell % columns, cell / columns);
        if (placeholder)
          hatched.push_back(r);
        switch (mark) {
        case Mark::Missing:
          missing.push_back(r);
          missingEdges.push_back(r.adjusted(1, 1, -2, -2));
          break;
        case Mark::Placeholder:
          placeholderEdges.push_back(r.adjusted(1, 1, -2, -2));
          break;
        case Mark::Bad:
          bads.push_back(r);
          badEdges.push_back(r.adjusted(b, b, -b, -b));
          break;
        case Mark::None:
          break;
        }
      });
  p.setRenderHint(QPainter::Antialiasing, false);
  const auto draw = [&p](const std::vector<QRectF> &rects, const QPen &pen,
                         const QBrush &brush) {
    if (rects.empty())
      return;
    p.setPen(pen);
    p.setBrush(brush);
    p.drawRects(rects.data(), static_cast<int>(rects.size()));
  };
  draw(hatched, Qt::NoPen, hatch);
  draw(missing, Qt::NoPen, Colour(palette::kMissing));
  draw(missingEdges, QPen(Colour(palette::kOutline), 1), Qt::NoBrush);
  draw(placeholderEdges, QPen(Colour(palette::kPlaceholder), 1), Qt::NoBrush);
  draw(bads, Qt::NoPen, badFill);
  draw(badEdges, QPen(bad, badWidth), Qt::NoBrush);
}

void TileCanvas::DrawLegend(QPainter &p, const QSize &size) {
  const struct {
    Mark Kind;
    QString Text;
  } rows[] = {{Mark::Placeholder, tr("placeholder (given up)")},
              {Mark::Missing, tr("missing")},
              {Mark::Bad, tr("damaged, .crashed or .invalid")}};
  const QFontMetrics fm = p.fontMetrics();
  const int line = fm.height() + 6;
  int textWidth = 0;
  for (const auto &r : rows)
    textWidth = std::max(textWidth, fm.horizontalAdvance(r.Text));
  const QRect box(8, size.height() - 8 - 3 * line - 8, textWidth + 44,
                  3 * line + 8);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 170));
  p.drawRoundedRect(box, 4, 4);
  for (int i = 0; i < 3; ++i) {
    const QRect swatch(box.left() + 8, box.top() + 6 + i * line, 20, line - 6);
    switch (rows[i].Kind) {
    case Mark::Placeholder:
      p.fillRect(swatch, Colour(palette::kNotLoaded));
      p.fillRect(swatch,
                 QBrush(Colour(palette::kPlaceholder), Qt::BDiagPattern));
      p.setPen(Colour(palette::kPlaceholder));
      break;
    case Mark::Missing:
      p.fillRect(swatch, Colour(palette::kMissing));
      p.setPen(Colour(palette::kOutline));
      break;
    default:
      p.fillRect(swatch, Colour(palette::kBad).darker(150));
      p.setPen(QPen(Colour(palette::kBad), 2));
      break;
    }
    p.setBrush(Qt::NoBrush);
    p.drawRect(swatch.adjusted(0, 0, -1, -1));
    p.setPen(QColor(230, 230, 230));
    p.drawText(QRect(swatch.right() + 8, swatch.top() - 3, textWidth + 8, line),
               Qt::AlignLeft | Qt::AlignTop, rows[i].Text);
  }
}

void TileCanvas::paintEvent(QPaintEvent *) {
  QPainter p(this);
  Render(p, size());
}

void TileCanvas::resizeEvent(QResizeEvent *) {
  if (transform_)
    transform_->SetViewport(width(), height());
}

qint64 TileCanvas::CellUnder(const QPointF &pos) const {
  int64_t column = 0, row = 0;
  if (!session_ || !transform_ ||
      !transform_->CellAt(pos.x(), pos.y(), column, row))
    return -1;
  return session_->Grid().Index(column, row);
}

void TileCanvas::mousePressEvent(QMouseEvent *e) {
  if (e->button() == Qt::LeftButton)
    dragFrom_ = e->position().toPoint();
}

void TileCanvas::mouseMoveEvent(QMouseEvent *e) {
  if (dragFrom_ && transform_ && (e->buttons() & Qt::LeftButton)) {
    const QPoint now = e->position().toPoint();
    transform_->Pan(now.x() - dragFrom_->x(), now.y() - dragFrom_->y());
    dragFrom_ = now;
    update();
  }
  emit Hovered(CellUnder(e->position()));
}

void TileCanvas::mouseReleaseEvent(QMouseEvent *) {
  dragFrom_.reset();
}

void TileCanvas::mouseDoubleClickEvent(QMouseEvent *e) {
  const qint64 cell = CellUnder(e->position());
  if (cell >= 0)
    emit Activated(cell);
}

void TileCanvas::wheelEvent(QWheelEvent *e) {
  if (!transform_)
    return;
  const double notches = e->angleDelta().y() / 120.0;
  transform_->ZoomAbout(e->position().x(), e->position().y(),
                        std::pow(1.25, notches));
  update();
  emit Hovered(CellUnder(e->position()));
}

void TileCanvas::leaveEvent(QEvent *) {
  emit Hovered(-1);
}

} // namespace kestrane
