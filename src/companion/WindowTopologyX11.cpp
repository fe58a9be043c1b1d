#include "companion/WindowTopology.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>
#include <unistd.h>

namespace WindowTopology {

namespace {

// What the window server calls the normal layer: windows that stack among the
// user's own. Panels, docks, menus and windows kept above float over them.
bool normalLayer(const X11::ClientWindow &w)
{
    if (w.state & X11::stateAbove)
        return false;
    return w.type == X11::WindowType::normal || w.type == X11::WindowType::dialog;
}

bool sane(const QRectF &r)
{
    constexpr double limit = 1e6; // far beyond any screen
    return std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) && std::isfinite(r.height()) &&
           std::abs(r.x()) < limit && std::abs(r.y()) < limit && r.width() < limit && r.height() < limit;
}

} // namespace

std::vector<WindowInfo> fromClients(const std::vector<X11::ClientWindow> &bottomFirst,
                                    const std::set<quint32> &excluding, quint32 ownPid,
                                    const std::function<QRectF(const QRect &)> &toPoints)
{
    std::vector<WindowInfo> out;
    for (auto it = bottomFirst.rbegin(); it != bottomFirst.rend(); ++it) {
        const X11::ClientWindow &w = *it;
        if (w.id == 0 || excluding.count(w.id))
            continue;
        // Ours stay in the list to hide what lies behind them, never to stand
        // on: the panels kept above others (the ask panel) too.
        const bool own = ownPid != 0 && w.pid == ownPid;
        if (!own && !normalLayer(w))
            continue;
        if (!(w.opacity > 0.9))
            continue;
        // A hidden window's coordinates are stale; one on another desktop is not shown.
        if (w.hidden() || !w.viewable || !w.onCurrentDesktop)
            continue;
        const QRectF frame = toPoints(w.outerFrame());
        if (!sane(frame) || frame.width() < 160 || frame.height() < 90)
            continue;
        QString owner = w.className.isEmpty() ? w.instanceName : w.className;
        out.push_back(WindowInfo{int(w.id), qint32(w.pid), owner, frame, own});
    }
    return out;
}

std::vector<WindowInfo> snapshot(const std::set<quint32> &excluding, double primaryHeight)
{
    const std::vector<X11::ClientWindow> clients = X11::readClientWindows();
    if (clients.empty())
        return {};
    const QScreen *primary = QGuiApplication::primaryScreen();
    const double ratio = primary && primary->devicePixelRatio() > 0 ? primary->devicePixelRatio() : 1.0;
    auto toPoints = [ratio, primaryHeight](const QRect &px) {
        const QRectF r(px.x() / ratio, px.y() / ratio, px.width() / ratio, px.height() / ratio);
        return QRectF(r.x(), primaryHeight - r.y() - r.height(), r.width(), r.height());
    };
    return fromClients(clients, excluding, quint32(::getpid()), toPoints);
}

} // namespace WindowTopology
