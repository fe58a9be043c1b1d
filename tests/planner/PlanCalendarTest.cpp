#include <gtest/gtest.h>

#include "base/Clock.h"
#include "design/L10n.h"
#include "planner/PlanCalendar.h"

#include <QSet>

#include <limits>

using ZephylWire::PlanDraft;
using ZephylWire::Publication;

namespace {

const QTimeZone berlin("Europe/Berlin");
const QTimeZone newYork("America/New_York");
const QTimeZone utc = QTimeZone::utc();

QDateTime local(int y, int m, int d, int h, int min, const QTimeZone &zone)
{
    return QDateTime(QDate(y, m, d), QTime(h, min), zone);
}

PlanDraft draft(qint64 id, QString title = {}, QString scheduledAt = {}, QString format = QStringLiteral("post"))
{
    PlanDraft d;
    d.id = id;
    d.title = std::move(title);
    d.scheduledAt = std::move(scheduledAt);
    d.format = std::move(format);
    return d;
}

Publication publication(QString id, QString status, std::optional<qint64> scheduledAt = std::nullopt)
{
    Publication p;
    p.id = std::move(id);
    p.status = std::move(status);
    p.scheduledAt = scheduledAt;
    return p;
}

QStringList ids(const std::vector<PlanEntry> &entries)
{
    QStringList out;
    for (const auto &e : entries)
        out << e.id;
    return out;
}

class PlanCalendarTest : public ::testing::Test {
protected:
    void SetUp() override { L10n::setPreference(AppLanguage::en); }
    void TearDown() override { L10n::setPreference(AppLanguage::system); }
};

} // namespace

void PrintTo(const PlanEntry::State &s, std::ostream *os)
{
    static const char *names[] = {"failed", "draft", "scheduled", "underway", "published", "overdue"};
    *os << names[int(s.kind())];
    if (s.kind() == PlanEntry::State::Kind::failed)
        *os << "(\"" << s.error().toStdString() << "\")";
}

TEST_F(PlanCalendarTest, WeekStartsOnMondayMidnightByCalendarDays)
{
    struct Case {
        const char *what;
        QDateTime at;
        QDateTime expected;
    };
    for (const QTimeZone &zone : {utc, berlin, newYork}) {
        const Case cases[] = {
            {"Sunday", local(2025, 3, 16, 15, 0, zone), local(2025, 3, 10, 0, 0, zone)},
            {"Monday 23:59", local(2025, 3, 10, 23, 59, zone), local(2025, 3, 10, 0, 0, zone)},
            {"Monday 00:00", local(2025, 3, 10, 0, 0, zone), local(2025, 3, 10, 0, 0, zone)},
            {"Saturday", local(2025, 3, 15, 8, 0, zone), local(2025, 3, 10, 0, 0, zone)},
            // Daylight saving starts on Sunday 30 March in Berlin, 9 March in New York,
            // and ends on Sunday 26 October and 2 November.
            {"Berlin spring Sunday", local(2025, 3, 30, 20, 0, zone), local(2025, 3, 24, 0, 0, zone)},
            {"New York spring Sunday", local(2025, 3, 9, 12, 0, zone), local(2025, 3, 3, 0, 0, zone)},
            {"Berlin autumn Sunday", local(2025, 10, 26, 23, 0, zone), local(2025, 10, 20, 0, 0, zone)},
            {"New York autumn Sunday", local(2025, 11, 2, 23, 30, zone), local(2025, 10, 27, 0, 0, zone)},
            {"Sunday across a year", local(2025, 1, 5, 10, 0, zone), local(2024, 12, 30, 0, 0, zone)},
        };
        for (const Case &c : cases) {
            const QDateTime got = PlanCalendar::weekStart(c.at, zone);
            EXPECT_EQ(got, c.expected) << c.what << " in " << zone.id().toStdString() << ": "
                                       << got.toString(Qt::ISODate).toStdString();
            EXPECT_EQ(got.toTimeZone(zone).time(), QTime(0, 0)) << c.what;
        }
    }
    // The same instant belongs to different weeks in different zones: Monday
    // 00:30 in Berlin is still Sunday in New York.
    const QDateTime mondayBerlin = local(2025, 3, 10, 0, 30, berlin);
    EXPECT_EQ(PlanCalendar::weekStart(mondayBerlin, berlin).toTimeZone(berlin).date(), QDate(2025, 3, 10));
    EXPECT_EQ(PlanCalendar::weekStart(mondayBerlin, newYork).toTimeZone(newYork).date(), QDate(2025, 3, 3));
}

