#include <gtest/gtest.h>

#include "ScriptedNetwork.h"
#include "ServiceTestSupport.h"
#include "support/TestSupport.h"

#include <QJsonDocument>

using namespace std::chrono_literals;
using zktest::Scripted;
using zktest::Sent;
using APIError = ZephylAPI::APIError;
using NetworkError = ZephylAPI::NetworkError;
using Access = ZephylAPITestAccess;

namespace {

const QString kMe = QStringLiteral("/api/v1/me");
const QString kRefresh = QStringLiteral("/api/v1/auth/refresh");
const QByteArray kUserBody = R"({"user":{"userId":"user-1","email":"cat@example.com","role":"creator"}})";

class ClientCore : public ::testing::Test {
protected:
    FakeClock clock;
    zktest::ScriptedNetwork net;
    std::unique_ptr<KeychainStore> keychain = KeychainStore::inMemory();
    ZephylAPI api{ZephylAPI::Setup{QUrl(QStringLiteral("https://service.test")), &net, &clock, keychain.get()}};

    MemorySecretBackend &primary() { return static_cast<MemorySecretBackend &>(keychain->primary()); }
    void storeRefreshToken(const QString &token)
    {
        primary().items.insert(KeychainStore::service + QStringLiteral("/refresh-token"), token.toUtf8());
    }
    std::optional<QString> stored(const QString &account) { return primary().text(KeychainStore::service, account); }

    template <typename T>
    std::shared_ptr<zktest::Outcome<T>> run(QCoro::Task<T> task)
    {
        return zktest::runVirtual(clock, std::move(task));
    }
    auto run(QCoro::Task<> task) { return zktest::runVirtual(clock, std::move(task)); }
    auto me() { return Access::authenticated<ZephylWire::CurrentUserResponse>(api, kMe); }
};

struct TransportFailure {
    int code = 0;
};

template <typename T>
std::optional<APIError> checkError(int status, const QByteArray &body)
{
    try {
        Access::checkAnswer<T>(status, body);
    } catch (const APIError &e) {
        return e;
    }
    return std::nullopt;
}

} // namespace

TEST(AnswerCheck, StatusesAndCodesBecomeTheRightErrors)
{
    using Empty = ZephylAPI::EmptyResponse;
    // The edges of success.
    EXPECT_EQ(checkError<Empty>(199, {}), APIError::serverRefused(199));
    EXPECT_EQ(checkError<Empty>(300, {}), APIError::serverRefused(300));
    EXPECT_EQ(checkError<Empty>(200, "{\"ok\":true}"), std::nullopt);
    EXPECT_EQ(checkError<Empty>(299, "{\"ok\":false}"), std::nullopt);

    // 401 means the session is gone unless the server names another reason.
    EXPECT_EQ(checkError<Empty>(401, {}), APIError::unauthorized());
    EXPECT_EQ(checkError<Empty>(401, "<html>nope</html>"), APIError::unauthorized());
    EXPECT_EQ(checkError<Empty>(401, "{\"code\":7}"), APIError::unauthorized());
    for (const char *code : {"unauthorized", "sign_in_required", "authentication_required", "access_token_invalid",
                             "session_expired"}) {
        EXPECT_EQ(checkError<Empty>(401, QByteArray("{\"code\":\"") + code + "\"}"), APIError::unauthorized()) << code;
    }
    EXPECT_EQ(checkError<Empty>(401, "{\"code\":\"plan_locked\"}"), APIError::rejected("plan_locked"));

    // Without a readable code the status is kept; with one, the code wins.
    EXPECT_EQ(checkError<Empty>(403, {}), APIError::serverRefused(403));
    EXPECT_EQ(checkError<Empty>(500, "<html>oops</html>"), APIError::serverRefused(500));
    EXPECT_EQ(checkError<Empty>(500, "{\"message\":\"x\"}"), APIError::serverRefused(500));
    EXPECT_EQ(checkError<Empty>(500, "{\"code\":\"db_down\"}"), APIError::rejected("db_down"));
}

TEST(AnswerCheck, EmptySuccessIsOnlyAcceptedWhereNothingIsExpected)
{
    EXPECT_TRUE(Access::checkAnswer<ZephylAPI::EmptyResponse>(204, {}).ok);
    EXPECT_THROW(Access::checkAnswer<ZephylWire::CurrentUserResponse>(200, {}), ZephylAPI::DecodingError);
    // A non-empty body must still carry "ok".
    EXPECT_THROW(Access::checkAnswer<ZephylAPI::EmptyResponse>(200, "{}"), ZephylAPI::DecodingError);
}

