#pragma once

#include <QList>
#include <QString>

#include <optional>

// The language setting: follow the system, or one of the fourteen languages the
// application speaks. Declaration order is the order of allCases.
enum class AppLanguage { system, en, ru, es, de, fr, pt, it, tr, ar, he, nb, sv, da, nl };

namespace AppLanguages {
const QList<AppLanguage> &allCases();
// allCases without `system`: the languages the application speaks, English first.
const QList<AppLanguage> &spoken();

QString rawValue(AppLanguage language);
// Exact, case-sensitive match of a raw value ("system" included).
std::optional<AppLanguage> fromRawValue(const QString &raw);
// Resolves a language tag such as pt-BR, nn_NO or iw; never gives `system`.
std::optional<AppLanguage> fromTag(const QString &tag);
// The language's own name; only `system` is translated.
QString nativeName(AppLanguage language);
bool isRightToLeft(AppLanguage language);
} // namespace AppLanguages
