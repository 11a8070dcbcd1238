#include "picker/MapPainter.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "areamap/ScaleBar.h"
#include "geo/TileGrid.h"

namespace kestrane {

namespace {

const QColor kWater(0xd5, 0xe3, 0xeb);
const QColor kLand(0xf4, 0xf1, 0xe9);
const QColor kCountryBorder(0x9b, 0x97, 0x8d);
const QColor kProvinceBorder(0xcd, 0xc7, 0xba);
const QColor kCountryName(0x4d, 0x4b, 0x47);
const QColor kProvinceName(0x8a, 0x85, 0x7b);
const QColor kSelection(0x2f, 0x6f, 0xb5);
const QColor kVisited(0x8a, 0x5a, 0xa8);
const QColor kHighlight(0xd9, 0x82, 0x2b);
const QColor kOutline(0x1e, 0x8c, 0x4e);

// Coarse outlines err by at most kCoarseTolerance: below this scale that
// is under two pixels.
constexpr double kFineFromScale = 2.0 / kCoarseTolerance;
// Province borders and names appear once a continent fills the window.
constexpr double kProvincesFromScale = 3000;

QRectF ScreenRect(const MapView &view, const WorldBox &box) {
  return QRectF(QPointF(view.ScreenX(box.Left), view.ScreenY(box.Top)),
                QPointF(view.ScreenX(box.Right), view.ScreenY(box.Bottom)));
}

QPen Cosmetic(const QColor &color, double width) {
  QPen pen(color, width);
  pen.setCosmetic(true);
  pen.setJoinStyle(Qt::RoundJoin);
  return pen;
}

// The outline the tiles are wanted inside, over the area's box: the path
// in world units drawn through the view's scale and shift.
void PaintOutline(QPainter &painter, const MapView &view,
                  const QPainterPath &outline) {
  painter.save();
  const double s = view.Scale();
  painter.setTransform(QTransform(s, 0, 0, s,
                                  view.Width() / 2 - view.Center().X * s,
                                  view.Height() / 2 - view.Center().Y * s),
                       true);
  painter.setBrush(
      QColor(kOutline.red(), kOutline.green(), kOutline.blue(), 56));
  painter.setPen(Cosmetic(kOutline, 2.0));
  painter.drawPath(outline);
  painter.restore();
}

// The block of tiles the task downloads at `zoom` with the grid of its
// tiles, clipped to the window.
void PaintTileBlock(QPainter &painter, const MapView &view,
                    const WorldBox &selection, int zoom) {
  const GeoBox geo = ToGeo(selection);
  const WorldBox visible = view.Visible();
  const int32_t minX = LongitudeToTileX(std::max(geo.Left, -180.0), zoom);
  const int32_t maxX = LongitudeToTileX(std::min(geo.Right, 180.0), zoom);
  const int32_t minY = LatitudeToTileY(std::max(geo.Bottom, -85.0), zoom);
  const int32_t maxY = LatitudeToTileY(std::min(geo.Top, 85.0), zoom);
  const double west =
      view.ScreenX(LongitudeToWorldX(TileXToLongitude(minX, zoom)));
  const double east =
      view.ScreenX(LongitudeToWorldX(TileXToLongitude(maxX + 1.0, zoom)));
  const double south =
      view.ScreenY(LatitudeToWorldY(TileYToLatitude(minY, zoom)));
  const double north =
      view.ScreenY(LatitudeToWorldY(TileYToLatitude(maxY + 1.0, zoom)));
  painter.setBrush(
      QColor(kSelection.red(), kSelection.green(), kSelection.blue(), 18));
  painter.setPen(Cosmetic(
      QColor(kSelection.red(), kSelection.green(), kSelection.blue(), 120),
      1.0));
  const QRectF block = QRectF(QPointF(west, north), QPointF(east, south));
  painter.drawRect(block);
  const int32_t fromX = std::max(
      minX,
      LongitudeToTileX(WorldXToLongitude(std::max(visible.Left, 0.0)), zoom));
  const int32_t toX = std::min(
      maxX,
      LongitudeToTileX(WorldXToLongitude(std::min(visible.Right, 1.0)), zoom));
  for (int32_t x = fromX + 1; x <= toX; ++x) {
    const double sx =
        view.ScreenX(LongitudeToWorldX(TileXToLongitude(x, zoom)));
    painter.drawLine(QPointF(sx, north), QPointF(sx, south));
  }
  const int32_t fromY = std::max(
      minY,
      LatitudeToTileY(WorldYToLatitude(std::min(visible.Bottom, 1.0)), zoom));
  const int32_t toY = std::min(
      maxY,
      LatitudeToTileY(WorldYToLatitude(std::max(visible.Top, 0.0)), zoom));
  for (int32_t y = fromY + 1; y <= toY; ++y) {
    const double sy = view.ScreenY(LatitudeToWorldY(TileYToLatitude(y, zoom)));
    painter.drawLine(QPointF(west, sy), QPointF(east, sy));
  }
}

// Handles at the corners and the middles of the edges of `r`.
void PaintHandles(QPainter &painter, const QRectF &r) {
  painter.setBrush(Qt::white);
  painter.setPen(Cosmetic(kSelection, 1.2));
  for (const double fx : {0.0, 0.5, 1.0})
    for (const double fy : {0.0, 0.5, 1.0}) {
      if (fx == 0.5 && fy == 0.5)
        continue;
      const QPointF c(r.left() + fx * r.width(), r.top() + fy * r.height());
      painter.drawRect(QRectF(c.x() - 3, c.y() - 3, 6, 6));
    }
}

} // namespace

MapPainter::MapPainter(const WorldMap &map)
    : map_(map), nameBox_(map.Places.size()) {
  // A name must fit into the largest part of its place: the mainland, not
  // the box around a country's islands across an ocean.
  for (size_t i = 0; i < map.Places.size(); ++i) {
    byArea_.push_back(i);
    const MapRings &rings = map.Places[i].Coarse;
    double best = -1;
    for (size_t r = 0; r < rings.RingCount(); ++r) {
      WorldBox b{2, 2, -1, -1};
      double twiceArea = 0;
      for (uint32_t k = rings.Starts[r]; k < rings.Starts[r + 1]; ++k) {
        const MapPointF &p = rings.Points[k];
        const MapPointF &q =
            rings.Points[k + 1 < rings.Starts[r + 1] ? k + 1 : rings.Starts[r]];
        twiceArea += double(p.X) * q.Y - double(q.X) * p.Y;
        b = {std::min<double>(b.Left, p.X), std::min<double>(b.Top, p.Y),
             std::max<double>(b.Right, p.X), std::max<double>(b.Bottom, p.Y)};
      }
      if (std::abs(twiceArea) > best) {
        best = std::abs(twiceArea);
        nameBox_[i] = b;
      }
    }
  }
  const auto area = [this](size_t i) {
    const WorldBox &b = nameBox_[i];
    return (b.Right - b.Left) * (b.Bottom - b.Top);
  };
  std::stable_sort(byArea_.begin(), byArea_.end(),
                   [&](size_t a, size_t b) { return area(a) > area(b); });
}

// Points within this many pixels of the last one kept add nothing visible.
constexpr double kDecimatePixels = 0.6;

namespace {

// Sutherland-Hodgman against one side of the clip rectangle.
template <class Inside, class Cross>
void ClipSide(const QPolygonF &in, QPolygonF &out, Inside inside, Cross cross) {
  out.clear();
  const qsizetype n = in.size();
  for (qsizetype i = 0; i < n; ++i) {
    const QPointF &a = in[(i + n - 1) % n], &b = in[i];
    const bool ia = inside(a), ib = inside(b);
    if (ib) {
      if (!ia)
        out.append(cross(a, b));
      out.append(b);
    } else if (ia) {
      out.append(cross(a, b));
    }
  }
}

// The ring cut to `r`: what lies outside becomes a run along r's sides,
// which the caller keeps outside the window, so neither fill nor border
// shows it.
void ClipToRect(QPolygonF &polygon, const QRectF &r) {
  QPolygonF tmp;
  const auto atX = [](double x) {
    return [x](const QPointF &a, const QPointF &b) {
      return QPointF(x,
                     a.y() + (b.y() - a.y()) * (x - a.x()) / (b.x() - a.x()));
    };
  };
  const auto atY = [](double y) {
    return [y](const QPointF &a, const QPointF &b) {
      return QPointF(a.x() + (b.x() - a.x()) * (y - a.y()) / (b.y() - a.y()),
                     y);
    };
  };
  ClipSide(
      polygon, tmp, [&](const QPointF &p) { return p.x() >= r.left(); },
      atX(r.left()));
  ClipSide(
      tmp, polygon, [&](const QPointF &p) { return p.x() <= r.right(); },
      atX(r.right()));
  ClipSide(
      polygon, tmp, [&](const QPointF &p) { return p.y() >= r.top(); },
      atY(r.top()));
  ClipSide(
      tmp, polygon, [&](const QPointF &p) { return p.y() <= r.bottom(); },
      atY(r.bottom()));
}

} // namespace

QPainterPath MapPainter::ScreenOutline(size_t place, const MapView &view,
                                       bool fine) const {
  const MapRings &rings =
      fine ? map_.Places[place].Fine : map_.Places[place].Coarse;
  const double w = view.Width(), h = view.Height();
  const QRectF clip(-8, -8, w + 16, h + 16);
  QPainterPath path;
  path.setFillRule(Qt::OddEvenFill); // lakes and enclaves stay open
  QPolygonF polygon;
  for (size_t r = 0; r < rings.RingCount(); ++r) {
    const uint32_t a = rings.Starts[r], b = rings.Starts[r + 1];
    if (b - a < 3)
      continue;
    polygon.clear();
    double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
    for (uint32_t i = a; i < b; ++i) {
      const QPointF p(view.ScreenX(rings.Points[i].X),
                      view.ScreenY(rings.Points[i].Y));
      if (!polygon.isEmpty() && i + 1 < b) {
        const QPointF &last = polygon.constLast();
        if (std::abs(p.x() - last.x()) < kDecimatePixels &&
            std::abs(p.y() - last.y()) < kDecimatePixels)
          continue;
      }
      polygon.append(p);
      minX = std::min(minX, p.x());
      maxX = std::max(maxX, p.x());
      minY = std::min(minY, p.y());
      maxY = std::max(maxY, p.y());
    }
    if (maxX < clip.left() || minX > clip.right() || maxY < clip.top() ||
        minY > clip.bottom())
      continue;
    if (maxX - minX < 1 && maxY - minY < 1)
      continue; // a speck
    if (minX < clip.left() || maxX > clip.right() || minY < clip.top() ||
        maxY > clip.bottom())
      ClipToRect(polygon, clip);
    if (polygon.size() < 3)
      continue;
    polygon.append(polygon.front());
    path.addPolygon(polygon);
  }
  return path;
}

void MapPainter::Paint(QPainter &painter, const MapView &view,
                       const MapOverlay &overlay) {
  painter.save();
  painter.fillRect(QRectF(0, 0, view.Width(), view.Height()), kWater);
  painter.setRenderHint(QPainter::Antialiasing, true);
  const bool fine = view.Scale() >= kFineFromScale;
  PaintLand(painter, view, fine);
  PaintLabels(painter, view);
  if (overlay.Visited != nullptr)
    PaintVisited(painter, view, *overlay.Visited);
  if (overlay.Highlight >= 0 &&
      static_cast<size_t>(overlay.Highlight) < map_.Places.size())
    PaintHighlight(painter, view, overlay.Highlight);
  if (overlay.Selection)
    PaintSelection(painter, view, *overlay.Selection, overlay.Zoom);
  if (overlay.Outline != nullptr)
    PaintOutline(painter, view, *overlay.Outline);
  if (view.Scale() >= kDetailFromScale)
    PaintDetail(painter, view, overlay.Pointer);
  painter.restore();
}

void MapPainter::PaintDetail(QPainter &painter, const MapView &view,
                             const std::optional<QPointF> &pointer) {
  QFont font = painter.font();
  font.setPointSizeF(8);
  font.setItalic(false); // the province names' font may be the last one set
  painter.setFont(font);
  const QFontMetricsF metrics(font, painter.device());
  const double h = metrics.height() + 4;
  const double bottom = view.Height() - 6;
  // The scale bar at the bottom left, for the latitude of the map's
  // centre.
  const double latitude = WorldYToLatitude(view.Center().Y);
  const ScaleBar bar = ChooseScaleBar(view.Scale(), latitude, 120);
  if (bar.Pixels > 0) {
    const QString text = QString::fromStdString(bar.Text);
    const QRectF box(6, bottom - h - 8,
                     std::max(bar.Pixels, metrics.horizontalAdvance(text)) + 12,
                     h + 8);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 200));
    painter.drawRect(box);
    painter.setPen(Cosmetic(kCountryName, 1.5));
    const double y = bottom - 4;
    const double x0 = box.left() + 6, x1 = x0 + bar.Pixels;
    painter.drawLine(QPointF(x0, y), QPointF(x1, y));
    painter.drawLine(QPointF(x0, y - 5), QPointF(x0, y));
    painter.drawLine(QPointF(x1, y - 5), QPointF(x1, y));
    painter.drawText(QRectF(x0, box.top() + 1, box.width(), h),
                     Qt::AlignLeft | Qt::AlignVCenter, text);
  }
  if (!pointer)
    return;
  // The pointer's place at the bottom right, as the fields take it.
  const WorldPoint at = view.ScreenToWorld(pointer->x(), pointer->y());
  const QString text = QStringLiteral("Lon %1  Lat %2")
                           .arg(WorldXToLongitude(at.X), 0, 'f', 5)
                           .arg(WorldYToLatitude(at.Y), 0, 'f', 5);
  const double w = metrics.horizontalAdvance(text) + 12;
  const QRectF box(view.Width() - 6 - w, bottom - h, w, h);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(255, 255, 255, 200));
  painter.drawRect(box);
  painter.setPen(kCountryName);
  painter.drawText(box, Qt::AlignCenter, text);
}

