#include "companion/CompanionController.h"

#include "companion/CompanionPanel.h"
#include "platform/IdleTime.h"
#include "platform/X11.h"

#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace {

constexpr std::chrono::milliseconds kAwakeInterval{33};  // 30 frames a second
constexpr std::chrono::milliseconds kAsleepInterval{250}; // 4 while the cat sleeps with the user away
constexpr double kAsleepGap = 0.25;
constexpr double kFade = 0.2;

QRectF startArea(const std::vector<CompanionScreen> &screens)
{
    if (screens.empty())
        return QRectF(0, 0, 1440, 900);
    return screens.front().visibleFrame;
}

// The screen that holds the cat's point, else the one nearest to it: across,
// then up or down, so that of monitors side by side the one under the cat
// counts however high it is, and of monitors one above the other the one it
// is on.
const CompanionScreen &screenNearest(const std::vector<CompanionScreen> &screens, QPointF at)
{
    const CompanionScreen *best = &screens.front();
    std::pair bestDistance(std::numeric_limits<double>::infinity(), 0.0);
    for (const CompanionScreen &s : screens) {
        const std::pair d(std::max({s.frame.left() - at.x(), at.x() - s.frame.right(), 0.0}),
                          std::max({geo::minY(s.frame) - at.y(), at.y() - geo::maxY(s.frame), 0.0}));
        if (d < bestDistance) {
            best = &s;
            bestDistance = d;
        }
    }
    return *best;
}

// The screens whose horizontal range meets [from, to], with `own` (the cat's),
// as one: their frames and free areas joined, so its floor is the lowest of
// theirs and its ceiling the highest.
CompanionScreen spanning(const std::vector<CompanionScreen> &screens, CompanionScreen own, double from, double to)
{
    for (const CompanionScreen &s : screens) {
        if (s.frame.left() <= to && from <= s.frame.right()) {
            own.frame = own.frame.united(s.frame);
            own.visibleFrame = own.visibleFrame.united(s.visibleFrame);
        }
    }
    return own;
}

int band(double verticalSpeed) { return verticalSpeed > 40 ? 1 : verticalSpeed < -40 ? -1 : 0; }

} // namespace

double CompanionController::secondsSinceInput() { return IdleTime::system().secondsSinceInput().value_or(0.0); }

CompanionController::CompanionController(Clock &clock, std::unique_ptr<CompanionDesktop> desktop, QObject *parent)
    : QObject(parent), m_clock(clock), m_desktop(desktop ? std::move(desktop) : CompanionDesktop::system())
{
    const QRectF area = startArea(m_desktop->screens());
    const auto seed = std::uint64_t(std::max<qint64>(0, m_clock.now().toMSecsSinceEpoch()));
    m_brain = CompanionBrain::start(seed, QPointF(area.left() + 0.68 * area.width(), geo::minY(area)));
    m_lastTick = m_clock.uptime();
    hour = [this] {
        // Asked at every frame; the local hour changes only on a whole minute,
        // and each reading looks at the system's zone again.
        const QDateTime now = m_clock.now();
        const qint64 minute = now.toSecsSinceEpoch() / 60 - (now.toSecsSinceEpoch() % 60 < 0);
        if (minute != m_hourMinute) {
            m_hourMinute = minute;
            m_localHour = now.toLocalTime().time().hour();
        }
        return m_localHour;
    };
    m_desktop->onScreensChanged = [this] { m_screensChanged = true; };
    // Heard from the X server's event loop: the windows are swapped once it has returned.
    m_desktop->onCompositingChanged = [this] {
        QTimer::singleShot(0, this, [this] { followCompositor(); });
    };
    connect(&m_viewModel, &CompanionViewModel::bubbleChanged, this, [this] {
        const bool shown = m_viewModel.bubble().has_value();
        if (shown)
            m_bubbleText = *m_viewModel.bubble();
        if (shown != m_bubbleShown) {
            m_bubbleShown = shown;
            m_bubbleChangedAt = m_clock.uptime();
        }
    });
}

