// The desktop cat on a real X server, under each window manager and with and
// without a compositor, with windows of a second connection standing in for
// other applications. Frames run on a virtual clock that the test steps; the
// windows, pointer and clicks are real.
#include "DesktopRig.h"
#include "design/FloatingPanel.h"

#include <QWidget>
#include <QWindow>

#include <memory>

TEST(DesktopCat, LandsOnAWindowsTopEdgeAndRidesAlongWhenItMoves)
{
    ASSERT_TRUE(X11::available());
    DesktopRig rig;
    const xcb_window_t w = rig.other.open("Notes", QRect(300, 300, 500, 300));
    ASSERT_TRUE(rig.placedLedge(w, QPoint(300, 300)));
    const QRect frame = rig.other.frame(w);
    const Ledge ledge = rig.ledgesOf(w).front();
    // The ledge is the top of the title bar, in y-up points.
    EXPECT_EQ(ledge.y, rig.screenHeight - frame.y());
    EXPECT_GT(frame.height(), 300) << "the frame includes the title bar";
    EXPECT_EQ(ledge.minX, frame.x());
    EXPECT_EQ(ledge.maxX, frame.x() + frame.width());

    bool arrived = false;
    rig.cat.onArrived = [&](const CompanionGoal &g) { arrived = g == CompanionGoal::visit(ledge); };
    rig.cat.request(CompanionGoal::visit(ledge));
    ASSERT_TRUE(rig.frameUntil([&] { return arrived; }));
    EXPECT_EQ(rig.cat.brain().pose.position.y(), ledge.y);
    const double x = rig.cat.brain().pose.position.x();

    // Where the frame lands is the window manager's choice (twm counts its title bar in).
    rig.other.move(w, QPoint(400, 250));
    ASSERT_TRUE(rig.frameUntil([&] { return rig.other.frame(w).x() > frame.x(); }));
    const QRect moved = rig.other.frame(w);
    const double top = rig.screenHeight - moved.y();
    EXPECT_GT(top, ledge.y);
    ASSERT_TRUE(rig.frameUntil([&] { return rig.cat.brain().pose.position.y() == top; }));
    EXPECT_NEAR(rig.cat.brain().pose.position.x(), x + (moved.x() - frame.x()), 0.01);
    EXPECT_EQ(rig.cat.brain().support.kind, CompanionBrain::Support::Kind::ledge);
}

TEST(DesktopCat, AWindowPlacedInFrontCutsTheLedge)
{
    DesktopRig rig;
    const xcb_window_t back = rig.other.open("Plan", QRect(200, 300, 800, 300));
    ASSERT_TRUE(rig.ledgesUntil(back, "one ledge of the back window", [](const auto &l) { return l.size() == 1; }));
    const xcb_window_t front = rig.other.open("Inbox", QRect(450, 200, 200, 300));
    ASSERT_TRUE(rig.ledgesUntil(front, "ledge of the front window", [](const auto &l) { return !l.empty(); }));
    rig.other.raise(front);
    ASSERT_TRUE(rig.frameUntil([&] { return rig.ledgesOf(back).size() == 2; }, DesktopRig::kLedgeLimit)) << [&] {
        std::string out;
        for (const Ledge &l : rig.cat.ledges())
            out += std::to_string(l.windowNumber) + ": " + std::to_string(l.minX) + "..." + std::to_string(l.maxX) +
                   " at " + std::to_string(l.y) + "\n";
        const QRect b = rig.other.frame(back), f = rig.other.frame(front);
        out += "back " + std::to_string(back) + " frame " + std::to_string(b.x()) + "," + std::to_string(b.y()) + " " +
               std::to_string(b.width()) + "x" + std::to_string(b.height()) + "\n";
        out += "front " + std::to_string(front) + " frame " + std::to_string(f.x()) + "," + std::to_string(f.y()) +
               " " + std::to_string(f.width()) + "x" + std::to_string(f.height()) + "\n";
        return out;
    }();
    const QRect b = rig.other.frame(back), f = rig.other.frame(front);
    const std::vector<Ledge> pieces = rig.ledgesOf(back);
    EXPECT_EQ(pieces[0].minX, b.x());
    EXPECT_EQ(pieces[0].maxX, f.x());
    EXPECT_EQ(pieces[1].minX, f.x() + f.width());
    EXPECT_EQ(pieces[1].maxX, b.x() + b.width());
    EXPECT_EQ(rig.ledgesOf(front).size(), 1u);
}

