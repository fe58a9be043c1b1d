#include "app/PublishFormat.h"

#include "design/L10n.h"

namespace PublishFormats {

QString rawValue(PublishFormat format)
{
    switch (format) {
    case PublishFormat::reel: return QStringLiteral("reel");
    case PublishFormat::story: return QStringLiteral("story");
    case PublishFormat::feed: return QStringLiteral("feed");
    case PublishFormat::carousel: return QStringLiteral("carousel");
    }
    return {};
}

std::optional<PublishFormat> fromRaw(const QString &raw)
{
    for (PublishFormat f : allCases) {
        if (rawValue(f) == raw)
            return f;
    }
    return std::nullopt;
}

QString planValue(PublishFormat format)
{
    return format == PublishFormat::feed ? QStringLiteral("post") : rawValue(format);
}

PublishFormat fromPlanValue(const QString &planValue)
{
    if (planValue == QLatin1String("reel"))
        return PublishFormat::reel;
    if (planValue == QLatin1String("story"))
        return PublishFormat::story;
    if (planValue == QLatin1String("carousel"))
        return PublishFormat::carousel;
    return PublishFormat::feed;
}

QString label(PublishFormat format)
{
    switch (format) {
    case PublishFormat::reel: return QStringLiteral("Reel");
    case PublishFormat::story: return QStringLiteral("Story");
    case PublishFormat::feed: return L10n::t("Post");
    case PublishFormat::carousel: return L10n::t("Carousel");
    }
    return {};
}

} // namespace PublishFormats
