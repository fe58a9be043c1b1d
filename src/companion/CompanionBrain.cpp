#include "companion/CompanionBrain.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kGravity = 1900;

double fractional(double v) { return v - std::floor(v); }

bool isStandingSupport(CompanionBrain::Support::Kind k)
{
    using K = CompanionBrain::Support::Kind;
    return k == K::ledge || k == K::floor || k == K::perch || k == K::nest;
}

} // namespace

// ---------------------------------------------------------------------------
// Start and the outside's levers

CompanionBrain CompanionBrain::start(std::uint64_t seed, QPointF at)
{
    CompanionBrain b;
    b.pose.position = at;
    b.support = Support::onFloor();
    b.generator.state = seed;
    b.stateDuration = 2.0;
    return b;
}

void CompanionBrain::request(const CompanionGoal &g)
{
    goal = g;
    approachFailed = false;
    if (pose.state == CompanionState::sleep)
        enter(CompanionState::stretch, 1.1);
    using K = CompanionGoal::Kind;
    if (g.kind == K::visit || g.kind == K::perch || g.kind == K::nest)
        return;
    const auto s = pose.state;
    if (s == CompanionState::jump || s == CompanionState::fall || s == CompanionState::carried)
        return; // acted on once the idle state pursues it
    if (g.kind == K::celebrate)
        enter(CompanionState::pounce, 0.9);
    else if (g.kind == K::stretch)
        enter(CompanionState::stretch, 1.6);
    else
        enter(CompanionState::sleep, 16);
    goal.reset();
}

void CompanionBrain::clearGoal()
{
    goal.reset();
    approachFailed = false;
    if (pose.state == CompanionState::perch || pose.state == CompanionState::nest)
        enter(CompanionState::idle, 1 + U());
}

void CompanionBrain::pickUp()
{
    goal.reset();
    support = Support::nothing();
    putDown = false;
    velocity = {};
    // The pose mirrors the velocity everywhere else; a cat caught mid-hop is not
    // drawn tilted for the whole drag.
    pose.verticalSpeed = 0;
    landing.reset();
    enter(CompanionState::carried, 0);
}

// ---------------------------------------------------------------------------
// The tick

std::vector<CompanionSignal> CompanionBrain::tick(double dt, const CompanionWorld &world)
{
    Signals out;
    // A NaN step counts as none; a stall as 0.1 s.
    dt = std::isnan(dt) ? 0.0 : std::clamp(dt, 0.0, 0.1);
    stateTime += dt;
    temper = world.temper;

    // Blink.
    if (blinkRemaining > 0) {
        blinkRemaining -= dt;
        pose.blink = blinkRemaining > 0;
    } else {
        blinkCountdown -= dt;
        if (blinkCountdown <= 0) {
            blinkRemaining = 0.13;
            pose.blink = true;
            blinkCountdown = generator.uniform(2.4, 6.5);
        }
    }

    // Gaze toward the cursor, relative to the middle of the body.
    pose.gaze = QPointF();
    if (world.cursor) {
        const double dx = world.cursor->x() - pose.position.x();
        const double dy = world.cursor->y() - (pose.position.y() + size.height() * 0.5);
        if (std::abs(dx) < 340 && std::abs(dy) < 340)
            pose.gaze = QPointF(std::clamp(dx / 160, -1.0, 1.0), std::clamp(dy / 160, -1.0, 1.0));
    }

    const auto s = pose.state;
    if (s != CompanionState::jump && s != CompanionState::fall && s != CompanionState::carried)
        resolveSupport(world);

    switch (pose.state) {
    case CompanionState::idle:
        advancePhase(dt, 0.45);
        runIdle(world, out);
        break;
    case CompanionState::groom:
        advancePhase(dt, 1.4);
        if (goal || stateTime >= stateDuration)
            temperIdle();
        break;
    case CompanionState::walk:
        advancePhase(dt, 2.1);
        runWalk(dt, world);
        break;
    case CompanionState::jump:
        runJump(dt, out);
        break;
    case CompanionState::fall:
        runFall(dt, world, out);
        break;
    case CompanionState::sleep:
        advancePhase(dt, 0.32);
        if (goal || stateTime >= stateDuration) {
            out.push_back(CompanionSignal::wokeUp());
            enter(CompanionState::stretch, 1.2);
        }
        break;
    case CompanionState::perch:
    case CompanionState::nest: {
        advancePhase(dt, 0.4);
        const auto held = pose.state == CompanionState::perch ? CompanionGoal::Kind::perch : CompanionGoal::Kind::nest;
        if (goal && goal->kind == held)
            break;
        if (goal)
            enter(CompanionState::idle, 0.2);
        else
            enter(CompanionState::idle, 1 + U());
        break;
    }
    case CompanionState::stretch:
        pose.progress = stateDuration > 0 ? std::min(stateTime / stateDuration, 1.0) : 1.0;
        if (stateTime >= stateDuration) {
            if (goal)
                enter(CompanionState::idle, 0.2);
            else
                temperIdle();
        }
        break;
    case CompanionState::pounce:
        pose.progress = stateDuration > 0 ? std::min(stateTime / stateDuration, 1.0) : 1.0;
        if (stateTime >= stateDuration)
            temperIdle(); // a pending goal does not shorten the celebration
        break;
    case CompanionState::carried:
        advancePhase(dt, 0.6);
        if (putDown) {
            putDown = false;
            settleWherePutDown(world);
            out.push_back(CompanionSignal::landed());
        }
        break;
    }

    keepOnScreen(world);
    return out;
}

