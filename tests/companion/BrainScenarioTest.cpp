// Seeded cats let loose on a desktop of moving, vanishing and too-high windows for
// hours of virtual time, with every frame checked against the rules of the brain:
// what a hop may aim at, where a cat returning home stands, how far it hops before
// it walks, how it rides a moving window, how it falls and lands, which way it
// faces while walking.

#include <gtest/gtest.h>

#include "companion/CompanionBrain.h"

#include <cmath>
#include <numbers>
#include <map>
#include <sstream>

namespace {

using S = CompanionState;
using Support = CompanionBrain::Support;
using Kind = Support::Kind;

constexpr double kFloor = 70;
constexpr double kCeiling = 876; // below a 24-point menu bar on a 900-point screen
constexpr double kGravity = 1900;
constexpr double kW = 84, kH = 62;

Ledge windowTop(double minX, double maxX, double y, int number) { return Ledge{minX, maxX, y, number, minX}; }

const Ledge kHome = windowTop(1000, 1400, 560, 9);
constexpr int kMoving = 2, kVanishing = 5, kTooHigh = 4;

// The desktop at `t` seconds: window 2 slides to and fro, window 5 is minimised for
// 20 s of every 60 s, window 4 is too close to the menu bar to stand on.
CompanionWorld desktop(double t, bool withHome)
{
    CompanionWorld w(QRectF(0, 0, 1440, 900), kFloor);
    w.ceilingY = kCeiling;
    w.temper = CompanionTemper::lively;
    w.hour = 8;
    w.hungry = true;
    const double slide = 120 * std::sin(2 * std::numbers::pi * t / 40);
    w.ledges = {windowTop(100, 560, 300, 1), windowTop(420 + slide, 900 + slide, 500, kMoving),
                windowTop(760, 1180, 640, 3), windowTop(600, 1000, 830, kTooHigh)};
    if (std::fmod(t, 60) < 40)
        w.ledges.push_back(windowTop(1000, 1400, 420, kVanishing));
    w.ledges.push_back(windowTop(150, 400, 180, 6));
    if (withHome) {
        w.home = kHome;
        w.homeFrame = QRectF(1000, 160, 400, 400);
    }
    w.cursor = QPointF(700 + 500 * std::sin(t / 7), 450 + 300 * std::cos(t / 11));
    return w;
}

double fitted(double x, const Ledge &l)
{
    const double m = std::min(l.width() / 2, kW / 2);
    const double lo = l.minX + m, hi = l.maxX - m;
    return lo >= hi ? l.midX() : std::clamp(x, lo, hi);
}

std::pair<double, double> walkable(const CompanionWorld &w)
{
    const double lo = w.bounds.left() + kW / 2 + 4;
    return {lo, std::max(lo + 1, w.bounds.right() - kW / 2 - 4)};
}

// 36 points in from the right end of the home window's top.
double homeRestX(const Ledge &home) { return fitted(home.maxX - kW / 2 - 36, home); }

bool fitsUnderCeiling(const Ledge &l, const CompanionWorld &w) { return l.y + kH <= w.ceiling(); }

// The highest support at or below `y` under x: the floor, a window top that fits
// under the ceiling, the home ledge; ties keep the earlier.
std::pair<double, Support> supportBelow(double y, double x, const CompanionWorld &w)
{
    std::pair<double, Support> best{w.floorY, Support::onFloor()};
    auto consider = [&](const Ledge &l) {
        if (l.minX <= x && x <= l.maxX && l.y <= y && l.y > best.first && fitsUnderCeiling(l, w))
            best = {l.y, Support::onLedge(l)};
    };
    for (const Ledge &l : w.ledges)
        consider(l);
    if (w.home)
        consider(*w.home);
    return best;
}

bool hasWindow(const CompanionWorld &w, int number)
{
    if (w.home && w.home->windowNumber == number)
        return true;
    return std::any_of(w.ledges.begin(), w.ledges.end(), [&](const Ledge &l) { return l.windowNumber == number; });
}

double ref(const Ledge &l) { return l.windowX ? *l.windowX : l.minX; }

// Away from its rest place with nothing else to do: on the floor or another
// window than home, not there by its own choice, with a spot it was left on or
// a home it fits on to go back to.
bool offRest(const CompanionBrain &b, const CompanionWorld &w)
{
    if (b.goal || b.awayByChoice || (b.support.kind != Kind::floor && b.support.kind != Kind::ledge))
        return false;
    if (b.support.kind == Kind::ledge && w.home && w.home->windowNumber == b.support.ledge.windowNumber)
        return false;
    if (b.restSpot)
        return std::abs(b.restSpot->y() - b.pose.position.y()) > 1 ||
               std::abs(b.restSpot->x() - b.pose.position.x()) > 2;
    return w.home && fitsUnderCeiling(*w.home, w);
}

// A hop as planned: where it was aimed and from where. The tick that plans a hop
// either stops there or, when the support gave way, already takes its first step.
struct Hop {
    double x0, y0, tx, ty, T;
};

std::optional<Hop> plannedHop(const CompanionBrain &after, double dt)
{
    const double vx = after.velocity.dx;
    for (bool stepped : {false, true}) {
        const double vy0 = stepped ? after.velocity.dy + kGravity * dt : after.velocity.dy;
        const double y0 = stepped ? after.pose.position.y() - after.velocity.dy * dt : after.pose.position.y();
        const double x0 = stepped ? after.pose.position.x() - vx * dt : after.pose.position.x();
        const double dy = after.landing->y - y0;
        const double disc = vy0 * vy0 - 2 * kGravity * dy;
        if (disc < 0)
            continue;
        const double T = (vy0 + std::sqrt(disc)) / kGravity;
        const double tx = x0 + vx * T;
        // The flight time follows from the distances.
        const double expectedT = std::clamp(std::abs(tx - x0) / 1400 + std::abs(dy) / 1600 + 0.45, 0.5, 1.25);
        if (std::abs(T - expectedT) < 1e-6)
            return Hop{x0, y0, tx, after.landing->y, T};
    }
    return std::nullopt;
}

struct Tally {
    int selfHopsToLedges = 0, selfHopsToFloor = 0, homeHops = 0, lostSupportHops = 0, walkFirst = 0;
    int framesRiding = 0, walks = 0, landings = 0, drops = 0, spots = 0;
    int walkEnds = 0;
    double longestIdleAway = 0;
};

// Checks one frame against the rules; a message for the first rule broken.
class Referee {
public:
    explicit Referee(Tally &t) : m_t(t) {}

