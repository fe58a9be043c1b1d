// The desktop cat on a real X server under openbox and xcompmgr, with windows
// of a second connection standing in for other applications. Frames run on a
// virtual clock that the test steps; the windows, pointer and clicks are real.
#include <gtest/gtest.h>

#include "base/Clock.h"
#include "companion/CompanionController.h"
#include "companion/CompanionPanel.h"
#include "platform/X11.h"
#include "platform/X11WindowList.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QProcess>
#include <QScreen>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

using namespace std::chrono_literals;

// Another application's client: bare windows that report their clicks.
class OtherApp {
public:
    OtherApp() : m_c(xcb_connect(nullptr, nullptr)) { m_screen = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data; }
    ~OtherApp() { xcb_disconnect(m_c); }

    xcb_window_t open(const char *title, QRect geometry)
    {
        const xcb_window_t w = xcb_generate_id(m_c);
        const uint32_t values[] = {m_screen->white_pixel, XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        xcb_create_window(m_c, XCB_COPY_FROM_PARENT, w, m_screen->root, int16_t(geometry.x()), int16_t(geometry.y()),
                          uint16_t(geometry.width()), uint16_t(geometry.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          m_screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            uint32_t(std::strlen(title)), title);
        // Openbox honours a program-specified position.
        uint32_t hints[18] = {};
        hints[0] = 1 | 4; // USPosition | PPosition
        hints[1] = uint32_t(geometry.x());
        hints[2] = uint32_t(geometry.y());
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32, 18,
                            hints);
        xcb_map_window(m_c, w);
        xcb_flush(m_c);
        m_open.push_back(w);
        return w;
    }

    // Closes this case's windows and waits until the window manager has let them
    // go. One connection serves every case: a new one could be handed the same
    // window ids while the window manager still remembers the closed windows.
    void closeAll()
    {
        for (xcb_window_t w : m_open)
            xcb_destroy_window(m_c, w);
        xcb_flush(m_c);
        zktest::spinUntil([&] {
            for (const X11::ClientWindow &w : X11::readClientWindows()) {
                if (std::find(m_open.begin(), m_open.end(), w.id) != m_open.end())
                    return false;
            }
            return true;
        });
        m_open.clear();
        m_presses.clear();
    }

    // Asks the window manager to put the window in front of the others (openbox
    // may map a window that did not take focus below the focused one).
    void raise(xcb_window_t w)
    {
        const uint32_t values[] = {XCB_STACK_MODE_ABOVE};
        xcb_configure_window(m_c, w, XCB_CONFIG_WINDOW_STACK_MODE, values);
        xcb_flush(m_c);
    }

    void move(xcb_window_t w, QPoint to)
    {
        const uint32_t values[] = {uint32_t(to.x()), uint32_t(to.y())};
        xcb_configure_window(m_c, w, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
        xcb_flush(m_c);
    }

    // The window with its decorations, in root pixels: the outermost ancestor below the root.
    QRect frame(xcb_window_t w)
    {
        xcb_window_t top = w;
        for (;;) {
            xcb_query_tree_reply_t *tree = xcb_query_tree_reply(m_c, xcb_query_tree(m_c, top), nullptr);
            if (!tree)
                return {};
            const xcb_window_t parent = tree->parent, root = tree->root;
            std::free(tree);
            if (parent == root || parent == XCB_NONE)
                break;
            top = parent;
        }
        xcb_get_geometry_reply_t *g = xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, top), nullptr);
        if (!g)
            return {};
        const QRect r(g->x, g->y, g->width + 2 * g->border_width, g->height + 2 * g->border_width);
        std::free(g);
        return r;
    }

    // Button presses each window has had so far.
    int presses(xcb_window_t w)
    {
        while (xcb_generic_event_t *e = xcb_poll_for_event(m_c)) {
            if ((e->response_type & 0x7f) == XCB_BUTTON_PRESS)
                ++m_presses[reinterpret_cast<xcb_button_press_event_t *>(e)->event];
            std::free(e);
        }
        return m_presses[w];
    }

private:
    xcb_connection_t *m_c;
    xcb_screen_t *m_screen;
    std::map<xcb_window_t, int> m_presses;
    std::vector<xcb_window_t> m_open;
};

