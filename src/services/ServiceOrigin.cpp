#include "services/ServiceOrigin.h"

#include "base/Bundle.h"
#include "design/ServiceDomain.h"

#include <QHostAddress>

namespace ServiceOrigin {

QUrl builtIn() { return QUrl(QStringLiteral(ZEPHYL_SERVICE_ORIGIN)); }

std::optional<QUrl> usable(const QString &configured)
{
    const QUrl url(configured, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return url;
    if (scheme == QLatin1String("http")) {
        if (isLoopback(url))
            return url;
    }
    return std::nullopt;
}

bool isLoopback(const QUrl &url)
{
    const QString host = url.host();
    return host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
}

QUrl resolve(const std::optional<QUrl> &given)
{
    if (given)
        return *given;
    if (const auto configured = Bundle::shared().info(QStringLiteral("SORVANE_API_BASE_URL"))) {
        if (const auto url = usable(*configured))
            return *url;
    }
    return builtIn();
}

} // namespace ServiceOrigin
