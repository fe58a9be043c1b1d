#pragma once

#include "design/AppLanguage.h"

#include <QLocale>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <initializer_list>

// The one text lookup. Every user-visible text is its English wording passed
// through L10n::t; the effective language is worked out afresh on every call.
namespace L10n {

// The user's choice; `system` until the application state loads the setting.
AppLanguage preference();
void setPreference(AppLanguage language);

// The operating system's preferred languages, first choice first. Replaceable so
// tests can state the system's list.
using PreferredLanguagesProvider = std::function<QStringList()>;
void setPreferredLanguagesProvider(PreferredLanguagesProvider provider);
QStringList preferredLanguages();

AppLanguage effectiveLanguage();
QString t(const QString &key);
inline QString t(const char *key) { return t(QString::fromUtf8(key)); }
QLocale locale();
Qt::LayoutDirection layoutDirection();
// Letter spacing in points for display text: none in Arabic.
double languageTracking(double tracking);

// Fills a translated format's %d and %@ in order, writing %d in the user's system
// locale (QLocale(), the default locale). "%%" is a percent sign. Never
// fails: a missing argument leaves its place empty, extra arguments are ignored,
// and a value of the other kind is written as text.
QString format(const QString &format, const QVariantList &arguments);
template <typename... Args>
QString tf(const char *key, Args &&...args)
{
    return format(t(key), QVariantList{QVariant::fromValue(args)...});
}

} // namespace L10n
