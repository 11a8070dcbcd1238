#include "qtbridge/Placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <array>
#include <cstdint>

namespace kestrane {

namespace {

enum class Side { Right, Left, Below, Above };
using Sides = std::array<Side, 4>;
constexpr Sides kRightFirst = {Side::Right, Side::Left, Side::Below,
                               Side::Above};
constexpr Sides kLeftFirst = {Side::Left, Side::Below, Side::Above,
                              Side::Right};

bool Horizontal(Side side) {
  return side == Side::Right || side == Side::Left;
}

// The room on `side` of `anchor` within `screen` (empty when there is none).
QRect Room(const QRect &anchor, Side side, const QRect &screen, int gap) {
  // Exclusive edges: x in [left, right), y in [top, bottom).
  int left = screen.left(), top = screen.top();
  int right = screen.left() + screen.width();
  int bottom = screen.top() + screen.height();
  switch (side) {
  case Side::Right:
    left = anchor.left() + anchor.width() + gap;
    break;
  case Side::Left:
    right = anchor.left() - gap;
    break;
  case Side::Below:
    top = anchor.top() + anchor.height() + gap;
    break;
  case Side::Above:
    bottom = anchor.top() - gap;
    break;
  }
  if (right <= left || bottom <= top)
    return {};
  return QRect(left, top, right - left, bottom - top);
}

// As much of `wanted` as fits into `room`, next to the anchor and aligned
// with its top (beside it) or its left (above or below it).
QRect InRoom(const QRect &room, const QRect &anchor, const QSize &wanted,
             Side side) {
  const QSize size = wanted.boundedTo(room.size());
  int x = 0, y = 0;
  if (Horizontal(side)) {
    x = side == Side::Right ? room.left()
                            : room.left() + room.width() - size.width();
    y = std::clamp(anchor.top(), room.top(),
                   room.top() + room.height() - size.height());
  } else {
    y = side == Side::Below ? room.top()
                            : room.top() + room.height() - size.height();
    x = std::clamp(anchor.left(), room.left(),
                   room.left() + room.width() - size.width());
  }
  return QRect(QPoint(x, y), size);
}

bool Fits(const QSize &size, const QSize &minimum) {
  return size.width() >= minimum.width() && size.height() >= minimum.height();
}

int64_t AreaOf(const QRect &r) {
  return int64_t{r.width()} * r.height();
}

// The anchor moved away from `side` until `wanted` fits beside it or it
// meets the screen's edge.
QRect MovedAside(const QRect &anchor, Side side, const QSize &wanted,
                 const QRect &screen, int gap) {
  const QRect room = Room(anchor, side, screen, gap);
  const int have = room.isEmpty()     ? 0
                   : Horizontal(side) ? room.width()
                                      : room.height();
  const int want = Horizontal(side) ? wanted.width() : wanted.height();
  const int need = std::max(0, want - have);
  QRect moved = anchor;
  switch (side) {
  case Side::Right:
    moved.moveLeft(std::max(screen.left(), anchor.left() - need));
    break;
  case Side::Left:
    moved.moveLeft(std::min(screen.left() + screen.width() - anchor.width(),
                            anchor.left() + need));
    break;
  case Side::Below:
    moved.moveTop(std::max(screen.top(), anchor.top() - need));
    break;
  case Side::Above:
    moved.moveTop(std::min(screen.top() + screen.height() - anchor.height(),
                           anchor.top() + need));
    break;
  }
  // Never further than it was: a window already past the edge stays.
  if (Horizontal(side) ? (side == Side::Right ? moved.left() > anchor.left()
                                              : moved.left() < anchor.left())
                       : (side == Side::Below ? moved.top() > anchor.top()
                                              : moved.top() < anchor.top()))
    return anchor;
  return moved;
}

// The best side for an anchor at its place; nullopt when none has room for
// `minimum`.
std::optional<Placement> BestSide(const QRect &anchor, const QSize &wanted,
                                  const QSize &minimum, const QRect &screen,
                                  const Sides &sides, int gap) {
  std::optional<Placement> best;
  for (const Side side : sides) {
    const QRect room = Room(anchor, side, screen, gap);
    if (room.isEmpty())
      continue;
    const QRect window = InRoom(room, anchor, wanted, side);
    if (Fits(window.size(), minimum) &&
        (!best || AreaOf(window) > AreaOf(best->Window)))
      best = Placement{anchor, window};
  }
  return best;
}

} // namespace

Placement PlaceBeside(const QRect &anchor, const QSize &wanted,
                      const QSize &minimum, const QRect &screen,
                      PreferSide prefer, int gap) {
  const Sides &sides = prefer == PreferSide::Left ? kLeftFirst : kRightFirst;
  if (std::optional<Placement> best =
          BestSide(anchor, wanted, minimum, screen, sides, gap))
    return *best;
  // No room as it stands: the anchor moves aside.
  std::optional<Placement> best;
  for (const Side side : sides) {
    const QRect moved = MovedAside(anchor, side, wanted, screen, gap);
    const QRect room = Room(moved, side, screen, gap);
    if (room.isEmpty())
      continue;
    const QRect window = InRoom(room, moved, wanted, side);
    if (Fits(window.size(), minimum) &&
        (!best || AreaOf(window) > AreaOf(best->Window)))
      best = Placement{moved, window};
  }
  if (best)
    return *best;
  // A screen too small for both: the window within the screen, at its
  // right edge, over the anchor.
  const QSize size = wanted.boundedTo(screen.size());
  const QPoint at(screen.left() + screen.width() - size.width(),
                  std::clamp(anchor.top(), screen.top(),
                             screen.top() + screen.height() - size.height()));
  return Placement{anchor, QRect(at, size)};
}

QRect PlaceBesideWindow(QWidget *main, const QSize &wanted,
                        const QSize &minimum, PreferSide prefer) {
  const QRect frame = main->frameGeometry();
  const QRect client = main->geometry();
  const QMargins decor(client.left() - frame.left(), client.top() - frame.top(),
                       frame.right() - client.right(),
                       frame.bottom() - client.bottom());
  const QSize extra(decor.left() + decor.right(), decor.top() + decor.bottom());
  QScreen *screen = main->screen();
  if (screen == nullptr)
    screen = QGuiApplication::primaryScreen();
  const QRect area =
      screen ? screen->availableGeometry() : QRect(0, 0, 1366, 768);
  const Placement p =
      PlaceBeside(frame, wanted + extra, minimum + extra, area, prefer);
  if (p.Anchor.topLeft() != frame.topLeft())
    main->move(p.Anchor.topLeft());
  return p.Window.marginsRemoved(decor);
}

void MoveToPlace(QWidget *window, const QRect &client) {
  window->setGeometry(client);
  if (window->isVisible())
    return;
  // Asked again once mapped: some window managers centre a new dialog
  // over its parent whatever it asked for.
  QTimer::singleShot(0, window, [window, client] {
    if (window->isVisible() && window->geometry() != client)
      window->setGeometry(client);
  });
}

QStringList PlaceArguments(const QRect &client) {
  return {QStringLiteral("--place"), QStringLiteral("%1,%2,%3,%4")
                                         .arg(client.x())
                                         .arg(client.y())
                                         .arg(client.width())
                                         .arg(client.height())};
}

std::optional<QRect> PlaceFromArguments(const QStringList &arguments) {
  const qsizetype at = arguments.indexOf(QStringLiteral("--place"));
  if (at < 0 || at + 1 >= arguments.size())
    return std::nullopt;
  const QStringList parts = arguments[at + 1].split(QLatin1Char(','));
  if (parts.size() != 4)
    return std::nullopt;
  int v[4];
  for (int i = 0; i < 4; ++i) {
    bool ok = false;
    v[i] = parts[i].toInt(&ok);
    if (!ok)
      return std::nullopt;
  }
  if (v[2] <= 0 || v[3] <= 0)
    return std::nullopt;
  return QRect(v[0], v[1], v[2], v[3]);
}

} // namespace kestrane