    std::string check(const CompanionBrain &a, const CompanionBrain &b, const CompanionWorld &w,
                      const std::vector<CompanionSignal> &said, double dt)
    {
        std::ostringstream why;
        const double x0 = a.pose.position.x(), x1 = b.pose.position.x();
        const auto [lo, hi] = walkable(w);
        if (x1 < lo - 1e-9 || x1 > hi + 1e-9)
            return "off the screen sideways";
        if (b.pose.state != S::carried && b.pose.position.y() < w.floorY - 1e-9)
            return "below the floor";

        // Standing: on a ledge that is there, fits under the ceiling, at its height.
        const bool airborne = b.pose.state == S::jump || b.pose.state == S::fall || b.pose.state == S::carried;
        if (!airborne && b.support.kind == Kind::ledge) {
            const Ledge &l = b.support.ledge;
            if (!fitsUnderCeiling(l, w))
                return "stands on a window top too close to the ceiling";
            if (b.pose.position.y() != l.y)
                return "not at the height of the ledge it stands on";
            if (l.windowNumber == kTooHigh)
                return "on the too-high window";
        }

        // Riding a window: the shift of the window, exactly, and the walk target with it.
        double shift = 0;
        if (a.support.kind == Kind::ledge && b.support.kind == Kind::ledge &&
            a.support.ledge.windowNumber == b.support.ledge.windowNumber && !airborne) {
            shift = ref(b.support.ledge) - ref(a.support.ledge);
            if (std::abs(shift) <= 0.01)
                shift = 0;
            if (a.pose.state != S::walk && b.pose.state != S::walk && a.pose.state != S::jump &&
                std::abs(x1 - (x0 + shift)) > 1e-9) {
                why << "riding window " << b.support.ledge.windowNumber << " moved by " << x1 - x0 << " not "
                    << shift;
                return why.str();
            }
            if (shift != 0)
                ++m_t.framesRiding;
            if (a.pose.state == S::walk && b.pose.state == S::walk && a.targetX && b.targetX &&
                std::abs(*b.targetX - (*a.targetX + shift)) > 1e-9)
                return "walk target left behind by the moving window";
        }

        // Walking: at the look's speed, facing the way it goes.
        if (a.pose.state == S::walk && b.pose.state == S::walk && a.targetX) {
            const double move = x1 - x0 - shift;
            const double ahead = *a.targetX + shift - x0;
            if (std::abs(move) > b.walkSpeed * dt + 1e-9)
                return "walks faster than its walk speed";
            if (std::abs(ahead) > 1 && std::abs(move) > 1e-9 && (move > 0) != (b.pose.facing > 0))
                return "walks facing backwards";
            if (std::abs(ahead) > 1 && (move > 0) != (ahead > 0) && std::abs(move) > 1e-9)
                return "walks away from its target";
            ++m_t.walks;
        }

        // In the air: gravity, and a straight course sideways.
        if (a.pose.state == S::jump && b.pose.state == S::jump) {
            if (std::abs(b.velocity.dy - (a.velocity.dy - kGravity * dt)) > 1e-6)
                return "gravity is not 1900 points per second squared";
            if (b.velocity.dx != a.velocity.dx)
                return "changed course in the air";
        }

        // A hop begins: what it may aim at.
        if (b.pose.state == S::jump && a.pose.state != S::jump && b.landing) {
            const auto hop = plannedHop(b, dt);
            if (!hop)
                return "a hop whose flight does not follow its distances";
            if (std::abs(hop->tx - hop->x0) > 1 && (hop->tx > hop->x0) != (b.pose.facing > 0))
                return "hops facing away from where it lands";
            const Support &to = b.landing->support;
            const bool lost = a.support.kind == Kind::ledge && !hasWindow(w, a.support.ledge.windowNumber);
            const bool home = to.kind == Kind::ledge && w.home && to.ledge == *w.home;
            if (lost) {
                ++m_t.lostSupportHops;
                if (a.restSpot) {
                    if (to.kind != Kind::spot || std::abs(hop->tx - a.restSpot->x()) > 1e-6 ||
                        hop->ty != a.restSpot->y())
                        return "its window gone, it does not hop back to where it was put down";
                } else if (w.home) {
                    if (!home || std::abs(hop->tx - homeRestX(*w.home)) > 1e-6)
                        return "its window gone, it does not hop to its place at home";
                } else {
                    const auto below = supportBelow(hop->y0, hop->x0, w);
                    if (std::abs(hop->tx - hop->x0) > 1e-6 || hop->ty != below.first || !(to == below.second))
                        return "its window gone, it does not hop straight down onto what lies below";
                }
            } else if (home && !b.landing->goal) {
                ++m_t.homeHops;
                if (std::abs(hop->tx - homeRestX(*w.home)) > 1e-6) {
                    why << "returns home to x " << hop->tx << " not " << homeRestX(*w.home);
                    return why.str();
                }
            } else if (!b.landing->goal && to.kind != Kind::spot) {
                // A hop of its own choosing.
                if (b.goal)
                    return "a hop of its own while a goal is pending";
                if (to.kind == Kind::floor) {
                    ++m_t.selfHopsToFloor;
                    if (a.support.kind == Kind::floor || hop->y0 - w.floorY <= 40 || std::abs(hop->tx - hop->x0) > 120)
                        return "hop down to the floor from too low or too far";
                } else if (to.kind == Kind::ledge) {
                    ++m_t.selfHopsToLedges;
                    const Ledge &l = to.ledge;
                    const double dy = l.y - hop->y0;
                    const double tx = std::clamp(fitted(hop->x0, l), lo, hi);
                    if (l.width() < std::max(120.0, kW + 40))
                        return "hop onto a ledge too narrow";
                    if (a.support.kind == Kind::ledge && a.support.ledge.windowNumber == l.windowNumber)
                        return "hop onto the window it stands on";
                    if (!fitsUnderCeiling(l, w))
                        return "hop onto a ledge too close to the ceiling";
                    if (std::abs(hop->tx - tx) > 1e-6)
                        return "hop not to the nearest place on the ledge";
                    if (std::abs(tx - hop->x0) > 360 || dy < -700 || dy > 380 || std::abs(dy) <= 12) {
                        why << "hop out of reach: " << tx - hop->x0 << " across, " << dy << " up";
                        return why.str();
                    }
                } else {
                    return "a hop of its own onto the perch, the nest or nothing";
                }
            }
            // An approach: further than 440 points, it first walks as near as it can.
            if (!lost && (home || b.landing->goal || to.kind == Kind::spot) && std::abs(hop->tx - hop->x0) > 440 &&
                !b.approachFailed)
                return "hops further than 440 points without walking nearer first";
        }
        // A walk toward home is the first leg of a return from further than a hop.
        if (a.pose.state != S::walk && b.pose.state == S::walk && b.targetX && w.home &&
            (a.support.kind == Kind::floor || a.support.kind == Kind::ledge)) {
            double cx = std::clamp(homeRestX(*w.home), lo, hi);
            if (b.support.kind == Kind::ledge)
                cx = fitted(cx, b.support.ledge);
            if (std::abs(*b.targetX - cx) < 1e-9) {
                ++m_t.walkFirst;
                if (std::abs(homeRestX(*w.home) - x0) <= 440)
                    return "walks toward home although it is within a hop";
            }
        }

        // Back to rest: a walk that ends away from the rest place heads back in the
        // same frame, and an idle cat away from it stays so for at most 2 s.
        if (a.pose.state == S::walk && a.targetX && b.pose.state == S::idle && offRest(b, w))
            return "a walk ended away from its rest place and the cat does not head back";
        if (a.pose.state == S::walk && a.targetX && b.pose.state != S::walk && !b.goal)
            ++m_t.walkEnds;
        if (b.pose.state == S::idle && offRest(b, w)) {
            m_t.longestIdleAway = std::max(m_t.longestIdleAway, b.stateTime);
            if (b.stateTime > 2 + 1e-9)
                return "idles away from its rest place for over 2 s";
        }

        // Put down: on the nearest window top within 36 points, else on the floor
        // when near it, else left on a spot in mid-air.
        if (a.pose.state == S::carried && a.putDown) {
            ++m_t.drops;
            const double x = a.pose.position.x(), y = a.pose.position.y();
            std::optional<Ledge> best;
            auto consider = [&](const Ledge &l) {
                if (l.minX - 4 <= x && x <= l.maxX + 4 && fitsUnderCeiling(l, w) && std::abs(y - l.y) <= 36 &&
                    (!best || std::abs(y - l.y) < std::abs(y - best->y)))
                    best = l;
            };
            for (const Ledge &l : w.ledges)
                consider(l);
            if (w.home)
                consider(*w.home);
            Support expected = Support::onSpot();
            double ey = std::min(y, w.ceiling() - kH);
            if (y >= w.floorY && y - w.floorY > 36) {
                if (best)
                    expected = Support::onLedge(*best), ey = best->y;
            } else if (!best || std::abs(y - w.floorY) < std::abs(y - best->y)) {
                expected = Support::onFloor(), ey = w.floorY;
            } else {
                expected = Support::onLedge(*best), ey = best->y;
            }
            if (!(b.support == expected) || b.pose.position.y() != ey) {
                why << "put down at " << x << ", " << y << " it settles at " << b.pose.position.y();
                return why.str();
            }
            if ((expected.kind == Kind::spot) != b.restSpot.has_value() || b.awayByChoice ||
                b.pose.state != S::idle || b.stateDuration < 45 || b.stateDuration > 120)
                return "put down, it does not remember the spot or rest as it should";
            if (expected.kind == Kind::spot) {
                ++m_t.spots;
                const bool inside = w.homeFrame && w.homeFrame->contains(QPointF(x, ey));
                if (inside != b.restOffsetInHome.has_value())
                    return "a spot inside the home window is not kept relative to it";
            }
        }

        // Landing: where it was aimed, on what it was aimed at.
        if (a.pose.state == S::jump && b.pose.state != S::jump && a.landing) {
            if (std::find(said.begin(), said.end(), CompanionSignal::landed()) == said.end())
                return "landed without the landed signal";
            if (b.pose.position.y() != a.landing->y || !(b.support == a.landing->support))
                return "did not land on the planned support";
            if (!a.landing->goal && b.support.kind == Kind::ledge &&
                b.pose.facing != (b.support.ledge.midX() < x1 ? -1 : 1))
                return "does not face the middle of the ledge it landed on";
            ++m_t.landings;
        }
        return {};
    }

private:
    Tally &m_t;
};

// Runs a seeded cat for `hours`; now and then the user puts it down somewhere.
Tally runFreely(std::uint64_t seed, double hours, bool withHome, double dt = 1.0 / 30)
{
    Tally tally;
    Referee referee(tally);
    CompanionBrain cat = CompanionBrain::start(seed, QPointF(300, kFloor));
    SeededGenerator dice{seed * 31 + 7};
    const int frames = int(hours * 3600 / dt);
    double nextDrop = 300;
    for (int f = 0; f < frames; ++f) {
        const double t = f * dt;
        const CompanionWorld w = desktop(t, withHome);
        if (t >= nextDrop && cat.pose.state != S::jump && cat.pose.state != S::carried) {
            nextDrop = t + dice.uniform(200, 600);
            cat.pickUp();
            // Mostly a little above a window top or the floor, now and then anywhere.
            const Ledge &l = w.ledges[size_t(dice.next(w.ledges.size()))];
            const double where = dice.uniform(0, 1);
            const bool onFloor = where < 0.3 || l.windowNumber == kTooHigh;
            const double x = onFloor || where > 0.9 ? dice.uniform(100, 1340) : dice.uniform(l.minX - 4, l.maxX + 4);
            const double y = where > 0.9 ? dice.uniform(kFloor, 900) : (onFloor ? kFloor : l.y) + dice.uniform(-10, 60);
            cat.pose.position = QPointF(x, y);
            cat.putDown = true;
        }
        const CompanionBrain before = cat;
        const auto said = cat.tick(dt, w);
        const std::string broken = referee.check(before, cat, w, said, dt);
        if (!broken.empty()) {
            ADD_FAILURE() << "seed " << seed << " at " << t << " s (" << rawValue(before.pose.state).toStdString()
                          << " -> " << rawValue(cat.pose.state).toStdString() << "): " << broken;
            return tally;
        }
    }
    return tally;
}

} // namespace

