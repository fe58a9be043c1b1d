#pragma once

struct xcb_connection_t;

// The X connection the application's windows live on, or none when the
// application does not run on X11 (offscreen tests, Wayland).
namespace X11 {
xcb_connection_t *connection();
unsigned int rootWindow();
bool available();
} // namespace X11

#include <QRect>
#include <optional>
#include <vector>

namespace X11 {
// Sets the window's input shape: pointer events reach it only inside `rects`
// (window pixels); everywhere else they pass to what lies beneath. An empty
// list lets every click through.
void setInputShape(unsigned int window, const std::vector<QRect> &rects);
// A compositing manager owns the screen's _NET_WM_CM_S0 selection: without one,
// translucent windows show black where they are transparent.
bool compositorRunning();
// The monitors of a Xinerama desktop in root pixels, when Xinerama is active
// with more than one; Qt itself sees such a desktop as a single screen.
std::vector<QRect> xineramaHeads();
// The pointer in root pixels, asked one call ahead: each call takes the answer
// to the previous call's question (long arrived at a frame's pace) and asks
// again, so a frame never waits on the server. None without a connection.
std::optional<QPoint> pointerAhead();
// Asks the window manager to keep `window` on every desktop, above normal
// windows and out of the taskbar and pager. Written as properties while the
// window is unmapped (they are read when it is mapped) and sent as requests
// to the window manager once it is managed.
void markFloating(unsigned int window);
} // namespace X11