TEST(AnswerCheck, ErrorsCompareByCaseAndPayload)
{
    EXPECT_EQ(APIError::rejected("a"), APIError::rejected("a"));
    EXPECT_NE(APIError::rejected("a"), APIError::rejected("A"));
    EXPECT_NE(APIError::serverRefused(500), APIError::serverRefused(500, QStringLiteral("x")));
    EXPECT_EQ(APIError::serverRefused(500, QStringLiteral("x")), APIError::serverRefused(500, QStringLiteral("x")));
    EXPECT_NE(APIError::unauthorized(), APIError::sessionExpired());
    EXPECT_FALSE(APIError::serverRefused(500).code().has_value());
}

TEST_F(ClientCore, DirectRoadSendsOnlyTheHeadersItNeeds)
{
    net.setScript([](const Sent &) { return Scripted::json(200, "{\"ok\":true}"); });
    api.useWebSession(nullptr);
    ASSERT_TRUE(run(Access::persist(api, zktest::sampleSession("a")))->done);

    // Authenticated, no body, no key: Accept and Authorization, nothing else.
    auto plain = run(Access::send<ZephylAPI::EmptyResponse>(api, QStringLiteral("/api/plan/drafts"), "GET",
                                                             std::nullopt, true));
    ASSERT_TRUE(plain->value);
    const Sent &first = net.sent.at(0);
    EXPECT_EQ(first.url, QUrl(QStringLiteral("https://service.test/api/plan/drafts")));
    EXPECT_EQ(first.method, "GET");
    EXPECT_EQ(first.headers.keys(), (QList<QByteArray>{"Accept", "Authorization"}));
    EXPECT_EQ(first.header("Accept"), "application/json");
    EXPECT_EQ(first.header("Authorization"), "Bearer access-a");
    EXPECT_FALSE(first.hasBody);

    // A body brings Content-Type, a key brings Idempotency-Key.
    auto keyed = run(Access::send<ZephylAPI::EmptyResponse>(api, QStringLiteral("/api/instagram/publications"),
                                                             "POST", QJsonObject{{"confirm", true}}, true,
                                                             QStringLiteral("key-1")));
    ASSERT_TRUE(keyed->value);
    const Sent &second = net.sent.at(1);
    EXPECT_EQ(second.header("Content-Type"), "application/json");
    EXPECT_EQ(second.header("Idempotency-Key"), "key-1");
    EXPECT_EQ(second.body, "{\"confirm\":true}");

    // Not authenticated: no bearer token even though one is held.
    auto open = run(Access::send<ZephylAPI::EmptyResponse>(api, QStringLiteral("/api/v1/auth/config"), "GET",
                                                            std::nullopt, false));
    ASSERT_TRUE(open->value);
    EXPECT_FALSE(net.sent.at(2).headers.contains("Authorization"));
}

TEST_F(ClientCore, WebRoadCarriesNoTokenAndUnauthenticatedCallsStayDirect)
{
    zktest::TestTransport web;
    web.script = [](const zktest::TestTransport::Call &) { return WebTransport::Response{299, "{\"ok\":true}"}; };
    api.useWebSession(&web);
    ASSERT_TRUE(run(Access::persist(api, zktest::sampleSession("a")))->done);

    auto viaPage = run(Access::send<ZephylAPI::EmptyResponse>(api, QStringLiteral("/api/plan/drafts"), "PUT",
                                                               QJsonObject{{"drafts", QJsonArray()}}, true,
                                                               QStringLiteral("k"), 90s));
    ASSERT_TRUE(viaPage->value);
    ASSERT_EQ(web.calls.size(), 1);
    EXPECT_TRUE(net.sent.isEmpty());
    const auto &call = web.calls.first();
    EXPECT_EQ(call.path, QStringLiteral("/api/plan/drafts"));
    EXPECT_EQ(call.method, QStringLiteral("PUT"));
    EXPECT_EQ(call.body, QByteArray("{\"drafts\":[]}"));
    EXPECT_EQ(call.headers, (QMap<QString, QString>{{"Accept", "application/json"},
                                                    {"Content-Type", "application/json"},
                                                    {"Idempotency-Key", "k"}}));

    // Unauthenticated calls never ride the page.
    net.setScript([](const Sent &) { return Scripted::json(200, "{\"ok\":true}"); });
    ASSERT_TRUE(run(Access::send<ZephylAPI::EmptyResponse>(api, QStringLiteral("/api/v1/auth/config"), "GET",
                                                            std::nullopt, false))
                    ->value);
    EXPECT_EQ(web.calls.size(), 1);
    EXPECT_EQ(net.sent.size(), 1);

    // The page's status goes through the same check; its own failures pass through unchanged.
    web.script = [](const zktest::TestTransport::Call &) { return WebTransport::Response{199, {}}; };
    EXPECT_EQ(run(me())->errorAs<APIError>(), APIError::serverRefused(199));
    web.script = [](const zktest::TestTransport::Call &) -> WebTransport::Response { throw TransportFailure{3}; };
    auto failed = run(me());
    ASSERT_TRUE(failed->errorAs<TransportFailure>());
    EXPECT_EQ(failed->errorAs<TransportFailure>()->code, 3);
}