TEST_F(PlanCalendarTest, WeekInTheSystemZoneIsSevenCalendarDaysFromMidnight)
{
    // Run under TZ=Europe/Berlin and TZ=America/New_York as well (see CMakeLists).
    const QTimeZone zone = QTimeZone::systemTimeZone();
    for (const QDate day : {QDate(2025, 3, 30), QDate(2025, 3, 9), QDate(2025, 10, 26), QDate(2025, 11, 2)}) {
        const QDateTime start = PlanCalendar::weekStart(QDateTime(day, QTime(18, 0)));
        EXPECT_EQ(start.time(), QTime(0, 0)) << day.toString(Qt::ISODate).toStdString();
        EXPECT_EQ(start.date().dayOfWeek(), 1);
        EXPECT_EQ(start.date().daysTo(day), 6);
        const auto week = PlanCalendar::days(start);
        ASSERT_EQ(week.size(), 7u);
        EXPECT_EQ(week.front(), start.date());
        EXPECT_EQ(week.back(), day);
    }
    const QDateTime now(QDate(2024, 12, 28), QTime(9, 0), zone);
    EXPECT_EQ(PlanCalendar::shownWeekStart(now, 0, zone).date(), QDate(2024, 12, 23));
    EXPECT_EQ(PlanCalendar::shownWeekStart(now, 1, zone).date(), QDate(2024, 12, 30));
    EXPECT_EQ(PlanCalendar::shownWeekStart(now, -52, zone).date(), QDate(2023, 12, 25));
    EXPECT_EQ(PlanCalendar::shownWeekStart(now, 14, zone).time(), QTime(0, 0)) << "across the spring change";
}

