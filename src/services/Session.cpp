// The session's lifecycle: the accounts provider's sign-in, sign-up and reset,
// the exchange for the service's own session, the start-up check, the account
// lookup and signing out.

#include "services/ZephylAPI_p.h"

#include "base/Clock.h"
#include "design/L10n.h"
#include "services/ServiceOrigin.h"

#include <QNetworkReply>
#include <QStringDecoder>
#include <QUrlQuery>

namespace {

using APIError = ServiceAPIError;

// Trimmed and lower-cased; it must hold an "@", and the password must not be
// empty where one is asked for. Nothing is sent otherwise.
QString normalisedEmail(const QString &email)
{
    const QString normalised = email.trimmed().toLower();
    if (normalised.isEmpty() || !normalised.contains(QLatin1Char('@')))
        throw APIError::invalidCredential();
    return normalised;
}

void requirePassword(const QString &password)
{
    if (password.isEmpty())
        throw APIError::invalidCredential();
}

// The provider's address comes from the service; a password is only ever sent
// to it over https (plain http only to this machine, for a local stand-in).
QUrl providerURL(const QString &projectURL, const QString &path, const std::optional<QString> &grantType)
{
    QUrl url(projectURL, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        throw APIError::invalidResponse();
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("https") && !(scheme == QLatin1String("http") && ServiceOrigin::isLoopback(url)))
        throw APIError::invalidResponse();
    url.setPath(path);
    QUrlQuery query;
    if (grantType)
        query.addQueryItem(QStringLiteral("grant_type"), *grantType);
    url.setQuery(query);
    url.setFragment(QString());
    if (!url.isValid())
        throw APIError::invalidResponse();
    return url;
}

bool isSuccess(int status) { return status >= 200 && status <= 299; }

// Failures that mean no answer came from the service: the connection was
// refused or dropped, the host or a route to it was not found in time.
bool unreachable(const ServiceNetworkError &error)
{
    using Code = ServiceNetworkError::Code;
    switch (error.code()) {
    case Code::cannotConnectToHost:
    case Code::connectionLost:
    case Code::timedOut: return true;
    case Code::other: return error.qtError() == QNetworkReply::HostNotFoundError;
    default: return false;
    }
}

} // namespace

QCoro::Task<ZephylWire::SupabaseConfig> ZephylAPI::supabaseConfig()
{
    RequestSpec spec(QStringLiteral("/api/v1/auth/config"), "GET");
    spec.answerLimit = HttpCall::AnswerLimit::session;
    co_return co_await send<ZephylWire::SupabaseConfig>(spec);
}

QCoro::Task<QUrl> ZephylAPI::supabaseProjectURL()
{
    const auto config = co_await supabaseConfig();
    // Checked like every other use of the provider's address: https, or loopback http.
    providerURL(config.supabaseUrl, QString(), std::nullopt);
    co_return QUrl(config.supabaseUrl, QUrl::StrictMode);
}

QCoro::Task<HttpCall::Response> ZephylAPI::providerPost(ZephylWire::SupabaseConfig config, QUrl url, QJsonObject body)
{
    HttpCall::Request request;
    request.url = std::move(url);
    request.method = "POST";
    request.headers = {{"Content-Type", "application/json"}, {"apikey", config.supabaseAnonKey.toUtf8()}};
    request.body = Json::encode(body);
    request.timeout = requestTimeout;
    request.idleTimeout = sessionIdleTimeout;
    request.answerLimit = HttpCall::AnswerLimit::session;
    co_return co_await HttpCall::perform(m_network, clock(), this, std::move(request));
}