void CompanionBrain::enter(CompanionState state, double duration)
{
    pose.state = state;
    stateTime = 0;
    pose.phase = 0;
    pose.progress = 0;
    stateDuration = duration;
}

void CompanionBrain::temperIdle()
{
    const double d = temper == CompanionTemper::calm ? generator.uniform(150, 360) : generator.uniform(45, 120);
    enter(CompanionState::idle, d);
}

void CompanionBrain::advancePhase(double dt, double rate) { pose.phase = fractional(pose.phase + dt * rate); }

void CompanionBrain::runIdle(const CompanionWorld &world, Signals &out)
{
    if (goal) {
        pursueGoal(world);
        return;
    }
    // An idle cat away from its rest place heads back after at most two seconds.
    if (!awayByChoice && stateTime >= std::min(stateDuration, 2.0) && returnToRest(world))
        return;
    // A user who has left for three minutes cuts a long idle short after 20 s.
    const bool userAway = stateTime >= 20 && world.idleSeconds > 180;
    if (stateTime < stateDuration && !userAway)
        return;
    if (awayByChoice) {
        awayByChoice = false;
        if (returnToRest(world))
            return;
    }
    chooseIdleBehaviour(world, out);
}

void CompanionBrain::runWalk(double dt, const CompanionWorld &world)
{
    if (!targetX) {
        temperIdle();
        return;
    }
    const double dx = *targetX - pose.position.x();
    const double step = std::min(dt * walkSpeed, std::abs(dx));
    pose.position.rx() += dx < 0 ? -step : step;
    if (std::abs(dx) > 1)
        pose.facing = dx < 0 ? -1 : 1;
    if (std::abs(*targetX - pose.position.x()) < 0.5) {
        targetX.reset();
        if (goal)
            pursueGoal(world);
        else if (!returnToRest(world))
            temperIdle();
    }
}

