// The ask panel's controller on a described desktop: where it shows, what it
// tells the coordinator and when, and how it follows the card's size.

#include "AskTestSupport.h"

#include "ask/AskBarView.h"
#include "ask/AskPanelController.h"
#include "design/FloatingPanel.h"

#include <QScrollArea>
#include <QScrollBar>

#include <gtest/gtest.h>

using namespace asktest;

namespace {

// A primary screen with a bar above and a panel below, and a smaller second
// screen to its right, both as the cat sees them (y up).
std::vector<CompanionScreen> twoScreens()
{
    return {{QRectF(0, 0, 1280, 800), QRectF(0, 40, 1280, 736), nullptr},
            {QRectF(1280, 0, 1024, 768), QRectF(1280, 0, 1024, 744), nullptr}};
}

struct Recorded {
    QStringList calls;
    QList<QRectF> frames;
};

class AskPanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto fake = std::make_unique<FakeDesktop>();
        desktop = fake.get();
        desktop->list = twoScreens();
        ask.setDesktop(std::move(fake));
        ask.onVisibilityChange = [this](bool visible) { seen.calls << (visible ? "shown" : "hidden"); };
        ask.onFrameChange = [this](const QRectF &frame) {
            seen.calls << "frame";
            seen.frames << frame;
        };
        settle();
    }
    void TearDown() override { ask.hide(); }

    flowtest::Flows flows;
    AskPanelController ask{flows.model()};
    FakeDesktop *desktop = nullptr;
    Recorded seen;
};

TEST(AskPanelPlacement, TheScreenUnderThePointerWinsAndASharedEdgeGoesToTheFirst)
{
    const auto screens = twoScreens();
    EXPECT_EQ(AskPanelController::targetScreen(screens, QPointF(1500, 300)), 1u);
    EXPECT_EQ(AskPanelController::targetScreen(screens, QPointF(200, 300)), 0u);
    // A frame holds its left and top edges, not its right and bottom ones (y up):
    // the shared edge x = 1280 is the second screen's first column, whatever the order.
    EXPECT_EQ(AskPanelController::targetScreen(screens, QPointF(1280, 300)), 1u);
    EXPECT_EQ(AskPanelController::targetScreen(screens, QPointF(1279.5, 300)), 0u);
    auto swapped = screens;
    std::swap(swapped[0], swapped[1]);
    EXPECT_EQ(AskPanelController::targetScreen(swapped, QPointF(1280, 300)), 0u);
    EXPECT_EQ(AskPanelController::targetScreen(swapped, QPointF(0, 300)), 1u);
    // The top row (y = height) is the screen's own; y = 0 is below it: the main screen.
    EXPECT_EQ(AskPanelController::targetScreen(swapped, QPointF(1500, 768)), 0u);
    EXPECT_EQ(AskPanelController::targetScreen(swapped, QPointF(1500, 0)), 0u);
    EXPECT_EQ(AskPanelController::targetScreen(screens, QPointF(1500, 0)), 0u);
    // Screens that overlap (a mirrored one): the first in the list that holds the point wins.
    const std::vector<CompanionScreen> mirrored{{QRectF(0, 0, 1280, 800), QRectF(0, 0, 1280, 800), nullptr},
                                                {QRectF(0, 0, 1280, 800), QRectF(0, 40, 1280, 760), nullptr}};
    EXPECT_EQ(AskPanelController::targetScreen(mirrored, QPointF(600, 400)), 0u);
    // Stacked screens, one above the other: the row y = 800 is the lower one's top.
    const std::vector<CompanionScreen> stacked{{QRectF(0, 0, 1280, 800), QRectF(0, 0, 1280, 800), nullptr},
                                               {QRectF(0, 800, 1280, 800), QRectF(0, 800, 1280, 800), nullptr}};
    EXPECT_EQ(AskPanelController::targetScreen(stacked, QPointF(600, 800)), 0u);
    EXPECT_EQ(AskPanelController::targetScreen(stacked, QPointF(600, 801)), 1u);
    // Off every screen, or no pointer at all: the main screen.
    EXPECT_EQ(AskPanelController::targetScreen(screens, QPointF(5000, 5000)), 0u);
    EXPECT_EQ(AskPanelController::targetScreen(screens, std::nullopt), 0u);
    EXPECT_EQ(AskPanelController::targetScreen({}, QPointF(10, 10)), std::nullopt);

    // Centred on the visible frame, its bottom edge 118 points above the visible bottom.
    EXPECT_EQ(AskPanelController::origin(QRectF(1280, 0, 1024, 744), QSizeF(680, 220)), QPointF(1452, 118));
    EXPECT_EQ(AskPanelController::origin(QRectF(0, 40, 1280, 736), QSizeF(680, 300)), QPointF(300, 158));
}

