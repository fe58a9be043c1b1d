// The workspace window on a real X server with a window manager: made once,
// brought back after closing with its frame, its frame kept between runs, in
// view only while shown, not minimised, on this desktop and not covered, never
// smaller than 960 x 600.

#include "app/FlowTestSupport.h"
#include "support/X11TestSupport.h"

#include "base/DefaultsStore.h"
#include "workspace/WorkspaceRootView.h"
#include "workspace/WorkspaceWindowController.h"

#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>

using namespace flowtest;

namespace {
bool waitFor(const std::function<bool()> &done) { return zktest::spinUntil(done, std::chrono::seconds(20)); }
} // namespace

TEST(WorkspaceWindowX11, MadeOnceAndShownAgainAfterClosing)
{
    Flows flows;
    DefaultsStore frames;
    WorkspaceWindowController controller(&frames);
    int viewChanges = 0;
    controller.onViewChange = [&] { ++viewChanges; };
    EXPECT_EQ(controller.window(), nullptr);
    EXPECT_FALSE(controller.inView());

    controller.show(flows.model(), nullptr);
    QWidget *window = controller.window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(controller.kind(), WorkspaceWindowController::Kind::native);
    EXPECT_NE(window->findChild<WorkspaceRootView *>(), nullptr);
    EXPECT_EQ(window->windowTitle(), "Zephyl");
    ASSERT_TRUE(waitFor([&] { return controller.inView(); }));
    EXPECT_GT(viewChanges, 0);

    // The user can make it no smaller than its minimum.
    window->resize(400, 300);
    EXPECT_TRUE(waitFor([&] { return window->width() >= 960 && window->height() >= 600; }));

    window->setGeometry(120, 140, 1000, 640);
    ASSERT_TRUE(waitFor([&] { return window->size() == QSize(1000, 640); }));
    const QRect frame = window->geometry();
    window->close();
    ASSERT_TRUE(waitFor([&] { return !controller.inView(); }));

    controller.show(flows.model(), nullptr);
    EXPECT_EQ(controller.window(), window);
    ASSERT_TRUE(waitFor([&] { return controller.inView(); }));
    EXPECT_EQ(window->geometry().size(), frame.size());

    // Minimised here: out of view at once, before the window manager has acted
    // (it is held still meanwhile).
    const pid_t wm = pid_t(qEnvironmentVariableIntValue("ZK_XSESSION_WM_PID"));
    ASSERT_GT(wm, 0) << "the rig names its window manager";
    ASSERT_TRUE(zktest::stopWindowManager(wm)) << "the window manager kept the server grabbed";
    window->showMinimized();
    const bool outAtOnce = !controller.inView();
    ::kill(wm, SIGCONT);
    EXPECT_TRUE(outAtOnce);
    // The window manager carries the minimise out, and later the restore, before
    // the next step: one still queued would undo the next step's minimise.
    const auto id = uint32_t(window->winId());
    const auto hiddenOnServer = [&] {
        return zktest::contains(zktest::property32(id, "_NET_WM_STATE"), zktest::atom("_NET_WM_STATE_HIDDEN"));
    };
    ASSERT_TRUE(waitFor([&] { return !controller.inView() && hiddenOnServer(); }));
    controller.show(flows.model(), nullptr);
    ASSERT_TRUE(waitFor([&] { return controller.inView() && !hiddenOnServer(); }));

    // Minimised, or sent to another desktop, by the window manager: out of view
    // as soon as the window manager says so, before this process has heard of it
    // (no event of ours is handled while the server is asked).
    const QString number = QString::number(id);
    zktest::xdotool({QStringLiteral("windowminimize"), number});
    ASSERT_TRUE(zktest::untilOnServer(hiddenOnServer));
    EXPECT_FALSE(controller.inView()) << "minimised by the window manager";
    controller.show(flows.model(), nullptr);
    ASSERT_TRUE(waitFor([&] { return controller.inView() && !hiddenOnServer(); }));

    zktest::xdotool({QStringLiteral("set_num_desktops"), QStringLiteral("2")});
    ASSERT_TRUE(waitFor([] { return zktest::property32(X11::rootWindow(), "_NET_NUMBER_OF_DESKTOPS") == std::vector<uint32_t>{2}; }));
    ASSERT_TRUE(waitFor([&] { return controller.inView(); }));
    zktest::xdotool({QStringLiteral("set_desktop_for_window"), number, QStringLiteral("1")});
    ASSERT_TRUE(zktest::untilOnServer([&] { return zktest::property32(id, "_NET_WM_DESKTOP") == std::vector<uint32_t>{1}; }));
    EXPECT_FALSE(controller.inView()) << "on another desktop";
    zktest::xdotool({QStringLiteral("set_desktop_for_window"), number, QStringLiteral("0")});
    EXPECT_TRUE(waitFor([&] { return controller.inView(); }));
    zktest::xdotool({QStringLiteral("set_num_desktops"), QStringLiteral("1")});

    // Two windows that each cover half of it cover it together; either alone does not.
    const QRect outer = window->frameGeometry();
    QWidget left, right;
    for (QWidget *half : {&left, &right}) {
        half->setWindowFlag(Qt::FramelessWindowHint);
        half->setAutoFillBackground(true);
    }
    left.setGeometry(outer.x() - 10, outer.y() - 10, outer.width() / 2 + 20, outer.height() + 20);
    right.setGeometry(outer.x() + outer.width() / 2 - 10, outer.y() - 10, outer.width() - outer.width() / 2 + 20,
                      outer.height() + 20);
    left.show();
    right.show();
    EXPECT_TRUE(waitFor([&] { return !controller.inView(); })) << "covered by two windows together";
    right.hide();
    EXPECT_TRUE(waitFor([&] { return controller.inView(); })) << "half of it still shows";
}

TEST(WorkspaceWindowX11, AFrameFromAnEarlierRunReplacesTheComputedOne)
{
    Flows flows;
    DefaultsStore frames;
    QRect kept;
    {
        WorkspaceWindowController first(&frames);
        first.show(flows.model(), nullptr);
        ASSERT_TRUE(waitFor([&] { return first.inView(); }));
        first.window()->setGeometry(90, 110, 1020, 660);
        ASSERT_TRUE(waitFor([&] { return first.window()->size() == QSize(1020, 660); }));
        kept = first.window()->geometry();
        first.window()->close();
    }
    ASSERT_TRUE(frames.data(WorkspaceWindowController::frameKey(WorkspaceWindowController::Kind::native)).has_value());
    // The web window keeps a frame of its own.
    EXPECT_FALSE(frames.contains(WorkspaceWindowController::frameKey(WorkspaceWindowController::Kind::web)));

    WorkspaceWindowController second(&frames);
    second.show(flows.model(), nullptr);
    ASSERT_TRUE(waitFor([&] { return second.inView(); }));
    EXPECT_EQ(second.window()->size(), kept.size());
    EXPECT_LE((second.window()->geometry().topLeft() - kept.topLeft()).manhattanLength(), 2);
}
