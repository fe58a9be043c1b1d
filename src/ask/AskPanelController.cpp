#include "ask/AskPanelController.h"

#include "app/AppModel.h"
#include "ask/AskBarView.h"
#include "ask/AskPanelBridge.h"
#include "design/L10n.h"
#include "design/FloatingPanel.h"
#include "design/WindowTitles.h"
#include "platform/X11.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QWindow>

#include <cmath>

#include <xcb/xcb.h>

#include <cstdlib>

namespace {

// The session's desktop, with the pointer read at the moment it is asked for:
// the companion's own reading answers the question of its previous frame,
// which for a hot key pressed after a while is wherever the pointer was then.
class FreshPointerDesktop final : public CompanionDesktop {
public:
    FreshPointerDesktop() : m_desktop(CompanionDesktop::system()) {}

    std::vector<CompanionScreen> screens() const override { return m_desktop->screens(); }
    std::optional<QPointF> pointer() const override
    {
        if (!QGuiApplication::primaryScreen())
            return std::nullopt;
        return m_desktop->toCat(QPointF(QCursor::pos()));
    }
    double secondsSinceInput() const override { return m_desktop->secondsSinceInput(); }
    std::vector<WindowInfo> windows(const std::set<quint32> &excluding, double primaryHeight) const override
    {
        return m_desktop->windows(excluding, primaryHeight);
    }
    QPointF toCat(const QPointF &qtGlobal) const override { return m_desktop->toCat(qtGlobal); }
    QRectF toCat(const QRectF &qtGlobal) const override { return m_desktop->toCat(qtGlobal); }
    QRectF toQt(const QRectF &cat) const override { return m_desktop->toQt(cat); }

private:
    std::unique_ptr<CompanionDesktop> m_desktop;
};

// Whether a screen's frame holds the pointer, y up: its left and top edges
// belong to it, its right and bottom ones to the neighbour. The pointer's y up
// runs from 1 at a screen's bottom pixel row to its height at the top one, so
// a pointer on a shared edge counts on the monitor whose pixel it is on.
bool holds(const QRectF &frame, const QPointF &p)
{
    return p.x() >= frame.left() && p.x() < frame.left() + frame.width() && p.y() > geo::minY(frame) &&
           p.y() <= geo::maxY(frame);
}

} // namespace

// Every ConfigureNotify, real or sent by the window manager, for one window.
class AskPanelController::ConfigureNotices final : public QAbstractNativeEventFilter {
public:
    ConfigureNotices(unsigned window, std::function<void(QSize)> seen) : m_window(window), m_seen(std::move(seen))
    {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~ConfigureNotices() override
    {
        if (QCoreApplication::instance())
            QCoreApplication::instance()->removeNativeEventFilter(this);
    }
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        const auto *e = static_cast<const xcb_configure_notify_event_t *>(message);
        if ((e->response_type & 0x7f) == XCB_CONFIGURE_NOTIFY && e->window == m_window)
            m_seen(QSize(e->width, e->height));
        return false;
    }

private:
    unsigned m_window;
    std::function<void(QSize)> m_seen;
};

AskPanelController::AskPanelController(AppModel &model, QObject *parent)
    : QObject(parent), m_bridge(std::make_unique<AskPanelBridge>()),
      m_panel(std::make_unique<FloatingPanel>(QSize(kWidth, kHeight), true)), m_model(model),
      m_desktop(std::make_unique<FreshPointerDesktop>())
{
    WindowTitles::set(m_panel.get(), [] { return L10n::t("Ask the cat"); });
    m_view = new AskBarView(model, *m_bridge);
    m_panel->setContentView(m_view);
    m_panel->setCornerRadius(AskBarView::kRadius);
    connect(m_panel.get(), &FloatingPanel::frameChanged, this, &AskPanelController::followPanel);
    m_answerWait.setSingleShot(true);
    m_answerWait.setInterval(kAnswerWaitMs);
    connect(&m_answerWait, &QTimer::timeout, this, &AskPanelController::yield);
    // The correction's answer is the window system's notice of the placed
    // size; the toolkit takes the size it asked for before that notice comes.
    if (X11::available())
        m_notices = std::make_unique<ConfigureNotices>(unsigned(m_panel->winId()), [this](QSize size) {
            if (m_correcting && m_placed && size == m_desktop->toQt(*m_placed).size().toSize()) {
                m_correcting = false;
                m_answerWait.stop();
            }
        });

    QPointer<AskPanelController> self(this);
    m_bridge->close = [self] {
        if (self)
            self->hide();
    };
    m_bridge->sizeChanged = [self](QSizeF size) {
        if (self)
            self->follow(size);
    };
    // Hidden, the panel already takes the card's height.
    follow(QSizeF(m_view->idealSize()));
}