TEST_F(AskPanelTest, ShowsOnTheSecondScreenAndTellsVisibilityThenFrame)
{
    desktop->at = QPointF(1500, 300);
    const double height = ask.frame().height();
    ask.show(true);

    EXPECT_TRUE(ask.isVisible());
    EXPECT_TRUE(ask.panel()->isVisible());
    EXPECT_TRUE(ask.bridge().visible());
    EXPECT_EQ(seen.calls, (QStringList{"shown", "frame"}));
    const QRectF expected(1452, 118, 680, height);
    EXPECT_EQ(seen.frames.value(0), expected);
    EXPECT_EQ(ask.frame(), expected);
    // In the window system's own y-down points: the top edge is 800 - (118 + height).
    EXPECT_EQ(ask.panel()->geometry(), QRect(1452, int(800 - 118 - height), 680, int(height)));

    const std::optional<Ledge> perch = ask.ledge();
    ASSERT_TRUE(perch);
    EXPECT_EQ(perch->minX, 1452 + 28);
    EXPECT_EQ(perch->maxX, 1452 + 680 - 28);
    EXPECT_EQ(perch->y, 118 + height);
    EXPECT_EQ(perch->windowNumber, int(ask.panel()->winId()));
    EXPECT_FALSE(perch->windowX);

    // Shown again with the pointer on the first screen's right-most column: placed again there.
    desktop->at = QPointF(1279, 500);
    ask.show(false);
    EXPECT_EQ(seen.calls, (QStringList{"shown", "frame", "shown", "frame"}));
    EXPECT_EQ(seen.frames.value(1), QRectF(300, 158, 680, height));
}

TEST_F(AskPanelTest, HidingTellsOnceAndAHiddenPanelHasNoPerch)
{
    ask.hide();
    EXPECT_TRUE(seen.calls.isEmpty());
    EXPECT_FALSE(ask.ledge());

    ask.show(true);
    seen.calls.clear();
    ask.bridge().close();
    EXPECT_EQ(seen.calls, (QStringList{"hidden"}));
    EXPECT_FALSE(ask.isVisible());
    EXPECT_FALSE(ask.panel()->isVisible());
    EXPECT_FALSE(ask.bridge().visible());
    EXPECT_FALSE(ask.ledge());
    ask.bridge().close();
    ask.hide();
    EXPECT_EQ(seen.calls, (QStringList{"hidden"}));

    // The hot key and the tray toggle.
    ask.toggle();
    EXPECT_TRUE(ask.isVisible());
    ask.toggle();
    EXPECT_FALSE(ask.isVisible());
    EXPECT_EQ(seen.calls, (QStringList{"hidden", "shown", "frame", "hidden"}));
}

TEST_F(AskPanelTest, WithoutAnyScreenNothingShowsAndNothingIsTold)
{
    desktop->list.clear();
    desktop->at = QPointF(100, 100);
    ask.show(true);
    ask.toggle();
    EXPECT_FALSE(ask.isVisible());
    EXPECT_FALSE(ask.panel()->isVisible());
    EXPECT_FALSE(ask.ledge());
    EXPECT_TRUE(seen.calls.isEmpty());
}

TEST_F(AskPanelTest, SizeReportsResizeAboveHalfAPointKeepingTheBottomLeftCorner)
{
    desktop->at = QPointF(300, 300);
    ask.show(true);
    settle();
    seen = {};
    const QRectF before = ask.frame();

    ask.bridge().sizeChanged(QSizeF(680, before.height() + 0.4));
    ask.bridge().sizeChanged(QSizeF(680.5, before.height()));
    ask.bridge().sizeChanged(QSizeF(0, 300));
    ask.bridge().sizeChanged(QSizeF(680, -1));
    settle();
    EXPECT_TRUE(seen.calls.isEmpty());
    EXPECT_EQ(ask.frame(), before);

    ask.bridge().sizeChanged(QSizeF(680, before.height() + 1));
    settle();
    const QRectF grown(before.x(), before.y(), 680, before.height() + 1);
    EXPECT_EQ(seen.calls, (QStringList{"frame"}));
    EXPECT_EQ(seen.frames.value(0), grown);
    EXPECT_EQ(ask.frame(), grown);
    // The perch rises with the top edge.
    EXPECT_EQ(ask.ledge()->y, before.y() + before.height() + 1);

    // Hidden, the frame still follows, silently.
    ask.hide();
    seen = {};
    ask.bridge().sizeChanged(QSizeF(680, before.height() + 40));
    settle();
    EXPECT_EQ(ask.frame(), QRectF(before.x(), before.y(), 680, before.height() + 40));
    EXPECT_TRUE(seen.calls.isEmpty());
}

