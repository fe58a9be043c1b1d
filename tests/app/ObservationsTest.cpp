// The summary cards: each rule at its boundaries, and the dates they read.

#include "AppTestSupport.h"

#include "app/SummaryObservations.h"

#include <QTimeZone>
#include <gtest/gtest.h>

using namespace apptest;
using Feed = ZephylWire::InstagramFeedItem;
using ZephylWire::PlanDraft;
using ZephylWire::Publication;

namespace {

const QDateTime kNow = QDateTime(QDate(2025, 6, 11), QTime(12, 0), QTimeZone::utc());
const qint64 kNowMs = kNow.toMSecsSinceEpoch();

PlanDraft draft(QString scheduledAt, std::optional<QString> mediaId = std::nullopt)
{
    PlanDraft d;
    d.id = 1;
    d.scheduledAt = std::move(scheduledAt);
    d.mediaId = std::move(mediaId);
    return d;
}

Publication publication(QString id, QString status, std::optional<qint64> at, std::optional<bool> isDraft = std::nullopt)
{
    Publication p;
    p.id = std::move(id);
    p.status = std::move(status);
    p.scheduledAt = at;
    p.isDraft = isDraft;
    return p;
}

QList<Feed> feed(const QList<Feed::Kind> &kinds, int blankCaptions = 0)
{
    QList<Feed> items;
    for (qsizetype i = 0; i < kinds.size(); ++i) {
        Feed item;
        item.id = QString::number(i);
        item.kind = kinds[i];
        item.caption = i < blankCaptions ? QStringLiteral("  \n\t") : QStringLiteral("words");
        items.append(item);
    }
    return items;
}

QStringList ids(const QList<Observation> &cards)
{
    QStringList out;
    for (const auto &c : cards)
        out << c.id;
    return out;
}

QStringList build(bool connected, const QList<PlanDraft> &drafts, const QList<Publication> &pubs = {},
                  const QList<Feed> &items = {}, const QDateTime &now = kNow)
{
    return ids(SummaryObservations::build(connected, drafts, pubs, items, now));
}

} // namespace

TEST(SummaryObservations, SetupAndAnEmptyWeekWithTheirWords)
{
    LanguageGuard english(AppLanguage::en);
    const auto cards = SummaryObservations::build(false, {}, {}, {}, kNow);
    ASSERT_EQ(cards.size(), 1);
    EXPECT_EQ(cards[0], (Observation{"connect", "Setup", "Instagram is not connected yet",
                                     "Publishing and the grid wait for a professional account. The connection is made "
                                     "once, in Profile, through Instagram's own login.",
                                     "How do I connect my Instagram account to Zephyl?", Surface::profile}));

    const auto week = SummaryObservations::build(true, {}, {}, {}, kNow);
    ASSERT_EQ(week.size(), 1);
    EXPECT_EQ(week[0], (Observation{"empty-week", "Plan", "Nothing is prepared for the coming week",
                                    "The plan is empty for the next seven days. One prepared draft is enough to make "
                                    "the week feel decided.",
                                    "Help me plan one publication for this week. Ask me what I want to say.",
                                    Surface::plan}));
    // Off line, before the service said whether an account is connected: neither is claimed.
    EXPECT_TRUE(SummaryObservations::build(std::nullopt, {}, {}, {}, kNow).isEmpty());
}

TEST(SummaryObservations, DraftsCountAsPreparedUndatedOrUnreadableOrWithinTheWeek)
{
    LanguageGuard english(AppLanguage::en);
    const auto cards = SummaryObservations::build(true, {draft(QString())}, {}, {}, kNow);
    ASSERT_EQ(cards.size(), 1);
    EXPECT_EQ(cards[0].id, QStringLiteral("drafts-without-media"));
    EXPECT_EQ(cards[0].title, QStringLiteral("Your drafts still need media"));

    struct Case {
        const char *scheduledAt;
        bool prepared;
    };
    const Case cases[] = {
        {"", true},
        {"next tuesday", true},
        {"2025-06-12T09:00:00", true}, // no zone: not an internet date-time, so unread
        {"2025-06-12 09:00:00Z", true},
        {"2025-06-12T09:00:00Z", true},
        {"2025-06-18T12:00:00Z", true},     // exactly now + 7 days
        {"2025-06-18T12:00:00.001Z", false}, // a moment later
        {"2025-06-18T14:00:00+02:00", true},
        {"2025-06-18T13:00:00+00:30", false},
        {"2025-06-11T12:00:00Z", true},      // exactly now
        {"2025-06-11T11:59:59.999Z", false}, // just past
        {"2025-06-10T12:00:00Z", false},
        {"2025-07-01T12:00:00Z", false},
    };
    for (const Case &c : cases) {
        const QStringList got = build(true, {draft(QString::fromLatin1(c.scheduledAt), QStringLiteral("m1"))});
        EXPECT_EQ(got.contains(QStringLiteral("empty-week")), !c.prepared) << c.scheduledAt;
    }
}

