// The coordinator on a real X session (window manager, compositor, tray and a
// session bus), over a model with a scripted service, a virtual clock and a
// described desktop for the cat: one start, the events carried where they go,
// every tray command, links; and, over the web workspace on the real engine
// against the stand-in's web app, the cat stepping aside into the window.

#include "../app/AppTestSupport.h"
#include "UpdateFakes.h"
#include "VirtualTime.h"
#include "WebApp.h"
#include "support/TestSupport.h"
#include "support/WebEngineSupport.h"
#include "support/X11TestSupport.h"

#include "ask/AskBarView.h"
#include "base/RecordStore.h"
#include "ask/AskPanelBridge.h"
#include "ask/AskPanelController.h"
#include "ask/GlobalHotKey.h"
#include "companion/CompanionController.h"
#include "companion/CompanionDesktop.h"
#include "companion/CompanionLibrary.h"
#include "companion/CompanionPanel.h"
#include "design/FloatingPanel.h"
#include "focus/FocusGuard.h"
#include "platform/X11WindowList.h"
#include "platform/FreedesktopNotifications.h"
#include "services/auth/WebAuthDialog.h"
#include "shell/AppDelegate.h"
#include "shell/FocusTimerController.h"
#include "shell/Runtime.h"
#include "shell/StatusMenuController.h"
#include "shell/UpdateEngine.h"
#include "shell/UpdatePrompt.h"
#include "web/WebWorkspace.h"
#include "workspace/CompanionSettingsWindow.h"
#include "workspace/ComposerView.h"
#include "workspace/WorkspaceSplitView.h"
#include "workspace/WorkspaceWindowController.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QGuiApplication>
#include <QWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProxyStyle>
#include <QSignalSpy>
#include <QStyleOptionMenuItem>
#include <QSystemTrayIcon>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

using namespace apptest;

