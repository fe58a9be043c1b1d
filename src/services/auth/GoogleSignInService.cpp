#include "services/auth/GoogleSignInService.h"

#include "services/auth/UrlParts.h"

#include <QUrlQuery>

const char *GoogleSignInService::SignInError::what() const noexcept
{
    switch (m_kind) {
    case Kind::unavailable:
        return "GoogleSignInService.SignInError.unavailable";
    case Kind::cancelled:
        return "GoogleSignInService.SignInError.cancelled";
    case Kind::noSession:
        return "GoogleSignInService.SignInError.noSession";
    }
    return "GoogleSignInService.SignInError";
}

GoogleSignInService::GoogleSignInService(WebAuthSession::AnchorProvider anchorProvider)
    : m_web(WebAuthSession::make(std::move(anchorProvider)))
{
}

GoogleSignInService::GoogleSignInService(std::unique_ptr<WebAuthSession> web) : m_web(std::move(web)) {}

GoogleSignInService::~GoogleSignInService() = default;

std::optional<QUrl> GoogleSignInService::authorizationURL(const QUrl &supabaseURL)
{
    if (!supabaseURL.isValid() || supabaseURL.isRelative())
        return std::nullopt;
    QUrl url = supabaseURL;
    url.setPath(QStringLiteral("/auth/v1/authorize"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("provider"), QStringLiteral("google"));
    query.addQueryItem(QStringLiteral("redirect_to"), QStringLiteral("sorvane://auth-google"));
    url.setQuery(query);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

std::optional<QString> GoogleSignInService::accessToken(const QUrl &callbackURL)
{
    if (!callbackURL.isValid() || !callbackURL.hasFragment())
        return std::nullopt;
    const QString fragment = callbackURL.fragment(QUrl::FullyEncoded);
    for (const QString &piece : fragment.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const auto pair = UrlParts::splitOnce(piece);
        if (pair.size() != 2 || pair.at(0) != QLatin1String("access_token"))
            continue;
        const auto decoded = UrlParts::percentDecoded(pair.at(1));
        if (!decoded)
            continue;
        // Only the first usable pair counts.
        if (decoded->isEmpty())
            return std::nullopt;
        return decoded;
    }
    return std::nullopt;
}

QCoro::Task<QString> GoogleSignInService::authorize(QUrl supabaseURL)
{
    const auto start = authorizationURL(supabaseURL);
    if (!start)
        throw SignInError(SignInError::Kind::unavailable);
    QUrl callback;
    try {
        callback = co_await m_web->run(*start, QStringLiteral("sorvane"), false);
    } catch (const WebAuthSession::Failure &failure) {
        if (failure.kind() == WebAuthSession::Failure::Kind::cancelled)
            throw SignInError(SignInError::Kind::cancelled);
        throw;
    }
    const auto token = accessToken(callback);
    if (!token)
        throw SignInError(SignInError::Kind::noSession);
    co_return *token;
}