// The top-level window the X server finds under the pointer.
xcb_window_t pointerWindow()
{
    xcb_connection_t *c = X11::connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_query_pointer_reply_t *r = xcb_query_pointer_reply(c, xcb_query_pointer(c, root), nullptr);
    const xcb_window_t child = r ? r->child : xcb_window_t(XCB_NONE);
    std::free(r);
    return child;
}

TEST(DesktopCat, ClicksReachTheWindowBeneathExceptOnTheCat)
{
    DesktopRig rig;
    // A window under the whole lower half of the screen, where the cat sits on the floor.
    const xcb_window_t under = rig.other.open("Under", QRect(0, 400, 1280, 400));
    ASSERT_TRUE(rig.ledgesUntil(under, "ledge of the window beneath", [](const auto &l) { return !l.empty(); }));
    int clicks = 0;
    rig.cat.onClick = [&] { ++clicks; };
    CompanionPanel *panel = rig.cat.panels().front();

    const QPoint cat = rig.catGrip();
    rig.pointAt(cat + QPoint(-300, 0));
    xdotool({"click", "1"});
    ASSERT_TRUE(zktest::spinUntil([&] { return rig.other.presses(under) == 1; }));

    // Onto the cat and pressed at once, with no frame between (virtual time
    // holds still): the X server sends the press to the window the pointer is
    // in, shapes and stacking counted, and that is the cat's.
    ReleaseCounter released;
    xdotool({"mousemove", QString::number(cat.x()), QString::number(cat.y()), "click", "1"});
    // On a busy machine the click comes late: frames run on only once it is in.
    ASSERT_TRUE(zktest::spinUntil([&] { return released.count > 0 || rig.other.presses(under) > 1; }))
        << "presses beneath: " << rig.other.presses(under);
    ASSERT_EQ(rig.other.presses(under), 1) << "the click on the cat went to the window beneath";
    ASSERT_TRUE(rig.frameUntil([&] { return clicks == 1; })) << "presses beneath: " << rig.other.presses(under);

    // And beside the cat again, the window gets it, also at once.
    xdotool({"mousemove", QString::number(cat.x()), QString::number(cat.y() - 120), "click", "1"});
    ASSERT_TRUE(zktest::spinUntil([&] { return rig.other.presses(under) == 2; }));
    EXPECT_EQ(clicks, 1);

    // The bubble is drawn, not pressed: from the cat to the bubble's middle, a
    // click there reaches the window beneath while the line shows.
    // Said for longer than any wait here lets virtual time run.
    rig.cat.say(QStringLiteral("Published. Link is in the plan."), 1e6);
    ASSERT_TRUE(rig.frameUntil([&] {
        const CanvasScene &scene = panel->frame().scene;
        return scene.bubble && panel->frame().bubbleOpacity == 1;
    }));
    const CanvasScene::Bubble bubble = *panel->frame().scene.bubble;
    const QRectF drawn = bubble.rectFor(CanvasPainter::bubbleSize(panel->frame().bubbleText, bubble.tailEdge))
                             .translated(panel->canvasOrigin());
    ASSERT_TRUE(drawn.isValid());
    rig.pointAt(drawn.center().toPoint());
    ASSERT_TRUE(rig.frameUntil([&] { return pointerWindow() != xcb_window_t(panel->winId()); }))
        << "the X server still finds the cat's window under the bubble";
    xdotool({"click", "1"});
    ASSERT_TRUE(zktest::spinUntil([&] { return rig.other.presses(under) == 3; }))
        << "presses beneath: " << rig.other.presses(under);
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(rig.cat.viewModel().bubble().has_value()) << "the line still shows";
}

