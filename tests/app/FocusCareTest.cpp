// Focus rounds on the virtual clock, the care tick and its notifications.

#include "AppTestSupport.h"

#include "app/CareTimer.h"

#include <QTimeZone>
#include <gtest/gtest.h>

using namespace apptest;
using namespace std::chrono_literals;
using Kind = AppEvent::Kind;
using Phase = FocusSession::Phase;

namespace {

// Wall-clock times in the user's own zone, as the care rules read hours.
QDateTime local(int month, int day, int hour, int minute = 0)
{
    return QDateTime(QDate(2026, month, day), QTime(hour, minute), QTimeZone::systemTimeZone());
}

void english() { L10n::setPreference(AppLanguage::en); }

} // namespace

TEST(FocusFlows, StartUsesTheSettingAndTicksOnceASecond)
{
    LanguageGuard language;
    Harness h;
    h.store.setInteger(QStringLiteral("zephyl.mac.focus.minutes"), 40);
    AppModel &m = h.make();
    m.startFocus();
    EXPECT_EQ(m.focus().phase, Phase::working());
    EXPECT_EQ(m.focus().remaining, 2400);
    EXPECT_EQ(h.kinds(), QList<Kind>{Kind::focusStarted});
    h.clock.advance(3s);
    EXPECT_EQ(m.focus().remaining, 2397);
    EXPECT_TRUE(h.notifications.posted.isEmpty());
}

TEST(FocusFlows, ANinetySecondGapIsCountedWholeAndARoundThatRanOutEndsAtThatTick)
{
    LanguageGuard language;
    Harness h;
    AppModel &m = h.make();
    english();
    m.startFocus(10);
    h.clock.advance(1s);
    EXPECT_EQ(m.focus().remaining, 599);
    // The machine stalls: the next firing comes 90 s after the previous one.
    h.clock.setNow(h.clock.now().addSecs(90));
    h.clock.advance(0ms);
    EXPECT_EQ(m.focus().remaining, 509);

    m.startFocus(1);
    h.events.clear();
    h.clock.setNow(h.clock.now().addSecs(90));
    h.clock.advance(0ms);
    EXPECT_EQ(m.focus().phase, Phase::resting());
    EXPECT_EQ(m.focus().remaining, 300) << "the rest starts full";
    EXPECT_EQ(m.focus().completedRounds, 1);
    EXPECT_EQ(h.kinds(), QList<Kind>{Kind::restStarted});
    EXPECT_EQ(h.notifications.posted,
              (QList<Posted>{{QStringLiteral("Round complete"), QStringLiteral("1 minutes of focus done. Take 5 minutes.")}}));
}

TEST(FocusFlows, TheEndOfARestPostsOneNotificationAndStopsTheTimer)
{
    LanguageGuard language;
    Harness h;
    AppModel &m = h.make();
    english();
    m.startFocus(1);
    h.clock.advance(60s);
    ASSERT_EQ(m.focus().phase, Phase::resting());
    h.notifications.posted.clear();
    h.events.clear();

    h.clock.advance(300s);
    EXPECT_EQ(m.focus().phase, Phase::idle());
    EXPECT_EQ(m.focus().remaining, 0);
    EXPECT_EQ(h.kinds(), QList<Kind>{Kind::focusEnded});
    EXPECT_EQ(h.notifications.posted,
              (QList<Posted>{{QStringLiteral("Break over"), QStringLiteral("Ready for another round when you are.")}}));
    EXPECT_EQ(h.clock.pending(), 0u) << "no timer is left running";
    h.clock.advance(3600s);
    EXPECT_EQ(h.events.size(), 1) << "the session does not start another round on its own";
    EXPECT_EQ(h.notifications.posted.size(), 1);
}

