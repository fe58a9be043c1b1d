#include "design/DateText.h"

#include "design/L10n.h"

#include <unicode/dtptngen.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <QLocale>

#include <memory>

namespace {

// The language in use as ICU names it: Arabic with Latin digits, as the
// application writes its numbers.
icu::Locale icuLocale()
{
    const AppLanguage language = L10n::effectiveLanguage();
    if (language == AppLanguage::ar)
        return icu::Locale("ar@numbers=latn");
    return icu::Locale(AppLanguages::rawValue(language).toLatin1().constData());
}

QString qtText(const icu::UnicodeString &text)
{
    return QString(reinterpret_cast<const QChar *>(text.getBuffer()), text.length());
}

// The locale's own pattern for a set of fields (a skeleton): their order,
// punctuation and the words between them, as the language writes them.
icu::UnicodeString bestPattern(const icu::Locale &locale, const char *skeleton)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::DateTimePatternGenerator> generator(
        icu::DateTimePatternGenerator::createInstance(locale, status));
    if (U_FAILURE(status) || !generator)
        return icu::UnicodeString(skeleton);
    const icu::UnicodeString pattern = generator->getBestPattern(icu::UnicodeString(skeleton), status);
    return U_FAILURE(status) ? icu::UnicodeString(skeleton) : pattern;
}

// A calendar day's weekday or number as ICU writes it (a weekday alone in its
// stand-alone form: German "Mo", not "Mo."), at the day's noon in UTC: no zone
// can move it to another day.
QString formattedDay(const char *skeleton, const QDate &day)
{
    const icu::Locale locale = icuLocale();
    UErrorCode status = U_ZERO_ERROR;
    icu::SimpleDateFormat format(bestPattern(locale, skeleton), locale, status);
    if (U_FAILURE(status))
        return {};
    format.adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString(u"UTC")));
    icu::UnicodeString out;
    format.format(UDate(QDateTime(day, QTime(12, 0), QTimeZone::utc()).toMSecsSinceEpoch()), out);
    return qtText(out);
}

// A locale named by Qt ("en_GB", "pt_BR"; "C" is ICU's root) as ICU knows it.
icu::Locale icuLocale(const QLocale &locale) { return icu::Locale(locale.name().toLatin1().constData()); }

// ICU's pattern letters in Qt's notation: the same fields, the same literals
// (both quote with apostrophes).
QString qtPattern(const QString &pattern)
{
    QString out;
    for (qsizetype i = 0; i < pattern.size();) {
        const QChar c = pattern.at(i);
        if (c == u'\'') {
            const qsizetype end = pattern.indexOf(u'\'', i + 1);
            const qsizetype stop = end < 0 ? pattern.size() : end + 1;
            out += pattern.mid(i, stop - i);
            i = stop;
            continue;
        }
        qsizetype run = 1;
        while (i + run < pattern.size() && pattern.at(i + run) == c)
            ++run;
        switch (c.unicode()) {
        case u'y': out += run == 2 ? QStringLiteral("yy") : QStringLiteral("yyyy"); break;
        case u'M':
        case u'L': out += QString(qMin<qsizetype>(run, 4), u'M'); break;
        case u'd': out += QString(qMin<qsizetype>(run, 2), u'd'); break;
        case u'E':
        case u'c': out += run >= 4 ? QStringLiteral("dddd") : QStringLiteral("ddd"); break;
        case u'H':
        case u'k': out += QString(qMin<qsizetype>(run, 2), u'H'); break;
        case u'h':
        case u'K': out += QString(qMin<qsizetype>(run, 2), u'h'); break;
        case u'm': out += QString(qMin<qsizetype>(run, 2), u'm'); break;
        case u'a':
        case u'b':
        case u'B': out += QStringLiteral("AP"); break;
        default:
            // Other letters would read as fields in Qt's notation: quote them.
            if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'))
                out += u'\'' + QString(run, c) + u'\'';
            else
                out += QString(run, c);
        }
        i += run;
    }
    return out;
}

// A text that names a month, written with the names a date field shows and
// reads back (the toolkit's locale data) in the language's own pattern (ICU's):
// the two abbreviate some months differently (Dutch "dec" and "dec."), and a
// field can only show the toolkit's.
QString withMonth(const QLocale &names, const icu::Locale &patterns, const char *skeleton, const QDateTime &at,
                  const QTimeZone &zone)
{
    return names.toString(at.toTimeZone(zone.isValid() ? zone : QTimeZone::utc()),
                          qtPattern(qtText(bestPattern(patterns, skeleton))));
}

QString withMonth(const char *skeleton, const QDateTime &at, const QTimeZone &zone)
{
    return withMonth(L10n::locale(), icuLocale(), skeleton, at, zone);
}

// A calendar day that names its month, at its noon in UTC.
QString dayWithMonth(const QLocale &names, const icu::Locale &patterns, const char *skeleton, const QDate &day)
{
    return withMonth(names, patterns, skeleton, QDateTime(day, QTime(12, 0), QTimeZone::utc()), QTimeZone::utc());
}

QString dayWithMonth(const char *skeleton, const QDate &day)
{
    return dayWithMonth(L10n::locale(), icuLocale(), skeleton, day);
}

} // namespace

namespace DateText {

QString isolated(const QString &text)
{
    if (text.isEmpty() || L10n::layoutDirection() != Qt::RightToLeft)
        return text;
    return QChar(0x2068) + text + QChar(0x2069);
}

QString dateTime(const QDateTime &at, const QTimeZone &zone) { return isolated(withMonth("yMMMdjmm", at, zone)); }

QString date(const QDateTime &at, const QTimeZone &zone) { return isolated(withMonth("yMMMd", at, zone)); }

QString dayMonth(const QDate &day) { return isolated(dayWithMonth("MMMd", day)); }

QString weekTitle(const QDate &first, const QDate &last)
{
    return dayMonth(first) + QStringLiteral(" \u2013 ") + dayMonth(last);
}

QString weekdayShort(const QDate &day)
{
    const QString name = formattedDay("EEE", day);
    return isolated(L10n::locale().toUpper(name));
}

QString dayNumber(const QDate &day) { return isolated(formattedDay("d", day)); }

QString dayHeading(const QDate &day) { return isolated(dayWithMonth("MMMMEEEEd", day)); }

QString editorFormat() { return qtPattern(qtText(bestPattern(icuLocale(), "yMMMdjmm"))); }

QString dateTime(const QDateTime &at, const QTimeZone &zone, const QLocale &locale)
{
    return withMonth(locale, icuLocale(locale), "yMMMdjmm", at, zone);
}

QString weekTitle(const QDate &first, const QDate &last, const QLocale &locale)
{
    const icu::Locale icu = icuLocale(locale);
    return dayWithMonth(locale, icu, "MMMd", first) + QStringLiteral(" \u2013 ") + dayWithMonth(locale, icu, "MMMd", last);
}

QString pattern(const char *skeleton, const QLocale &locale)
{
    return qtPattern(qtText(bestPattern(icuLocale(locale), skeleton)));
}

} // namespace DateText
