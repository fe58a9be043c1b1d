#pragma once

#include <QString>

#include <optional>

// The focus timer's state: a work round of a chosen length followed by a rest.
// A plain value with no clock of its own; its owner advances it with the real
// elapsed time, and it reports the end of a round through tick().
struct FocusSession {
    struct Phase {
        enum class Kind { paused, idle, working, resting };
        Kind kind = Kind::idle;
        bool wasWorking = false; // only meaningful while paused

        static Phase paused(bool wasWorking) { return {Kind::paused, wasWorking}; }
        static Phase idle() { return {Kind::idle, false}; }
        static Phase working() { return {Kind::working, false}; }
        static Phase resting() { return {Kind::resting, false}; }

        friend bool operator==(const Phase &a, const Phase &b)
        {
            return a.kind == b.kind && (a.kind != Kind::paused || a.wasWorking == b.wasWorking);
        }
    };

    enum class Event { workEnded, restEnded };

    Phase phase = Phase::idle();
    int workMinutes = 25;
    int restMinutes = 5;
    double remaining = 0; // seconds left in the current round or rest
    int completedRounds = 0;

    // Advances by dt seconds; the event that happened, if any.
    std::optional<Event> tick(double dt);
    // Remaining time as "MM:SS", rounded up, ASCII digits whatever the locale.
    QString display() const;

    // The transitions the owner makes.
    void start(int minutes);
    void stop();
    void pause();
    void resume();

    bool isRunning() const { return phase.kind != Phase::Kind::idle; }

    friend bool operator==(const FocusSession &, const FocusSession &) = default;
};