TEST(FocusFlows, StartReplacesStopEndsResumeSkipsThePause)
{
    LanguageGuard language;
    Harness h;
    AppModel &m = h.make();
    m.stopFocus();
    EXPECT_TRUE(h.events.isEmpty()) << "stopping an idle session raises nothing";

    // Starting while resting: a fresh round that keeps the count of rounds.
    m.startFocus(1);
    h.clock.advance(61s);
    ASSERT_EQ(m.focus().phase, Phase::resting());
    m.startFocus(20);
    EXPECT_EQ(m.focus().phase, Phase::working());
    EXPECT_EQ(m.focus().remaining, 1200);
    EXPECT_EQ(m.focus().completedRounds, 1);
    EXPECT_EQ(h.clock.pending(), 1u) << "one timer, the previous one replaced";

    // A pause (made by the timer panel) ignores ten minutes of ticks; resuming
    // does not count them.
    h.clock.advance(5s);
    FocusSession paused = m.focus();
    paused.pause();
    m.setFocus(paused);
    h.clock.advance(600s);
    EXPECT_EQ(m.focus().remaining, 1195);
    m.resumeFocus();
    EXPECT_EQ(m.focus().phase, Phase::working());
    h.clock.advance(1s);
    EXPECT_EQ(m.focus().remaining, 1194);

    h.events.clear();
    m.stopFocus();
    EXPECT_EQ(m.focus().phase, Phase::idle());
    EXPECT_EQ(m.focus().remaining, 0);
    EXPECT_EQ(m.focus().workMinutes, 20);
    EXPECT_EQ(h.kinds(), QList<Kind>{Kind::focusEnded});
    EXPECT_EQ(h.clock.pending(), 0u);
    EXPECT_TRUE(h.notifications.posted.size() == 1) << "only the round that ran out posted";
}

TEST(FocusFlows, LengthsOutsideTheRangeAreBroughtInside)
{
    LanguageGuard language;
    Harness h;
    h.store.setInteger(QStringLiteral("zephyl.mac.focus.minutes"), 0);
    AppModel &m = h.make();
    m.startFocus();
    h.clock.advance(1s);
    EXPECT_EQ(m.focus().phase, Phase::working()) << "a stored 0 does not end the round at the first tick";
    EXPECT_EQ(m.focus().remaining, 59);
    m.startFocus(-10);
    EXPECT_EQ(m.focus().workMinutes, 1);
    m.startFocus(100000);
    EXPECT_EQ(m.focus().workMinutes, 180);
}

TEST(FocusFlows, TrustIsReadAgainTwoSecondsAfterTheRequest)
{
    LanguageGuard language;
    Harness h;
    h.windows.isTrusted = false;
    AppModel &m = h.make();
    EXPECT_FALSE(m.accessibilityTrusted());
    m.requestAccessibility();
    h.windows.isTrusted = true;
    h.clock.advance(1999ms);
    EXPECT_FALSE(m.accessibilityTrusted());
    h.clock.advance(1ms);
    EXPECT_TRUE(m.accessibilityTrusted());
}

// ---- Care tick

namespace {
// Ticks once a minute from `from` with the user at the keyboard.
void tickMinutes(AppModel &m, FakeClock &clock, int minutes, double idle = 0)
{
    for (int i = 0; i < minutes; ++i) {
        clock.advance(60s);
        m.careTick(idle, clock.now());
    }
}
} // namespace

TEST(CareTick, ABreakIsDueAfterTheIntervalOfActiveWork)
{
    LanguageGuard language;
    Harness h(local(6, 10, 9));
    h.store.setInteger(QStringLiteral("zephyl.mac.care.breakMinutes"), 20);
    AppModel &m = h.make();
    english();
    m.careTick(0, h.clock.now()); // the first tick only sets the reference
    tickMinutes(m, h.clock, 19);
    EXPECT_TRUE(h.events.isEmpty());
    tickMinutes(m, h.clock, 1);
    ASSERT_EQ(h.events.size(), 1);
    EXPECT_EQ(h.events[0].kind, Kind::breakTime);
    const QStringList lines{"Stretch. I already did.", "Water. For you, not me.", "Three breaths. I'll count.",
                            "Look out of the window for a minute. I do it all day."};
    EXPECT_TRUE(lines.contains(h.events[0].text)) << h.events[0].text.toStdString();
    EXPECT_TRUE(h.notifications.posted.isEmpty()) << "a break is said, not posted";
}

TEST(CareTick, TheBreakClockPausesInEveryFocusPhase)
{
    LanguageGuard language;
    for (const Phase phase : {Phase::working(), Phase::resting(), Phase::paused(true), Phase::paused(false)}) {
        Harness h(local(6, 10, 9));
        h.store.setInteger(QStringLiteral("zephyl.mac.care.breakMinutes"), 5);
        AppModel &m = h.make();
        FocusSession s = m.focus();
        s.phase = phase;
        s.remaining = 1e6;
        m.setFocus(s);
        m.careTick(0, h.clock.now());
        tickMinutes(m, h.clock, 30);
        EXPECT_TRUE(h.events.isEmpty()) << int(phase.kind);
        EXPECT_EQ(m.breakClock().activeSeconds, 0);
    }
}

