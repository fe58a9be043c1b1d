// The coordinator on a real X session (window manager, compositor, tray and a
// session bus), over a model with a scripted service, a virtual clock and a
// described desktop for the cat: one start, the events carried where they go,
// every tray command, links.

#include "../app/AppTestSupport.h"
#include "support/TestSupport.h"

#include "ask/AskPanelController.h"
#include "ask/GlobalHotKey.h"
#include "companion/CompanionController.h"
#include "companion/CompanionDesktop.h"
#include "shell/FocusTimerController.h"
#include "shell/Runtime.h"
#include "shell/StatusMenuController.h"
#include "workspace/CompanionSettingsWindow.h"
#include "workspace/ComposerView.h"
#include "workspace/WorkspaceWindowController.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

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

struct Spoken {
    QString text;
    bool inWindow = false;
    friend bool operator==(const Spoken &, const Spoken &) = default;
};

// A coordinator over the native workspace (no web engine): the page's part is
// covered by its own test.
struct Coordinator {
    Harness h;
    std::unique_ptr<Runtime> runtime;
    QList<Spoken> spoken;

    explicit Coordinator(bool start = true, const std::function<void(DefaultsStore &)> &settings = {})
    {
        h.store.setBool(QStringLiteral("zephyl.mac.workspace.native"), true);
        if (settings)
            settings(h.store);
        AppModel &model = h.make();
        model.setEvents({});
        Runtime::Parts parts;
        parts.model = &model;
        parts.clock = &h.clock;
        parts.desktop = std::make_unique<DescribedDesktop>();
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
    void hideWorkspace()
    {
        if (QWidget *w = runtime->workspace().window())
            w->hide();
        zktest::spinUntil([&] { return !runtime->workspaceInView(); });
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

    c.raise(AppEvent::scheduled(publication(std::nullopt, 1'765'000'000'000)));
    EXPECT_TRUE(c.spoken.last().text.startsWith(QStringLiteral("Scheduled for "))) << c.spoken.last().text.toStdString();
    EXPECT_TRUE(c.spoken.last().text.endsWith(u'.'));
}

TEST(Runtime, CareLinesGoThroughTheGovernorAndBreakTimeAlwaysStretches)
{
    Coordinator c;
    c.hideWorkspace();
    c.settle();
    c.raise(AppEvent::catFed(QStringLiteral("Thanks for the meal.")));
    EXPECT_TRUE(c.asked(CompanionGoal::Kind::celebrate));
    EXPECT_EQ(c.spoken.last().text, QStringLiteral("Thanks for the meal."));
    EXPECT_FALSE(c.cat().hungry);

    // Within the governor's gap the next remark is not said, but the stretch comes.
    c.settle();
    const int before = c.spoken.size();
    c.raise(AppEvent::breakTime(QStringLiteral("Time to stretch.")));
    EXPECT_TRUE(c.asked(CompanionGoal::Kind::stretch));
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
    c.runtime->showWorkspace();
    ASSERT_TRUE(zktest::spinUntil([&] { return c.runtime->workspaceInView(); }));
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
    EXPECT_TRUE(c.spoken.last().text.contains(QStringLiteral("25"))) << c.spoken.last().text.toStdString();

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
}

TEST(Runtime, SettingsThemeCompanionSwitchAndComposer)
{
    Coordinator c;
    c.raise(AppEvent::of(AppEvent::Kind::settingsRequested));
    QWidget *settings = c.runtime->companionSettings().window();
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(settings->isVisible());
    settings->close();
    c.raise(AppEvent::of(AppEvent::Kind::settingsRequested));
    EXPECT_EQ(c.runtime->companionSettings().window(), settings) << "one settings window, shown again";
    EXPECT_TRUE(settings->isVisible());

    c.model().setCompanionEnabled(false);
    EXPECT_FALSE(c.cat().isRunning());
    c.model().setCompanionEnabled(true);
    EXPECT_TRUE(c.cat().isRunning());

    c.model().setCompanionWanders(true);
    c.model().setCompanionTemper(CompanionTemper::lively);
    EXPECT_TRUE(c.cat().wanders);
    EXPECT_EQ(c.cat().temper, CompanionTemper::lively);

    c.hideWorkspace();
    c.model().openComposer(std::nullopt);
    EXPECT_TRUE(c.model().composerPresented());
    EXPECT_TRUE(c.runtime->workspace().window()->isVisible()) << "the native composer comes with its window";
}

TEST(Runtime, EveryTrayCommand)
{
    Coordinator c;
    StatusMenuController *menu = c.runtime->statusMenu();
    ASSERT_NE(menu, nullptr);
    auto trigger = [&](const QString &title) {
        Q_EMIT menu->menu()->aboutToShow();
        for (QAction *action : menu->menu()->actions()) {
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

    c.hideWorkspace();
    ASSERT_TRUE(trigger(QStringLiteral("Open Zephyl")));
    EXPECT_TRUE(c.runtime->workspace().window()->isVisible());

    ASSERT_TRUE(trigger(QStringLiteral("Start focus (25 min)")));
    EXPECT_TRUE(c.model().focus().isRunning());
    ASSERT_TRUE(trigger(QStringLiteral("End focus session")));
    EXPECT_FALSE(c.model().focus().isRunning());

    ASSERT_TRUE(trigger(QStringLiteral("New publication")));
    EXPECT_TRUE(c.model().composerPresented());
    // The sheet itself stands in the workspace window, not only the flag.
    QCoreApplication::processEvents();
    const auto *composer = c.runtime->workspace().window()->findChild<ComposerView *>();
    ASSERT_NE(composer, nullptr);
    EXPECT_TRUE(composer->isVisible());
    c.model().setComposerPresented(false);

    ASSERT_TRUE(trigger(QStringLiteral("Show the companion")));
    EXPECT_FALSE(c.model().companionEnabled());
    EXPECT_FALSE(c.cat().isRunning());
    ASSERT_TRUE(trigger(QStringLiteral("Show the companion")));
    EXPECT_TRUE(c.cat().isRunning());

    ASSERT_TRUE(trigger(QStringLiteral("Your cat…")));
    ASSERT_NE(c.runtime->companionSettings().window(), nullptr);
    EXPECT_TRUE(c.runtime->companionSettings().window()->isVisible());

    ASSERT_TRUE(trigger(QStringLiteral("Show what the cat does")));
    EXPECT_TRUE(c.runtime->tour().running());
    EXPECT_EQ(c.spoken.last().text, QStringLiteral("Hi! Let me show you what I can do."));
    c.runtime->tour().cancel();
    ASSERT_TRUE(zktest::spinUntil([&] { return !c.runtime->tour().running(); }));
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

    // Nobody asked for a Google sign-in: its callback changes nothing. Links of
    // any shape leave the application as it was.
    const SessionState before = c.model().session();
    c.runtime->open({QStringLiteral("sorvane://auth-google#access_token=forged"),
                     QStringLiteral("sorvane://nowhere/at/all?") + QString(8000, u'x'),
                     QStringLiteral("sorvane://cat/%2e%2e/settings"), QStringLiteral("not a link"), QString()});
    EXPECT_EQ(c.model().session(), before);
}
