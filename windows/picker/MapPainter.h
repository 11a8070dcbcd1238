#pragma once
// Draws the picker's map with a QPainter: water and land, country and
// province borders, names where they fit, the areas of earlier tasks, a
// found place, the selected area and the tile grid over it. The widget and
// the benchmark draw through it alike.
#include <QPainterPath>
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
};

// Tiles narrower than this (pixels) make no grid: it would be a solid fill.
inline constexpr double kGridMinTilePixels = 6;

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

  const WorldMap &map_;
  std::vector<WorldBox> nameBox_; // each place's largest part
  std::vector<size_t> byArea_;    // places, largest part first (name order)
};

} // namespace kestrane