TEST_F(ClientCore, WithoutAnyTokenNothingIsSentUntilARefreshSucceeds)
{
    // No token and no refresh token: the caller learns the session is gone; nothing went out.
    auto gone = run(me());
    EXPECT_EQ(gone->errorAs<APIError>(), APIError::sessionExpired());
    EXPECT_TRUE(net.sent.isEmpty());

    // With a refresh token: refresh first, then one request with the new token.
    storeRefreshToken(QStringLiteral("r0"));
    net.setScript([](const Sent &s) {
        if (s.url.path() == kRefresh)
            return Scripted::json(200, zktest::sessionJson("fresh"));
        return Scripted::json(200, kUserBody);
    });
    auto ok = run(me());
    ASSERT_TRUE(ok->value) << "call failed";
    ASSERT_EQ(net.sent.size(), 2);
    EXPECT_EQ(net.sent.at(0).url.path(), kRefresh);
    EXPECT_EQ(net.sent.at(0).json().value("refreshToken").toString(), QStringLiteral("r0"));
    EXPECT_EQ(net.sent.at(0).json().value("deviceLabel").toString(), QStringLiteral("Mac"));
    EXPECT_FALSE(net.sent.at(0).headers.contains("Authorization"));
    EXPECT_EQ(net.sent.at(1).header("Authorization"), "Bearer access-fresh");
    EXPECT_EQ(stored(KeychainStore::refreshTokenAccount), QStringLiteral("refresh-fresh"));
}

TEST_F(ClientCore, OneRefreshAndOneFinalRepeatAfterUnauthorized)
{
    ASSERT_TRUE(run(Access::persist(api, zktest::sampleSession("old")))->done);
    int meCalls = 0;
    bool secondRefusal = false;
    net.setScript([&](const Sent &s) {
        if (s.url.path() == kRefresh)
            return Scripted::json(200, zktest::sessionJson("new"));
        ++meCalls;
        if (s.header("Authorization") == "Bearer access-old" || secondRefusal)
            return Scripted::json(401, {});
        return Scripted::json(200, kUserBody);
    });
    auto renewed = run(me());
    ASSERT_TRUE(renewed->value);
    EXPECT_EQ(meCalls, 2);
    EXPECT_EQ(net.sentTo(kRefresh).size(), 1);
    EXPECT_EQ(api.accessToken(), QStringLiteral("access-new"));

    // The repeat is final: refused again, the caller hears it without a second refresh.
    ASSERT_TRUE(run(Access::persist(api, zktest::sampleSession("old")))->done);
    secondRefusal = true;
    net.sent.clear();
    auto refused = run(me());
    EXPECT_EQ(refused->errorAs<APIError>(), APIError::unauthorized());
    EXPECT_EQ(net.sentTo(kRefresh).size(), 1);
    EXPECT_EQ(net.sentTo(kMe).size(), 2);

    // A refusal with another code is not about the session: no refresh.
    net.sent.clear();
    net.setScript([](const Sent &) { return Scripted::json(401, "{\"code\":\"plan_locked\"}"); });
    EXPECT_EQ(run(me())->errorAs<APIError>(), APIError::rejected("plan_locked"));
    EXPECT_TRUE(net.sentTo(kRefresh).isEmpty());
}