TEST(SummaryObservations, PublicationsComingInTheWeekFillIt)
{
    LanguageGuard english(AppLanguage::en);
    const qint64 week = 604'800'000;
    EXPECT_EQ(build(true, {}, {publication("a", "scheduled", kNowMs + week)}), QStringList{});
    EXPECT_EQ(build(true, {}, {publication("a", "scheduled", kNowMs + week + 1)}), QStringList{"empty-week"});
    EXPECT_EQ(build(true, {}, {publication("a", "scheduled", kNowMs + 1000, true)}), QStringList{})
        << "a draft publication coming this week counts too";
    EXPECT_EQ(build(true, {}, {publication("a", "published", kNowMs + 1000)}), QStringList{"empty-week"});
    EXPECT_EQ(build(true, {}, {publication("a", "cancelled", kNowMs + 1000)}), (QStringList{"failed-a", "empty-week"}));
    EXPECT_EQ(build(true, {}, {publication("a", "scheduled", std::nullopt)}), QStringList{"empty-week"});
}

TEST(SummaryObservations, TheLatestFailedPublicationIsNamed)
{
    LanguageGuard english(AppLanguage::en);
    auto older = publication("older", "failed", 1000);
    auto newer = publication("newer", "preparation_failed", 2000);
    auto ignored = publication("draft", "failed", 9000, true);
    const auto cards = SummaryObservations::build(true, {draft(QString(), QStringLiteral("m"))},
                                                  {older, newer, ignored}, {}, kNow);
    ASSERT_EQ(ids(cards), QStringList{"failed-newer"});
    EXPECT_EQ(cards[0].category, QStringLiteral("Needs attention"));
    EXPECT_EQ(cards[0].title, QStringLiteral("A publication did not go out"));
    EXPECT_EQ(cards[0].detail, QStringLiteral("The server marked it as failed. The plan shows which one."));
    EXPECT_EQ(cards[0].prompt, QStringLiteral("One of my publications failed. What should I check before trying again?"));

    newer.error = QStringLiteral("media expired");
    const auto withError = SummaryObservations::build(false, {}, {older, newer}, {}, kNow);
    EXPECT_EQ(withError[1].detail, QStringLiteral("The server recorded: media expired. The plan shows which one."));

    // Equal times keep their order; an absent time counts as 0.
    EXPECT_EQ(build(true, {draft({}, "m")}, {publication("x", "failed", 5), publication("y", "failed", 5)}),
              QStringList{"failed-x"});
    EXPECT_EQ(build(true, {draft({}, "m")}, {publication("x", "failed", std::nullopt), publication("y", "failed", 0)}),
              QStringList{"failed-x"});
}

