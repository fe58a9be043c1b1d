// The workspace window on a real X server with a window manager: made once,
// brought back after closing with its frame, its frame kept between runs, in
// view only while shown, not minimised, on this desktop and not covered, never
// smaller than 960 x 600. On a short screen it, and the cat's settings window,
// stay on the screen and scroll their content.

#include "ScreensTestSupport.h"
#include "support/X11TestSupport.h"

#include "base/DefaultsStore.h"
#include "design/GrowingTextField.h"
#include "app/ComposerState.h"
#include "design/SettingRow.h"
#include "design/Titles.h"
#include "design/TextBlock.h"
#include "web/WebWorkspaceModel.h"
#include "workspace/AssistantView.h"
#include "workspace/CompanionSettingsWindow.h"
#include "workspace/ComposerParts.h"
#include "workspace/ComposerView.h"
#include "workspace/WebWorkspaceScreen.h"
#include "workspace/WorkspaceRootView.h"
#include "workspace/WorkspaceWindowController.h"

#include <QDeadlineTimer>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QThread>
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

bool shortScreen() { return qEnvironmentVariableIsSet("ZK_TEST_SHORT_SCREEN"); }

// A web workspace with no engine behind it: the web window's screen shows its
// waiting scene, which is all its place in the window needs.
class NoPage final : public WebWorkspaceModel {
protected:
    bool hasPageURL() const override { return false; }
    std::optional<QString> engineVersion() const override { return std::nullopt; }
    void loadURL(const QUrl &) override {}
    void stopLoading() override {}
    void runScript(const QString &, std::function<void()> done) override
    {
        if (done)
            done();
    }
    QSizeF pageSize() const override { return {}; }
    void fetchCookies(std::function<void(const QList<QNetworkCookie> &)> answer) override { answer({}); }
    void forgetSession(std::function<void()> done) override { done(); }
    bool applicationActive() const override { return true; }
    double secondsSinceInput() const override { return 0; }
};

// The window with the window manager's frame round it, as the X server has them.
QRect outerOnServer(const QWidget *window)
{
    const std::vector<uint32_t> extents = zktest::property32(uint32_t(window->winId()), "_NET_FRAME_EXTENTS");
    if (extents.size() != 4)
        return {};
    return zktest::serverFrame(window).marginsAdded(
        QMargins(int(extents[0]), int(extents[2]), int(extents[1]), int(extents[3])));
}

