// The focus timer panel offscreen, over a described desktop and a model in
// virtual time: where it goes, its two modes, the ledges it lends the cat, and
// what the face does with the session.
#include "app/AppTestSupport.h"

#include "companion/CompanionDesktop.h"
#include "design/FloatingPanel.h"
#include "shell/FocusTimerController.h"
#include "shell/FocusTimerView.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

using namespace apptest;
using namespace std::chrono_literals;
using Phase = FocusSession::Phase;

namespace {

// One 1280 x 800 screen with a 30-point panel along its bottom.
class DescribedDesktop final : public CompanionDesktop {
public:
    std::vector<CompanionScreen> list{{QRectF(0, 0, 1280, 800), QRectF(0, 30, 1280, 770), nullptr}};
    std::vector<CompanionScreen> screens() const override { return list; }
    std::optional<QPointF> pointer() const override { return std::nullopt; }
    double secondsSinceInput() const override { return 0; }
    std::vector<WindowInfo> windows(const std::set<quint32> &, double) const override { return {}; }
};

struct TimerRig {
    LanguageGuard language{AppLanguage::en};
    Harness h;
    AppModel &model = h.make();
    FocusTimerController timer{model, std::make_unique<DescribedDesktop>()};
    QList<QRectF> frames;

    TimerRig()
    {
        timer.onFrameChange = [this](const QRectF &f) { frames.append(f); };
    }
    ~TimerRig() { timer.hide(); }
    FocusTimerView *view() const { return timer.view(); }
    void setPhase(Phase phase, double remaining = 600)
    {
        FocusSession s = model.focus();
        s.phase = phase;
        s.remaining = remaining;
        model.setFocus(s);
    }
};

// The brightest red in the face's middle band, where the digits are drawn.
int brightestDigit(FocusTimerView *view)
{
    const QImage image = view->grab().toImage();
    int best = 0;
    for (int y = image.height() / 2; y < image.height() * 3 / 4; ++y)
        for (int x = image.width() / 4; x < image.width() * 3 / 4; ++x)
            best = std::max(best, qRed(image.pixel(x, y)));
    return best;
}

// The design's timers on a clock the test moves.
struct VirtualTime {
    FakeClock clock;
    VirtualTime() { Clock::setShared(&clock); }
    ~VirtualTime() { Clock::setShared(nullptr); }
};

// The ease-out timing curve, cubic Bezier (0, 0) (0.58, 1), at a fraction of its time.
double easeOut(double x)
{
    auto bezier = [](double u, double p1, double p2) {
        return 3 * (1 - u) * (1 - u) * u * p1 + 3 * (1 - u) * u * u * p2 + u * u * u;
    };
    double lo = 0, hi = 1;
    for (int i = 0; i < 60; ++i) {
        const double mid = (lo + hi) / 2;
        (bezier(mid, 0, 0.58) < x ? lo : hi) = mid;
    }
    return bezier((lo + hi) / 2, 0, 1);
}

} // namespace

TEST(FocusTimerPanel, TheFullClockSitsBottomRightOfTheWorkAreaAndReportsItsFrame)
{
    TimerRig rig;
    EXPECT_FALSE(rig.timer.isVisible());
    EXPECT_FALSE(rig.timer.panel()->allowsKey());
    rig.timer.show(false);
    ASSERT_TRUE(rig.timer.isVisible());
    EXPECT_EQ(rig.timer.panel()->size(), QSize(148, 88));
    EXPECT_EQ(rig.view()->size(), QSize(148, 88));
    EXPECT_FALSE(rig.view()->compact());
    // 56 in from the right, 2 up from the top of the bottom panel, y up.
    const QRectF expected(1280 - 148 - 56, 30 + 2, 148, 88);
    EXPECT_TRUE(sameRect(rig.timer.frame(), expected));
    // In Qt's y-down points the panel's top is 800 - 32 - 88.
    EXPECT_EQ(rig.timer.panel()->geometry(), QRect(1076, 680, 148, 88));
    ASSERT_EQ(rig.frames.size(), 1);
    EXPECT_TRUE(sameRect(rig.frames.front(), expected));
}

