#pragma once

#include <QHashFunctions>
#include <QRectF>
#include <QString>

#include <optional>
#include <set>
#include <vector>

// Companion geometry is in global screen points with y growing upwards (the
// bottom-left of the primary screen is the origin). A QRectF used here keeps
// that convention: y() is the bottom edge (minY) and y() + height() the top.
namespace geo {
inline double minY(const QRectF &r) { return r.y(); }
inline double maxY(const QRectF &r) { return r.y() + r.height(); }
} // namespace geo

// A walkable horizontal edge: the cat's feet can stand anywhere on minX...maxX at y.
struct Ledge {
    double minX = 0;
    double maxX = 0;
    double y = 0;
    // The window the piece belongs to; -1 for the application's own panels.
    int windowNumber = -1;
    // The owning window's left edge when the ledge was made, so a piece can be
    // followed when its window moves.
    std::optional<double> windowX;

    double width() const { return maxX - minX; }
    double midX() const { return (minX + maxX) / 2; }

    // Field by field, exactly: the brain matches ledges across frames this way.
    friend bool operator==(const Ledge &, const Ledge &) = default;
};

inline size_t qHash(const Ledge &l, size_t seed = 0) noexcept
{
    return qHashMulti(seed, l.minX, l.maxX, l.y, l.windowNumber, l.windowX.has_value(), l.windowX.value_or(0.0));
}

// One window of the window list, frame in y-up screen points.
struct WindowInfo {
    int number = 0;
    qint32 ownerPID = 0;
    QString ownerName;
    QRectF frame;
    // One of this application's own windows: it hides the edges of the windows
    // behind it, as any window does, but is no ledge itself.
    bool own = false;

    friend bool operator==(const WindowInfo &a, const WindowInfo &b)
    {
        // QRectF's own == is fuzzy; a window list compares exactly.
        return a.number == b.number && a.ownerPID == b.ownerPID && a.ownerName == b.ownerName &&
               a.frame.x() == b.frame.x() && a.frame.y() == b.frame.y() && a.frame.width() == b.frame.width() &&
               a.frame.height() == b.frame.height() && a.own == b.own;
    }
};

namespace WindowTopology {

// The visible pieces of each window's top edge, windows given front to back:
// a window in front whose body the edge crosses (minY < y < maxY) hides that
// x range. Pieces narrower than `minimumWidth` are dropped. Windows marked
// `own` hide what lies behind them and give no ledge.
std::vector<Ledge> ledges(const std::vector<WindowInfo> &frontToBack, double minimumWidth);

} // namespace WindowTopology