TEST(DesktopCat, ADragCarriesTheCatAndTheDropLetsItLandOnAWindow)
{
    DesktopRig rig;
    const xcb_window_t w = rig.other.open("Target", QRect(200, 350, 500, 250));
    const std::optional<Ledge> placed = rig.placedLedge(w, QPoint(200, 350));
    ASSERT_TRUE(placed);
    const Ledge ledge = *placed;
    int clicks = 0;
    rig.cat.onClick = [&] { ++clicks; };
    CompanionPanel *panel = rig.cat.panels().front();

    const QPoint grip = rig.catGrip();
    rig.pointAt(grip);
    ASSERT_TRUE(rig.frameUntil([&] { return !panel->interactive().empty(); }));
    X11::compositorRunning();
    xdotool({"mousedown", "1"});
    // Over the window's top, the feet 20 points above it.
    const QPoint target(450, int(rig.screenHeight - (ledge.y + 20) - 31));
    for (int i = 1; i <= 10; ++i) {
        const QPoint step = grip + (target - grip) * i / 10;
        rig.pointAt(step);
        rig.frameUntil([] { return true; });
    }
    ASSERT_TRUE(rig.frameUntil([&] {
        const QPointF p = rig.cat.brain().pose.position;
        return rig.cat.brain().pose.state == CompanionState::carried && std::abs(p.x() - 450) < 2 &&
               std::abs(p.y() - (ledge.y + 20)) < 2;
    })) << "state " << int(rig.cat.brain().pose.state) << " at " << rig.cat.brain().pose.position.x() << ", "
        << rig.cat.brain().pose.position.y() << "; wanted 450, " << ledge.y + 20;
    // What the coordinator asks of the cat meanwhile (a publication, a late hour)
    // waits until it is put down: a held cat neither naps nor celebrates.
    rig.cat.request(CompanionGoal::nap());
    rig.cat.request(CompanionGoal::celebrate());
    rig.frameUntil([] { return true; });
    EXPECT_EQ(rig.cat.brain().pose.state, CompanionState::carried);
    xdotool({"mouseup", "1"});
    ASSERT_TRUE(rig.frameUntil([&] { return rig.cat.brain().pose.state != CompanionState::carried; }));
    EXPECT_EQ(rig.cat.brain().pose.position.y(), ledge.y);
    EXPECT_EQ(rig.cat.brain().support.kind, CompanionBrain::Support::Kind::ledge);
    EXPECT_EQ(rig.cat.brain().support.ledge.windowNumber, int(w));
    EXPECT_EQ(clicks, 0);
    EXPECT_TRUE(rig.frameUntil([&] { return rig.cat.brain().pose.state == CompanionState::pounce; }))
        << "the celebration comes once the cat is down";
    EXPECT_EQ(rig.cat.brain().support.ledge.windowNumber, int(w));
}

namespace {

int desktopCount()
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), {QStringLiteral("get_num_desktops")});
    if (!p.waitForFinished(10000) || p.exitCode() != 0)
        return 0;
    return p.readAllStandardOutput().trimmed().toInt();
}

} // namespace