TEST(CompanionBrainFreeRun, ACatAtHomeKeepsEveryRuleForHours)
{
    Tally total;
    for (std::uint64_t seed : {11u, 12u, 13u, 14u}) {
        const Tally t = runFreely(seed, 4, true);
        total.selfHopsToLedges += t.selfHopsToLedges;
        total.selfHopsToFloor += t.selfHopsToFloor;
        total.homeHops += t.homeHops;
        total.lostSupportHops += t.lostSupportHops;
        total.framesRiding += t.framesRiding;
        total.walks += t.walks;
        total.landings += t.landings;
        total.drops += t.drops;
        total.spots += t.spots;
        total.walkFirst += t.walkFirst;
        total.walkEnds += t.walkEnds;
        total.longestIdleAway = std::max(total.longestIdleAway, t.longestIdleAway);
    }
    // The rules were put to the test, not just never met.
    EXPECT_GT(total.selfHopsToLedges, 5) << "hops onto windows by itself";
    EXPECT_GT(total.homeHops, 5) << "returns home";
    EXPECT_GT(total.lostSupportHops, 0) << "loses its window";
    EXPECT_GT(total.framesRiding, 100) << "rides a moving window";
    EXPECT_GT(total.walks, 100) << "walks";
    EXPECT_GT(total.walkFirst, 0) << "walks before a long way home";
    EXPECT_GT(total.walkEnds, 10) << "ends walks of its own";
    EXPECT_GT(total.longestIdleAway, 1.5) << "idles a while away from home before going back";
    EXPECT_GT(total.drops, 10) << "is put down";
    EXPECT_GT(total.spots, 0) << "is left in mid-air";
}

