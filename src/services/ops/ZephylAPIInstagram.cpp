// The Instagram account as the service holds it, and its published feed.

#include "services/ZephylAPI_p.h"

#include <QUrlQuery>

namespace {

const QString kConnectPath = QStringLiteral("/api/v1/instagram/connect");
const QString kOutcomePath = QStringLiteral("/api/v1/instagram/connect/outcome");
const QString kSessionPath = QStringLiteral("/api/v1/instagram/session");
const QString kFeedPath = QStringLiteral("/api/social/feed");

struct AuthorizationURLResponse {
    QUrl authorizationURL;
    static AuthorizationURLResponse fromJson(const QJsonValue &value)
    {
        const QJsonObject o = Json::object(value);
        const QString text = Json::string(o, QLatin1String("authorizationURL"));
        const QUrl url(text, QUrl::StrictMode);
        if (text.isEmpty() || !url.isValid())
            throw ServiceDecodingError(ServiceDecodingError::Kind::dataCorrupted, QStringLiteral("authorizationURL"),
                                       QStringLiteral("Invalid URL string."));
        return {url};
    }
};

struct ProfileResponse {
    bool connected = false;
    std::optional<ZephylWire::InstagramProfile> profile;
    static ProfileResponse fromJson(const QJsonValue &value)
    {
        const QJsonObject o = Json::object(value);
        ProfileResponse r;
        r.connected = Json::boolean(o, QLatin1String("connected"));
        if (const auto profile = Json::optObjectAt(o, QLatin1String("profile")))
            r.profile = Json::at(QLatin1String("profile"),
                                 [&] { return ZephylWire::InstagramProfile::fromJson(*profile); });
        return r;
    }
};

QJsonObject abandonedBody() { return QJsonObject{{QStringLiteral("outcome"), QStringLiteral("abandoned")}}; }
QJsonObject confirmBody() { return QJsonObject{{QStringLiteral("confirm"), true}}; }

} // namespace

QCoro::Task<QUrl> ZephylAPI::instagramAuthorizationURL()
{
    const auto answer = co_await authenticated<AuthorizationURLResponse>(kConnectPath, QByteArray("POST"));
    co_return answer.authorizationURL;
}

QCoro::Task<> ZephylAPI::reportInstagramConnectionAbandoned()
{
    const RequestSpec spec(kOutcomePath, "POST", abandonedBody(), true);
    try {
        co_await send<EmptyResponse>(spec);
    } catch (...) {
        // Nothing depends on the service hearing of it.
    }
}

QCoro::Task<std::optional<ZephylAPI::InstagramProfile>> ZephylAPI::instagramProfile()
{
    const auto answer = co_await authenticated<ProfileResponse>(kSessionPath, QByteArray("GET"));
    if (!answer.connected)
        co_return std::nullopt;
    co_return answer.profile;
}

QCoro::Task<> ZephylAPI::disconnectInstagram()
{
    const QJsonObject body = confirmBody();
    co_await authenticated<EmptyResponse>(kSessionPath, QByteArray("DELETE"), body);
}

QCoro::Task<ZephylAPI::InstagramFeedResponse> ZephylAPI::instagramFeed(std::optional<QString> after)
{
    // The feed renews the session even while the page carries the other calls:
    // it always goes over the client's own connection with the bearer token.
    std::function<QCoro::Task<InstagramFeedResponse>(Sent &)> attempt = [this, after](Sent &sent) {
        return performInstagramFeedRequest(after, sent);
    };
    co_return co_await withOneRenewal<InstagramFeedResponse>(std::move(attempt), true);
}

QCoro::Task<ZephylAPI::InstagramFeedResponse> ZephylAPI::performInstagramFeedRequest(std::optional<QString> after,
                                                                                     Sent &sent)
{
    const QByteArray authorization = bearer(&sent);
    QUrl url = serviceURL(kFeedPath);
    if (after && !after->isEmpty()) {
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("cursor"), QString::fromLatin1(QUrl::toPercentEncoding(*after)));
        url.setQuery(query);
    }
    HttpCall::Request request;
    request.url = url;
    request.method = "GET";
    request.headers.append(qMakePair(QByteArray("Accept"), QByteArray("application/json")));
    request.headers.append(qMakePair(QByteArray("Authorization"), authorization));
    request.timeout = requestTimeout;
    request.idleTimeout = sessionIdleTimeout;
    request.answerLimit = HttpCall::AnswerLimit::collection;
    const HttpCall::Response answer = co_await HttpCall::perform(m_network, clock(), this, std::move(request));

    if (answer.status == 401)
        throw APIError::unauthorized();
    // A refused call may still carry a well-formed page that says why (for
    // example "disconnected"); that is an answer, not a failure.
    const bool success = answer.status >= 200 && answer.status <= 299;
    try {
        InstagramFeedResponse page = InstagramFeedResponse::fromJson(Json::parseObject(answer.body));
        if (success || page.status != InstagramFeedResponse::Status::unknown)
            co_return page;
    } catch (const DecodingError &) {
    }
    throw APIError::rejected(ErrorResponse::codeIn(answer.body).value_or(QStringLiteral("feed_unavailable")));
}
