#include <gtest/gtest.h>

#include "companion/CompanionBrain.h"

#include <cmath>

namespace {

using S = CompanionState;
using Signals = std::vector<CompanionSignal>;

constexpr double kFloor = 70;

CompanionWorld screen()
{
    return CompanionWorld(QRectF(0, 0, 1440, 900), kFloor);
}

Ledge windowTop(double minX, double maxX, double y, int number)
{
    return Ledge{minX, maxX, y, number, minX};
}

bool has(const Signals &s, CompanionSignal::Kind kind)
{
    return std::any_of(s.begin(), s.end(), [&](const CompanionSignal &x) { return x.kind == kind; });
}

// Ticks until `done` holds or `limit` seconds pass; all signals seen meanwhile.
Signals tickUntil(CompanionBrain &b, const CompanionWorld &w, const std::function<bool()> &done, double limit = 30,
                  double dt = 1.0 / 32)
{
    Signals all;
    for (double t = 0; t < limit && !done(); t += dt) {
        auto s = b.tick(dt, w);
        all.insert(all.end(), s.begin(), s.end());
    }
    return all;
}

// A cat standing on the floor, idling for long enough not to choose anything.
CompanionBrain restingCat(double x = 300)
{
    CompanionBrain b = CompanionBrain::start(42, QPointF(x, kFloor));
    b.stateDuration = 1000;
    return b;
}

} // namespace

TEST(CompanionBrain, SameSeedAndWorldsGiveTheSameCatEveryFrame)
{
    CompanionWorld w = screen();
    w.ledges = {windowTop(200, 700, 400, 1), windowTop(650, 1200, 620, 2), windowTop(900, 1300, 250, 3)};
    w.temper = CompanionTemper::lively;
    w.hour = 8;
    CompanionBrain a = CompanionBrain::start(7, QPointF(300, kFloor));
    CompanionBrain b = CompanionBrain::start(7, QPointF(300, kFloor));
    CompanionBrain other = CompanionBrain::start(8, QPointF(300, kFloor));
    bool diverged = false;
    for (int f = 0; f < 30 * 600; ++f) {
        w.cursor = QPointF(400 + 300 * std::sin(f * 0.01), 300);
        const auto sa = a.tick(1.0 / 30, w);
        const auto sb = b.tick(1.0 / 30, w);
        other.tick(1.0 / 30, w);
        ASSERT_EQ(sa, sb) << "frame " << f;
        ASSERT_EQ(a.pose, b.pose) << "frame " << f;
        diverged = diverged || !(other.pose == a.pose);
    }
    EXPECT_EQ(a.generator, b.generator);
    EXPECT_TRUE(diverged) << "another seed should lead somewhere else";
}

TEST(CompanionBrain, TimeStepIsClampedToATenthOfASecond)
{
    CompanionWorld w = screen();
    CompanionBrain b = restingCat();
    b.tick(-1, w);
    EXPECT_EQ(b.stateTime, 0);
    b.tick(std::nan(""), w);
    EXPECT_EQ(b.stateTime, 0);
    b.tick(0.05, w);
    EXPECT_DOUBLE_EQ(b.stateTime, 0.05);
    b.tick(30, w); // the computer woke from sleep
    EXPECT_DOUBLE_EQ(b.stateTime, 0.15);

    // A stall mid-jump moves the cat by one tenth of its flight, not across the screen.
    w.ledges = {windowTop(100, 800, 400, 1)};
    b.request(CompanionGoal::visit(w.ledges[0]));
    b.tick(0.01, w);
    ASSERT_EQ(b.pose.state, S::jump);
    const QPointF before = b.pose.position;
    const double vy = b.velocity.dy;
    b.tick(1000, w);
    EXPECT_NEAR(b.pose.position.y() - before.y(), (vy - 190) * 0.1, 1e-9);
}

