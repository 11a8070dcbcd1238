#pragma once
// Draws the picker's map with a QPainter: water and land, country and
// province borders, names where they fit, the areas of earlier tasks, a
// found place, the selected area and the tile grid over it. The widget and
// the benchmark draw through it alike.
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <optional>
#include <vector>

#include "areamap/MapView.h"
#include "areamap/VisitedAreas.h"
#include "areamap/WorldMap.h"

class QPainter;

namespace kestrane {

// What is drawn over the outlines.
struct MapOverlay {
  std::optional<WorldBox> Selection;
  int Zoom = 13; // the tile grid's zoom
  const std::vector<VisitedArea> *Visited = nullptr;
  int Highlight = -1; // index of a found place, or -1
  // The area's outline in world units (null: the area is its box).
  const QPainterPath *Outline = nullptr;
  // Where the pointer is over the map (none: outside it).
  std::optional<QPointF> Pointer;
};

// Tiles narrower than this (pixels) make no grid: it would be a solid fill.
inline constexpr double kGridMinTilePixels = 6;
// From this scale on (pixels per world unit; about 150 m a pixel at the
// equator, a city across the window) the map shows a scale bar and the
// pointer's coordinates.
inline constexpr double kDetailFromScale = 262144;

// Where names go that must not draw over each other: each wanted rectangle
// at its place, else moved up by its own height (a stack of names over one
// corner) as often as `tries` allows; nullopt for one that finds no free
// place.
std::vector<std::optional<QRectF>>
PlaceLabels(const std::vector<QRectF> &wanted, int tries = 4);

class MapPainter {
public:
  explicit MapPainter(const WorldMap &map);

  void Paint(QPainter &painter, const MapView &view, const MapOverlay &overlay);

private:
  // The outline of a place on screen: points closer than a pixel merged,
  // rings reaching out of the window cut to it, specks left out.
  QPainterPath ScreenOutline(size_t place, const MapView &view,
                             bool fine) const;
  void PaintLand(QPainter &painter, const MapView &view, bool fine);
  void PaintLabels(QPainter &painter, const MapView &view);
  void PaintVisited(QPainter &painter, const MapView &view,
                    const std::vector<VisitedArea> &visited);
  void PaintHighlight(QPainter &painter, const MapView &view, int place);
  void PaintSelection(QPainter &painter, const MapView &view,
                      const WorldBox &selection, int zoom);
  // The scale bar and the pointer's coordinates, at city scale.
  void PaintDetail(QPainter &painter, const MapView &view,
                   const std::optional<QPointF> &pointer);

  const WorldMap &map_;
  std::vector<WorldBox> nameBox_; // each place's largest part
  std::vector<size_t> byArea_;    // places, largest part first (name order)
};

} // namespace kestrane