CompanionController::~CompanionController()
{
    m_timer.reset();
    m_bubbleTimer.reset();
    for (CompanionPanel *panel : m_panels)
        delete panel;
}

void CompanionController::start()
{
    if (m_timer)
        return;
    buildPanels();
    m_lastTick = m_clock.uptime();
    m_interval = std::chrono::milliseconds(0);
    schedule(kAwakeInterval);
}

void CompanionController::stop()
{
    m_timer.reset();
    clearPanels();
    m_pressPoint.reset();
    m_dragging = false;
}

void CompanionController::schedule(std::chrono::milliseconds interval)
{
    if (m_timer && interval == m_interval)
        return;
    m_interval = interval;
    QPointer<CompanionController> self(this);
    m_timer = m_clock.every(interval, [self] {
        if (self)
            self->tick();
    });
}

void CompanionController::say(const QString &text, double seconds)
{
    m_bubbleTimer.reset();
    m_viewModel.setBubble(text);
    const auto ms = std::chrono::milliseconds(std::llround(std::clamp(seconds, 0.0, 1e7) * 1000));
    QPointer<CompanionController> self(this);
    m_bubbleTimer = m_clock.after(ms, [self] {
        if (self)
            self->m_viewModel.setBubble(std::nullopt);
    });
}

void CompanionController::setVariant(const CompanionVariant &variant)
{
    if (variant == m_variant)
        return;
    m_variant = variant;
    // A look's size is guarded: the brain and the canvas divide by it.
    const double w = std::isfinite(variant.size.width()) ? std::clamp(variant.size.width(), 1.0, 2000.0) : 84.0;
    const double h = std::isfinite(variant.size.height()) ? std::clamp(variant.size.height(), 1.0, 2000.0) : 62.0;
    m_brain.size = QSizeF(w, h);
    m_brain.walkSpeed = std::isfinite(variant.walkSpeed) ? std::clamp(variant.walkSpeed, 0.0, 2000.0) : 68.0;
    m_viewModel.setVariant(variant);
}

void CompanionController::setNestFrame(const std::optional<QRectF> &frame)
{
    m_nestFrame = frame;
    m_viewModel.setNestFrame(frame);
}

void CompanionController::setFilmedPainter(std::shared_ptr<FilmedFigurePainter> painter)
{
    m_filmedPainter = std::move(painter);
    for (CompanionPanel *panel : m_panels)
        panel->setFilmedPainter(m_filmedPainter);
}

CompanionVariant CompanionController::shownVariant() const
{
    // Without a film player every look is drawn as the drawn cat.
    return m_filmedPainter ? m_variant : CompanionVariant::drawn();
}

void CompanionController::setAside(bool aside)
{
    if (aside == m_aside)
        return;
    m_aside = aside;
    for (CompanionPanel *panel : m_panels) {
        if (!panel->translucent()) {
            // Without a compositor a window's opacity means nothing: it goes and comes at once.
            panel->setVisible(!aside);
            if (!aside)
                panel->raise();
            continue;
        }
        auto *fade = new QPropertyAnimation(panel, "windowOpacity", panel);
        fade->setDuration(aside ? 180 : 400);
        fade->setEndValue(aside ? 0.0 : 1.0);
        fade->start(QAbstractAnimation::DeleteWhenStopped);
    }
}

void CompanionController::holdStandingGoal()
{
    std::optional<CompanionGoal> wanted;
    if (roomyPerch())
        wanted = CompanionGoal::perch();
    else if (nestLedge)
        wanted = CompanionGoal::nest();
    if (m_brain.goal) {
        if (m_brain.goal->kind == CompanionGoal::Kind::visit)
            return;
        if (!wanted)
            m_brain.clearGoal();
        else if (!(*m_brain.goal == *wanted))
            m_brain.request(*wanted);
        return;
    }
    if (wanted)
        m_brain.request(*wanted);
}