TEST(WorkspaceWindowX11, MadeOnceAndShownAgainAfterClosing)
{
    if (shortScreen())
        GTEST_SKIP() << "cases for a 1280 x 800 screen";
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
    if (shortScreen())
        GTEST_SKIP() << "cases for a 1280 x 800 screen";
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

// On a 1024 x 600 screen, shorter than the window's least size with its title
// bar and menu bar: each kind of window opens wholly on the screen, title bar
// included. The native screens, still 600 high, scroll in it down to their
// bottom edge; the page's screen takes the window's height, the page scrolling
// itself.
TEST(WorkspaceWindowX11, OnAShortScreenTheWindowStaysOnItAndItsContentScrolls)
{
    if (!shortScreen())
        GTEST_SKIP() << "needs the short screen";
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_EQ(screen, QRect(0, 0, 1024, 600));
    for (const bool web : {false, true}) {
        SCOPED_TRACE(web ? "web" : "native");
        Flows flows(!web);
        DefaultsStore frames;
        NoPage page;
        WorkspaceWindowController controller(&frames);
        controller.makeMenuBar = [](QWidget *window) {
            auto *bar = new QMenuBar(window);
            bar->addMenu(QStringLiteral("Zephyl Kitty"));
            return bar;
        };
        controller.show(flows.model(), web ? &page : nullptr);
        QWidget *window = controller.window();
        ASSERT_TRUE(waitFor([&] { return controller.inView() && !outerOnServer(window).isEmpty(); }));
        EXPECT_TRUE(waitFor([&] { return screen.contains(outerOnServer(window)); }))
            << "the window and its frame at " << zktest::rectText(outerOnServer(window));
        EXPECT_EQ(zktest::serverFrame(window).size(), window->size());

        QWidget *content = web ? static_cast<QWidget *>(window->findChild<WebWorkspaceScreen *>())
                               : window->findChild<WorkspaceRootView *>();
        ASSERT_NE(content, nullptr);
        const auto bottom = [&] { return content->mapTo(window, QPoint(0, content->height())).y(); };
        if (web) {
            EXPECT_TRUE(waitFor([&] { return bottom() == window->height(); })) << "the page's screen ends with the window";
            window->close();
            continue;
        }
        EXPECT_EQ(content->height(), 600);
        auto *scroller = window->findChild<QScrollArea *>(QString(), Qt::FindDirectChildrenOnly);
        ASSERT_NE(scroller, nullptr);
        QScrollBar *bar = scroller->verticalScrollBar();
        ASSERT_TRUE(waitFor([&] { return bar->maximum() > 0; })) << "the content scrolls";
        bar->setValue(bar->maximum());
        EXPECT_EQ(bottom(), window->height()) << "scrolled to its end, its bottom edge shows";

        // Signed in (in Hebrew), the screen opens at its top, not where the
        // sign-in form left the window: its heading and the sidebar's cat whole.
        flows.model().setLanguage(AppLanguage::he);
        flows.model().setUser(user(QStringLiteral("kitty@example.com")));
        flows.model().setSession(SessionState::signedIn);
        flows.model().setSurface(Surface::assistant);
        screentest::settle();
        EXPECT_TRUE(waitFor([&] {
            const auto *title = content->findChild<ScreenTitle *>();
            const auto *cat = content->findChild<CatFigureView *>();
            return bar->value() == 0 && title && screentest::wholeInView(title) && cat && screentest::wholeInView(cat);
        })) << "the window is scrolled by " << bar->value();

        // A control below the fold that takes the keyboard is scrolled into view.
        bar->setValue(0);
        QWidget *lowest = nullptr;
        const auto lowEdge = [&](const QWidget *w) { return w->mapTo(window, QPoint(0, w->height())).y(); };
        for (QWidget *w : content->findChildren<QWidget *>()) {
            if (w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) &&
                (!lowest || lowEdge(w) > lowEdge(lowest)))
                lowest = w;
        }
        ASSERT_NE(lowest, nullptr);
        ASSERT_GT(lowEdge(lowest), window->height()) << "a control below the fold";
        // It may have the keyboard already (the input takes it as the screen shows).
        lowest->clearFocus();
        lowest->setFocus(Qt::TabFocusReason);
        EXPECT_TRUE(waitFor([&] { return screentest::wholeInView(lowest); }))
            << lowest->metaObject()->className() << " taking the keyboard";
        // Tab into the input from the control before it, from the top: its
        // whole box and the send button come into view.
        auto *assistant = content->findChild<AssistantView *>();
        assistant->field()->setFocus(Qt::TabFocusReason);
        screentest::key(assistant->field(), Qt::Key_Backtab);
        bar->setValue(0);
        screentest::key(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_TRUE(assistant->field()->hasFocus());
        EXPECT_TRUE(waitFor([&] {
            return screentest::wholeInView(assistant->field()->parentWidget()) &&
                   screentest::wholeInView(assistant->sendButton());
        }));

        // The composer's card keeps to the part of the workspace in view, its buttons too.
        flows.model().setComposerPresented(true);
        auto *root = static_cast<WorkspaceRootView *>(content);
        ASSERT_TRUE(waitFor([&] { return root->composerSheet() && root->composerSheet()->isVisible(); }));
        auto *composer = root->composerSheet()->findChild<ComposerView *>();
        for (const int at : {bar->maximum(), 0}) {
            bar->setValue(at);
            EXPECT_TRUE(waitFor([&] { return screentest::wholeInView(composer->publishButton()); })) << at;
        }
        // Its outcome page scrolls rather than squeeze the end of its sentence under its buttons.
        composer->state().setOutcome(PublishOutcome::unknown(QStringLiteral("No connection to sorvane.app right now.")));
        ASSERT_TRUE(waitFor([&] { return composer->outcomePage() && composer->outcomePage()->isVisible(); }));
        const TextBlock *said = composer->outcomePage()->detail();
        EXPECT_TRUE(waitFor([&] { return said->height() >= said->heightForWidth(said->width()); }))
            << said->height() << " for " << said->heightForWidth(said->width());
        composer->outcomePage()->doneButton()->setFocus(Qt::TabFocusReason);
        EXPECT_TRUE(waitFor([&] { return screentest::wholeInView(composer->outcomePage()->doneButton()); }));
        flows.model().setComposerPresented(false);
        window->close();
    }
}

// The cat's settings window on the same screen, shorter than its 660 and its
// least 560 with a title bar, and on one 560 high, its least size lowered
// inside as the window opens: it opens wholly on the screen, title bar
// included, and its cards scroll inside it down to the last row.
TEST(WorkspaceWindowX11, OnAShortScreenTheCatsSettingsWindowStaysOnItAndItsCardsScroll)
{
    if (!shortScreen())
        GTEST_SKIP() << "needs the short screen";
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    Flows flows;
    CompanionSettingsWindowController settings(flows.model());
    settings.show();
    QWidget *window = settings.window();
    ASSERT_TRUE(waitFor([&] { return window->windowHandle()->isExposed() && !outerOnServer(window).isEmpty(); }));
    EXPECT_TRUE(waitFor([&] { return screen.contains(outerOnServer(window)); }))
        << "the window and its frame at " << zktest::rectText(outerOnServer(window));
    EXPECT_EQ(zktest::serverFrame(window).size(), window->size());

    auto *scroller = settings.view()->findChild<QScrollArea *>();
    ASSERT_NE(scroller, nullptr);
    EXPECT_EQ(scroller->mapTo(window, QPoint(0, scroller->height())).y(), window->height())
        << "the cards end with the window, none cut off below it";
    SettingRow *last = nullptr;
    const auto lowEdge = [&](const QWidget *w) { return w->mapTo(window, QPoint(0, w->height())).y(); };
    for (SettingRow *row : scroller->findChildren<SettingRow *>()) {
        if (!last || lowEdge(row) > lowEdge(last))
            last = row;
    }
    ASSERT_NE(last, nullptr);
    QScrollBar *bar = scroller->verticalScrollBar();
    ASSERT_TRUE(waitFor([&] { return bar->maximum() > 0; })) << "the cards scroll";
    bar->setValue(bar->maximum());
    EXPECT_TRUE(waitFor([&] { return screentest::wholeInView(last); })) << "the last row shows";
    window->close();
}
