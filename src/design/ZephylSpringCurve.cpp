#include "design/ZephylSpringCurve.h"

#include <QVariantAnimation>

#include <cmath>

namespace {
double settling()
{
    static const double seconds = zephylSpring().settlingDuration();
    return seconds;
}

qreal springProgress(qreal progress)
{
    if (progress >= 1.0)
        return 1.0;
    return zephylSpring().position(progress * settling());
}
} // namespace

namespace ZephylSpringCurve {

QEasingCurve curve()
{
    QEasingCurve c;
    c.setCustomType(springProgress);
    return c;
}

int durationMs() { return int(std::lround(settling() * 1000.0)); }

void apply(QVariantAnimation &animation)
{
    animation.setDuration(durationMs());
    animation.setEasingCurve(curve());
}

} // namespace ZephylSpringCurve
