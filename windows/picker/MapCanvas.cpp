#include "picker/MapCanvas.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace kestrane {

namespace {
constexpr double kGrip = 6; // pixels from an edge that still grab it
constexpr double kWheelStep = 1.25;

WorldPoint Clamped(WorldPoint p) {
  return {std::clamp(p.X, 0.0, 1.0), std::clamp(p.Y, 0.0, 1.0)};
}
} // namespace

MapCanvas::MapCanvas(QWidget *parent) : QWidget(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  setMinimumSize(320, 240);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

MapCanvas::~MapCanvas() = default;

void MapCanvas::SetMap(const WorldMap *map) {
  map_ = map;
  painter_ = map ? std::make_unique<MapPainter>(*map) : nullptr;
  update();
}

void MapCanvas::SetVisited(std::vector<VisitedArea> visited) {
  visited_ = std::move(visited);
  overlay_.Visited = &visited_;
  update();
}

void MapCanvas::SetZoomLevel(int zoom) {
  overlay_.Zoom = zoom;
  update();
}

void MapCanvas::SetHighlight(int place) {
  overlay_.Highlight = place;
  update();
}

void MapCanvas::SetOutline(const Outline &area) {
  outline_ = QPainterPath();
  outline_.setFillRule(Qt::OddEvenFill);
  const auto addRing = [this](const OutlineRing &ring) {
    QPolygonF polygon;
    polygon.reserve(static_cast<qsizetype>(ring.size()) + 1);
    for (const LonLat &c : ring)
      polygon << QPointF(LongitudeToWorldX(c.Longitude),
                         LatitudeToWorldY(c.Latitude));
    outline_.addPolygon(polygon);
    outline_.closeSubpath();
  };
  for (const OutlinePolygon &p : area) {
    addRing(p.Outer);
    for (const OutlineRing &hole : p.Holes)
      addRing(hole);
  }
  overlay_.Outline = area.empty() ? nullptr : &outline_;
  update();
}

void MapCanvas::SetSelection(const std::optional<WorldBox> &box) {
  selection_ = box;
  update();
  emit SelectionChanged();
}

void MapCanvas::ShowBox(const WorldBox &box, double margin) {
  fit_ = {box, margin};
  moved_ = false;
  view_.Fit(box, margin);
  update();
}

void MapCanvas::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  overlay_.Selection = selection_;
  if (painter_) {
    painter_->Paint(painter, view_, overlay_);
  } else {
    static const WorldMap empty;
    MapPainter(empty).Paint(painter, view_, overlay_);
  }
}

void MapCanvas::resizeEvent(QResizeEvent *event) {
  QWidget::resizeEvent(event);
  view_.SetSize(width(), height());
  // Until the user moves the map, it keeps showing what it was asked to
  // show, whatever size the window settles on.
  if (!moved_) {
    if (fit_)
      view_.Fit(fit_->first, fit_->second);
    else
      view_.ShowWorld();
  }
}

int MapCanvas::EdgesAt(QPointF pos) const {
  if (!selection_)
    return 0;
  const double l = view_.ScreenX(selection_->Left);
  const double r = view_.ScreenX(selection_->Right);
  const double t = view_.ScreenY(selection_->Top);
  const double b = view_.ScreenY(selection_->Bottom);
  const bool withinX = pos.x() > l - kGrip && pos.x() < r + kGrip;
  const bool withinY = pos.y() > t - kGrip && pos.y() < b + kGrip;
  int edges = 0;
  if (withinY && std::abs(pos.x() - l) <= kGrip)
    edges |= kLeft;
  else if (withinY && std::abs(pos.x() - r) <= kGrip)
    edges |= kRight;
  if (withinX && std::abs(pos.y() - t) <= kGrip)
    edges |= kTop;
  else if (withinX && std::abs(pos.y() - b) <= kGrip)
    edges |= kBottom;
  return edges;
}

void MapCanvas::UpdateCursor(QPointF pos) {
  const int e = EdgesAt(pos);
  if ((e & (kLeft | kRight)) && (e & (kTop | kBottom)))
    setCursor(((e & kLeft) != 0) == ((e & kTop) != 0) ? Qt::SizeFDiagCursor
                                                      : Qt::SizeBDiagCursor);
  else if (e & (kLeft | kRight))
    setCursor(Qt::SizeHorCursor);
  else if (e & (kTop | kBottom))
    setCursor(Qt::SizeVerCursor);
  else if (selectMode_)
    setCursor(Qt::CrossCursor);
  else
    setCursor(Qt::OpenHandCursor);
}

