#include "planner/PlanCalendar.h"

#include "design/DateText.h"
#include "design/L10n.h"
#include "services/Json.h"

#include <QCollator>
#include <QHash>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <array>
#include <numeric>

namespace PlanCalendar {
namespace {

constexpr int kTitleCharacters = 72;
constexpr qint64 kOverdueAfterMs = 900 * 1000;
// 0001-01-01T00:00:00Z and 9999-12-31T23:59:59.999Z: the years an internet
// date-time can write.
constexpr qint64 kEarliestMs = -62135596800000;
constexpr qint64 kLatestMs = 253402300799999;

// The first `count` user-perceived characters (an emoji or a letter with its
// combining marks is one).
QString firstCharacters(const QString &text, int count)
{
    return Text::prefixGraphemes(text, count);
}

// "Prepare %@" for each format, looked up once per list.
struct PrepareTitles {
    std::array<QString, 4> titles;
    const QString &operator()(PublishFormat format)
    {
        QString &t = titles[size_t(format)];
        if (t.isEmpty())
            t = L10n::format(L10n::t("Prepare %@"), {PublishFormats::label(format)});
        return t;
    }
};

PlanEntry fromDraft(const ZephylWire::PlanDraft &draft, PrepareTitles &prepareTitle)
{
    PlanEntry e;
    e.id = QStringLiteral("draft-") + QString::number(draft.id);
    e.format = PublishFormats::fromPlanValue(draft.format);
    // Drafts' titles and captions are used as stored, not trimmed.
    if (!draft.title.isEmpty())
        e.title = draft.title;
    else if (!draft.caption.isEmpty())
        e.title = firstCharacters(draft.caption, kTitleCharacters);
    else
        e.title = prepareTitle(e.format);
    if (!draft.scheduledAt.isEmpty())
        e.date = parseInternetDateTime(draft.scheduledAt);
    e.state = PlanEntry::State::draft();
    e.draft = draft;
    return e;
}

bool isUnderway(const QString &status)
{
    static const QString words[] = {QStringLiteral("creating"),   QStringLiteral("reconciling"),
                                    QStringLiteral("waiting"),    QStringLiteral("publishing"),
                                    QStringLiteral("processing"), QStringLiteral("uploading")};
    return std::find(std::begin(words), std::end(words), status) != std::end(words);
}

PlanEntry fromPublication(const ZephylWire::Publication &p, qint64 nowMs, PrepareTitles &prepareTitle)
{
    PlanEntry e;
    e.id = QStringLiteral("publication-") + p.id;
    e.format = PublishFormats::fromPlanValue(p.format.value_or(QStringLiteral("post")));
    const QString caption = p.caption.value_or(QString()).trimmed();
    e.title = caption.isEmpty() ? prepareTitle(e.format) : firstCharacters(caption, kTitleCharacters);
    const bool draftLike = p.isDraft.value_or(false) || p.status == QLatin1String("draft");
    // A number beyond any calendar's years has no day to be listed on: read as
    // no date, so the entry still shows (among the undated).
    if (!draftLike && p.scheduledAt && *p.scheduledAt >= kEarliestMs && *p.scheduledAt <= kLatestMs)
        e.date = QDateTime::fromMSecsSinceEpoch(*p.scheduledAt, QTimeZone::utc());
    if (p.status == QLatin1String("published"))
        e.state = PlanEntry::State::published();
    else if (p.status == QLatin1String("failed") || p.status == QLatin1String("preparation_failed"))
        e.state = PlanEntry::State::failed(p.error.value_or(QString()));
    else if (isUnderway(p.status))
        e.state = PlanEntry::State::underway();
    else if (draftLike)
        e.state = PlanEntry::State::draft();
    else if (e.date && e.date->toMSecsSinceEpoch() < nowMs - kOverdueAfterMs)
        e.state = PlanEntry::State::overdue();
    else
        e.state = PlanEntry::State::scheduled();
    e.publication = p;
    return e;
}

bool isAsciiDigits(QStringView s)
{
    return std::all_of(s.begin(), s.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

} // namespace

QDateTime weekStart(const QDateTime &date, const QTimeZone &zone)
{
    const QDate day = date.toTimeZone(zone).date();
    // Qt counts Monday as 1 and Sunday as 7: Sunday goes back six days.
    return day.addDays(-(day.dayOfWeek() - 1)).startOfDay(zone);
}

std::vector<PlanEntry> entries(const QList<ZephylWire::PlanDraft> &drafts,
                               const QList<ZephylWire::Publication> &publications, const QDateTime &now,
                               const QLocale &locale)
{
    std::vector<PlanEntry> list;
    list.reserve(size_t(drafts.size() + publications.size()));
    PrepareTitles prepareTitle;
    QHash<qint64, int> places;
    for (const auto &d : drafts) {
        list.push_back(fromDraft(d, prepareTitle));
        list.back().draftPlace = places[d.id]++;
    }
    const qint64 nowMs = now.toMSecsSinceEpoch();
    for (const auto &p : publications) {
        if (p.status != QLatin1String("cancelled"))
            list.push_back(fromPublication(p, nowMs, prepareTitle));
    }

    // Sort keys worked out once: instants for dated entries, collation keys for
    // the titles of undated ones.
    struct Key {
        bool dated;
        qint64 ms;
        std::optional<QCollatorSortKey> title;
    };
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::vector<Key> keys;
    keys.reserve(list.size());
    for (const PlanEntry &e : list) {
        if (e.date)
            keys.push_back({true, e.date->toMSecsSinceEpoch(), std::nullopt});
        else
            // Folded first: the "C" locale's collation would keep case apart.
            keys.push_back({false, 0, collator.sortKey(e.title.toCaseFolded())});
    }
    std::vector<size_t> order(list.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const Key &ka = keys[a], &kb = keys[b];
        if (ka.dated && kb.dated)
            return ka.ms < kb.ms;
        if (ka.dated != kb.dated)
            return ka.dated;
        return ka.title->compare(*kb.title) < 0;
    });
    // Put the entries in that order in place, one cycle of the permutation at a time.
    for (size_t start = 0; start < order.size(); ++start) {
        size_t at = start;
        while (order[at] != start) {
            const size_t from = order[at];
            std::swap(list[at], list[from]);
            order[at] = at;
            at = from;
        }
        order[at] = at;
    }
    return list;
}

std::vector<PlanEntry> attention(const std::vector<PlanEntry> &entries)
{
    std::vector<PlanEntry> out;
    std::copy_if(entries.begin(), entries.end(), std::back_inserter(out),
                 [](const PlanEntry &e) { return e.state.needsAttention(); });
    return out;
}

std::vector<PlanEntry> undated(const std::vector<PlanEntry> &entries)
{
    std::vector<PlanEntry> out;
    std::copy_if(entries.begin(), entries.end(), std::back_inserter(out),
                 [](const PlanEntry &e) { return !e.date && !e.state.needsAttention(); });
    return out;
}

std::vector<PlanEntry> entriesOn(const std::vector<PlanEntry> &entries, const QDate &day, const QTimeZone &zone)
{
    std::vector<PlanEntry> out;
    std::copy_if(entries.begin(), entries.end(), std::back_inserter(out), [&](const PlanEntry &e) {
        return e.date && !e.state.needsAttention() && e.date->toTimeZone(zone).date() == day;
    });
    return out;
}

QDateTime shownWeekStart(const QDateTime &now, int weekOffset, const QTimeZone &zone)
{
    return weekStart(now.toTimeZone(zone).addDays(qint64(weekOffset) * 7), zone);
}

std::vector<QDate> days(const QDateTime &weekStart, const QTimeZone &zone)
{
    const QDate monday = weekStart.toTimeZone(zone).date();
    std::vector<QDate> out;
    for (int i = 0; i < 7; ++i) {
        const QDate d = monday.addDays(i);
        if (d.isValid())
            out.push_back(d);
    }
    return out;
}

QString dayMonthFormat(const QLocale &locale, bool withWeekday, QLocale::FormatType monthStyle)
{
    const bool longMonth = monthStyle == QLocale::LongFormat;
    return DateText::pattern(withWeekday ? (longMonth ? "MMMMEEEEd" : "MMMEEEEd") : (longMonth ? "MMMMd" : "MMMd"),
                             locale);
}

QString abbreviatedDateFormat(const QLocale &locale) { return DateText::pattern("yMMMd", locale); }

QString shortTimeFormat(const QLocale &locale) { return DateText::pattern("jmm", locale); }

QString abbreviatedDateTime(const QDateTime &time, const QLocale &locale, const QTimeZone &zone)
{
    return DateText::dateTime(time, zone, locale);
}

QString weekTitle(const std::vector<QDate> &days, const QLocale &locale)
{
    return days.empty() ? QString() : DateText::weekTitle(days.front(), days.back(), locale);
}

ZephylWire::PlanDraft newDraft(const QDate &selectedDay, const QDateTime &now, qint64 id, const QTimeZone &zone)
{
    // Noon that day; in a daylight-saving gap, the first wall-clock time after it.
    QDateTime noon(selectedDay, QTime(12, 0), zone);
    for (int minutes = 1; minutes <= 180 && (!noon.isValid() || noon.time() < QTime(12, 0)); ++minutes)
        noon = QDateTime(selectedDay, QTime(12, 0).addSecs(minutes * 60), zone);
    if (!noon.isValid())
        noon = selectedDay.startOfDay(zone);
    const QDateTime soon = now.addSecs(3600);
    const QDateTime planned = soon >= noon ? soon : noon;

    ZephylWire::PlanDraft draft;
    draft.id = id;
    draft.format = QStringLiteral("post");
    draft.scheduledAt = formatInternetDateTime(planned);
    return draft;
}

std::optional<QDateTime> parseInternetDateTime(const QString &text)
{
    // 2025-03-14T09:30:00[.250](Z|+02:00)
    const QStringView s(text);
    if (s.size() < 20 || s[4] != u'-' || s[7] != u'-' || (s[10] != u'T' && s[10] != u't') || s[13] != u':' ||
        s[16] != u':')
        return std::nullopt;
    const QStringView fields[] = {s.mid(0, 4), s.mid(5, 2), s.mid(8, 2), s.mid(11, 2), s.mid(14, 2), s.mid(17, 2)};
    for (QStringView f : fields) {
        if (!isAsciiDigits(f))
            return std::nullopt;
    }
    const int year = fields[0].toInt(), month = fields[1].toInt(), day = fields[2].toInt();
    const int hour = fields[3].toInt(), minute = fields[4].toInt(), second = fields[5].toInt();
    qsizetype i = 19;
    int ms = 0;
    if (s[i] == u'.') {
        qsizetype j = i + 1;
        while (j < s.size() && s[j] >= u'0' && s[j] <= u'9')
            ++j;
        if (j == i + 1)
            return std::nullopt;
        const QStringView fraction = s.mid(i + 1, std::min<qsizetype>(3, j - i - 1));
        ms = fraction.toInt();
        for (qsizetype k = fraction.size(); k < 3; ++k)
            ms *= 10;
        i = j;
    }
    int offsetSeconds = 0;
    const QStringView zone = s.mid(i);
    if (zone == u"Z" || zone == u"z") {
        offsetSeconds = 0;
    } else if (zone.size() == 6 && (zone[0] == u'+' || zone[0] == u'-') && zone[3] == u':' &&
               isAsciiDigits(zone.mid(1, 2)) && isAsciiDigits(zone.mid(4, 2))) {
        const int oh = zone.mid(1, 2).toInt(), om = zone.mid(4, 2).toInt();
        if (oh > 23 || om > 59)
            return std::nullopt;
        offsetSeconds = (zone[0] == u'-' ? -1 : 1) * (oh * 3600 + om * 60);
    } else {
        return std::nullopt;
    }
    const QDate date(year, month, day);
    // A leap second (60) is read as the first instant of the next minute.
    if (!date.isValid() || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    // Worked out directly: cheaper than a date-time in a zone made for one value.
    const qint64 days = date.toJulianDay() - QDate(1970, 1, 1).toJulianDay();
    const qint64 seconds = ((days * 24 + hour) * 60 + minute) * 60 + second - offsetSeconds;
    return QDateTime::fromMSecsSinceEpoch(seconds * 1000 + ms, QTimeZone::utc());
}

QString formatInternetDateTime(const QDateTime &time)
{
    const QDateTime utc = QDateTime::fromSecsSinceEpoch(time.toSecsSinceEpoch(), QTimeZone::utc());
    return utc.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

} // namespace PlanCalendar