TEST_F(ClientCore, ARefusedRefreshIsTheCallersErrorAndKeepsTheStoredSession)
{
    ASSERT_TRUE(run(Access::persist(api, zktest::sampleSession("old")))->done);
    // A refresh token the service no longer honours (401, or 400, whatever the
    // code) ends the session; other refusals keep the answer check's words.
    const struct {
        Scripted refresh;
        APIError expected;
    } rows[] = {
        {Scripted::json(401, "{\"code\":\"refresh_token_reused\"}"), APIError::sessionExpired()},
        {Scripted::json(401, "{\"code\":\"refresh_token_invalid\"}"), APIError::sessionExpired()},
        {Scripted::json(401, {}), APIError::sessionExpired()},
        {Scripted::json(400, "{\"code\":\"invalid_request\"}"), APIError::sessionExpired()},
        {Scripted::json(400, "<html>bad request</html>"), APIError::sessionExpired()},
        {Scripted::json(403, {}), APIError::serverRefused(403)},
        {Scripted::json(500, "{\"code\":\"maintenance\"}"), APIError::rejected("maintenance")},
    };
    for (const auto &row : rows) {
        net.setScript([&](const Sent &s) {
            if (s.url.path() == kRefresh)
                return row.refresh;
            return Scripted::json(401, "{\"code\":\"session_expired\"}");
        });
        EXPECT_EQ(run(me())->errorAs<APIError>(), row.expected);
        // The client forgets nothing by itself: ending the session is the application's decision.
        EXPECT_EQ(stored(KeychainStore::refreshTokenAccount), QStringLiteral("refresh-old"));
        EXPECT_EQ(stored(KeychainStore::accessTokenAccount), QStringLiteral("access-old"));
    }
}

TEST_F(ClientCore, WithTheWebRoadUnauthorizedIsFinal)
{
    zktest::TestTransport web;
    web.script = [](const zktest::TestTransport::Call &) { return WebTransport::Response{401, {}}; };
    api.useWebSession(&web);
    storeRefreshToken(QStringLiteral("r0"));
    EXPECT_EQ(run(me())->errorAs<APIError>(), APIError::unauthorized());
    EXPECT_TRUE(net.sent.isEmpty());
    EXPECT_EQ(web.calls.size(), 1);
}

TEST_F(ClientCore, ConcurrentUnauthorizedCallsShareOneRefresh)
{
    ASSERT_TRUE(run(Access::persist(api, zktest::sampleSession("old")))->done);
    // Refresh tokens rotate: the stand-in of this test refuses any token it has seen.
    QSet<QString> used;
    net.setScript([&](const Sent &s) {
        if (s.url.path() == kRefresh) {
            const QString token = s.json().value("refreshToken").toString();
            if (used.contains(token))
                return Scripted::json(401, "{\"code\":\"refresh_token_reused\"}");
            used.insert(token);
            return Scripted::json(200, zktest::sessionJson("new"));
        }
        if (s.header("Authorization") != "Bearer access-new")
            return Scripted::json(401, {});
        return Scripted::json(200, kUserBody);
    });
    auto a = std::make_shared<zktest::Outcome<ZephylWire::CurrentUserResponse>>();
    auto b = std::make_shared<zktest::Outcome<ZephylWire::CurrentUserResponse>>();
    auto c = std::make_shared<zktest::Outcome<ZephylAPI::AuthSession>>();
    auto ra = zktest::capture(me(), a);
    auto rb = zktest::capture(me(), b);
    auto rc = zktest::capture(api.refreshSession(), c);
    ASSERT_TRUE(zktest::spinUntil([&] { return a->done && b->done && c->done; }));
    EXPECT_TRUE(a->value && b->value && c->value);
    EXPECT_EQ(net.sentTo(kRefresh).size(), 1);
    EXPECT_EQ(stored(KeychainStore::refreshTokenAccount), QStringLiteral("refresh-new"));
}

