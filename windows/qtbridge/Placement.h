#pragma once
// Where a new window of the program goes: beside the main window, never
// over it, within the screen. The main window moves aside when the screen
// has no room beside it; the tool programs (viewer, joiner) are told their
// place on their command line.
#include <QMargins>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace kestrane {

// Which side of the main window a new window tries first: the right, or
// the left, where the main window's fields are (the converter, whose result
// goes into them).
enum class PreferSide { Right, Left };

// The frames (window-manager decorations included) of the main window and
// of the new window.
struct Placement {
  QRect Anchor; // where the main window goes: moved only to make room
  QRect Window;
};

// The side of `anchor` with room for the most of `wanted` (and at least
// `minimum`) within `screen`: right, left, below or above (left, below,
// above, right when `prefer` is Left; the first wins a tie), `gap` pixels
// away, aligned with the anchor's top (or left) as far as the screen
// allows. When no side has room for `minimum`, the anchor moves towards the
// screen's edge, as little as needed, to make room on the side that can
// have the most; the window then takes that room. On a screen too small
// for both, the window is cut to the screen and may overlap the anchor.
Placement PlaceBeside(const QRect &anchor, const QSize &wanted,
                      const QSize &minimum, const QRect &screen,
                      PreferSide prefer = PreferSide::Right, int gap = 8);

// The same for a window that opens beside `main`: `wanted` and `minimum`
// are client sizes; the decorations are taken to be those of `main`.
// Moves `main` when it must make room; returns the new window's client
// geometry.
QRect PlaceBesideWindow(QWidget *main, const QSize &wanted,
                        const QSize &minimum,
                        PreferSide prefer = PreferSide::Right);

// Puts `window` (not yet shown, or shown) at the client geometry `client`.
// A window manager may place a new window by its own rules when it maps:
// the place is asked for again once it is shown.
void MoveToPlace(QWidget *window, const QRect &client);

// The client geometry on a tool program's command line: "--place" then
// "X,Y,W,H".
QStringList PlaceArguments(const QRect &client);
// The geometry after "--place" among `arguments`; nullopt when there is
// none or it does not read as four whole numbers with a positive size.
std::optional<QRect> PlaceFromArguments(const QStringList &arguments);

} // namespace kestrane
