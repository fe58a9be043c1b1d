#include "services/ZephylAPI_p.h"

#include "base/Clock.h"
#include "services/PlainReply.h"
#include "services/ServiceOrigin.h"

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
        m_network = new HttpCall::Network(this);
        m_network->setCookieJar(new NoCookies(m_network));
    }
}

ZephylAPI::~ZephylAPI() = default;

void ZephylAPI::trustOnLoopback(const QSslCertificate &certificate)
{
    if (auto *own = qobject_cast<HttpCall::Network *>(m_network))
        own->trustOnLoopback(certificate);
}

ZephylAPI &ZephylAPI::shared()
{
    static ZephylAPI *client = new ZephylAPI();
    return *client;
}

QUrl ZephylAPI::defaultBaseURL() { return ServiceOrigin::resolve(); }

Clock &ZephylAPI::clock() const { return m_clock ? *m_clock : Clock::shared(); }

KeychainStore &ZephylAPI::keychain() const { return m_keychain ? *m_keychain : KeychainStore::shared(); }

QUrl ZephylAPI::serviceURL(const QString &path) const
{
    QUrl url = m_baseURL;
    QString base = url.path(QUrl::FullyEncoded);
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    // Paths arrive percent-encoded where a segment needs it (an id), so they are taken as they are.
    url.setPath(base + (path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path), QUrl::TolerantMode);
    return url;
}

QByteArray ZephylAPI::bearer(Sent *sent) const
{
    if (sent)
        sent->token = m_accessToken;
    if (!m_accessToken)
        throw APIError::unauthorized();
    return "Bearer " + m_accessToken->toUtf8();
}

QCoro::Task<> ZephylAPI::renewAfterRefusal(Sent sent)
{
    if (!m_refresh && m_accessToken && m_accessToken != sent.token)
        co_return;
    co_await refreshShared(nullptr);
}

QCoro::Task<HttpCall::Response> ZephylAPI::sendRaw(RequestSpec spec, Async::Abort *abort, Sent *sent)
{
    std::optional<QByteArray> bytes;
    if (spec.body)
        bytes = Json::encode(*spec.body);
    if (sent)
        sent->token = m_accessToken;

    if (spec.authenticated && m_web) {
        // The page's own session authenticates the call: no bearer token here,
        // and the page's fetch keeps its own time.
        QMap<QString, QString> headers{{QStringLiteral("Accept"), QStringLiteral("application/json")}};
        if (bytes)
            headers.insert(QStringLiteral("Content-Type"), QStringLiteral("application/json"));
        if (spec.idempotencyKey)
            headers.insert(QStringLiteral("Idempotency-Key"), *spec.idempotencyKey);
        QCoro::Task<WebTransport::Response> performing =
            m_web->perform(spec.path, QString::fromLatin1(spec.method), bytes, headers);
        // The page has it: what goes on from here is the page's own.
        if (spec.wentOut)
            spec.wentOut();
        const WebTransport::Response answer =
            co_await Async::abortable(std::move(performing), abort, this, NetworkError(NetworkError::Code::cancelled));
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
    if (spec.authenticated)
        request.headers.append(qMakePair(QByteArray("Authorization"), bearer(sent)));
    if (spec.idempotencyKey)
        request.headers.append(qMakePair(QByteArray("Idempotency-Key"), spec.idempotencyKey->toUtf8()));
    request.timeout = spec.timeout.value_or(requestTimeout);
    request.idleTimeout = spec.timeout.value_or(sessionIdleTimeout);
    request.answerLimit = spec.answerLimit;
    request.wentOut = std::move(spec.wentOut);
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

struct ZephylAPI::RefreshFlight {
    explicit RefreshFlight(QObject *context) : result(std::make_shared<Async::Shared<AuthSession>>(context)) {}
    std::shared_ptr<Async::Shared<AuthSession>> result;
    Async::Abort abort;
    int waiters = 0;
};

QCoro::Task<ZephylAPI::AuthSession> ZephylAPI::refreshShared(Async::Abort *abort)
{
    auto flight = m_refresh;
    if (!flight) {
        flight = std::make_shared<RefreshFlight>(this);
        m_refresh = flight;
        runRefresh(flight); // runs on its own; every caller waits for its one result
    }
    ++flight->waiters;
    bool waited = false;
    try {
        AuthSession session = co_await Async::Shared<AuthSession>::wait(flight->result, abort,
                                                                       NetworkError(NetworkError::Code::cancelled));
        waited = true;
        --flight->waiters;
        co_return session;
    } catch (...) {
        if (!waited)
            --flight->waiters;
        if (!flight->result->done() && flight->waiters == 0)
            flight->abort.cancel();
        throw;
    }
}

QCoro::Task<> ZephylAPI::runRefresh(std::shared_ptr<RefreshFlight> flight)
{
    QPointer<ZephylAPI> self(this);
    try {
        const auto refreshToken = co_await keychain().value(KeychainStore::refreshTokenAccount);
        if (!refreshToken)
            throw APIError::sessionExpired();
        if (flight->abort.cancelled())
            throw NetworkError(NetworkError::Code::cancelled);
        const QJsonObject body = ZephylWire::RefreshRequest{*refreshToken, deviceLabel}.toJson();
        RequestSpec spec(QStringLiteral("/api/v1/auth/refresh"), "POST", body);
        spec.answerLimit = HttpCall::AnswerLimit::session;
        HttpCall::Response answer = co_await sendRaw(spec, &flight->abort);
        // A refresh token the service no longer honours (it forgot its
        // sessions, or the token was used or revoked) cannot be renewed by any
        // later call: the session is over, whatever code the refusal carries.
        if (answer.status == 401 || answer.status == 400)
            throw APIError::sessionExpired();
        AuthSession session = checkAnswer<AuthSession>(answer.status, std::move(answer.body));
        // An answer that came in is kept even if nobody waits for it any more.
        co_await persist(session);
        flight->result->set(std::move(session));
    } catch (...) {
        flight->result->fail(std::current_exception());
    }
    if (self && m_refresh == flight)
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
