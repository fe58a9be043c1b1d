#include "design/PressAnimator.h"

#include <QEasingCurve>
#include <QPointF>

#include <algorithm>
#include <cmath>

namespace {
constexpr std::chrono::milliseconds kFrame{16};
} // namespace

double easeOutProgress(double t)
{
    static const QEasingCurve curve = [] {
        QEasingCurve c(QEasingCurve::BezierSpline);
        c.addCubicBezierSegment(QPointF(0.0, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
        return c;
    }();
    return curve.valueForProgress(std::clamp(t, 0.0, 1.0));
}

AnimationTiming AnimationTiming::easeOut(double seconds) { return {std::max(0.0, seconds), std::nullopt}; }

AnimationTiming AnimationTiming::springing(const SpringAnimation &spring)
{
    return {spring.settlingDuration(), spring};
}

double AnimationTiming::progress(double elapsed) const
{
    if (elapsed >= seconds)
        return 1.0;
    return spring ? spring->position(elapsed) : easeOutProgress(elapsed / seconds);
}

PressAnimator::PressAnimator(double durationSeconds, QObject *parent)
    : QObject(parent), m_timing(AnimationTiming::easeOut(durationSeconds)), m_running(m_timing)
{
}

PressAnimator::PressAnimator(const SpringAnimation &spring, QObject *parent)
    : QObject(parent), m_timing(AnimationTiming::springing(spring)), m_running(m_timing)
{
}

double PressAnimator::value() const
{
    if (!m_timer)
        return m_target;
    return m_from + (m_target - m_from) * m_running.progress(Clock::shared().uptime() - m_start);
}

void PressAnimator::setPressed(bool pressed) { setPressed(pressed, m_timing); }

void PressAnimator::setPressed(bool pressed, const AnimationTiming &timing)
{
    const double target = pressed ? 1.0 : 0.0;
    // An immediate change also ends one already under way to the same state.
    const bool settle = timing.seconds <= 0.0 && m_timer;
    if (target == m_target && !settle)
        return;
    // A change in mid-flight starts from where the value is now.
    m_from = value();
    m_target = target;
    m_running = timing;
    if (m_running.seconds <= 0.0) {
        m_timer.reset();
        m_finish.reset();
        Q_EMIT changed();
        return;
    }
    m_start = Clock::shared().uptime();
    if (!m_timer)
        m_timer = Clock::shared().every(kFrame, [this] { tick(); });
    // The last frame falls exactly on the end, not on the frame after it.
    m_finish = Clock::shared().after(std::chrono::milliseconds(std::llround(m_running.seconds * 1000.0)), [this] {
        m_timer.reset();
        Q_EMIT changed();
    });
    Q_EMIT changed();
}

void PressAnimator::tick()
{
    if (Clock::shared().uptime() - m_start >= m_running.seconds)
        m_timer.reset();
    Q_EMIT changed();
}
