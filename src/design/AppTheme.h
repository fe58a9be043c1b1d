#pragma once

#include <QList>
#include <QString>

#include <optional>

// The theme setting: follow the desktop's colour scheme, or always light or dark.
// Declaration order is the order of allCases.
enum class AppTheme { system, light, dark };

namespace AppThemes {

inline const QList<AppTheme> &allCases()
{
    static const QList<AppTheme> all{AppTheme::system, AppTheme::light, AppTheme::dark};
    return all;
}

inline QString rawValue(AppTheme theme)
{
    switch (theme) {
    case AppTheme::light: return QStringLiteral("light");
    case AppTheme::dark: return QStringLiteral("dark");
    case AppTheme::system: break;
    }
    return QStringLiteral("system");
}

// Exact, case-sensitive match; anything else gives no value.
inline std::optional<AppTheme> fromRawValue(const QString &raw)
{
    for (AppTheme theme : allCases()) {
        if (raw == rawValue(theme))
            return theme;
    }
    return std::nullopt;
}

} // namespace AppThemes