TEST_F(ClientCore, TimeOutsRunOnTheClock)
{
    ASSERT_TRUE(run(Access::persist(api, zktest::sampleSession("a")))->done);
    net.setScript([](const Sent &) { return Scripted::silence(); });

    // Silence: the session's 30 s without a byte ends the request.
    auto silent = run(me());
    EXPECT_EQ(silent->errorAs<NetworkError>()->code(), NetworkError::Code::timedOut);
    EXPECT_FALSE(silent->errorAs<NetworkError>()->mayHaveLeft()) << "no sign of the request going out";
    EXPECT_GE(silent->virtualElapsed, 30s);
    EXPECT_LT(silent->virtualElapsed, 31s);
    EXPECT_EQ(net.openReplies(), 0);

    // A call that names its own time-out waits that long.
    auto patient = run(Access::send<ZephylAPI::EmptyResponse>(api, QStringLiteral("/api/instagram/publications"),
                                                               "POST", QJsonObject{}, true, QStringLiteral("k"), 90s));
    EXPECT_EQ(patient->errorAs<NetworkError>()->code(), NetworkError::Code::timedOut);
    EXPECT_GE(patient->virtualElapsed, 90s);
    EXPECT_LT(patient->virtualElapsed, 91s);

    // A body that may go once was taken to be sent: it may have reached the service.
    auto written = run(Access::send<ZephylAPI::EmptyResponse>(api, QStringLiteral("/api/plan/drafts"), "PUT",
                                                               QJsonObject{}, true));
    EXPECT_EQ(written->errorAs<NetworkError>()->code(), NetworkError::Code::timedOut);
    EXPECT_TRUE(written->errorAs<NetworkError>()->mayHaveLeft());
}

// A slow transfer is not a silent one: each sign of bytes moving, up or down,
// holds the silence time-out off; only the request's own time-out, or silence
// after the last of them, ends it.
TEST_F(ClientCore, ProgressOnASlowTransferHoldsTheSilenceTimeOutOff)
{
    ASSERT_TRUE(run(Access::persist(api, zktest::sampleSession("a")))->done);
    net.setScript([](const Sent &) { return Scripted::silence(); });
    for (const bool upward : {false, true}) {
        SCOPED_TRACE(upward ? "bytes going up" : "bytes coming down");
        // Every 20 s from the request's start, a few more bytes move on each
        // open exchange, `times` times.
        auto trickle = [&](int times) {
            auto ticks = std::make_shared<int>(0);
            return clock.every(20s, [this, upward, times, ticks] {
                if (++*ticks > times)
                    return;
                for (QNetworkReply *reply : net.findChildren<QNetworkReply *>()) {
                    if (reply->isFinished())
                        continue;
                    if (upward)
                        Q_EMIT reply->uploadProgress(*ticks * 1024, 1 << 20);
                    else
                        Q_EMIT reply->downloadProgress(*ticks * 1024, 1 << 20);
                }
            });
        };

        // Bytes at 20, 40, 60 and 80 s: only the 90 s of the request end it.
        auto four = trickle(4);
        auto moving = run(Access::send<ZephylAPI::EmptyResponse>(api, QStringLiteral("/api/instagram/publications"),
                                                                  "POST", QJsonObject{}, true, QStringLiteral("k"), 90s));
        four.reset();
        EXPECT_EQ(moving->errorAs<NetworkError>()->code(), NetworkError::Code::timedOut);
        EXPECT_GE(moving->virtualElapsed, 90s);
        EXPECT_LT(moving->virtualElapsed, 91s);

        // Bytes at 20 s only: 30 s of silence after them end it, at 50 s.
        auto one = trickle(1);
        auto stalled = run(me());
        EXPECT_EQ(stalled->errorAs<NetworkError>()->code(), NetworkError::Code::timedOut);
        EXPECT_TRUE(stalled->errorAs<NetworkError>()->mayHaveLeft()) << "bytes moved";
        EXPECT_GE(stalled->virtualElapsed, 50s);
        EXPECT_LT(stalled->virtualElapsed, 51s);
        EXPECT_EQ(net.openReplies(), 0);
    }
}