QCoro::Task<ZephylAPI::AuthSession> ZephylAPI::signInWithEmail(QString email, QString password)
{
    const QString address = normalisedEmail(email);
    requirePassword(password);
    const auto config = co_await supabaseConfig();
    const QUrl url = providerURL(config.supabaseUrl, QStringLiteral("/auth/v1/token"), QStringLiteral("password"));
    const QJsonObject grant = ZephylWire::PasswordGrantRequest{address, password}.toJson();
    const auto answer = co_await providerPost(config, url, grant);
    // Only a plain 200 carries a session; the provider's refusals are not read.
    if (answer.status != 200)
        throw APIError::rejected(QStringLiteral("sign_in_wrong_credentials"));
    QString token;
    try {
        token = ZephylWire::PasswordGrantResponse::fromJson(Json::parseObject(answer.body)).accessToken;
    } catch (const DecodingError &) {
        throw APIError::invalidResponse();
    }
    co_return co_await adoptSupabaseSession(token);
}

QCoro::Task<ZephylAPI::AuthSession> ZephylAPI::adoptSupabaseSession(QString accessToken)
{
    const ZephylWire::SupabaseExchangeRequest body{accessToken, deviceLabel};
    RequestSpec spec(QStringLiteral("/api/v1/auth/supabase/exchange"), "POST", body.toJson());
    spec.answerLimit = HttpCall::AnswerLimit::session;
    AuthSession session = co_await send<AuthSession>(spec);
    co_await persist(session);
    co_return session;
}

QCoro::Task<ZephylAPI::SignUpOutcome> ZephylAPI::createAccountWithEmail(QString email, QString password, QString name)
{
    const QString address = normalisedEmail(email);
    requirePassword(password);
    const auto config = co_await supabaseConfig();
    const QStringList languages = L10n::preferredLanguages();
    // The desktop lists languages the POSIX way ("pt_BR"); the provider gets a language tag ("pt-BR").
    const QString locale =
        languages.isEmpty() ? QStringLiteral("en") : QString(languages.first()).replace(QLatin1Char('_'), QLatin1Char('-'));
    const ZephylWire::SignUpRequest body{address, password, {locale, name.trimmed()}};
    const QUrl url = providerURL(config.supabaseUrl, QStringLiteral("/auth/v1/signup"), std::nullopt);
    const auto answer = co_await providerPost(config, url, body.toJson());

    if (!isSuccess(answer.status)) {
        if (answer.status == 422)
            throw APIError::rejected(QStringLiteral("sign_up_email_taken"));
        // Stateless, so that a sequence cut off at the end is an error too, not held back.
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = decoder.decode(answer.body);
        if (decoder.hasError())
            text.clear();
        if (text.toLower().contains(QLatin1String("already")))
            throw APIError::rejected(QStringLiteral("sign_up_email_taken"));
        throw APIError::rejected(QStringLiteral("sign_up_failed"));
    }

    std::optional<ZephylWire::SignUpResponse> decoded;
    try {
        decoded = ZephylWire::SignUpResponse::fromJson(Json::parseObject(answer.body));
    } catch (const DecodingError &) {
    }
    if (!decoded || !decoded->accessToken || (decoded->identities && decoded->identities->isEmpty()))
        co_return SignUpOutcome::confirmationSent();
    co_return SignUpOutcome::signedIn(co_await adoptSupabaseSession(*decoded->accessToken));
}

QCoro::Task<> ZephylAPI::sendPasswordReset(QString email)
{
    const QString address = normalisedEmail(email);
    const auto config = co_await supabaseConfig();
    const QUrl url = providerURL(config.supabaseUrl, QStringLiteral("/auth/v1/recover"), std::nullopt);
    const QJsonObject body = ZephylWire::RecoverRequest{address}.toJson();
    int status = 0;
    try {
        status = (co_await providerPost(config, url, body)).status;
    } catch (const APIError &) {
        // Not an HTTP answer.
    }
    if (!isSuccess(status))
        throw APIError::rejected(QStringLiteral("password_reset_failed"));
}