TEST(CompanionBrain, FirstBlinkComesAfterThreeSecondsAndLasts130Milliseconds)
{
    CompanionWorld w = screen();
    CompanionBrain b = restingCat();
    const double dt = 1.0 / 16; // exact in binary: 48 steps are 3 s
    for (int i = 1; i < 48; ++i) {
        b.tick(dt, w);
        ASSERT_FALSE(b.pose.blink) << "step " << i;
    }
    b.tick(dt, w);
    EXPECT_TRUE(b.pose.blink);
    EXPECT_GE(b.blinkCountdown, 2.4);
    EXPECT_LE(b.blinkCountdown, 6.5);
    // 0.13 s: still shut 0.0625 and 0.125 s later, open at 0.1875 s.
    b.tick(dt, w);
    EXPECT_TRUE(b.pose.blink);
    b.tick(dt, w);
    EXPECT_TRUE(b.pose.blink);
    b.tick(dt, w);
    EXPECT_FALSE(b.pose.blink);
}

TEST(CompanionBrain, GazeFollowsANearbyCursorAndIgnoresAFarOne)
{
    CompanionWorld w = screen();
    CompanionBrain b = restingCat(300);
    w.cursor = QPointF(300 + 80, kFloor + 31 - 40); // relative to the middle of the body
    b.tick(0.01, w);
    EXPECT_DOUBLE_EQ(b.pose.gaze.x(), 0.5);
    EXPECT_DOUBLE_EQ(b.pose.gaze.y(), -0.25);
    w.cursor = QPointF(300 + 339, kFloor + 31 + 339);
    b.tick(0.01, w);
    EXPECT_EQ(b.pose.gaze, QPointF(1, 1)); // clamped
    w.cursor = QPointF(300 + 340, kFloor + 31);
    b.tick(0.01, w);
    EXPECT_EQ(b.pose.gaze, QPointF(0, 0));
    w.cursor.reset();
    b.tick(0.01, w);
    EXPECT_EQ(b.pose.gaze, QPointF(0, 0));
}

TEST(CompanionBrain, ActionsRequestedInTheAirOrInHandStayPendingUntilTheCatIsDown)
{
    // Every state in which the cat is not standing: a hop for a visit, a hop of
    // its own, a fall, and held by the user; with each action the coordinator asks for.
    enum class Off { visitHop, ownHop, fall, carried };
    struct Action {
        CompanionGoal goal;
        S state;
        double duration;
    };
    const Action actions[] = {{CompanionGoal::nap(), S::sleep, 16},
                              {CompanionGoal::celebrate(), S::pounce, 0.9},
                              {CompanionGoal::stretch(), S::stretch, 1.6}};
    for (Off off : {Off::visitHop, Off::ownHop, Off::fall, Off::carried}) {
        for (const Action &action : actions) {
            SCOPED_TRACE(::testing::Message() << "off the ground " << int(off) << ", asked for "
                                              << rawValue(action.state).toStdString());
            CompanionWorld w = screen();
            const Ledge top = windowTop(200, 700, 300, 1);
            w.ledges = {top};
            CompanionBrain b = restingCat(400);
            S held = S::jump;
            switch (off) {
            case Off::visitHop:
                b.request(CompanionGoal::visit(top));
                b.tick(0.01, w);
                break;
            case Off::ownHop:
                b.landing = CompanionBrain::Landing{top.y, CompanionBrain::Support::onLedge(top), std::nullopt};
                b.velocity = {0, 1200};
                b.support = CompanionBrain::Support::nothing();
                b.pose.state = S::jump;
                break;
            case Off::fall:
                b.pose.position = QPointF(400, 600);
                b.support = CompanionBrain::Support::nothing();
                b.pose.state = held = S::fall;
                break;
            case Off::carried:
                b.pickUp();
                b.pose.position = QPointF(400, 320); // the user holds it 20 points above the window
                held = S::carried;
                break;
            }
            ASSERT_EQ(b.pose.state, held);
            b.request(action.goal);
            EXPECT_EQ(b.pose.state, held) << "not acted on off the ground";
            EXPECT_EQ(b.goal, action.goal);
            if (off == Off::carried) {
                for (int i = 0; i < 10; ++i)
                    EXPECT_TRUE(b.tick(0.1, w).empty());
                EXPECT_EQ(b.pose.state, S::carried) << "a held cat neither naps nor celebrates in the hand";
                EXPECT_EQ(b.pose.position, QPointF(400, 320));
                b.putDown = true;
            }

            const auto seen = tickUntil(b, w, [&] { return b.pose.state == action.state; }, 5);
            EXPECT_TRUE(has(seen, CompanionSignal::Kind::landed));
            ASSERT_EQ(b.pose.state, action.state);
            EXPECT_EQ(b.stateDuration, action.duration);
            EXPECT_FALSE(b.goal);
            EXPECT_EQ(b.pose.position.y(), 300);
            EXPECT_EQ(b.support, CompanionBrain::Support::onLedge(top));
        }
    }
}