TEST_F(ClientCore, NoNetworkMeansWaitingAndRetryingUntilTheRequestsOwnTimeOut)
{
    ASSERT_TRUE(run(Access::persist(api, zktest::sampleSession("a")))->done);
    net.setScript([](const Sent &) { return Scripted::failure(QNetworkReply::HostNotFoundError); });
    auto offline = run(Access::send<ZephylAPI::EmptyResponse>(api, kMe, "GET", std::nullopt, true));
    EXPECT_EQ(offline->errorAs<NetworkError>()->code(), NetworkError::Code::timedOut);
    EXPECT_FALSE(offline->errorAs<NetworkError>()->mayHaveLeft()) << "none of it can have reached the service";
    EXPECT_GE(offline->virtualElapsed, 60s);
    EXPECT_LT(offline->virtualElapsed, 61s);
    EXPECT_GT(net.sent.size(), 30);

    // The network comes back while waiting: the request goes through.
    net.sent.clear();
    net.setScript([&](const Sent &) {
        return net.sent.size() < 4 ? Scripted::failure(QNetworkReply::TemporaryNetworkFailureError)
                                   : Scripted::json(200, kUserBody);
    });
    EXPECT_TRUE(run(me())->value);
    EXPECT_EQ(net.sent.size(), 4);

    // A host that refuses is an answer of sorts: no waiting.
    net.sent.clear();
    net.setScript([](const Sent &) { return Scripted::failure(QNetworkReply::ConnectionRefusedError); });
    auto refused = run(me());
    EXPECT_EQ(refused->errorAs<NetworkError>()->code(), NetworkError::Code::cannotConnectToHost);
    EXPECT_EQ(refused->virtualElapsed, 0ms);
    EXPECT_EQ(net.sent.size(), 1);

    // Something that is not an HTTP answer.
    net.setScript([](const Sent &) {
        Scripted s;
        s.notHttp = true;
        return s;
    });
    EXPECT_EQ(run(me())->errorAs<APIError>(), APIError::invalidResponse());
}

TEST_F(ClientCore, OnlyAFailureBeforeAnythingWentOutWaitsForTheNetwork)
{
    ASSERT_TRUE(run(Access::persist(api, zktest::sampleSession("a")))->done);
    // Qt reports "no route" and "the write failed" alike; before sending it means no network.
    net.setScript([&](const Sent &) {
        return net.sent.size() < 3 ? Scripted::failure(QNetworkReply::UnknownNetworkError)
                                   : Scripted::json(200, kUserBody);
    });
    EXPECT_TRUE(run(me())->value);
    EXPECT_EQ(net.sent.size(), 3);

    // After the request went out the same failure is a lost connection, and nothing is sent again.
    for (const auto error : {QNetworkReply::UnknownNetworkError, QNetworkReply::TemporaryNetworkFailureError,
                             QNetworkReply::RemoteHostClosedError, QNetworkReply::ContentReSendError}) {
        net.sent.clear();
        net.setScript([error](const Sent &) {
            Scripted s = Scripted::failure(error);
            s.sentFirst = true;
            return s;
        });
        auto lost = run(Access::send<ZephylAPI::EmptyResponse>(api, QStringLiteral("/api/instagram/media"), "POST",
                                                                QJsonObject{}, true));
        EXPECT_EQ(lost->errorAs<NetworkError>()->code(), NetworkError::Code::connectionLost) << int(error);
        EXPECT_EQ(lost->virtualElapsed, 0ms) << int(error);
        EXPECT_EQ(net.sent.size(), 1) << int(error);
    }
}

TEST_F(ClientCore, ARefusalThatCameBeforeTheConnectionClosedIsTheAnswer)
{
    ASSERT_TRUE(run(Access::persist(api, zktest::sampleSession("a")))->done);
    // What Qt reports when a server refused a body on its head and closed under the rest.
    auto closedAfter = [](int status, QByteArray body, qint64 declared) {
        Scripted s = Scripted::failure(QNetworkReply::RemoteHostClosedError);
        s.sentFirst = true;
        s.answeredFirst = true;
        s.status = status;
        s.body = std::move(body);
        s.headers = {{"Content-Length", QByteArray::number(declared)}};
        return s;
    };
    auto post = [&](Scripted answer) {
        net.sent.clear();
        net.setScript([answer](const Sent &) { return answer; });
        return run(Access::send<ZephylAPI::EmptyResponse>(api, QStringLiteral("/api/instagram/media"), "POST",
                                                           QJsonObject{}, true));
    };
    const QByteArray page = "<html><head><title>413 Request Entity Too Large</title></head></html>";
    // A page cut short by the close: the status stands, the body is not read.
    EXPECT_EQ(post(closedAfter(413, page.left(20), page.size()))->errorAs<APIError>(), APIError::serverRefused(413));
    EXPECT_EQ(net.sent.size(), 1);
    // A whole answer is read for its code.
    const QByteArray limited = R"({"code":"rate_limited"})";
    EXPECT_EQ(post(closedAfter(429, limited, limited.size()))->errorAs<APIError>(),
              APIError::rejected(QStringLiteral("rate_limited")));
    EXPECT_EQ(net.sent.size(), 1);
    // A success cut short is no success.
    const auto half = post(closedAfter(200, "{\"ok\"", 11));
    ASSERT_TRUE(half->errorAs<NetworkError>());
    EXPECT_EQ(half->errorAs<NetworkError>()->code(), NetworkError::Code::connectionLost);

    // Without a body nothing was refused before it was read: a closed read is lost.
    net.setScript([&](const Sent &) { return closedAfter(413, page.left(20), page.size()); });
    const auto read = run(me());
    ASSERT_TRUE(read->errorAs<NetworkError>());
    EXPECT_EQ(read->errorAs<NetworkError>()->code(), NetworkError::Code::connectionLost);
}