void CompanionBrain::runJump(double dt, Signals &out)
{
    velocity.dy += -kGravity * dt;
    pose.position += QPointF(velocity.dx * dt, velocity.dy * dt);
    pose.verticalSpeed = velocity.dy;
    if (!landing)
        return;
    // Waiting for the descent lets a hop onto something higher clear its edge first.
    if (velocity.dy > 0 || pose.position.y() > landing->y)
        return;
    const Landing l = *landing;
    landing.reset();
    pose.position.setY(l.y);
    velocity = {};
    pose.verticalSpeed = 0;
    support = l.support;
    out.push_back(CompanionSignal::landed());
    if (l.goal) {
        out.push_back(CompanionSignal::arrived(*l.goal));
        if (l.goal->kind == CompanionGoal::Kind::perch) {
            enter(CompanionState::perch, 0);
        } else if (l.goal->kind == CompanionGoal::Kind::nest) {
            enter(CompanionState::nest, 0);
        } else {
            // Only the goal this jump served is done; one requested in mid-air stays.
            if (goal && *goal == *l.goal)
                goal.reset();
            enter(CompanionState::idle, generator.uniform(1.5, 3.0));
        }
        return;
    }
    if (support.kind == Support::Kind::ledge)
        pose.facing = support.ledge.midX() < pose.position.x() ? -1 : 1;
    temperIdle();
}

void CompanionBrain::runFall(double dt, const CompanionWorld &world, Signals &out)
{
    velocity.dy += -kGravity * dt;
    pose.position += QPointF(velocity.dx * dt, velocity.dy * dt);
    pose.verticalSpeed = velocity.dy;
    // Search from just above where the feet were before this step, so a ledge
    // passed through during the step still catches the cat.
    const auto [by, below] = supportBelow(pose.position.y() - velocity.dy * dt + 1, pose.position.x(), world);
    if (pose.position.y() <= by) {
        pose.position.setY(by);
        velocity = {};
        pose.verticalSpeed = 0;
        support = below;
        out.push_back(CompanionSignal::landed());
        enter(CompanionState::idle, generator.uniform(0.8, 2.2));
    }
}

void CompanionBrain::keepOnScreen(const CompanionWorld &world)
{
    const auto [lo, hi] = walkableRange(world);
    if (pose.position.x() < lo) {
        pose.position.setX(lo);
        targetX.reset();
    } else if (pose.position.x() > hi) {
        pose.position.setX(hi);
        targetX.reset();
    }
    const auto s = pose.state;
    if (s != CompanionState::jump && s != CompanionState::fall)
        pose.position.setY(std::min(pose.position.y(), world.ceiling() - size.height()));
    if (pose.position.y() < world.floorY && s != CompanionState::carried) {
        pose.position.setY(world.floorY);
        pose.verticalSpeed = 0;
        velocity = {};
        support = Support::onFloor();
        if (s == CompanionState::jump || s == CompanionState::fall) {
            landing.reset();
            enter(CompanionState::idle, 1.0);
        }
    }
}

// ---------------------------------------------------------------------------
// Choices, movements and support

std::pair<double, double> CompanionBrain::walkableRange(const CompanionWorld &world) const
{
    const double lo = world.bounds.x() + size.width() / 2 + 4;
    const double hi = std::max(lo + 1, world.bounds.x() + world.bounds.width() - size.width() / 2 - 4);
    return {lo, hi};
}

double CompanionBrain::fitted(double x, const Ledge &l) const
{
    const double m = std::min(l.width() / 2, size.width() / 2);
    const double lo = l.minX + m, hi = l.maxX - m;
    if (lo >= hi)
        return l.midX();
    return std::clamp(x, lo, hi);
}

double CompanionBrain::clampedX(double x, const Support &on, const CompanionWorld &world) const
{
    const auto [lo, hi] = walkableRange(world);
    x = std::clamp(x, lo, hi);
    switch (on.kind) {
    case Support::Kind::ledge: return fitted(x, on.ledge);
    case Support::Kind::perch: return world.perch ? fitted(x, *world.perch) : x;
    case Support::Kind::nest: return world.nest ? fitted(x, *world.nest) : x;
    default: return x;
    }
}

double CompanionBrain::randomX(const Support &on, const CompanionWorld &world)
{
    const double distance = generator.uniform(70, 180);
    const double direction = U() < 0.5 ? -1 : 1;
    return clampedX(pose.position.x() + distance * direction, on, world);
}