TEST_F(AskPanelTest, TheCardsHeightBecomesThePanelsAndGrowsItUpwards)
{
    desktop->at = QPointF(300, 300);
    ask.show(false);
    settle();
    const QRectF before = ask.frame();
    EXPECT_EQ(before.width(), 680);
    EXPECT_EQ(before.height(), ask.view()->idealSize().height());
    EXPECT_EQ(ask.view()->geometry(), QRect(QPoint(0, 0), ask.panel()->size()));

    QList<CatChatLine> lines;
    for (int i = 0; i < 6; ++i)
        lines << line(i % 2 == 0, QStringLiteral("Line %1 of a conversation that goes on for a while.").arg(i));
    seen = {};
    flows.model().setCatChat(lines);
    settle();
    const QRectF after = ask.frame();
    EXPECT_GT(after.height(), before.height());
    EXPECT_EQ(after.y(), before.y());
    EXPECT_EQ(after.x(), before.x());
    ASSERT_FALSE(seen.frames.isEmpty());
    EXPECT_EQ(seen.frames.last(), after);
    EXPECT_EQ(ask.view()->height(), int(after.height()));
}

// A monitor 560 high beside the others: the panel's bottom edge stays 118 up,
// its top edge comes no higher than the screen's and the list scrolls instead.
TEST_F(AskPanelTest, OnAShortScreenTheListGivesWayBeforeThePanelLeavesIt)
{
    QList<CatChatLine> lines;
    for (int i = 0; i < 20; ++i)
        lines << line(i % 2 == 0, QStringLiteral("Line %1 of a conversation that goes on for a while.").arg(i));
    flows.model().setCatChat(lines);
    desktop->at = QPointF(300, 300);
    ask.show(false);
    settle();
    EXPECT_EQ(ask.view()->history()->height(), AskBarView::kMaxHistory);
    const double tall = ask.frame().height();

    desktop->list.push_back({QRectF(2304, 0, 1280, 560), QRectF(2304, 0, 1280, 560), nullptr});
    desktop->at = QPointF(2500, 300);
    ask.show(false);
    settle();
    const QScrollArea *list = ask.view()->history();
    for (const char *asked : {"", "one\ntwo\nthree\nfour"}) {
        // A question of several lines grows the composer: the list gives way again.
        flows.model().setAskInput(QString::fromUtf8(asked));
        settle();
        SCOPED_TRACE(asked);
        const QRectF frame = ask.frame();
        EXPECT_EQ(frame.y(), 118);
        EXPECT_EQ(frame.y() + frame.height(), 560);
        EXPECT_EQ(seen.frames.last(), frame);
        EXPECT_EQ(ask.view()->height(), 560 - 118);
        EXPECT_LT(list->height(), AskBarView::kMaxHistory);
        EXPECT_GT(list->verticalScrollBar()->maximum(), 0);
    }

    // Back on the tall screen the list has its 380 points again.
    flows.model().setAskInput(QString());
    desktop->at = QPointF(300, 300);
    ask.show(false);
    settle();
    EXPECT_EQ(ask.frame(), QRectF(300, 158, 680, tall));
}

TEST_F(AskPanelTest, AMoveOfTheShownPanelIsToldSoThePerchFollows)
{
    desktop->at = QPointF(300, 300);
    ask.show(false);
    settle();
    seen = {};
    // As a drag moves it: 50 to the right and 30 up.
    ask.panel()->move(ask.panel()->pos() + QPoint(50, -30));
    settle();
    ASSERT_EQ(seen.calls, (QStringList{"frame"}));
    EXPECT_EQ(seen.frames.value(0), ask.frame());
    EXPECT_EQ(ask.ledge()->minX, ask.frame().x() + 28);
    EXPECT_EQ(ask.frame().x(), 300 + 50);
    EXPECT_EQ(ask.frame().y(), 158 + 30);

    // Dragged up to 10 points under the top of the work area (776, y up), then
    // asked on: the longer conversation grows the panel no higher than that top.
    const QRectF dragged = ask.frame();
    ask.panel()->move(ask.panel()->pos() - QPoint(0, int(776 - 10 - (dragged.y() + dragged.height()))));
    settle();
    QList<CatChatLine> lines;
    for (int i = 0; i < 6; ++i)
        lines << line(i % 2 == 0, QStringLiteral("Line %1 of a conversation that goes on for a while.").arg(i));
    flows.model().setCatChat(lines);
    settle();
    EXPECT_GT(ask.frame().height(), dragged.height());
    EXPECT_EQ(ask.frame().y() + ask.frame().height(), 776) << "kept inside the work area";
    EXPECT_EQ(seen.frames.last(), ask.frame());

    // Hidden, moves are not told.
    ask.hide();
    seen = {};
    ask.panel()->move(ask.panel()->pos() + QPoint(5, 5));
    settle();
    EXPECT_TRUE(seen.calls.isEmpty());
}

TEST(AskPanelLifetime, TheBridgeOutlivingItsControllerDoesNothing)
{
    flowtest::Flows flows;
    auto ask = std::make_unique<AskPanelController>(flows.model());
    int told = 0;
    ask->onVisibilityChange = [&](bool) { ++told; };
    AskPanelBridge &bridge = ask->bridge();
    auto close = bridge.close;
    auto size = bridge.sizeChanged;
    ask.reset();
    close();
    size(QSizeF(680, 400));
    EXPECT_EQ(told, 0);
}

} // namespace