TEST(CompanionBrain, VisitWhileAsleepStretchesThenIdlesBrieflyThenPursues)
{
    CompanionWorld w = screen();
    const Ledge top = windowTop(200, 700, 300, 1);
    w.ledges = {top};
    CompanionBrain b = restingCat(400);
    b.request(CompanionGoal::nap());
    ASSERT_EQ(b.pose.state, S::sleep);
    b.tick(1, w);

    b.request(CompanionGoal::visit(top));
    EXPECT_EQ(b.pose.state, S::stretch);
    EXPECT_EQ(b.stateDuration, 1.1);

    const double dt = 1.0 / 16;
    Signals seen;
    int steps = 0;
    while (b.pose.state == S::stretch && steps < 100) {
        auto s = b.tick(dt, w);
        seen.insert(seen.end(), s.begin(), s.end());
        ++steps;
    }
    EXPECT_EQ(steps, 18); // the first step at or past 1.1 s
    EXPECT_FALSE(has(seen, CompanionSignal::Kind::wokeUp));
    ASSERT_EQ(b.pose.state, S::idle);
    EXPECT_EQ(b.stateDuration, 0.2);
    b.tick(dt, w);
    EXPECT_EQ(b.pose.state, S::jump);
    ASSERT_TRUE(b.landing);
    EXPECT_EQ(b.landing->goal, CompanionGoal::visit(top));

    const auto landing = tickUntil(b, w, [&] { return b.pose.state != S::jump; }, 3);
    EXPECT_TRUE(has(landing, CompanionSignal::Kind::arrived));
    EXPECT_EQ(b.support, CompanionBrain::Support::onLedge(top));
    EXPECT_FALSE(b.goal);
}

TEST(CompanionBrain, SleepRunningOutWakesWithASignalAndALongerStretch)
{
    CompanionWorld w = screen();
    CompanionBrain b = restingCat();
    b.request(CompanionGoal::nap());
    const auto seen = tickUntil(b, w, [&] { return b.pose.state != S::sleep; }, 20, 0.1);
    EXPECT_TRUE(has(seen, CompanionSignal::Kind::wokeUp));
    EXPECT_EQ(b.pose.state, S::stretch);
    EXPECT_EQ(b.stateDuration, 1.2);
}

TEST(CompanionBrain, PounceAlwaysEndsInATemperIdleAndStretchWithAGoalInAShortOne)
{
    CompanionWorld w = screen();
    w.ledges = {windowTop(200, 700, 300, 1)};
    for (auto temper : kAllCompanionTempers) {
        w.temper = temper;
        CompanionBrain b = restingCat(400);
        b.request(CompanionGoal::celebrate());
        ASSERT_EQ(b.pose.state, S::pounce);
        b.tick(0.45, w);
        b.request(CompanionGoal::visit(w.ledges[0]));
        tickUntil(b, w, [&] { return b.pose.state != S::pounce; }, 2, 0.05);
        EXPECT_EQ(b.pose.state, S::idle);
        if (temper == CompanionTemper::calm) {
            EXPECT_GE(b.stateDuration, 150);
            EXPECT_LE(b.stateDuration, 360);
        } else {
            EXPECT_GE(b.stateDuration, 45);
            EXPECT_LE(b.stateDuration, 120);
        }
        EXPECT_TRUE(b.goal); // still pending: the next idle frame pursues it
    }

    CompanionBrain b = restingCat(400);
    b.request(CompanionGoal::stretch());
    ASSERT_EQ(b.pose.state, S::stretch);
    b.tick(0.8, w);
    EXPECT_DOUBLE_EQ(b.pose.progress, 0.0625); // the step was clamped to 0.1 of 1.6 s
    b.request(CompanionGoal::visit(w.ledges[0]));
    tickUntil(b, w, [&] { return b.pose.state != S::stretch; }, 3, 0.05);
    EXPECT_EQ(b.pose.state, S::idle);
    EXPECT_EQ(b.stateDuration, 0.2);
}

