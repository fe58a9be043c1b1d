#include "companion/CompanionDesktop.h"

#include "companion/WindowTopology.h"
#include "platform/IdleTime.h"
#include "platform/X11.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

QPointF CompanionDesktop::toCat(const QPointF &p) const { return QPointF(p.x(), primaryBottom() - p.y()); }

QRectF CompanionDesktop::toCat(const QRectF &r) const
{
    return QRectF(r.x(), primaryBottom() - r.y() - r.height(), r.width(), r.height());
}

QRectF CompanionDesktop::toQt(const QRectF &r) const
{
    return QRectF(r.x(), primaryBottom() - r.y() - r.height(), r.width(), r.height());
}

double CompanionDesktop::primaryBottom() const
{
    const std::vector<CompanionScreen> all = screens();
    if (all.empty())
        return 0;
    // The primary screen's y-up frame starts at 0, so its height is its bottom.
    return all.front().frame.height();
}

namespace {

class SystemDesktop final : public CompanionDesktop {
public:
    SystemDesktop()
    {
        auto watch = [this](QScreen *screen) {
            QObject::connect(screen, &QScreen::geometryChanged, &m_guard, [this] { changed(); });
            QObject::connect(screen, &QScreen::availableGeometryChanged, &m_guard, [this] { changed(); });
        };
        for (QScreen *s : QGuiApplication::screens())
            watch(s);
        m_heads = X11::xineramaHeads();
        QObject::connect(qGuiApp, &QGuiApplication::screenAdded, &m_guard, [this, watch](QScreen *s) {
            watch(s);
            changed();
        });
        QObject::connect(qGuiApp, &QGuiApplication::screenRemoved, &m_guard, [this] { changed(); });
        QObject::connect(qGuiApp, &QGuiApplication::primaryScreenChanged, &m_guard, [this] { changed(); });
        m_compositorWatch = X11::watchCompositor([this] {
            if (onCompositingChanged)
                onCompositingChanged();
        });
    }
    ~SystemDesktop() override { X11::unwatchCompositor(m_compositorWatch); }

    bool compositing() const override { return !X11::available() || X11::compositorRunning(); }
    void keepAbove(const std::vector<quint32> &ours) override
    {
        X11::keepAbove(std::vector<unsigned int>(ours.begin(), ours.end()));
    }

    std::vector<CompanionScreen> screens() const override
    {
        std::vector<CompanionScreen> out;
        const std::vector<X11::Monitor> monitors = X11::monitors(m_heads);
        if (monitors.empty())
            return out;
        // Turned over about the primary monitor's bottom edge.
        const double bottom = monitors.front().frame.bottom();
        auto flip = [bottom](const QRectF &r) {
            return QRectF(r.x(), bottom - r.y() - r.height(), r.width(), r.height());
        };
        for (const X11::Monitor &m : monitors)
            out.push_back({flip(m.frame), flip(m.available), m.screen});
        return out;
    }

    std::optional<QPointF> pointer() const override
    {
        QScreen *primary = QGuiApplication::primaryScreen();
        if (!primary)
            return std::nullopt;
        if (X11::available()) {
            const std::optional<QPoint> px = X11::pointerAhead();
            if (!px)
                return std::nullopt;
            const double ratio = primary->devicePixelRatio() > 0 ? primary->devicePixelRatio() : 1.0;
            return toCat(QPointF(px->x() / ratio, px->y() / ratio));
        }
        return toCat(QPointF(QCursor::pos()));
    }

    double secondsSinceInput() const override { return IdleTime::system().secondsSinceInput().value_or(0.0); }

    std::vector<WindowInfo> windows(const std::set<quint32> &excluding, double primaryHeight) const override
    {
        return WindowTopology::snapshot(excluding, primaryHeight);
    }

protected:
    double primaryBottom() const override
    {
        QScreen *primary = QGuiApplication::primaryScreen();
        if (!primary)
            return 0;
        const QRect g = primary->geometry();
        return g.y() + g.height();
    }

private:
    void changed()
    {
        m_heads = X11::xineramaHeads();
        if (onScreensChanged)
            onScreensChanged();
    }
    QObject m_guard;
    std::vector<QRect> m_heads;
    int m_compositorWatch = 0;
};

} // namespace

std::unique_ptr<CompanionDesktop> CompanionDesktop::system() { return std::make_unique<SystemDesktop>(); }
