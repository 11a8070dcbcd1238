#pragma once
// The map of the area picker: drag to pan, wheel (about the pointer) and
// the keys + and - to zoom, Shift+drag or the select mode to draw the area,
// the area's edges and corners dragged to move them. At city scale it shows
// a scale bar and the pointer's coordinates.
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

#include "areamap/MapView.h"
#include "geo/Outline.h"
#include "picker/MapPainter.h"

namespace kestrane {

class MapCanvas : public QWidget {
  Q_OBJECT
public:
  explicit MapCanvas(QWidget *parent = nullptr);
  ~MapCanvas() override;

  void SetMap(const WorldMap *map);
  void SetVisited(std::vector<VisitedArea> visited);
  void SetZoomLevel(int zoom);
  void SetHighlight(int place);
  int Highlight() const { return overlay_.Highlight; }
  void SetSelectMode(bool on) { selectMode_ = on; }
  // Draws the area's outline over its box; an empty one draws none.
  void SetOutline(const Outline &area);
  bool ShowsOutline() const { return overlay_.Outline != nullptr; }

  const std::optional<WorldBox> &Selection() const { return selection_; }
  // Sets the area without moving the map.
  void SetSelection(const std::optional<WorldBox> &box);
  // Shows `box` whole, now and after every resize until the user moves
  // the map.
  void ShowBox(const WorldBox &box, double margin);
  MapView &View() { return view_; }

signals:
  void SelectionChanged();

protected:
  void paintEvent(QPaintEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;
  void wheelEvent(QWheelEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
  void leaveEvent(QEvent *event) override;

private:
  enum Edge { kLeft = 1, kRight = 2, kTop = 4, kBottom = 8 };
  enum class Drag { None, Pan, Draw, Edges };
  // The edges of the area within reach of the pointer (an Edge mask).
  int EdgesAt(QPointF pos) const;
  void UpdateCursor(QPointF pos);

  const WorldMap *map_ = nullptr;
  std::unique_ptr<MapPainter> painter_;
  std::vector<VisitedArea> visited_;
  MapView view_;
  MapOverlay overlay_;
  std::optional<WorldBox> selection_;
  QPainterPath outline_;                           // world units
  std::optional<std::pair<WorldBox, double>> fit_; // none: the world
  bool moved_ = false;
  bool selectMode_ = false;
  Drag drag_ = Drag::None;
  int dragEdges_ = 0;
  QPointF last_;
  WorldPoint anchor_;
};

} // namespace kestrane
