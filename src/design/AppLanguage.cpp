#include "design/AppLanguage.h"

#include "design/L10n.h"

#include <QRegularExpression>

namespace {
struct Row {
    AppLanguage language;
    const char *raw;
    const char *nativeName;
};

constexpr Row kRows[] = {
    {AppLanguage::system, "system", "System"},
    {AppLanguage::en, "en", "English"},
    {AppLanguage::ru, "ru", "Русский"},
    {AppLanguage::es, "es", "Español"},
    {AppLanguage::de, "de", "Deutsch"},
    {AppLanguage::fr, "fr", "Français"},
    {AppLanguage::pt, "pt", "Português"},
    {AppLanguage::it, "it", "Italiano"},
    {AppLanguage::tr, "tr", "Türkçe"},
    {AppLanguage::ar, "ar", "العربية"},
    {AppLanguage::he, "he", "עברית"},
    {AppLanguage::nb, "nb", "Norsk"},
    {AppLanguage::sv, "sv", "Svenska"},
    {AppLanguage::da, "da", "Dansk"},
    {AppLanguage::nl, "nl", "Nederlands"},
};

const Row &row(AppLanguage language) { return kRows[static_cast<int>(language)]; }
} // namespace

namespace AppLanguages {

const QList<AppLanguage> &allCases()
{
    static const QList<AppLanguage> all = [] {
        QList<AppLanguage> list;
        for (const auto &r : kRows)
            list.append(r.language);
        return list;
    }();
    return all;
}

const QList<AppLanguage> &spoken()
{
    static const QList<AppLanguage> list = allCases().mid(1);
    return list;
}

QString rawValue(AppLanguage language) { return QString::fromLatin1(row(language).raw); }

std::optional<AppLanguage> fromRawValue(const QString &raw)
{
    for (const auto &r : kRows) {
        if (raw == QLatin1String(r.raw))
            return r.language;
    }
    return std::nullopt;
}

std::optional<AppLanguage> fromTag(const QString &tag)
{
    static const QRegularExpression separators(QStringLiteral("[-_]"));
    const QStringList pieces = tag.toLower().split(separators, Qt::SkipEmptyParts);
    QString first = pieces.isEmpty() ? QString() : pieces.first();
    if (first == QLatin1String("iw"))
        first = QStringLiteral("he");
    else if (first == QLatin1String("no") || first == QLatin1String("nn"))
        first = QStringLiteral("nb");
    const auto language = fromRawValue(first);
    if (!language || *language == AppLanguage::system)
        return std::nullopt;
    return language;
}

QString nativeName(AppLanguage language)
{
    if (language == AppLanguage::system)
        return L10n::t(QStringLiteral("System"));
    return QString::fromUtf8(row(language).nativeName);
}

bool isRightToLeft(AppLanguage language) { return language == AppLanguage::ar || language == AppLanguage::he; }

} // namespace AppLanguages
