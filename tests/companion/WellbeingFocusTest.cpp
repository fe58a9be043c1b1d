#include <gtest/gtest.h>

#include "base/Clock.h"
#include "base/DefaultsStore.h"
#include "companion/CatWellbeing.h"
#include "focus/FocusSession.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>

namespace {

const QTimeZone utc = QTimeZone::utc();

QDateTime at(int day, int hour, int minute = 0, int second = 0)
{
    return QDateTime(QDate(2025, 3, day), QTime(hour, minute, second), utc);
}

} // namespace

TEST(CatWellbeing, MoodTurnsAt36And96HoursFromTheLastMealOrFirstSighting)
{
    CatWellbeing w;
    w.firstSeenAt = at(1, 12);
    EXPECT_EQ(w.mood(w.firstSeenAt.addSecs(36 * 3600)), CatWellbeing::Mood::fed);
    EXPECT_EQ(w.mood(w.firstSeenAt.addSecs(36 * 3600 + 1)), CatWellbeing::Mood::peckish);

    w.recordMeal(at(10, 8));
    EXPECT_EQ(w.fedCount, 1);
    const QDateTime meal = *w.lastFedAt;
    EXPECT_EQ(w.mood(meal.addSecs(36 * 3600)), CatWellbeing::Mood::fed);
    EXPECT_EQ(w.mood(meal.addSecs(96 * 3600)), CatWellbeing::Mood::peckish);
    EXPECT_EQ(w.mood(meal.addMSecs(96 * 3600 * 1000LL + 1)), CatWellbeing::Mood::hungry);
    EXPECT_EQ(w.mood(meal.addSecs(-3600)), CatWellbeing::Mood::fed); // a meal in the future

    EXPECT_EQ(w.daysSinceFed(meal.addSecs(86'400 * 2 - 1)), 1);
    EXPECT_EQ(w.daysSinceFed(meal.addSecs(86'400 * 2)), 2);
    EXPECT_EQ(w.daysSinceFed(meal.addSecs(-86'400 * 3)), 0);
}

TEST(CatWellbeing, NudgeAndYawnKeepToTheirHoursAndGaps)
{
    CatWellbeing w;
    w.firstSeenAt = at(1, 0);
    // Hungry from day 5 on.
    EXPECT_TRUE(w.wantsToNudge(at(10, 20, 59), utc));
    EXPECT_FALSE(w.wantsToNudge(at(10, 21, 0), utc));
    EXPECT_FALSE(w.wantsToNudge(at(10, 10, 59), utc));
    EXPECT_TRUE(w.wantsToNudge(at(10, 11, 0), utc));
    EXPECT_FALSE(w.wantsToNudge(at(2, 12), utc)); // not hungry yet
    EXPECT_FALSE(w.wantsToNudge(at(4, 12), utc)); // 84 h: peckish, not hungry
    EXPECT_FALSE(w.wantsToNudge(at(4, 20, 59), utc)); // 92 h: still peckish
    EXPECT_TRUE(w.wantsToNudge(at(5, 12), utc));  // 108 h: hungry

    w.lastNudgeAt = at(10, 12);
    w.lastNudgeAt = at(10, 12).addSecs(-(20 * 3600 - 60));
    EXPECT_FALSE(w.wantsToNudge(at(10, 12), utc)); // 19 h 59 min after
    w.lastNudgeAt = at(10, 12).addSecs(-20 * 3600);
    EXPECT_TRUE(w.wantsToNudge(at(10, 12), utc)); // exactly 20 h

    // The calendar decides the hour: 20:30 UTC is 21:30 in Berlin in March.
    EXPECT_FALSE(w.wantsToNudge(at(10, 20, 30), QTimeZone("Europe/Berlin")));

    EXPECT_TRUE(w.wantsToYawn(at(3, 4, 59), utc));
    EXPECT_TRUE(w.wantsToYawn(at(3, 23, 0), utc));
    EXPECT_FALSE(w.wantsToYawn(at(3, 5, 0), utc));
    EXPECT_FALSE(w.wantsToYawn(at(3, 22, 59), utc));
    w.lastYawnAt = at(3, 23, 0);
    EXPECT_FALSE(w.wantsToYawn(at(4, 4, 59), utc)); // 5 h 59 min later
    w.lastYawnAt = at(3, 20, 59);
    EXPECT_TRUE(w.wantsToYawn(at(4, 4, 59), utc)); // exactly 8 h

    // The late hour is the calendar's too: 22:30 UTC is 23:30 in Berlin in
    // March, and 03:30 UTC is 05:30 there in the summer week of the change.
    w.lastYawnAt.reset();
    const QTimeZone berlin("Europe/Berlin");
    EXPECT_TRUE(w.wantsToYawn(at(10, 22, 30), berlin));
    EXPECT_FALSE(w.wantsToYawn(at(30, 3, 30), berlin));
    EXPECT_TRUE(w.wantsToYawn(at(30, 3, 30), utc));
}

TEST(CatWellbeing, RecordRoundTripsThroughTheDefaultsStoreAndBadRecordsReadAsFresh)
{
    DefaultsStore store;
    FakeClock clock;
    const QDateTime now = clock.now();

    // Nothing stored: fresh, and loading writes nothing.
    CatWellbeing fresh = CatWellbeing::load(store, now);
    EXPECT_EQ(fresh.firstSeenAt, now);
    EXPECT_EQ(fresh.fedCount, 0);
    EXPECT_FALSE(fresh.lastFedAt);
    EXPECT_FALSE(store.contains(QStringLiteral("zephyl.mac.cat.wellbeing")));

    CatWellbeing w = fresh;
    w.recordMeal(now.addMSecs(1500));
    w.lastYawnAt = now.addSecs(60);
    w.save(store);
    EXPECT_EQ(CatWellbeing::load(store, now.addDays(3)), w);

    // Dates are seconds since 2001-01-01 UTC with fractions; absent dates are left out.
    const QJsonObject o = QJsonDocument::fromJson(*store.data(QStringLiteral("zephyl.mac.cat.wellbeing"))).object();
    EXPECT_DOUBLE_EQ(o.value(QStringLiteral("lastFedAt")).toDouble(),
                     (now.toMSecsSinceEpoch() + 1500 - 978'307'200'000LL) / 1000.0);
    EXPECT_FALSE(o.contains(QStringLiteral("lastNudgeAt")));
    EXPECT_EQ(o.value(QStringLiteral("fedCount")).toInt(), 1);

    // Optional dates may be null or missing; required fields may not.
    auto decoded = CatWellbeing::decode(R"({"firstSeenAt": 0, "fedCount": 2, "lastFedAt": null})");
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->firstSeenAt, QDateTime(QDate(2001, 1, 1), QTime(0, 0), utc));
    EXPECT_EQ(decoded->fedCount, 2);
    for (const char *bad : {R"({"firstSeenAt": 10})", R"({"fedCount": 1})", R"({"firstSeenAt": "x", "fedCount": 1})",
                            R"({"firstSeenAt": 1, "fedCount": 1.5})", R"({"firstSeenAt": 1, "fedCount": 1,
                            "lastYawnAt": "yesterday"})", "[1]", "{", R"({"firstSeenAt": 1e300, "fedCount": 1})"}) {
        EXPECT_FALSE(CatWellbeing::decode(bad)) << bad;
    }
    store.setData(QStringLiteral("zephyl.mac.cat.wellbeing"), R"({"firstSeenAt": 5})");
    EXPECT_EQ(CatWellbeing::load(store, now).firstSeenAt, now);
}

TEST(BreakClock, CountsActiveMinutesClampsStepsAndResetsWhenAway)
{
    BreakClock clock;
    QDateTime t = at(5, 9);
    EXPECT_FALSE(clock.tick(0, false, t)); // the first tick only sets the reference
    EXPECT_EQ(clock.activeSeconds, 0);
    for (int i = 1; i < 50; ++i) {
        t = t.addSecs(60);
        ASSERT_FALSE(clock.tick(10, false, t)) << i;
    }
    t = t.addSecs(60);
    EXPECT_TRUE(clock.tick(10, false, t));
    EXPECT_EQ(clock.activeSeconds, 0);

    // Paused ticks neither add nor reset; the reference still moves.
    t = t.addSecs(60);
    clock.tick(0, false, t);
    t = t.addSecs(60);
    EXPECT_FALSE(clock.tick(0, true, t));
    EXPECT_EQ(clock.activeSeconds, 60);
    EXPECT_EQ(clock.lastTick, t);

    // Ten minutes in one step count as two; a step back in time as none.
    t = t.addSecs(600);
    clock.tick(0, false, t);
    EXPECT_EQ(clock.activeSeconds, 180);
    clock.tick(0, false, t.addSecs(-30));
    EXPECT_EQ(clock.activeSeconds, 180);
    EXPECT_EQ(clock.lastTick, t.addSecs(-30));

    // Idle for exactly 300 s resets; 299 s does not.
    t = t.addSecs(60);
    clock.tick(299, false, t);
    EXPECT_EQ(clock.activeSeconds, 270);
    clock.tick(300, false, t.addSecs(60));
    EXPECT_EQ(clock.activeSeconds, 0);
}

TEST(FocusSession, TicksEndWorkAndRestRoundsDroppingTheOvershoot)
{
    FocusSession s;
    s.start(25);
    EXPECT_EQ(s.phase, FocusSession::Phase::working());
    EXPECT_EQ(s.remaining, 1500);

    for (double bad : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
        FocusSession before = s;
        EXPECT_FALSE(s.tick(bad));
        EXPECT_EQ(s, before);
    }

    s.remaining = 0.4;
    EXPECT_EQ(s.tick(1.0), FocusSession::Event::workEnded);
    EXPECT_EQ(s.completedRounds, 1);
    EXPECT_EQ(s.phase, FocusSession::Phase::resting());
    EXPECT_EQ(s.remaining, 300);

    s.pause();
    EXPECT_EQ(s.phase, FocusSession::Phase::paused(false));
    EXPECT_NE(s.phase, FocusSession::Phase::paused(true));
    EXPECT_FALSE(s.tick(1e6));
    EXPECT_EQ(s.remaining, 300);
    s.resume();
    EXPECT_EQ(s.phase, FocusSession::Phase::resting());

    s.remaining = 1;
    EXPECT_EQ(s.tick(1), FocusSession::Event::restEnded); // 0 counts as run out
    EXPECT_EQ(s.phase, FocusSession::Phase::idle());
    EXPECT_EQ(s.remaining, 0);
    EXPECT_FALSE(s.tick(1)); // rounds do not chain

    s.start(1);
    s.pause();
    EXPECT_EQ(s.phase, FocusSession::Phase::paused(true));
    s.resume();
    for (int i = 0; i < 59; ++i)
        ASSERT_FALSE(s.tick(1));
    EXPECT_EQ(s.tick(1), FocusSession::Event::workEnded);
    EXPECT_EQ(s.completedRounds, 2);
    s.stop();
    EXPECT_EQ(s.phase, FocusSession::Phase::idle());
    EXPECT_EQ(s.remaining, 0);
}

TEST(FocusSession, DisplayRoundsUpAndNeverGoesBelowZero)
{
    FocusSession s;
    auto shown = [&](double remaining) {
        s.remaining = remaining;
        return s.display();
    };
    EXPECT_EQ(shown(1500), QStringLiteral("25:00"));
    EXPECT_EQ(shown(0.2), QStringLiteral("00:01"));
    EXPECT_EQ(shown(-3), QStringLiteral("00:00"));
    EXPECT_EQ(shown(6000), QStringLiteral("100:00"));
    EXPECT_EQ(shown(59.5), QStringLiteral("01:00"));
    EXPECT_EQ(shown(std::numeric_limits<double>::quiet_NaN()), QStringLiteral("00:00"));
    EXPECT_FALSE(shown(std::numeric_limits<double>::infinity()).isEmpty());
}
