// The in-window cat's stage and scenes in virtual time, with the numbers of
// their choreography.
#include <gtest/gtest.h>

#include "base/Clock.h"
#include "web/InWindowCatStage.h"

#include <chrono>

using namespace std::chrono_literals;
using Look = InWindowCatStage::Look;
using Actor = InWindowCatStage::Actor;

namespace {

class StageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Clock::setShared(&clock);
        stage.canDraw = [this](Look look) { return !missing.contains(InWindowCatStage::rawValue(look)); };
        stage.canPerch = [this] { return !missing.contains(QStringLiteral("perch")); };
        stage.pulse = [this](const QString &name) { pulses << name; };
    }
    void TearDown() override { Clock::setShared(nullptr); }

    const QSizeF page{1200, 800};
    FakeClock clock;
    InWindowCatStage stage;
    QStringList missing; // pictures (and "perch") the look lacks
    QStringList pulses;
};

} // namespace

TEST_F(StageTest, ComposerLeapLandsOnTheSheetAndFollowsIt)
{
    const QRectF sheet(100, 80, 600, 500);
    stage.composerOpened(std::nullopt, sheet, page);
    ASSERT_TRUE(stage.actor());
    EXPECT_EQ(*stage.actor(), (Actor{Look::leap, {1080, 840}, {590, 80}, 1, 78, 74, -1, false, 1}))
        << "from below the bottom edge, 120 in from the right, to 110 in from the sheet's right end";
    EXPECT_EQ(stage.motion()->duration, 0.62);
    EXPECT_EQ(stage.perch(), sheet);
    EXPECT_FALSE(stage.perched());
    clock.advance(619ms);
    EXPECT_TRUE(stage.actor());
    clock.advance(1ms);
    EXPECT_FALSE(stage.actor());
    EXPECT_TRUE(stage.perched());
    EXPECT_TRUE(stage.occupied()) << "sitting on the perch alone";

    stage.sheetMoved(QRectF(0, 0, 60, 60));
    EXPECT_EQ(stage.perch(), sheet) << "too narrow to sit on";
    stage.sheetMoved(QRectF(50, 70, 600, 500));
    EXPECT_EQ(stage.perch(), QRectF(50, 70, 600, 500));
    stage.visit(std::nullopt, QRectF(800, 100, 300, 400), page);
    stage.show(Look::happy, page, 2.6);
    EXPECT_TRUE(stage.perched()) << "no visit and no pose while sitting";
    EXPECT_FALSE(stage.actor());
}

TEST_F(StageTest, NarrowSheetsAndTargetsAreRefusedAtEightyPoints)
{
    stage.sheetMoved(QRectF(0, 0, 300, 300));
    EXPECT_FALSE(stage.perch()) << "no perch to move";
    stage.composerOpened(std::nullopt, QRectF(100, 80, 80, 500), page);
    stage.visit(std::nullopt, QRectF(100, 80, 80, 500), page);
    stage.composerOpened(std::nullopt, std::nullopt, page);
    EXPECT_FALSE(stage.occupied());
    stage.composerOpened(QRectF(0, 700, 40, 20), QRectF(100, 80, 81, 500), page);
    ASSERT_TRUE(stage.actor());
    EXPECT_NEAR(stage.actor()->to.x(), 181 - 17.82, 1e-9);
    EXPECT_EQ(stage.actor()->from, QPointF(20, 700)) << "the top middle of the element it leaps from";
    EXPECT_EQ(stage.actor()->facing, 1);
}

