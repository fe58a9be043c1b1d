// The update reminder policy on a fake updater in virtual time: when checks
// run, once a day per build, nothing while busy, restarts put off and resumed.
#include <gtest/gtest.h>

#include "UpdateFakes.h"
#include "VirtualTime.h"
#include "base/DefaultsStore.h"
#include "shell/Updates.h"

namespace {

class UpdatePolicyTest : public ::testing::Test {
protected:
    UpdatePolicyTest()
    {
        Updates::Environment env;
        env.applicationActive = [this] { return active; };
        env.runningBuild = [this] { return running; };
        updates = std::make_unique<Updates>(updater, prompt, env, &store, &clock);
        updates->occupied = [this] { return busy; };
        updates->workspace = [this] { return &window; };
        updates->onRestartDeferred = [this] { ++deferred; };
    }
    FakeClock clock;
    DefaultsStore store;
    QObject window;
    FakeUpdater updater;
    FakePrompt prompt;
    bool active = true;
    bool busy = false;
    QString running = QStringLiteral("11");
    int deferred = 0;
    std::unique_ptr<Updates> updates;
};

} // namespace

TEST_F(UpdatePolicyTest, ChecksAtStartThenAtMostHourlyWhenDue)
{
    updates->start();
    updates->start();
    EXPECT_EQ(updater.background, 1); // forced at start, once
    // That check fails, and the updater notes when it ran: the schedule goes on all the same.
    updater.lastCheck = clock.now();
    updater.delegate->didFinishUpdateCycle(UpdateError::network);
    advanceVirtual(clock, 3599);
    EXPECT_EQ(updater.background, 1);
    advanceVirtual(clock, 1);
    EXPECT_EQ(updater.background, 2); // the tick a whole hour later, to the second
    advanceVirtual(clock, 30);
    updater.lastCheck = clock.now(); // due at 7230 s
    advanceVirtual(clock, 3629);
    EXPECT_EQ(updater.background, 2);
    advanceVirtual(clock, 1);
    EXPECT_EQ(updater.background, 3); // the first minute tick once an hour has passed, at 7260 s
    updater.lastCheck = clock.now();
    updates->applicationBecameActive();
    EXPECT_EQ(updater.background, 3);
    // A last check dated ahead of the clock (it ran fast then) holds nothing back.
    updater.lastCheck = clock.now().addDays(30);
    advanceVirtual(clock, 60);
    EXPECT_EQ(updater.background, 4);
    // Never checked yet (no date at all): due at the next tick and on activation.
    updater.lastCheck.reset();
    advanceVirtual(clock, 60);
    EXPECT_EQ(updater.background, 5);
    updates->applicationBecameActive();
    EXPECT_EQ(updater.background, 6);
    updater.automatic = false;
    advanceVirtual(clock, 7200);
    EXPECT_EQ(updater.background, 6);
}

