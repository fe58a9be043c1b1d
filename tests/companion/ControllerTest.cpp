// The desktop cat's controller and canvas without an X server: a described
// desktop, virtual time, and the panels as offscreen widgets.
#include <gtest/gtest.h>

#include "base/Clock.h"
#include "companion/CompanionCanvas.h"
#include "companion/CompanionController.h"
#include "companion/CompanionPanel.h"
#include "companion/WindowTopology.h"
#include "design/PaletteColors.h"
#include "support/TestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>
#include <QWindow>

#include <cmath>
#include <tuple>

namespace {

using namespace std::chrono_literals;
using S = CompanionState;

// A desktop described by the test: screens, pointer, idle time and windows.
class FakeDesktop final : public CompanionDesktop {
public:
    std::vector<CompanionScreen> screenList{{QRectF(0, 0, 1280, 800), QRectF(0, 0, 1280, 776), nullptr}};
    std::optional<QPointF> pointerAt;
    double idle = 0;
    std::vector<WindowInfo> windowList;
    mutable int windowReads = 0;
    // Runs once inside the next pointer read, in the middle of a frame.
    mutable std::function<void()> duringFrame;

    std::vector<CompanionScreen> screens() const override { return screenList; }
    mutable int pointerReads = 0;
    std::optional<QPointF> pointer() const override
    {
        ++pointerReads;
        if (duringFrame) {
            auto f = std::move(duringFrame);
            duringFrame = nullptr;
            f();
        }
        return pointerAt;
    }
    mutable int idleReads = 0;
    double secondsSinceInput() const override
    {
        ++idleReads;
        return idle;
    }
    std::vector<WindowInfo> windows(const std::set<quint32> &, double) const override
    {
        ++windowReads;
        return windowList;
    }
    bool composited = true;
    mutable int compositorChecks = 0;
    bool compositing() const override
    {
        ++compositorChecks;
        return composited;
    }
    std::vector<std::vector<quint32>> keptAbove;
    void keepAbove(const std::vector<quint32> &ours) override { keptAbove.push_back(ours); }
    void changeScreens(std::vector<CompanionScreen> list)
    {
        screenList = std::move(list);
        if (onScreensChanged)
            onScreensChanged();
    }
};

struct Rig {
    FakeClock clock;
    FakeDesktop *desktop = nullptr;
    std::unique_ptr<CompanionController> cat;