TEST(CareTick, WithBreakRemindersOffTheClockStillCountsAndResets)
{
    LanguageGuard language;
    Harness h(local(6, 10, 9));
    h.store.setInteger(QStringLiteral("zephyl.mac.care.breakMinutes"), 5);
    h.store.setBool(QStringLiteral("zephyl.mac.care.breaks"), false);
    AppModel &m = h.make();
    m.careTick(0, h.clock.now());
    tickMinutes(m, h.clock, 4);
    EXPECT_EQ(m.breakClock().activeSeconds, 240);
    tickMinutes(m, h.clock, 1);
    EXPECT_EQ(m.breakClock().activeSeconds, 0) << "the due break reset the clock";
    EXPECT_TRUE(h.events.isEmpty());
}

TEST(CareTick, OneTickRaisesTheBreakAndTheHungerLineAndPostsTheHungerOnce)
{
    LanguageGuard language;
    // Ten days after the cat was first seen, never fed, at noon.
    Harness h(local(3, 1, 12));
    h.store.setInteger(QStringLiteral("zephyl.mac.care.breakMinutes"), 1);
    AppModel &m = h.make();
    english();
    m.careTick(0, local(3, 11, 10, 58)); // the break clock's reference
    m.careTick(0, local(3, 11, 10, 59)); // a break, but no nudge before 11:00
    ASSERT_EQ(h.kinds(), QList<Kind>{Kind::breakTime});
    h.events.clear();
    m.careTick(0, local(3, 11, 11));

    ASSERT_EQ(h.kinds(), (QList<Kind>{Kind::breakTime, Kind::catHungry}));
    const QString line = QStringLiteral("I'm hungry: nothing has gone out since Mar 1, 2026. One publication would do.");
    EXPECT_EQ(h.events[1].text, line) << "a cat never fed names the day it was first seen";
    EXPECT_EQ(h.notifications.posted, (QList<Posted>{{QStringLiteral("The cat is hungry"), line}}));
    EXPECT_EQ(m.wellbeing().lastNudgeAt, local(3, 11, 11));
    const auto stored = CatWellbeing::decode(*h.store.data(QStringLiteral("zephyl.mac.cat.wellbeing")));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->lastNudgeAt, local(3, 11, 11));

    // The next minute: no second nudge for twenty hours.
    h.events.clear();
    m.careTick(0, local(3, 11, 11, 1));
    EXPECT_FALSE(h.kinds().contains(Kind::catHungry));
    EXPECT_EQ(h.notifications.posted.size(), 1);
}

TEST(CareTick, AFedCatNamesTheDayOfItsLastMeal)
{
    LanguageGuard language;
    Harness h(local(3, 11, 12));
    CatWellbeing record;
    record.firstSeenAt = local(1, 5, 9);
    record.lastFedAt = local(3, 2, 23, 30); // late on the 2nd in the user's own zone
    record.fedCount = 3;
    record.save(h.store);
    AppModel &m = h.make();
    english();
    m.careTick(0, h.clock.now());
    ASSERT_EQ(h.kinds(), QList<Kind>{Kind::catHungry});
    EXPECT_EQ(h.events[0].text,
              QStringLiteral("I'm hungry: nothing has gone out since Mar 2, 2026. One publication would do."));
}

TEST(CareTick, OneTickRaisesTheBreakAndTheLateNightLine)
{
    LanguageGuard language;
    Harness h(local(3, 1, 23, 28));
    h.store.setInteger(QStringLiteral("zephyl.mac.care.breakMinutes"), 1);
    h.store.setBool(QStringLiteral("zephyl.mac.care.reminders"), false);
    AppModel &m = h.make();
    english();
    m.careTick(200, local(3, 1, 23, 29)); // the reference; too idle for a remark
    m.careTick(119, local(3, 1, 23, 30));
    ASSERT_EQ(h.kinds(), (QList<Kind>{Kind::breakTime, Kind::lateNight}))
        << "the late hour does not depend on the hunger reminders";
    EXPECT_EQ(h.events[1].text, QStringLiteral("It's late. I'd sleep."));
    EXPECT_EQ(m.wellbeing().lastYawnAt, local(3, 1, 23, 30));
    EXPECT_TRUE(h.notifications.posted.isEmpty());
}

