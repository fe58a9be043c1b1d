#pragma once

#include "base/Clock.h"

#include <QCoreApplication>

// Runs virtual time forward event by event, letting resumed coroutines (which
// come back through the event loop) schedule their next wait before moving on.
inline void drainEvents()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

inline void advanceVirtual(FakeClock &clock, double seconds)
{
    qint64 left = std::llround(seconds * 1000.0);
    drainEvents();
    while (true) {
        const auto next = clock.msUntilNext();
        if (!next || *next > left)
            break;
        clock.advance(std::chrono::milliseconds(*next));
        left -= *next;
        drainEvents();
    }
    clock.advance(std::chrono::milliseconds(left));
    drainEvents();
}
