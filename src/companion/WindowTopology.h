#pragma once

#include "companion/Ledge.h"
#include "platform/X11WindowList.h"

#include <functional>
#include <set>
#include <vector>

// The windows on screen, read from the window manager's list: other
// applications' to stand on, this one's only to hide what lies behind them.
namespace WindowTopology {

// The on-screen windows, front to back, frames in the cat's y-up points with
// their title bars: normal windows on the current desktop that are shown, at
// least 160 x 90 points, more than 90 % opaque, not kept above others, and not
// in `excluding`; this process's own marked `own`, its panels kept above
// others included (they hide the edges behind them but are no ledges). Without
// a window manager, none.
std::vector<WindowInfo> snapshot(const std::set<quint32> &excluding, double primaryHeight);

// The filter of `snapshot` over a list read bottom-most first. `toPoints` turns
// root pixels into y-up points.
std::vector<WindowInfo> fromClients(const std::vector<X11::ClientWindow> &bottomFirst,
                                    const std::set<quint32> &excluding, quint32 ownPid,
                                    const std::function<QRectF(const QRect &)> &toPoints);

} // namespace WindowTopology
