#include "services/ZephylAPI_p.h"

#include "base/Bundle.h"
#include "base/Clock.h"
#include "design/ServiceDomain.h"

#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>

namespace {

// A jar that keeps nothing: the client's session never stores or sends cookies.
class NoCookies final : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl &) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie> &, const QUrl &) override { return false; }
};

const QStringList kSessionCodes{QStringLiteral("unauthorized"), QStringLiteral("sign_in_required"),
                                QStringLiteral("authentication_required"), QStringLiteral("access_token_invalid"),
                                QStringLiteral("session_expired")};

} // namespace

ZephylAPI::ZephylAPI(QObject *parent) : ZephylAPI(Setup{}, parent) {}

ZephylAPI::ZephylAPI(Setup setup, QObject *parent)
    : QObject(parent),
      m_baseURL(setup.baseURL.value_or(defaultBaseURL())),
      m_network(setup.network),
      m_clock(setup.clock),
      m_keychain(setup.keychain),
      m_keychainLock(std::make_unique<Async::Lock>(this))
{
    if (!m_network) {
        m_network = new QNetworkAccessManager(this);
        m_network->setCookieJar(new NoCookies(m_network));
    }
}

ZephylAPI::~ZephylAPI() = default;

ZephylAPI &ZephylAPI::shared()
{
    static ZephylAPI *client = new ZephylAPI();
    return *client;
}

QUrl ZephylAPI::defaultBaseURL()
{
    if (const auto configured = Bundle::shared().info(QStringLiteral("SORVANE_API_BASE_URL"))) {
        const QUrl url(*configured, QUrl::StrictMode);
        // A value that does not parse leaves the built-in origin in place.
        if (url.isValid() && !url.isRelative() && !url.host().isEmpty())
            return url;
    }
    return QUrl(QStringLiteral(ZEPHYL_SERVICE_ORIGIN));
}

Clock &ZephylAPI::clock() const { return m_clock ? *m_clock : Clock::shared(); }

KeychainStore &ZephylAPI::keychain() const { return m_keychain ? *m_keychain : KeychainStore::shared(); }

QUrl ZephylAPI::serviceURL(const QString &path) const
{
    QUrl url = m_baseURL;
    QString base = url.path();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    url.setPath(base + (path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path));
    return url;
}

QCoro::Task<HttpCall::Response> ZephylAPI::sendRaw(RequestSpec spec, Async::Abort *abort)
{
    std::optional<QByteArray> bytes;
    if (spec.body)
        bytes = Json::encode(*spec.body);

    if (spec.authenticated && m_web) {
        // The page's own session authenticates the call: no bearer token here,
        // and the page's fetch keeps its own time.
        QMap<QString, QString> headers{{QStringLiteral("Accept"), QStringLiteral("application/json")}};
        if (bytes)
            headers.insert(QStringLiteral("Content-Type"), QStringLiteral("application/json"));
        if (spec.idempotencyKey)
            headers.insert(QStringLiteral("Idempotency-Key"), *spec.idempotencyKey);
        const WebTransport::Response answer = co_await Async::abortable(
            m_web->perform(spec.path, QString::fromLatin1(spec.method), bytes, headers), abort, this,
            NetworkError(NetworkError::Code::cancelled));
        co_return HttpCall::Response{answer.status, answer.body};
    }

    HttpCall::Request request;
    request.url = serviceURL(spec.path);
    request.method = spec.method;
    request.headers.append(qMakePair(QByteArray("Accept"), QByteArray("application/json")));
    if (bytes) {
        request.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/json")));
        request.body = bytes;
    }
    if (spec.authenticated) {
        if (!m_accessToken)
            throw APIError::unauthorized();
        request.headers.append(qMakePair(QByteArray("Authorization"), "Bearer " + m_accessToken->toUtf8()));
    }
    if (spec.idempotencyKey)
        request.headers.append(qMakePair(QByteArray("Idempotency-Key"), spec.idempotencyKey->toUtf8()));
    request.timeout = spec.timeout.value_or(requestTimeout);
    request.idleTimeout = spec.timeout.value_or(sessionIdleTimeout);
    co_return co_await HttpCall::perform(m_network, clock(), this, std::move(request), abort);
}

void ZephylAPI::refuseUnlessSuccess(int status, const QByteArray &body)
{
    if (status >= 200 && status <= 299)
        return;
    const std::optional<QString> code = ErrorResponse::codeIn(body);
    if (status == 401 && (!code || kSessionCodes.contains(*code)))
        throw APIError::unauthorized();
    if (code)
        throw APIError::rejected(*code);
    throw APIError::serverRefused(status);
}

// ---- Refresh

QCoro::Task<ZephylAPI::AuthSession> ZephylAPI::refreshSession() { return refreshShared(nullptr); }

QCoro::Task<ZephylAPI::AuthSession> ZephylAPI::refreshShared(Async::Abort *abort)
{
    auto shared = m_refresh;
    if (!shared) {
        shared = std::make_shared<Async::Shared<AuthSession>>(this);
        m_refresh = shared;
        runRefresh(shared); // runs on its own; every caller waits for its one result
    }
    co_return co_await Async::Shared<AuthSession>::wait(shared, abort, NetworkError(NetworkError::Code::cancelled));
}

QCoro::Task<> ZephylAPI::runRefresh(std::shared_ptr<Async::Shared<AuthSession>> shared)
{
    QPointer<ZephylAPI> self(this);
    try {
        const auto refreshToken = co_await keychain().value(KeychainStore::refreshTokenAccount);
        if (!refreshToken)
            throw APIError::sessionExpired();
        const ZephylWire::RefreshRequest body{*refreshToken, deviceLabel};
        AuthSession session = co_await send<AuthSession>(
            RequestSpec(QStringLiteral("/api/v1/auth/refresh"), "POST", body.toJson()));
        co_await persist(session);
        shared->set(std::move(session));
    } catch (...) {
        shared->fail(std::current_exception());
    }
    if (self && m_refresh == shared)
        m_refresh.reset();
}

// ---- Credentials

QCoro::Task<> ZephylAPI::persist(AuthSession session)
{
    m_accessToken = session.accessToken;
    // Storing and forgetting sessions never interleave.
    auto guard = co_await m_keychainLock->acquire();
    co_await keychain().store(KeychainStore::accessTokenAccount, session.accessToken);
    co_await keychain().store(KeychainStore::refreshTokenAccount, session.refreshToken);
    co_await keychain().store(KeychainStore::userIdAccount, session.user.userId);
}