TEST(CareTick, NoRemarkToAnAbsentUserAndNoHungerWithRemindersOff)
{
    LanguageGuard language;
    Harness h(local(3, 1, 12));
    h.store.setBool(QStringLiteral("zephyl.mac.care.reminders"), false);
    AppModel &m = h.make();
    m.careTick(120, local(3, 11, 23, 30));
    m.careTick(0, local(3, 11, 12));
    EXPECT_TRUE(h.events.isEmpty());
    EXPECT_EQ(m.wellbeing().lastYawnAt, std::nullopt);
    EXPECT_EQ(m.wellbeing().lastNudgeAt, std::nullopt);
    EXPECT_TRUE(h.notifications.posted.isEmpty());
}

TEST(CareTick, EveryStepRunsWhateverTheOthersDidAtEveryHourOfTheDayTheClocksChange)
{
    LanguageGuard language;
    // 29 March 2026: clocks go forward in Europe. A hungry cat (since the 19th)
    // and a break due at every tick: the break is always said, hunger between
    // 11:00 and 20:59, the late hour from 23:00 to 4:59 -- hours that never meet,
    // so a tick raises at most two events (and posts the hunger notice).
    QList<std::pair<int, int>> clock; // hour, minute on the user's own clock
    for (int hour = 0; hour < 24; ++hour)
        clock.append({hour, 30});
    clock.append({{10, 59}, {11, 0}, {20, 59}, {21, 0}, {22, 59}, {23, 0}, {4, 59}, {5, 0}});
    for (const auto &[hour, minute] : clock) {
        const QDateTime at = local(3, 29, hour, minute);
        Harness h(local(3, 19, 12));
        h.store.setInteger(QStringLiteral("zephyl.mac.care.breakMinutes"), 1);
        AppModel &m = h.make();
        // The break clock's reference a minute before, with no remark of its own.
        m.setCatRemindersEnabled(false);
        m.careTick(200, at.addSecs(-60));
        m.setCatRemindersEnabled(true);
        ASSERT_TRUE(h.events.isEmpty());
        m.careTick(0, at);
        QList<Kind> expected{Kind::breakTime};
        if (hour >= 11 && hour <= 20)
            expected << Kind::catHungry;
        if (hour < 5 || hour >= 23)
            expected << Kind::lateNight;
        EXPECT_EQ(h.kinds(), expected) << at.toString(Qt::ISODateWithMs).toStdString();
        EXPECT_EQ(h.notifications.posted.size(), expected.contains(Kind::catHungry) ? 1 : 0);
    }
}

TEST(CareTick, TheSpokenDateIsTheUsersOwnDay)
{
    LanguageGuard language;
    L10n::setPreference(AppLanguage::en);
    EXPECT_EQ(AppModel::spoken(local(3, 1, 0, 30)), QStringLiteral("Mar 1, 2026"));
    EXPECT_EQ(AppModel::spoken(local(12, 31, 23, 59)), QStringLiteral("Dec 31, 2026"));
    L10n::setPreference(AppLanguage::ru);
    EXPECT_EQ(AppModel::spoken(local(3, 1, 0, 30)), QStringLiteral("1 мар. 2026\u202Fг."));
    L10n::setPreference(AppLanguage::de);
    EXPECT_EQ(AppModel::spoken(local(3, 1, 0, 30)), QStringLiteral("1. März 2026"));
}

TEST(CareTimer, TicksAtOnceThenEveryMinuteWithTheUsersIdleTime)
{
    LanguageGuard language;
    Harness h(local(6, 10, 9));
    h.store.setInteger(QStringLiteral("zephyl.mac.care.breakMinutes"), 2);
    AppModel &m = h.make();
    double idle = 0;
    int before = 0;
    {
        CareTimer timer(m, h.clock, [&] { return idle; }, [&] { ++before; });
        EXPECT_EQ(before, 1) << "the first tick runs at once";
        EXPECT_EQ(m.breakClock().lastTick, h.clock.now());
        h.clock.advance(119s);
        EXPECT_EQ(before, 2);
        EXPECT_TRUE(h.events.isEmpty());
        h.clock.advance(1s);
        EXPECT_EQ(before, 3);
        EXPECT_EQ(h.kinds(), QList<Kind>{Kind::breakTime});

        idle = 400; // away from the keyboard: the clock starts over
        h.clock.advance(60s);
        EXPECT_EQ(m.breakClock().activeSeconds, 0);
    }
    h.clock.advance(600s);
    EXPECT_EQ(before, 4) << "a timer that is gone ticks no more";
}