TEST(CompanionBrain, JumpLandingAboveItsStartWaitsForTheDescent)
{
    CompanionWorld w = screen();
    // Up 230 points and 392 sideways: the arc rises well above the ledge first.
    const Ledge high = windowTop(850, 1300, 300, 1);
    w.ledges = {high};
    CompanionBrain b = restingCat(500);
    b.request(CompanionGoal::visit(high));
    Signals seen;
    bool passedAboveWhileRising = false;
    for (int f = 0; f < 200 && (b.pose.state == S::idle || b.pose.state == S::jump); ++f) {
        auto s = b.tick(1.0 / 30, w);
        seen.insert(seen.end(), s.begin(), s.end());
        if (b.pose.state == S::jump && b.velocity.dy > 0 && b.pose.position.y() > high.y)
            passedAboveWhileRising = true;
        if (!s.empty())
            break;
    }
    EXPECT_TRUE(passedAboveWhileRising);
    ASSERT_EQ(seen, (Signals{CompanionSignal::landed(), CompanionSignal::arrived(CompanionGoal::visit(high))}));
    EXPECT_EQ(b.pose.position.y(), 300);
    EXPECT_EQ(b.pose.verticalSpeed, 0);
    EXPECT_EQ(b.pose.state, S::idle);
    EXPECT_GE(b.stateDuration, 1.5);
    EXPECT_LE(b.stateDuration, 3.0);
}

TEST(CompanionBrain, WalkPushedAgainstTheScreenEdgeLosesItsTarget)
{
    CompanionWorld w = screen();
    CompanionBrain b = restingCat(1440 - 46 - 1);
    b.pose.state = S::walk;
    b.targetX = 1600;
    b.tick(0.1, w);
    EXPECT_EQ(b.pose.position.x(), 1440 - 42 - 4);
    EXPECT_FALSE(b.targetX);
    EXPECT_EQ(b.pose.state, S::walk);
    b.tick(0.1, w);
    EXPECT_EQ(b.pose.state, S::idle);
    EXPECT_GE(b.stateDuration, 150);
}

TEST(CompanionBrain, LongIdleIsCutAfterTwentySecondsOnlyWhenTheUserIsAway)
{
    for (double away : {180.0, 181.0}) {
        CompanionWorld w = screen();
        w.idleSeconds = away;
        CompanionBrain b = restingCat();
        b.stateDuration = 300;
        const double dt = 1.0 / 16;
        Signals seen;
        for (int i = 0; i < 319; ++i) {
            auto s = b.tick(dt, w);
            seen.insert(seen.end(), s.begin(), s.end());
        }
        EXPECT_EQ(b.pose.state, S::idle);
        EXPECT_TRUE(seen.empty());
        seen = b.tick(dt, w); // 20 s
        if (away > 180) {
            EXPECT_EQ(b.pose.state, S::sleep);
            EXPECT_EQ(seen, Signals{CompanionSignal::fellAsleep()});
            EXPECT_GE(b.stateDuration, 1200);
            EXPECT_LE(b.stateDuration, 3000);
        } else {
            EXPECT_EQ(b.pose.state, S::idle);
        }
    }
}