TEST(DesktopCat, TheWorkspaceWindowIsHomeOnlyWhileItShowsOnThisDesktop)
{
    DesktopRig rig;
    QWidget home;
    home.setWindowTitle(QStringLiteral("Workspace of the test"));
    home.setGeometry(300, 350, 600, 300);
    home.show();
    rig.cat.homeWindow = [&home] { return &home; };
    const QString id = QString::number(home.winId());
    auto standsOnHome = [&] {
        const CompanionBrain &b = rig.cat.brain();
        return b.pose.state != CompanionState::jump && b.support.kind == CompanionBrain::Support::Kind::ledge &&
               b.support.ledge.windowNumber == int(home.winId());
    };
    // A second desktop where the window manager keeps desktops (twm keeps none).
    const int desktops = desktopCount();
    auto setDesktops = [](int n) {
        runTool(QStringLiteral("xdotool"), {QStringLiteral("set_num_desktops"), QString::number(n)});
    };
    if (desktops == 1)
        setDesktops(2);
    const bool twoDesktops = desktops >= 2 || (desktops == 1 && rig.frameUntil([] { return desktopCount() >= 2; }));
    const std::shared_ptr<void> restore(nullptr, [&](void *) {
        if (desktops == 1)
            setDesktops(1);
    });

    struct Way {
        const char *what;
        std::function<void()> away, back;
    };
    const Way ways[] = {
        // Minimised through the window manager, as its title bar button does.
        {"minimised", [&] { xdotool({"windowminimize", id}); }, [&] { home.showNormal(); }},
        {"moved to another desktop", [&] { xdotool({"set_desktop_for_window", id, "1"}); },
         [&] { xdotool({"set_desktop_for_window", id, "0"}); }},
    };
    for (const Way &way : ways) {
        SCOPED_TRACE(way.what);
        if (!twoDesktops && &way != &ways[0])
            continue;
        // The cat goes home by itself.
        ASSERT_TRUE(rig.frameUntil([&] { return rig.cat.homeLedge().has_value(); }));
        ASSERT_TRUE(rig.frameUntil(standsOnHome)) << "at " << rig.cat.brain().pose.position.x() << ", "
                                                  << rig.cat.brain().pose.position.y();
        way.away();
        ASSERT_TRUE(rig.frameUntil([&] { return !rig.cat.homeLedge(); })) << "a window not on screen is no home";
        ASSERT_TRUE(rig.frameUntil([&] {
            return rig.cat.brain().support.kind == CompanionBrain::Support::Kind::floor &&
                   rig.cat.brain().pose.state == CompanionState::idle;
        }));
        // Ten virtual seconds on, it has not gone back to where the window was.
        for (int frame = 0; frame < 300; ++frame) {
            rig.clock.advance(34ms);
            QCoreApplication::processEvents();
            ASSERT_FALSE(standsOnHome()) << "frame " << frame;
        }
        way.back();
    }
}

TEST(DesktopCatTwoScreens, TheCatsWindowGoesWithItOnEitherScreen)
{
    if (qgetenv("ZK_TEST_TWO_SCREENS") != "1")
        GTEST_SKIP() << "runs in the two-screen session";
    DesktopRig rig;
    // One window, on the left screen where the cat starts.
    ASSERT_EQ(rig.cat.panels().size(), 1u);
    ASSERT_TRUE(rig.frameUntil([&] { return rig.cat.panels()[0]->frame().scene.catShown; }));
    EXPECT_TRUE(rig.cat.panels()[0]->placement().contains(rig.catMiddle()));
    EXPECT_LT(rig.cat.panels()[0]->placement().right(), 1280);

    // Put on the right screen, the cat stands on that screen's floor (768 high, so 32 up).
    rig.cat.brain().pose.position = QPointF(1800, 300);
    rig.cat.brain().support = CompanionBrain::Support::nothing();
    ASSERT_TRUE(rig.frameUntil([&] { return rig.cat.brain().support.kind == CompanionBrain::Support::Kind::floor; }));
    EXPECT_EQ(rig.cat.brain().pose.position.y(), 32);
    ASSERT_TRUE(rig.frameUntil([&] { return rig.cat.panels()[0]->screen().frame.left() == 1280; }));
    CompanionPanel *window = rig.cat.panels()[0];
    ASSERT_TRUE(rig.frameUntil([&] { return window->frame().scene.catShown; }));
    const QPointF feet = window->frame().scene.local;
    EXPECT_DOUBLE_EQ(feet.x(), 1800 - 1280);
    EXPECT_DOUBLE_EQ(feet.y(), 768);
    EXPECT_TRUE(window->placement().contains(rig.catMiddle())) << "the window is over the cat";
    EXPECT_GE(window->placement().left(), 1280) << "on the right screen";
    // And where the X server put it.
    EXPECT_EQ(rig.other.frame(xcb_window_t(window->winId())), window->placement());
}