void CompanionController::clearPanels()
{
    for (CompanionPanel *panel : m_panels) {
        panel->hide();
        // Not deleted at once: a mouse callback may be running on it.
        panel->deleteLater();
    }
    m_panels.clear();
    m_panelScreens.clear();
}

void CompanionController::followCompositor()
{
    if (!m_timer || m_desktop->compositing() == m_composited)
        return;
    // The window that held the pointer goes: a drag under way ends where the cat is.
    if (m_dragging)
        m_brain.putDown = true;
    m_pressPoint.reset();
    m_dragging = false;
    buildPanels();
    present(m_desktop->screens());
    updateInput();
}

void CompanionController::buildPanels()
{
    clearPanels();
    m_screensChanged = false;
    // The screens or the windows changed without the user's input, and the
    // pointer may have been moved with them (off a screen that went away):
    // the next frame asks where it is, asleep or not.
    m_pointerRead = false;
    m_composited = m_desktop->compositing();
    const std::vector<CompanionScreen> all = m_desktop->screens();
    std::vector<CompanionScreen> screens;
    if (!all.empty())
        screens.assign(1, *activeScreen(all)); // one window, wherever the cat is
    QPointer<CompanionController> self(this);
    for (const CompanionScreen &screen : screens) {
        const QRect full = m_desktop->toQt(screen.frame).toAlignedRect();
        auto *panel = new CompanionPanel(screen, QRect(full.topLeft(), QSize(1, 1)), CompanionPanel::Kind::catWindow,
                                         m_composited);
        panel->setFilmedPainter(m_filmedPainter);
        panel->onMouseDown = [self](QPointF p) {
            if (self)
                self->mouseDown(p);
        };
        panel->onMouseDragged = [self](QPointF p) {
            if (self)
                self->mouseDragged(p);
        };
        panel->onMouseUp = [self](QPointF p) {
            if (self)
                self->mouseUp(p);
        };
        panel->onAccessibilityPress = [self]() -> bool {
            if (!self || !self->isRunning() || !self->clickOpensAsk || self->m_aside || !self->onClick)
                return false;
            self->onClick();
            Q_EMIT self->clicked();
            return true;
        };
        if (m_composited) {
            panel->setWindowOpacity(m_aside ? 0.0 : 1.0);
            panel->show();
        } else if (!m_aside) {
            panel->show();
        }
        if (X11::available())
            panel->raise();
        m_panels.push_back(panel);
        m_panelScreens.push_back(screen);
    }
    m_topologyAge = 1.0;
}

const CompanionScreen *CompanionController::activeScreen(const std::vector<CompanionScreen> &screens) const
{
    if (screens.empty())
        return nullptr;
    return &screenNearest(screens, m_brain.pose.position);
}

QWidget *CompanionController::homeWindowOnScreen() const
{
    QWidget *window = homeWindow ? homeWindow() : nullptr;
    if (!window || !window->isVisible() || window->isMinimized())
        return nullptr;
    // A window manager unmaps a window it moves to another desktop, and a minimised
    // one before the widget hears of its state: neither is on screen to stand on.
    if (const QWindow *handle = window->windowHandle(); handle && !handle->isExposed())
        return nullptr;
    return window;
}

std::optional<Ledge> CompanionController::homeLedge() const
{
    QWidget *window = homeWindowOnScreen();
    if (!window)
        return std::nullopt;
    const std::vector<CompanionScreen> screens = m_desktop->screens();
    if (screens.empty())
        return std::nullopt;
    const QRectF f = m_desktop->toCat(QRectF(window->frameGeometry()));
    const double top = geo::maxY(screenHolding(screens, f.center()).visibleFrame);
    if (f.width() < m_brain.size.width() + 80 || geo::maxY(f) + m_brain.size.height() > top)
        return std::nullopt;
    return Ledge{f.left() + 18, f.right() - 18, geo::maxY(f), int(window->winId()), f.left()};
}