bool CompanionBrain::fitsUnderCeiling(const Ledge &l, const CompanionWorld &world) const
{
    return l.y + size.height() <= world.ceiling();
}

double CompanionBrain::homeRestX(const Ledge &home) const
{
    // 36 points in from the right end of the workspace window's top.
    const double m = std::min(home.width() / 2, size.width() / 2);
    const double lo = home.minX + m, hi = home.maxX - m;
    if (lo >= hi)
        return home.midX();
    return std::clamp(home.maxX - size.width() / 2 - 36, lo, hi);
}

void CompanionBrain::planHop(double tx, double ty, const Support &s, const std::optional<CompanionGoal> &g)
{
    const double dx = tx - pose.position.x(), dy = ty - pose.position.y();
    const double T = std::clamp(std::abs(dx) / 1400 + std::abs(dy) / 1600 + 0.45, 0.5, 1.25);
    velocity = {dx / T, (dy + kGravity / 2 * T * T) / T};
    if (std::abs(dx) > 1)
        pose.facing = dx < 0 ? -1 : 1;
    landing = Landing{ty, s, g, pose.position.x(), tx};
    support = Support::nothing();
    enter(CompanionState::jump, 0);
}

std::optional<CompanionBrain::Candidate> CompanionBrain::hopCandidate(const CompanionWorld &world)
{
    if (!world.walksOnWindows)
        return std::nullopt;
    const double x = pose.position.x(), y = pose.position.y();
    const auto [lo, hi] = walkableRange(world);
    std::vector<Candidate> candidates;
    for (const Ledge &l : world.ledges) {
        if (l.width() < std::max(120.0, size.width() + 40))
            continue;
        if (support.kind == Support::Kind::ledge && support.ledge.windowNumber == l.windowNumber)
            continue;
        const double tx = std::clamp(fitted(x, l), lo, hi);
        if (tx < l.minX || tx > l.maxX || !fitsUnderCeiling(l, world))
            continue;
        const double dy = l.y - y;
        if (std::abs(tx - x) <= 360 && dy >= -700 && dy <= 380 && std::abs(dy) > 12)
            candidates.push_back({tx, l.y, Support::onLedge(l)});
    }
    if (support.kind != Support::Kind::floor && y - world.floorY > 40)
        candidates.push_back({x + generator.uniform(-120, 120), world.floorY, Support::onFloor()});
    if (candidates.empty())
        return std::nullopt;
    const auto n = candidates.size();
    const double v = generator.uniform(0, double(n - 1)); // one draw even for a single candidate
    const auto index = std::min(n - 1, static_cast<size_t>(std::round(v)));
    return candidates[index];
}

void CompanionBrain::approach(const CompanionWorld &world, double tx, double ty, const Support &s,
                              const std::optional<CompanionGoal> &g)
{
    const double x = pose.position.x();
    if (std::abs(tx - x) > 440 && !approachFailed && isStandingSupport(support.kind)) {
        // Too far to hop: first walk to the nearest place toward it on what the cat stands on.
        const double cx = clampedX(tx, support, world);
        if (std::abs(cx - x) >= 1) {
            targetX = cx;
            pose.state = CompanionState::walk;
            stateTime = 0;
            stateDuration = 0;
            pose.progress = 0;
            return;
        }
        approachFailed = true;
    }
    planHop(tx, ty, s, g);
}

bool CompanionBrain::returnToRest(const CompanionWorld &world)
{
    using K = Support::Kind;
    if (support.kind == K::perch || support.kind == K::nest || support.kind == K::spot || support.kind == K::none)
        return false;
    if (support.kind == K::ledge && world.home && world.home->windowNumber == support.ledge.windowNumber)
        return false;
    if (restSpot) {
        if (std::abs(restSpot->y() - pose.position.y()) <= 1 && std::abs(restSpot->x() - pose.position.x()) <= 2)
            return false;
        approachFailed = false;
        approach(world, restSpot->x(), restSpot->y(), Support::onSpot(), std::nullopt);
        return true;
    }
    if (!world.home || !fitsUnderCeiling(*world.home, world))
        return false;
    approachFailed = false;
    approach(world, homeRestX(*world.home), world.home->y, Support::onLedge(*world.home), std::nullopt);
    return true;
}