namespace {

class DescribedDesktop final : public CompanionDesktop {
public:
    std::vector<CompanionScreen> screens() const override
    {
        return {{QRectF(0, 0, 1280, 800), QRectF(0, 0, 1280, 776), nullptr}};
    }
    std::optional<QPointF> pointer() const override { return QPointF(10, 10); }
    double secondsSinceInput() const override { return 0; }
    std::vector<WindowInfo> windows(const std::set<quint32> &, double) const override { return {}; }
};

// Keeps the text of every menu item a menu hands its style to draw.
class DrawnMenuItems final : public QProxyStyle {
public:
    mutable QStringList texts;
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override
    {
        if (const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option); item && element == CE_MenuItem)
            texts << item->text;
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

// A key as a painter draws it from the left edge of a line of `direction`.
QImage drawnKey(const QString &key, const QFont &font, Qt::LayoutDirection direction)
{
    QImage image(240, 40, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setLayoutDirection(direction);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(image.rect(), Qt::AlignLeft | Qt::AlignAbsolute | Qt::AlignVCenter, key);
    return image;
}

struct Spoken {
    QString text;
    bool inWindow = false;
    friend bool operator==(const Spoken &, const Spoken &) = default;
    friend void PrintTo(const Spoken &s, std::ostream *os) { *os << s.text.toStdString() << (s.inWindow ? " (in the window)" : ""); }
};

// A coordinator over the native workspace (no web engine): the page's part is
// covered by its own test.
struct Coordinator {
    Harness h;
    std::unique_ptr<Runtime> runtime;
    QList<Spoken> spoken;

    // The cat on the desktop described above unless given another (the session's own).
    explicit Coordinator(bool start = true, const std::function<void(DefaultsStore &)> &settings = {},
                         Updates *updates = nullptr, std::unique_ptr<CompanionDesktop> desktop = nullptr)
    {
        h.store.setBool(QStringLiteral("zephyl.mac.workspace.native"), true);
        if (settings)
            settings(h.store);
        AppModel &model = h.make();
        model.setEvents({});
        Runtime::Parts parts;
        parts.model = &model;
        parts.clock = &h.clock;
        parts.desktop = desktop ? std::move(desktop) : std::make_unique<DescribedDesktop>();
        parts.updates = updates;
        runtime = std::make_unique<Runtime>(std::move(parts));
        QObject::connect(runtime.get(), &Runtime::spoke,
                         [this](const QString &text, bool inWindow) { spoken.append({text, inWindow}); });
        if (start)
            runtime->start();
    }
    ~Coordinator() { runtime.reset(); }

    AppModel &model() { return runtime->model(); }
    CompanionController &cat() { return runtime->companion(); }
    std::optional<CompanionGoal::Kind> goal() const
    {
        const auto &g = runtime->companion().brain().goal;
        return g ? std::optional(g->kind) : std::nullopt;
    }
    // A celebration or a stretch is acted on at once unless the cat is in the air.
    bool asked(CompanionGoal::Kind kind) const
    {
        const CompanionState state = runtime->companion().brain().pose.state;
        if (goal() == kind)
            return true;
        return kind == CompanionGoal::Kind::celebrate ? state == CompanionState::pounce
                                                       : kind == CompanionGoal::Kind::stretch && state == CompanionState::stretch;
    }
    void settle() { runtime->companion().brain().pose.state = CompanionState::idle; }
    QString bubble() { return cat().viewModel().bubble().value_or(QString()); }
    void raise(const AppEvent &event) { model().raiseEvent(event); }
    // Closed as a user closes it: the window manager has let it go before
    // anything shows it again.
    void hideWorkspace()
    {
        QWidget *w = runtime->workspace().window();
        if (!w)
            return;
        const auto id = uint32_t(w->winId());
        w->hide();
        ASSERT_TRUE(zktest::spinUntil([&] {
            const auto clients = X11::readClientWindows(0);
            return !runtime->workspaceInView() &&
                   std::none_of(clients.begin(), clients.end(), [&](const X11::ClientWindow &c) { return c.id == id; });
        })) << "the window manager still keeps the closed window: " << whyOutOfView();
    }
    // Shown again, and in view once the window manager has it back.
    void showWorkspaceAndWait()
    {
        runtime->showWorkspace();
        ASSERT_TRUE(zktest::spinUntil([&] { return runtime->workspaceInView(); })) << whyOutOfView();
    }
    // The window holds the keyboard in the toolkit and on the X server, where a
    // key goes (on a busy machine the server's word can come a moment after the
    // toolkit counts the window active); if it never does, what holds it instead.
    ::testing::AssertionResult keyboardComesTo(QWidget *window)
    {
        if (zktest::spinUntil([&] {
                return QApplication::activeWindow() == window && zktest::inputFocus() == window->winId();
            }))
            return ::testing::AssertionSuccess();
        // A gtest message streams each piece anew: the ids are written in hex here.
        const auto hex = [](quint64 id) { return "0x" + QString::number(id, 16).toStdString(); };
        const QWidget *active = QApplication::activeWindow();
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(X11::connection())).data->root;
        const auto managerSays = zktest::property32(root, "_NET_ACTIVE_WINDOW");
        return ::testing::AssertionFailure()
               << "the keyboard never came to the window " << hex(window->winId()) << ": the toolkit's active window "
               << (active ? active->metaObject()->className() + (" " + hex(active->winId())) : std::string("none"))
               << ", the server's input focus " << hex(zktest::inputFocus()) << ", the window manager's active window "
               << (managerSays.empty() ? std::string("none") : hex(managerSays.front())) << "; " << whyOutOfView();
    }
    // What keeps the window out of view, for a failure's message.
    std::string whyOutOfView()
    {
        QWidget *w = runtime->workspace().window();
        if (!w)
            return "no window";
        const auto clients = X11::readClientWindows(0);
        const auto self = std::find_if(clients.begin(), clients.end(),
                                       [&](const X11::ClientWindow &c) { return c.id == uint32_t(w->winId()); });
        return QStringLiteral("visible %1, minimised %2, exposed %3, managed %4, hidden there %5, on this desktop %6, windows above %7")
            .arg(w->isVisible())
            .arg(w->isMinimized())
            .arg(w->windowHandle() && w->windowHandle()->isExposed())
            .arg(self != clients.end())
            .arg(self != clients.end() && self->hidden())
            .arg(self != clients.end() && self->onCurrentDesktop)
            .arg(self != clients.end() ? int(std::distance(self, clients.end()) - 1) : -1)
            .toStdString();
    }
};

ZephylWire::Publication publication(std::optional<QString> link = std::nullopt,
                                    std::optional<qint64> scheduledAt = std::nullopt)
{
    ZephylWire::Publication p;
    p.id = QStringLiteral("p1");
    p.status = QStringLiteral("published");
    if (link)
        p.platformUrl = QUrl(*link);
    p.scheduledAt = scheduledAt;
    return p;
}

} // namespace

TEST(Runtime, StartsOnceWithOneCatOneHotKeyOneTrayIconAndOneCareTimer)
{
    Coordinator c(false);
    EXPECT_FALSE(c.runtime->started());
    c.runtime->start();
    QSystemTrayIcon *icon = c.runtime->statusMenu() ? c.runtime->statusMenu()->item() : nullptr;
    GlobalHotKey *hotKey = c.runtime->hotKey();
    const auto panels = c.cat().panels();
    ASSERT_NE(icon, nullptr);
    ASSERT_NE(hotKey, nullptr);
    EXPECT_TRUE(c.cat().isRunning()) << "the cat is on the desktop from the start";
    EXPECT_TRUE(c.runtime->careTimerRunning());
    EXPECT_TRUE(c.model().hasEvents());
    ASSERT_NE(c.runtime->workspace().window(), nullptr);
    EXPECT_TRUE(c.runtime->workspace().window()->isVisible());
    EXPECT_EQ(c.runtime->workspace().kind(), WorkspaceWindowController::Kind::native);

    c.runtime->start();
    EXPECT_EQ(c.runtime->statusMenu()->item(), icon);
    EXPECT_EQ(c.runtime->hotKey(), hotKey);
    EXPECT_EQ(c.cat().panels(), panels);

    // With the companion switched off the cat does not start, and a greeting
    // left by an earlier move is not spoken.
    Coordinator off(true, [](DefaultsStore &store) {
        store.setBool(QStringLiteral("zephyl.mac.companion.enabled"), false);
        store.setBool(QStringLiteral("zephyl.mac.home.justMoved"), true);
    });
    EXPECT_FALSE(off.cat().isRunning());
    off.h.clock.advanceSeconds(4);
    EXPECT_TRUE(off.spoken.isEmpty());
    EXPECT_FALSE(off.h.store.boolValue(QStringLiteral("zephyl.mac.home.justMoved")).has_value());

    // With the companion on, the greeting comes 3 s after start, for 9 s; the
    // first care tick does not wait its minute (a cat last fed five days ago is
    // hungry from the start).
    const QDateTime start(QDate(2025, 6, 11), QTime(12, 0), QTimeZone::systemTimeZone());
    Coordinator on(true, [&](DefaultsStore &store) {
        store.setBool(QStringLiteral("zephyl.mac.home.justMoved"), true);
        CatWellbeing wellbeing;
        wellbeing.firstSeenAt = start.addDays(-30);
        wellbeing.lastFedAt = start.addDays(-5);
        wellbeing.save(store);
    });
    EXPECT_TRUE(on.cat().hungry);
    const QString greeting = QStringLiteral("I've moved into Applications. That's where I live now.");
    on.h.clock.advanceSeconds(2.9);
    EXPECT_TRUE(on.spoken.isEmpty() || on.spoken.last().text != greeting);
    on.h.clock.advanceSeconds(0.1);
    ASSERT_FALSE(on.spoken.isEmpty());
    EXPECT_EQ(on.spoken.last(), (Spoken{greeting, false}));
    EXPECT_EQ(on.bubble(), greeting);
}

TEST(Runtime, PublishedAndScheduledLinesAndGoals)
{
    Coordinator c;
    c.settle();
    c.raise(AppEvent::published(publication()));
    EXPECT_TRUE(c.asked(CompanionGoal::Kind::celebrate));
    EXPECT_EQ(c.spoken.last(), (Spoken{QStringLiteral("Published."), false}));
    EXPECT_EQ(c.bubble(), QStringLiteral("Published."));

    c.raise(AppEvent::published(publication(QStringLiteral("https://www.instagram.com/p/x/"))));
    EXPECT_EQ(c.spoken.last().text, QStringLiteral("Published. Link is in the plan."));

    c.settle();
    c.raise(AppEvent::scheduled(publication()));
    EXPECT_EQ(c.spoken.last().text, QStringLiteral("Scheduled."));
    EXPECT_FALSE(c.goal().has_value()) << "scheduling gives no goal";
    EXPECT_EQ(c.cat().brain().pose.state, CompanionState::idle);

    // In the user's zone (the test runs in Berlin), either side of the change
    // to summer time on 29 March 2026 at 01:00 UTC.
    LanguageGuard english(AppLanguage::en);
    c.raise(AppEvent::scheduled(publication(std::nullopt, 1'774'661'400'000))); // 2026-03-28 01:30 UTC
    EXPECT_EQ(c.spoken.last().text, QStringLiteral("Scheduled for Mar 28, 2026, 2:30\u202FAM."));
    c.raise(AppEvent::scheduled(publication(std::nullopt, 1'774'747'800'000))); // 2026-03-29 01:30 UTC
    EXPECT_EQ(c.spoken.last().text, QStringLiteral("Scheduled for Mar 29, 2026, 3:30\u202FAM."));
}

TEST(Runtime, CareLinesGoThroughTheGovernorAndBreakTimeAlwaysStretches)
{
    Coordinator c;
    c.hideWorkspace();
    c.settle();
    c.cat().hungry = true;
    c.raise(AppEvent::catFed(QStringLiteral("Thanks for the meal.")));
    EXPECT_TRUE(c.asked(CompanionGoal::Kind::celebrate));
    EXPECT_EQ(c.spoken.last().text, QStringLiteral("Thanks for the meal."));
    EXPECT_FALSE(c.cat().hungry) << "a fed cat is no longer hungry";

    // Within the governor's gap the next remarks are not said, but the stretch comes.
    c.settle();
    const int before = c.spoken.size();
    c.raise(AppEvent::breakTime(QStringLiteral("Time to stretch.")));
    EXPECT_TRUE(c.asked(CompanionGoal::Kind::stretch));
    c.raise(AppEvent::catHungry(QStringLiteral("I'm hungry.")));
    c.raise(AppEvent::lateNight(QStringLiteral("It's late.")));
    EXPECT_EQ(c.spoken.size(), before);

    c.h.clock.advanceSeconds(91);
    c.raise(AppEvent::catHungry(QStringLiteral("I'm hungry.")));
    EXPECT_EQ(c.spoken.last().text, QStringLiteral("I'm hungry."));
    c.h.clock.advanceSeconds(91);
    c.raise(AppEvent::lateNight(QStringLiteral("It's late.")));
    EXPECT_EQ(c.spoken.last().text, QStringLiteral("It's late."));

    // A coordinator line is always shown, governor or not.
    c.raise(AppEvent::say(QStringLiteral("Right away.")));
    EXPECT_EQ(c.spoken.last().text, QStringLiteral("Right away."));
    EXPECT_EQ(c.bubble(), QStringLiteral("Right away."));

    // With no cat drawn in the native window, an in-view window leaves the
    // remark to the desktop cat.
    c.showWorkspaceAndWait();
    c.h.clock.advanceSeconds(91);
    c.raise(AppEvent::catHungry(QStringLiteral("Still hungry.")));
    EXPECT_EQ(c.spoken.last(), (Spoken{QStringLiteral("Still hungry."), false}));
}

TEST(Runtime, VisitsFocusAndThePanelsLedges)
{
    Coordinator c;
    c.raise(AppEvent::visitWindow(QRectF(100, 200, 400, 300)));
    ASSERT_TRUE(c.cat().visitLedge.has_value());
    EXPECT_EQ(c.cat().visitLedge->minX, 124);
    EXPECT_EQ(c.cat().visitLedge->maxX, 476);
    EXPECT_EQ(c.cat().visitLedge->y, 500);
    EXPECT_EQ(c.cat().visitLedge->windowNumber, -1);
    EXPECT_EQ(c.goal(), CompanionGoal::Kind::visit);
    c.raise(AppEvent::of(AppEvent::Kind::visitEnded));
    EXPECT_FALSE(c.cat().visitLedge.has_value());

    c.model().startFocus(25);
    FocusTimerController &timer = c.runtime->timer();
    EXPECT_TRUE(timer.isVisible());
    ASSERT_TRUE(c.cat().nestLedge.has_value());
    EXPECT_EQ(*c.cat().nestLedge, *timer.ledge()) << "a drawn look sits on top of the clock";
    EXPECT_EQ(c.cat().viewModel().nestFrame(), std::optional<QRectF>(timer.frame()));
    EXPECT_EQ(c.spoken.last().text, QStringLiteral("I'll sit right here for 25 minutes."));

    c.model().stopFocus();
    EXPECT_FALSE(timer.isVisible());
    EXPECT_FALSE(c.cat().nestLedge.has_value());
    EXPECT_FALSE(c.cat().viewModel().nestFrame().has_value());
    EXPECT_EQ(c.spoken.last().text, QStringLiteral("Session over. Nicely done."));

    // The ask panel lends the cat its top edge while it shows.
    c.raise(AppEvent::of(AppEvent::Kind::askRequested));
    AskPanelController &ask = c.runtime->ask();
    EXPECT_TRUE(ask.isVisible());
    EXPECT_EQ(c.cat().perchLedge, ask.ledge());
    c.model().setAskQuestion(QStringLiteral("what now?"));
    c.runtime->toggleAsk();
    EXPECT_FALSE(ask.isVisible());
    EXPECT_FALSE(c.cat().perchLedge.has_value());
    EXPECT_FALSE(c.model().askQuestion().has_value()) << "a hidden panel forgets the question";

    // Hidden, a panel that grows (a reply coming after it closed) or is moved
    // lends the cat nothing: there is no panel to sit on.
    const QRectF hidden = ask.frame();
    ask.bridge().sizeChanged(QSizeF(680, hidden.height() + 60));
    EXPECT_EQ(ask.frame().height(), hidden.height() + 60);
    ask.panel()->move(ask.panel()->pos() + QPoint(40, -30));
    QCoreApplication::processEvents();
    EXPECT_FALSE(c.cat().perchLedge.has_value());
    EXPECT_FALSE(ask.panel()->isVisible());
    const qsizetype lines = c.model().catChat().size();

    // A typed command that shows a workspace screen puts the panel away, so it
    // covers nothing and the window has the keyboard, on that screen rather
    // than on the sidebar; the cat leaves its edge.
    ZephylWire::User signedIn;
    signedIn.email = QStringLiteral("kitty@example.com");
    c.model().setUser(signedIn);
    c.model().setSession(SessionState::signedIn);
    const auto keyboardOnTheScreen = [&] {
        QWidget *window = c.runtime->workspace().window();
        auto *split = window ? window->findChild<WorkspaceSplitView *>() : nullptr;
        return zktest::spinUntil([&] {
            return split && split->detailSurface() == c.model().surface() && split->detail()->isAncestorOf(QApplication::focusWidget());
        });
    };
    c.raise(AppEvent::of(AppEvent::Kind::askRequested));
    ASSERT_TRUE(ask.isVisible());
    EXPECT_EQ(c.cat().perchLedge, ask.ledge());
    c.hideWorkspace();
    c.model().ask(QStringLiteral("open plan"));
    ASSERT_TRUE(zktest::spinUntil([&] { return c.runtime->workspaceInView(); })) << c.whyOutOfView();
    EXPECT_EQ(c.model().surface(), Surface::plan);
    EXPECT_FALSE(ask.isVisible());
    EXPECT_FALSE(ask.panel()->isVisible());
    EXPECT_FALSE(c.cat().perchLedge.has_value());
    EXPECT_EQ(c.model().catChat().size(), lines + 2) << "the answer is still in the conversation";
    EXPECT_TRUE(zktest::spinUntil([&] {
        return QGuiApplication::focusWindow() == c.runtime->workspace().window()->windowHandle();
    })) << "the keyboard is not in the workspace window";
    EXPECT_TRUE(keyboardOnTheScreen()) << "the keyboard is not on the plan";
    // The panel's own activation arriving after it was put away (a window
    // manager that took its map request late): the keyboard goes on to the
    // window in front, on the server too.
    {
        QWidget *window = c.runtime->workspace().window();
        const QString panel = QString::number(ask.panel()->winId());
        zktest::xdotool({"windowmap", "--sync", panel});
        zktest::xdotool({"windowfocus", "--sync", panel});
        EXPECT_TRUE(zktest::spinUntil([&] {
            return QGuiApplication::focusWindow() == window->windowHandle() &&
                   zktest::inputFocus() == window->winId();
        })) << "the keyboard stayed in the hidden panel";
        EXPECT_FALSE(ask.isVisible());
        // ...and the hidden panel's window is off the screen again, not left over the window.
        EXPECT_TRUE(zktest::spinUntil([&] {
            xcb_connection_t *x = X11::connection();
            xcb_get_window_attributes_reply_t *a = xcb_get_window_attributes_reply(
                x, xcb_get_window_attributes(x, xcb_window_t(ask.panel()->winId())), nullptr);
            const bool viewable = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
            std::free(a);
            return !viewable;
        })) << "the hidden panel's window is still mapped on the server";
    }

    // As a link asks: shown with the keyboard and asked at once, before the
    // panel is even on screen; the keyboard still ends in the window.
    c.hideWorkspace();
    c.raise(AppEvent::of(AppEvent::Kind::askRequested));
    c.model().ask(QStringLiteral("open grid"));
    ASSERT_TRUE(zktest::spinUntil([&] { return c.runtime->workspaceInView(); })) << c.whyOutOfView();
    EXPECT_FALSE(ask.isVisible());
    EXPECT_TRUE(zktest::spinUntil([&] {
        return QGuiApplication::focusWindow() == c.runtime->workspace().window()->windowHandle() &&
               !ask.panel()->windowHandle()->isExposed();
    })) << "the keyboard is not in the workspace window";
    EXPECT_TRUE(keyboardOnTheScreen()) << "the keyboard is not on the grid";

    // Asked again for the screen it shows, the window left with the keyboard
    // on the sidebar brings it to the screen.
    c.runtime->workspace().window()->findChild<WorkspaceSplitView *>()->sidebar()->row(Surface::plan)->setFocus();
    c.hideWorkspace();
    c.raise(AppEvent::of(AppEvent::Kind::askRequested));
    c.model().ask(QStringLiteral("open grid"));
    ASSERT_TRUE(zktest::spinUntil([&] { return c.runtime->workspaceInView(); })) << c.whyOutOfView();
    const auto where = [&] {
        QWidget *window = c.runtime->workspace().window();
        QWidget *at = QApplication::focusWidget();
        return std::string(at ? at->metaObject()->className() : "nothing") + "; the window's own " +
               (window && window->focusWidget() ? window->focusWidget()->metaObject()->className() : "nothing") +
               (window && window->isActiveWindow() ? ", active" : ", not active");
    };
    EXPECT_TRUE(keyboardOnTheScreen()) << "the keyboard stayed on the sidebar: " << where();
}

// The tour's nap puts away only an ask panel it showed and nobody took up.
TEST(Runtime, TheTourLeavesTheUsersAskPanelOpen)
{
    Coordinator c;
    AskPanelController &ask = c.runtime->ask();
    const auto typingIn = [&] { return ask.isVisible() && ask.panel()->isActiveWindow(); };
    for (const bool userOpened : {true, false}) {
        c.runtime->runDemo();
        advanceVirtual(c.h.clock, userOpened ? 30 : 35); // without the page: the panel at 34 s, the nap at 42 s
        if (userOpened)
            c.raise(AppEvent::of(AppEvent::Kind::askRequested));
        else
            ask.panel()->activateWindow(); // the user clicks into the panel the tour showed
        ASSERT_TRUE(zktest::spinUntil(typingIn));
        advanceVirtual(c.h.clock, 60);
        EXPECT_TRUE(typingIn()) << (userOpened ? "opened by the user" : "typed in");
        ask.hide();
    }
}

TEST(Runtime, SettingsThemeCompanionSwitchAndComposer)
{
    LanguageGuard language;
    Coordinator c;
    // The settings window made in Arabic.
    c.model().setLanguage(AppLanguage::ar);
    c.raise(AppEvent::of(AppEvent::Kind::settingsRequested));
    QWidget *settings = c.runtime->companionSettings().window();
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(settings->isVisible());
    // Every window's title follows each change of language, on the X server,
    // where window lists, task switchers and screen readers read it: the ask
    // panel, the focus timer, the settings window and the cat's window; the
    // workspace window's is the product's name in every language.
    ASSERT_FALSE(c.cat().panels().empty());
    const std::vector<const QWidget *> windows{c.runtime->ask().panel(), c.runtime->timer().panel(), settings,
                                               c.cat().panels().front(), c.runtime->workspace().window()};
    const auto titles = [&] {
        QStringList out;
        for (const QWidget *w : windows)
            out << zktest::textProperty(xcb_window_t(w->winId()), "_NET_WM_NAME");
        return out.join(u'|').toStdString();
    };
    EXPECT_EQ(titles(), "اسأل القط|تركيز|قطّك|قطّك|Zephyl");
    c.model().setLanguage(AppLanguage::en);
    EXPECT_EQ(titles(), "Ask the cat|Focus|Your cat|Your cat|Zephyl");
    c.model().setLanguage(AppLanguage::de);
    EXPECT_EQ(titles(), "Frag die Katze|Fokus|Deine Katze|Deine Katze|Zephyl");
    c.model().setLanguage(AppLanguage::en);
    settings->close();
    c.raise(AppEvent::of(AppEvent::Kind::settingsRequested));
    EXPECT_EQ(c.runtime->companionSettings().window(), settings) << "one settings window, shown again";
    EXPECT_TRUE(settings->isVisible());
    EXPECT_EQ(settings->windowTitle(), QStringLiteral("Your cat"));
    // Asked again while it shows (the event, then the tray's "Your cat…"): still one window.
    c.raise(AppEvent::of(AppEvent::Kind::settingsRequested));
    c.runtime->showCompanionSettings();
    int settingsWindows = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        settingsWindows += w->isVisible() && w->findChild<CompanionSettingsView *>() != nullptr;
    EXPECT_EQ(settingsWindows, 1);
    EXPECT_EQ(c.runtime->companionSettings().window(), settings);

    c.model().setCompanionEnabled(false);
    EXPECT_FALSE(c.cat().isRunning());
    c.model().setCompanionEnabled(true);
    EXPECT_TRUE(c.cat().isRunning());

    // The tour brings a switched-off cat for itself and takes it away at its
    // end; switched on by the user meanwhile, the cat stays.
    for (const bool switchedOn : {false, true}) {
        SCOPED_TRACE(switchedOn ? "switched on during the tour" : "left off");
        c.model().setCompanionEnabled(false);
        c.runtime->runDemo();
        EXPECT_TRUE(c.cat().isRunning());
        advanceVirtual(c.h.clock, 30);
        if (switchedOn)
            c.model().setCompanionEnabled(true);
        advanceVirtual(c.h.clock, 60);
        ASSERT_FALSE(c.runtime->tour().running());
        EXPECT_EQ(c.model().companionEnabled(), switchedOn);
        EXPECT_EQ(c.cat().isRunning(), switchedOn);
    }

    c.model().setCompanionWanders(true);
    c.model().setCompanionTemper(CompanionTemper::lively);
    EXPECT_TRUE(c.cat().wanders);
    EXPECT_EQ(c.cat().temper, CompanionTemper::lively);

    c.hideWorkspace();
    c.model().openComposer(std::nullopt);
    EXPECT_TRUE(c.model().composerPresented());
    EXPECT_TRUE(c.runtime->workspace().window()->isVisible()) << "the native composer comes with its window";
}

// The tray's menu and the workspace window's menu bar carry the same commands
// and do the same with each; the window's menu leaves out "Open Zephyl" and
// gives "Your cat…" its Ctrl+,.
TEST(Runtime, EveryCommandOfTheTrayAndOfTheWindowsMenuBar)
{
    Coordinator c;
    StatusMenuController *tray = c.runtime->statusMenu();
    ASSERT_NE(tray, nullptr);
    QMenuBar *bar = c.runtime->workspace().window()->findChild<QMenuBar *>();
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(bar->actions().size(), 1);
    EXPECT_EQ(bar->actions().first()->text(), QStringLiteral("&Zephyl Kitty"));
    QMenu *windowMenu = bar->actions().first()->menu();
    ASSERT_NE(windowMenu, nullptr);
    auto titles = [](QMenu *menu) {
        Q_EMIT menu->aboutToShow();
        QStringList out;
        for (const QAction *a : menu->actions())
            out << (a->isSeparator() ? QStringLiteral("---") : a->text() + QLatin1Char('|') + a->shortcut().toString());
        return out;
    };
    const QStringList both{QStringLiteral("Ask the cat|Alt+Space"),  QStringLiteral("---"),
                           QStringLiteral("Start focus (25 min)|"), QStringLiteral("New publication|"),
                           QStringLiteral("---"),                   QStringLiteral("Show the companion|"),
                           QStringLiteral("Your cat…|"),            QStringLiteral("Show what the cat does|"),
                           QStringLiteral("Check for Updates…|"),   QStringLiteral("---"),
                           QStringLiteral("Quit Zephyl Kitty|Ctrl+Q")};
    QStringList trayTitles = both, windowTitles = both;
    trayTitles.insert(1, QStringLiteral("Open Zephyl|"));
    windowTitles[6] = QStringLiteral("Your cat…|Ctrl+,");
    EXPECT_EQ(titles(tray->menu()), trayTitles);
    EXPECT_EQ(titles(windowMenu), windowTitles);

    // Qt's own words: a text field's menu, and a file chooser left open meanwhile.
    QFileDialog chooser;
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    const auto qtWords = [&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
        QLineEdit field;
        const QMenu *menu = field.createStandardContextMenu(); // the field's child
        return (menu->actions().at(4)->text().section(u'\t', 0, 0) + u'|' + chooser.labelText(QFileDialog::LookIn) + u'|' +
                chooser.labelText(QFileDialog::FileName) + u'|' + chooser.labelText(QFileDialog::Reject))
            .toStdString();
    };
    EXPECT_EQ(qtWords(), "&Copy|Look in:|File &name:|Cancel");
    // Another language, chosen while the application runs, is in both menus the
    // next time they open; the keys stay.
    c.model().setLanguage(AppLanguage::de);
    const QStringList german{QStringLiteral("Frag die Katze|Alt+Space"),
                             QStringLiteral("---"),
                             QStringLiteral("Fokus starten (25 Min.)|"),
                             QStringLiteral("Neue Veröffentlichung|"),
                             QStringLiteral("---"),
                             QStringLiteral("Begleiter anzeigen|"),
                             QStringLiteral("Deine Katze …|Ctrl+,"),
                             QStringLiteral("Zeigen, was die Katze kann|"),
                             QStringLiteral("Nach Updates suchen …|"),
                             QStringLiteral("---"),
                             QStringLiteral("Zephyl Kitty beenden|Ctrl+Q")};
    EXPECT_EQ(titles(windowMenu), german);
    EXPECT_EQ(titles(tray->menu()).at(1), QStringLiteral("Zephyl öffnen|"));
    EXPECT_EQ(qtWords(), "&Kopieren|Suchen in:|Datei&name:|Abbrechen");

    // In a right-to-left language the keys read as they are typed: "Ctrl+,"
    // drawn as part of an Arabic line came out as ",+Ctrl".
    c.model().setLanguage(AppLanguage::ar);
    EXPECT_EQ(qtWords(), "ا&نسخ|اعثر في:|ا&سم الملفّ:|ألغِ");
    QApplication::setLayoutDirection(Qt::RightToLeft);
    for (QMenu *menu : {tray->menu(), windowMenu}) {
        SCOPED_TRACE(menu == windowMenu ? "the window's menu bar" : "the tray");
        // Made ready first: a menu takes the application's menu look as it is
        // polished, which would replace the recording style.
        menu->ensurePolished();
        QStyle *const look = menu->style();
        DrawnMenuItems drawn;
        menu->setStyle(&drawn);
        Q_EMIT menu->aboutToShow();
        menu->adjustSize();
        (void)menu->grab();
        menu->setStyle(look);
        QStringList keys;
        for (const QString &text : drawn.texts)
            if (text.contains(u'\t'))
                keys << text.section(u'\t', 1);
        ASSERT_EQ(keys.size(), menu == windowMenu ? 3 : 2) << drawn.texts.join(u'|').toStdString();
        for (const QString &key : keys)
            EXPECT_TRUE(drawnKey(key, menu->font(), Qt::RightToLeft) == drawnKey(key, menu->font(), Qt::LeftToRight))
                << key.toStdString() << " is drawn otherwise in a right-to-left line";
    }
    QApplication::setLayoutDirection(Qt::LeftToRight);
    c.model().setLanguage(AppLanguage::en);
    EXPECT_EQ(qtWords(), "&Copy|Look in:|File &name:|Cancel");

    for (QMenu *menu : {tray->menu(), windowMenu}) {
        SCOPED_TRACE(menu == windowMenu ? "the window's menu bar" : "the tray");
        auto trigger = [&](const QString &title) {
            Q_EMIT menu->aboutToShow();
            for (QAction *action : menu->actions()) {
                if (action->text() == title) {
                    action->trigger();
                    // The menu hands its commands on once it has closed.
                    QCoreApplication::sendPostedEvents();
                    QCoreApplication::processEvents();
                    return true;
                }
            }
            return false;
        };
        ASSERT_TRUE(trigger(QStringLiteral("Ask the cat")));
        EXPECT_TRUE(c.runtime->ask().isVisible());
        ASSERT_TRUE(trigger(QStringLiteral("Ask the cat")));
        EXPECT_FALSE(c.runtime->ask().isVisible());

        if (menu == tray->menu()) {
            c.hideWorkspace();
            ASSERT_TRUE(trigger(QStringLiteral("Open Zephyl")));
            EXPECT_TRUE(c.runtime->workspace().window()->isVisible());
        }

        ASSERT_TRUE(trigger(QStringLiteral("Start focus (25 min)")));
        EXPECT_TRUE(c.model().focus().isRunning());
        ASSERT_TRUE(trigger(QStringLiteral("End focus session")));
        EXPECT_FALSE(c.model().focus().isRunning());

        ASSERT_TRUE(trigger(QStringLiteral("New publication")));
        EXPECT_TRUE(c.model().composerPresented());
        // The sheet itself stands in the workspace window, not only the flag.
        EXPECT_TRUE(zktest::spinUntil([&] {
            const auto composers = c.runtime->workspace().window()->findChildren<ComposerView *>();
            return std::any_of(composers.begin(), composers.end(), [](const ComposerView *v) { return v->isVisible(); });
        }));
        c.model().setComposerPresented(false);

        ASSERT_TRUE(trigger(QStringLiteral("Show the companion")));
        EXPECT_FALSE(c.model().companionEnabled());
        EXPECT_FALSE(c.cat().isRunning());
        auto switchShown = [&] {
            Q_EMIT menu->aboutToShow();
            for (const QAction *a : menu->actions())
                if (a->text() == QStringLiteral("Show the companion"))
                    return a->isCheckable() && a->isChecked();
            return false;
        };
        EXPECT_FALSE(switchShown());
        ASSERT_TRUE(trigger(QStringLiteral("Show the companion")));
        EXPECT_TRUE(c.cat().isRunning());
        EXPECT_TRUE(switchShown());

        ASSERT_TRUE(trigger(QStringLiteral("Your cat…")));
        ASSERT_NE(c.runtime->companionSettings().window(), nullptr);
        EXPECT_TRUE(c.runtime->companionSettings().window()->isVisible());
        c.runtime->companionSettings().window()->close();

        ASSERT_TRUE(trigger(QStringLiteral("Show what the cat does")));
        EXPECT_TRUE(c.runtime->tour().running());
        EXPECT_EQ(c.spoken.last().text, QStringLiteral("Hi! Let me show you what I can do."));
        c.runtime->tour().cancel();
        ASSERT_TRUE(zktest::spinUntil([&] { return !c.runtime->tour().running(); }));
        c.spoken.clear();
    }

    // The window's keys work through the X server while it is active: Ctrl+,
    // brings the companion settings window (Quit's Ctrl+Q is pressed on the
    // application itself, in the shell's desktop test).
    c.runtime->showWorkspace();
    QWidget *window = c.runtime->workspace().window();
    ASSERT_TRUE(c.keyboardComesTo(window));
    zktest::xdotool({QStringLiteral("key"), QStringLiteral("ctrl+comma")});
    EXPECT_TRUE(zktest::spinUntil([&] { return c.runtime->companionSettings().window()->isVisible(); }));
    // From the settings window, with the keyboard there, the key still reaches
    // the command (Ctrl+Q too: the shell's desktop test quits from there).
    QWidget *settings = c.runtime->companionSettings().window();
    ASSERT_TRUE(c.keyboardComesTo(settings));
    QAction *yourCat = nullptr;
    for (QAction *action : windowMenu->actions())
        yourCat = action->text() == QStringLiteral("Your cat…") ? action : yourCat;
    ASSERT_NE(yourCat, nullptr);
    QSignalSpy fromSettings(yourCat, &QAction::triggered);
    zktest::xdotool({QStringLiteral("key"), QStringLiteral("ctrl+comma")});
    EXPECT_TRUE(zktest::spinUntil([&] { return fromSettings.size() == 1; })) << "Ctrl+, in the settings window";
    // The command runs queued after its key: run now, its window is brought
    // forward before the workspace is, not after it.
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(settings->isVisible());
    // Alt+Z opens the menu from the keyboard.
    c.runtime->showWorkspace();
    ASSERT_TRUE(c.keyboardComesTo(window));
    zktest::xdotool({QStringLiteral("key"), QStringLiteral("alt+z")});
    EXPECT_TRUE(zktest::spinUntil([&] { return windowMenu->isVisible(); }));
    windowMenu->hide();
}

// In a session without a tray host the workspace window, shown at start,
// carries the commands; a tray host that comes later gets the icon, and one
// that goes while the window is closed brings the window back.
TEST(Runtime, WithoutATrayHostTheWindowCarriesTheCommandsAndATrayHostIsFollowed)
{
    ASSERT_FALSE(X11::trayHostPresent()) << "this test's session starts without a tray host";
    EXPECT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    Coordinator c;
    QWidget *window = c.runtime->workspace().window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_NE(window->findChild<QMenuBar *>(), nullptr);
    StatusMenuController *tray = c.runtime->statusMenu();
    ASSERT_NE(tray, nullptr);

    zktest::TrayHost host;
    ASSERT_TRUE(host.start());
    EXPECT_TRUE(zktest::spinUntil([&] { return tray->item()->geometry().isValid(); })) << "the icon goes into the new tray";
    c.hideWorkspace();
    ASSERT_FALSE(window->isVisible());

    // With a tray the closed window stays closed; once the tray has gone it comes back.
    ASSERT_TRUE(host.stop());
    EXPECT_TRUE(zktest::spinUntil([&] { return window->isVisible() && c.runtime->workspaceInView(); }));
}

TEST(Runtime, LinksReachTheStateAndItsEvents)
{
    Coordinator c;
    c.hideWorkspace();
    c.runtime->open({QStringLiteral("sorvane://cat/settings")});
    ASSERT_NE(c.runtime->companionSettings().window(), nullptr);
    EXPECT_TRUE(c.runtime->companionSettings().window()->isVisible());

    c.runtime->open({QStringLiteral("sorvane://cat/hungry")});
    EXPECT_FALSE(c.spoken.isEmpty());

    c.runtime->open({QStringLiteral("sorvane://demo")});
    EXPECT_TRUE(c.runtime->tour().running());
    c.runtime->tour().cancel();
    ASSERT_TRUE(zktest::spinUntil([&] { return !c.runtime->tour().running(); }));

    // A scheme in capitals is still the application's; a host in capitals, or a
    // path with a trailing slash, is not.
    c.h.clock.advanceSeconds(91);
    c.runtime->open({QStringLiteral("SORVANE://cat/night")});
    EXPECT_EQ(c.spoken.last(), (Spoken{QStringLiteral("It's late. I'd sleep."), false}));
    const int said = c.spoken.size();
    c.h.clock.advanceSeconds(91);
    c.runtime->open({QStringLiteral("sorvane://CAT/night"), QStringLiteral("sorvane://cat/ask/")});
    EXPECT_EQ(c.spoken.size(), said);
    EXPECT_FALSE(c.runtime->ask().isVisible());
    c.settle();
    c.runtime->open({QStringLiteral("sorvane://cat/break")});
    EXPECT_TRUE(c.asked(CompanionGoal::Kind::stretch));
    c.runtime->open({QStringLiteral("sorvane://cat/ask?q=%20%20")});
    EXPECT_TRUE(c.runtime->ask().isVisible()) << "an empty question still opens the panel";
    c.runtime->toggleAsk();

    // Nobody asked for a Google sign-in: its callback changes nothing. Links of
    // any shape leave the application as it was.
    const SessionState before = c.model().session();
    c.runtime->open({QStringLiteral("sorvane://auth-google#access_token=forged"),
                     QStringLiteral("sorvane://nowhere/at/all?") + QString(8000, u'x'),
                     QStringLiteral("sorvane://cat/%2e%2e/settings"), QStringLiteral("not a link"), QString()});
    EXPECT_EQ(c.model().session(), before);
}

TEST(Runtime, AFilmedLookLiesBesideTheFocusClockADrawnOneOnTop)
{
    if (CompanionLibrary::variant(QStringLiteral("ginger")).id != QStringLiteral("ginger"))
        GTEST_SKIP() << "the build's filmed looks are not in the bundle";
    Coordinator c;
    c.model().setCompanionVariantID(QStringLiteral("ginger"));
    ASSERT_TRUE(c.cat().variant().isFilmed());
    c.model().startFocus(30);
    FocusTimerController &timer = c.runtime->timer();
    ASSERT_TRUE(timer.isVisible());
    EXPECT_TRUE(timer.compact()) << "a filmed look gets the compact clock";
    ASSERT_TRUE(c.cat().nestLedge.has_value());
    ASSERT_TRUE(timer.sideLedge().has_value());
    EXPECT_EQ(*c.cat().nestLedge, *timer.sideLedge());
    EXPECT_FALSE(*c.cat().nestLedge == *timer.ledge());
    EXPECT_EQ(c.cat().viewModel().nestFrame(), std::optional<QRectF>(timer.frame()));
    EXPECT_EQ(c.spoken.last().text, QStringLiteral("I'll sit right here for 30 minutes."));

    // The look changed while the clock shows: the drawn cat sits on top of it.
    c.model().setCompanionVariantID(QStringLiteral("drawn"));
    ASSERT_TRUE(c.cat().nestLedge.has_value());
    EXPECT_EQ(*c.cat().nestLedge, *timer.ledge());
    c.model().stopFocus();
    EXPECT_FALSE(c.cat().nestLedge.has_value());
}

// The default filmed look on the session's own desktop, with a real pointer:
// carried by xdotool from each place it sits, the cat is drawn where the
// pointer took hold of it; and on the ask panel near the top of the screen, its
// line leaves the panel uncovered.
TEST(Runtime, TheCatStaysWhereThePointerHoldsItFromTheClockAWindowAndThePanel)
{
    if (CompanionLibrary::variant(QStringLiteral("ginger")).id != QStringLiteral("ginger"))
        GTEST_SKIP() << "the build's filmed looks are not in the bundle";
    using namespace std::chrono_literals;
    Coordinator c(true, {}, nullptr, CompanionDesktop::system());
    c.model().setCompanionVariantID(QStringLiteral("ginger"));
    CompanionController &cat = c.cat();
    const auto frames = [&](const std::function<bool()> &done) {
        return zktest::spinUntil([&] {
            c.h.clock.advance(34ms);
            return done();
        });
    };
    const auto carried = [&] { return cat.brain().pose.state == CompanionState::carried; };
    // Taken hold of at the middle of its picture, carried to `to` in steps and dropped.
    const auto carry = [&](const char *from, QPoint to, const std::function<void()> &beforeDrop = {}) {
        SCOPED_TRACE(from);
        CompanionPanel *panel = cat.panels().front();
        // At rest, with no line beside it: the cat's window is its picture.
        ASSERT_TRUE(frames([&] {
            return panel->placement().isValid() && zktest::serverFrame(panel) == panel->placement() &&
                   !panel->frame().scene.bubble;
        })) << "the cat's window at " << zktest::rectText(zktest::serverFrame(panel)) << ", placed at "
            << zktest::rectText(panel->placement());
        const QPoint grip = zktest::serverFrame(panel).center();
        zktest::pointAt(grip);
        ASSERT_TRUE(frames([&] { // the X server finds the cat's window under the pointer
            xcb_connection_t *x = X11::connection();
            xcb_query_pointer_reply_t *r = xcb_query_pointer_reply(x, xcb_query_pointer(x, X11::rootWindow()), nullptr);
            const bool onCat = r && r->child == xcb_window_t(panel->winId());
            std::free(r);
            return onCat;
        }));
        zktest::xdotool({"mousedown", "1"});
        // Dropped on the way out, also after a failed step.
        const std::shared_ptr<void> drop(nullptr, [](void *) { zktest::xdotool({"mouseup", "1"}); });
        for (int i = 1; i <= 6; ++i) {
            const QPoint p = grip + (to - grip) * i / 6;
            zktest::pointAt(p);
            ASSERT_TRUE(frames([&] {
                return carried() && (zktest::serverFrame(panel).center() - p).manhattanLength() <= 4;
            })) << "step " << i << ": the pointer at " << p.x() << "," << p.y() << ", the cat drawn at "
                << zktest::rectText(zktest::serverFrame(panel)) << (carried() ? ", carried" : ", not carried");
        }
        if (beforeDrop)
            beforeDrop();
    };

    // The workspace window's top is a window top to stand on (the test's own
    // windows are not: the cat leaves its own program's windows out).
    QWidget *home = c.runtime->workspace().window();
    const auto onHome = [&] {
        return !carried() && cat.brain().support.kind == CompanionBrain::Support::Kind::ledge &&
               cat.brain().support.ledge.windowNumber == int(home->winId());
    };
    // The grip is the middle of the picture, 31 points above the paws: dropped
    // with them 20 points over the window's top, the cat lands there.
    const auto overHome = [&](int x) { return QPoint(x, home->frameGeometry().top() - 20 - 31); };

    c.model().startFocus(25);
    ASSERT_TRUE(frames([&] { return cat.brain().pose.state == CompanionState::nest; }));
    // The round ends while the cat is held, so it stays where it is put.
    ASSERT_NO_FATAL_FAILURE(carry("from the clock", overHome(450), [&] { c.model().stopFocus(); }));
    ASSERT_TRUE(frames(onHome)) << "on support " << int(cat.brain().support.kind);
    ASSERT_NO_FATAL_FAILURE(carry("from a window's top", overHome(700)));
    ASSERT_TRUE(frames(onHome)) << "on support " << int(cat.brain().support.kind);

    c.raise(AppEvent::of(AppEvent::Kind::askRequested));
    AskPanelController &ask = c.runtime->ask();
    ASSERT_TRUE(ask.isVisible());
    const auto perched = [&] { return cat.brain().pose.state == CompanionState::perch; };
    ASSERT_TRUE(frames(perched));
    ASSERT_NO_FATAL_FAILURE(carry("from the ask panel", zktest::serverFrame(ask.panel()).topLeft() + QPoint(200, -80)));

    // The panel near the top (a long conversation, or moved there): the line
    // goes where it covers none of it.
    ask.panel()->move(ask.panel()->x(), 120);
    ASSERT_TRUE(frames([&] {
        return perched() && zktest::serverFrame(ask.panel()).top() == 120 && cat.perchLedge &&
               cat.brain().pose.position.y() == cat.perchLedge->y;
    }));
    cat.say(QStringLiteral("I'll sit right here for 25 minutes."), 1e6);
    CompanionPanel *panel = cat.panels().front();
    ASSERT_TRUE(frames([&] {
        return panel->frame().scene.bubble && panel->frame().bubbleOpacity == 1 &&
               zktest::serverFrame(panel) == panel->placement();
    }));
    const CanvasScene::Bubble bubble = *panel->frame().scene.bubble;
    const QRect said = bubble.rectFor(CanvasPainter::bubbleSize(panel->frame().bubbleText, bubble.tailEdge))
                           .translated(panel->canvasOrigin())
                           .toAlignedRect();
    EXPECT_FALSE(said.intersects(zktest::serverFrame(ask.panel())))
        << "the line at " << zktest::rectText(said) << " covers the panel at "
        << zktest::rectText(zktest::serverFrame(ask.panel()));
    EXPECT_TRUE(QRect(0, 0, 1280, 800).contains(said)) << "the line at " << zktest::rectText(said);
    EXPECT_TRUE(zktest::serverFrame(panel).contains(said)) << "the cat's window holds its line";

    // At the screen's top the panel leaves the cat no room above it: the cat sits
    // elsewhere, off the panel's buttons, and comes back once the panel is lower.
    ask.panel()->move(1280 - ask.panel()->width(), 30);
    cat.brain().pose.position.setX(1280); // over the Close button, were it to stay
    const auto figure = [&] { return panel->frame().scene.figureFrame.translated(panel->canvasOrigin()).toAlignedRect(); };
    EXPECT_TRUE(frames([&] {
        const CompanionState s = cat.brain().pose.state;
        return zktest::serverFrame(ask.panel()).top() == 30 && s != CompanionState::jump && s != CompanionState::fall &&
               cat.brain().support.kind != CompanionBrain::Support::Kind::perch;
    })) << "still on the panel, drawn at " << zktest::rectText(figure());
    const QWidget *close = ask.view()->closeButton();
    EXPECT_FALSE(figure().intersects(QRect(close->mapToGlobal(QPoint()), close->size()))) << zktest::rectText(figure());
    ask.panel()->move(ask.panel()->x(), 120);
    EXPECT_TRUE(frames(perched));
}

TEST(Runtime, TheUpdatersHooks)
{
    FakeClock updateClock;
    FakeUpdater updater;
    FakePrompt prompt;
    DefaultsStore updateStore;
    Updates::Environment environment;
    environment.applicationActive = [] { return true; };
    environment.runningBuild = [] { return QStringLiteral("10"); };
    Updates updates(updater, prompt, environment, &updateStore, &updateClock);
    auto c = std::make_unique<Coordinator>(true, std::function<void(DefaultsStore &)>{}, &updates);
    EXPECT_TRUE(updater.started) << "the coordinator starts the updater";
    ASSERT_TRUE(updates.workspace);
    EXPECT_EQ(updates.workspace(), static_cast<QObject *>(c->runtime->workspace().window()));

    // Occupied: a composer open in the application puts a check off with a notice.
    c->model().setComposerPresented(true);
    updates.checkNow();
    EXPECT_EQ(updater.userChecks, 0);
    ASSERT_TRUE(c->model().notice().has_value());
    EXPECT_EQ(c->model().notice()->text,
              QStringLiteral("Finish your current post or wait for the reply before restarting."));
    EXPECT_EQ(c->model().notice()->tone, AppNotice::Tone::attention);
    int relaunched = 0;
    EXPECT_TRUE(updater.delegate->shouldPostponeRelaunch(item(QStringLiteral("11"), QStringLiteral("2.0")),
                                                         [&] { ++relaunched; }));
    EXPECT_TRUE(updates.relaunchPending());
    EXPECT_EQ(relaunched, 0);
    // No longer busy: the next minute's check relaunches; with no page there is
    // no input to keep, so it goes on at once.
    c->model().setComposerPresented(false);
    updateClock.advanceSeconds(60);
    EXPECT_EQ(relaunched, 1);
    updates.checkNow();
    EXPECT_EQ(updater.userChecks, 1);
    EXPECT_TRUE(updater.delegate->shouldPostponeRelaunch(item(QStringLiteral("11"), QStringLiteral("2.0")),
                                                         [&] { ++relaunched; }))
        << "handed to preserveInput";
    EXPECT_EQ(relaunched, 2);

    // Ready: the desktop cat says so for 6 s.
    int installs = 0;
    updater.delegate->willInstallUpdateOnQuit(item(QStringLiteral("11"), QStringLiteral("2.0")), [&] { ++installs; });
    const QString grown = QStringLiteral("I've grown a little: version 2.0. Restart me when it suits you.");
    EXPECT_EQ(c->spoken.last(), (Spoken{grown, false}));
    EXPECT_EQ(c->bubble(), grown);
    // Not with the companion off, nor while the cat stands aside.
    c->h.clock.advanceSeconds(91);
    c->model().setCompanionEnabled(false);
    const int said = c->spoken.size();
    updater.delegate->willInstallUpdateOnQuit(item(QStringLiteral("12"), QStringLiteral("2.1")), [&] { ++installs; });
    EXPECT_EQ(c->spoken.size(), said);
    c->model().setCompanionEnabled(true);
    c->cat().setAside(true);
    c->h.clock.advanceSeconds(91);
    updater.delegate->willInstallUpdateOnQuit(item(QStringLiteral("13"), QStringLiteral("2.2")), [&] { ++installs; });
    EXPECT_EQ(c->spoken.size(), said);
    c->cat().setAside(false);

    // Without the coordinator the hooks answer busy and keep no window: nothing
    // restarts or checks under a quitting application.
    c.reset();
    EXPECT_EQ(updates.workspace(), nullptr);
    updates.checkNow();
    EXPECT_EQ(installs, 0);
    EXPECT_EQ(updater.userChecks, 1);
    EXPECT_TRUE(updater.delegate->shouldPostponeRelaunch(item(QStringLiteral("14"), QStringLiteral("2.3")),
                                                         [&] { ++relaunched; }));
    EXPECT_TRUE(updates.relaunchPending());
    EXPECT_EQ(relaunched, 2);
}

TEST(Runtime, TheApplicationInstallsTheSessionsWindowsAndNotifications)
{
    EXPECT_FALSE(WindowSource::system().trusted()) << "nothing installed: no windows to tuck away";
    const auto browserSignIn = [] { return dynamic_cast<WebAuthDialogSession *>(WebAuthSession::make({}).get()) != nullptr; };
    EXPECT_FALSE(browserSignIn()) << "nothing installed: a browser sign-in cannot start";
    {
        DesktopServices services;
        EXPECT_TRUE(browserSignIn()) << "Google sign-in and the Instagram connection run in the sign-in dialog";
        EXPECT_TRUE(WindowSource::system().trusted()) << "an X11 session is all the trust tucking away needs";
        EXPECT_NE(dynamic_cast<FreedesktopNotifications *>(&UserNotifications::system()), nullptr);
        // A state object of the application's kind (no windows of its own) finds them.
        Harness h;
        AppModel::Environment environment;
        environment.api = &h.service;
        environment.defaults = &h.store;
        environment.clock = &h.clock;
        AppModel model(environment);
        model.tuckAwayDistractions();
        EXPECT_TRUE(model.accessibilityTrusted());
    }
    EXPECT_FALSE(WindowSource::system().trusted());
    EXPECT_EQ(dynamic_cast<FreedesktopNotifications *>(&UserNotifications::system()), nullptr);
    EXPECT_FALSE(browserSignIn());
}

TEST(Runtime, TheCatInsideTheWebWindowSpeaksThereAndHandsItsCaptionBackWhenTheWindowGoes)
{
    if (CompanionLibrary::variant(QStringLiteral("ginger")).id != QStringLiteral("ginger"))
        GTEST_SKIP() << "the build's filmed looks are not in the bundle (the drawn look is never drawn in the page)";
    Standin::Server server;
    ASSERT_NE(Standin::startSecure(server), 0);
    server.setProviderURL(Standin::secureOrigin(server));
    server.addAccount(QStringLiteral("kitty@example.com"), QStringLiteral("meow-meow-meow"), QStringLiteral("Kitty Cat"));

    Harness h;
    // The records on a small disk of the test's own, where writes can fail.
    zktest::PrivateMount disk(64);
    const QString folder = disk.path() + QStringLiteral("/zephyl-kitty");
    if (!disk.path().isEmpty()) {
        delete &RecordStore::of(h.store);
        new RecordStore(folder + QStringLiteral("/records"), &h.store);
    }
    AppModel &model = h.make();
    model.setCompanionVariantID(QStringLiteral("ginger"));
    ASSERT_TRUE(model.usesWebWorkspace());
    Runtime::Parts parts;
    parts.model = &model;
    parts.desktop = std::make_unique<DescribedDesktop>();
    parts.webBaseURL = QUrl(Standin::secureOrigin(server));
    parts.webTrustedCertificate = Standin::certificate();
    parts.webStorageName = QStringLiteral("runtime-test");
    parts.trayIcon = false;
    parts.hotKey = false;
    auto runtime = std::make_unique<Runtime>(std::move(parts));
    QList<Spoken> spoken;
    QObject::connect(runtime.get(), &Runtime::spoke,
                     [&](const QString &text, bool inWindow) { spoken.append({text, inWindow}); });
    // The web workspace has no notice banner: a write that fails is said by the
    // cat, also one met before the start.
    const QString full =
        QStringLiteral("The disk holding %1 is full, so changes are not kept on this computer for now.").arg(folder);
    if (!disk.path().isEmpty()) {
        ASSERT_TRUE(disk.fill());
        RecordStore::of(h.store).write(QStringLiteral("unsent-text"), QStringLiteral("x@example.com"), QByteArray(6000, 'x'));
    }
    runtime->start();
    if (!disk.path().isEmpty()) {
        EXPECT_EQ(spoken.last(), (Spoken{full, false}));
        ASSERT_TRUE(disk.unfill());
        RecordStore::of(h.store).writeAgain(); // written: the trouble is over
    }
    WebWorkspace *web = runtime->web();
    ASSERT_NE(web, nullptr);
    EXPECT_EQ(runtime->workspace().kind(), WorkspaceWindowController::Kind::web);

    // Signed in through the page, as a user does.
    using Phase = WebWorkspaceModel::Phase;
    ASSERT_TRUE(zktest::spinUntil([&] { return web->phase().kind == Phase::Kind::signIn; }, std::chrono::seconds(60)));

    // The sign-in page draws no cat: a remark meant for the cat in the window is
    // said by the desktop cat, as in the native workspace, and charged once.
    ASSERT_TRUE(zktest::spinUntil([&] { return runtime->workspaceInView(); }));
    runtime->governor() = SpeechGovernor{};
    const QString hungry = QStringLiteral("Still nothing to eat.");
    model.raiseEvent(AppEvent::catHungry(hungry));
    ASSERT_FALSE(spoken.isEmpty());
    EXPECT_EQ(spoken.last(), (Spoken{hungry, false}));
    EXPECT_EQ(runtime->companion().viewModel().bubble().value_or(QString()), hungry);
    const int said = spoken.size();
    model.raiseEvent(AppEvent::lateNight(QStringLiteral("It's late.")));
    EXPECT_EQ(spoken.size(), said) << "the governor's gap holds the next remark";
    runtime->governor() = SpeechGovernor{};
    EXPECT_FALSE(runtime->momentUnasked(QStringLiteral("Nobody sees this."), std::nullopt));
    EXPECT_FALSE(runtime->governor().lastSpokeAt.has_value()) << "a remark shown nowhere is not charged";
    ASSERT_TRUE(zktest::spinUntil([&] {
        return zktest::evaluate(web->page(), QStringLiteral("!!(window.standin && window.standin.kind === 'signin')")).toBool();
    }));
    zktest::evaluate(web->page(), QStringLiteral("var f = document.getElementById('signin'); f.email.value = "
                                                 "'kitty@example.com'; f.password.value = 'meow-meow-meow'; "
                                                 "f.requestSubmit(); true"));
    ASSERT_TRUE(zktest::spinUntil([&] { return web->phase().kind == Phase::Kind::workspace && web->workspaceReady(); },
                                  std::chrono::seconds(60)));
    ASSERT_TRUE(zktest::spinUntil([&] { return runtime->workspaceInView(); }));

    // The cat comes into the page: the desktop cat stands aside, and a line is
    // shown in the page.
    CompanionController &cat = runtime->companion();
    web->stage().show(InWindowCatStage::Look::happy, QSizeF(1000, 700), 30);
    ASSERT_TRUE(web->catInside());
    ASSERT_TRUE(zktest::spinUntil([&] { return cat.aside(); }));
    const QString line = QStringLiteral("Right here, in your window.");
    runtime->say(line, 6);
    ASSERT_FALSE(spoken.isEmpty());
    EXPECT_EQ(spoken.last(), (Spoken{line, true}));
    EXPECT_NE(cat.viewModel().bubble().value_or(QString()), line);
    // Typing that cannot be kept is said where the cat is, once.
    if (!disk.path().isEmpty()) {
        ASSERT_TRUE(zktest::spinUntil([&] { return model.inputOwner() == QStringLiteral("kitty@example.com"); }));
        ASSERT_TRUE(disk.fill());
        const qsizetype before = spoken.size();
        model.setAskInput(QString(5000, u'q'));
        model.setAskInput(QString(5001, u'q'));
        EXPECT_EQ(spoken.mid(before), (QList<Spoken>{{full, true}}));
        ASSERT_TRUE(disk.unfill());
        model.setAskInput(QString());
    }
    // Any other notice too (an update's restart put off), and with the cat
    // switched off, as a desktop notification; a lapsed session is the page's to show.
    const QString putOff = QStringLiteral("Finish your current post or wait for the reply before restarting.");
    model.setNotice(AppNotice::make(putOff, AppNotice::Tone::attention));
    EXPECT_EQ(spoken.last(), (Spoken{putOff, true}));
    web->stage().clear();
    ASSERT_TRUE(zktest::spinUntil([&] { return !web->catInside(); }));
    model.setCompanionEnabled(false);
    const qsizetype saidBefore = spoken.size(), postedBefore = h.notifications.posted.size();
    model.setNotice(AppNotice::make(putOff, AppNotice::Tone::attention));
    model.setNotice(AppNotice::make(QStringLiteral("Your session has expired. Sign in again."), AppNotice::Tone::attention));
    EXPECT_EQ(spoken.size(), saidBefore);
    EXPECT_EQ(h.notifications.posted.mid(postedBefore), (QList<Posted>{{QStringLiteral("Zephyl Kitty"), putOff}}));
    model.setCompanionEnabled(true);
    web->stage().show(InWindowCatStage::Look::happy, QSizeF(1000, 700), 30);
    ASSERT_TRUE(zktest::spinUntil([&] { return cat.aside(); }));
    // A remark while the window is in view goes to the page; a fed cat is no longer hungry.
    cat.hungry = true;
    runtime->governor() = SpeechGovernor{};
    model.raiseEvent(AppEvent::catFed(QStringLiteral("Thanks for the meal.")));
    EXPECT_EQ(spoken.last(), (Spoken{QStringLiteral("Thanks for the meal."), true}));
    EXPECT_FALSE(cat.hungry);
    runtime->say(line, 6);

    // The window is minimised: half a second later the desktop cat is back and
    // finishes the page's caption.
    QElapsedTimer gone;
    gone.start();
    runtime->workspace().window()->showMinimized();
    ASSERT_TRUE(zktest::spinUntil([&] { return !cat.aside(); }, std::chrono::seconds(5)));
    EXPECT_GE(gone.elapsed(), 450);
    EXPECT_EQ(spoken.last(), (Spoken{line, false}));
    EXPECT_EQ(cat.viewModel().bubble().value_or(QString()), line);
    // Out of view, a remark is the desktop cat's, not the page's.
    runtime->governor() = SpeechGovernor{};
    model.raiseEvent(AppEvent::catHungry(QStringLiteral("Still hungry.")));
    EXPECT_EQ(spoken.last(), (Spoken{QStringLiteral("Still hungry."), false}));

    // Back in view with the cat still in the page: aside again.
    runtime->showWorkspace(std::nullopt);
    ASSERT_TRUE(zktest::spinUntil([&] { return cat.aside(); }));
    // Closed (hidden, as its close button does) with the cat still in the
    // page: a line is the desktop cat's, not the hidden page's.
    runtime->workspace().window()->hide();
    ASSERT_TRUE(zktest::spinUntil([&] { return !cat.aside(); }, std::chrono::seconds(5)));
    const QString away = QStringLiteral("Over here now.");
    runtime->say(away, 6);
    EXPECT_EQ(spoken.last(), (Spoken{away, false}));
    EXPECT_EQ(cat.viewModel().bubble().value_or(QString()), away);
    runtime->showWorkspace(std::nullopt);
    ASSERT_TRUE(zktest::spinUntil([&] { return cat.aside(); }));

    // Another window over the whole screen covers it (it stays exposed under a
    // compositing manager): the desktop cat comes back with the page's caption,
    // and stands aside again once the cover has gone.
    const QString under = QStringLiteral("Under there.");
    runtime->say(under, 6);
    EXPECT_EQ(spoken.last(), (Spoken{under, true}));
    QWidget cover;
    cover.setWindowTitle(QStringLiteral("cover"));
    cover.showFullScreen();
    ASSERT_TRUE(zktest::spinUntil([&] { return !cat.aside(); }, std::chrono::seconds(10)));
    EXPECT_FALSE(runtime->workspaceInView());
    EXPECT_TRUE(runtime->workspace().window()->isVisible());
    EXPECT_EQ(spoken.last(), (Spoken{under, false}));
    cover.hide();
    ASSERT_TRUE(zktest::spinUntil([&] { return cat.aside(); }, std::chrono::seconds(10)));

    // The page's reports of publications: "published", "scheduled" and "waiting"
    // feed the cat with their lines (in the page, where the cat is now);
    // "failed" and "preparation_failed" show the concerned line in the page
    // only; any other status, or one in other letters, nothing.
    auto report = [&](const char *id, const char *status) {
        const int before = spoken.size();
        zktest::evaluate(web->page(), QStringLiteral("window.webkit.messageHandlers.zephyl.postMessage({type: "
                                                     "'publication', id: '%1', status: '%2'}); true")
                                          .arg(QLatin1String(id), QLatin1String(status)));
        zktest::spinUntil([&] { return spoken.size() > before; }, std::chrono::seconds(3));
        return spoken.size() > before ? std::optional(spoken.last()) : std::nullopt;
    };
    cat.hungry = true;
    EXPECT_EQ(report("w1", "waiting"), (Spoken{QStringLiteral("Scheduled. I'll keep an eye on it."), true}));
    EXPECT_FALSE(cat.hungry);
    EXPECT_EQ(model.wellbeing().mood(h.clock.now()), CatWellbeing::Mood::fed);
    cat.hungry = true;
    EXPECT_EQ(report("s1", "scheduled"), (Spoken{QStringLiteral("Scheduled. I'll keep an eye on it."), true}));
    EXPECT_FALSE(cat.hungry);
    cat.hungry = true;
    EXPECT_EQ(report("p1", "published"), (Spoken{QStringLiteral("Published. That one is out in the world."), true}));
    EXPECT_FALSE(cat.hungry);
    const QString desktopBubble = cat.viewModel().bubble().value_or(QString());
    EXPECT_EQ(report("f1", "failed"), (Spoken{QStringLiteral("That one did not go through. The plan says why."), true}));
    EXPECT_EQ(cat.viewModel().bubble().value_or(QString()), desktopBubble) << "nothing on the desktop";
    EXPECT_EQ(report("f2", "preparation_failed"),
              (Spoken{QStringLiteral("That one did not go through. The plan says why."), true}));
    EXPECT_EQ(cat.viewModel().bubble().value_or(QString()), desktopBubble) << "nothing on the desktop";
    for (const char *other : {"processing", "cancelled", "Published"})
        EXPECT_EQ(report("x1", other), std::nullopt) << other;
    runtime.reset();
}

TEST(Runtime, CheckForUpdatesInABuildWithoutAnUpdateKeySaysTheCopyDoesNotUpdateItself)
{
    UpdateEngine::Config config = UpdateEngine::applicationConfig();
    if (!config.publicKey.isEmpty())
        GTEST_SKIP() << "this build carries an update key";
    UpdatePromptController prompt;
    UpdateWindows windows;
    UpdateEngine engine(config, &windows);
    Updates::Environment environment;
    environment.applicationActive = [] { return true; };
    environment.runningBuild = [config] { return config.runningBuild; };
    DefaultsStore updateStore;
    FakeClock updateClock;
    Updates updates(engine, prompt, environment, &updateStore, &updateClock);
    Coordinator c(true, {}, &updates);
    StatusMenuController *menu = c.runtime->statusMenu();
    ASSERT_NE(menu, nullptr);
    Q_EMIT menu->menu()->aboutToShow();
    QAction *check = nullptr;
    for (QAction *action : menu->menu()->actions())
        check = action->text() == QStringLiteral("Check for Updates…") ? action : check;
    ASSERT_NE(check, nullptr);
    check->trigger();
    ASSERT_TRUE(zktest::spinUntil([&] { return !windows.shownMessage().isEmpty(); }, std::chrono::seconds(10)));
    EXPECT_EQ(windows.shownMessage(),
              QStringLiteral("This copy doesn't update itself. New versions come the way it was installed."));
}