TEST_F(PlanCalendarTest, InternetDateTimesAreReadStrictly)
{
    const QDateTime nineThirty(QDate(2025, 3, 14), QTime(9, 30), utc);
    struct Case {
        const char *text;
        std::optional<QDateTime> expected;
    };
    const Case cases[] = {
        {"2025-03-14T09:30:00Z", nineThirty},
        {"2025-03-14T09:30:00.000Z", nineThirty},
        {"2025-03-14T09:30:00.250Z", nineThirty.addMSecs(250)},
        {"2025-03-14T11:30:00.250+02:00", nineThirty.addMSecs(250)},
        {"2025-03-14T04:30:00-05:00", nineThirty},
        {"2025-03-14T09:30:00.123456789Z", nineThirty.addMSecs(123)},
        {"2025-03-14T09:30:00.25Z", nineThirty.addMSecs(250)},
        {"2025-03-14T10:30:00.5+01:00", nineThirty.addMSecs(500)},
        {"2025-03-14t09:30:00z", nineThirty},
        {"2016-12-31T23:59:60Z", QDateTime(QDate(2017, 1, 1), QTime(0, 0), utc)},
        {"2025-03-14", std::nullopt},
        {"2025-03-14T09:30:00", std::nullopt},
        {"2025-03-14T09:30Z", std::nullopt},
        {"2025-03-14 09:30:00Z", std::nullopt},
        {"2025-03-14T09:30:00.Z", std::nullopt},
        {"2025-03-14T09:30:00+0200", std::nullopt},
        {"2025-03-14T09:30:00+24:00", std::nullopt},
        {"2025-02-30T09:30:00Z", std::nullopt},
        {"2025-13-01T09:30:00Z", std::nullopt},
        {"2025-03-14T25:30:00Z", std::nullopt},
        {"2025-03-14T09:30:00ZZ", std::nullopt},
        {"２０２５-03-14T09:30:00Z", std::nullopt},
        {"next Friday", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case &c : cases) {
        const auto got = PlanCalendar::parseInternetDateTime(QString::fromUtf8(c.text));
        EXPECT_EQ(got.has_value(), c.expected.has_value()) << c.text;
        if (got && c.expected) {
            EXPECT_EQ(got->toMSecsSinceEpoch(), c.expected->toMSecsSinceEpoch()) << c.text;
        }
    }
    EXPECT_EQ(PlanCalendar::formatInternetDateTime(local(2025, 3, 14, 12, 0, berlin).addMSecs(999)),
              QStringLiteral("2025-03-14T11:00:00Z"));
}

TEST_F(PlanCalendarTest, DraftEntries)
{
    QString hundred;
    for (int i = 0; i < 100; ++i)
        hundred += QChar(u'a' + i % 26);
    QString families; // 80 family emoji, each several code points
    for (int i = 0; i < 80; ++i)
        families += QStringLiteral("👩‍👩‍👧");
    PlanDraft withCaption = draft(2);
    withCaption.caption = hundred;
    PlanDraft emojiCaption = draft(3);
    emojiCaption.caption = families;
    PlanDraft spacedCaption = draft(4);
    spacedCaption.caption = QStringLiteral("  spaced  ");

    const auto list = PlanCalendar::entries(
        {draft(1, QStringLiteral("   ")), withCaption, emojiCaption, spacedCaption,
         draft(5, {}, {}, QStringLiteral("carousel")), draft(6, QStringLiteral("dated"), QStringLiteral("2025-03-14T09:30:00Z"), QStringLiteral("Reel")),
         draft(7, QStringLiteral("video word"), QStringLiteral("2025-03-14"), QStringLiteral("video")),
         draft(8, QStringLiteral("fraction"), QStringLiteral("2025-03-14T09:30:00.000Z"), QStringLiteral("reel"))},
        {}, QDateTime(QDate(2025, 3, 14), QTime(12, 0), utc), QLocale(QLocale::English));
    ASSERT_EQ(list.size(), 8u);
    auto byId = [&](const char *id) {
        for (const auto &e : list) {
            if (e.id == QLatin1String(id))
                return e;
        }
        ADD_FAILURE() << id;
        return PlanEntry{};
    };
    EXPECT_EQ(byId("draft-1").title, QStringLiteral("   "));
    EXPECT_EQ(byId("draft-2").title, hundred.left(72));
    EXPECT_EQ(byId("draft-3").title, QString(families).left(72 * QStringLiteral("👩‍👩‍👧").size()));
    EXPECT_EQ(byId("draft-4").title, QStringLiteral("  spaced  ")) << "drafts are not trimmed";
    EXPECT_EQ(byId("draft-5").title, QStringLiteral("Prepare Carousel"));
    EXPECT_EQ(byId("draft-5").format, PublishFormat::carousel);
    EXPECT_EQ(byId("draft-6").format, PublishFormat::feed) << "Reel with a capital";
    EXPECT_EQ(byId("draft-7").format, PublishFormat::feed) << "an unknown word";
    EXPECT_FALSE(byId("draft-7").date) << "a date without a time";
    EXPECT_EQ(byId("draft-8").format, PublishFormat::reel);
    ASSERT_TRUE(byId("draft-6").date && byId("draft-8").date);
    EXPECT_EQ(*byId("draft-6").date, *byId("draft-8").date);
    for (const auto &e : list) {
        EXPECT_EQ(e.state, PlanEntry::State::draft());
        EXPECT_TRUE(e.draft.has_value());
        EXPECT_FALSE(e.publication.has_value());
    }
    EXPECT_TRUE(PlanCalendar::entries({}, {}, QDateTime::currentDateTimeUtc()).empty());
}

TEST_F(PlanCalendarTest, PublicationStatesAndThe900SecondBound)
{
    const QDateTime now(QDate(2025, 3, 14), QTime(12, 0), utc);
    const qint64 nowMs = now.toMSecsSinceEpoch();
    auto withFlags = [](Publication p, std::optional<bool> isDraft, std::optional<QString> error = std::nullopt) {
        p.isDraft = isDraft;
        p.error = std::move(error);
        return p;
    };
    struct Case {
        Publication p;
        std::optional<PlanEntry::State> state; // none: no entry
        bool dated;
    };
    const std::vector<Case> cases = {
        {publication("a", "published", nowMs - 86400000), PlanEntry::State::published(), true},
        {withFlags(publication("b", "failed", nowMs), false, QStringLiteral("Media expired")), PlanEntry::State::failed("Media expired"), true},
        {publication("c", "failed"), PlanEntry::State::failed(""), false},
        {publication("d", "preparation_failed", nowMs), PlanEntry::State::failed(""), true},
        {publication("e", "creating", nowMs - 999999999), PlanEntry::State::underway(), true},
        {publication("f", "reconciling"), PlanEntry::State::underway(), false},
        {publication("g", "waiting"), PlanEntry::State::underway(), false},
        {publication("h", "publishing"), PlanEntry::State::underway(), false},
        {publication("i", "processing"), PlanEntry::State::underway(), false},
        {publication("j", "uploading"), PlanEntry::State::underway(), false},
        {publication("k", "draft", nowMs - 99999999), PlanEntry::State::draft(), false},
        {withFlags(publication("l", "published", nowMs), true), PlanEntry::State::published(), false},
        {withFlags(publication("m", "failed", nowMs), true), PlanEntry::State::failed(""), false},
        {withFlags(publication("n", "scheduled", nowMs - 99999999), true), PlanEntry::State::draft(), false},
        {publication("o", "scheduled", nowMs - 900000), PlanEntry::State::scheduled(), true},
        {publication("p", "scheduled", nowMs - 900001), PlanEntry::State::overdue(), true},
        {publication("q", "queued_somewhere", nowMs - 900001), PlanEntry::State::overdue(), true},
        {publication("r", "queued_somewhere"), PlanEntry::State::scheduled(), false},
        {publication("s", "Published", nowMs + 60000), PlanEntry::State::scheduled(), true},
        {publication("t", "cancelled", nowMs), std::nullopt, false},
        {withFlags(publication("u", "cancelled"), true, QStringLiteral("x")), std::nullopt, false},
    };
    QList<Publication> input;
    for (const auto &c : cases)
        input.push_back(c.p);
    const auto list = PlanCalendar::entries({}, input, now);
    for (const auto &c : cases) {
        const auto it = std::find_if(list.begin(), list.end(), [&](const PlanEntry &e) {
            return e.id == QStringLiteral("publication-") + c.p.id;
        });
        if (!c.state) {
            EXPECT_EQ(it, list.end()) << c.p.id.toStdString();
            continue;
        }
        ASSERT_NE(it, list.end()) << c.p.id.toStdString();
        EXPECT_EQ(it->state, *c.state) << c.p.id.toStdString() << " " << c.p.status.toStdString();
        EXPECT_EQ(it->date.has_value(), c.dated) << c.p.id.toStdString();
        EXPECT_TRUE(it->publication && !it->draft);
    }
    EXPECT_EQ(list.size(), cases.size() - 2);
    EXPECT_NE(PlanEntry::State::failed("a"), PlanEntry::State::failed("b"));
}

TEST_F(PlanCalendarTest, PublicationTitlesDatesAndFormats)
{
    const QDateTime now(QDate(2025, 3, 14), QTime(12, 0), utc);
    Publication blank = publication("1", "scheduled");
    blank.caption = QStringLiteral("  \n\t \n");
    Publication word = publication("2", "scheduled", 1741945800250);
    word.caption = QStringLiteral("  word  ");
    word.format = QStringLiteral("story");
    Publication none = publication("3", "scheduled");
    Publication longCaption = publication("4", "scheduled");
    longCaption.caption = QString(200, u'ж');
    const auto list = PlanCalendar::entries({}, {blank, word, none, longCaption}, now, QLocale(QLocale::English));
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].id, QStringLiteral("publication-2")) << "dated first";
    EXPECT_EQ(list[0].title, QStringLiteral("word"));
    EXPECT_EQ(list[0].format, PublishFormat::story);
    EXPECT_EQ(list[0].date->toMSecsSinceEpoch(), 1741945800250) << "the fraction of a second is kept";
    for (const auto &e : list) {
        if (e.id == QLatin1String("publication-1") || e.id == QLatin1String("publication-3")) {
            EXPECT_EQ(e.title, QStringLiteral("Prepare Post"));
            EXPECT_EQ(e.format, PublishFormat::feed);
        }
        if (e.id == QLatin1String("publication-4")) {
            EXPECT_EQ(e.title, QString(72, u'ж'));
        }
    }
}