// The lowest row of the cat window's solid pixels, in root pixels; empty while it shows nothing.
QRect drawnFeet(const CompanionPanel &panel)
{
    const QImage image = QGuiApplication::primaryScreen()->grabWindow(panel.winId()).toImage().convertToFormat(
        QImage::Format_ARGB32);
    for (int y = image.height() - 1; y >= 0; --y) {
        QRect row;
        for (int x = 0; x < image.width(); ++x) {
            // Solid, and not the black of a window with nothing drawn yet.
            if (qAlpha(image.pixel(x, y)) >= 250 && qGray(image.pixel(x, y)) > 24)
                row |= QRect(x, y, 1, 1);
        }
        if (!row.isEmpty())
            return row.translated(panel.placement().topLeft());
    }
    return {};
}

// Where the cat went, it stays frame after frame, its window on the screen
// whose root columns start at `screen` (the left one at 0, the right one at
// 1280, to 2304) and its drawn feet on the root row `top`, within `left` to `right`.
void staysOnScreen(DesktopRig &rig, int screen, const std::function<bool()> &stands,
                   const std::function<std::string()> &where, int top, int left, int right, int slack)
{
    for (int frame = 0; frame < 90; ++frame) {
        rig.clock.advance(34ms);
        QCoreApplication::processEvents();
        ASSERT_TRUE(stands()) << "frame " << frame << ": " << where();
    }
    CompanionPanel *panel = rig.cat.panels().front();
    EXPECT_EQ(panel->screen().frame.left(), screen);
    QRect feet;
    ASSERT_TRUE(rig.frameUntil([&] {
        feet = drawnFeet(*panel);
        return !feet.isEmpty() && std::abs(feet.bottom() + 1 - top) <= slack;
    })) << "feet drawn at row " << feet.bottom() << ", the top at " << top;
    EXPECT_GE(feet.left(), std::max(left, screen));
    EXPECT_LE(feet.right(), std::min(right, screen ? 2303 : 1279));
}

// One of this application's own windows in front of another application's
// (a window, or a panel kept above others as the ask panel is) hides the
// middle of that window's top edge, as another window does, and is no ledge
// itself: let fall over it, the cat passes the hidden edge by and lands on the
// floor, never drawn standing in the air over our window.
TEST(DesktopCat, OurOwnWindowHidesTheEdgesBehindItAndIsNoLedge)
{
    for (const bool panel : {false, true}) [&] {
        SCOPED_TRACE(panel ? "a panel kept above" : "a window");
        DesktopRig rig;
        const xcb_window_t back = rig.other.open("Plan", QRect(200, 300, 800, 300));
        ASSERT_TRUE(rig.ledgesUntil(back, "one ledge of the back window", [](const auto &l) { return l.size() == 1; }));
        const std::unique_ptr<QWidget> ours =
            panel ? std::make_unique<FloatingPanel>(QSize(240, 300), false) : std::make_unique<QWidget>();
        ours->setGeometry(450, 200, 240, 300);
        ours->show();
        ASSERT_TRUE(rig.frameUntil([&] { return ours->windowHandle()->isExposed(); }));
        const int reads = rig.cat.topologyReads();
        ASSERT_TRUE(rig.frameUntil([&] { return rig.cat.topologyReads() > reads + 2; }));
        const QRect f = rig.other.frame(xcb_window_t(ours->winId())), b = rig.other.frame(back);

        rig.cat.brain().pose.position = QPointF(f.center().x(), rig.screenHeight - f.top() + 20);
        rig.cat.brain().support = CompanionBrain::Support::nothing();
        QRect feet;
        EXPECT_TRUE(rig.frameUntil([&] {
            feet = drawnFeet(*rig.cat.panels().front());
            const bool down = rig.cat.brain().pose.state != CompanionState::fall;
            return down && std::abs(feet.bottom() + 1 - int(rig.screenHeight)) <= 2;
        })) << "feet drawn at row " << feet.bottom() << ", the hidden edge at " << b.top() << ", our window at "
            << zktest::rectText(f);
        const std::vector<Ledge> pieces = rig.ledgesOf(back);
        ASSERT_EQ(pieces.size(), 2u) << rig.describe(back);
        EXPECT_EQ(pieces[0].maxX, f.left());
        EXPECT_EQ(pieces[1].minX, f.left() + f.width());
        EXPECT_TRUE(rig.ledgesOf(xcb_window_t(ours->winId())).empty());
    }();
}