TEST(CompanionBrain, VanishingLedgeMakesTheCatHopOrFall)
{
    const Ledge top = windowTop(200, 700, 400, 1);
    const Ledge lower = windowTop(100, 900, 250, 2);

    // Gone without a home: hop straight down onto what lies below.
    {
        CompanionWorld w = screen();
        w.ledges = {lower};
        CompanionBrain b = restingCat(500);
        b.pose.position = QPointF(500, 400);
        b.support = CompanionBrain::Support::onLedge(top);
        b.tick(0.01, w);
        EXPECT_EQ(b.pose.state, S::jump);
        ASSERT_TRUE(b.landing);
        EXPECT_EQ(b.landing->y, 250);
        const auto seen = tickUntil(b, w, [&] { return b.pose.state != S::jump; }, 3);
        EXPECT_TRUE(has(seen, CompanionSignal::Kind::landed));
        EXPECT_EQ(b.support, CompanionBrain::Support::onLedge(lower));
        EXPECT_EQ(b.pose.position.y(), 250);
    }
    // Gone with a home window: hop home, 36 points in from its right end.
    {
        CompanionWorld w = screen();
        w.home = windowTop(800, 1300, 600, 9);
        CompanionBrain b = restingCat(500);
        b.pose.position = QPointF(500, 400);
        b.support = CompanionBrain::Support::onLedge(top);
        b.tick(0.01, w);
        ASSERT_TRUE(b.landing);
        EXPECT_EQ(b.landing->support, CompanionBrain::Support::onLedge(*w.home));
        // Its path, for a controller whose screens it may cross.
        EXPECT_EQ(b.hopSpan(), std::pair(500.0, 1300 - 42 - 36.0));
        tickUntil(b, w, [&] { return b.pose.state != S::jump; }, 3);
        EXPECT_FALSE(b.hopSpan());
        EXPECT_EQ(b.pose.position.y(), 600);
        EXPECT_NEAR(b.pose.position.x(), 1300 - 42 - 36, 40);
    }
    // Nothing under the feet at all: the cat falls and is caught by the ledge below.
    {
        CompanionWorld w = screen();
        w.ledges = {lower};
        CompanionBrain b = restingCat(500);
        b.pose.position = QPointF(500, 600);
        b.support = CompanionBrain::Support::nothing();
        b.tick(0.01, w);
        EXPECT_EQ(b.pose.state, S::fall);
        const auto seen = tickUntil(b, w, [&] { return b.pose.state != S::fall; }, 3, 0.1);
        EXPECT_TRUE(has(seen, CompanionSignal::Kind::landed));
        EXPECT_EQ(b.pose.position.y(), 250);
        EXPECT_EQ(b.support, CompanionBrain::Support::onLedge(lower));
    }
    // The perch goes away under a perched cat: it hops down.
    {
        CompanionWorld w = screen();
        w.perch = Ledge{400, 700, 200, -1, std::nullopt};
        CompanionBrain b = restingCat(450);
        b.request(CompanionGoal::perch());
        tickUntil(b, w, [&] { return b.pose.state == S::perch; }, 5);
        ASSERT_EQ(b.pose.state, S::perch);
        w.perch.reset();
        b.tick(0.01, w);
        EXPECT_EQ(b.pose.state, S::jump);
        EXPECT_FALSE(b.hopSpan()) << "a hop down to the floor keeps to its screen";
        tickUntil(b, w, [&] { return b.pose.state != S::jump; }, 3);
        EXPECT_EQ(b.pose.position.y(), kFloor);
    }
}

TEST(CompanionBrain, WindowMovingCarriesTheCatAndItsWalkTarget)
{
    CompanionWorld w = screen();
    Ledge top = windowTop(200, 700, 400, 1);
    w.ledges = {top};
    CompanionBrain b = restingCat(400);
    b.pose.position = QPointF(400, 400);
    b.support = CompanionBrain::Support::onLedge(top);
    b.pose.state = S::walk;
    b.targetX = 600;
    w.ledges = {Ledge{250, 750, 400, 1, 250}};
    b.tick(0, w);
    EXPECT_EQ(b.pose.position.x(), 450);
    EXPECT_EQ(b.targetX, 650);
    EXPECT_EQ(b.support.ledge, w.ledges[0]);

    // A shift of 0.01 point or less leaves x alone.
    w.ledges = {Ledge{250.005, 750.005, 400, 1, 250.005}};
    b.tick(0, w);
    EXPECT_EQ(b.pose.position.x(), 450);
    EXPECT_EQ(b.support.ledge, w.ledges[0]);

    // Where the screen's edge or a window in front clips the ledge, its end
    // stays put as the window moves: the shift is the window's own.
    struct Row {
        const char *what;
        Ledge before, after;
        double x, carried;
    };
    const Row rows[] = {
        {"clipped by the screen's left edge", {0, 500, 400, 1, -300}, {0, 540, 400, 1, -260}, 100, 140},
        {"cut by a window in front", {500, 900, 400, 1, 300}, {500, 930, 400, 1, 330}, 600, 630},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        CompanionBrain c = restingCat(row.x);
        c.pose.position = QPointF(row.x, 400);
        c.support = CompanionBrain::Support::onLedge(row.before);
        w.ledges = {row.after};
        EXPECT_EQ(c.riddenTo(w), QPointF(row.carried, 400));
        c.tick(0, w);
        EXPECT_EQ(c.pose.position.x(), row.carried);
    }
}