void CompanionBrain::pursueGoal(const CompanionWorld &world)
{
    if (!goal)
        return;
    using K = CompanionGoal::Kind;
    const CompanionGoal g = *goal;
    switch (g.kind) {
    case K::celebrate:
        enter(CompanionState::pounce, 0.9);
        goal.reset();
        return;
    case K::stretch:
        enter(CompanionState::stretch, 1.6);
        goal.reset();
        return;
    case K::nap:
        enter(CompanionState::sleep, 16);
        goal.reset();
        return;
    default: break;
    }
    Ledge target;
    Support targetSupport;
    if (g.kind == K::perch || g.kind == K::nest) {
        const auto &ledge = g.kind == K::perch ? world.perch : world.nest;
        if (!ledge) {
            goal.reset();
            return;
        }
        target = *ledge;
        targetSupport = g.kind == K::perch ? Support::onPerch() : Support::onNest();
    } else {
        target = g.ledge;
        targetSupport = Support::onLedge(g.ledge);
    }
    if (support == targetSupport) {
        if (g.kind == K::perch)
            enter(CompanionState::perch, 0);
        else if (g.kind == K::nest)
            enter(CompanionState::nest, 0);
        // A visit to the ledge the cat stands on stays pending until cleared.
        return;
    }
    approach(world, fitted(pose.position.x(), target), target.y, targetSupport, g);
}

std::pair<double, CompanionBrain::Support> CompanionBrain::supportBelow(double y, double x,
                                                                         const CompanionWorld &world) const
{
    double bestY = world.floorY;
    Support best = Support::onFloor();
    auto consider = [&](const Ledge &l, const Support &s, bool ceilingTest) {
        if (l.minX <= x && x <= l.maxX && l.y <= y && l.y > bestY && (!ceilingTest || fitsUnderCeiling(l, world))) {
            bestY = l.y;
            best = s;
        }
    };
    for (const Ledge &l : world.ledges)
        consider(l, Support::onLedge(l), true);
    if (world.home)
        consider(*world.home, Support::onLedge(*world.home), true);
    if (world.perch)
        consider(*world.perch, Support::onPerch(), false);
    if (world.nest)
        consider(*world.nest, Support::onNest(), false);
    return {bestY, best};
}

void CompanionBrain::resolveSupport(const CompanionWorld &world)
{
    using K = Support::Kind;
    switch (support.kind) {
    case K::floor:
        pose.position.setY(world.floorY); // the floor follows the panel at the bottom
        return;
    case K::perch:
    case K::nest: {
        const auto &ledge = support.kind == K::perch ? world.perch : world.nest;
        if (!ledge) {
            leaveLostSupport(world);
            return;
        }
        pose.position = QPointF(fitted(pose.position.x(), *ledge), ledge->y);
        return;
    }
    case K::spot:
        if (restOffsetInHome && world.homeFrame) {
            const QPointF p = world.homeFrame->topLeft() + *restOffsetInHome; // y-up: topLeft() is the origin
            pose.position = p;
            restSpot = p;
        }
        return;
    case K::none:
        awayByChoice = false;
        velocity.dx = 0;
        velocity.dy = std::min(velocity.dy, 0.0);
        landing.reset();
        enter(CompanionState::fall, 0);
        return;
    case K::ledge: break;
    }

    const std::optional<Ride> r = ride(world);
    if (!r) {
        leaveLostSupport(world);
        return;
    }
    pose.position = QPointF(r->x, r->onto.y);
    if (targetX)
        *targetX += r->targetShift;
    support = Support::onLedge(r->onto);
}