void MapPainter::PaintLand(QPainter &painter, const MapView &view, bool fine) {
  const WorldBox visible = view.Visible();
  const bool provinces = view.Scale() >= kProvincesFromScale;
  std::vector<QPainterPath> countries;
  for (size_t i = 0; i < map_.Places.size(); ++i) {
    const MapPlace &p = map_.Places[i];
    if (p.Kind == PlaceKind::Country && p.Box.Intersects(visible))
      countries.push_back(ScreenOutline(i, view, fine));
  }
  // Land first, then the borders over it, so that no fill hides a border.
  // The fill without antialiasing (the borders drawn over it smooth its
  // edges): about a third of a frame less.
  painter.setPen(Qt::NoPen);
  painter.setBrush(kLand);
  painter.setRenderHint(QPainter::Antialiasing, false);
  for (const QPainterPath &path : countries)
    painter.drawPath(path);
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setBrush(Qt::NoBrush);
  if (provinces) {
    painter.setPen(Cosmetic(kProvinceBorder, 0.6));
    for (size_t i = 0; i < map_.Places.size(); ++i) {
      const MapPlace &p = map_.Places[i];
      if (p.Kind == PlaceKind::Province && p.Box.Intersects(visible))
        painter.drawPath(ScreenOutline(i, view, fine));
    }
  }
  painter.setPen(Cosmetic(kCountryBorder, 0.8));
  for (const QPainterPath &path : countries)
    painter.drawPath(path);
}

