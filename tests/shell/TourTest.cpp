// The guided tour in virtual time, with and without the signed-in page, and
// its cancellation.
#include <gtest/gtest.h>

#include "VirtualTime.h"
#include "design/L10n.h"
#include "shell/GuidedTour.h"

#include <QSignalSpy>

namespace {

// Records every call with the virtual time it came at.
class FakeHost final : public TourHost {
public:
    explicit FakeHost(FakeClock &clock) : m_clock(clock) {}

    bool companionOn = true;
    bool page = true;
    bool idle = true;
    std::optional<QRectF> frame = QRectF(100, 200, 800, 600);
    bool demoing = false;
    bool clockShown = false;
    bool askShown = false;
    // The user has typed into the ask panel.
    bool keyboard = false;
    std::optional<Ledge> visitLedge;
    QStringList log;

    bool companionRunning() const override { return companionOn; }
    void startCompanion() override { companionOn = true, note("startCompanion"); }
    void stopCompanion() override { companionOn = false, note("stopCompanion"); }
    bool pageInWorkspace() const override { return page; }
    void setDemoing(bool on) override { demoing = on, note(on ? "demoing on" : "demoing off"); }
    void setDemoCarryUntil(const QDateTime &until) override
    {
        note(QStringLiteral("carry +%1").arg(m_clock.now().msecsTo(until) / 1000.0));
    }
    void showWorkspace() override { note("showWorkspace"); }
    void say(const QString &text, double seconds) override { note(QStringLiteral("say %1s: %2").arg(seconds).arg(text)); }
    std::optional<QRectF> workspaceFrame() const override { return frame; }
    void setVisitLedge(const std::optional<Ledge> &ledge) override
    {
        visitLedge = ledge;
        note(ledge ? QStringLiteral("ledge %1..%2 at %3").arg(ledge->minX).arg(ledge->maxX).arg(ledge->y)
                   : QStringLiteral("ledge none"));
    }
    void requestGoal(const CompanionGoal &goal) override
    {
        static const char *names[] = {"visit", "perch", "nest", "celebrate", "stretch", "nap"};
        note(QStringLiteral("goal ") + QString::fromLatin1(names[int(goal.kind)]));
    }
    void runPageScript(const QString &script) override
    {
        note(script == GuidedTour::composerScript() ? "script compose" : script == GuidedTour::closeSheetScript() ? "script close" : "script ?");
    }
    void peek(InWindowCatStage::Look look, double seconds) override
    {
        note(QStringLiteral("peek %1 %2s").arg(InWindowCatStage::rawValue(look)).arg(seconds));
    }
    bool focusIdle() const override { return idle; }
    void showFocusClock() override { clockShown = true, note("clock shown"); }
    void hideFocusClock() override { clockShown = false, note("clock hidden"); }
    void showAsk() override { askShown = true, note("ask shown"); }
    void hideAsk() override { askShown = false, note("ask hidden"); }
    bool askShowing() const override { return askShown; }
    bool askHasKeyboard() const override { return askShown && keyboard; }

    void note(const QString &what) { log << QStringLiteral("%1 %2").arg(m_clock.uptime(), 0, 'f', 1).arg(what); }
    void note(const char *what) { note(QString::fromLatin1(what)); }

private:
    FakeClock &m_clock;
};

class GuidedTourTest : public ::testing::Test {
protected:
    void SetUp() override { L10n::setPreference(AppLanguage::en); }
    FakeClock clock;
    FakeHost host{clock};
    GuidedTour tour{host, &clock};
};

} // namespace

TEST_F(GuidedTourTest, WithThePageAbout64Seconds)
{
    QSignalSpy finished(&tour, &GuidedTour::finished);
    tour.start();
    advanceVirtual(clock, 120);
    const QStringList expected = {
        "0.0 demoing on",
        "0.0 showWorkspace",
        "0.0 say 5s: Hi! Let me show you what I can do.",
        "5.0 ledge 124..876 at 800",
        "5.0 goal visit",
        "5.0 say 6s: I live on the edge of your window. Move it, and I ride along.",
        "11.5 ledge none",
        "11.5 script compose",
        "12.5 say 6s: Start a new post, and I jump on to watch what you write.",
        "19.0 carry +3",
        "19.0 script close",
        "19.4 say 6s: Save it or pick a time, and I carry it to your Plan.",
        "25.9 peek happy 5.4s",
        "26.2 say 6s: When a post goes out, I'm glad. A post is a meal for me.",
        "32.7 peek concerned 5.4s",
        "33.0 say 6s: If something doesn't go through, I'll tell you, and the Plan says why.",
        "40.0 clock shown",
        "40.0 say 7s: Start a focus round, and I lie by the clock until it's done. A job's a job.",
        "49.0 clock hidden",
        "49.0 ask shown",
        "49.0 say 7s: Click me to talk, about anything. Alt+Space works too.",
        "57.0 ask hidden",
        "57.0 goal nap",
        "57.0 say 6s: The rest of the time I nap. That matters too.",
        "64.0 say 6s: That's me. Click me whenever you like.",
        "64.0 demoing off",
        "64.0 ledge none",
    };
    EXPECT_EQ(host.log, expected);
    EXPECT_EQ(finished.size(), 1);
    EXPECT_FALSE(tour.running());
}

