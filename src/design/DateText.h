#pragma once

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTimeZone>

// Dates and times as the application shows them: in the language in use (not
// the system's locale), in the user's time zone, each as one isolated run of
// its own direction inside right-to-left text. One format per use, the same
// on every screen: a planned or scheduled moment reads the same in the
// composer, the plan, the draft editor, their date fields and the cat's lines.
// The order and punctuation are the language's own (ICU's patterns); a month's
// name is the one a date field shows and reads back (Dutch "dec.").
namespace DateText {

// The abbreviated date with the shortened time ("Dec 7, 2026, 1:32 PM";
// German "7. Dez. 2026, 13:32").
QString dateTime(const QDateTime &at, const QTimeZone &zone = QTimeZone::systemTimeZone());
// The abbreviated date without a time ("Dec 7, 2026").
QString date(const QDateTime &at, const QTimeZone &zone = QTimeZone::systemTimeZone());
// Day and abbreviated month ("Dec 7"; German "7. Dez.").
QString dayMonth(const QDate &day);
// The first and last day joined by " – " ("Dec 7 – Dec 13").
QString weekTitle(const QDate &first, const QDate &last);
// The abbreviated weekday in upper case ("MON"; German "MO.").
QString weekdayShort(const QDate &day);
// The day's number as the language writes it ("7").
QString dayNumber(const QDate &day);
// Full weekday, day and full month ("Monday, December 7"; German "Montag, 7. Dezember").
QString dayHeading(const QDate &day);

// The display format of a date-and-time field that matches dateTime(), in
// QDateTimeEdit's notation; the field's locale is L10n::locale().
QString editorFormat();

// The same texts for a given locale, not isolated: for what is not shown as it
// stands (a field's format, a title laid out by its caller).
QString dateTime(const QDateTime &at, const QTimeZone &zone, const QLocale &locale);
QString weekTitle(const QDate &first, const QDate &last, const QLocale &locale);
// The locale's own pattern for a set of ICU fields ("yMMMd", "jmm"), in Qt's
// notation for QLocale::toString and QDateTimeEdit.
QString pattern(const char *skeleton, const QLocale &locale);

// `text` between FIRST STRONG ISOLATE and POP DIRECTIONAL ISOLATE when the
// language in use is written right to left; unchanged otherwise.
QString isolated(const QString &text);

} // namespace DateText