TEST_F(PlanCalendarTest, SortIsStableDatedFirstThenTitlesUnderTheLocale)
{
    const QDateTime now(QDate(2025, 3, 14), QTime(12, 0), utc);
    const QString at = QStringLiteral("2025-03-20T10:00:00Z");
    // The publication at the very same instant as draft 3.
    const auto list = PlanCalendar::entries(
        {draft(1, QStringLiteral("beta")), draft(2, QStringLiteral("Alpha")), draft(3, QStringLiteral("same time"), at),
         draft(4, QStringLiteral("earlier"), QStringLiteral("2025-03-19T10:00:00+02:00")),
         draft(5, QStringLiteral("ALPHA")), draft(6, QStringLiteral("Äpple")), draft(7, QStringLiteral("Zebra"))},
        {publication("p", "scheduled", QDateTime(QDate(2025, 3, 20), QTime(10, 0), utc).toMSecsSinceEpoch())}, now,
        QLocale(QLocale::English));
    EXPECT_EQ(ids(list), QStringList({"draft-4", "draft-3", "publication-p", "draft-2", "draft-5", "draft-6", "draft-1",
                                      "draft-7"}));

    // Swedish sorts Ä after Z.
    const auto swedish = PlanCalendar::entries({draft(6, QStringLiteral("Äpple")), draft(7, QStringLiteral("Zebra"))},
                                               {}, now, QLocale(QLocale::Swedish, QLocale::Sweden));
    EXPECT_EQ(ids(swedish), QStringList({"draft-7", "draft-6"}));

    // Entries that cannot be told apart keep their input order, however many.
    QList<PlanDraft> same;
    for (int i = 0; i < 200; ++i)
        same.push_back(draft(i, i % 2 ? QStringLiteral("Same") : QStringLiteral("same")));
    const auto stable = PlanCalendar::entries(same, {}, now);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(stable[size_t(i)].id, QStringLiteral("draft-%1").arg(i));
}