TEST(CompanionBrainFreeRun, ACatWithoutAHomeRoamsAndKeepsEveryRule)
{
    Tally total;
    for (std::uint64_t seed : {21u, 22u, 23u}) {
        const Tally t = runFreely(seed, 4, false);
        total.selfHopsToLedges += t.selfHopsToLedges;
        total.selfHopsToFloor += t.selfHopsToFloor;
        total.lostSupportHops += t.lostSupportHops;
        total.framesRiding += t.framesRiding;
    }
    EXPECT_GT(total.selfHopsToLedges, 5);
    EXPECT_GT(total.selfHopsToFloor, 0) << "hops down to the floor by itself";
    EXPECT_GT(total.lostSupportHops, 0);
    EXPECT_GT(total.framesRiding, 100);
}

TEST(CompanionBrainFreeRun, WithNothingUnderfootItFallsOntoTheHighestSupportBelow)
{
    SeededGenerator dice{99};
    int onLedges = 0;
    for (int drop = 0; drop < 300; ++drop) {
        const CompanionWorld w = desktop(dice.uniform(0, 120), dice.uniform(0, 1) < 0.5);
        CompanionBrain cat = CompanionBrain::start(drop, QPointF(300, kFloor));
        const QPointF start(dice.uniform(100, 1340), dice.uniform(kFloor, 860));
        cat.pose.position = start;
        cat.support = Support::nothing();
        const auto expected = supportBelow(start.y() + 1, start.x(), w);
        const double dt = 1.0 / 30;
        std::vector<CompanionSignal> said;
        double vy = 0;
        int frame = 0;
        for (; frame < 200; ++frame) {
            said = cat.tick(dt, w);
            if (cat.pose.state != S::fall)
                break;
            vy -= kGravity * dt;
            ASSERT_NEAR(cat.velocity.dy, vy, 1e-6) << "drop " << drop;
            ASSERT_EQ(cat.pose.position.x(), start.x()) << "a fall is straight down";
        }
        ASSERT_LT(frame, 200);
        SCOPED_TRACE(::testing::Message() << "drop " << drop << " from " << start.x() << ", " << start.y());
        EXPECT_EQ(said, std::vector<CompanionSignal>{CompanionSignal::landed()});
        EXPECT_EQ(cat.pose.position.y(), expected.first);
        EXPECT_EQ(cat.support, expected.second);
        EXPECT_EQ(cat.pose.state, S::idle);
        EXPECT_GE(cat.stateDuration, 0.8);
        EXPECT_LE(cat.stateDuration, 2.2);
        onLedges += expected.second.kind == Kind::ledge;
    }
    EXPECT_GT(onLedges, 50);
}
