#pragma once

#include "base/Clock.h"
#include "design/ZephylSpring.h"

#include <QObject>

#include <memory>
#include <optional>

// Eases a pressed state between 0 (released) and 1 (pressed) over a fixed time,
// ease-out, on the application's Clock so tests can run it in virtual time.
// A duration of 0 follows the state at once. Made with a spring, it follows
// the spring instead (overshoot included) until the spring settles.
class PressAnimator final : public QObject {
    Q_OBJECT
public:
    explicit PressAnimator(double durationSeconds, QObject *parent = nullptr);
    explicit PressAnimator(const SpringAnimation &spring, QObject *parent = nullptr);

    void setPressed(bool pressed);
    bool pressed() const { return m_target > 0.5; }
    // The eased progress now: 0 released, 1 pressed.
    double value() const;
    bool running() const { return m_timer != nullptr; }

Q_SIGNALS:
    void changed();

private:
    void tick();

    double m_duration;
    std::optional<SpringAnimation> m_spring;
    double m_from = 0.0;
    double m_target = 0.0;
    double m_start = 0.0;
    std::unique_ptr<Clock::Timer> m_timer;
};