TEST_F(PlanCalendarTest, EachEntryLandsInExactlyOnePlace)
{
    const QDateTime now(QDate(2025, 3, 14), QTime(12, 0), berlin);
    const qint64 nowMs = now.toMSecsSinceEpoch();
    Publication failedUndated = publication("f0", "failed");
    Publication publishedUndated = publication("p0", "published");
    const auto list = PlanCalendar::entries(
        {draft(1, "undated"), draft(2, "today", "2025-03-14T13:00:00+01:00"), draft(3, "late Friday", "2025-03-14T22:30:00Z"),
         draft(4, "bad date", "14/03/2025"), draft(1, "duplicate id", "2025-03-16T09:00:00Z")},
        {failedUndated, publishedUndated, publication("f1", "failed", nowMs), publication("o", "scheduled", nowMs - 3600000),
         publication("s", "scheduled", nowMs + 86400000), publication("u", "uploading")},
        now);
    const auto attention = PlanCalendar::attention(list);
    const auto undated = PlanCalendar::undated(list);
    EXPECT_EQ(ids(attention), QStringList({"publication-o", "publication-f1", "publication-f0"}));
    EXPECT_EQ(ids(undated), QStringList({"draft-4", "publication-p0", "publication-u", "draft-1"}));
    // Days are taken in the zone given: 22:30 UTC is still Friday in Berlin,
    // already Saturday in Tokyo.
    EXPECT_EQ(ids(PlanCalendar::entriesOn(list, QDate(2025, 3, 14), berlin)), QStringList({"draft-2", "draft-3"}));
    EXPECT_EQ(ids(PlanCalendar::entriesOn(list, QDate(2025, 3, 14), QTimeZone("Asia/Tokyo"))), QStringList({"draft-2"}));

    QMap<QString, int> seen;
    for (const auto &e : attention)
        ++seen[e.id + e.title];
    for (const auto &e : undated)
        ++seen[e.id + e.title];
    QSet<QDate> dates;
    for (const auto &e : list) {
        if (e.date)
            dates.insert(e.date->toTimeZone(berlin).date());
    }
    for (const QDate &d : dates) {
        for (const auto &e : PlanCalendar::entriesOn(list, d, berlin))
            ++seen[e.id + e.title];
    }
    ASSERT_EQ(seen.size(), qsizetype(list.size()));
    for (auto it = seen.begin(); it != seen.end(); ++it)
        EXPECT_EQ(it.value(), 1) << it.key().toStdString();
}