std::optional<CompanionBrain::Ride> CompanionBrain::ride(const CompanionWorld &world) const
{
    const Ledge &current = support.ledge;
    const bool homeCase = world.home && world.home->windowNumber == current.windowNumber;
    const Ledge *first = nullptr;
    if (homeCase) {
        first = &*world.home;
    } else {
        for (const Ledge &l : world.ledges) {
            if (l.windowNumber == current.windowNumber) {
                first = &l;
                break;
            }
        }
    }
    if (!first)
        return std::nullopt;
    // Measured on the window's own left edge: a piece's ends are where windows
    // in front cut it, and those stay put when the window moves.
    auto ref = [](const Ledge &l) { return l.windowX ? *l.windowX : l.minX; };
    const double shift = ref(*first) - ref(current);
    const double x = pose.position.x();
    const double nx = x + shift;
    const bool moved = std::abs(shift) > 0.01;
    auto follow = [&](const Ledge &p) -> std::optional<Ride> {
        if (!(p.minX - 6 <= nx && nx <= p.maxX + 6))
            return std::nullopt;
        return Ride{p, moved ? nx : x, moved ? shift : 0.0};
    };
    if (homeCase) {
        if (auto r = follow(*world.home))
            return r;
        return Ride{*world.home, fitted(nx, *world.home), 0.0};
    }
    for (const Ledge &l : world.ledges) {
        if (l.windowNumber == current.windowNumber) {
            if (auto r = follow(l))
                return r;
        }
    }
    return std::nullopt;
}

std::optional<QPointF> CompanionBrain::riddenTo(const CompanionWorld &world) const
{
    const auto s = pose.state;
    if (s == CompanionState::jump || s == CompanionState::fall || s == CompanionState::carried)
        return std::nullopt;
    switch (support.kind) {
    case Support::Kind::perch:
    case Support::Kind::nest: {
        // The panel it sits on (the ask panel, the focus timer) may have gone to another screen.
        const auto &ledge = support.kind == Support::Kind::perch ? world.perch : world.nest;
        return ledge ? std::optional(QPointF(fitted(pose.position.x(), *ledge), ledge->y)) : std::nullopt;
    }
    case Support::Kind::ledge: {
        const std::optional<Ride> r = ride(world);
        return r ? std::optional(QPointF(r->x, r->onto.y)) : std::nullopt;
    }
    default: return std::nullopt;
    }
}

std::optional<std::pair<double, double>> CompanionBrain::hopSpan() const
{
    if (pose.state != CompanionState::jump || !landing || landing->support.kind == Support::Kind::floor)
        return std::nullopt;
    return std::pair(std::min(landing->fromX, landing->x), std::max(landing->fromX, landing->x));
}

void CompanionBrain::leaveLostSupport(const CompanionWorld &world)
{
    support = Support::nothing();
    awayByChoice = false;
    velocity = {};
    if (goal) {
        using K = CompanionGoal::Kind;
        if (goal->kind == K::visit || (goal->kind == K::perch && world.perch) || (goal->kind == K::nest && world.nest)) {
            pursueGoal(world);
            return;
        }
    }
    if (restSpot) {
        planHop(restSpot->x(), restSpot->y(), Support::onSpot(), std::nullopt);
        return;
    }
    if (world.home && fitsUnderCeiling(*world.home, world)) {
        planHop(homeRestX(*world.home), world.home->y, Support::onLedge(*world.home), std::nullopt);
        return;
    }
    const auto [by, below] = supportBelow(pose.position.y(), pose.position.x(), world);
    planHop(pose.position.x(), by, below, std::nullopt);
}