void xdotool(const QStringList &args) { ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), args), 0) << args.join(' ').toStdString(); }

OtherApp &otherApp()
{
    static OtherApp app;
    return app;
}

struct DesktopRig {
    FakeClock clock;
    CompanionController cat{clock};
    OtherApp &other = otherApp();
    double screenHeight = QGuiApplication::primaryScreen()->geometry().height();

    DesktopRig()
    {
        cat.hour = [] { return 12; };
        cat.start();
    }
    ~DesktopRig() { other.closeAll(); }
    // Steps frames until `done`, the real X server answering in between.
    bool frameUntil(const std::function<bool()> &done)
    {
        return zktest::spinUntil([&] {
            clock.advance(34ms);
            return done();
        });
    }
    // Opens a window and steps frames until the window manager has framed it
    // where it was asked to be and the cat's ledges of it lie on that frame's
    // top. A window shows first undecorated at the screen's corner, and the
    // window list settles after the window: neither is to be looked at earlier.
    xcb_window_t openPlaced(const char *title, QRect geometry)
    {
        const xcb_window_t w = other.open(title, geometry);
        const bool placed = frameUntil([&] {
            const QRect f = other.frame(w);
            const std::vector<Ledge> ledges = ledgesOf(w);
            return f.topLeft() == geometry.topLeft() && f.height() > geometry.height() && !ledges.empty() &&
                   std::all_of(ledges.begin(), ledges.end(), [&](const Ledge &l) {
                       return l.y == screenHeight - f.y() && l.minX >= f.x() && l.maxX <= f.x() + f.width();
                   });
        });
        EXPECT_TRUE(placed) << title << " was not framed where it was asked, or its ledges never followed";
        return w;
    }
    std::vector<Ledge> ledgesOf(xcb_window_t w) const
    {
        std::vector<Ledge> out;
        for (const Ledge &l : cat.ledges()) {
            if (l.windowNumber == int(w))
                out.push_back(l);
        }
        return out;
    }
    // The cat's middle in root pixels.
    QPoint catMiddle() const
    {
        const QPointF p = cat.brain().pose.position;
        return QPoint(int(std::lround(p.x())), int(std::lround(screenHeight - p.y() - 31)));
    }
    void pointAt(QPoint p)
    {
        xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())});
    }
};

} // namespace

TEST(DesktopCat, LandsOnAWindowsTopEdgeAndRidesAlongWhenItMoves)
{
    ASSERT_TRUE(X11::available());
    DesktopRig rig;
    const xcb_window_t w = rig.openPlaced("Notes", QRect(300, 300, 500, 300));
    ASSERT_FALSE(::testing::Test::HasFailure());
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

    rig.other.move(w, QPoint(400, 250));
    ASSERT_TRUE(rig.frameUntil([&] { return rig.other.frame(w).x() == frame.x() + 100; }));
    const double top = rig.screenHeight - rig.other.frame(w).y();
    EXPECT_GT(top, ledge.y);
    ASSERT_TRUE(rig.frameUntil([&] { return rig.cat.brain().pose.position.y() == top; }));
    EXPECT_NEAR(rig.cat.brain().pose.position.x(), x + 100, 0.01);
    EXPECT_EQ(rig.cat.brain().support.kind, CompanionBrain::Support::Kind::ledge);
}