TEST_F(PlanCalendarTest, NewDraftIsPlannedAtNoonButNeverWithinTheHour)
{
    FakeClock clock(QDateTime(QDate(2025, 3, 14), QTime(10, 59, 59), berlin));
    struct Case {
        const char *what;
        int dayOffset;
        QTime at; // the clock's time of day in Berlin
        QString expected;
    };
    const Case cases[] = {
        {"three days ahead", 3, QTime(10, 59, 59), "2025-03-17T11:00:00Z"},
        {"today at 10:59:59", 0, QTime(10, 59, 59), "2025-03-14T11:00:00Z"},
        {"today at 11:00:00", 0, QTime(11, 0, 0), "2025-03-14T11:00:00Z"},
        {"today at 11:00:01", 0, QTime(11, 0, 1), "2025-03-14T11:00:01Z"},
        {"yesterday", -1, QTime(9, 15, 30), "2025-03-14T09:15:30Z"},
        {"the Monday after the spring change", 10, QTime(9, 0), "2025-03-24T11:00:00Z"},
        {"a day in summer time", 20, QTime(9, 0), "2025-04-03T10:00:00Z"},
    };
    for (const Case &c : cases) {
        clock.setNow(QDateTime(QDate(2025, 3, 14), c.at, berlin));
        const PlanDraft d =
            PlanCalendar::newDraft(QDate(2025, 3, 14).addDays(c.dayOffset), clock.now(), 1741946400000, berlin);
        EXPECT_EQ(d.scheduledAt, c.expected) << c.what;
        EXPECT_TRUE(d.scheduledAt.endsWith(u'Z'));
        EXPECT_EQ(d.id, 1741946400000);
        EXPECT_EQ(d.format, QStringLiteral("post"));
        EXPECT_TRUE(d.title.isEmpty() && d.caption.isEmpty() && d.hashtags.isEmpty());
        EXPECT_FALSE(d.gridSlot || d.mediaId || d.posterMediaId || d.preview);
        EXPECT_FALSE(d.hiddenFromGrid);
    }
    // In the system zone too: the result is always UTC with "Z".
    clock.setNow(QDateTime(QDate(2025, 3, 30), QTime(8, 0)));
    const PlanDraft sys = PlanCalendar::newDraft(QDate(2025, 4, 2), clock.now(), 9);
    EXPECT_EQ(PlanCalendar::parseInternetDateTime(sys.scheduledAt), QDateTime(QDate(2025, 4, 2), QTime(12, 0)).toUTC());
}

TEST_F(PlanCalendarTest, WeekTitleAcrossAYearChange)
{
    const auto week = PlanCalendar::days(QDateTime(QDate(2024, 12, 30), QTime(0, 0), berlin), berlin);
    ASSERT_EQ(week.size(), 7u);
    EXPECT_EQ(week.front(), QDate(2024, 12, 30));
    EXPECT_EQ(week.back(), QDate(2025, 1, 5));
    EXPECT_EQ(PlanCalendar::weekTitle(week, QLocale(QLocale::English, QLocale::UnitedKingdom)),
              QStringLiteral("30 Dec – 5 Jan"));
    EXPECT_EQ(PlanCalendar::weekTitle(week, QLocale(QLocale::English, QLocale::UnitedStates)),
              QStringLiteral("Dec 30 – Jan 5"));
    EXPECT_EQ(PlanCalendar::weekTitle(week, QLocale(QLocale::German, QLocale::Germany)),
              QStringLiteral("30. Dez. – 5. Jan."));
    EXPECT_EQ(PlanCalendar::weekTitle(week, QLocale(QLocale::Russian, QLocale::Russia)),
              QStringLiteral("30 дек. – 5 янв."));
    EXPECT_EQ(PlanCalendar::weekTitle(week, QLocale(QLocale::Japanese, QLocale::Japan)),
              QStringLiteral("12月30日 – 1月5日"));
    EXPECT_EQ(PlanCalendar::weekTitle(week, QLocale(QLocale::Portuguese, QLocale::Brazil)),
              QStringLiteral("30 de dez. – 5 de jan."));
    EXPECT_EQ(PlanCalendar::weekTitle({}, QLocale(QLocale::English)), QString());
    // The day section's title keeps the weekday, with full names.
    EXPECT_EQ(QLocale(QLocale::English, QLocale::UnitedStates)
                  .toString(QDate(2025, 3, 14), PlanCalendar::dayMonthFormat(QLocale(QLocale::English, QLocale::UnitedStates),
                                                                             true, QLocale::LongFormat)),
              QStringLiteral("Friday, March 14"));
}

TEST_F(PlanCalendarTest, BadInputNeverBreaksTheList)
{
    QString huge;
    for (int i = 0; i < 100000; ++i)
        huge += QStringLiteral("é😺");
    QList<PlanDraft> drafts = {draft(1, huge), draft(1, {}, QStringLiteral("garbage")), draft(-5, {}, {}, QString())};
    drafts[1].caption = huge;
    Publication p = publication(QString(), QString(), std::numeric_limits<qint64>::max());
    const auto list = PlanCalendar::entries(drafts, {p}, QDateTime::currentDateTimeUtc());
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(ids(list).count(QStringLiteral("draft-1")), 2) << "duplicate ids are both listed";
    EXPECT_TRUE(ids(list).contains(QStringLiteral("publication-")));
    for (const auto &e : list) {
        EXPECT_FALSE(e.title.isEmpty());
        EXPECT_LE(e.title.size(), huge.size());
    }
}

