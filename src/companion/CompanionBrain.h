#pragma once

#include "companion/CompanionTypes.h"

#include <optional>
#include <vector>

// The cat's behaviour engine: a plain value stepped once per frame against a
// described world. No clock, no system access, one seeded random source, so the
// same seed, worlds and time steps give the same cat.
struct CompanionBrain {
    // What the cat stands on.
    struct Support {
        enum class Kind : std::uint8_t { ledge, floor, perch, nest, spot, none };
        Kind kind = Kind::floor;
        Ledge ledge; // only meaningful for ledge

        static Support onLedge(const Ledge &l) { return {Kind::ledge, l}; }
        static Support onFloor() { return {Kind::floor, {}}; }
        static Support onPerch() { return {Kind::perch, {}}; }
        static Support onNest() { return {Kind::nest, {}}; }
        static Support onSpot() { return {Kind::spot, {}}; }
        static Support nothing() { return {Kind::none, {}}; }

        friend bool operator==(const Support &a, const Support &b)
        {
            return a.kind == b.kind && (a.kind != Kind::ledge || a.ledge == b.ledge);
        }
    };

    struct Vector {
        double dx = 0, dy = 0;
        friend bool operator==(const Vector &, const Vector &) = default;
    };

    struct Landing {
        double y = 0;
        Support support;
        std::optional<CompanionGoal> goal;
        // Where the hop took off and the x it is aimed at.
        double fromX = 0, x = 0;
    };

    // The weights of the idle choice; what they leave over is plain idling.
    struct IdleOdds {
        double sleep = 0, groom = 0, walk = 0, hop = 0;
        static IdleOdds at(int hour, bool hungry, CompanionTemper temper);
    };

    CompanionPose pose;
    Support support;
    std::optional<CompanionGoal> goal;
    std::optional<QPointF> restSpot;
    std::optional<QPointF> restOffsetInHome;
    bool awayByChoice = false;
    QSizeF size{84, 62};
    double walkSpeed = 68;
    SeededGenerator generator;
    double stateTime = 0;
    double stateDuration = 0;
    std::optional<double> targetX;
    Vector velocity;
    std::optional<Landing> landing;
    double blinkCountdown = 3.0;
    double blinkRemaining = 0;
    bool approachFailed = false;
    CompanionTemper temper = CompanionTemper::calm;
    bool putDown = false;

    static CompanionBrain start(std::uint64_t seed, QPointF at);

    void request(const CompanionGoal &g);
    void clearGoal();
    void pickUp();
    // Advances one frame; the signals of the frame in the order they arose.
    std::vector<CompanionSignal> tick(double dt, const CompanionWorld &world);
    // Where the window top or the panel the cat stands on carries it in the
    // next tick, before the cat is kept on its screen; none unless it stands on
    // one that is still there: the x it is carried to and the height it stands
    // at. Only `ledges`, `home`, `perch` and `nest` of the world count.
    std::optional<QPointF> riddenTo(const CompanionWorld &world) const;
    // While a hop aimed at a place to stand on other than the floor (a window
    // top, a panel, a spot) is under way: the stretch of x it covers, from where
    // it took off to where it comes down. Such a place may lie on another
    // screen than the one the hop left.
    std::optional<std::pair<double, double>> hopSpan() const;

private:
    using Signals = std::vector<CompanionSignal>;

    double U() { return generator.uniform(0, 1); }
    void enter(CompanionState state, double duration);
    void temperIdle();
    void advancePhase(double dt, double rate);

    void runIdle(const CompanionWorld &world, Signals &out);
    void runWalk(double dt, const CompanionWorld &world);
    void runJump(double dt, Signals &out);
    void runFall(double dt, const CompanionWorld &world, Signals &out);
    void keepOnScreen(const CompanionWorld &world);

    // Choices, movements and support rules.
    std::pair<double, double> walkableRange(const CompanionWorld &world) const;
    double fitted(double x, const Ledge &l) const;
    double clampedX(double x, const Support &on, const CompanionWorld &world) const;
    double randomX(const Support &on, const CompanionWorld &world);
    bool fitsUnderCeiling(const Ledge &l, const CompanionWorld &world) const;
    double homeRestX(const Ledge &home) const;
    void planHop(double tx, double ty, const Support &s, const std::optional<CompanionGoal> &g);
    struct Candidate {
        double x, y;
        Support support;
    };
    std::optional<Candidate> hopCandidate(const CompanionWorld &world);
    void approach(const CompanionWorld &world, double tx, double ty, const Support &s,
                  const std::optional<CompanionGoal> &g);
    bool returnToRest(const CompanionWorld &world);
    void pursueGoal(const CompanionWorld &world);
    std::pair<double, Support> supportBelow(double y, double x, const CompanionWorld &world) const;
    void resolveSupport(const CompanionWorld &world);
    // The piece of the window top the cat stands on where that window is now,
    // the cat's x on it, and how far a walk target moves along.
    struct Ride {
        Ledge onto;
        double x;
        double targetShift;
    };
    std::optional<Ride> ride(const CompanionWorld &world) const;
    void leaveLostSupport(const CompanionWorld &world);
    void settleWherePutDown(const CompanionWorld &world);
    void chooseIdleBehaviour(const CompanionWorld &world, Signals &out);
};