TEST(SummaryObservations, ATimeIsOverdueFifteenMinutesAfterItPassedWithoutConfirmation)
{
    LanguageGuard english(AppLanguage::en);
    const auto overdue = [](const char *status, qint64 minutesAgo, std::optional<bool> isDraft = std::nullopt) {
        return build(true, {draft({}, "m")}, {publication("p", status, kNowMs - minutesAgo * 60'000, isDraft)})
            .contains(QStringLiteral("overdue"));
    };
    EXPECT_FALSE(overdue("scheduled", 14));
    EXPECT_FALSE(overdue("scheduled", 15)) << "strictly earlier than fifteen minutes ago";
    EXPECT_TRUE(overdue("scheduled", 16));
    EXPECT_TRUE(overdue("queued", 600));
    EXPECT_FALSE(overdue("scheduled", 16, true));
    for (const char *status : {"processing", "creating", "reconciling", "waiting", "publishing", "uploading",
                               "published", "failed", "cancelled", "preparation_failed"})
        EXPECT_FALSE(overdue(status, 600)) << status;
    const auto cards = SummaryObservations::build(true, {draft({}, "m")},
                                                  {publication("p", "scheduled", kNowMs - 3'600'000)}, {}, kNow);
    EXPECT_EQ(cards[0], (Observation{"overdue", "Needs attention", "A scheduled time passed without confirmation",
                                     "Instagram never confirmed the publication. Open the plan to see it and decide "
                                     "whether to send it again.",
                                     "A scheduled publication passed its time without confirmation. What happened and "
                                     "what can I do?",
                                     Surface::plan}));
}

TEST(SummaryObservations, MediaIsMissingWhenTheIdIsAbsentNotWhenEmpty)
{
    LanguageGuard english(AppLanguage::en);
    const auto some = SummaryObservations::build(true, {draft({}, QString()), draft({})}, {}, {}, kNow);
    ASSERT_EQ(ids(some), QStringList{"drafts-without-media"});
    EXPECT_EQ(some[0].title, QStringLiteral("Some drafts still need media"));
    EXPECT_EQ(some[0].prompt,
              QStringLiteral("Which of my drafts should I finish first, and what media would suit them?"));
    EXPECT_EQ(build(true, {draft({}, QString())}), QStringList{});
}

TEST(SummaryObservations, TheRecentGridIsTheFirstNineOfAtLeastSix)
{
    LanguageGuard english(AppLanguage::en);
    using K = Feed::Kind;
    const QList<K> fiveReels(5, K::reel);
    EXPECT_EQ(build(true, {draft({}, "m")}, {}, feed(fiveReels, 5)), QStringList{});
    QList<K> twelve(9, K::reel);
    twelve << K::feed << K::carousel << K::feed;
    EXPECT_EQ(build(true, {draft({}, "m")}, {}, feed(twelve)), QStringList{"all-reels"});
    EXPECT_EQ(build(true, {draft({}, "m")}, {}, feed(QList<K>(6, K::feed))), QStringList{"no-reels"});
    EXPECT_EQ(build(true, {draft({}, "m")}, {}, feed({K::reel, K::feed, K::feed, K::unknown, K::feed, K::feed})),
              QStringList{"no-carousels"});
    EXPECT_EQ(build(true, {draft({}, "m")}, {}, feed({K::reel, K::carousel, K::feed, K::feed, K::feed, K::feed})),
              QStringList{});

    const QList<K> mixed{K::reel, K::carousel, K::feed, K::feed, K::feed, K::feed, K::feed, K::feed, K::feed, K::feed};
    EXPECT_EQ(build(true, {draft({}, "m")}, {}, feed(mixed, 2)), QStringList{});
    const auto silent = SummaryObservations::build(true, {draft({}, "m")}, {}, feed(mixed, 3), kNow);
    ASSERT_EQ(ids(silent), QStringList{"silent-captions"});
    EXPECT_EQ(silent[0].surface, std::nullopt);
    EXPECT_EQ(silent[0].category, QStringLiteral("Captions"));
    // Blank captions after the ninth post do not count.
    QList<Feed> late = feed(mixed);
    late[9].caption.clear();
    late[0].caption.clear();
    late[1].caption = QStringLiteral("\n");
    EXPECT_EQ(build(true, {draft({}, "m")}, {}, late), QStringList{});
}

TEST(SummaryObservations, EveryRuleThatHoldsAddsOneCardInRuleOrder)
{
    LanguageGuard english(AppLanguage::en);
    QList<Feed> items = feed(QList<Feed::Kind>(9, Feed::Kind::reel), 3);
    const QStringList got = build(false, {draft(QStringLiteral("2030-01-01T00:00:00Z"))},
                                  {publication("f", "failed", 1), publication("o", "scheduled", kNowMs - 3'600'000)},
                                  items);
    EXPECT_EQ(got, (QStringList{"connect", "failed-f", "overdue", "drafts-without-media", "all-reels",
                                "silent-captions"}))
        << "the empty week needs a connected account";
}

TEST(SummaryObservations, TheModelRebuildsFromWhatItHolds)
{
    LanguageGuard english(AppLanguage::en);
    Harness h(kNow);
    AppModel &m = h.make();
    L10n::setPreference(AppLanguage::en);
    ZephylWire::InstagramProfile profile;
    profile.username = QStringLiteral("kitty");
    m.setInstagram(profile);
    m.setPlanDrafts({draft(QStringLiteral("2025-06-12T09:00:00Z"))});
    m.rebuildObservations();
    EXPECT_EQ(ids(m.observations()), QStringList{"drafts-without-media"});
    h.clock.advance(std::chrono::hours(24 * 2));
    m.rebuildObservations();
    EXPECT_EQ(ids(m.observations()), (QStringList{"empty-week", "drafts-without-media"}))
        << "the date has passed by the time of the rebuild";
}

// Runs under the suite's second zone as well (a daylight-saving week): the
// dates carry their own offsets, so the user's zone never shifts them.
TEST(InternetDates, AreReadWithTheirOwnZoneOnly)
{
    struct Case {
        const char *text;
        std::optional<qint64> utcMs;
    };
    const auto ms = [](int y, int mo, int d, int h, int mi, int s, int msec = 0) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s, msec), QTimeZone::utc()).toMSecsSinceEpoch();
    };
    const Case cases[] = {
        {"2025-03-30T02:30:00+01:00", ms(2025, 3, 30, 1, 30, 0)}, // a local hour Berlin skips
        {"2025-10-26T02:30:00+02:00", ms(2025, 10, 26, 0, 30, 0)}, // the hour Berlin repeats, first time
        {"2025-10-26T02:30:00+01:00", ms(2025, 10, 26, 1, 30, 0)}, // and the second time
        {"2025-03-30T02:30:00Z", ms(2025, 3, 30, 2, 30, 0)},
        {"2025-03-30T02:30:00.5Z", ms(2025, 3, 30, 2, 30, 0, 500)},
        {"2025-03-30T02:30:00.123456-05:30", ms(2025, 3, 30, 8, 0, 0, 123)},
        {"2025-03-30T02:30:00", std::nullopt},
        {"2025-03-30 02:30:00Z", std::nullopt},
        {"2025-03-30t02:30:00Z", std::nullopt},
        {"2025-03-30T02:30Z", std::nullopt},
        {"2025-03-30T02:30:00+0100", std::nullopt},
        {"2025-03-30T02:30:00+01", std::nullopt},
        {"2025-02-30T02:30:00Z", std::nullopt},
        {"2025-03-30T24:00:00Z", std::nullopt},
        {"2025-03-30T02:30:00.Z", std::nullopt},
        {"20250330T023000Z", std::nullopt},
        {" 2025-03-30T02:30:00Z", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case &c : cases) {
        const auto read = SummaryObservations::internetDateTime(QString::fromLatin1(c.text));
        EXPECT_EQ(read ? std::optional(read->toMSecsSinceEpoch()) : std::nullopt, c.utcMs) << c.text;
    }
}

TEST(InternetDates, TheWeekEndsAtTheSameInstantWhateverTheLocalClockDoes)
{
    LanguageGuard english(AppLanguage::en);
    // The week of the spring change in Europe: a local week is 167 hours long there.
    const QDateTime now(QDate(2025, 3, 27), QTime(12, 0), QTimeZone::utc());
    EXPECT_EQ(build(true, {draft(QStringLiteral("2025-04-03T14:00:00+02:00"), "m")}, {}, {}, now), QStringList{});
    EXPECT_EQ(build(true, {draft(QStringLiteral("2025-04-03T14:00:01+02:00"), "m")}, {}, {}, now),
              QStringList{"empty-week"});
    EXPECT_EQ(build(true, {draft(QStringLiteral("2025-04-03T13:00:00+01:00"), "m")}, {}, {}, now), QStringList{});
    EXPECT_EQ(build(true, {draft(QStringLiteral("2025-04-03T13:00:01+01:00"), "m")}, {}, {}, now),
              QStringList{"empty-week"});
}