TEST_F(PlanCalendarTest, RowDatesAreAbbreviatedWithAShortTime)
{
    const QDateTime at(QDate(2025, 3, 14), QTime(9, 30, 45), berlin);
    const QString us = PlanCalendar::abbreviatedDateTime(at, QLocale(QLocale::English, QLocale::UnitedStates), berlin);
    EXPECT_TRUE(us.startsWith(QStringLiteral("Mar 14, 2025, 9:30"))) << us.toStdString();
    EXPECT_TRUE(us.endsWith(QStringLiteral("AM"))) << us.toStdString();
    EXPECT_EQ(PlanCalendar::abbreviatedDateTime(at, QLocale(QLocale::English, QLocale::UnitedKingdom), berlin),
              QStringLiteral("14 Mar 2025, 09:30"));
    EXPECT_EQ(PlanCalendar::abbreviatedDateTime(at, QLocale(QLocale::German, QLocale::Germany), berlin),
              QStringLiteral("14. März 2025, 09:30"));
    // The same instant in another zone is another wall-clock time, and in a
    // locale whose short time carries seconds they are dropped.
    EXPECT_EQ(PlanCalendar::abbreviatedDateTime(at, QLocale::c(), newYork), QStringLiteral("Mar 14, 2025, 04:30"));
    for (const QLocale &locale : {QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates),
                                  QLocale(QLocale::Japanese, QLocale::Japan), QLocale(QLocale::Arabic, QLocale::Egypt)})
        EXPECT_FALSE(PlanCalendar::shortTimeFormat(locale).contains(u's')) << locale.name().toStdString();
}

TEST_F(PlanCalendarTest, PublicationTimesBeyondAnyCalendarAreUndatedAndStillListed)
{
    // The service's number of milliseconds, out of the years a calendar shows:
    // no day could list such an entry, so it goes with the undated ones.
    const QDateTime now(QDate(2025, 3, 14), QTime(12, 0), utc);
    const qint64 earliest = QDateTime(QDate(1, 1, 1), QTime(0, 0), utc).toMSecsSinceEpoch();
    const qint64 latest = QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999), utc).toMSecsSinceEpoch();
    const QList<Publication> input = {
        publication("max", "scheduled", std::numeric_limits<qint64>::max()),
        publication("min", "scheduled", std::numeric_limits<qint64>::min()),
        publication("after", "scheduled", latest + 1),
        publication("before", "scheduled", earliest - 1),
        publication("failedFar", "failed", std::numeric_limits<qint64>::max()),
        publication("first", "published", earliest),
        publication("last", "scheduled", latest),
    };
    const auto list = PlanCalendar::entries({}, input, now);
    ASSERT_EQ(list.size(), input.size());
    for (const auto &e : list) {
        const bool inRange = e.id == QLatin1String("publication-first") || e.id == QLatin1String("publication-last");
        EXPECT_EQ(e.date.has_value(), inRange) << e.id.toStdString();
        if (e.date) {
            EXPECT_TRUE(e.date->isValid());
            EXPECT_TRUE(e.date->toTimeZone(QTimeZone::systemTimeZone()).date().isValid()) << e.id.toStdString();
        }
    }
    EXPECT_EQ(ids(PlanCalendar::attention(list)), QStringList({"publication-failedFar"}));
    EXPECT_EQ(ids(PlanCalendar::undated(list)),
              QStringList({"publication-max", "publication-min", "publication-after", "publication-before"}))
        << "each undated, titled alike, in input order";
    // The two at the ends of the range are listed on their days, in any zone.
    const QTimeZone zone = QTimeZone::systemTimeZone();
    const QDate firstDay = QDateTime::fromMSecsSinceEpoch(earliest, zone).date();
    const QDate lastDay = QDateTime::fromMSecsSinceEpoch(latest, zone).date();
    EXPECT_EQ(ids(PlanCalendar::entriesOn(list, firstDay, zone)), QStringList({"publication-first"}));
    EXPECT_EQ(ids(PlanCalendar::entriesOn(list, lastDay, zone)), QStringList({"publication-last"}));
}