// Names go where the place is wide enough on screen to hold them, larger
// places first; a name that would overlap one already drawn is left out.
void MapPainter::PaintLabels(QPainter &painter, const MapView &view) {
  const WorldBox visible = view.Visible();
  const bool provinces = view.Scale() >= kProvincesFromScale;
  QFont countryFont = painter.font();
  countryFont.setPointSizeF(9);
  QFont provinceFont = countryFont;
  provinceFont.setPointSizeF(8);
  provinceFont.setItalic(true);
  const QFontMetricsF countryMetrics(countryFont, painter.device());
  const QFontMetricsF provinceMetrics(provinceFont, painter.device());
  std::vector<QRectF> taken;
  for (const size_t i : byArea_) {
    const MapPlace &p = map_.Places[i];
    const bool country = p.Kind == PlaceKind::Country;
    if ((!country && !provinces) || !p.Box.Intersects(visible))
      continue;
    const QRectF box = ScreenRect(view, nameBox_[i]);
    if (box.width() < 24 || box.height() < 10)
      continue; // too small for any name
    const QFontMetricsF &metrics = country ? countryMetrics : provinceMetrics;
    QString name = QString::fromStdString(p.Name);
    double w = metrics.horizontalAdvance(name);
    double h = metrics.height();
    // A long name too wide for its place goes on two lines, broken at the
    // space nearest its middle.
    if (w > box.width() * 1.1 && name.contains(QLatin1Char(' '))) {
      const qsizetype mid = name.size() / 2;
      qsizetype cut = name.lastIndexOf(QLatin1Char(' '), mid);
      const qsizetype after = name.indexOf(QLatin1Char(' '), mid);
      if (cut < 0 || (after >= 0 && after - mid < mid - cut))
        cut = after;
      const QString first = name.left(cut), second = name.mid(cut + 1);
      const double wrapped = std::max(metrics.horizontalAdvance(first),
                                      metrics.horizontalAdvance(second));
      if (wrapped < w) {
        name = first + QLatin1Char('\n') + second;
        w = wrapped;
        h *= 2;
      }
    }
    if (w > box.width() * 1.1 || h > box.height() * 0.6)
      continue;
    const QPointF at(view.ScreenX(p.Label.X), view.ScreenY(p.Label.Y));
    const QRectF rect(at.x() - w / 2, at.y() - h / 2, w, h);
    if (!rect.intersects(QRectF(0, 0, view.Width(), view.Height())))
      continue;
    const QRectF spaced = rect.adjusted(-4, -2, 4, 2);
    if (std::any_of(taken.begin(), taken.end(),
                    [&](const QRectF &r) { return r.intersects(spaced); }))
      continue;
    taken.push_back(spaced);
    painter.setFont(country ? countryFont : provinceFont);
    painter.setPen(country ? kCountryName : kProvinceName);
    painter.drawText(rect, Qt::AlignCenter, name);
  }
}

