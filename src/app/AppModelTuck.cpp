// Tucking distractions away: the cat visits each distracting window in turn and
// the window is minimised when the cat gets there (or when the visit runs out).
#include "app/AppModel.h"

#include "design/L10n.h"

namespace {
// How far in from either side of the window's top edge the cat may land.
constexpr double kVisitInset = 24;
} // namespace

Ledge AppModel::visitLedge(const QRectF &frame)
{
    Ledge ledge;
    ledge.minX = frame.left() + kVisitInset;
    ledge.maxX = frame.right() - kVisitInset;
    ledge.y = geo::maxY(frame);
    ledge.windowNumber = -1;
    return ledge;
}

void AppModel::tuckAwayDistractions()
{
    setAccessibilityTrusted(windows().trusted());
    std::vector<DistractingWindow> found = FocusGuard::scan(windows());
    setDistractions(found);
    if (!m_accessibilityTrusted || found.empty())
        return;
    // A sequence already under way is replaced by this scan: its pause ends
    // here, and the visit started below supersedes its visit.
    m_pendingTucks = std::move(found);
    m_tuckPacing.reset();
    advanceTuck();
}

void AppModel::advanceTuck()
{
    m_tuckPacing.reset();
    if (m_pendingTucks.empty()) {
        m_tuckVisit.reset();
        raise(AppEvent::say(L10n::t("Feeds are tucked away. Back to it.")));
        return;
    }
    const DistractingWindow &next = m_pendingTucks.front();
    if (!next.frame) {
        // Nowhere to send the cat: minimised without a visit.
        completeTuck();
        return;
    }
    const QRectF frame = *next.frame;
    // The visit and its fallback are in place before the event goes out, so an
    // arrival reported from inside the coordinator's handler finds them.
    m_tuckVisit = frame;
    m_tuckTimeout = clock().after(kTuckVisitLimit, [this] { completeTuck(); });
    raise(AppEvent::visitWindow(frame));
}

void AppModel::tuckVisitArrived(const CompanionGoal &arrived)
{
    if (arrived.kind != CompanionGoal::Kind::visit || !m_tuckVisit)
        return;
    if (!(arrived.ledge == visitLedge(*m_tuckVisit)))
        return; // the landing of a visit that has already ended
    completeTuck();
}

void AppModel::completeTuck()
{
    m_tuckTimeout.reset();
    if (m_pendingTucks.empty())
        return;
    const DistractingWindow done = m_pendingTucks.front();
    m_pendingTucks.erase(m_pendingTucks.begin());
    // The visit is over: a landing that arrives after this completes nothing.
    m_tuckVisit.reset();
    // A window closed meanwhile simply stays gone; the sequence goes on either way.
    windows().minimize(done.element);

    std::vector<DistractingWindow> left = m_distractions;
    std::erase_if(left, [&](const DistractingWindow &w) { return w.id == done.id; });
    setDistractions(std::move(left));

    m_tuckPacing = clock().after(kTuckPacing, [this] { advanceTuck(); });
    // The frame of the visit that ended lets the coordinator drop exactly that
    // visit's goal (empty for a window that was never visited).
    AppEvent ended = AppEvent::of(AppEvent::Kind::visitEnded);
    ended.frame = done.frame.value_or(QRectF());
    raise(ended);
}
