#include "picker/PickAreaWindow.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStringListModel>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "areafile/AreaFromFile.h"
#include "areamap/PlaceOutline.h"
#include "areamap/PlaceSearch.h"
#include "picker/MapCanvas.h"
#include "platform/NumberFormat.h"
#include "task/Estimate.h"

namespace kestrane {

namespace {
QString QStr(const std::string &s) {
  return QString::fromStdString(s);
}
} // namespace

PickAreaWindow::PickAreaWindow(const std::string &mapPath, QWidget *parent)
    : QDialog(parent), canvas_(new MapCanvas(this)),
      search_(new QLineEdit(this)), searchNote_(new QLabel(this)),
      matchModel_(new QStringListModel(this)),
      completer_(new QCompleter(matchModel_, this)),
      selectMode_(new QToolButton(this)), useOutline_(new QCheckBox(this)),
      zoom_(new QSpinBox(this)), edges_(new QLabel(this)),
      tiles_(new QLabel(this)), mapNote_(new QLabel(this)),
      buttons_(new QDialogButtonBox(
          QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this)) {
  setObjectName(QStringLiteral("frmPickArea"));
  setWindowTitle(QStringLiteral("Pick area"));
  std::string loadFailure;
  try {
    map_ = LoadWorldMap(mapPath);
  } catch (const KError &e) {
    loadFailure = e.what();
  }
  canvas_->setObjectName(QStringLiteral("MapCanvas"));
  canvas_->SetMap(&map_);

  search_->setObjectName(QStringLiteral("EditFindPlace"));
  search_->setPlaceholderText(QStringLiteral("Country or province"));
  search_->setClearButtonEnabled(true);
  // The model holds exactly the matches: the drop-down shows it unfiltered.
  completer_->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
  completer_->setMaxVisibleItems(12);
  // Not the field's own completer: the field would size the drop-down to
  // its own width each time a key is typed.
  completer_->setWidget(search_);
  connect(search_, &QLineEdit::textEdited, this,
          [this](const QString &t) { UpdateMatches(t); });
  // A match chosen with the mouse, or with the arrow keys and Enter.
  connect(completer_, qOverload<const QModelIndex &>(&QCompleter::activated),
          this, [this](const QModelIndex &index) {
            matchChosen_ = true;
            search_->setText(index.data().toString());
            ShowMatch(static_cast<size_t>(index.row()));
          });
  connect(search_, &QLineEdit::returnPressed, this, [this] {
    if (std::exchange(matchChosen_, false))
      return;
    ShowPlace(search_->text());
  });
  searchNote_->setObjectName(QStringLiteral("LabelSearchNote"));
  searchNote_->setStyleSheet(QStringLiteral("color: #a33;"));
  searchNote_->hide();

  selectMode_->setObjectName(QStringLiteral("ButtonSelectMode"));
  selectMode_->setText(QStringLiteral("Select"));
  selectMode_->setToolTip(
      QStringLiteral("Drag draws the area (or hold Shift while dragging)"));
  selectMode_->setCheckable(true);
  connect(selectMode_, &QToolButton::toggled, this,
          [this](bool on) { canvas_->SetSelectMode(on); });
  auto *openArea = new QPushButton(QStringLiteral("Open area..."), this);
  openArea->setObjectName(QStringLiteral("ButtonOpenArea"));
  openArea->setAutoDefault(false);
  connect(openArea, &QPushButton::clicked, this, [this] { OpenAreaClicked(); });

  useOutline_->setObjectName(QStringLiteral("CheckUseOutline"));
  useOutline_->setText(QStringLiteral("Use outline"));
  useOutline_->setToolTip(QStringLiteral(
      "Only the tiles inside the outline of the place shown or of the file "
      "opened; the edges are the box around it"));
  useOutline_->setEnabled(false);
  connect(useOutline_, &QCheckBox::toggled, this, [this] { ApplyOutline(); });

  zoom_->setObjectName(QStringLiteral("SpinZoom"));
  zoom_->setRange(kMinZoom, kMaxZoom);
  zoom_->setValue(13);
  connect(zoom_, &QSpinBox::valueChanged, this, [this](int z) {
    canvas_->SetZoomLevel(z);
    UpdateFigures();
  });

  edges_->setObjectName(QStringLiteral("LabelEdges"));
  edges_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  tiles_->setObjectName(QStringLiteral("LabelTiles"));
  tiles_->setWordWrap(true);
  mapNote_->setWordWrap(true);
  mapNote_->setStyleSheet(QStringLiteral("color: #777;"));
  mapNote_->setText(
      loadFailure.empty()
          ? QStringLiteral("Drag to move the map, wheel or + and - to zoom, "
                           "Shift+drag (or Select) to draw the area; drag "
                           "its edges to move them.\nOutlines: Natural "
                           "Earth (public domain).")
          : QStr(loadFailure));

  auto *side = new QVBoxLayout;
  side->addWidget(new QLabel(QStringLiteral("Find place:"), this));
  side->addWidget(search_);
  side->addWidget(searchNote_);
  auto *tools = new QHBoxLayout;
  tools->addWidget(selectMode_);
  tools->addWidget(openArea);
  tools->addStretch(1);
  side->addLayout(tools);
  side->addWidget(useOutline_);
  auto *zoomRow = new QFormLayout;
  zoomRow->addRow(QStringLiteral("Zoom level:"), zoom_);
  side->addLayout(zoomRow);
  side->addWidget(edges_);
  side->addWidget(tiles_);
  side->addStretch(1);
  side->addWidget(mapNote_);
  side->addWidget(buttons_);
  auto *sidePanel = new QWidget(this);
  sidePanel->setLayout(side);
  sidePanel->setFixedWidth(250);

  auto *layout = new QHBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addWidget(canvas_, 1);
  layout->addWidget(sidePanel);

  // Return in the search field finds a place; it must not press OK.
  for (QAbstractButton *b : buttons_->buttons())
    if (auto *push = qobject_cast<QPushButton *>(b))
      push->setAutoDefault(false);
  connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(canvas_, &MapCanvas::SelectionChanged, this, [this] {
    // An area drawn or moved by hand is the rectangle again.
    if (!boxFromOutline_)
      useOutline_->setChecked(false);
    UpdateFigures();
  });
  // The main window places it beside itself, within the screen.
  resize(900, 600);
  search_->setFocus(); // a place name can be typed at once
  UpdateFigures();
}

PickAreaWindow::~PickAreaWindow() = default;

void PickAreaWindow::SetStart(const std::optional<GeoBox> &area, int zoom,
                              const Outline &outline) {
  zoom_->setValue(zoom);
  canvas_->SetZoomLevel(zoom_->value());
  if (area)
    SetArea(*area);
  if (!outline.empty()) {
    SetOfferedOutline(outline);
    useOutline_->setChecked(true);
    canvas_->ShowBox(ToWorld(OutlineBox(outline)), 0.5);
  }
}

void PickAreaWindow::SetOfferedOutline(Outline offered) {
  offered_ = std::move(offered);
  useOutline_->setEnabled(!offered_.empty());
  ApplyOutline();
}

void PickAreaWindow::ApplyOutline() {
  if (useOutline_->isChecked() && !offered_.empty()) {
    outline_ = offered_;
    boxFromOutline_ = true;
    canvas_->SetSelection(ToWorld(OutlineBox(outline_)));
    boxFromOutline_ = false;
  } else {
    outline_.clear();
  }
  canvas_->SetOutline(outline_);
  UpdateFigures();
}

void PickAreaWindow::SetVisited(std::vector<VisitedArea> visited) {
  canvas_->SetVisited(std::move(visited));
}

void PickAreaWindow::SetArea(const GeoBox &area) {
  const WorldBox box = ToWorld(area);
  canvas_->SetSelection(box);
  canvas_->ShowBox(box, 0.5);
}

std::optional<AreaFieldTexts> PickAreaWindow::PickedTexts() const {
  if (!canvas_->Selection())
    return std::nullopt;
  return FieldTextsFor(ToGeo(*canvas_->Selection()), PickedZoom());
}

int PickAreaWindow::PickedZoom() const {
  return zoom_->value();
}

void PickAreaWindow::UpdateMatches(const QString &typed) {
  matches_ = FindPlaces(map_, typed.toStdString());
  QStringList titles;
  for (const size_t i : matches_)
    titles << QStr(PlaceTitle(map_.Places[i]));
  matchModel_->setStringList(titles);
  // A search that finds nothing says so.
  const bool none = titles.isEmpty() && !typed.trimmed().isEmpty();
  searchNote_->setText(
      none ? QStringLiteral("No place matches \"%1\".").arg(typed.trimmed())
           : QString());
  searchNote_->setVisible(none);
  if (!titles.isEmpty() && search_->hasFocus())
    ShowMatchList(titles);
}

void PickAreaWindow::ShowMatchList(const QStringList &titles) {
  const QFontMetrics metrics(completer_->popup()->font());
  int longest = 0;
  for (const QString &title : titles)
    longest = std::max(longest, metrics.horizontalAdvance(title));
  // The text, the list's margins and frame, and a scroll bar.
  const int width =
      longest + 24 +
      completer_->popup()->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  completer_->complete(
      QRect(0, 0, std::max(width, search_->width()), search_->height()));
}

bool PickAreaWindow::ShowPlace(const QString &typed) {
  UpdateMatches(typed);
  if (matches_.empty())
    return false;
  ShowMatch(0);
  return true;
}

void PickAreaWindow::ShowMatch(size_t row) {
  if (row >= matches_.size())
    return;
  const size_t place = matches_[row];
  canvas_->SetHighlight(static_cast<int>(place));
  canvas_->ShowBox(map_.Places[place].Box, 0.08);
  SetOfferedOutline(PlaceOutline(map_.Places[place]));
}

void PickAreaWindow::OpenAreaClicked() {
  const QString file = QFileDialog::getOpenFileName(
      this, QStringLiteral("Open area"), QString(),
      QStringLiteral("Areas (*.geojson *.json *.kml *.gpx);;All files (*)"));
  if (!file.isEmpty())
    OpenAreaFile(file.toStdString());
}

void PickAreaWindow::OpenAreaFile(const std::string &path) {
  try {
    FileArea area = AreaOutlineFromFile(path);
    // The file's box, which its outline (when taken) keeps.
    boxFromOutline_ = true;
    SetArea(area.Box);
    boxFromOutline_ = false;
    SetOfferedOutline(std::move(area.Area));
  } catch (const KError &e) {
    Report(e.what());
  }
}

void PickAreaWindow::Report(const std::string &text) {
  if (messages_ != nullptr)
    messages_->ShowMessage(text);
  else
    QMessageBox::warning(this, windowTitle(), QStr(text));
}

void PickAreaWindow::UpdateFigures() {
  const std::optional<AreaFieldTexts> texts = PickedTexts();
  buttons_->button(QDialogButtonBox::Ok)->setEnabled(texts.has_value());
  if (!texts) {
    edges_->setText(QStringLiteral("No area yet."));
    tiles_->clear();
    return;
  }
  edges_->setText(QStringLiteral("Left: %1\nRight: %2\nTop: %3\nBottom: %4")
                      .arg(QStr(texts->Left), QStr(texts->Right),
                           QStr(texts->Top), QStr(texts->Bottom)));
  const std::optional<GeoBox> area = AreaFromFieldTexts(*texts);
  if (!area) {
    tiles_->clear();
    return;
  }
  // With an outline, the tiles inside it.
  AreaEstimate e;
  try {
    e = EstimateArea(area->Left, area->Right, area->Top, area->Bottom,
                     PickedZoom(), outline_);
  } catch (const KError &refused) {
    tiles_->setText(QStr(refused.what()));
    return;
  }
  QString figures =
      QStringLiteral("Tiles: %1 x %2 = %3")
          .arg(QStr(GroupDigits(e.Columns)), QStr(GroupDigits(e.Rows)),
               QStr(GroupDigits(e.Columns * e.Rows)));
  if (!outline_.empty())
    figures += QStringLiteral(", inside the outline %1")
                   .arg(QStr(GroupDigits(e.Tiles)));
  figures += QStringLiteral("\nLeast time: %1")
                 .arg(QStr(FormatDuration(e.LeastMilliseconds)));
  if (!outline_.empty())
    figures += QStringLiteral("\n") + QStr(OutlineSummary(outline_));
  tiles_->setText(figures);
}

} // namespace kestrane