TEST(DesktopCatTwoScreens, AWindowMovedToTheOtherScreenTakesTheCatStandingOnItAlong)
{
    if (qgetenv("ZK_TEST_TWO_SCREENS") != "1")
        GTEST_SKIP() << "runs in the two-screen session";
    // Each row to its end, also when the other fails.
    for (const bool isHome : {false, true}) [&] {
        SCOPED_TRACE(isHome ? "the workspace window" : "another application's window");
        DesktopRig rig;
        QWidget home;
        xcb_window_t w = 0;
        if (isHome) {
            home.setGeometry(700, 350, 500, 250);
            home.show();
            rig.cat.homeWindow = [&home] { return &home; };
            w = xcb_window_t(home.winId());
        } else {
            w = rig.other.open("Notes", QRect(700, 350, 500, 250));
            const std::optional<Ledge> ledge = rig.placedLedge(w, QPoint(700, 350));
            ASSERT_TRUE(ledge);
            rig.cat.request(CompanionGoal::visit(*ledge));
        }
        auto standsOnTop = [&](bool rightScreen) {
            const CompanionBrain &b = rig.cat.brain();
            return b.pose.state != CompanionState::jump && b.pose.state != CompanionState::fall &&
                   b.support.kind == CompanionBrain::Support::Kind::ledge && b.support.ledge.windowNumber == int(w) &&
                   b.pose.position.y() == rig.screenHeight - rig.other.frame(w).y() &&
                   (b.pose.position.x() > 1280) == rightScreen;
        };
        ASSERT_TRUE(rig.frameUntil([&] { return standsOnTop(false); })) << rig.describe(w);

        // The workspace window wholly onto the right screen; the other one mostly
        // past that screen's far edge, and the cat's place on it with it.
        xdotool({"windowmove", QString::number(w), isHome ? "1500" : "2200", "300"});
        const auto where = [&] {
            const QPointF p = rig.cat.brain().pose.position;
            return "the cat at " + std::to_string(p.x()) + ", " + std::to_string(p.y()) + "; " + rig.describe(w);
        };
        ASSERT_TRUE(rig.frameUntil([&] { return standsOnTop(true); })) << where();
        // And there it stays, on the window's top edge.
        const QRect moved = rig.other.frame(w);
        staysOnScreen(rig, 1280, [&] { return standsOnTop(true); }, where, moved.top(), moved.left(), moved.right(), 3);
    }();
}