QCoro::Task<ZephylAPI::User> ZephylAPI::currentUser()
{
    RequestSpec spec(QStringLiteral("/api/v1/me"), "GET", std::nullopt, true);
    spec.answerLimit = HttpCall::AnswerLimit::session;
    const auto answer = co_await send<ZephylWire::CurrentUserResponse>(spec);
    co_return answer.user;
}

// ---- Start-up check

QCoro::Task<ZephylAPI::RestoreOutcome> ZephylAPI::restoreSession()
{
    const std::optional<QString> stored = co_await keychain().value(KeychainStore::accessTokenAccount);
    auto race = std::make_shared<Async::Abort>();
    auto first = std::make_shared<Async::Shared<std::optional<RestoreOutcome>>>(this);
    auto woundDown = std::make_shared<Async::Shared<bool>>(this);

    runRestoreCheck(stored, race, first, woundDown);
    // Whichever comes first: the check's answer, or the limit (which cancels the check).
    auto limit = clock().after(restoreLimit, [race, first] {
        first->set(std::nullopt);
        race->cancel();
    });
    const std::optional<RestoreOutcome> outcome = co_await Async::Shared<std::optional<RestoreOutcome>>::wait(
        first, nullptr, NetworkError(NetworkError::Code::cancelled));
    limit.reset();
    race->cancel();
    co_await Async::Shared<bool>::wait(woundDown, nullptr, NetworkError(NetworkError::Code::cancelled));

    if (outcome)
        co_return *outcome;
    co_return stored ? RestoreOutcome::unverified : RestoreOutcome::signedOut;
}

QCoro::Task<> ZephylAPI::runRestoreCheck(std::optional<QString> stored, std::shared_ptr<Async::Abort> race,
                                         std::shared_ptr<Async::Shared<std::optional<RestoreOutcome>>> result,
                                         std::shared_ptr<Async::Shared<bool>> woundDown)
{
    std::optional<RestoreOutcome> outcome;
    if (stored) {
        m_accessToken = stored;
        bool confirmed = false;
        try {
            // Any failure of the lookup (network, refusal, an unexpected body) leads to the refresh.
            RequestSpec spec(QStringLiteral("/api/v1/me"), "GET", std::nullopt, true);
            spec.answerLimit = HttpCall::AnswerLimit::session;
            co_await send<ZephylWire::CurrentUserResponse>(spec, race.get());
            confirmed = true;
        } catch (...) {
        }
        if (confirmed)
            outcome = RestoreOutcome::signedIn;
    }
    if (!outcome && !race->cancelled()) {
        try {
            co_await refreshShared(race.get());
            outcome = RestoreOutcome::signedIn;
        } catch (const NetworkError &e) {
            // A service that cannot be reached at all gave no answer, as a
            // silent one does: a stored session goes on unconfirmed.
            outcome = stored && unreachable(e) ? RestoreOutcome::unverified : RestoreOutcome::signedOut;
        } catch (...) {
            outcome = RestoreOutcome::signedOut;
        }
    }
    if (!race->cancelled())
        result->set(outcome);
    woundDown->set(true);
}

// ---- Sign-out

QCoro::Task<> ZephylAPI::logout()
{
    const auto refreshToken = co_await keychain().value(KeychainStore::refreshTokenAccount);
    if (refreshToken) {
        const QJsonObject body = ZephylWire::LogoutRequest{*refreshToken}.toJson();
        try {
            RequestSpec spec(QStringLiteral("/api/v1/auth/logout"), "POST", body);
            spec.answerLimit = HttpCall::AnswerLimit::session;
            co_await send<EmptyResponse>(spec);
        } catch (...) {
            // The service's answer changes nothing: the local sign-out always happens.
        }
    }
    m_accessToken.reset();
    auto guard = co_await m_keychainLock->acquire();
    co_await keychain().remove(KeychainStore::accessTokenAccount);
    co_await keychain().remove(KeychainStore::refreshTokenAccount);
    co_await keychain().remove(KeychainStore::userIdAccount);
}
