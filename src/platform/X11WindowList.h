#pragma once

#include <QMargins>
#include <QRect>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

struct xcb_connection_t;

// The top-level windows the window manager manages, read from its EWMH lists.
//
// One read costs two round trips to the X server: the root's lists first, then
// every window's attributes in one batch (all requests sent, then all replies
// collected), so the cost hardly grows with the number of windows. Only windows
// named by WM_NAME alone (old Xlib clients) cost a third round, together.
//
// A window manager that keeps no stacking list (twm and other pre-EWMH ones) is
// read from the X server's own stacking order instead: the root's children,
// bottom-most first, each with the client inside it that carries WM_STATE (the
// window manager's mark on the windows it manages); the frame is the root's child.
// That costs two or three rounds more. Without a window manager no window carries
// WM_STATE, so the list is empty.
//
// Coordinates are the X server's: root-window pixels, origin at the top left,
// y downwards. Callers that work in Qt's logical points divide by the screen's
// device pixel ratio.
namespace X11 {

// _NET_WM_WINDOW_TYPE: the first type of the window's list that we know.
enum class WindowType {
    normal, // also when the window names no type (EWMH's default for top-levels)
    dialog,
    utility,
    toolbar,
    menu,
    splash,
    dock,
    desktop,
    dropdownMenu,
    popupMenu,
    tooltip,
    notification,
    combo,
    dnd,
    other, // a type list of names we do not know
};

// A bit set of the _NET_WM_STATE atoms we read.
enum WindowState : uint32_t {
    stateHidden = 1u << 0, // minimised (iconic) or otherwise not shown; its coordinates are stale
    stateFullscreen = 1u << 1,
    stateAbove = 1u << 2,
    stateBelow = 1u << 3,
    stateSticky = 1u << 4,
    stateSkipTaskbar = 1u << 5,
    stateSkipPager = 1u << 6,
    stateMaximizedHorz = 1u << 7,
    stateMaximizedVert = 1u << 8,
    stateShaded = 1u << 9,
};

struct ClientWindow {
    // The client window's id (not the window manager's frame around it).
    uint32_t id = 0;
    // The client area in root coordinates, decorations excluded.
    QRect geometry;
    // _NET_FRAME_EXTENTS (left, top, right, bottom); zero when the window has none.
    // Read from the frame window around the client when the window manager keeps
    // no EWMH lists.
    QMargins frameExtents;
    // _GTK_FRAME_EXTENTS: the invisible margin (shadow, resize border) a window
    // that draws its own decorations keeps inside its client area; zero when unset.
    QMargins clientMargins;
    // _NET_WM_STATE bits (WindowState).
    uint32_t state = 0;
    WindowType type = WindowType::normal;
    // _NET_WM_DESKTOP; absent when unset, 0xFFFFFFFF for "on all desktops". Not
    // read while the window manager keeps a single desktop.
    std::optional<uint32_t> desktop;
    // On the desktop shown now: no desktop set, on all desktops, or the current one.
    bool onCurrentDesktop = true;
    // Shown now, as the window manager's state says: not hidden, not shaded,
    // and on the current desktop (read from the properties, with no request of its own).
    bool viewable = true;
    // _NET_WM_WINDOW_OPACITY as 0...1; 1 when unset (or not asked for).
    double opacity = 1.0;
    // _NET_WM_PID; 0 when unset.
    uint32_t pid = 0;
    // _NET_WM_NAME (UTF-8), else WM_NAME; cut at kMaxTitleLength UTF-16 units
    // without splitting a character. Empty when not asked for.
    QString title;
    // WM_CLASS: the instance and class names. Empty when not asked for.
    QString instanceName;
    QString className;

    bool hidden() const { return state & stateHidden; }
    // The window as the user sees it, with its decorations: the geometry less the
    // invisible client margin, grown by the frame extents.
    QRect outerFrame() const { return geometry.marginsRemoved(clientMargins).marginsAdded(frameExtents); }
};

inline constexpr int kMaxTitleLength = 1024;

// What a read asks for beyond the geometry, frame, state, type, desktop and pid,
// which it always reads: each costs one request per window.
enum Field : uint32_t {
    fieldTitle = 1u << 0,
    fieldClass = 1u << 1,
    fieldOpacity = 1u << 2,
    fieldAll = fieldTitle | fieldClass | fieldOpacity,
};

// Bottom-most first, as _NET_CLIENT_LIST_STACKING lists them, else as the X
// server stacks the managed windows' frames (else in _NET_CLIENT_LIST's order).
// Windows that vanish while being read are left out. An empty list without a
// window manager or connection.
std::vector<ClientWindow> readClientWindows(xcb_connection_t *connection, uint32_t root, uint32_t fields = fieldAll);
// The same on the application's own connection (X11::connection()).
std::vector<ClientWindow> readClientWindows(uint32_t fields = fieldAll);

// A rectangle of root pixels in the desktop's global points with y upwards from
// the bottom of the primary screen (what the companion and the focus guard use):
// divided by the primary screen's device pixel ratio and flipped at its bottom.
QRectF toDesktopPoints(const QRect &rootPixels);

} // namespace X11
