#include "design/ZephylSpring.h"

#include <algorithm>
#include <cmath>
#include <numbers>

double SpringAnimation::position(double t) const
{
    if (t <= 0.0)
        return 0.0;
    if (response <= 0.0)
        return 1.0;
    const double omega = 2.0 * std::numbers::pi / response;
    const double zeta = std::max(0.0, dampingFraction);
    double x;
    if (zeta < 1.0) {
        const double omegaD = omega * std::sqrt(1.0 - zeta * zeta);
        x = std::exp(-zeta * omega * t) * (std::cos(omegaD * t) + zeta * omega / omegaD * std::sin(omegaD * t));
    } else if (zeta == 1.0) {
        x = std::exp(-omega * t) * (1.0 + omega * t);
    } else {
        const double root = omega * std::sqrt(zeta * zeta - 1.0);
        const double r1 = -zeta * omega + root;
        const double r2 = -zeta * omega - root;
        x = (r1 * std::exp(r2 * t) - r2 * std::exp(r1 * t)) / (r1 - r2);
    }
    return 1.0 - x;
}

double SpringAnimation::settlingDuration(double tolerance) const
{
    // Scan in millisecond steps for the last moment outside the tolerance; an
    // undamped spring never settles, so give up after ten seconds.
    constexpr double step = 0.001;
    constexpr double limit = 10.0;
    double last = 0.0;
    for (double t = step; t <= limit; t += step) {
        if (std::abs(1.0 - position(t)) > tolerance)
            last = t;
    }
    return last + step;
}

const SpringAnimation &zephylSpring()
{
    static const SpringAnimation spring{0.42, 0.86, 0.0};
    return spring;
}