TEST_F(ClientCore, OnlyWhatIsSafeToRepeatCanBeSentAgainByTheStack)
{
    ASSERT_TRUE(run(Access::persist(api, zktest::sampleSession("a")))->done);
    net.setScript([](const Sent &) { return Scripted::json(200, "{\"ok\":true}"); });
    struct Case {
        QByteArray method;
        std::optional<QJsonObject> body;
        std::optional<QString> key;
        bool rewindable;
    };
    const QList<Case> cases{
        {"POST", QJsonObject{{"title", "Ideas"}}, std::nullopt, false},
        {"PUT", QJsonObject{{"drafts", QJsonArray()}}, std::nullopt, false},
        {"PATCH", QJsonObject{{"activeThreadId", "t"}}, std::nullopt, false},
        {"DELETE", std::nullopt, std::nullopt, false},
        {"POST", std::nullopt, std::nullopt, false},
        {"POST", QJsonObject{{"confirm", true}}, QStringLiteral("key-1"), true},
    };
    for (const Case &c : cases) {
        net.sent.clear();
        ASSERT_TRUE(run(Access::send<ZephylAPI::EmptyResponse>(api, QStringLiteral("/api/x"), c.method, c.body, true,
                                                                c.key))
                        ->value);
        ASSERT_EQ(net.sent.size(), 1);
        EXPECT_TRUE(net.sent[0].hasBody) << c.method.constData();
        EXPECT_EQ(net.sent[0].rewindable, c.rewindable) << c.method.constData() << (c.key ? " with key" : "");
        EXPECT_EQ(net.sent[0].body, c.body ? Json::encode(*c.body) : QByteArray());
    }
    // A read carries no body at all.
    net.sent.clear();
    ASSERT_TRUE(run(Access::send<ZephylAPI::EmptyResponse>(api, QStringLiteral("/api/x"), "GET", std::nullopt, true))->value);
    EXPECT_FALSE(net.sent[0].hasBody);
}