// The focus timer dragged to the other screen, or the ask panel shown there,
// with the cat sitting on it: the cat goes along, as with a window it stands on.
TEST(DesktopCatTwoScreens, APanelTheCatSitsOnTakesItToTheOtherScreen)
{
    if (qgetenv("ZK_TEST_TWO_SCREENS") != "1")
        GTEST_SKIP() << "runs in the two-screen session";
    for (const bool isNest : {true, false}) [&] {
        SCOPED_TRACE(isNest ? "the focus timer's nest" : "the ask panel's perch");
        DesktopRig rig;
        const auto lend = [&](const Ledge &ledge) {
            (isNest ? rig.cat.nestLedge : rig.cat.perchLedge) = ledge;
            rig.cat.holdStandingGoal();
        };
        const auto sits = [&](const Ledge &on) {
            const CompanionBrain &b = rig.cat.brain();
            const auto kind = isNest ? CompanionBrain::Support::Kind::nest : CompanionBrain::Support::Kind::perch;
            return b.support.kind == kind && b.pose.state != CompanionState::jump &&
                   b.pose.state != CompanionState::fall && b.pose.position.y() == on.y && on.minX <= b.pose.position.x() &&
                   b.pose.position.x() <= on.maxX;
        };
        const Ledge left{600, 900, 300, -1, std::nullopt}, right{1700, 2000, 300, -1, std::nullopt};
        lend(left);
        ASSERT_TRUE(rig.frameUntil([&] { return sits(left); }));
        lend(right);
        const auto where = [&] {
            const QPointF p = rig.cat.brain().pose.position;
            return "the cat at " + std::to_string(p.x()) + ", " + std::to_string(p.y());
        };
        ASSERT_TRUE(rig.frameUntil([&] { return sits(right); })) << where();
        // The panel's top is 300 up from the bottom of the 800-high left screen;
        // a perched cat's paws hang a little over its edge.
        staysOnScreen(rig, 1280, [&] { return sits(right); }, where, int(rig.screenHeight - right.y), 1700, 2000, 6);
    }();
}

// The cat on the right screen's floor (32 up), lent the focus timer's nest on
// the left one lower than that floor: it hops across the seam once and lies
// there, not hopping in place at its screen's edge.
TEST(DesktopCatTwoScreens, ANestOnTheOtherScreenIsReachedAcrossTheSeam)
{
    if (qgetenv("ZK_TEST_TWO_SCREENS") != "1")
        GTEST_SKIP() << "runs in the two-screen session";
    DesktopRig rig;
    rig.cat.brain().pose.position = QPointF(1800, 300);
    rig.cat.brain().support = CompanionBrain::Support::nothing();
    ASSERT_TRUE(rig.frameUntil([&] { return rig.cat.brain().support.kind == CompanionBrain::Support::Kind::floor; }));
    const Ledge nest{846, 1016, 2, -1, std::nullopt};
    rig.cat.nestLedge = nest;
    rig.cat.holdStandingGoal();
    const auto lies = [&] {
        const QPointF p = rig.cat.brain().pose.position;
        return rig.cat.brain().pose.state == CompanionState::nest && p.y() == nest.y && p.x() >= nest.minX &&
               p.x() <= nest.maxX;
    };
    int hops = 0;
    bool jumping = false;
    const auto where = [&] {
        const QPointF p = rig.cat.brain().pose.position;
        return std::to_string(hops) + " hops, the cat at " + std::to_string(p.x()) + ", " + std::to_string(p.y());
    };
    ASSERT_TRUE(rig.frameUntil([&] {
        hops += !jumping && rig.cat.brain().pose.state == CompanionState::jump;
        jumping = rig.cat.brain().pose.state == CompanionState::jump;
        return lies() || hops > 3;
    }) && lies()) << where();
    EXPECT_EQ(hops, 1);
    staysOnScreen(rig, 0, lies, where, int(rig.screenHeight - nest.y), int(nest.minX), int(nest.maxX), 6);
}

TEST(DesktopCatWithoutWindowManager, NoWindowTopIsALedgeAndTheCatLivesOnTheScreensBottom)
{
    if (qgetenv("ZK_TEST_NO_WM") != "1")
        GTEST_SKIP() << "runs in the session without a window manager";
    DesktopRig rig;
    const xcb_window_t w = rig.other.open("Alone", QRect(300, 300, 500, 300));
    ASSERT_TRUE(rig.frameUntil([&] { return rig.other.frame(w).isValid(); }));
    const int reads = rig.cat.topologyReads();
    ASSERT_TRUE(rig.frameUntil([&] { return rig.cat.topologyReads() >= reads + 3; }));
    EXPECT_TRUE(rig.cat.ledges().empty());
    EXPECT_EQ(rig.cat.brain().support.kind, CompanionBrain::Support::Kind::floor);
    EXPECT_EQ(rig.cat.brain().pose.position.y(), 0);
}
