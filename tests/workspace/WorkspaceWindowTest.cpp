// The workspace window on a real X server with a window manager: made once,
// brought back after closing with its frame, its frame kept between runs, in
// view only while shown and not minimised, never smaller than 960 x 600.

#include "app/FlowTestSupport.h"

#include "base/DefaultsStore.h"
#include "workspace/WorkspaceRootView.h"
#include "workspace/WorkspaceWindowController.h"

#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

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

    window->showMinimized();
    ASSERT_TRUE(waitFor([&] { return !controller.inView(); }));
    controller.show(flows.model(), nullptr);
    EXPECT_TRUE(waitFor([&] { return controller.inView(); }));
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