TEST_F(StageTest, AssistantVisitSitsFourAndAHalfSecondsThenHopsAway)
{
    const QRectF target(1000, 100, 150, 400);
    stage.visit(std::nullopt, target, page);
    EXPECT_EQ(stage.actor()->from, QPointF(90, 400));
    EXPECT_FALSE(stage.perch()) << "no perch during the flight";
    clock.advance(620ms);
    EXPECT_EQ(stage.perch(), target);
    EXPECT_TRUE(stage.perched());
    clock.advance(4499ms);
    EXPECT_TRUE(stage.perched());
    clock.advance(1ms);
    EXPECT_FALSE(stage.perch());
    ASSERT_TRUE(stage.actor());
    const double px = 1150 - 33; // 22 % of 150
    EXPECT_EQ(stage.actor()->from, QPointF(px, 100));
    EXPECT_EQ(stage.actor()->to, QPointF(1140, 890)) << "never past 60 from the right edge, 90 below the bottom";
    EXPECT_EQ(stage.actor()->lift, 60);
    clock.advance(600ms);
    EXPECT_FALSE(stage.occupied());
}

TEST_F(StageTest, MoodPoseRisesHoldsSinksAndANewOneRestarts)
{
    stage.show(Look::curious, page, 2.6);
    EXPECT_EQ(*stage.actor(), (Actor{Look::curious, {150, 924}, {150, 794}, 1, 0, 128, 1, false, 1}));
    clock.advance(200ms);
    stage.show(Look::happy, page, 2.6); // while the first still rises
    EXPECT_EQ(stage.actor()->look, Look::happy);
    clock.advance(450ms + 2600ms);
    EXPECT_EQ(stage.actor()->progress, 0) << "sinking back";
    EXPECT_EQ(stage.motion()->duration, 0.4);
    clock.advance(399ms);
    EXPECT_TRUE(stage.actor());
    clock.advance(1ms);
    EXPECT_FALSE(stage.actor()) << "the first scene changed nothing after it was replaced";
    clock.advance(10s);
    EXPECT_FALSE(stage.occupied());
}

TEST_F(StageTest, ComposerCloseCarriesToThePlanCelebratesOrHopsAway)
{
    const QRectF sheet(100, 80, 600, 500), plan(900, 40, 200, 300);
    stage.composerOpened(std::nullopt, sheet, page);
    clock.advance(1s);
    stage.composerClosed(QStringLiteral("scheduled"), plan, std::nullopt, page);
    EXPECT_FALSE(stage.perch());
    ASSERT_TRUE(stage.actor());
    EXPECT_TRUE(stage.actor()->carrying);
    EXPECT_EQ(stage.actor()->from, QPointF(590, 80)) << "from where it sat";
    EXPECT_EQ(stage.actor()->to, QPointF(1066, 46));
    EXPECT_EQ(stage.actor()->lift, 120);
    clock.advance(780ms);
    EXPECT_EQ(pulses, QStringList{QStringLiteral("planner")});
    EXPECT_EQ(*stage.actor(), (Actor{Look::sit, {1066, 46}, {1066, 46}, 1, 0, 64, 1, false, 1}));
    clock.advance(1500ms);
    EXPECT_EQ(stage.actor()->opacity, 0);
    clock.advance(350ms);
    EXPECT_FALSE(stage.actor());
    EXPECT_EQ(pulses.size(), 1);

    // Published: the happy pose below the sitting point; the plan is not used.
    stage.composerClosed(QStringLiteral("published"), plan, sheet, page);
    EXPECT_EQ(*stage.actor(), (Actor{Look::happy, {590, 180}, {590, 140}, 1, 46, 120, 1, false, 1}));
    clock.advance(500ms + 2200ms + 400ms);
    EXPECT_FALSE(stage.actor());
    EXPECT_EQ(pulses.size(), 1);

    // No sheet and no perch: from the middle of the page; "plan" without a plan hops.
    stage.composerClosed(QStringLiteral("plan"), std::nullopt, std::nullopt, page);
    EXPECT_EQ(stage.actor()->from, QPointF(712, 200));
    EXPECT_EQ(stage.actor()->to, QPointF(932, 890));
    clock.advance(600ms);
    EXPECT_FALSE(stage.occupied());
    stage.composerClosed(QStringLiteral("cancelled"), std::nullopt, QRectF(0, 100, 120, 100), page);
    EXPECT_EQ(stage.actor()->to, QPointF(120 - 26.4 + 220, 890));
}