TEST_F(GuidedTourTest, WithoutThePageOrWindowAndWithTheCompanionOff)
{
    host.page = false;
    host.companionOn = false;
    host.frame.reset();
    tour.start();
    advanceVirtual(clock, 120);
    const QStringList expected = {
        "0.0 startCompanion",
        "0.0 demoing on",
        "0.0 showWorkspace",
        "0.0 say 5s: Hi! Let me show you what I can do.",
        "5.0 say 6s: I live on the edge of your window. Move it, and I ride along.",
        "11.5 ledge none",
        "11.5 goal celebrate",
        "11.5 say 6s: When a post goes out, I'm glad. A post is a meal for me.",
        "18.0 say 6s: If something doesn't go through, I'll tell you, and the Plan says why.",
        "25.0 clock shown",
        "25.0 say 7s: Start a focus round, and I lie by the clock until it's done. A job's a job.",
        "34.0 clock hidden",
        "34.0 ask shown",
        "34.0 say 7s: Click me to talk, about anything. Alt+Space works too.",
        "42.0 ask hidden",
        "42.0 goal nap",
        "42.0 say 6s: The rest of the time I nap. That matters too.",
        "49.0 say 6s: That's me. Click me whenever you like.",
        "56.0 stopCompanion",
        "56.0 demoing off",
        "56.0 ledge none",
    };
    EXPECT_EQ(host.log, expected);
}

// Starting again cancels the running tour; its cleanup runs once and before
// the new tour opens anything, so it never undoes what the new tour shows.
TEST_F(GuidedTourTest, RestartWaitsForTheOldCleanupFirst)
{
    tour.start();
    advanceVirtual(clock, 45); // the clock is shown, the composer closed
    ASSERT_TRUE(host.clockShown);
    host.log.clear();
    QSignalSpy finished(&tour, &GuidedTour::finished);
    tour.start();
    advanceVirtual(clock, 0);
    const QStringList expected = {
        "45.0 demoing off",
        "45.0 clock hidden",
        "45.0 ledge none",
        "45.0 demoing on",
        "45.0 showWorkspace",
        "45.0 say 5s: Hi! Let me show you what I can do.",
    };
    EXPECT_EQ(host.log, expected);
    EXPECT_TRUE(host.demoing);
    EXPECT_EQ(finished.size(), 1);

    // Cancelled while the page's composer is open: the cleanup closes it.
    advanceVirtual(clock, 12); // 11.5 s into the new tour: the composer is open
    host.log.clear();
    tour.start();
    advanceVirtual(clock, 0);
    EXPECT_EQ(host.log.mid(0, 4),
              (QStringList{"57.0 demoing off", "57.0 carry +3", "57.0 script close", "57.0 ledge none"}));
    EXPECT_EQ(host.log.count("57.0 demoing off"), 1);
    EXPECT_EQ(finished.size(), 2);

    // Several quick restarts leave exactly one tour running.
    tour.start();
    tour.start();
    advanceVirtual(clock, 120);
    EXPECT_FALSE(tour.running());
    EXPECT_FALSE(host.demoing);
    EXPECT_FALSE(host.clockShown);
    EXPECT_FALSE(host.askShown);
    EXPECT_EQ(finished.size(), 4); // the tour cancelled before it began has nothing to clean up
}

// What the user started, opened or took up during the tour stays.
TEST_F(GuidedTourTest, WhatTheUserStartedOpenedOrTookUpStays)
{
    tour.start();
    advanceVirtual(clock, 41);
    ASSERT_TRUE(host.clockShown);
    host.idle = false; // the user starts a round during the clock's pause
    advanceVirtual(clock, 120);
    EXPECT_TRUE(host.clockShown);
    EXPECT_FALSE(host.log.join('\n').contains(QStringLiteral("clock hidden")));

    // A round already running at the clock step: no panel shown, none hidden.
    host.log.clear();
    tour.start();
    advanceVirtual(clock, 120);
    EXPECT_FALSE(host.log.join('\n').contains(QStringLiteral("clock shown")));
    EXPECT_FALSE(host.log.join('\n').contains(QStringLiteral("clock hidden")));

    // An ask panel the user opened is theirs, with the keyboard or without it:
    // the tour neither shows nor hides it.
    host.log.clear();
    host.askShown = true;
    tour.start();
    advanceVirtual(clock, 120);
    EXPECT_TRUE(host.askShown);
    EXPECT_FALSE(host.log.join('\n').contains(QStringLiteral("ask shown")));
    EXPECT_FALSE(host.log.join('\n').contains(QStringLiteral("ask hidden")));
    // One the tour showed and the user then typed into stays open too.
    host.askShown = false;
    tour.start();
    advanceVirtual(clock, 50);
    ASSERT_TRUE(host.askShown);
    host.keyboard = true;
    advanceVirtual(clock, 120);
    EXPECT_TRUE(host.askShown);
}

TEST_F(GuidedTourTest, CancelledInTheLastPauseLeavesTheCompanionRunning)
{
    host.companionOn = false;
    host.page = false;
    tour.start();
    advanceVirtual(clock, 52); // in the 7 s after the last line
    tour.cancel();
    advanceVirtual(clock, 30);
    EXPECT_TRUE(host.companionOn);
    EXPECT_FALSE(host.log.join('\n').contains(QStringLiteral("stopCompanion")));
    EXPECT_FALSE(host.demoing);
}