std::vector<std::optional<QRectF>>
PlaceLabels(const std::vector<QRectF> &wanted, int tries) {
  std::vector<std::optional<QRectF>> placed;
  std::vector<QRectF> taken;
  for (const QRectF &want : wanted) {
    std::optional<QRectF> at;
    QRectF r = want;
    for (int i = 0; i <= tries && !at; ++i, r.translate(0, -want.height()))
      if (std::none_of(taken.begin(), taken.end(),
                       [&](const QRectF &t) { return t.intersects(r); }))
        at = r;
    if (at)
      taken.push_back(*at);
    placed.push_back(at);
  }
  return placed;
}

void MapPainter::PaintVisited(QPainter &painter, const MapView &view,
                              const std::vector<VisitedArea> &visited) {
  QFont font = painter.font();
  font.setPointSizeF(8);
  painter.setFont(font);
  const QFontMetricsF metrics(font, painter.device());
  std::vector<QRectF> wanted;
  std::vector<size_t> named;
  painter.setPen(Cosmetic(kVisited, 1.0));
  painter.setBrush(
      QColor(kVisited.red(), kVisited.green(), kVisited.blue(), 28));
  for (size_t i = 0; i < visited.size(); ++i) {
    const QRectF r = ScreenRect(view, ToWorld(visited[i].Block)).normalized();
    painter.drawRect(r);
    if (r.width() <= 30 && r.height() <= 12)
      continue;
    // The name above the area's top left corner; names of areas with the
    // same corner (the same area fetched twice) stack up.
    const QString name = QString::fromStdString(visited[i].TaskName);
    const double w = metrics.horizontalAdvance(name) + 2;
    wanted.emplace_back(r.left() + 3, r.top() - 3 - metrics.height(), w,
                        metrics.height());
    named.push_back(i);
  }
  const std::vector<std::optional<QRectF>> at = PlaceLabels(wanted);
  for (size_t k = 0; k < at.size(); ++k)
    if (at[k])
      painter.drawText(*at[k], Qt::AlignLeft | Qt::AlignVCenter,
                       QString::fromStdString(visited[named[k]].TaskName));
}

void MapPainter::PaintHighlight(QPainter &painter, const MapView &view,
                                int place) {
  painter.setPen(Cosmetic(kHighlight, 2.0));
  painter.setBrush(
      QColor(kHighlight.red(), kHighlight.green(), kHighlight.blue(), 40));
  painter.drawPath(ScreenOutline(static_cast<size_t>(place), view,
                                 view.Scale() >= kFineFromScale));
}

void MapPainter::PaintSelection(QPainter &painter, const MapView &view,
                                const WorldBox &selection, int zoom) {
  const QRectF r = ScreenRect(view, selection).normalized();
  const double tilePixels = view.Scale() / std::ldexp(1.0, zoom);
  if (tilePixels >= kGridMinTilePixels)
    PaintTileBlock(painter, view, selection, zoom);
  painter.setBrush(
      QColor(kSelection.red(), kSelection.green(), kSelection.blue(), 36));
  painter.setPen(Cosmetic(kSelection, 1.6));
  painter.drawRect(r);
  PaintHandles(painter, r);
}

} // namespace kestrane