TEST(CompanionBrain, FarTargetsAreWalkedTowardFirstNearOnesHoppedTo)
{
    CompanionWorld w = screen();
    const Ledge floorLevel = windowTop(0, 1440, 150, 5);
    for (double distance : {440.0, 441.0}) {
        CompanionBrain b = restingCat(300);
        b.pose.position = QPointF(300, 150);
        b.support = CompanionBrain::Support::onLedge(floorLevel);
        // The visited ledge's nearest fitted point lies `distance` away.
        w.ledges = {floorLevel, windowTop(300 + distance - 42, 300 + distance + 200, 150, 6)};
        b.request(CompanionGoal::visit(w.ledges[1]));
        b.tick(0.01, w);
        if (distance > 440) {
            EXPECT_EQ(b.pose.state, S::walk);
            EXPECT_EQ(b.targetX, 300 + distance);
        } else {
            EXPECT_EQ(b.pose.state, S::jump);
        }
    }
}

TEST(CompanionBrain, VisitingTheLedgeUnderfootChangesNothing)
{
    CompanionWorld w = screen();
    const Ledge top = windowTop(200, 700, 400, 1);
    w.ledges = {top};
    CompanionBrain b = restingCat(400);
    b.pose.position = QPointF(400, 400);
    b.support = CompanionBrain::Support::onLedge(top);
    b.request(CompanionGoal::visit(top));
    Signals seen;
    for (int i = 0; i < 60; ++i) {
        auto s = b.tick(0.1, w);
        seen.insert(seen.end(), s.begin(), s.end());
    }
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(b.pose.state, S::idle);
    EXPECT_EQ(b.goal, CompanionGoal::visit(top));
    EXPECT_EQ(b.pose.position, QPointF(400, 400));
}

TEST(CompanionBrain, DroppedCatSettlesOnTheNearerOfLedgeAndFloorOrStaysOnASpot)
{
    auto drop = [](CompanionWorld w, QPointF at) {
        CompanionBrain b = restingCat();
        b.pickUp();
        b.pose.position = at;
        b.putDown = true;
        const auto s = b.tick(0.01, w);
        EXPECT_EQ(s, Signals{CompanionSignal::landed()});
        EXPECT_EQ(b.pose.state, S::idle);
        return b;
    };
    CompanionWorld w = screen();
    w.ledges = {windowTop(200, 700, kFloor + 10, 1)};
    auto b = drop(w, QPointF(400, kFloor + 30)); // window top 20 below, floor 30 below
    EXPECT_EQ(b.support.kind, CompanionBrain::Support::Kind::ledge);
    EXPECT_EQ(b.pose.position.y(), kFloor + 10);

    w.ledges = {windowTop(200, 700, kFloor - 10, 1)};
    b = drop(w, QPointF(400, kFloor + 30)); // window top 40 below: too far
    EXPECT_EQ(b.support.kind, CompanionBrain::Support::Kind::floor);
    EXPECT_EQ(b.pose.position.y(), kFloor);

    // Mid-screen, inside the workspace window: a spot that moves with the window.
    w.ledges.clear();
    w.homeFrame = QRectF(300, 200, 600, 500);
    b = drop(w, QPointF(500, 500));
    EXPECT_EQ(b.support.kind, CompanionBrain::Support::Kind::spot);
    EXPECT_EQ(b.restSpot, QPointF(500, 500));
    EXPECT_EQ(b.restOffsetInHome, QPointF(200, 300));
    w.homeFrame = QRectF(350, 180, 600, 500);
    b.tick(0.01, w);
    EXPECT_EQ(b.pose.position, QPointF(550, 480));
    EXPECT_EQ(b.restSpot, QPointF(550, 480));

    // On a spot the cat never roams by itself and returning to rest does nothing.
    w.wanders = true;
    w.hour = 9;
    w.temper = CompanionTemper::lively;
    for (int i = 0; i < 30 * 60 * 10; ++i) {
        b.tick(0.1, w);
        ASSERT_NE(b.pose.state, S::walk);
        ASSERT_NE(b.pose.state, S::jump);
    }
}