AskPanelController::~AskPanelController()
{
    m_notices.reset();
    disconnect(m_panel.get(), nullptr, this, nullptr);
    // The view's last words go nowhere.
    m_bridge->close = [] {};
    m_bridge->sizeChanged = [](QSizeF) {};
}

FloatingPanel *AskPanelController::panel() const { return m_panel.get(); }

bool AskPanelController::isVisible() const { return m_bridge->visible(); }

void AskPanelController::setDesktop(std::unique_ptr<CompanionDesktop> desktop)
{
    if (desktop)
        m_desktop = std::move(desktop);
}

AskBarView *AskPanelController::view() const { return m_view; }

QRectF AskPanelController::frame() const { return m_desktop->toCat(QRectF(m_panel->geometry())); }

std::optional<std::size_t> AskPanelController::targetScreen(const std::vector<CompanionScreen> &screens,
                                                            const std::optional<QPointF> &pointer)
{
    if (screens.empty())
        return std::nullopt;
    if (pointer) {
        for (std::size_t i = 0; i < screens.size(); ++i) {
            if (holds(screens[i].frame, *pointer))
                return i;
        }
    }
    return 0;
}

QPointF AskPanelController::origin(const QRectF &visibleFrame, const QSizeF &size)
{
    return {visibleFrame.center().x() - size.width() / 2, geo::minY(visibleFrame) + kLift};
}

void AskPanelController::show(bool takingKeyboard)
{
    const std::vector<CompanionScreen> screens = m_desktop->screens();
    const std::optional<std::size_t> target = targetScreen(screens, m_desktop->pointer());
    if (!target)
        return; // no screen to show on
    // The card learns the room it has on this screen first, so the panel is
    // placed at the size it will keep there.
    const QRectF area = screens[*target].visibleFrame;
    m_area = area;
    m_bridge->setRoom(int(std::floor(geo::maxY(area) - geo::minY(area) - kLift)));
    const QSizeF size = m_placed ? m_placed->size() : frame().size();
    setFrame(within(area, QRectF(origin(area, size), size)));

    m_placing = true;
    m_panel->orderFront();
    if (takingKeyboard)
        activateShown(m_panel.get());
    m_placing = false;

    m_bridge->setVisible(true);
    if (onVisibilityChange)
        onVisibilityChange(true);
    report(frame());
}

void AskPanelController::hide()
{
    if (!m_bridge->visible())
        return;
    m_panel->hide();
    m_correcting = false;
    m_answerWait.stop();
    m_bridge->setVisible(false);
    m_reported.reset();
    if (onVisibilityChange)
        onVisibilityChange(false);
}

void AskPanelController::toggle()
{
    if (isVisible())
        hide();
    else
        show(true);
}

std::optional<Ledge> AskPanelController::ledge() const
{
    if (!isVisible())
        return std::nullopt;
    const QRectF f = frame();
    Ledge ledge;
    ledge.minX = f.x() + kPerchInset;
    ledge.maxX = f.x() + f.width() - kPerchInset;
    ledge.y = geo::maxY(f);
    ledge.windowNumber = int(m_panel->winId());
    return ledge;
}