std::optional<Ledge> CompanionController::roomyPerch() const
{
    const std::vector<CompanionScreen> screens = m_desktop->screens();
    if (!perchLedge || screens.empty())
        return perchLedge;
    // The panel's own screen, just under its top edge.
    const QPointF under(perchLedge->midX(), perchLedge->y - 1);
    if (perchLedge->y + m_brain.size.height() > geo::maxY(screenHolding(screens, under).visibleFrame))
        return std::nullopt;
    return perchLedge;
}

const CompanionScreen &CompanionController::screenHolding(const std::vector<CompanionScreen> &screens,
                                                          const QPointF &point) const
{
    for (const CompanionScreen &s : screens) {
        if (s.frame.contains(point))
            return s;
    }
    return *activeScreen(screens);
}

CatHitArea CompanionController::hitArea() const
{
    return CatHitArea::of(m_brain.pose, m_brain.size, shownVariant(), m_nestFrame);
}

void CompanionController::refreshTopology()
{
    const std::vector<CompanionScreen> screens = m_desktop->screens();
    if (screens.empty())
        return;
    std::set<quint32> own;
    for (CompanionPanel *panel : m_panels)
        own.insert(quint32(panel->winId()));
    m_ledges = WindowTopology::ledges(m_desktop->windows(own, screens.front().frame.height()), 90);
    ++m_topologyReads;
    // A window manager that stacks new windows over ours (or knows nothing of
    // windows kept above) would hide the cat and its bubble.
    m_desktop->keepAbove(std::vector<quint32>(own.begin(), own.end()));
    // A compositor whose start or end was not heard of is noticed here.
    if (m_desktop->compositing() != m_composited)
        followCompositor();
}

