#include "design/PressAnimator.h"

#include <QEasingCurve>
#include <QPointF>

#include <algorithm>

namespace {
// The ease-out timing curve: cubic Bézier (0, 0) (0.58, 1).
const QEasingCurve &easeOut()
{
    static const QEasingCurve curve = [] {
        QEasingCurve c(QEasingCurve::BezierSpline);
        c.addCubicBezierSegment(QPointF(0.0, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
        return c;
    }();
    return curve;
}

constexpr std::chrono::milliseconds kFrame{16};
} // namespace

PressAnimator::PressAnimator(double durationSeconds, QObject *parent)
    : QObject(parent), m_duration(std::max(0.0, durationSeconds))
{
}

PressAnimator::PressAnimator(const SpringAnimation &spring, QObject *parent)
    : QObject(parent), m_duration(spring.settlingDuration()), m_spring(spring)
{
}

double PressAnimator::value() const
{
    if (!m_timer)
        return m_target;
    const double elapsed = Clock::shared().uptime() - m_start;
    const double progress = m_spring ? m_spring->position(elapsed)
                                     : easeOut().valueForProgress(std::clamp(elapsed / m_duration, 0.0, 1.0));
    return m_from + (m_target - m_from) * progress;
}

void PressAnimator::setPressed(bool pressed)
{
    const double target = pressed ? 1.0 : 0.0;
    if (target == m_target)
        return;
    // A change in mid-flight starts from where the value is now.
    m_from = value();
    m_target = target;
    if (m_duration <= 0.0) {
        m_timer.reset();
        Q_EMIT changed();
        return;
    }
    m_start = Clock::shared().uptime();
    if (!m_timer)
        m_timer = Clock::shared().every(kFrame, [this] { tick(); });
    Q_EMIT changed();
}

void PressAnimator::tick()
{
    if (Clock::shared().uptime() - m_start >= m_duration)
        m_timer.reset();
    Q_EMIT changed();
}
