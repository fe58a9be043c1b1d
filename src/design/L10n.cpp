#include "design/L10n.h"
#include "design/TextDirection.h"

#include "design/Strings.h"

#include <QtGlobal>

#include <atomic>

namespace {
std::atomic<AppLanguage> g_preference{AppLanguage::system};

// The XDG way of naming languages: LANGUAGE is an ordered list, then the locale
// variables in their order of precedence.
QStringList systemPreferredLanguages()
{
    QStringList result;
    const QString list = qEnvironmentVariable("LANGUAGE");
    for (const QString &entry : list.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        result.append(entry);
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        QString value = qEnvironmentVariable(name);
        value = value.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);
        if (!value.isEmpty() && value != QLatin1String("C") && value != QLatin1String("POSIX")) {
            result.append(value);
            break;
        }
    }
    return result;
}

L10n::PreferredLanguagesProvider &provider()
{
    static L10n::PreferredLanguagesProvider p = systemPreferredLanguages;
    return p;
}
} // namespace

namespace L10n {

AppLanguage preference() { return g_preference.load(std::memory_order_relaxed); }
void setPreference(AppLanguage language) { g_preference.store(language, std::memory_order_relaxed); }

void setPreferredLanguagesProvider(PreferredLanguagesProvider p)
{
    provider() = p ? std::move(p) : PreferredLanguagesProvider(systemPreferredLanguages);
}

QStringList preferredLanguages() { return provider()(); }

AppLanguage effectiveLanguage()
{
    const AppLanguage chosen = preference();
    if (chosen != AppLanguage::system)
        return chosen;
    for (const QString &entry : preferredLanguages()) {
        if (const auto language = AppLanguages::fromTag(entry))
            return *language;
    }
    return AppLanguage::en;
}

QString t(const QString &key)
{
    if (const auto *table = Strings::table(effectiveLanguage())) {
        const auto it = table->constFind(key);
        if (it != table->constEnd())
            return it.value();
    }
    return key;
}

QLocale locale()
{
    const AppLanguage language = effectiveLanguage();
    // Arabic with Latin digits ("ar-u-nu-latn"). QLocale ignores the numbering
    // extension, and Arabic in Latin script falls back to Arabic-Indic digits too;
    // the United Arab Emirates locale is Arabic with the common month names, the
    // same week, 0-9 and "." as the decimal point.
    if (language == AppLanguage::ar)
        return QLocale(QLocale::Arabic, QLocale::UnitedArabEmirates);
    return QLocale(AppLanguages::rawValue(language));
}

Qt::LayoutDirection layoutDirection()
{
    return AppLanguages::isRightToLeft(effectiveLanguage()) ? Qt::RightToLeft : Qt::LeftToRight;
}

double languageTracking(double tracking) { return effectiveLanguage() == AppLanguage::ar ? 0.0 : tracking; }

QString format(const QString &format, const QVariantList &arguments)
{
    // Numbers are written as the user's own locale writes them (digits, grouping),
    // as a locale-aware printf would; a C or POSIX locale has no grouping.
    QLocale numbers;
    if (numbers.language() == QLocale::C)
        numbers.setNumberOptions(QLocale::OmitGroupSeparator);
    QString out;
    out.reserve(format.size() + 16);
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c != QLatin1Char('%') || i + 1 >= format.size()) {
            out.append(c);
            continue;
        }
        const QChar spec = format.at(i + 1);
        if (spec == QLatin1Char('%')) {
            out.append(QLatin1Char('%'));
            ++i;
        } else if (spec == QLatin1Char('d') || spec == QLatin1Char('@')) {
            ++i;
            if (next >= arguments.size())
                continue;
            const QVariant &arg = arguments.at(next++);
            // A text put in (a name, a title, a server's words) cannot reorder
            // the sentence around it, whatever it carries.
            if (spec == QLatin1Char('d') && arg.canConvert<qlonglong>() && arg.typeId() != QMetaType::QString)
                out.append(numbers.toString(arg.toLongLong()));
            else
                out.append(isolatedPiece(arg.toString(), layoutDirection()));
            // A table marks a value that reads left to right, and a sign bound
            // to it ("@%@"), by a left-to-right mark before them. The isolate
            // is neutral to that mark, so without a second one after it the
            // sign would go to the sentence's side: "kitty@" in Hebrew.
            const qsizetype at = i - 1; // the '%'
            const auto mark = [&](qsizetype k) { return k >= 0 && format.at(k) == QChar(0x200E); };
            const bool bound = at >= 1 && !format.at(at - 1).isLetterOrNumber() && !format.at(at - 1).isSpace();
            if (mark(at - 1) || (bound && mark(at - 2)))
                out.append(QChar(0x200E));
        } else {
            out.append(c);
        }
    }
    return out;
}

} // namespace L10n
