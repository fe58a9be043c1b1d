#pragma once

#include "app/PublishFormat.h"
#include "services/WireModels.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTimeZone>

#include <optional>
#include <vector>

// One line of the week plan: a plan draft or a publication, with its date and state.
struct PlanEntry {
    class State {
    public:
        enum class Kind { failed, draft, scheduled, underway, published, overdue };

        static State failed(QString error) { return State(Kind::failed, std::move(error)); }
        static State draft() { return State(Kind::draft); }
        static State scheduled() { return State(Kind::scheduled); }
        static State underway() { return State(Kind::underway); }
        static State published() { return State(Kind::published); }
        static State overdue() { return State(Kind::overdue); }

        Kind kind() const { return m_kind; }
        // The service's error text of a failed publication; "" when it sent none.
        const QString &error() const { return m_error; }
        // Overdue and failed entries are listed apart, as needing attention.
        bool needsAttention() const { return m_kind == Kind::overdue || m_kind == Kind::failed; }

        friend bool operator==(const State &a, const State &b)
        {
            return a.m_kind == b.m_kind && (a.m_kind != Kind::failed || a.m_error == b.m_error);
        }

    private:
        explicit State(Kind kind, QString error = {}) : m_kind(kind), m_error(std::move(error)) {}
        Kind m_kind;
        QString m_error;
    };

    // "draft-<id>" or "publication-<id>": the two kinds never share an id.
    QString id;
    QString title;
    PublishFormat format = PublishFormat::feed;
    std::optional<QDateTime> date; // absent: undated
    State state = State::draft();
    // Exactly one of the two is present.
    std::optional<ZephylWire::PlanDraft> draft;
    std::optional<ZephylWire::Publication> publication;
    // A draft's place among the plan's drafts under its id (DraftPlace).
    int draftPlace = 0;

    friend bool operator==(const PlanEntry &, const PlanEntry &) = default;
};

// The merge of drafts and publications into dated entries, and where weeks begin.
// Pure functions: the time, the time zone and the locale are arguments.
namespace PlanCalendar {

// 00:00 of the Monday of the week that holds `date`, in `zone`, by calendar days
// (a daylight-saving change inside the week still lands on midnight).
QDateTime weekStart(const QDateTime &date, const QTimeZone &zone = QTimeZone::systemTimeZone());

// All drafts, then all publications except cancelled ones, as entries sorted by
// date (undated last, those by title under `locale`, case-insensitively); the
// sort is stable. `now` decides which scheduled publications are overdue.
std::vector<PlanEntry> entries(const QList<ZephylWire::PlanDraft> &drafts,
                               const QList<ZephylWire::Publication> &publications, const QDateTime &now,
                               const QLocale &locale = QLocale());

// The plan view's lists. Each entry lands in exactly one of: attention (overdue
// or failed, dated or not), the list of its day (other dated entries), undated.
std::vector<PlanEntry> attention(const std::vector<PlanEntry> &entries);
std::vector<PlanEntry> undated(const std::vector<PlanEntry> &entries);
std::vector<PlanEntry> entriesOn(const std::vector<PlanEntry> &entries, const QDate &day,
                                 const QTimeZone &zone = QTimeZone::systemTimeZone());

// The Monday 00:00 of the week `weekOffset` weeks from the one holding `now`.
QDateTime shownWeekStart(const QDateTime &now, int weekOffset, const QTimeZone &zone = QTimeZone::systemTimeZone());
// The seven days from `weekStart`, Monday to Sunday.
std::vector<QDate> days(const QDateTime &weekStart, const QTimeZone &zone = QTimeZone::systemTimeZone());
// "10 Mar – 16 Mar" (or "Mar 10 – Mar 16", as the locale orders day and month);
// "" without days. Not translated: the locale writes it.
QString weekTitle(const std::vector<QDate> &days, const QLocale &locale = QLocale());

// A new draft for `selectedDay`: planned at noon that day in `zone`, but never
// less than an hour after `now`; format "post", nothing else filled in.
ZephylWire::PlanDraft newDraft(const QDate &selectedDay, const QDateTime &now, qint64 id,
                               const QTimeZone &zone = QTimeZone::systemTimeZone());

// RFC 3339 internet date-time, strictly: full date, "T", time with seconds,
// optional fraction (kept to milliseconds), and a zone ("Z" or +hh:mm). Date-only,
// zone-less and any other text give nothing.
std::optional<QDateTime> parseInternetDateTime(const QString &text);
// UTC with whole seconds and "Z", e.g. 2025-03-14T11:00:00Z.
QString formatInternetDateTime(const QDateTime &time);

// A locale's date format reduced to day and month (abbreviated), optionally with
// the weekday: the order and separators stay the locale's own.
QString dayMonthFormat(const QLocale &locale, bool withWeekday, QLocale::FormatType monthStyle);
// The locale's long date format with an abbreviated month and no weekday
// ("MMM d, yyyy", "d MMM yyyy").
QString abbreviatedDateFormat(const QLocale &locale);
// The locale's short time format, without seconds.
QString shortTimeFormat(const QLocale &locale);
// A date-time as the locale writes it abbreviated, with its short time, in `zone`.
QString abbreviatedDateTime(const QDateTime &time, const QLocale &locale,
                            const QTimeZone &zone = QTimeZone::systemTimeZone());

} // namespace PlanCalendar
