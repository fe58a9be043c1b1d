#include "services/Surface.h"

#include "design/L10n.h"

namespace Surfaces {

QString rawValue(Surface surface)
{
    switch (surface) {
    case Surface::summary: return QStringLiteral("summary");
    case Surface::plan: return QStringLiteral("plan");
    case Surface::assistant: return QStringLiteral("assistant");
    case Surface::grid: return QStringLiteral("grid");
    case Surface::profile: return QStringLiteral("profile");
    }
    return {};
}

std::optional<Surface> fromRaw(const QString &raw)
{
    for (Surface s : allCases) {
        if (rawValue(s) == raw)
            return s;
    }
    return std::nullopt;
}

QString title(Surface surface)
{
    switch (surface) {
    case Surface::summary: return L10n::t("Summary");
    case Surface::plan: return L10n::t("Plan");
    case Surface::assistant: return L10n::t("Assistant");
    case Surface::grid: return L10n::t("Grid");
    case Surface::profile: return L10n::t("Profile");
    }
    return {};
}

QString symbol(Surface surface)
{
    switch (surface) {
    case Surface::summary: return QStringLiteral("text.book.closed");
    case Surface::plan: return QStringLiteral("calendar");
    case Surface::assistant: return QStringLiteral("bubble.left.and.text.bubble.right");
    case Surface::grid: return QStringLiteral("square.grid.3x3");
    case Surface::profile: return QStringLiteral("person.crop.circle");
    }
    return {};
}

QString olderSymbol(Surface surface)
{
    if (surface == Surface::assistant)
        return QStringLiteral("bubble.left.and.bubble.right");
    return symbol(surface);
}

} // namespace Surfaces