TEST(DesktopCat, AWindowPlacedInFrontCutsTheLedge)
{
    DesktopRig rig;
    const xcb_window_t back = rig.openPlaced("Plan", QRect(200, 300, 800, 300));
    ASSERT_EQ(rig.ledgesOf(back).size(), 1u);
    const xcb_window_t front = rig.openPlaced("Inbox", QRect(450, 200, 200, 300));
    ASSERT_FALSE(::testing::Test::HasFailure());
    rig.other.raise(front);
    ASSERT_TRUE(rig.frameUntil([&] { return rig.ledgesOf(back).size() == 2; })) << [&] {
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

TEST(DesktopCat, ClicksReachTheWindowBeneathExceptOnTheCat)
{
    DesktopRig rig;
    // A window under the whole lower half of the screen, where the cat sits on the floor.
    const xcb_window_t under = rig.openPlaced("Under", QRect(0, 400, 1280, 400));
    ASSERT_FALSE(::testing::Test::HasFailure());
    int clicks = 0;
    rig.cat.onClick = [&] { ++clicks; };
    CompanionPanel *panel = rig.cat.panels().front();

    const QPoint cat = rig.catMiddle();
    rig.pointAt(cat + QPoint(-300, 0));
    ASSERT_TRUE(rig.frameUntil([&] { return panel->interactive().empty(); }));
    xdotool({"click", "1"});
    ASSERT_TRUE(zktest::spinUntil([&] { return rig.other.presses(under) == 1; }));

    rig.pointAt(cat);
    ASSERT_TRUE(rig.frameUntil([&] { return !panel->interactive().empty(); }));
    X11::compositorRunning(); // a round trip: the server has the new input shape
    xdotool({"click", "1"});
    ASSERT_TRUE(rig.frameUntil([&] { return clicks == 1; }));
    EXPECT_EQ(rig.other.presses(under), 1) << "the click on the cat stays with the cat";

    // And beside the cat again, the window gets it.
    rig.pointAt(cat + QPoint(0, -120));
    ASSERT_TRUE(rig.frameUntil([&] { return panel->interactive().empty(); }));
    xdotool({"click", "1"});
    ASSERT_TRUE(zktest::spinUntil([&] { return rig.other.presses(under) == 2; }));
    EXPECT_EQ(clicks, 1);
}

TEST(DesktopCat, ADragCarriesTheCatAndTheDropLetsItLandOnAWindow)
{
    DesktopRig rig;
    const xcb_window_t w = rig.openPlaced("Target", QRect(200, 350, 500, 250));
    ASSERT_FALSE(::testing::Test::HasFailure());
    const Ledge ledge = rig.ledgesOf(w).front();
    int clicks = 0;
    rig.cat.onClick = [&] { ++clicks; };
    CompanionPanel *panel = rig.cat.panels().front();

    const QPoint grip = rig.catMiddle();
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
    }));
    xdotool({"mouseup", "1"});
    ASSERT_TRUE(rig.frameUntil([&] { return rig.cat.brain().pose.state != CompanionState::carried; }));
    EXPECT_EQ(rig.cat.brain().pose.position.y(), ledge.y);
    EXPECT_EQ(rig.cat.brain().support.kind, CompanionBrain::Support::Kind::ledge);
    EXPECT_EQ(rig.cat.brain().support.ledge.windowNumber, int(w));
    EXPECT_EQ(clicks, 0);
}

TEST(DesktopCatTwoScreens, EachScreenGetsItsPanelAndTheCatWalksOnEither)
{
    if (qgetenv("ZK_TEST_TWO_SCREENS") != "1")
        GTEST_SKIP() << "runs in the two-screen session";
    DesktopRig rig;
    ASSERT_EQ(rig.cat.panels().size(), 2u);
    EXPECT_EQ(rig.cat.panels()[0]->geometry(), QRect(0, 0, 1280, 800));
    EXPECT_EQ(rig.cat.panels()[1]->geometry(), QRect(1280, 0, 1024, 768));
    ASSERT_TRUE(rig.frameUntil([&] { return rig.cat.panels()[0]->frame().scene.catShown; }));
    EXPECT_FALSE(rig.cat.panels()[1]->frame().scene.catShown);

    // Put on the right screen, the cat stands on that screen's floor (768 high, so 32 up).
    rig.cat.brain().pose.position = QPointF(1800, 300);
    rig.cat.brain().support = CompanionBrain::Support::nothing();
    ASSERT_TRUE(rig.frameUntil([&] { return rig.cat.brain().support.kind == CompanionBrain::Support::Kind::floor; }));
    EXPECT_EQ(rig.cat.brain().pose.position.y(), 32);
    ASSERT_TRUE(rig.frameUntil([&] { return rig.cat.panels()[1]->frame().scene.catShown; }));
    EXPECT_FALSE(rig.cat.panels()[0]->frame().scene.catShown);
    const QPointF feet = rig.cat.panels()[1]->frame().scene.local;
    EXPECT_DOUBLE_EQ(feet.x(), 1800 - 1280);
    EXPECT_DOUBLE_EQ(feet.y(), 768);
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