TEST(CompanionBrain, PickedUpCatIsCarriedWithoutAGoalUntilPutDown)
{
    CompanionWorld w = screen();
    CompanionBrain b = restingCat();
    b.request(CompanionGoal::visit(windowTop(0, 500, 300, 1)));
    b.pickUp();
    EXPECT_EQ(b.pose.state, S::carried);
    EXPECT_FALSE(b.goal);
    b.pose.position = QPointF(700, 20); // the user holds it below the floor
    for (int i = 0; i < 20; ++i)
        EXPECT_TRUE(b.tick(0.1, w).empty());
    EXPECT_EQ(b.pose.position.y(), 20); // a carried cat is not pushed up
    EXPECT_EQ(b.pose.state, S::carried);
}

TEST(CompanionBrain, IdleOddsFollowHourTemperAndHunger)
{
    using O = CompanionBrain::IdleOdds;
    auto night = O::at(3, false, CompanionTemper::calm);
    EXPECT_EQ(night.walk, 0);
    EXPECT_EQ(night.hop, 0);
    EXPECT_EQ(O::at(3, true, CompanionTemper::calm).walk, 0); // hungry at night still never walks
    auto lively = O::at(8, false, CompanionTemper::lively);
    EXPECT_DOUBLE_EQ(lively.sleep, 0.15);
    EXPECT_DOUBLE_EQ(lively.groom, 0.324);
    EXPECT_DOUBLE_EQ(lively.walk, 0.15);
    EXPECT_DOUBLE_EQ(lively.hop, 0.05);
    auto hungry = O::at(8, true, CompanionTemper::lively);
    EXPECT_DOUBLE_EQ(hungry.sleep, 0.075);
    EXPECT_DOUBLE_EQ(hungry.groom, 0.384);
    EXPECT_DOUBLE_EQ(hungry.walk, 0.21);
    EXPECT_DOUBLE_EQ(hungry.hop, 0.05);
    EXPECT_DOUBLE_EQ(O::at(23, false, CompanionTemper::lively).groom, 0.09);
    EXPECT_DOUBLE_EQ(O::at(19, false, CompanionTemper::calm).sleep, 0.5);
    EXPECT_DOUBLE_EQ(O::at(18, false, CompanionTemper::calm).sleep, 0.36);

    // Each band's first and last hour, and hours given past either end of the day.
    struct Row {
        int hour;
        double sleep, groom, walk, hop;
    };
    const Row rows[] = {
        {0, 0.72, 0.05, 0, 0},     {6, 0.72, 0.05, 0, 0},        {7, 0.20, 0.18, 0.06, 0.02},
        {10, 0.20, 0.18, 0.06, 0.02}, {11, 0.36, 0.10, 0.03, 0.01}, {18, 0.36, 0.10, 0.03, 0.01},
        {19, 0.50, 0.08, 0.02, 0.01}, {22, 0.50, 0.08, 0.02, 0.01}, {23, 0.72, 0.05, 0, 0},
        {24, 0.72, 0.05, 0, 0},    {-1, 0.72, 0.05, 0, 0},       {31, 0.20, 0.18, 0.06, 0.02},
    };
    for (const Row &row : rows) {
        const O o = O::at(row.hour, false, CompanionTemper::calm);
        EXPECT_DOUBLE_EQ(o.sleep, row.sleep) << row.hour;
        EXPECT_DOUBLE_EQ(o.groom, row.groom) << row.hour;
        EXPECT_DOUBLE_EQ(o.walk, row.walk) << row.hour;
        EXPECT_DOUBLE_EQ(o.hop, row.hop) << row.hour;
    }
}

TEST(CompanionBrain, CatAtNightOnTheFloorNeverWalksOrHops)
{
    CompanionWorld w = screen();
    w.hour = 3;
    w.ledges = {windowTop(200, 700, 300, 1)};
    CompanionBrain b = CompanionBrain::start(99, QPointF(400, kFloor));
    for (int i = 0; i < 36000; ++i) {
        b.tick(0.1, w);
        ASSERT_TRUE(b.pose.state == S::idle || b.pose.state == S::sleep || b.pose.state == S::groom ||
                    b.pose.state == S::stretch)
            << rawValue(b.pose.state).toStdString();
    }
}
