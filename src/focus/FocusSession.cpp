#include "focus/FocusSession.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

std::optional<FocusSession::Event> FocusSession::tick(double dt)
{
    if (!(dt > 0)) // zero, negative or not a number
        return std::nullopt;
    switch (phase.kind) {
    case Phase::Kind::working:
        remaining -= dt;
        if (remaining <= 0) {
            ++completedRounds;
            phase = Phase::resting();
            remaining = restMinutes * 60.0; // the overshoot is dropped: a rest starts full
            return Event::workEnded;
        }
        return std::nullopt;
    case Phase::Kind::resting:
        remaining -= dt;
        if (remaining <= 0) {
            phase = Phase::idle();
            remaining = 0;
            return Event::restEnded;
        }
        return std::nullopt;
    case Phase::Kind::idle:
    case Phase::Kind::paused: return std::nullopt;
    }
    return std::nullopt;
}

QString FocusSession::display() const
{
    // Bounded so that a runaway value never overflows the conversion.
    double up = std::ceil(remaining);
    if (!std::isfinite(up))
        up = up > 0 ? 1e12 : 0;
    const long long total = static_cast<long long>(std::clamp(up, 0.0, 1e12));
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02lld", total / 60, total % 60);
    return QString::fromLatin1(buffer);
}

void FocusSession::start(int minutes)
{
    workMinutes = minutes;
    phase = Phase::working();
    remaining = workMinutes * 60.0;
}

void FocusSession::stop()
{
    if (phase.kind == Phase::Kind::idle)
        return;
    phase = Phase::idle();
    remaining = 0;
}

void FocusSession::pause()
{
    if (phase.kind == Phase::Kind::working)
        phase = Phase::paused(true);
    else if (phase.kind == Phase::Kind::resting)
        phase = Phase::paused(false);
}

void FocusSession::resume()
{
    if (phase.kind == Phase::Kind::paused)
        phase = phase.wasWorking ? Phase::working() : Phase::resting();
}
