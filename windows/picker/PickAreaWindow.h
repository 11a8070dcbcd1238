#pragma once
// The window "Pick area": the offline map on which the user finds a place,
// draws the area and picks the zoom, with the tile count and the least
// download time of the area as it changes. OK hands the area back as the
// main window's field texts, and with "Use outline" the polygons of the
// place shown or of the file opened as the area inside them; the window
// itself writes no field.
#include <QDialog>
#include <optional>
#include <string>
#include <vector>

#include "areamap/AreaFields.h"
#include "areamap/VisitedAreas.h"
#include "areamap/WorldMap.h"
#include "geo/Outline.h"
#include "platform/Errors.h"

class QCheckBox;
class QCompleter;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QStringListModel;
class QToolButton;

namespace kestrane {

class MapCanvas;

class PickAreaWindow : public QDialog {
  Q_OBJECT
public:
  // `mapPath`: the map file of the bundle; when it does not load, the
  // window still works on an empty map and says why.
  explicit PickAreaWindow(const std::string &mapPath,
                          QWidget *parent = nullptr);
  ~PickAreaWindow() override;

  // Where failures go (null: a message box). Tests record the texts.
  void SetMessageSink(MessageSink *sink) { messages_ = sink; }

  // The area and zoom the window opens on (the main window's fields when
  // they hold a valid area; otherwise the whole world and no area), and
  // the outline in use there (empty: none).
  void SetStart(const std::optional<GeoBox> &area, int zoom,
                const Outline &outline = {});
  void SetVisited(std::vector<VisitedArea> visited);

  // The area as the fields' texts; nullopt while none is drawn.
  std::optional<AreaFieldTexts> PickedTexts() const;
  int PickedZoom() const;
  // The outline the area is, with "Use outline" on; empty: the box.
  const Outline &PickedOutline() const { return outline_; }

  // Finds the place the search field names (its first match), shows it
  // and outlines it. False when nothing matches (the window says so).
  bool ShowPlace(const QString &typed);
  // Shows and outlines the match in row `row` of the drop-down.
  void ShowMatch(size_t row);
  // "Open area..." after its file dialog.
  void OpenAreaFile(const std::string &path);
  void SetArea(const GeoBox &area);

  MapCanvas *Canvas() const { return canvas_; }
  const WorldMap &Map() const { return map_; }

private:
  void UpdateFigures();
  void UpdateMatches(const QString &typed);
  // The drop-down as wide as its longest match.
  void ShowMatchList(const QStringList &titles);
  void OpenAreaClicked();
  void Report(const std::string &text);
  // The polygons "Use outline" would take: the place shown last, or the
  // file opened last (empty: nothing to take).
  void SetOfferedOutline(Outline offered);
  // Takes the offered outline as the area, its box as the selection, while
  // "Use outline" is on; drops the outline otherwise.
  void ApplyOutline();

  WorldMap map_;
  MessageSink *messages_ = nullptr;
  std::vector<size_t> matches_;
  // A match chosen in the drop-down with Enter: the Enter that reaches the
  // field afterwards does not search again.
  bool matchChosen_ = false;
  MapCanvas *canvas_;
  QLineEdit *search_;
  QLabel *searchNote_;
  QStringListModel *matchModel_;
  QCompleter *completer_;
  QToolButton *selectMode_;
  QCheckBox *useOutline_;
  Outline offered_, outline_;
  // Set while the window itself moves the selection to the outline's box.
  bool boxFromOutline_ = false;
  QSpinBox *zoom_;
  QLabel *edges_;
  QLabel *tiles_;
  QLabel *mapNote_;
  QDialogButtonBox *buttons_;
};

} // namespace kestrane