void CompanionBrain::settleWherePutDown(const CompanionWorld &world)
{
    pose.verticalSpeed = 0;
    velocity = {};
    const double x = pose.position.x();
    double y = pose.position.y();
    std::optional<Ledge> best;
    auto consider = [&](const Ledge &l) {
        if (!(l.minX - 4 <= x && x <= l.maxX + 4) || !fitsUnderCeiling(l, world))
            return;
        const double d = std::abs(y - l.y);
        if (d <= 36 && (!best || d < std::abs(y - best->y)))
            best = l;
    };
    for (const Ledge &l : world.ledges)
        consider(l);
    if (world.home)
        consider(*world.home);

    bool grounded = true;
    if (y >= world.floorY && y - world.floorY > 36) {
        if (best) {
            y = best->y;
            support = Support::onLedge(*best);
        } else {
            // Left where it was dropped; it comes back to this spot later.
            y = std::min(y, world.ceiling() - size.height());
            support = Support::onSpot();
            restSpot = QPointF(x, y);
            restOffsetInHome.reset();
            if (world.homeFrame && world.homeFrame->contains(QPointF(x, y)))
                restOffsetInHome = QPointF(x, y) - world.homeFrame->topLeft();
            grounded = false;
        }
    } else if (!best || std::abs(y - world.floorY) < std::abs(y - best->y)) {
        y = world.floorY;
        support = Support::onFloor();
    } else {
        y = best->y;
        support = Support::onLedge(*best);
    }
    pose.position.setY(y);
    if (grounded)
        restSpot.reset();
    awayByChoice = false;
    temperIdle();
}

CompanionBrain::IdleOdds CompanionBrain::IdleOdds::at(int hour, bool hungry, CompanionTemper temper)
{
    hour = ((hour % 24) + 24) % 24;
    IdleOdds o;
    if (hour <= 6 || hour == 23)
        o = {0.72, 0.05, 0, 0};
    else if (hour <= 10)
        o = {0.20, 0.18, 0.06, 0.02};
    else if (hour <= 18)
        o = {0.36, 0.10, 0.03, 0.01};
    else
        o = {0.50, 0.08, 0.02, 0.01};
    if (temper == CompanionTemper::lively) {
        o.sleep *= 0.75;
        o.groom = std::min(o.groom * 1.8, 0.35);
        o.walk *= 2.5;
        o.hop *= 2.5;
    }
    if (hungry) {
        o.sleep *= 0.5;
        o.groom += 0.06;
        if (o.walk > 0)
            o.walk += 0.06;
    }
    return o;
}

void CompanionBrain::chooseIdleBehaviour(const CompanionWorld &world, Signals &out)
{
    if (world.idleSeconds > 180) {
        enter(CompanionState::sleep, generator.uniform(1200, 3000));
        out.push_back(CompanionSignal::fellAsleep());
        return;
    }
    const IdleOdds odds = IdleOdds::at(world.hour, world.hungry, world.temper);
    const bool free = world.wanders && isStandingSupport(support.kind);
    const double u = U();
    if (u < odds.sleep) {
        const int h = ((world.hour % 24) + 24) % 24;
        const bool day = h >= 7 && h <= 18;
        const bool calm = world.temper == CompanionTemper::calm;
        const double d = day ? (calm ? generator.uniform(480, 1500) : generator.uniform(240, 600))
                             : (calm ? generator.uniform(1500, 3000) : generator.uniform(900, 1800));
        enter(CompanionState::sleep, d);
        out.push_back(CompanionSignal::fellAsleep());
        return;
    }
    if (u < odds.sleep + odds.groom) {
        enter(CompanionState::groom, 5);
        return;
    }
    if (u < odds.sleep + odds.groom + odds.walk && free) {
        targetX = randomX(support, world);
        pose.state = CompanionState::walk;
        stateTime = 0;
        stateDuration = 0;
        pose.progress = 0;
        return;
    }
    if (u < odds.sleep + odds.groom + odds.walk + odds.hop && free) {
        if (const auto c = hopCandidate(world)) {
            awayByChoice = c->support.kind != Support::Kind::floor;
            planHop(c->x, c->y, c->support, std::nullopt);
            return;
        }
    }
    temperIdle();
}
