#include "shell/FocusTimerController.h"

#include "app/AppModel.h"
#include "companion/CompanionDesktop.h"
#include "design/FloatingPanel.h"
#include "design/L10n.h"
#include "design/WindowTitles.h"
#include "platform/X11.h"
#include "shell/FocusTimerView.h"

#include <cmath>

namespace {
// In from the right edge of the work area, and up from its bottom.
constexpr double kInFromRight = 56;
constexpr double kUpFromBottom = 2;
// The top ledge keeps the cat off the rounded corners; the side ledge leaves room
// between the cat and the clock.
constexpr double kTopLedgeInset = 28;
constexpr double kSideLedgeFar = 230;
constexpr double kSideLedgeNear = 60;
} // namespace

FocusTimerController::FocusTimerController(AppModel &model, QObject *parent)
    : FocusTimerController(model, CompanionDesktop::system(), parent)
{
}

FocusTimerController::FocusTimerController(AppModel &model, std::unique_ptr<CompanionDesktop> desktop, QObject *parent)
    : QObject(parent), m_model(model), m_desktop(std::move(desktop)),
      m_panel(std::make_unique<FloatingPanel>(sizeFor(false), false))
{
    WindowTitles::set(m_panel.get(), [] { return L10n::t("Focus"); });
    connect(m_panel.get(), &FloatingPanel::frameChanged, this, [this] { panelFrameChanged(); });
    m_settling.setSingleShot(true);
    m_settling.setInterval(kSettleMs);
    connect(&m_settling, &QTimer::timeout, this, [this] { settle(); });
    // A window manager places a window before it maps it, however long it took to get to it.
    connect(m_panel.get(), &FloatingPanel::mapped, this, [this] {
        if (m_settling.isActive())
            m_settling.start();
    });
    connect(m_panel.get(), &FloatingPanel::backgroundClicked, this, [this](QPoint at) {
        if (m_view)
            m_view->tap(m_view->mapFrom(m_panel.get(), at));
    });
    install(false);
}

FocusTimerController::~FocusTimerController() = default;

QSize FocusTimerController::sizeFor(bool compact) { return FocusTimerView::metrics(compact).size; }

FloatingPanel *FocusTimerController::panel() const { return m_panel.get(); }

bool FocusTimerController::isVisible() const { return m_panel->isVisible(); }

void FocusTimerController::install(bool compact)
{
    if (m_installed && m_compact == compact)
        return;
    m_installed = true;
    m_compact = compact;
    m_view = new FocusTimerView(m_model, compact);
    m_panel->setContentView(m_view);
    m_panel->setCornerRadius(FocusTimerView::metrics(compact).caseRadius);
}

void FocusTimerController::show(bool compact)
{
    if (isVisible())
        return;
    install(compact);
    const QSize size = sizeFor(compact);
    const std::vector<CompanionScreen> screens = m_desktop->screens();
    // The primary screen comes first; with none attached the panel keeps its last place.
    if (!screens.empty()) {
        const QRectF visible = screens.front().visibleFrame;
        const QRectF catFrame(visible.x() + visible.width() - size.width() - kInFromRight, visible.y() + kUpFromBottom,
                              size.width(), size.height());
        m_panel->setGeometry(m_desktop->toQt(catFrame).toRect());
    } else {
        m_panel->resize(size);
    }
    m_placed = m_panel->geometry();
    // Without a window manager (offscreen) nothing else places the panel.
    if (X11::available())
        m_settling.start();
    m_panel->orderFront();
    report(frame());
}

void FocusTimerController::hide()
{
    m_settling.stop();
    m_panel->hide();
    m_reported.reset();
}

QRectF FocusTimerController::frame() const
{
    // While the server settles the place, the one given is the panel's (and the one told).
    return m_desktop->toCat(QRectF(m_settling.isActive() ? m_placed : m_panel->geometry()));
}

std::optional<Ledge> FocusTimerController::ledge() const
{
    if (!isVisible())
        return std::nullopt;
    const QRectF f = frame();
    return Ledge{f.x() + kTopLedgeInset, f.x() + f.width() - kTopLedgeInset, geo::maxY(f), int(m_panel->winId()),
                 std::nullopt};
}

std::optional<Ledge> FocusTimerController::sideLedge() const
{
    if (!isVisible())
        return std::nullopt;
    const QRectF f = frame();
    return Ledge{f.x() - kSideLedgeFar, f.x() - kSideLedgeNear, geo::minY(f), int(m_panel->winId()), std::nullopt};
}

void FocusTimerController::report(const QRectF &frame)
{
    m_reported = frame;
    if (onFrameChange)
        onFrameChange(frame);
}

std::optional<QRect> FocusTimerController::serverGeometry() const
{
    const std::optional<QPoint> at = X11::rootPosition(static_cast<unsigned int>(m_panel->winId()));
    if (!at)
        return std::nullopt;
    const double ratio = m_panel->devicePixelRatioF();
    return QRect(QPoint(int(std::lround(at->x() / ratio)), int(std::lround(at->y() / ratio))), m_panel->size());
}

void FocusTimerController::panelFrameChanged()
{
    // Placing a hidden panel is not a move the cat must follow.
    if (!isVisible() || m_placing)
        return;
    if (m_settling.isActive()) {
        if (!m_panel->dragging()) {
            // Another place before the server has settled ours: a window
            // manager's first placement, or a late notice of an earlier place.
            // When the server already has ours, the notice was stale and the
            // toolkit is put right; otherwise the wait's end decides.
            if (m_panel->geometry() != m_placed && serverGeometry() == m_placed) {
                m_placing = true;
                m_panel->setGeometry(m_placed);
                m_placing = false;
            }
            return;
        }
        m_settling.stop();
    }
    const QRectF f = frame();
    if (!m_reported || *m_reported != f)
        report(f);
}

void FocusTimerController::settle()
{
    if (!isVisible())
        return;
    // The server's word: the place given, or one the window manager insists on.
    const QRect server = serverGeometry().value_or(m_panel->geometry());
    if (server != m_panel->geometry()) {
        m_placing = true;
        m_panel->setGeometry(server);
        m_placing = false;
    }
    const QRectF f = frame();
    if (!m_reported || *m_reported != f)
        report(f);
}