TEST_F(UpdatePolicyTest, OncePerBuildPerDay)
{
    updates->start();
    updater.delegate->willHandleShowingUpdate(false, item("12", "1.2"));
    ASSERT_EQ(prompt.shown.size(), 1);
    EXPECT_EQ(prompt.shown[0], (UpdateOffer{"12", "1.2", ""}));
    EXPECT_EQ(store.string("zephyl.mac.update.remindedBuild"), QStringLiteral("12"));
    EXPECT_TRUE(store.number("zephyl.mac.update.remindedAt").has_value());

    prompt.dismiss(); // Later
    advanceVirtual(clock, 86400 - 1);
    updates->applicationBecameActive();
    EXPECT_EQ(prompt.shown.size(), 1);
    advanceVirtual(clock, 1);
    EXPECT_EQ(prompt.shown.size(), 2); // a whole day later, at that minute's tick

    prompt.dismiss();
    updater.delegate->willHandleShowingUpdate(false, item("13", "1.3"));
    EXPECT_EQ(prompt.shown.size(), 3); // a newer build at once

    // The day's record survives a restart of the application.
    prompt.dismiss();
    Updates::Environment env{[] { return true; }, [] { return QStringLiteral("11"); }};
    FakeUpdater again;
    FakePrompt secondPrompt;
    Updates restarted(again, secondPrompt, env, &store, &clock);
    EXPECT_EQ(restarted.reminder().lastBuild, QStringLiteral("13"));
    restarted.start();
    again.delegate->willHandleShowingUpdate(false, item("13", "1.3"));
    EXPECT_TRUE(secondPrompt.shown.isEmpty());

    // A reminder recorded ahead of the clock (it ran fast then) does not hold
    // the build back for a month.
    const qint64 reference = QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    store.setNumber("zephyl.mac.update.remindedAt", (clock.now().addDays(30).toMSecsSinceEpoch() - reference) / 1000.0);
    FakeUpdater later;
    FakePrompt thirdPrompt;
    Updates ahead(later, thirdPrompt, env, &store, &clock);
    ahead.start();
    later.delegate->willHandleShowingUpdate(false, item("13", "1.3"));
    EXPECT_EQ(thirdPrompt.shown.size(), 1);
}

TEST_F(UpdatePolicyTest, NothingWhileBusyOrInactiveOrNotNewer)
{
    updates->start();
    struct Case {
        const char *name;
        std::function<void()> make;
    };
    const std::vector<Case> blocked = {
        {"prompt visible", [this] { prompt.visible = true; }},
        {"sheet on the window", [this] { prompt.sheet = true; }},
        {"work in progress", [this] { busy = true; }},
        {"inactive", [this] { active = false; }},
        {"same build", [this] { running = QStringLiteral("12"); }},
        {"older build", [this] { running = QStringLiteral("100"); }},
    };
    for (const Case &c : blocked) {
        SCOPED_TRACE(c.name);
        prompt = FakePrompt{};
        busy = false, active = true, running = QStringLiteral("11");
        c.make();
        updater.delegate->willHandleShowingUpdate(false, item("12", "1.2"));
        EXPECT_TRUE(prompt.shown.isEmpty());
        EXPECT_FALSE(store.contains("zephyl.mac.update.remindedBuild"));
        EXPECT_FALSE(store.contains("zephyl.mac.update.remindedAt"));
    }
    // Numeric, not textual: build 10 is above build 9.
    prompt = FakePrompt{};
    busy = false, active = true, running = QStringLiteral("9");
    updater.delegate->willHandleShowingUpdate(false, item("10", "1.0"));
    EXPECT_EQ(prompt.shown.size(), 1);
    // An update the updater shows itself is not offered again here.
    prompt = FakePrompt{};
    store.remove("zephyl.mac.update.remindedBuild");
    updater.delegate->willHandleShowingUpdate(true, item("20", "2.0"));
    EXPECT_TRUE(prompt.shown.isEmpty());
}