void CompanionController::tick()
{
    const double now = m_clock.uptime();
    // Asleep with the user away, frames come at 4 Hz; the tolerance keeps a
    // timer that fires a little early from halving that.
    if (m_viewModel.filmPaused() && !m_dragging && now - m_lastTick < kAsleepGap - 0.01)
        return;
    const double dt = now - m_lastTick;
    m_lastTick = now;
    ++m_framesRun;

    if (m_screensChanged && m_timer)
        buildPanels();
    const std::vector<CompanionScreen> screens = m_desktop->screens();
    const CompanionScreen *active = activeScreen(screens);
    if (!active)
        return; // no screen attached: nothing to stand on, the loop keeps going
    CompanionScreen screen = *active;
    const std::optional<Ledge> home = homeLedge();

    const bool onLedge = m_brain.support.kind == CompanionBrain::Support::Kind::ledge;
    const bool onAnotherWindow = onLedge && (!home || m_brain.support.ledge.windowNumber != home->windowNumber);
    m_topologyAge += dt;
    const double refresh = onAnotherWindow                                                          ? 0.1
                           : (m_idleSeconds > 180 && m_brain.pose.state == CompanionState::sleep) ? 5.0
                                                                                                   : 0.5;
    // Frames come every 33 ms, so three make 0.099 s: half a frame's tolerance
    // keeps "every 0.1 s" from becoming every fourth frame.
    if (m_topologyAge >= refresh - 0.015) {
        m_topologyAge = 0;
        refreshTopology();
    }
    m_idleAge += dt;
    bool input = false;
    if (m_idleAge >= 0.5 - 0.015) {
        m_idleAge = 0;
        const double before = m_idleSeconds;
        m_idleSeconds = m_desktop->secondsSinceInput();
        input = m_idleSeconds < before;
    }

    // Asleep with the user away, nothing but the user's input moves the
    // pointer, and the idle time tells of input: the pointer is asked again
    // only then, not at every frame (each answer is a wake-up).
    if (!m_viewModel.filmPaused() || m_dragging || input || !m_pointerRead) {
        m_pointer = m_desktop->pointer();
        m_pointerRead = true;
    }
    const std::optional<QPointF> pointer = m_pointer;
    CompanionWorld world;
    if (visitLedge)
        world.ledges.push_back(*visitLedge);
    world.ledges.insert(world.ledges.end(), m_ledges.begin(), m_ledges.end());
    const std::optional<Ledge> perch = roomyPerch();
    world.perch = perch;
    world.nest = nestLedge;
    world.home = home;
    // Also a window too tall or narrow to stand on: a spot on its face travels with it.
    if (QWidget *window = homeWindowOnScreen())
        world.homeFrame = m_desktop->toCat(QRectF(window->frameGeometry()));
    // A window or a panel moved onto another screen takes the cat standing on
    // it along, as a drag does: this frame's screen is the one it carries the
    // cat to, or the nearest one where that is past every screen's edge.
    if (const std::optional<QPointF> to = m_brain.riddenTo(world))
        screen = screenNearest(screens, *to);
    // A hop toward a place on another screen (a panel, a window top) crosses
    // the seam: the frame's screen spans every screen under its path, from
    // where it took off, so neither edge nor a higher floor holds it back.
    else if (const auto span = m_brain.hopSpan())
        screen = spanning(screens, screen, span->first, span->second);
    world.bounds = screen.frame;
    world.floorY = geo::minY(screen.visibleFrame);
    world.ceilingY = geo::maxY(screen.visibleFrame);
    world.cursor = pointer;
    world.idleSeconds = m_idleSeconds;
    world.walksOnWindows = walksOnWindows;
    world.wanders = wanders;
    world.hour = hour ? std::clamp(hour(), 0, 23) : 12;
    world.hungry = hungry;
    world.temper = temper;

    // Also when the panel lent as a perch gains or loses the room above it as it moves.
    const bool carried = m_brain.pose.state == CompanionState::carried;
    if (!carried && (perch.has_value() != m_perchRoomy || (!m_brain.goal && (perch || nestLedge)))) {
        m_perchRoomy = perch.has_value();
        holdStandingGoal();
    }
    const std::vector<CompanionSignal> happened = m_brain.tick(dt, world);
    m_viewModel.setFilmPaused(m_idleSeconds > 180 && m_brain.pose.state == CompanionState::sleep);
    for (const CompanionSignal &s : happened) {
        if (s.kind != CompanionSignal::Kind::arrived)
            continue;
        if (onArrived)
            onArrived(s.goal);
        Q_EMIT arrived(s.goal);
    }

    const CompanionPose &pose = m_brain.pose;
    bool publish = true;
    if (m_variant.isFilmed() && m_lastPublished) {
        const CompanionPose &last = *m_lastPublished;
        publish = !(last.state == pose.state && last.facing == pose.facing &&
                    std::abs(last.position.x() - pose.position.x()) < 0.25 &&
                    std::abs(last.position.y() - pose.position.y()) < 0.25 &&
                    band(last.verticalSpeed) == band(pose.verticalSpeed));
    }
    if (publish) {
        m_lastPublished = pose;
        m_viewModel.setPose(pose);
    }

    present(screens);
    updateInput();
    schedule(m_viewModel.filmPaused() && !m_dragging ? kAsleepInterval : kAwakeInterval);
}

double CompanionController::bubbleOpacity() const
{
    const double t = std::clamp((m_clock.uptime() - m_bubbleChangedAt) / kFade, 0.0, 1.0);
    const double eased = 1 - (1 - t) * (1 - t);
    return m_bubbleShown ? eased : 1 - eased;
}