void AskPanelController::follow(QSizeF size)
{
    if (size.width() <= 0 || size.height() <= 0)
        return;
    // While a correction is out the toolkit may hold a stale size: the placed frame is the panel's.
    const QRectF f = m_correcting && m_placed ? *m_placed : frame();
    if (std::abs(f.height() - size.height()) <= 0.5 && std::abs(f.width() - size.width()) <= 0.5)
        return;
    // The bottom-left corner stays: a longer conversation grows the panel
    // upwards, as far as the top of its screen's work area.
    QRectF next(f.x(), geo::minY(f), size.width(), size.height());
    if (m_area)
        next = within(*m_area, next);
    setFrame(next);
    if (isVisible())
        report(next);
}

QRectF AskPanelController::within(const QRectF &area, QRectF frame)
{
    if (geo::maxY(frame) > geo::maxY(area))
        frame.moveTop(std::max(geo::minY(area), geo::maxY(area) - frame.height())); // y up: the bottom edge
    return frame;
}

void AskPanelController::setFrame(const QRectF &frame)
{
    m_placed = frame;
    m_correcting = false;
    m_answerWait.stop();
    apply(frame);
}

void AskPanelController::apply(const QRectF &frame)
{
    const QRectF qt = m_desktop->toQt(frame);
    m_placing = true;
    m_panel->setGeometry(QRect(int(std::lround(qt.x())), int(std::lround(qt.y())), int(std::lround(qt.width())),
                               int(std::lround(qt.height()))));
    m_placing = false;
}

void AskPanelController::report(const QRectF &frame)
{
    m_reported = frame;
    if (onFrameChange)
        onFrameChange(frame);
}

void AskPanelController::correct()
{
    m_correcting = true;
    m_answerWait.start();
    apply(*m_placed);
}

void AskPanelController::yield()
{
    if (!m_correcting)
        return;
    m_correcting = false;
    if (!isVisible() || !m_panel->isVisible() || !m_placed)
        return;
    // The window's size on the server settles it: a manager that insists has
    // its size there; otherwise what came meanwhile was stale (some managers
    // say nothing when a request changes nothing) and the placed frame stands.
    QSize server = m_panel->size();
    if (X11::available()) {
        xcb_connection_t *c = X11::connection();
        if (xcb_get_geometry_reply_t *g =
                xcb_get_geometry_reply(c, xcb_get_geometry(c, xcb_window_t(m_panel->winId())), nullptr)) {
            server = QSize(g->width, g->height);
            std::free(g);
        }
    }
    const QRectF placed = *m_placed;
    if (server == m_desktop->toQt(placed).size().toSize()) {
        apply(placed);
    } else {
        // The bottom edge where the window manager has it.
        QRect kept = m_panel->geometry();
        kept.setSize(server);
        m_placing = true;
        m_panel->setGeometry(kept);
        m_placing = false;
        m_placed = frame();
    }
    if (!m_reported || *m_reported != *m_placed)
        report(*m_placed);
}

void AskPanelController::followPanel()
{
    // A move the controller did not make (the user's drag, the window
    // manager's placement) is told too, so the perch follows the panel.
    if (m_placing || !isVisible() || !m_panel->isVisible())
        return;
    const QRectF now = frame();
    const bool placedSize = m_placed && std::abs(now.width() - m_placed->width()) <= 0.5 &&
                            std::abs(now.height() - m_placed->height()) <= 0.5;
    if (!placedSize && m_placed) {
        // A size the panel was not given is a window manager's late word on an
        // earlier request (xfwm4 answers the size the window was mapped with,
        // sometimes twice): the card's size and the placed bottom edge stand.
        // It is asked for once; what comes before the answer is stale, and a
        // manager that keeps its own size past the wait has it (see yield).
        if (!m_correcting)
            correct();
        return;
    }
    // Dragged, or put right: this is where the panel stands now (a correction
    // still out is over only on the window system's answer).
    m_placed = now;
    if (!m_reported || *m_reported != now)
        report(now);
}
