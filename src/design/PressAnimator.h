#pragma once

#include "base/Clock.h"
#include "design/ZephylSpring.h"

#include <QObject>

#include <memory>
#include <optional>

// How one animated change runs: at once, an ease-out over a time, or a spring.
struct AnimationTiming {
    // Seconds until the change has settled; 0 runs it at once.
    double seconds = 0.0;
    // When set, the change follows this spring (overshoot included) instead of the ease-out.
    std::optional<SpringAnimation> spring;

    static AnimationTiming immediate() { return {}; }
    static AnimationTiming easeOut(double seconds);
    static AnimationTiming springing(const SpringAnimation &spring);

    // How far the change has gone after `elapsed` seconds: 0 at the start, 1 once settled.
    double progress(double elapsed) const;
};

// The ease-out timing curve, cubic Bézier (0, 0) (0.58, 1), at `t` from 0 to 1.
double easeOutProgress(double t);

// Eases a pressed state between 0 (released) and 1 (pressed) over a fixed time,
// ease-out, on the application's Clock so tests can run it in virtual time.
// A duration of 0 follows the state at once. Made with a spring, it follows
// the spring instead (overshoot included) until the spring settles. A change
// may bring a timing of its own.
class PressAnimator final : public QObject {
    Q_OBJECT
public:
    explicit PressAnimator(double durationSeconds, QObject *parent = nullptr);
    explicit PressAnimator(const SpringAnimation &spring, QObject *parent = nullptr);

    void setPressed(bool pressed);
    // This change only runs with `timing`; later ones go back to the animator's own.
    // An immediate timing also ends a change still under way to the same state.
    void setPressed(bool pressed, const AnimationTiming &timing);
    bool pressed() const { return m_target > 0.5; }
    // The eased progress now: 0 released, 1 pressed.
    double value() const;
    bool running() const { return m_timer != nullptr; }

Q_SIGNALS:
    void changed();

private:
    void tick();

    AnimationTiming m_timing;
    AnimationTiming m_running;
    double m_from = 0.0;
    double m_target = 0.0;
    double m_start = 0.0;
    std::unique_ptr<Clock::Timer> m_timer;
    std::unique_ptr<Clock::Timer> m_finish;
};