TEST_F(ClientCore, RedirectsStayWithinTheOriginAndKeepTheMethodAndBody)
{
    ASSERT_TRUE(run(Access::persist(api, zktest::sampleSession("a")))->done);
    struct Case {
        QByteArray method;
        int status;
        QByteArray location;
        bool followed;
    };
    const QJsonObject body{{QStringLiteral("title"), QStringLiteral("Nap")}};
    const QList<Case> cases{
        {"GET", 301, "https://service.test/api/moved", true},
        {"GET", 308, "/api/moved", true},
        {"GET", 302, "https://elsewhere.test/api/moved", false},
        {"GET", 307, "http://service.test/api/moved", false},
        {"GET", 307, "https://service.test:8443/api/moved", false},
        // A write follows only the two that promise the same method and body.
        {"PUT", 307, "/api/moved", true},
        {"POST", 308, "https://service.test/api/moved", true},
        {"DELETE", 308, "/api/moved", true},
        {"PUT", 301, "/api/moved", false},
        {"POST", 302, "/api/moved", false},
        {"POST", 303, "/api/moved", false},
        {"PUT", 307, "https://elsewhere.test/api/moved", false},
        {"POST", 308, "http://service.test/api/moved", false},
    };
    for (const Case &c : cases) {
        net.sent.clear();
        net.setScript([&](const Sent &s) {
            if (s.url.path() == QLatin1String("/api/moved"))
                return Scripted::json(200, "{\"ok\":true}");
            Scripted moved = Scripted::json(c.status, {});
            moved.headers = {{"Location", c.location}};
            return moved;
        });
        const std::optional<QJsonObject> sent =
            c.method == "POST" || c.method == "PUT" ? std::optional<QJsonObject>(body) : std::nullopt;
        auto out = run(Access::send<ZephylAPI::EmptyResponse>(api, QStringLiteral("/api/here"), c.method, sent, true));
        if (c.followed) {
            EXPECT_TRUE(out->value) << c.location.constData();
            ASSERT_EQ(net.sent.size(), 2);
            EXPECT_EQ(net.sent[1].header("Authorization"), "Bearer access-a");
            EXPECT_EQ(net.sent[1].method, c.method);
            EXPECT_EQ(net.sent[1].body, net.sent[0].body) << c.method.constData();
            EXPECT_EQ(net.sent[1].hasBody, net.sent[0].hasBody) << c.method.constData();
            EXPECT_EQ(net.sent[1].body.isEmpty(), !sent) << c.method.constData();
        } else {
            EXPECT_EQ(out->errorAs<APIError>(), APIError::serverRefused(c.status)) << c.location.constData();
            EXPECT_EQ(net.sent.size(), 1) << c.location.constData();
        }
    }
    // A redirect that never ends is the answer after five hops.
    net.sent.clear();
    net.setScript([](const Sent &) {
        Scripted moved = Scripted::json(308, {});
        moved.headers = {{"Location", "/api/here"}};
        return moved;
    });
    EXPECT_EQ(run(me())->errorAs<APIError>(), APIError::serverRefused(308));
    EXPECT_EQ(net.sent.size(), 1 + HttpCall::maximumRedirects);
}

TEST_F(ClientCore, AnswersEndAtTheirKindsLimitAndInterimAnswersAreNeverFinal)
{
    ASSERT_TRUE(run(Access::persist(api, zktest::sampleSession("a")))->done);
    const QByteArray big(HttpCall::AnswerLimit::session + 1, ' ');
    net.setScript([&](const Sent &) { return Scripted::json(200, big); });
    EXPECT_EQ(run(api.currentUser())->errorAs<NetworkError>()->code(), NetworkError::Code::dataLengthExceedsMaximum);
    // The same bytes are a fine size for an answer of another kind (and then just not JSON).
    EXPECT_TRUE(run(me())->errorAs<ZephylAPI::DecodingError>());
    // A declared length past the limit is enough.
    net.setScript([](const Sent &) {
        Scripted s = Scripted::json(200, kUserBody);
        s.headers = {{"Content-Length", QByteArray::number(HttpCall::AnswerLimit::record + 1)}};
        return s;
    });
    EXPECT_EQ(run(me())->errorAs<NetworkError>()->code(), NetworkError::Code::dataLengthExceedsMaximum);
    // A body that ends before its declared length (the connection closed under
    // it) is a lost connection, not a body to decode; unpacked, a body's
    // length is its own.
    net.setScript([](const Sent &) {
        Scripted s = Scripted::json(200, QByteArray(kUserBody).left(20));
        s.headers = {{"Content-Length", QByteArray::number(QByteArray(kUserBody).size())}};
        return s;
    });
    EXPECT_EQ(run(me())->errorAs<NetworkError>()->code(), NetworkError::Code::connectionLost);
    net.setScript([](const Sent &) {
        Scripted s = Scripted::json(200, kUserBody);
        s.headers = {{"Content-Length", QByteArray::number(QByteArray(kUserBody).size() + 40)},
                     {"Content-Encoding", "gzip"}};
        return s;
    });
    EXPECT_TRUE(run(me())->value);

    // An interim answer taken for the last one: a write that cannot be repeated is lost, not refused.
    net.sent.clear();
    net.setScript([](const Sent &) { return Scripted::json(103, {}); });
    auto write = run(Access::send<ZephylAPI::EmptyResponse>(api, QStringLiteral("/api/assistant/thread"), "POST",
                                                             QJsonObject{}, true));
    EXPECT_EQ(write->errorAs<NetworkError>()->code(), NetworkError::Code::connectionLost);
    EXPECT_EQ(net.sent.size(), 1);
}