void CompanionController::present(const std::vector<CompanionScreen> &screens)
{
    const double opacity = bubbleOpacity();
    if (!m_bubbleShown && opacity <= 0)
        m_bubbleText.clear();
    const CompanionVariant variant = shownVariant();
    const CompanionScreen *active = activeScreen(screens);
    // The bubble leaves the panels the cat sits on or by uncovered.
    std::vector<QRectF> keepClear;
    if (perchFrame)
        keepClear.push_back(*perchFrame);
    if (m_nestFrame)
        keepClear.push_back(*m_nestFrame);
    const std::optional<QSizeF> bubbleSize =
        m_bubbleText.isEmpty() ? std::nullopt
                               : std::optional(CanvasPainter::bubbleSize(m_bubbleText, BubbleShape::Edge::bottom));
    for (CompanionPanel *panel : m_panels) {
        if (panel->kind() == CompanionPanel::Kind::catWindow && active)
            panel->placeOn(*active, m_desktop->toQt(active->frame).toAlignedRect().topLeft());
        const CompanionScreen &screen = panel->screen();
        CompanionPanel::Frame frame;
        frame.pose = m_viewModel.pose();
        frame.variant = variant;
        frame.bubbleText = m_bubbleText;
        frame.bubbleOpacity = m_bubbleText.isEmpty() ? 0 : opacity;
        frame.paused = m_viewModel.filmPaused();
        frame.scene = CanvasScene::layout(screen.frame, screen.frame.size(), frame.pose, variant,
                                          m_viewModel.nestFrame(), !m_bubbleText.isEmpty(), keepClear, bubbleSize);
        frame.filmPlaying = frame.scene.filmed.has_value() && !frame.paused;
        if (frame.filmPlaying && m_filmedPainter)
            frame.filmPicture = m_filmedPainter->pictureShown();
        panel->present(frame);
    }
}

void CompanionController::updateInput()
{
    const CatHitArea hit = hitArea();
    const std::vector<CompanionScreen> screens = m_desktop->screens();
    const CompanionScreen *active = activeScreen(screens);
    for (CompanionPanel *panel : m_panels) {
        std::vector<QRect> rects;
        const QPoint origin = panel->placement().topLeft();
        // On whole pixels from the window's corner, at a size that holds: the
        // shape is sent again only when the cat's area changes in the window,
        // not at each step of a walk.
        auto local = [&](const QRectF &cat) {
            const QRectF r = m_desktop->toQt(cat).translated(-origin);
            return QRect(QPoint(int(std::lround(r.left())), int(std::lround(r.top()))),
                         QSize(int(std::ceil(r.width())), int(std::ceil(r.height()))));
        };
        const bool pressable = clickOpensAsk && !m_aside && active && sameRect(panel->screen().frame, active->frame);
        panel->setCatAccessibilityFrame(pressable ? std::optional<QRect>(m_desktop->toQt(hit.rect).toAlignedRect())
                                                  : std::nullopt);
        if (m_dragging) {
            // The drag goes on over every screen.
            rects.push_back(panel->rect());
        } else if (pressable) {
            // Only the cat takes the mouse, and always, not once a frame has
            // seen the pointer over it: a press that comes with the pointer
            // reaches it. A click on its bubble goes to the window beneath, as
            // anywhere else off the cat.
            QRegion region(local(hit.rect));
            if (hit.excluded)
                region -= local(*hit.excluded);
            for (const QRect &r : region)
                rects.push_back(r);
        }
        panel->setInteractive(rects);
    }
}

void CompanionController::mouseDown(QPointF qtGlobal)
{
    const QPointF p = m_desktop->toCat(qtGlobal);
    const CatHitArea hit = hitArea();
    if (!clickOpensAsk || m_aside || !hit.contains(p))
        return;
    m_pressPoint = p;
    m_dragging = false;
    // From where the cat is seen, which in a nest on the focus timer is not its
    // position beside the timer: carried, it stays where it was taken hold of.
    m_dragOffset = p - hit.feet;
}

void CompanionController::mouseDragged(QPointF qtGlobal)
{
    if (!m_pressPoint)
        return;
    const QPointF p = m_desktop->toCat(qtGlobal);
    if (!m_dragging) {
        const QPointF d = p - *m_pressPoint;
        if (std::hypot(d.x(), d.y()) <= 6)
            return;
        m_dragging = true;
        m_brain.pickUp();
        schedule(kAwakeInterval);
    }
    m_brain.pose.position = p - m_dragOffset;
}

void CompanionController::mouseUp(QPointF)
{
    if (m_pressPoint) {
        if (m_dragging) {
            m_brain.putDown = true;
        } else {
            if (onClick)
                onClick();
            Q_EMIT clicked();
        }
    }
    m_pressPoint.reset();
    m_dragging = false;
}