TEST_F(UpdatePolicyTest, ReadyUpdateRestartsNowOrIsPutOffWhileBusy)
{
    QStringList ready;
    updates->onReady = [&ready](const QString &v) { ready << v; };
    int installs = 0;
    int relaunches = 0;
    int preserved = 0;
    updates->start();
    updater.delegate->willInstallUpdateOnQuit(item("12", "1.2"), [&] {
        ++installs;
        // The updater asks before it restarts.
        if (!updater.delegate->shouldPostponeRelaunch(item("12", "1.2"), [&] { ++relaunches; }))
            ++relaunches;
    });
    updater.delegate->willInstallUpdateOnQuit(item("12", "1.2"), [&] { ++installs; });
    EXPECT_EQ(updates->readyVersion(), QStringLiteral("1.2"));
    EXPECT_EQ(ready, QStringList{"1.2"}); // told once per version
    EXPECT_EQ(prompt.shown.size(), 1);

    // "Check for Updates…" while a post is being published: only the notice.
    busy = true;
    updates->checkNow();
    EXPECT_EQ(deferred, 1);
    EXPECT_EQ(installs, 0);
    EXPECT_EQ(updater.userChecks, 0);
    EXPECT_EQ(prompt.dismissed, 0);

    // Not busy: the ready update installs; the restart asks first.
    busy = false;
    updates->preserveInput = [&](std::function<void()> done) {
        ++preserved;
        done();
    };
    updater.delegate->willInstallUpdateOnQuit(item("12", "1.2"), [&] {
        ++installs;
        busy = true; // the user started publishing in between
        if (!updater.delegate->shouldPostponeRelaunch(item("12", "1.2"), [&] { ++relaunches; }))
            ++relaunches;
    });
    updates->checkNow();
    EXPECT_EQ(installs, 1);
    EXPECT_EQ(relaunches, 0);
    EXPECT_EQ(deferred, 2);
    EXPECT_TRUE(updates->relaunchPending());

    advanceVirtual(clock, 180); // still busy: the restart waits
    EXPECT_EQ(relaunches, 0);
    busy = false;
    active = false;
    advanceVirtual(clock, 60); // not active: still waits
    EXPECT_EQ(relaunches, 0);
    active = true;
    const int checksBefore = updater.background;
    advanceVirtual(clock, 60);
    EXPECT_EQ(preserved, 1); // the page saves its input, then the restart runs
    EXPECT_EQ(relaunches, 1);
    EXPECT_EQ(updater.background, checksBefore); // that tick does nothing else
    EXPECT_FALSE(updates->relaunchPending());

    // Without the hook and not busy, the updater restarts on its own.
    updates->preserveInput = nullptr;
    EXPECT_FALSE(updater.delegate->shouldPostponeRelaunch(item("12", "1.2"), [] {}));

    // The end of the cycle clears everything, the prompt included.
    prompt.visible = true;
    updater.delegate->didFinishUpdateCycle(UpdateError::network);
    EXPECT_FALSE(updates->readyVersion().has_value());
    EXPECT_FALSE(updates->pendingOffer().has_value());
    EXPECT_FALSE(prompt.visible);
    updates->checkNow();
    EXPECT_EQ(updater.userChecks, 1); // nothing ready: a check with the updater's messages
}

TEST_F(UpdatePolicyTest, NotesBecomePlainTextAndTheFeedSettingIsRead)
{
    EXPECT_EQ(Updates::plainNotes(QStringLiteral("  <p>Naps are <b>**much**</b> <i>calmer</i> now.</p>\n")),
              QStringLiteral("Naps are much calmer now."));
    EXPECT_EQ(Updates::plainNotes(QStringLiteral("<script>alert(1)</script><img src=x onerror=alert(2)>Hi")),
              QStringLiteral("alert(1)Hi"));
    EXPECT_EQ(Updates::plainNotes(QString(2500, u'a')).size(), 2000);
    // Characters as people count them: the 2000th is kept whole.
    const QString cat = QStringLiteral("\U0001F408"), accented = QStringLiteral("e\u0301");
    for (const QString &last : {cat, accented}) {
        const QString kept = QString(1999, u'a') + last;
        EXPECT_EQ(Updates::plainNotes(kept + QStringLiteral("bcd")), kept);
    }

    EXPECT_FALSE(updates->feedURLString().has_value());
    store.setString("zephyl.mac.rehearse.feed", "https://example.org/feed.xml");
    EXPECT_EQ(updates->feedURLString(), QStringLiteral("https://example.org/feed.xml"));

    // A stored reminder date that is not a date counts as absent.
    store.setString("zephyl.mac.update.remindedAt", "yesterday");
    Updates::Environment env{[] { return true; }, [] { return QStringLiteral("1"); }};
    FakeUpdater u;
    FakePrompt p;
    Updates fresh(u, p, env, &store, &clock);
    EXPECT_FALSE(fresh.reminder().lastShown.has_value());
}
