#pragma once

#include "companion/Ledge.h"

#include <QPointF>
#include <QRectF>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

class QScreen;

// One screen as the cat sees it: global points, y up from the bottom of the
// primary screen. `visibleFrame` leaves out panels and docks.
struct CompanionScreen {
    QRectF frame;
    QRectF visibleFrame;
    QScreen *screen = nullptr; // none for a described screen
};

// What the controller takes from the desktop. The real one reads Qt's screens,
// the pointer, the X server's idle count and window list, and converts every
// coordinate once into the cat's y-up points; tests describe a desktop instead.
class CompanionDesktop {
public:
    virtual ~CompanionDesktop() = default;

    // The primary screen first; empty while no screen is attached.
    virtual std::vector<CompanionScreen> screens() const = 0;
    virtual std::optional<QPointF> pointer() const = 0;
    virtual double secondsSinceInput() const = 0;
    // The shown windows, front to back, this application's marked own (WindowTopology::snapshot).
    virtual std::vector<WindowInfo> windows(const std::set<quint32> &excluding, double primaryHeight) const = 0;

    // Whether a compositing manager blends translucent windows with what lies
    // beneath; without one their transparent pixels show black.
    virtual bool compositing() const { return true; }
    // Keeps the cat's own top-level windows above the other applications' windows.
    virtual void keepAbove(const std::vector<quint32> &ours) { (void)ours; }

    // Conversions between the cat's y-up points and Qt's global y-down points.
    virtual QPointF toCat(const QPointF &qtGlobal) const;
    virtual QRectF toCat(const QRectF &qtGlobal) const;
    virtual QRectF toQt(const QRectF &cat) const;

    // Called when screens are added, removed or change size.
    std::function<void()> onScreensChanged;
    // Called when a compositing manager starts or quits.
    std::function<void()> onCompositingChanged;

    // The desktop of this session.
    static std::unique_ptr<CompanionDesktop> system();

protected:
    // The bottom of the primary screen in Qt's global points: y-up 0.
    virtual double primaryBottom() const;
};
