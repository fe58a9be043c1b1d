#include "services/auth/InstagramConnectionService.h"

#include "services/ZephylAPI.h"
#include "services/auth/UrlParts.h"

const char *InstagramConnectionService::ConnectionError::what() const noexcept
{
    switch (m_kind) {
    case Kind::invalidCallback:
        return "InstagramConnectionService.ConnectionError.invalidCallback";
    case Kind::invalidAuthorizationURL:
        return "InstagramConnectionService.ConnectionError.invalidAuthorizationURL";
    case Kind::cancelled:
        return "InstagramConnectionService.ConnectionError.cancelled";
    }
    return "InstagramConnectionService.ConnectionError";
}

InstagramConnectionService::InstagramConnectionService(WebAuthSession::AnchorProvider anchorProvider)
    : InstagramConnectionService(WebAuthSession::make(std::move(anchorProvider)),
                                 [] { return ZephylAPI::shared().instagramAuthorizationURL(); })
{
}

InstagramConnectionService::InstagramConnectionService(std::unique_ptr<WebAuthSession> web,
                                                       AuthorizationURLProvider provider)
    : m_web(std::move(web)), m_provider(std::move(provider))
{
}

InstagramConnectionService::~InstagramConnectionService() = default;

bool InstagramConnectionService::isHTTPS(const QUrl &url)
{
    return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

bool InstagramConnectionService::recognizes(const QUrl &callbackURL)
{
    // QUrl keeps hosts in lower case, so the host comparison is exact on what it holds.
    return callbackURL.scheme().compare(QLatin1String("sorvane"), Qt::CaseInsensitive) == 0 &&
           callbackURL.host() == QLatin1String("instagram-connected");
}

std::optional<QString> InstagramConnectionService::status(const QUrl &callbackURL)
{
    if (!callbackURL.isValid() || !callbackURL.hasQuery())
        return std::nullopt;
    return UrlParts::queryValue(callbackURL.query(QUrl::FullyEncoded), QStringLiteral("status"));
}

QCoro::Task<QUrl> InstagramConnectionService::authorize(bool freshLogin)
{
    const QUrl start = co_await m_provider();
    if (!isHTTPS(start))
        throw ConnectionError(ConnectionError::Kind::invalidAuthorizationURL);
    QUrl callback;
    try {
        callback = co_await m_web->run(start, QStringLiteral("sorvane"), freshLogin);
    } catch (const WebAuthSession::Failure &failure) {
        if (failure.kind() == WebAuthSession::Failure::Kind::cancelled)
            throw ConnectionError(ConnectionError::Kind::cancelled);
        throw;
    }
    if (!recognizes(callback))
        throw ConnectionError(ConnectionError::Kind::invalidCallback);
    co_return callback;
}