TEST(FocusTimerPanel, TheCompactClockIsSmallWithoutLabelOrControlsAndATapPausesAndResumes)
{
    TimerRig rig;
    rig.model.startFocus(25);
    rig.timer.show(true);
    EXPECT_EQ(rig.timer.panel()->size(), QSize(86, 46));
    EXPECT_TRUE(rig.view()->compact());
    EXPECT_TRUE(sameRect(rig.timer.frame(), QRectF(1280 - 86 - 56, 32, 86, 46)));
    EXPECT_EQ(rig.view()->toolTip(), QStringLiteral("Pause"));

    // A click on the face, through the panel as a user makes it.
    QTest::mouseClick(rig.view(), Qt::LeftButton, {}, QPoint(43, 23));
    EXPECT_EQ(rig.model.focus().phase, Phase::paused(true));
    EXPECT_EQ(rig.view()->toolTip(), QStringLiteral("Resume"));
    QTest::mouseClick(rig.view(), Qt::LeftButton, {}, QPoint(43, 23));
    EXPECT_EQ(rig.model.focus().phase, Phase::working());
    EXPECT_EQ(rig.view()->toolTip(), QStringLiteral("Pause"));

    // Outside the rounded case (its very corner) the face does not answer.
    rig.view()->tap(QPoint(0, 0));
    EXPECT_EQ(rig.model.focus().phase, Phase::working());

    // Hovering never brings controls to the compact face.
    QMouseEvent move(QEvent::MouseMove, QPointF(43, 23), QPointF(43, 23), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(rig.view(), &move);
    EXPECT_TRUE(rig.view()->hovering());
    EXPECT_EQ(rig.view()->controlsOpacity(), 0.0);
    EXPECT_FALSE(rig.view()->pauseButton()->isVisible());
    EXPECT_FALSE(rig.view()->endButton()->isVisible());
}

TEST(FocusTimerPanel, ADragOfTheFaceMovesThePanelAndIsNotATap)
{
    TimerRig rig;
    rig.model.startFocus(25);
    rig.timer.show(true);
    rig.frames.clear();
    const QPoint start = rig.timer.panel()->pos();
    QTest::mousePress(rig.view(), Qt::LeftButton, {}, QPoint(40, 20));
    QTest::mouseMove(rig.view(), QPoint(10, 5));
    QTest::mouseMove(rig.view(), QPoint(-20, -10));
    QTest::mouseRelease(rig.view(), Qt::LeftButton, {}, QPoint(-20, -10));
    EXPECT_NE(rig.timer.panel()->pos(), start);
    EXPECT_EQ(rig.model.focus().phase, Phase::working()) << "a drag does not pause";
    ASSERT_FALSE(rig.frames.isEmpty());
    EXPECT_TRUE(sameRect(rig.frames.back(), rig.timer.frame()));
}

TEST(FocusTimerPanel, ShowingAVisibleClockKeepsItsModeAndPlace)
{
    TimerRig rig;
    rig.timer.show(false);
    rig.timer.panel()->move(300, 200);
    const QRectF moved = rig.timer.frame();
    const qsizetype reported = rig.frames.size();
    rig.timer.show(true);
    EXPECT_FALSE(rig.timer.compact());
    EXPECT_EQ(rig.timer.panel()->size(), QSize(148, 88));
    EXPECT_TRUE(sameRect(rig.timer.frame(), moved));
    EXPECT_EQ(rig.frames.size(), reported) << "a show that does nothing reports nothing";

    // Hidden, the next show installs the other mode and puts it back in the corner.
    FocusTimerView *full = rig.view();
    rig.timer.hide();
    rig.timer.show(true);
    EXPECT_TRUE(rig.timer.compact());
    EXPECT_NE(rig.view(), full);
    EXPECT_EQ(rig.timer.panel()->size(), QSize(86, 46));
    EXPECT_TRUE(sameRect(rig.timer.frame(), QRectF(1138, 32, 86, 46)));

    // The same mode again keeps the view it has.
    FocusTimerView *compact = rig.view();
    rig.timer.hide();
    rig.timer.show(true);
    EXPECT_EQ(rig.view(), compact);
}

TEST(FocusTimerPanel, LedgesOnTopAndBesideOnlyWhileShown)
{
    TimerRig rig;
    EXPECT_FALSE(rig.timer.ledge());
    EXPECT_FALSE(rig.timer.sideLedge());
    rig.timer.show(false);
    const int number = int(rig.timer.panel()->winId());
    // Frame (1076, 32, 148, 88): top edge at 120.
    EXPECT_EQ(rig.timer.ledge(), (Ledge{1104, 1196, 120, number, std::nullopt}));
    EXPECT_EQ(rig.timer.sideLedge(), (Ledge{846, 1016, 32, number, std::nullopt}));
    rig.timer.hide();
    EXPECT_FALSE(rig.timer.ledge());
    EXPECT_FALSE(rig.timer.sideLedge());
    // A hidden panel moved in code reports nothing.
    const qsizetype reported = rig.frames.size();
    rig.timer.panel()->move(10, 10);
    EXPECT_EQ(rig.frames.size(), reported);
}

TEST(FocusTimerPanel, TogglePauseFollowsThePhase)
{
    TimerRig rig;
    rig.model.startFocus(25);
    rig.h.clock.advance(10s);
    ASSERT_EQ(rig.model.focus().remaining, 1490);

    FocusTimerView::togglePause(rig.model);
    EXPECT_EQ(rig.model.focus().phase, Phase::paused(true));
    // The model's tick keeps running, but a paused session does not count down.
    rig.h.clock.advance(30s);
    EXPECT_EQ(rig.model.focus().remaining, 1490);
    FocusTimerView::togglePause(rig.model);
    EXPECT_EQ(rig.model.focus().phase, Phase::working());
    rig.h.clock.advance(1s);
    EXPECT_EQ(rig.model.focus().remaining, 1489) << "the paused time is not counted";

    rig.setPhase(Phase::resting(), 120);
    FocusTimerView::togglePause(rig.model);
    EXPECT_EQ(rig.model.focus().phase, Phase::paused(false));
    FocusTimerView::togglePause(rig.model);
    EXPECT_EQ(rig.model.focus().phase, Phase::resting());

    rig.model.stopFocus();
    FocusTimerView::togglePause(rig.model);
    EXPECT_EQ(rig.model.focus().phase, Phase::idle());
}

TEST(FocusTimerPanel, ThePhaseTitleReadsFocusBreakOrPaused)
{
    LanguageGuard language(AppLanguage::en);
    FocusSession s;
    s.phase = Phase::working();
    EXPECT_EQ(FocusTimerView::phaseTitle(s), QStringLiteral("Focus"));
    s.phase = Phase::resting();
    EXPECT_EQ(FocusTimerView::phaseTitle(s), QStringLiteral("Break"));
    s.phase = Phase::paused(true);
    EXPECT_EQ(FocusTimerView::phaseTitle(s), QStringLiteral("Paused"));
    s.phase = Phase::paused(false);
    EXPECT_EQ(FocusTimerView::phaseTitle(s), QStringLiteral("Paused"));
    s.phase = Phase::idle();
    EXPECT_EQ(FocusTimerView::phaseTitle(s), QStringLiteral("Paused"));
}

TEST(FocusTimerPanel, HoveringTheFullFaceShowsItsControlsWhichPauseResumeAndEnd)
{
    VirtualTime time;
    TimerRig rig;
    rig.model.startFocus(25);
    rig.timer.show(false);
    FocusTimerView *view = rig.view();
    EXPECT_TRUE(view->toolTip().isEmpty()) << "the full face has no tooltip";
    EXPECT_FALSE(view->pauseButton()->isVisible());

    QMouseEvent move(QEvent::MouseMove, QPointF(74, 44), QPointF(74, 44), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view, &move);
    EXPECT_TRUE(view->hovering());
    // They fade in, eased out over 0.16 s.
    time.clock.advance(80ms);
    EXPECT_NEAR(view->controlsOpacity(), easeOut(0.5), 0.01);
    EXPECT_TRUE(view->pauseButton()->isVisible());
    time.clock.advance(80ms);
    EXPECT_EQ(view->controlsOpacity(), 1.0);
    ASSERT_TRUE(view->pauseButton()->isVisible());
    ASSERT_TRUE(view->endButton()->isVisible());
    EXPECT_EQ(view->pauseButton()->toolTip(), QStringLiteral("Pause"));
    EXPECT_EQ(view->endButton()->toolTip(), QStringLiteral("End the session"));
    // The row sits 18 points above the case's bottom, 22 high, centred.
    EXPECT_EQ(view->pauseButton()->geometry(), QRect(41, 48, 30, 22));
    EXPECT_EQ(view->endButton()->geometry(), QRect(77, 48, 30, 22));

    // A tap on the full face does nothing; its pause control pauses.
    rig.timer.view()->tap(QPoint(74, 30));
    EXPECT_EQ(rig.model.focus().phase, Phase::working());
    QTest::mouseClick(view->pauseButton(), Qt::LeftButton);
    EXPECT_EQ(rig.model.focus().phase, Phase::paused(true));
    EXPECT_EQ(view->pauseButton()->toolTip(), QStringLiteral("Resume"));
    QTest::mouseClick(view->pauseButton(), Qt::LeftButton);
    EXPECT_EQ(rig.model.focus().phase, Phase::working());
    QTest::mouseClick(view->endButton(), Qt::LeftButton);
    EXPECT_EQ(rig.model.focus().phase, Phase::idle());
    EXPECT_EQ(rig.h.kinds().back(), AppEvent::Kind::focusEnded);

    // At idle the pause control does nothing.
    QTest::mouseClick(view->pauseButton(), Qt::LeftButton);
    EXPECT_EQ(rig.model.focus().phase, Phase::idle());

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(view, &leave);
    EXPECT_FALSE(view->hovering());
    time.clock.advance(48ms);
    EXPECT_NEAR(view->controlsOpacity(), 1 - easeOut(0.3), 0.01);
    time.clock.advance(112ms);
    EXPECT_EQ(view->controlsOpacity(), 0.0);
    EXPECT_FALSE(view->pauseButton()->isVisible());
}

TEST(FocusTimerPanel, TheContextMenuOffersPauseOrResumeAndEnd)
{
    TimerRig rig;
    rig.model.startFocus(25);
    rig.timer.show(false);
    auto texts = [](QMenu &menu) {
        QStringList out;
        for (QAction *a : menu.actions())
            out << a->text();
        return out;
    };
    std::unique_ptr<QMenu> menu = rig.view()->makeContextMenu();
    EXPECT_EQ(texts(*menu), (QStringList{"Pause", "End the session"}));
    menu->actions().front()->trigger();
    EXPECT_EQ(rig.model.focus().phase, Phase::paused(true));

    menu = rig.view()->makeContextMenu();
    EXPECT_EQ(texts(*menu), (QStringList{"Resume", "End the session"}));
    menu->actions().front()->trigger();
    EXPECT_EQ(rig.model.focus().phase, Phase::working());
    menu->actions().back()->trigger();
    EXPECT_EQ(rig.model.focus().phase, Phase::idle());
}

TEST(FocusTimerPanel, PausedDigitsAreDimmedToHalf)
{
    TimerRig rig;
    rig.model.startFocus(25);
    rig.timer.show(false);
    const int running = brightestDigit(rig.view());
    FocusTimerView::togglePause(rig.model);
    const int paused = brightestDigit(rig.view());
    // Digits #F4ECDD over the face #1C1915: full red 0xF4; at half, about (0xF4 + 0x1C) / 2.
    EXPECT_GE(running, 0xE8);
    EXPECT_NEAR(paused, (0xF4 + 0x1C) / 2, 10);
}

TEST(FocusTimerPanel, WithoutAScreenTheClockStillShows)
{
    TimerRig rig;
    auto desktop = std::make_unique<DescribedDesktop>();
    desktop->list.clear();
    FocusTimerController timer(rig.model, std::move(desktop));
    timer.show(true);
    EXPECT_TRUE(timer.isVisible());
    EXPECT_EQ(timer.panel()->size(), QSize(86, 46));
    timer.hide();
}

// The clock made in a right-to-left language in an application laid out left
// to right (the language chosen while it runs), then the language changed
// while it shows: it is made without a fault, mirrors, and follows the change.
TEST(FocusTimerPanel, TheClockFollowsALanguageChangeWhileItShows)
{
    VirtualTime time;
    TimerRig rig;
    ASSERT_EQ(QApplication::layoutDirection(), Qt::LeftToRight);
    rig.model.setLanguage(AppLanguage::ar);
    rig.model.startFocus(25);
    rig.timer.show(false);
    FocusTimerView *view = rig.view();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->layoutDirection(), Qt::RightToLeft);
    // Pause leads the row: on the right.
    EXPECT_EQ(view->pauseButton()->geometry(), QRect(77, 48, 30, 22));
    EXPECT_EQ(view->endButton()->geometry(), QRect(41, 48, 30, 22));
    EXPECT_NE(view->endButton()->toolTip(), QStringLiteral("End the session"));

    rig.model.setLanguage(AppLanguage::en);
    EXPECT_EQ(rig.view(), view);
    EXPECT_EQ(view->layoutDirection(), Qt::LeftToRight);
    EXPECT_EQ(view->pauseButton()->geometry(), QRect(41, 48, 30, 22));
    EXPECT_EQ(view->endButton()->toolTip(), QStringLiteral("End the session"));
    EXPECT_EQ(view->pauseButton()->toolTip(), QStringLiteral("Pause"));
}
