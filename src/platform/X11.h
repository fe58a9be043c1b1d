#pragma once

struct xcb_connection_t;
class QScreen;

// The X connection the application's windows live on, or none when the
// application does not run on X11 (offscreen tests, Wayland).
namespace X11 {
xcb_connection_t *connection();
unsigned int rootWindow();
bool available();
} // namespace X11

#include <QRect>
#include <QRectF>
#include <functional>
#include <optional>
#include <vector>

namespace X11 {
// Sets the window's input shape: pointer events reach it only inside `rects`
// (window pixels); everywhere else they pass to what lies beneath. An empty
// list lets every click through.
void setInputShape(unsigned int window, const std::vector<QRect> &rects);
// Sets the window's bounding shape: only `rects` (window pixels) of it are
// drawn, everything else shows what lies beneath, with or without a compositor.
// An empty list makes the window invisible; nullopt gives back the full window.
// Returns the request's sequence number (0 without a connection).
unsigned int setBoundingShape(unsigned int window, const std::optional<std::vector<QRect>> &rects);
// Moves the top-level `window` to `to`'s corner (root pixels; `to` is where the
// window then lies) with one request of its own: Qt would write the window's
// size hints again with every move. For a window of trustMoveNotices' the
// server's notice of that very move is not passed on to Qt (unless `tellQt`),
// which would ask the server for the window's frame (four round trips) at
// each: Qt's idea of the window's place then lags behind the walk (the caller
// keeps the place). Returns the request's sequence number (0 without a
// connection).
unsigned int moveWindow(unsigned int window, const QRect &to, bool tellQt = false);
// Qt is about to move `window` (one of trustMoveNotices') to `to`: its notice
// is Qt's, not another program's.
void qtMoves(unsigned int window, QPoint to);
// Whether another program moved `window` (one of trustMoveNotices') since
// last asked; Qt is told of such moves.
bool takeDisplaced(unsigned int window);
// Where the server has the top-level `window`'s origin, in root pixels (inside
// a window manager's frame, where the frame puts it); none without a connection
// or once the window is gone. Asks the server and waits for its answer.
std::optional<QPoint> rootPosition(unsigned int window);
// A compositing manager owns the screen's _NET_WM_CM_S<n> selection: without one,
// translucent windows show black where they are transparent.
bool compositorRunning();
// Calls `changed` (on the main thread) whenever that selection changes owner: a
// compositing manager starts, quits or is replaced. Needs the XFixes extension;
// returns 0 without it (or without X), else a number for unwatchCompositor.
int watchCompositor(std::function<void()> changed);
void unwatchCompositor(int watch);
// A tray host (a panel's notification area, trayer, stalonetray) owns the
// screen's _NET_SYSTEM_TRAY_S<n> selection while it runs.
bool trayHostPresent();
// As watchCompositor, for that selection: a tray host comes, goes or is replaced.
int watchTrayHost(std::function<void()> changed);
void unwatchTrayHost(int watch);
// Keeps `ours` (override-redirect top-levels of this application) above every
// managed window: when a window the window manager placed is stacked above one
// of them, they are restacked just above the topmost such window. Menus and
// other override-redirect windows of other applications are left above. Returns
// whether anything was restacked.
bool keepAbove(const std::vector<unsigned int> &ours);
// The top-level windows of the screen in the server's stacking order,
// bottom-most first (the root's children).
std::vector<unsigned int> stackingOrder();
// The monitors of a Xinerama desktop in root pixels, when Xinerama is active
// with more than one; Qt itself sees such a desktop as a single screen.
std::vector<QRect> xineramaHeads();
// A monitor as the user sees it, in Qt's logical coordinates (y down): its
// frame, the part the window manager leaves to windows, and Qt's screen there.
struct Monitor {
    QRectF frame;
    QRectF available;
    QScreen *screen = nullptr;
};
// Qt's screens, the primary first; on a Xinerama desktop of `heads`
// (xineramaHeads()), each monitor, the work area narrowing the first.
std::vector<Monitor> monitors(const std::vector<QRect> &heads);
// The pointer in root pixels, asked one call ahead: each call takes the answer
// to the previous call's question (long arrived at a frame's pace) and asks
// again, so a frame never waits on the server. None without a connection.
std::optional<QPoint> pointerAhead();
// Asks the window manager to keep `window` on every desktop, above normal
// windows and out of the taskbar and pager. Written as properties while the
// window is unmapped (they are read when it is mapped) and sent as requests
// to the window manager once it is managed. Returns whether they were sent:
// the server has the window mapped, so the window manager has taken it in.
bool markFloating(unsigned int window);
// Each time the server says a top-level window moved, Qt asks it again where the
// window is and waits for the answer (a window manager may have put it in a
// frame). An override-redirect window of ours lies on the root itself, so the
// notice's position is already the answer: for `window` Qt takes it as it is,
// and a window that moves every frame costs no wait per frame.
void trustMoveNotices(unsigned int window);
void forgetMoveNotices(unsigned int window);
// The server exposes a window's parts that a move or a new shape of it laid
// open. When the caller repaints and sends the whole window right after those
// requests (`sequences`), Qt need not send the exposed parts a second time: those
// exposures of `window` (one of trustMoveNotices') are dropped, until one of
// the window's exposures comes from anything else.
void repaintFollows(unsigned int window, const std::vector<unsigned int> &sequences);
// Takes `window` off the screen on the server, as a client withdraws it
// (unmap, and the synthetic UnmapNotify a window manager waits for), also when
// the toolkit already counts it hidden.
void withdraw(unsigned int window);
// Asks for the top-level `window` to be mapped, as a toolkit's show does (a
// window manager takes the request in).
void map(unsigned int window);
// Whether the server has `window` mapped (shown, or in a frame not shown yet).
bool mappedOnServer(unsigned int window);
// Whether the server has `window` unmapped and no window manager keeps it (its
// WM_STATE is gone or says withdrawn): only a new map request brings it back.
bool withdrawnOnServer(unsigned int window);
// Calls `changed` (on the main thread) each time the server maps, unmaps or
// reparents the top-level `window`, or a window manager changes its WM_STATE:
// each step of a window manager taking the window in or letting it go.
// Returns 0 without X, else a number for unwatchManaging.
int watchManaging(unsigned int window, std::function<void()> changed);
void unwatchManaging(int watch);
} // namespace X11