    Rig()
    {
        auto d = std::make_unique<FakeDesktop>();
        desktop = d.get();
        cat = std::make_unique<CompanionController>(clock, std::move(d));
        cat->hour = [] { return 12; };
    }
    void run(double seconds)
    {
        // In frame-sized steps, so the panels' repaints are processed as on screen.
        const int steps = int(std::ceil(seconds / 0.1));
        for (int i = 0; i < steps; ++i) {
            clock.advance(100ms);
            QCoreApplication::processEvents();
        }
    }
};

WindowInfo window(int number, QRectF frame) { return WindowInfo{number, 4242, QStringLiteral("Editor"), frame}; }

void send(QWidget *panel, QEvent::Type type, QPointF local, Qt::MouseButtons buttons)
{
    const QPointF global = panel->mapToGlobal(local);
    QMouseEvent event(type, local, global, Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(panel, &event);
}

// A cat's point (y up) in a panel's own coordinates: on its screen's canvas,
// less where the window lies on it.
QPointF inPanel(const CompanionPanel *panel, QPointF cat)
{
    const QRectF f = panel->screen().frame;
    const QPointF canvas(cat.x() - f.left(), f.height() - (cat.y() - geo::minY(f)));
    return canvas + QPointF(panel->canvasOrigin() - panel->placement().topLeft());
}

} // namespace

TEST(CompanionController, FramesRunAt30HzAndAt4HzWhileTheCatSleepsWithTheUserAway)
{
    Rig rig;
    rig.cat->start();
    rig.cat->start(); // a second start makes no second timer
    rig.run(10);
    EXPECT_NEAR(rig.cat->framesRun(), 303, 2) << "33 ms frames";
    EXPECT_EQ(rig.cat->frameInterval(), 33ms);
    // Window tops every 0.5 s while the cat stands on the floor.
    EXPECT_NEAR(rig.cat->topologyReads(), 21, 2);

    // Asleep with the user's last input exactly 180 s ago: that is not away yet.
    rig.desktop->idle = 180;
    rig.cat->request(CompanionGoal::nap());
    rig.run(1);
    ASSERT_EQ(rig.cat->brain().pose.state, S::sleep);
    EXPECT_FALSE(rig.cat->viewModel().filmPaused());
    EXPECT_EQ(rig.cat->frameInterval(), 33ms);

    // The user leaves and the cat naps: 4 frames a second, window tops every 5 s.
    rig.desktop->idle = 600;
    rig.cat->request(CompanionGoal::nap());
    rig.run(1);
    ASSERT_EQ(rig.cat->brain().pose.state, S::sleep);
    EXPECT_TRUE(rig.cat->viewModel().filmPaused());
    EXPECT_EQ(rig.cat->frameInterval(), 250ms);
    const int frames = rig.cat->framesRun(), reads = rig.cat->topologyReads();
    const int pointerReads = rig.desktop->pointerReads;
    rig.run(10);
    EXPECT_NEAR(rig.cat->framesRun() - frames, 40, 1);
    EXPECT_NEAR(rig.cat->topologyReads() - reads, 2, 1);
    // Nothing but the user's input moves the pointer, and the idle time tells of none.
    EXPECT_EQ(rig.desktop->pointerReads - pointerReads, 0);
    // A screen plugged in or taken away may move the pointer without input
    // (and the panels are built anew): the next frame asks again.
    const auto screensChangeAsleep = [&](std::vector<CompanionScreen> list) {
        const int readsBefore = rig.desktop->pointerReads, framesBefore = rig.cat->framesRun();
        rig.desktop->changeScreens(std::move(list));
        for (int i = 0; i < 100 && rig.cat->framesRun() == framesBefore; ++i)
            rig.clock.advance(10ms);
        EXPECT_EQ(rig.desktop->pointerReads - readsBefore, 1);
        EXPECT_TRUE(rig.cat->viewModel().filmPaused());
        rig.run(1);
        EXPECT_EQ(rig.desktop->pointerReads - readsBefore, 1) << "and then no more";
    };
    const CompanionScreen primary = rig.desktop->screenList[0];
    screensChangeAsleep({primary, {QRectF(1280, 0, 1024, 768), QRectF(1280, 0, 1024, 768), nullptr}});
    screensChangeAsleep({primary});

    // Frames closer than 0.25 s to the last one are skipped while paused.
    rig.clock.advance(100ms);
    const int before = rig.cat->framesRun();
    rig.cat->tick();
    rig.cat->tick();
    EXPECT_EQ(rig.cat->framesRun(), before);

    // The user still away, but the cat woken to stretch: full speed while it is awake.
    rig.cat->request(CompanionGoal::stretch());
    rig.run(0.5);
    ASSERT_EQ(rig.cat->brain().pose.state, S::stretch);
    EXPECT_FALSE(rig.cat->viewModel().filmPaused());
    EXPECT_EQ(rig.cat->frameInterval(), 33ms);

    // The user is back: the next idle reading wakes the loop to full speed,
    // and its frame asks where the pointer is.
    rig.cat->request(CompanionGoal::nap());
    rig.run(1);
    ASSERT_TRUE(rig.cat->viewModel().filmPaused());
    // The worst case: input just after an idle reading waits for the next one,
    // half a second later, as the idle time is read at every pace.
    const int idleReads = rig.desktop->idleReads;
    for (int i = 0; i < 100 && rig.desktop->idleReads == idleReads; ++i)
        rig.clock.advance(10ms);
    ASSERT_GT(rig.desktop->idleReads, idleReads);
    const int asleepReads = rig.desktop->pointerReads;
    rig.desktop->idle = 0;
    const double inputAt = rig.clock.uptime();
    for (int i = 0; i < 100 && rig.desktop->pointerReads == asleepReads && rig.cat->viewModel().filmPaused(); ++i)
        rig.clock.advance(10ms);
    EXPECT_GT(rig.desktop->pointerReads, asleepReads);
    EXPECT_FALSE(rig.cat->viewModel().filmPaused()) << "the same frame woke the loop";
    EXPECT_LE(rig.clock.uptime() - inputAt, 0.5 + 0.011) << "no frame later than the idle reading";
    rig.run(1);
    EXPECT_FALSE(rig.cat->viewModel().filmPaused());
    EXPECT_EQ(rig.cat->frameInterval(), 33ms);
    // And the pointer is asked at every frame again.
    const int awakeFrames = rig.cat->framesRun(), awakeReads = rig.desktop->pointerReads;
    rig.run(1);
    EXPECT_EQ(rig.desktop->pointerReads - awakeReads, rig.cat->framesRun() - awakeFrames);
}

TEST(CompanionController, ASleepingOrSittingCatIsDrawnOnlyWhenItsPictureChanges)
{
    // The user at the desk: frames at 30 Hz, the breath and the sleep marks
    // go round their cycle in about three seconds, in 32 pictures.
    Rig rig;
    rig.cat->start();
    rig.run(0.5);
    rig.cat->request(CompanionGoal::nap());
    rig.run(1);
    ASSERT_EQ(rig.cat->brain().pose.state, S::sleep);
    ASSERT_EQ(rig.cat->frameInterval(), 33ms);
    CompanionPanel *panel = rig.cat->panels().front();
    const int frames = 94; // about three seconds
    const auto drawnFrames = [&] {
        int drawn = 0;
        for (int i = 0; i < frames; ++i) {
            rig.clock.advance(34ms);
            drawn += !panel->lastDirty().isEmpty();
        }
        return drawn;
    };
    int drawn = drawnFrames();
    ASSERT_EQ(rig.cat->brain().pose.state, S::sleep);
    EXPECT_GE(drawn, 20) << "the breath and the marks still move";
    EXPECT_LE(drawn, 34) << frames << " frames";

    // Sitting on the ask panel the tail sways a cycle in 2.5 s, in 32 pictures
    // (and a blink or two): not every frame is another picture.
    rig.cat->perchLedge = Ledge{500, 760, 300, -1, std::nullopt};
    for (int i = 0; i < 600 && rig.cat->brain().pose.state != S::perch; ++i)
        rig.clock.advance(34ms);
    ASSERT_EQ(rig.cat->brain().pose.state, S::perch);
    rig.run(0.5);
    drawn = drawnFrames();
    ASSERT_EQ(rig.cat->brain().pose.state, S::perch);
    EXPECT_GE(drawn, 30) << "the tail still sways";
    EXPECT_LE(drawn, 50) << frames << " frames";
}

TEST(CompanionController, TheCatKeepsTheLocalHourThroughTheNightTheClocksGoForward)
{
    // In Berlin the clocks go from 02:00 to 03:00 on 29 March 2026, at 01:00 UTC.
    const QByteArray zone = qgetenv("TZ");
    const bool berlin = zone == "Europe/Berlin";
    if (!berlin && !zone.isEmpty() && zone != "UTC")
        GTEST_SKIP() << "runs in UTC and in Berlin";
    FakeClock clock(QDateTime(QDate(2026, 3, 29), QTime(0, 30), Qt::UTC));
    CompanionController cat(clock, std::make_unique<FakeDesktop>());
    ASSERT_TRUE(cat.hour);
    struct Row {
        int secondsOn, utcHour, berlinHour;
    };
    // 00:30 UTC is 01:30 CET; 00:59:59 UTC still 01:59:59 CET, one second on
    // 03:00 CEST; 01:30 UTC is 03:30 CEST; 22:30 UTC is 00:30 the next day;
    // and back to 01:30 CET.
    const Row rows[] = {{0, 0, 1},     {1799, 0, 1},         {1800, 1, 3}, {1801, 1, 3},
                        {3600, 1, 3}, {22 * 3600, 22, 0}, {0, 0, 1}};
    for (const Row &row : rows) {
        clock.setNow(QDateTime(QDate(2026, 3, 29), QTime(0, 30), Qt::UTC).addSecs(row.secondsOn));
        EXPECT_EQ(cat.hour(), berlin ? row.berlinHour : row.utcHour) << row.secondsOn << " seconds on";
    }
    // And back on 25 October 2026 at 01:00 UTC, 03:00 CEST becoming 02:00 CET:
    // 00:00 UTC is 02:00 CEST, 01:30 UTC 02:30 CET, 02:00 UTC 03:00 CET. Then a
    // clock set back by hand an hour (02:00 CET), and a machine resumed the
    // next day in the middle of a minute (11:30:30 CET).
    const Row autumn[] = {{0, 0, 2},    {3599, 0, 2}, {5400, 1, 2},
                          {7200, 2, 3}, {3600, 1, 2}, {86400 + 10 * 3600 + 1830, 10, 11}};
    for (const Row &row : autumn) {
        clock.setNow(QDateTime(QDate(2026, 10, 25), QTime(0, 0), Qt::UTC).addSecs(row.secondsOn));
        EXPECT_EQ(cat.hour(), berlin ? row.berlinHour : row.utcHour) << row.secondsOn << " seconds on in October";
    }
}

TEST(CompanionController, WindowTopsAreReadTenTimesASecondWhileTheCatStandsOnAnotherWindow)
{
    Rig rig;
    rig.desktop->windowList = {window(7, QRectF(300, 200, 600, 300))};
    rig.cat->start();
    rig.run(1);
    ASSERT_FALSE(rig.cat->ledges().empty());
    const Ledge ledge = rig.cat->ledges().front();
    EXPECT_EQ(ledge.y, 500);
    rig.cat->request(CompanionGoal::visit(ledge));
    std::vector<CompanionGoal> arrivals;
    rig.cat->onArrived = [&](const CompanionGoal &g) { arrivals.push_back(g); };
    rig.run(4);
    ASSERT_EQ(arrivals.size(), 1u);
    EXPECT_EQ(arrivals.front(), CompanionGoal::visit(ledge));
    EXPECT_EQ(rig.cat->brain().pose.position.y(), 500);

    const int reads = rig.cat->topologyReads();
    rig.run(3);
    EXPECT_NEAR(rig.cat->topologyReads() - reads, 30, 2);

    // The window moves 50 points right: the cat rides along.
    const double x = rig.cat->brain().pose.position.x();
    rig.desktop->windowList = {window(7, QRectF(350, 200, 600, 300))};
    rig.run(0.3);
    EXPECT_DOUBLE_EQ(rig.cat->brain().pose.position.x(), x + 50);

    // The workspace window's top is home, not another window: every 0.5 s there.
    QWidget home;
    home.setGeometry(700, 450, 400, 200);
    home.show();
    rig.cat->homeWindow = [&home] { return &home; };
    ASSERT_TRUE(zktest::spinUntil([&] { return rig.cat->homeLedge().has_value(); })) << "once it shows";
    auto atHome = [&] {
        const CompanionBrain &b = rig.cat->brain();
        return b.pose.state != S::jump && b.support.kind == CompanionBrain::Support::Kind::ledge &&
               b.support.ledge.windowNumber == int(home.winId());
    };
    for (int i = 0; i < 100 && !atHome(); ++i)
        rig.run(0.1);
    ASSERT_TRUE(atHome()) << "it goes home by itself";
    const int homeReads = rig.cat->topologyReads();
    rig.run(3);
    EXPECT_NEAR(rig.cat->topologyReads() - homeReads, 6, 1);
}

// Two described screens side by side: the window the cat stands on, or the
// panel it sits on, moved onto the other screen takes the cat along, and the
// cat's window goes to that screen with it.
TEST(CompanionController, AWindowOrAPanelMovedToTheOtherScreenTakesTheCatAlong)
{
    Rig rig;
    rig.desktop->screenList.push_back({QRectF(1280, 0, 1024, 800), QRectF(1280, 0, 1024, 776), nullptr});
    rig.desktop->windowList = {window(7, QRectF(300, 200, 600, 300))};
    rig.cat->start();
    rig.run(1);
    ASSERT_FALSE(rig.cat->ledges().empty());
    rig.cat->request(CompanionGoal::visit(rig.cat->ledges().front()));
    rig.run(4);
    const CompanionBrain &b = rig.cat->brain();
    ASSERT_EQ(b.support.kind, CompanionBrain::Support::Kind::ledge);
    const double x = b.pose.position.x();
    rig.desktop->windowList = {window(7, QRectF(1700, 200, 600, 300))};
    rig.run(0.3);
    EXPECT_NEAR(b.pose.position.x(), x + 1400, 1) << "carried along";
    EXPECT_EQ(b.pose.position.y(), 500);
    EXPECT_EQ(rig.cat->panels().front()->screen().frame.left(), 1280);

    // Sitting on the ask panel, lent on the left screen, then on the right one.
    const auto sitsOn = [&](const Ledge &on) {
        return b.support.kind == CompanionBrain::Support::Kind::perch && b.pose.state != S::jump &&
               b.pose.state != S::fall && b.pose.position.y() == on.y && on.minX <= b.pose.position.x() &&
               b.pose.position.x() <= on.maxX;
    };
    const Ledge left{600, 900, 300, -1, std::nullopt}, right{1700, 2000, 300, -1, std::nullopt};
    rig.desktop->windowList.clear();
    for (const Ledge &perch : {left, right}) {
        rig.cat->perchLedge = perch;
        rig.cat->holdStandingGoal();
        for (int i = 0; i < 100 && !sitsOn(perch); ++i)
            rig.run(0.1);
        ASSERT_TRUE(sitsOn(perch)) << "the cat at " << b.pose.position.x() << ", " << b.pose.position.y();
        rig.run(1);
        EXPECT_TRUE(sitsOn(perch)) << "and stays";
        EXPECT_EQ(rig.cat->panels().front()->screen().frame.left(), perch.minX < 1280 ? 0 : 1280);
    }
}

TEST(CompanionController, ScreensAddedRemovedOrGoneMidFrameKeepTheLoopRunning)
{
    Rig rig;
    rig.cat->start();
    rig.run(0.5);
    ASSERT_EQ(rig.cat->panels().size(), 1u);

    // A second screen to the right: the next frame builds the cat's window
    // anew and reads the window tops at once; put there, the cat is drawn on it.
    const int reads = rig.cat->topologyReads();
    CompanionPanel *before = rig.cat->panels().front();
    rig.desktop->changeScreens({rig.desktop->screenList[0], {QRectF(1280, 32, 1024, 768), QRectF(1280, 32, 1024, 768), nullptr}});
    rig.clock.advance(34ms);
    QCoreApplication::processEvents();
    ASSERT_EQ(rig.cat->panels().size(), 1u);
    EXPECT_NE(rig.cat->panels().front(), before);
    EXPECT_EQ(rig.cat->topologyReads(), reads + 1);
    rig.cat->brain().pose.position = QPointF(1700, 300);
    rig.cat->brain().support = CompanionBrain::Support::nothing();
    rig.run(2);
    EXPECT_EQ(rig.cat->panels().front()->screen().frame, QRectF(1280, 32, 1024, 768));
    EXPECT_TRUE(rig.cat->panels().front()->placement().contains(QPoint(1700, 800 - 40))) << "over the cat";

    // The screen the cat is on vanishes in the middle of a frame, then every screen does.
    rig.desktop->duringFrame = [&] { rig.desktop->changeScreens({}); };
    rig.run(0.5);
    const int frames = rig.cat->framesRun();
    rig.run(1);
    EXPECT_GT(rig.cat->framesRun(), frames) << "the loop goes on without screens";
    EXPECT_TRUE(rig.cat->panels().empty());

    // A screen returns and the cat is drawn again.
    rig.desktop->changeScreens({{QRectF(0, 0, 800, 600), QRectF(0, 0, 800, 600), nullptr}});
    rig.run(0.5);
    ASSERT_EQ(rig.cat->panels().size(), 1u);
    EXPECT_TRUE(rig.cat->panels()[0]->frame().scene.catShown);
    EXPECT_LE(rig.cat->brain().pose.position.x(), 800);
}

// Two monitors side by side, the right one 768 high (its floor 32 up). A cat
// on one monitor's floor, lent a panel on the other (the focus timer's nest
// lower than that floor, the ask panel's perch higher up), walks to its
// monitor's edge and hops across once, coming down on the panel.
TEST(CompanionController, APanelOnTheOtherMonitorIsReachedInOneHopAcrossTheSeam)
{
    const Ledge lowNest{846, 1016, 2, -1, std::nullopt}, highPerch{1700, 2000, 300, -1, std::nullopt};
    for (const bool toNest : {true, false}) {
        SCOPED_TRACE(toNest ? "to the nest on the left" : "to the perch on the right");
        Rig rig;
        rig.desktop->screenList = {{QRectF(0, 0, 1280, 800), QRectF(0, 0, 1280, 800), nullptr},
                                   {QRectF(1280, 32, 1024, 768), QRectF(1280, 32, 1024, 768), nullptr}};
        rig.cat->start();
        rig.cat->brain().pose.position = QPointF(toNest ? 1800 : 400, 300);
        rig.cat->brain().support = CompanionBrain::Support::nothing();
        rig.run(1.5);
        ASSERT_EQ(rig.cat->brain().support.kind, CompanionBrain::Support::Kind::floor);
        const Ledge target = toNest ? lowNest : highPerch;
        (toNest ? rig.cat->nestLedge : rig.cat->perchLedge) = target;
        rig.cat->holdStandingGoal();
        const auto kind = toNest ? CompanionBrain::Support::Kind::nest : CompanionBrain::Support::Kind::perch;
        int hops = 0;
        bool jumping = false;
        for (int frame = 0; frame < 30 * 20 && rig.cat->brain().support.kind != kind; ++frame) {
            rig.clock.advance(34ms);
            hops += !jumping && rig.cat->brain().pose.state == S::jump;
            jumping = rig.cat->brain().pose.state == S::jump;
        }
        const QPointF at = rig.cat->brain().pose.position;
        EXPECT_EQ(hops, 1) << "the last came down at " << at.x() << ", " << at.y();
        EXPECT_EQ(rig.cat->brain().support.kind, kind);
        EXPECT_TRUE(target.minX <= at.x() && at.x() <= target.maxX) << at.x() << ": it came down where it aimed";
        rig.run(1);
        EXPECT_EQ(rig.cat->panels().front()->screen().frame.left(), toNest ? 0 : 1280) << "its window with it";
    }
}

// One monitor above the other: the cat on the lower one's floor, lent the ask
// panel on the upper one, hops up onto it and stays there on that monitor,
// not pulled down under the lower one's top edge frame after frame; the panel
// moved back down carries it down.
TEST(CompanionController, APanelOnAMonitorAboveIsReachedAndTheCatStaysOnIt)
{
    Rig rig;
    rig.desktop->screenList = {{QRectF(0, 0, 1280, 800), QRectF(0, 0, 1280, 800), nullptr},
                               {QRectF(0, 800, 1280, 800), QRectF(0, 800, 1280, 776), nullptr}};
    rig.cat->start();
    rig.cat->brain().pose.position = QPointF(400, 300);
    rig.cat->brain().support = CompanionBrain::Support::nothing();
    rig.run(1.5);
    ASSERT_EQ(rig.cat->brain().support.kind, CompanionBrain::Support::Kind::floor);
    rig.cat->perchLedge = Ledge{300, 700, 1100, -1, std::nullopt};
    rig.cat->holdStandingGoal();
    rig.run(4);
    const QPointF at = rig.cat->brain().pose.position;
    EXPECT_EQ(rig.cat->brain().support.kind, CompanionBrain::Support::Kind::perch);
    EXPECT_EQ(at.y(), 1100) << "drawn where it sits";
    EXPECT_EQ(rig.cat->panels().front()->screen().frame.top(), 800) << "its window on the upper monitor";
    // The panel dragged down onto the lower monitor takes the cat along.
    rig.cat->perchLedge = Ledge{300, 700, 500, -1, std::nullopt};
    rig.run(1);
    EXPECT_EQ(rig.cat->brain().pose.position.y(), 500);
    EXPECT_EQ(rig.cat->panels().front()->screen().frame.top(), 0);
}

TEST(CompanionController, AbsurdWindowsAndLooksDoNotStopTheCat)
{
    Rig rig;
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    rig.desktop->windowList = {window(1, QRectF(-1e300, 5e299, 1e308, 1e308)), window(2, QRectF(nan, nan, nan, nan)),
                               window(3, QRectF(0, 0, inf, 400)), window(4, QRectF(10, 100, 400, 200))};
    CompanionVariant odd = CompanionVariant::drawn();
    odd.size = QSizeF(0, std::numeric_limits<double>::quiet_NaN());
    odd.walkSpeed = inf;
    rig.cat->setVariant(odd);
    rig.cat->wanders = true;
    rig.cat->start();
    rig.cat->say(QString(100000, QChar(u'm')), 5);
    rig.run(5);
    EXPECT_GT(rig.cat->framesRun(), 140);
    const QPointF p = rig.cat->brain().pose.position;
    EXPECT_TRUE(std::isfinite(p.x()) && std::isfinite(p.y()));
    EXPECT_GE(rig.cat->brain().size.width(), 1);
}

TEST(CompanionController, ASecondLineKeepsItsWholeLifeAndAZeroLineGoesAtOnce)
{
    Rig rig;
    rig.cat->start();
    rig.cat->say(QStringLiteral("first"), 6);
    rig.clock.advance(2000ms);
    rig.cat->say(QStringLiteral("second"), 6);
    rig.clock.advance(5900ms);
    EXPECT_EQ(rig.cat->viewModel().bubble(), QStringLiteral("second")) << "7.9 s after the first line";
    rig.clock.advance(200ms);
    EXPECT_FALSE(rig.cat->viewModel().bubble().has_value()) << "8.1 s after the first line";

    rig.cat->say(QStringLiteral("gone"), -3);
    EXPECT_EQ(rig.cat->viewModel().bubble(), QStringLiteral("gone"));
    rig.clock.advance(0ms);
    EXPECT_FALSE(rig.cat->viewModel().bubble().has_value());
}

TEST(CompanionController, TheBubbleFadesInAndOutOverAFifthOfASecond)
{
    Rig rig;
    rig.cat->start();
    rig.run(0.5);
    CompanionPanel *panel = rig.cat->panels().front();
    rig.cat->say(QStringLiteral("Time for a break."), 1);
    rig.clock.advance(34ms);
    const double early = panel->frame().bubbleOpacity;
    EXPECT_GT(early, 0);
    EXPECT_LT(early, 0.5);
    rig.clock.advance(66ms);
    EXPECT_GT(panel->frame().bubbleOpacity, early);
    EXPECT_LT(panel->frame().bubbleOpacity, 1);
    rig.clock.advance(134ms);
    EXPECT_EQ(panel->frame().bubbleOpacity, 1);
    // Expired: the text stays while it fades, then goes.
    rig.clock.advance(800ms);
    ASSERT_FALSE(rig.cat->viewModel().bubble().has_value());
    EXPECT_EQ(panel->frame().bubbleText, QStringLiteral("Time for a break."));
    EXPECT_GT(panel->frame().bubbleOpacity, 0);
    EXPECT_LT(panel->frame().bubbleOpacity, 1);
    rig.clock.advance(250ms);
    EXPECT_EQ(panel->frame().bubbleOpacity, 0);
    EXPECT_TRUE(panel->frame().bubbleText.isEmpty());
}

TEST(CompanionController, SixPointsIsAClickSevenADragThatEndsWhereTheCatIsDropped)
{
    for (const double move : {6.0, 7.0}) {
        Rig rig;
        rig.desktop->windowList = {window(9, QRectF(100, 100, 900, 300))}; // its top at 400
        rig.cat->start();
        rig.run(1);
        int clicks = 0;
        rig.cat->onClick = [&] { ++clicks; };
        CompanionPanel *panel = rig.cat->panels().front();
        const QPointF feet = rig.cat->brain().pose.position;
        const QPointF press = feet + QPointF(0, 20);
        send(panel, QEvent::MouseButtonPress, inPanel(panel, press), Qt::LeftButton);
        send(panel, QEvent::MouseMove, inPanel(panel, press + QPointF(move, 0)), Qt::LeftButton);
        send(panel, QEvent::MouseButtonRelease, inPanel(panel, press + QPointF(move, 0)), Qt::NoButton);
        rig.run(0.2);
        if (move == 6.0) {
            EXPECT_EQ(clicks, 1) << "6 points is a click";
            continue;
        }
        EXPECT_EQ(clicks, 0) << "7 points is a drag";
        // Carried over the window and dropped 20 points above its top: it lands on the top.
        send(panel, QEvent::MouseButtonPress, inPanel(panel, rig.cat->brain().pose.position + QPointF(0, 20)),
             Qt::LeftButton);
        const QPointF drop(500, 440);
        send(panel, QEvent::MouseMove, inPanel(panel, drop), Qt::LeftButton);
        rig.clock.advance(34ms);
        EXPECT_EQ(rig.cat->brain().pose.state, S::carried);
        // The feet keep their offset from the pointer (to the window's whole-pixel mapping).
        EXPECT_NEAR(rig.cat->brain().pose.position.x(), 500, 1);
        EXPECT_NEAR(rig.cat->brain().pose.position.y(), 420, 1);
        std::vector<QRect> whole{panel->rect()};
        EXPECT_EQ(panel->interactive(), whole) << "a drag takes the mouse on every panel";
        send(panel, QEvent::MouseButtonRelease, inPanel(panel, drop), Qt::NoButton);
        rig.run(0.2);
        EXPECT_NE(rig.cat->brain().pose.state, S::carried);
        EXPECT_EQ(rig.cat->brain().pose.position.y(), 400);
        EXPECT_EQ(rig.cat->brain().support, CompanionBrain::Support::onLedge(rig.cat->ledges().front()));
    }
}

TEST(CompanionController, ClicksPassThroughExceptOnTheCat)
{
    Rig rig;
    rig.cat->start();
    rig.run(0.5);
    CompanionPanel *panel = rig.cat->panels().front();
    const CatHitArea hit = rig.cat->hitArea();
    const QRectF expected(hit.rect.left(), 800 - geo::maxY(hit.rect), hit.rect.width(), hit.rect.height());
    // The cat's area takes the mouse wherever the pointer is (no frame need see
    // it there first), in the window's own pixels, wherever the window lies.
    const std::vector<QRect> cat{expected.toRect().translated(-panel->placement().topLeft())};
    for (const std::optional<QPointF> pointer : {std::optional<QPointF>(), std::optional(hit.rect.center()),
                                                 std::optional(hit.rect.center() + QPointF(300, 0))}) {
        rig.desktop->pointerAt = pointer;
        rig.run(0.1);
        EXPECT_EQ(panel->interactive(), cat);
    }

    // For assistive technology the cat is one button "Ask the cat" over its hit area.
    int clicks = 0;
    rig.cat->onClick = [&] { ++clicks; };
    QAccessibleInterface *button = QAccessible::queryAccessibleInterface(panel);
    ASSERT_TRUE(button);
    EXPECT_EQ(button->role(), QAccessible::Button);
    EXPECT_EQ(button->text(QAccessible::Name), QStringLiteral("Ask the cat"));
    EXPECT_EQ(button->rect(), expected.toAlignedRect());
    EXPECT_EQ(button->childCount(), 0);
    button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(clicks, 1);

    // A press on the cat, as the window system delivers it to the panel.
    auto pressOnTheCat = [&] {
        const QPointF at = inPanel(panel, rig.cat->hitArea().rect.center());
        send(panel, QEvent::MouseButtonPress, at, Qt::LeftButton);
        send(panel, QEvent::MouseButtonRelease, at, Qt::NoButton);
    };
    pressOnTheCat();
    EXPECT_EQ(clicks, 2);

    // Stepped aside (the cat in the workspace window has the stage), and with
    // clicking turned off: the cat lets clicks through and is no button.
    for (const bool aside : {true, false}) {
        SCOPED_TRACE(aside ? "aside" : "clicking off");
        rig.cat->setAside(aside);
        rig.cat->clickOpensAsk = aside;
        rig.desktop->pointerAt = rig.cat->hitArea().rect.center();
        // At once, before a frame has taken the button away.
        button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        pressOnTheCat();
        EXPECT_EQ(clicks, 2);
        rig.run(0.1);
        EXPECT_TRUE(panel->interactive().empty());
        EXPECT_TRUE(button->state().invisible);
        EXPECT_TRUE(button->actionInterface()->actionNames().isEmpty());
        button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        pressOnTheCat();
        EXPECT_EQ(clicks, 2);
    }
}

TEST(CompanionController, RepaintsOnlyWhatTheCatAndBubbleCoveredAndCover)
{
    Rig rig;
    rig.desktop->windowList = {window(3, QRectF(200, 100, 500, 300))};
    rig.cat->start();
    rig.run(0.5);
    // A hop onto the window and a walk along it.
    rig.cat->request(CompanionGoal::visit(rig.cat->ledges().front()));
    rig.cat->brain().targetX = 400;
    CompanionPanel *panel = rig.cat->panels().front();
    int painted = 0, moved = 0;
    for (int i = 0; i < 600; ++i) {
        rig.clock.advance(34ms);
        const QRect dirty = panel->lastDirty().boundingRect();
        if (dirty.isEmpty())
            continue;
        ++painted;
        moved += rig.cat->brain().pose.state == S::jump || rig.cat->brain().pose.state == S::walk;
        // The cat's frame with its shadows, twice at most (it moves a few points a frame).
        EXPECT_LE(dirty.width(), 2 * 120) << "frame " << i;
        EXPECT_LE(dirty.height(), 2 * 100) << "frame " << i;
    }
    EXPECT_GT(moved, 5);
    EXPECT_GT(painted, moved);
    rig.cat->say(QStringLiteral("Published. Link is in the plan."), 6);
    rig.clock.advance(34ms);
    const QRect withBubble = panel->lastDirty().boundingRect();
    EXPECT_GT(withBubble.height(), 100);
    EXPECT_LT(withBubble.width() * withBubble.height(), 1280 * 800 / 10) << "never the whole screen";
}

TEST(CompanionController, TheWorkspaceWindowIsHomeOnlyWhenTheCatFitsOnIt)
{
    Rig rig; // a 1280 x 800 screen whose visible area ends 24 points below its top
    QWidget home;
    rig.cat->homeWindow = [&home] { return &home; };
    // The window's frame (with whatever decoration the platform adds), Qt's y-down points.
    struct Case {
        QRect frame;
        bool isHome;
    };
    const Case cases[] = {
        {{100, 300, 164, 200}, true},  // the look's width + 80
        {{100, 300, 163, 200}, false}, // a point narrower
        {{100, 86, 400, 200}, true},   // its top at 714: 714 + 62 = 776, the visible top
        {{100, 85, 400, 200}, false},  // a point higher: no room under the top
    };
    home.setGeometry(100, 100, 300, 300);
    EXPECT_FALSE(rig.cat->homeLedge()) << "a window not shown is no home";
    home.show();
    ASSERT_TRUE(zktest::spinUntil([&] { return home.windowHandle()->isExposed(); }));
    const QMargins decoration(home.geometry().left() - home.frameGeometry().left(),
                              home.geometry().top() - home.frameGeometry().top(),
                              home.frameGeometry().right() - home.geometry().right(),
                              home.frameGeometry().bottom() - home.geometry().bottom());
    for (const Case &c : cases) {
        home.setGeometry(c.frame.marginsRemoved(decoration));
        ASSERT_EQ(home.frameGeometry(), c.frame);
        const std::optional<Ledge> ledge = rig.cat->homeLedge();
        EXPECT_EQ(ledge.has_value(), c.isHome) << c.frame.width() << " wide at " << c.frame.y();
        if (ledge) {
            EXPECT_EQ(ledge->minX, c.frame.x() + 18);
            EXPECT_EQ(ledge->maxX, c.frame.x() + c.frame.width() - 18);
            EXPECT_EQ(ledge->y, 800 - c.frame.y());
            EXPECT_EQ(ledge->windowX, c.frame.x());
        }
    }
    // A window that fits, then the same window minimised: shown but not on screen.
    home.setGeometry(QRect(100, 300, 400, 200).marginsRemoved(decoration));
    ASSERT_TRUE(rig.cat->homeLedge());
    home.showMinimized();
    ASSERT_TRUE(home.isVisible());
    EXPECT_FALSE(rig.cat->homeLedge()) << "a minimised window is no home";
    home.showNormal();
    EXPECT_TRUE(zktest::spinUntil([&] { return rig.cat->homeLedge().has_value(); })) << "restored, it is home again";
    home.hide();
    EXPECT_FALSE(rig.cat->homeLedge()) << "a hidden window is no home";
}

// A cat left on the face of the workspace window travels with it, also when
// the window is too tall for the cat to stand on its top; a window not on
// screen carries nothing.
TEST(CompanionController, ASpotOnTheWorkspaceWindowTravelsWithItWhereverItsTopIs)
{
    Rig rig; // a 1280 x 800 screen
    QWidget home;
    rig.cat->homeWindow = [&home] { return &home; };
    home.setGeometry(100, 60, 600, 600);
    home.show();
    ASSERT_TRUE(zktest::spinUntil([&] { return home.windowHandle()->isExposed(); }));
    ASSERT_FALSE(rig.cat->homeLedge()) << "no room for the cat above its top";
    rig.cat->start();
    rig.run(0.3);

    // Left mid-window, idling there for long: y-up, the frame's origin is its bottom left.
    const QRect f = home.frameGeometry();
    const QPointF origin(f.x(), 800 - (f.y() + f.height()));
    const QPointF spot = origin + QPointF(300, 160);
    CompanionBrain &b = rig.cat->brain();
    b.goal.reset();
    b.landing.reset();
    b.targetX.reset();
    b.velocity = {};
    b.support = CompanionBrain::Support::onSpot();
    b.pose.state = S::idle;
    b.pose.position = spot;
    b.stateTime = 0;
    b.stateDuration = 1000;
    b.restSpot = spot;
    b.restOffsetInHome = QPointF(300, 160);
    rig.run(0.3);
    ASSERT_EQ(b.pose.position, spot);

    home.move(home.pos() + QPoint(50, 20)); // right and down on screen
    ASSERT_TRUE(zktest::spinUntil([&] { return home.frameGeometry().topLeft() == f.topLeft() + QPoint(50, 20); }));
    rig.run(0.3);
    EXPECT_EQ(b.pose.position, spot + QPointF(50, -20)) << "the spot moved with the window";
    EXPECT_EQ(b.restSpot, spot + QPointF(50, -20));

    home.showMinimized();
    rig.run(0.3);
    home.move(home.pos() + QPoint(100, 0));
    rig.run(0.3);
    EXPECT_EQ(b.pose.position, spot + QPointF(50, -20)) << "a minimised window carries nothing";
}

TEST(CanvasScene, BubblePlacementKeepsToTheScreenAndPointsAtTheCat)
{
    const QRectF screen(0, 0, 1280, 800);
    const QSizeF canvas(1280, 800);
    const CompanionVariant &drawn = CompanionVariant::drawn();
    struct Case {
        QPointF feet;
        double bx, cy;
        BubbleShape::Edge edge;
        double tailOffset;
    };
    // Room above: the frame's middle 4 + 75 above the figure's top (62 above the feet).
    const Case cases[] = {
        {{640, 100}, 640, 800 - 100 - 62 - 79, BubbleShape::Edge::bottom, 0},
        // Near the top: below the cat, tail on top.
        {{640, 700}, 640, 800 - 700 + 79, BubbleShape::Edge::top, 0},
        // At the left edge: the middle stays 158 from the edge, the tail points back.
        {{50, 100}, 158, 800 - 100 - 62 - 79, BubbleShape::Edge::bottom, 50 - 158},
        {{1270, 100}, 1280 - 158, 800 - 100 - 62 - 79, BubbleShape::Edge::bottom, 1270 - 1122},
        // Exactly 8 points to spare above: still above.
        {{640, 800 - 62 - 158}, 640, 158 - 4 - 75, BubbleShape::Edge::bottom, 0},
        {{640, 800 - 62 - 157}, 640, 800 - (800 - 62 - 157) + 79, BubbleShape::Edge::top, 0},
    };
    for (const Case &c : cases) {
        CompanionPose pose;
        pose.position = c.feet;
        const CanvasScene scene = CanvasScene::layout(screen, canvas, pose, drawn, std::nullopt, true);
        ASSERT_TRUE(scene.bubble);
        EXPECT_DOUBLE_EQ(scene.bubble->frame.center().x(), c.bx) << c.feet.x() << "," << c.feet.y();
        EXPECT_DOUBLE_EQ(scene.bubble->frame.center().y(), c.cy) << c.feet.x() << "," << c.feet.y();
        EXPECT_EQ(scene.bubble->frame.size(), QSizeF(300, 150));
        EXPECT_EQ(scene.bubble->tailEdge, c.edge) << c.feet.x() << "," << c.feet.y();
        EXPECT_DOUBLE_EQ(scene.bubble->tailOffset, c.tailOffset);
        EXPECT_EQ(scene.figureFrame, QRectF(c.feet.x() - 42, 800 - c.feet.y() - 62, 84, 62));
    }
    // On a panel near the top, below would cover the panel: beside the cat
    // (the roomier side), over the panel's top; with no room there, beside the
    // panel (the cat's side).
    const QSizeF said = CanvasPainter::bubbleSize(QStringLiteral("Focus on."), BubbleShape::Edge::bottom);
    for (const auto &[panelTop, edge, side] : {std::tuple(700.0, BubbleShape::Edge::leading, 420.0 + 42 + 4),
                                               std::tuple(780.0, BubbleShape::Edge::trailing, 300.0 - 4)}) {
        CompanionPose perched;
        perched.state = S::perch;
        perched.position = QPointF(420, panelTop);
        const QRectF panel(300, panelTop - 400, 680, 400);
        const CanvasScene scene = CanvasScene::layout(screen, canvas, perched, drawn, std::nullopt, true, {panel}, said);
        const QRectF bubble = scene.bubble->rectFor(said);
        SCOPED_TRACE(panelTop);
        EXPECT_FALSE(bubble.intersects(QRectF(300, 800 - panelTop, 680, 400))) << "over the panel";
        EXPECT_TRUE(QRectF(8, 8, 1264, 784).contains(bubble)) << "off the screen";
        EXPECT_EQ(scene.bubble->tailEdge, edge);
        EXPECT_DOUBLE_EQ(edge == BubbleShape::Edge::leading ? bubble.left() : bubble.right(), side);
    }
    // A screen narrower than two insets keeps the middle at 158.
    CompanionPose pose;
    pose.position = QPointF(100, 100);
    EXPECT_DOUBLE_EQ(
        CanvasScene::layout(QRectF(0, 0, 200, 800), QSizeF(200, 800), pose, drawn, std::nullopt, true).bubble->frame.center().x(),
        158);
}

TEST(CanvasScene, PicturesOfThePartsServeWhereverThePartGoesAndOnlyForWhatTheyShow)
{
    const QRectF screen(0, 0, 1280, 800);
    CanvasPainter painter;
    auto pieceAt = [&](CompanionPose pose, QPointF at) {
        pose.position = at;
        const CanvasScene scene = CanvasScene::layout(screen, screen.size(), pose, CompanionVariant::drawn(),
                                                      std::nullopt, true);
        return std::make_pair(painter.figurePiece(scene, pose, CompanionVariant::drawn(), false),
                              CanvasPainter::bubblePiece(scene, QStringLiteral("Hello"), 1));
    };
    CompanionPose walk;
    walk.state = S::walk;
    walk.phase = 0.25;
    walk.progress = 0.1;
    // The same pose elsewhere, between pixels too: the same picture, moved by whole pixels.
    const auto [a, bubbleA] = pieceAt(walk, QPointF(300, 200));
    const auto [b, bubbleB] = pieceAt(walk, QPointF(417.4, 260.3));
    ASSERT_FALSE(a.key.isEmpty());
    EXPECT_FALSE(a.blank);
    EXPECT_EQ(a.key, b.key);
    EXPECT_EQ(a.rect.size(), b.rect.size());
    EXPECT_EQ(bubbleA.key, bubbleB.key);
    EXPECT_EQ(bubbleA.rect.size(), bubbleB.rect.size());
    // A walk is not drawn by its progress: a walk's pictures repeat with its gait.
    CompanionPose later = walk;
    later.progress = 0.9;
    EXPECT_EQ(pieceAt(later, QPointF(300, 200)).first.key, a.key);
    // Another step of the gait, the other way, a blink, or a pounce's progress is another picture.
    CompanionPose step = walk, turned = walk, blink = walk, pounce = walk, pounceLater = walk;
    step.phase = 0.5;
    turned.facing = -1;
    blink.blink = true;
    pounce.state = pounceLater.state = S::pounce;
    pounceLater.progress = 0.9;
    for (const CompanionPose &other : {step, turned, blink, pounce})
        EXPECT_NE(pieceAt(other, QPointF(300, 200)).first.key, a.key) << int(other.state) << " " << other.phase;
    EXPECT_NE(pieceAt(pounce, QPointF(300, 200)).first.key, pieceAt(pounceLater, QPointF(300, 200)).first.key);
    EXPECT_FALSE(CanvasPainter::sameDrawing(walk, blink));
    EXPECT_TRUE(CanvasPainter::sameDrawing(walk, later));
    // Asleep the eyes are closed: a blink or a gaze makes no other picture, a breath does.
    CompanionPose asleep;
    asleep.state = S::sleep;
    asleep.phase = 0.4;
    CompanionPose blinking = asleep, looking = asleep, breathing = asleep;
    blinking.blink = true;
    looking.gaze = QPointF(1, -1);
    breathing.phase = 0.5;
    const QByteArray sleeping = pieceAt(asleep, QPointF(300, 200)).first.key;
    EXPECT_EQ(pieceAt(blinking, QPointF(300, 200)).first.key, sleeping);
    EXPECT_EQ(pieceAt(looking, QPointF(300, 200)).first.key, sleeping);
    EXPECT_TRUE(CanvasPainter::sameDrawing(asleep, blinking));
    EXPECT_FALSE(CanvasPainter::sameDrawing(asleep, breathing));
    // The bubble's picture changes with its text and while it fades.
    CompanionPose idle;
    idle.position = QPointF(300, 200);
    const CanvasScene scene = CanvasScene::layout(screen, screen.size(), idle, CompanionVariant::drawn(), std::nullopt,
                                                  true);
    const QByteArray shown = CanvasPainter::bubblePiece(scene, QStringLiteral("Hello"), 1).key;
    EXPECT_NE(CanvasPainter::bubblePiece(scene, QStringLiteral("Hullo"), 1).key, shown);
    EXPECT_NE(CanvasPainter::bubblePiece(scene, QStringLiteral("Hello"), 0.5).key, shown);
    EXPECT_TRUE(CanvasPainter::bubblePiece(scene, QStringLiteral("Hello"), 0).blank);
    // Each picture holds all its part may touch.
    const double paws = CompanionFigure::kOverflow;
    EXPECT_TRUE(CanvasPainter::figureRect(scene).contains(
        scene.figureFrame.adjusted(-paws, -paws, paws, paws).toAlignedRect()));
    const QRectF bubble = scene.bubble->rectFor(CanvasPainter::bubbleSize(QStringLiteral("Hello"), scene.bubble->tailEdge));
    EXPECT_TRUE(CanvasPainter::bubbleRect(scene, QStringLiteral("Hello")).contains(bubble.toAlignedRect()));
}

TEST(CanvasScene, TheCatIsDrawnOnANeighbouringScreenWithinSixtyPoints)
{
    const QRectF right(1280, 0, 1024, 768);
    CompanionPose pose;
    for (const auto &[x, shown] : std::initializer_list<std::pair<double, bool>>{{1220, true}, {1219, false}, {2364, true}, {2365, false}}) {
        pose.position = QPointF(x, 100);
        const CanvasScene scene = CanvasScene::layout(right, right.size(), pose, CompanionVariant::drawn(), std::nullopt, false);
        EXPECT_EQ(scene.catShown, shown) << x;
    }
    pose.position = QPointF(1250, 100);
    const CanvasScene scene = CanvasScene::layout(right, right.size(), pose, CompanionVariant::drawn(), std::nullopt, false);
    EXPECT_DOUBLE_EQ(scene.local.x(), -30);
    EXPECT_DOUBLE_EQ(scene.local.y(), 668);
}

TEST(CanvasPainter, TheDrawnCatWalksAndSleepsOnPicturesPaintedOnce)
{
    const QRectF screen(0, 0, 1280, 800);
    const auto canvasOf = [&](CanvasPainter &painter, const CompanionPose &pose, bool paused = false) {
        QImage image(1280, 800, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        const CanvasScene scene = CanvasScene::layout(screen, screen.size(), pose, CompanionVariant::drawn(), std::nullopt, false);
        painter.paint(p, scene, pose, CompanionVariant::drawn(), QString(), 0, paused, CanvasPainter::figureReach(scene));
        return image;
    };
    struct Gait {
        S state;
        double rate, speed, seconds;
        bool paused = false;
        int pictures = 32; // each way
    };
    // A walk both ways at 2.1 steps a second, grooming, and a sleep at 4 frames
    // a second, with the user away in the dozen poses those frames show.
    for (const Gait &g : {Gait{S::walk, 2.1, 68, 20}, Gait{S::groom, 1.4, 0, 10}, Gait{S::sleep, 0.32, 0, 30},
                          Gait{S::sleep, 0.32, 0, 30, true, 12}}) {
        CanvasPainter painter;
        CompanionPose pose;
        pose.state = g.state;
        pose.position = QPointF(300.37, 0);
        const double dt = g.state == S::sleep ? 0.25 : 1.0 / 30;
        int frames = 0;
        for (double t = 0; t < g.seconds; t += dt, ++frames) {
            pose.phase = std::fmod(pose.phase + dt * g.rate, 1.0);
            pose.facing = std::fmod(t, 8) < 4 ? 1 : -1;
            pose.position.rx() += pose.facing * g.speed * dt;
            canvasOf(painter, pose, g.paused);
        }
        // Each way a picture per 32nd (or 12th) of a cycle, made once and blitted again.
        EXPECT_LE(painter.picturesPainted(), 2 * g.pictures) << int(g.state) << ": " << frames << " frames";
        EXPECT_GT(painter.picturesPainted(), g.pictures / 2) << int(g.state);
        EXPECT_LE(painter.pictureCount(), CanvasPainter::kPictureLimit);
        // Fewer kept, the oldest go first and those left are painted no more.
        painter.setPictureLimit(4);
        EXPECT_EQ(painter.pictureCount(), 4);
        const int painted = painter.picturesPainted();
        canvasOf(painter, pose, g.paused);
        EXPECT_EQ(painter.picturesPainted(), painted) << "the last picture is kept";
        painter.setPictureLimit(CanvasPainter::kPictureLimit);
        // A picture blitted again is the one a fresh painter makes there, and
        // the figure itself drawn at the same whole point.
        pose.phase = g.paused ? 2.0 / 12 : 5.0 / 32;
        pose.position = QPointF(612, 140);
        pose.facing = -1;
        const QImage again = canvasOf(painter, pose, g.paused);
        CanvasPainter fresh;
        EXPECT_EQ(again, canvasOf(fresh, pose, g.paused)) << int(g.state);
        QImage direct(1280, 800, QImage::Format_ARGB32_Premultiplied);
        direct.fill(Qt::transparent);
        {
            QPainter p(&direct);
            p.setRenderHint(QPainter::Antialiasing);
            CompanionFigure figure(pose);
            figure.marks = PaletteColors::color(ZephylPalette::Color::settled);
            figure.rim = CompanionFigure::darkGroundRim();
            p.translate(612 - CompanionFigure::kWidth / 2, 800 - 140 - CompanionFigure::kHeight);
            figure.paint(p);
        }
        EXPECT_EQ(again, direct) << int(g.state);
    }
}

TEST(CanvasScene, FilmedClipsSitOnTheFeetMirrorAndTiltByTheirRules)
{
    CompanionVariant look;
    look.id = QStringLiteral("tabby");
    look.folder = QStringLiteral("/tmp/tabby");
    CompanionClip walk{QStringLiteral("walk.webm"), 100, 400, 200, 0.8, -1, 5.0, std::nullopt, std::nullopt, std::nullopt};
    CompanionClip air = walk;
    air.file = QStringLiteral("air.webm");
    CompanionClip sleep = walk;
    sleep.file = QStringLiteral("sleep.webm");
    CompanionClip nest = walk;
    nest.file = QStringLiteral("nest.webm");
    nest.prop = CompanionClip::Prop{0.25, 0.5};
    look.clips = {{"walk", walk}, {"air", air}, {"sleep", sleep}, {"nest", nest}};
    const QRectF screen(0, 0, 1000, 800);
    CompanionPose pose;
    pose.position = QPointF(500, 100);
    pose.facing = 1;
    pose.state = S::walk;
    CanvasScene scene = CanvasScene::layout(screen, screen.size(), pose, look, std::nullopt, false);
    ASSERT_TRUE(scene.filmed);
    // 200 wide (100 high at 2:1); the feet line 80 % down, then 5 points lower.
    EXPECT_EQ(scene.filmed->center, QPointF(500, 700 - 80 + 50 + 5));
    EXPECT_EQ(scene.figureFrame.size(), QSizeF(200, 100));
    EXPECT_TRUE(scene.filmed->mirrored) << "footage faces left, the cat right";
    EXPECT_EQ(scene.filmed->tilt, 0);

    pose.state = S::sleep;
    EXPECT_FALSE(CanvasScene::layout(screen, screen.size(), pose, look, std::nullopt, false).filmed->mirrored);
    pose.state = S::jump;
    for (const auto &[speed, tilt] : std::initializer_list<std::pair<double, double>>{{41, 16}, {40, 0}, {-40, 0}, {-41, -12}}) {
        pose.verticalSpeed = speed;
        EXPECT_EQ(CanvasScene::layout(screen, screen.size(), pose, look, std::nullopt, false).filmed->tilt, tilt) << speed;
    }
    // Nesting with a prop: the prop's point lies on the middle of the timer panel's top.
    pose.state = S::nest;
    pose.verticalSpeed = 0;
    const QRectF timer(600, 300, 160, 60); // y up: its top at 360
    scene = CanvasScene::layout(screen, screen.size(), pose, look, timer, false);
    EXPECT_EQ(scene.filmed->center, QPointF(680 - 0.25 * 200 + 100, (800 - 360) - 0.5 * 100 + 50));
    EXPECT_FALSE(scene.filmed->mirrored);
    // Its hit area is the clip grown by 6, and the timer panel itself stays clickable.
    const CatHitArea hit = CatHitArea::of(pose, QSizeF(84, 62), look, timer);
    EXPECT_EQ(hit.rect, QRectF(680 - 50 - 6, 360 - 100 + 50 - 6, 212, 112));
    EXPECT_TRUE(hit.contains(QPointF(640, 395)));
    EXPECT_FALSE(hit.contains(QPointF(680, 330))) << "inside the timer panel";
}

TEST(WindowTopology, SnapshotKeepsTheUsersShownNormalWindowsFrontToBack)
{
    // Root pixels of a 900-pixel primary screen, y down.
    auto toPoints = [](const QRect &px) { return QRectF(px.x(), 900 - px.y() - px.height(), px.width(), px.height()); };
    auto client = [](uint32_t id, QRect geometry) {
        X11::ClientWindow w;
        w.id = id;
        w.geometry = geometry;
        w.viewable = true;
        w.pid = 100;
        w.className = QStringLiteral("Editor");
        return w;
    };
    std::vector<X11::ClientWindow> bottomFirst;
    auto add = [&](X11::ClientWindow w) { bottomFirst.push_back(w); };
    X11::ClientWindow titled = client(1, QRect(100, 70, 400, 280));
    titled.frameExtents = QMargins(0, 20, 0, 0); // the title bar is part of the frame
    add(titled);
    add(client(2, QRect(0, 0, 160, 90)));
    add(client(3, QRect(0, 0, 150, 300)));
    add(client(4, QRect(0, 0, 300, 80)));
    X11::ClientWindow faint = client(5, QRect(0, 0, 300, 300));
    faint.opacity = 0.9;
    add(faint);
    X11::ClientWindow clear = client(6, QRect(0, 0, 300, 300));
    clear.opacity = 0.95;
    add(clear);
    X11::ClientWindow dock = client(7, QRect(0, 0, 300, 300));
    dock.type = X11::WindowType::dock;
    add(dock);
    X11::ClientWindow above = client(8, QRect(0, 0, 300, 300));
    above.state = X11::stateAbove;
    add(above);
    X11::ClientWindow minimised = client(9, QRect(0, 0, 300, 300));
    minimised.state = X11::stateHidden;
    add(minimised);
    X11::ClientWindow elsewhere = client(10, QRect(0, 0, 300, 300));
    elsewhere.onCurrentDesktop = false;
    add(elsewhere);
    X11::ClientWindow mine = client(11, QRect(200, 0, 200, 300));
    mine.pid = 55;
    add(mine);
    add(client(12, QRect(0, 0, 300, 300))); // excluded by number
    X11::ClientWindow dialog = client(13, QRect(0, 0, 300, 300));
    dialog.type = X11::WindowType::dialog;
    dialog.title = QString(200000, QChar(u'x'));
    add(dialog);
    X11::ClientWindow absurd = client(14, QRect(-32768, -32768, 65535, 65535));
    add(absurd);
    // Iconic under a window manager that keeps no EWMH state (twm): unmapped only.
    X11::ClientWindow unmapped = client(15, QRect(0, 0, 300, 300));
    unmapped.viewable = false;
    add(unmapped);
    add(client(16, QRect(0, 0, 159, 300))); // a point too narrow
    add(client(17, QRect(0, 0, 300, 89)));  // a point too low
    X11::ClientWindow noPid = client(18, QRect(0, 0, 300, 300));
    noPid.pid = 0; // a client that does not say: not ours
    add(noPid);
    X11::ClientWindow myPanel = client(19, QRect(600, 0, 300, 300)); // as the ask panel is
    myPanel.pid = 55;
    myPanel.type = X11::WindowType::utility;
    myPanel.state = X11::stateAbove;
    add(myPanel);
    add(client(0, QRect(0, 0, 300, 300))); // no window at all

    const std::vector<WindowInfo> windows = WindowTopology::fromClients(bottomFirst, {12}, 55, toPoints);
    std::vector<int> numbers;
    for (const WindowInfo &w : windows)
        numbers.push_back(w.number);
    EXPECT_EQ(numbers, (std::vector<int>{19, 18, 14, 13, 11, 6, 2, 1}));
    // This process's own windows stay, its panel kept above too, the only ones
    // marked so: one hides the middle of the titled window's top edge behind
    // it, and is no ledge itself.
    for (const WindowInfo &w : windows)
        EXPECT_EQ(w.own, w.number == 11 || w.number == 19) << w.number;
    const std::vector<Ledge> cut = WindowTopology::ledges({windows[4], windows.back()}, 90);
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(std::tuple(cut[0].minX, cut[0].maxX, cut[0].windowNumber), std::tuple(100.0, 200.0, 1));
    EXPECT_EQ(std::tuple(cut[1].minX, cut[1].maxX, cut[1].windowNumber), std::tuple(400.0, 500.0, 1));
    // List bounds (100, 50, 400, 300) with the title bar: frame (100, 550, 400, 300), its ledge at 850.
    EXPECT_EQ(windows.back().frame, QRectF(100, 550, 400, 300));
    EXPECT_EQ(windows.back().ownerName, QStringLiteral("Editor"));
    EXPECT_EQ(windows.back().ownerPID, 100);
    const std::vector<Ledge> ledges = WindowTopology::ledges({windows.back()}, 90);
    ASSERT_EQ(ledges.size(), 1u);
    EXPECT_EQ(ledges.front().y, 850);
}

TEST(WindowTopology, AWindowThatDrawsItsOwnFrameIsOnlyWhatShows)
{
    // Root pixels of a 900-pixel primary screen, y down.
    auto toPoints = [](const QRect &px) { return QRectF(px.x(), 900 - px.y() - px.height(), px.width(), px.height()); };
    auto client = [](uint32_t id, QRect geometry, QMargins margins) {
        X11::ClientWindow w;
        w.id = id;
        w.geometry = geometry;
        w.clientMargins = margins;
        w.viewable = true;
        w.pid = 100;
        return w;
    };
    // As GTK sets _GTK_FRAME_EXTENTS "26, 26, 23, 29" (left, right, top, bottom)
    // for a header-bar window shown at (300, 200), 500 x 347.
    const X11::ClientWindow gtk = client(1, QRect(274, 177, 552, 399), QMargins(26, 23, 26, 29));
    // Its margin would leave 148 x 60 of this one: too small to count.
    const X11::ClientWindow tiny = client(2, QRect(0, 0, 200, 112), QMargins(26, 23, 26, 29));
    // Behind, a window whose top (y 190) lies inside the first one's top margin.
    const X11::ClientWindow back = client(3, QRect(100, 190, 1000, 300), QMargins());
    const std::vector<WindowInfo> windows = WindowTopology::fromClients({back, tiny, gtk}, {}, 55, toPoints);
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0].number, 1);
    EXPECT_EQ(windows[0].frame, QRectF(300, 900 - 200 - 347, 500, 347));
    const std::vector<Ledge> ledges = WindowTopology::ledges(windows, 90);
    ASSERT_EQ(ledges.size(), 2u);
    EXPECT_EQ(ledges[0].y, 700) << "on the header bar, not 23 px above it";
    EXPECT_EQ(ledges[0].minX, 300);
    EXPECT_EQ(ledges[0].maxX, 800);
    EXPECT_EQ(ledges[0].windowX, 300);
    // The back window's edge runs through the margin only: it stays whole.
    EXPECT_EQ(ledges[1].windowNumber, 3);
    EXPECT_EQ(ledges[1].minX, 100);
    EXPECT_EQ(ledges[1].maxX, 1100);
    EXPECT_EQ(ledges[1].y, 710);
}

