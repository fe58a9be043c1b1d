// The floating panel on a real X server with a window manager: what the window
// manager is told, who gets the keyboard, and moving it by its background.
#include <gtest/gtest.h>

#include "app/FlowTestSupport.h"
#include "ask/AskPanelController.h"
#include "design/FloatingPanel.h"
#include "platform/X11.h"
#include "shell/FocusTimerController.h"
#include "support/TestSupport.h"
#include "support/X11TestSupport.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProcess>
#include <QScreen>
#include <QUuid>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>

using namespace zktest;

namespace {

// The window's map state on the X server.
uint8_t mapState(xcb_window_t w)
{
    xcb_connection_t *c = X11::connection();
    xcb_get_window_attributes_reply_t *r = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
    const uint8_t state = r ? r->map_state : uint8_t(XCB_MAP_STATE_UNMAPPED);
    std::free(r);
    return state;
}

// Counts the exposures the toolkit hands a window that leave it exposed.
struct ExposuresSeen final : QObject {
    QWindow *window;
    int exposed = 0;
    explicit ExposuresSeen(QWindow *w) : window(w) { w->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && window->isExposed())
            ++exposed;
        return false;
    }
};

} // namespace

TEST(FloatingPanelX11, FloatsOnEveryDesktopAboveOthersAndOutOfTheTaskbar)
{
    FloatingPanel panel(QSize(148, 88), false);
    EXPECT_EQ(panel.size(), QSize(148, 88));
    EXPECT_TRUE(panel.windowFlags() & Qt::Tool);
    EXPECT_TRUE(panel.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(panel.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(panel.testAttribute(Qt::WA_TranslucentBackground));
    panel.move(600, 500);
    panel.show();
    const xcb_window_t w = xcb_window_t(panel.winId());
    // The window manager writes the states it applied; "on every desktop" is the
    // desktop number meaning all of them (openbox keeps no sticky state).
    ASSERT_TRUE(zktest::spinUntil([&] {
        const auto states = property32(w, "_NET_WM_STATE");
        return contains(states, atom("_NET_WM_STATE_SKIP_TASKBAR")) &&
               contains(states, atom("_NET_WM_STATE_SKIP_PAGER")) && contains(states, atom("_NET_WM_STATE_ABOVE"));
    })) << "states: " << atomNames(property32(w, "_NET_WM_STATE")).toStdString();
    EXPECT_EQ(property32(w, "_NET_WM_DESKTOP"), std::vector<uint32_t>{0xFFFFFFFF});

    // Hidden and shown again at once: the window manager drops the states of a
    // withdrawn window, possibly after the new ones were written; they are
    // asked for again, and hold once it has mapped the panel anew.
    const auto floating = [&] {
        const auto states = property32(w, "_NET_WM_STATE");
        return mapState(w) == XCB_MAP_STATE_VIEWABLE && contains(states, atom("_NET_WM_STATE_SKIP_TASKBAR")) &&
               contains(states, atom("_NET_WM_STATE_ABOVE")) &&
               property32(w, "_NET_WM_DESKTOP") == std::vector<uint32_t>{0xFFFFFFFF};
    };
    panel.hide();
    panel.show();
    EXPECT_TRUE(zktest::spinUntil(floating));

    // Again, with the window manager slow to follow: shown once more, the panel
    // is mapped by the window manager while this process handles nothing, so
    // the exposure of that map is still queued when the panel is hidden and
    // shown at once. The toolkit hands it over after the new show, while the
    // window manager has not yet withdrawn the window (it then drops every
    // state written), let alone managed the new map. The states are asked for
    // once the window manager has mapped the panel anew.
    const pid_t wm = pid_t(qEnvironmentVariableIntValue("ZK_XSESSION_WM_PID"));
    ASSERT_GT(wm, 0) << "the rig names its window manager";
    panel.hide();
    panel.show();
    ASSERT_TRUE(zktest::untilOnServer([&] { return mapState(w) == XCB_MAP_STATE_VIEWABLE; }));
    ExposuresSeen exposures(panel.windowHandle());
    ASSERT_TRUE(zktest::stopWindowManager(wm)) << "the window manager kept the server grabbed";
    panel.hide();
    panel.show();
    const bool staleExposure = zktest::spinUntil([&] { return exposures.exposed > 0; }, std::chrono::seconds(10));
    ::kill(wm, SIGCONT);
    ASSERT_TRUE(staleExposure) << "the earlier map's exposure was handed over";
    ASSERT_TRUE(zktest::spinUntil(floating)) << "states: " << atomNames(property32(w, "_NET_WM_STATE")).toStdString();

    // Hidden and shown twice in quick succession, the window manager can take
    // the steps in an order that loses the last map (it lets the shown panel
    // go) or maps a hidden one. Either end is set right once it is done: here
    // another client withdraws the shown panel, then maps the hidden one.
    X11::withdraw(w);
    ASSERT_TRUE(zktest::untilOnServer([&] { return X11::withdrawnOnServer(w); }));
    EXPECT_TRUE(zktest::spinUntil(floating)) << "states: " << atomNames(property32(w, "_NET_WM_STATE")).toStdString();
    panel.hide();
    ASSERT_TRUE(zktest::untilOnServer([&] { return X11::withdrawnOnServer(w); }));
    X11::map(w);
    ASSERT_TRUE(zktest::untilOnServer([&] { return mapState(w) == XCB_MAP_STATE_VIEWABLE; }));
    EXPECT_TRUE(zktest::spinUntil([&] { return X11::withdrawnOnServer(w); }));
}

TEST(FloatingPanelX11, APanelThatDoesNotAllowKeyNeverTakesTheKeyboard)
{
    Typist typist;
    ASSERT_TRUE(zktest::spinUntil([&] { return typist.active(); }));
    FloatingPanel panel(QSize(148, 88), false);
    panel.move(700, 500);
    panel.show();
    ASSERT_TRUE(zktest::spinUntil([&] { return panel.windowHandle()->isExposed(); }));
    QSignalSpy clicked(&panel, &FloatingPanel::backgroundClicked);
    pointAt(QPoint(770, 540));
    xdotool({"click", "1"});
    ASSERT_TRUE(zktest::spinUntil([&] { return clicked.count() == 1; }));
    EXPECT_TRUE(typist.active());
    // Typing still reaches the window that had the keyboard.
    xdotool({"type", "ab"});
    EXPECT_TRUE(zktest::spinUntil([&] { return typist.field->text() == QStringLiteral("ab"); }));
    EXPECT_FALSE(panel.isActiveWindow());
}

TEST(FloatingPanelX11, APanelThatAllowsKeyTakesTheKeyboardWhenClickedOnly)
{
    Typist typist;
    ASSERT_TRUE(zktest::spinUntil([&] { return typist.active(); }));
    FloatingPanel panel(QSize(300, 120), true);
    auto *content = new QWidget;
    auto *layout = new QVBoxLayout(content);
    auto *field = new QLineEdit;
    layout->addWidget(field);
    panel.setContentView(content);
    panel.move(600, 450);
    panel.show();
    ASSERT_TRUE(zktest::spinUntil([&] { return panel.windowHandle()->isExposed(); }));
    // Shown without activating.
    QApplication::processEvents();
    EXPECT_TRUE(typist.active());

    // From the panel's own frame: the window's idea of its place may lag behind the map.
    const QPoint inField = panel.pos() + field->mapTo(&panel, field->rect().center());
    pointAt(inField);
    xdotool({"click", "1"});
    ASSERT_TRUE(zktest::spinUntil([&] { return panel.isActiveWindow(); }));
    field->setFocus();
    xdotool({"type", "cat"});
    EXPECT_TRUE(zktest::spinUntil([&] { return field->text() == QStringLiteral("cat"); }));
    EXPECT_TRUE(typist.field->text().isEmpty());
}

TEST(FloatingPanelX11, DraggingTheBackgroundMovesThePanelAndReportsEachFrame)
{
    FloatingPanel panel(QSize(148, 88), false);
    panel.move(500, 400);
    panel.show();
    ASSERT_TRUE(zktest::spinUntil([&] { return panel.windowHandle()->isExposed() && panel.pos() == QPoint(500, 400); }));
    QSignalSpy frames(&panel, &FloatingPanel::frameChanged);
    QSignalSpy clicked(&panel, &FloatingPanel::backgroundClicked);
    pointAt(QPoint(520, 420));
    xdotool({"mousedown", "1"});
    for (int i = 1; i <= 5; ++i) {
        pointAt(QPoint(520 - 20 * i, 420 - 10 * i));
        ASSERT_TRUE(zktest::spinUntil([&] { return panel.pos() == QPoint(500 - 20 * i, 400 - 10 * i); }))
            << "step " << i << ": " << panel.pos().x() << "," << panel.pos().y();
    }
    xdotool({"mouseup", "1"});
    EXPECT_TRUE(zktest::spinUntil([&] { return !panel.dragging(); })) << "the drag ends with the release";
    EXPECT_GE(frames.count(), 5) << "each step of the drag is reported";
    EXPECT_EQ(clicked.count(), 0) << "a drag is not a click";

    // Hidden under the hand in the middle of a drag (a focus round that ends),
    // the drag ends with it: shown again, the panel's moves are not the hand's.
    // The press must land on the panel where the server has it, not only where
    // the toolkit asked for it (the window manager may still be moving it).
    ASSERT_TRUE(zktest::spinUntil([&] { return X11::rootPosition(unsigned(panel.winId())) == QPoint(400, 350); }));
    xdotool({"mousedown", "1"});
    pointAt(QPoint(400, 360));
    ASSERT_TRUE(zktest::spinUntil([&] { return panel.dragging(); }));
    panel.hide();
    EXPECT_FALSE(panel.dragging());
    xdotool({"mouseup", "1"});
    panel.show();
    ASSERT_TRUE(zktest::spinUntil([&] { return panel.windowHandle()->isExposed(); }));
    QApplication::processEvents();
    EXPECT_FALSE(panel.dragging());
    EXPECT_EQ(clicked.count(), 0);
}

namespace {

// The desktop's colour where nothing of ours lies.
const QColor kDesktop(0x3a, 0x6e, 0xa5);

// Whether the X server has the window cut to a shape of its own.
bool cutOnServer(const QWidget *panel)
{
    xcb_connection_t *c = X11::connection();
    xcb_shape_query_extents_reply_t *r =
        xcb_shape_query_extents_reply(c, xcb_shape_query_extents(c, xcb_window_t(panel->winId())), nullptr);
    const bool cut = r && r->bounding_shaped;
    std::free(r);
    return cut;
}

// What the X server shows wrong at the panel's corners: outside its rounded
// card of `radius`, at the corner pixel and on the diagonal, the desktop;
// inside it, the card's light face. Empty once all is right.
std::string cornersWrong(const QWidget *panel, int radius)
{
    const QRect frame = serverFrame(panel);
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0, frame.x(), frame.y(), frame.width(),
                                                                      frame.height()).toImage();
    // Where the arc crosses the diagonal, in from the corner.
    const double arc = radius - radius / std::sqrt(2.0);
    std::string wrong;
    for (const QPoint corner : {QPoint(0, 0), QPoint(frame.width() - 1, 0), QPoint(0, frame.height() - 1),
                                QPoint(frame.width() - 1, frame.height() - 1)}) {
        const QPoint inward(corner.x() == 0 ? 1 : -1, corner.y() == 0 ? 1 : -1);
        for (const int in : {0, int(arc * 0.6), int(std::ceil(arc)) + 3}) {
            const QPoint at = corner + inward * in;
            const QColor seen = shot.pixelColor(at);
            if (in > arc ? qGray(seen.rgb()) <= 0xB0 : seen != kDesktop)
                wrong += QStringLiteral("%1,%2 is %3; ").arg(at.x()).arg(at.y()).arg(seen.name()).toStdString();
        }
    }
    return wrong;
}

} // namespace

// Without a compositing manager nothing of a window blends with what lies
// beneath: the transparent corners of the ask panel and of the focus timer
// would show black. Each is cut to its rounded card there, as long as no
// compositing manager runs.
TEST(FloatingPanelWithoutCompositor, TheAskPanelAndTheFocusTimerAreCutToTheirRoundedCards)
{
    if (X11::compositorRunning())
        GTEST_SKIP() << "runs in a session without a compositing manager";
    ASSERT_EQ(runTool(QStringLiteral("xsetroot"), {"-solid", kDesktop.name()}), 0);
    flowtest::Flows flows;
    AppModel &model = flows.model();
    model.startFocus(25);
    FocusTimerController timer(model);
    AskPanelController ask(model);
    const auto cut = [](const QWidget *panel, int radius) {
        const bool shown = spinUntil([&] {
            return panel->windowHandle()->isExposed() && serverFrame(panel).size() == panel->size() &&
                   cornersWrong(panel, radius).empty();
        }, std::chrono::seconds(10));
        EXPECT_TRUE(shown) << panel->windowTitle().toStdString() << ": " << cornersWrong(panel, radius);
    };
    pointAt(QPoint(640, 300));
    ask.show(false);
    timer.show(false);
    cut(ask.panel(), 28);
    cut(timer.panel(), 26);
    // The compact clock, and the ask panel grown by a line of the conversation.
    timer.hide();
    timer.show(true);
    ASSERT_TRUE(spinUntil([&] { return timer.panel()->width() == 86; }));
    cut(timer.panel(), 15);
    const int before = ask.panel()->height();
    model.setCatChat({CatChatLine{QUuid::createUuid(), true, QStringLiteral("How are you?"), CatLook::neutral, {}}});
    ASSERT_TRUE(spinUntil([&] { return ask.panel()->height() != before; }));
    cut(ask.panel(), 28);

    // A compositing manager blends the whole window, its soft corners included;
    // once it quits, the panels are cut again.
    QProcess compositor;
    compositor.start(QStringLiteral("xcompmgr"), {});
    ASSERT_TRUE(compositor.waitForStarted());
    EXPECT_TRUE(spinUntil([&] { return !cutOnServer(ask.panel()) && !cutOnServer(timer.panel()); }));
    compositor.terminate();
    ASSERT_TRUE(compositor.waitForFinished(5000));
    EXPECT_TRUE(spinUntil([&] { return cutOnServer(ask.panel()) && cutOnServer(timer.panel()); }));
    cut(timer.panel(), 15);
    ask.hide();
    timer.hide();
}