TEST_F(StageTest, CaptionsLiveTheirTimeAndComeBackToTheDesktop)
{
    EXPECT_FALSE(stage.say(QStringLiteral("hello"), 3)) << "nobody on stage";
    EXPECT_FALSE(stage.caption());
    stage.show(Look::sit, page, 10);
    ASSERT_TRUE(stage.say(QStringLiteral("hello"), 3));
    const auto first = *stage.caption();
    clock.advance(1s);
    ASSERT_TRUE(stage.say(QStringLiteral("hello"), 3));
    EXPECT_NE(stage.caption()->id, first.id) << "the same words are a new caption";
    clock.advance(2500ms);
    EXPECT_TRUE(stage.caption()) << "the first timer removes nothing";
    clock.advance(500ms);
    EXPECT_FALSE(stage.caption());

    stage.say(QStringLiteral("half said"), 3);
    clock.advance(1500ms);
    const auto taken = stage.takeCaption();
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->text, QStringLiteral("half said"));
    EXPECT_NEAR(taken->remaining, 1.5, 1e-6);
    EXPECT_FALSE(stage.caption());
    stage.say(QStringLiteral("nearly done"), 3);
    clock.advance(2200ms);
    EXPECT_FALSE(stage.takeCaption()) << "0.8 s left is not worth finishing";
    EXPECT_FALSE(stage.caption());
    EXPECT_FALSE(stage.takeCaption());
}

TEST_F(StageTest, ClearStopsTheFlightForGood)
{
    stage.composerOpened(std::nullopt, QRectF(100, 80, 600, 500), page);
    stage.say(QStringLiteral("up"), 5);
    stage.clear();
    EXPECT_FALSE(stage.actor());
    EXPECT_FALSE(stage.perch());
    EXPECT_FALSE(stage.perched());
    EXPECT_FALSE(stage.caption());
    clock.advance(10s);
    EXPECT_FALSE(stage.occupied()) << "the cancelled leap never lands";
}

// A look the window cannot draw takes no scene: the cat is not counted as
// inside, and its lines go to the desktop.
TEST_F(StageTest, ALookWithoutPicturesOrPerchClipTakesNoScene)
{
    missing = {QStringLiteral("leap"), QStringLiteral("happy"), QStringLiteral("curious"), QStringLiteral("concerned"),
               QStringLiteral("sleepy"), QStringLiteral("sit")};
    stage.show(Look::happy, page, 2.6);
    stage.composerOpened(std::nullopt, QRectF(100, 80, 600, 500), page);
    stage.visit(std::nullopt, QRectF(100, 80, 600, 500), page);
    EXPECT_FALSE(stage.occupied());
    EXPECT_FALSE(stage.say(QStringLiteral("Published."), 6));

    // Pictures but no clip to sit with: poses play, perching scenes do not.
    missing = {QStringLiteral("perch")};
    stage.composerOpened(std::nullopt, QRectF(100, 80, 600, 500), page);
    EXPECT_FALSE(stage.occupied());
    stage.show(Look::happy, page, 2.6);
    EXPECT_TRUE(stage.occupied());

    // Only the happy picture missing: that pose is refused, the others play.
    missing = {QStringLiteral("happy")};
    stage.clear();
    stage.show(Look::happy, page, 2.6);
    EXPECT_FALSE(stage.occupied());
    stage.composerClosed(QStringLiteral("published"), std::nullopt, std::nullopt, page);
    EXPECT_FALSE(stage.occupied()) << "the celebration cannot be drawn";

    InWindowCatStage unseen; // nothing tells it what can be drawn
    unseen.show(Look::sit, page, 1);
    EXPECT_FALSE(unseen.occupied());
}