TEST(CompanionController, WithoutACompositorOneWindowFollowsTheCatAndTheLayersComeBackWithOne)
{
    Rig rig;
    rig.desktop->composited = false;
    rig.desktop->screenList.push_back({QRectF(1280, 0, 1024, 768), QRectF(1280, 0, 1024, 768), nullptr});
    rig.cat->start();
    rig.cat->say(QStringLiteral("Hello"), 60);
    rig.run(0.5);
    ASSERT_EQ(rig.cat->presentation(), CompanionController::Presentation::shapedWindow);
    ASSERT_EQ(rig.cat->panels().size(), 1u);
    CompanionPanel *window = rig.cat->panels().front();
    EXPECT_EQ(window->kind(), CompanionPanel::Kind::catWindow);
    // As big as the pictures of the cat and its bubble, where they are, and
    // holding all either may touch.
    const CanvasScene &scene = window->frame().scene;
    const QRect pictures = CanvasPainter::figureRect(scene).united(CanvasPainter::bubbleRect(scene, "Hello"));
    EXPECT_EQ(window->geometry(), pictures);
    const double paws = CompanionFigure::kOverflow;
    EXPECT_TRUE(pictures.contains(scene.figureFrame.adjusted(-paws, -paws, paws, paws).toAlignedRect()));
    ASSERT_TRUE(scene.bubble);
    const QRectF bubble = scene.bubble->rectFor(CanvasPainter::bubbleSize("Hello", scene.bubble->tailEdge));
    EXPECT_TRUE(pictures.contains(bubble.toAlignedRect()));
    EXPECT_FALSE(window->shape().empty());
    for (const QRect &r : window->shape())
        EXPECT_TRUE(QRect(QPoint(0, 0), window->geometry().size()).contains(r));

    // Carried to the second screen, the window goes along, laid out on that screen.
    rig.cat->brain().pose.position = QPointF(1700, 300);
    rig.cat->brain().support = CompanionBrain::Support::nothing();
    rig.run(2);
    ASSERT_EQ(rig.cat->panels().size(), 1u);
    EXPECT_EQ(window->screen().frame, QRectF(1280, 0, 1024, 768));
    EXPECT_EQ(window->canvasOrigin(), QPoint(1280, 32)) << "the second screen's top in Qt's points";
    EXPECT_TRUE(window->geometry().contains(QPoint(1700, 800 - 40))) << "over the cat on the floor";

    // Put aside, it goes at once (without a compositor nothing fades).
    rig.cat->setAside(true);
    EXPECT_FALSE(window->isVisible());
    rig.cat->setAside(false);
    EXPECT_TRUE(window->isVisible());

    // A compositor starts: one window still, blended whole with the desktop
    // (no shape), where the cat is; put aside, it fades rather than vanishes.
    rig.desktop->composited = true;
    ASSERT_TRUE(rig.desktop->onCompositingChanged);
    rig.desktop->onCompositingChanged();
    QCoreApplication::processEvents();
    ASSERT_EQ(rig.cat->presentation(), CompanionController::Presentation::translucentWindow);
    ASSERT_EQ(rig.cat->panels().size(), 1u);
    CompanionPanel *blended = rig.cat->panels().front();
    EXPECT_EQ(blended->kind(), CompanionPanel::Kind::catWindow);
    EXPECT_TRUE(blended->translucent());
    rig.run(0.2);
    EXPECT_TRUE(blended->frame().scene.catShown);
    EXPECT_TRUE(blended->shape().empty());
    EXPECT_TRUE(blended->geometry().contains(QPoint(1700, 800 - 40))) << "over the cat on the second screen";
    rig.cat->setAside(true);
    EXPECT_TRUE(blended->isVisible());
    EXPECT_TRUE(zktest::spinUntil([&] { return blended->windowOpacity() == 0.0; }));
    rig.cat->setAside(false);
    EXPECT_TRUE(zktest::spinUntil([&] { return blended->windowOpacity() == 1.0; }));

    // It quits without a word: the next read of the windows notices.
    rig.desktop->composited = false;
    rig.run(1.2);
    ASSERT_EQ(rig.cat->presentation(), CompanionController::Presentation::shapedWindow);
    EXPECT_EQ(rig.cat->panels().size(), 1u);

    // Every read of the windows keeps the cat's windows above the others.
    ASSERT_FALSE(rig.desktop->keptAbove.empty());
    EXPECT_EQ(rig.desktop->keptAbove.back(), std::vector<quint32>{quint32(rig.cat->panels().front()->winId())});
}
