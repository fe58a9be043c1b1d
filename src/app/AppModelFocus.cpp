// Focus flows: starting, stopping, resuming and advancing the focus timer, and
// the right to read and minimise other applications' windows.
#include "app/AppModel.h"

#include "design/L10n.h"

namespace {
constexpr std::chrono::seconds kFocusTick{1};
constexpr std::chrono::seconds kTrustRecheck{2};
} // namespace

void AppModel::startFocus(std::optional<int> minutes)
{
    // Lengths from a chip, a page or a setting all land in the range a typed command allows.
    const int length = clampedFocusMinutes(minutes.value_or(m_focusMinutes));
    FocusSession next = m_focus;
    next.start(length); // rest length and completed rounds are kept
    setFocus(next);
    m_focusLastTick = clock().now();
    // Replacing the timer stops the previous one. The timer belongs to the model,
    // so it never outlives it.
    m_focusTimer = clock().every(kFocusTick, [this] { tickFocus(); });
    raise(AppEvent::of(AppEvent::Kind::focusStarted));
    // Desktop notifications need no permission here, so nothing is asked for.
}

void AppModel::tickFocus()
{
    // Advance by the real time elapsed, so a late or skipped firing does not slow the countdown.
    const QDateTime now = clock().now();
    const double dt = double(m_focusLastTick.msecsTo(now)) / 1000.0;
    m_focusLastTick = now;
    FocusSession next = m_focus;
    const auto event = next.tick(dt);
    setFocus(next);
    if (!event)
        return;
    if (*event == FocusSession::Event::workEnded) {
        // The timer keeps running through the rest.
        raise(AppEvent::of(AppEvent::Kind::restStarted));
        notify(L10n::t("Round complete"),
               L10n::tf("%d minutes of focus done. Take %d minutes.", m_focus.workMinutes, m_focus.restMinutes));
    } else {
        m_focusTimer.reset();
        raise(AppEvent::of(AppEvent::Kind::focusEnded));
        notify(L10n::t("Break over"), L10n::t("Ready for another round when you are."));
    }
}

void AppModel::stopFocus()
{
    if (!m_focus.isRunning())
        return;
    FocusSession next = m_focus;
    next.stop();
    setFocus(next);
    m_focusTimer.reset();
    raise(AppEvent::of(AppEvent::Kind::focusEnded));
}

void AppModel::resumeFocus()
{
    // The time spent paused is not counted at the next tick.
    m_focusLastTick = clock().now();
    FocusSession next = m_focus;
    next.resume();
    setFocus(next);
}

void AppModel::requestAccessibility()
{
    // On X11 there is no prompt to show: the session either lets us read other
    // windows or it does not. It is read again after the same pause as elsewhere,
    // in case the desktop came up meanwhile.
    setAccessibilityTrusted(windows().trusted());
    m_accessibilityRecheck = clock().after(kTrustRecheck, [this] { setAccessibilityTrusted(windows().trusted()); });
}