void MapCanvas::mousePressEvent(QMouseEvent *event) {
  if (event->button() != Qt::LeftButton)
    return;
  last_ = event->position();
  moved_ = true;
  dragEdges_ = EdgesAt(last_);
  if (dragEdges_ != 0) {
    drag_ = Drag::Edges;
  } else if (selectMode_ || (event->modifiers() & Qt::ShiftModifier)) {
    drag_ = Drag::Draw;
    anchor_ = Clamped(view_.ScreenToWorld(last_.x(), last_.y()));
  } else {
    drag_ = Drag::Pan;
    setCursor(Qt::ClosedHandCursor);
  }
}

void MapCanvas::mouseMoveEvent(QMouseEvent *event) {
  const QPointF pos = event->position();
  const WorldPoint at = Clamped(view_.ScreenToWorld(pos.x(), pos.y()));
  overlay_.Pointer = pos;
  switch (drag_) {
  case Drag::None:
    UpdateCursor(pos);
    if (view_.Scale() >= kDetailFromScale)
      update(); // the pointer's coordinates
    return;
  case Drag::Pan:
    view_.PanBy(pos.x() - last_.x(), pos.y() - last_.y());
    break;
  case Drag::Draw:
    selection_ = WorldBox{std::min(anchor_.X, at.X), std::min(anchor_.Y, at.Y),
                          std::max(anchor_.X, at.X), std::max(anchor_.Y, at.Y)};
    emit SelectionChanged();
    break;
  case Drag::Edges: {
    WorldBox b = *selection_;
    if (dragEdges_ & kLeft)
      b.Left = at.X;
    if (dragEdges_ & kRight)
      b.Right = at.X;
    if (dragEdges_ & kTop)
      b.Top = at.Y;
    if (dragEdges_ & kBottom)
      b.Bottom = at.Y;
    // An edge dragged past its opposite one becomes that edge.
    if (b.Left > b.Right) {
      std::swap(b.Left, b.Right);
      dragEdges_ ^= kLeft | kRight;
    }
    if (b.Top > b.Bottom) {
      std::swap(b.Top, b.Bottom);
      dragEdges_ ^= kTop | kBottom;
    }
    selection_ = b;
    emit SelectionChanged();
    break;
  }
  }
  last_ = pos;
  update();
}

void MapCanvas::mouseReleaseEvent(QMouseEvent *event) {
  if (event->button() != Qt::LeftButton)
    return;
  // A click without a drag in select mode makes no area.
  if (drag_ == Drag::Draw && selection_ &&
      (selection_->Right - selection_->Left) * view_.Scale() < 2 &&
      (selection_->Bottom - selection_->Top) * view_.Scale() < 2)
    SetSelection(std::nullopt);
  drag_ = Drag::None;
  UpdateCursor(event->position());
}

void MapCanvas::wheelEvent(QWheelEvent *event) {
  const double steps = event->angleDelta().y() / 120.0;
  const QPointF pos = event->position();
  moved_ = true;
  view_.ZoomAbout(pos.x(), pos.y(), std::pow(kWheelStep, steps));
  update();
}

void MapCanvas::leaveEvent(QEvent *event) {
  QWidget::leaveEvent(event);
  overlay_.Pointer.reset();
  update();
}

void MapCanvas::keyPressEvent(QKeyEvent *event) {
  const double cx = width() / 2.0, cy = height() / 2.0;
  switch (event->key()) {
  case Qt::Key_Plus:
  case Qt::Key_Equal:
    view_.ZoomAbout(cx, cy, 2);
    break;
  case Qt::Key_Minus:
    view_.ZoomAbout(cx, cy, 0.5);
    break;
  case Qt::Key_Left:
    view_.PanBy(width() / 4.0, 0);
    break;
  case Qt::Key_Right:
    view_.PanBy(-width() / 4.0, 0);
    break;
  case Qt::Key_Up:
    view_.PanBy(0, height() / 4.0);
    break;
  case Qt::Key_Down:
    view_.PanBy(0, -height() / 4.0);
    break;
  default:
    QWidget::keyPressEvent(event);
    return;
  }
  moved_ = true;
  update();
}

} // namespace kestrane
