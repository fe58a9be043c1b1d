#include <gtest/gtest.h>

#include "ServiceTestSupport.h"
#include "StandinServer.h"
#include "WebApp.h"
#include "services/PlainReply.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

using namespace std::chrono_literals;
using APIError = ZephylAPI::APIError;
using NetworkError = ZephylAPI::NetworkError;
using Access = ZephylAPITestAccess;
using Standin::Fault;

namespace {

const QString kEmail = QStringLiteral("kitty@example.com");
const QString kPassword = QStringLiteral("meow-meow-meow");
const QString kRefresh = QStringLiteral("/api/v1/auth/refresh");

// The client and the stand-in talk over loopback HTTP in this process.
class EndToEnd : public ::testing::Test {
protected:
    Standin::Server server;
    FakeClock clock;
    std::unique_ptr<KeychainStore> keychain = KeychainStore::inMemory();
    std::unique_ptr<ZephylAPI> api;

    void SetUp() override
    {
        ASSERT_NE(server.start(), 0);
        server.addAccount(kEmail, kPassword, QStringLiteral("Kitty"));
        api = makeClient();
    }
    std::unique_ptr<ZephylAPI> makeClient()
    {
        return std::make_unique<ZephylAPI>(ZephylAPI::Setup{QUrl(server.origin()), nullptr, &clock, keychain.get()});
    }
    std::optional<QString> stored(const QString &account)
    {
        return static_cast<MemorySecretBackend &>(keychain->primary()).text(KeychainStore::service, account);
    }
    void signIn() { ASSERT_TRUE(zktest::settle(api->signInWithEmail(kEmail, kPassword))->value); }
    auto me() { return Access::authenticated<ZephylWire::CurrentUserResponse>(*api, QStringLiteral("/api/v1/me")); }
};

} // namespace

TEST_F(EndToEnd, SignInRestoreAndLogout)
{
    auto session = zktest::settle(api->signInWithEmail(QStringLiteral(" Kitty@Example.com "), kPassword));
    ASSERT_TRUE(session->value);
    EXPECT_EQ(session->value->user.email, kEmail);
    EXPECT_EQ(stored(KeychainStore::refreshTokenAccount), session->value->refreshToken);
    EXPECT_EQ(server.seen(QStringLiteral("/auth/v1/token")).value(0).header("apikey"), Standin::Server::anonKey);

    // The next start finds the stored session and the service confirms it.
    api = makeClient();
    EXPECT_EQ(zktest::settle(api->restoreSession())->value, ZephylAPI::RestoreOutcome::signedIn);
    EXPECT_EQ(zktest::settle(api->currentUser())->value->displayName, QStringLiteral("Kitty"));
    EXPECT_EQ(server.count(kRefresh), 0);

    ASSERT_TRUE(zktest::settle(api->logout())->done);
    EXPECT_EQ(server.count(QStringLiteral("/api/v1/auth/logout")), 1);
    EXPECT_FALSE(stored(KeychainStore::refreshTokenAccount));
    EXPECT_FALSE(stored(KeychainStore::accessTokenAccount));
    EXPECT_EQ(zktest::settle(api->restoreSession())->value, ZephylAPI::RestoreOutcome::signedOut);
    // The service ended the session too: its tokens no longer work.
    EXPECT_TRUE(server.state().accessTokens.isEmpty());
    EXPECT_TRUE(server.state().refreshTokens.isEmpty());
}

TEST_F(EndToEnd, RefreshAfterUnauthorizedAndRotation)
{
    signIn();
    const QString before = *stored(KeychainStore::refreshTokenAccount);
    server.expireAccessTokens();

    ASSERT_TRUE(zktest::settle(me())->value);
    EXPECT_EQ(server.count(kRefresh), 1);
    const QString after = *stored(KeychainStore::refreshTokenAccount);
    EXPECT_NE(after, before);

    // Restore after the access token expired goes through the refresh as well.
    server.expireAccessTokens();
    api = makeClient();
    EXPECT_EQ(zktest::settle(api->restoreSession())->value, ZephylAPI::RestoreOutcome::signedIn);
    EXPECT_EQ(server.count(kRefresh), 2);

    // The service restarted and forgot its sessions: the refresh is refused as
    // unknown, and that is the session's end, not a refusal to word.
    server.forgetSessions();
    EXPECT_EQ(zktest::settle(me())->errorAs<APIError>(), APIError::sessionExpired());
    EXPECT_EQ(server.count(kRefresh), 3);
    EXPECT_EQ(zktest::settle(api->restoreSession())->value, ZephylAPI::RestoreOutcome::signedOut);

    // A service that is not there at all: a stored session starts unconfirmed.
    signIn();
    for (QTcpServer *listener : server.servers())
        listener->close();
    api = makeClient();
    EXPECT_EQ(zktest::settle(api->restoreSession())->value, ZephylAPI::RestoreOutcome::unverified);
    EXPECT_EQ(api->accessToken(), stored(KeychainStore::accessTokenAccount));
}

TEST(StandinOverHttps, TheStandinsCertificateIsTrustedOnLoopbackOnly)
{
    Standin::Server server;
    server.addAccount(kEmail, kPassword);
    ASSERT_NE(Standin::startSecure(server), 0);
    server.setProviderURL(Standin::secureOrigin(server));
    FakeClock clock;
    auto keychain = KeychainStore::inMemory();
    {
        // The system does not know the stand-in's certificate.
        ZephylAPI untrusting(ZephylAPI::Setup{QUrl(Standin::secureOrigin(server)), nullptr, &clock, keychain.get()});
        EXPECT_EQ(zktest::settle(untrusting.signInWithEmail(kEmail, kPassword))->errorAs<NetworkError>()->code(),
                  NetworkError::Code::secureConnectionFailed);
    }
    ZephylAPI api(ZephylAPI::Setup{QUrl(Standin::secureOrigin(server)), nullptr, &clock, keychain.get()});
    api.trustOnLoopback(Standin::certificate());
    const auto session = zktest::settle(api.signInWithEmail(kEmail, kPassword));
    ASSERT_TRUE(session->value);
    EXPECT_EQ(session->value->user.email, kEmail);
    EXPECT_EQ(server.count(QStringLiteral("/auth/v1/token")), 1) << "the provider's address is trusted the same way";

    // The rule itself: https to this machine only.
    HttpCall::Network network;
    network.trustOnLoopback(Standin::certificate());
    const auto trusts = [&](const char *address) {
        QNetworkRequest request{QUrl(QString::fromLatin1(address))};
        network.applyTrust(request);
        return request.sslConfiguration().caCertificates().contains(Standin::certificate());
    };
    EXPECT_TRUE(trusts("https://127.0.0.1:8443/api/v1/me"));
    EXPECT_TRUE(trusts("https://localhost/"));
    EXPECT_TRUE(trusts("https://127.0.0.2/"));
    EXPECT_TRUE(trusts("https://[::1]:9/"));
    EXPECT_FALSE(trusts("https://sorvane.app/api/v1/me"));
    EXPECT_FALSE(trusts("https://127.0.0.1.example.com/"));
    EXPECT_FALSE(trusts("https://localhost.example.com/"));
    EXPECT_FALSE(trusts("https://10.0.0.1/"));
    EXPECT_FALSE(trusts("http://127.0.0.1/"));
}

// The clients above are deleted just before this process would end; their
// network threads' TLS cleanup is held, in a child run of that case, until
// the exit handlers have run. OpenSSL's own cleanup at exit used to free the
// same state first: the process ended in a double free.
TEST(StandinOverHttps, AProcessEndsCleanlyWhileItsNetworkThreadsFinishTheirTls)
{
#ifndef ZK_THREAD_END_AT_EXIT
    GTEST_SKIP() << "the preloaded library is not built under the sanitizers";
#else
    if (qEnvironmentVariableIsSet("ZK_CHILD_RUN"))
        GTEST_SKIP();
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(ZK_THREAD_END_AT_EXIT));
    environment.insert(QStringLiteral("ZK_CHILD_RUN"), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=StandinOverHttps.TheStandinsCertificateIsTrustedOnLoopbackOnly")});
    ASSERT_TRUE(child.waitForFinished(60000));
    const std::string output = child.readAll().toStdString();
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << output;
    EXPECT_EQ(child.exitCode(), 0) << output;
    // The held threads are what makes this a test of the end.
    EXPECT_NE(output.find("thread-end-at-exit: held "), std::string::npos) << output;
    EXPECT_EQ(output.find("thread-end-at-exit: held 0\n"), std::string::npos) << output;
#endif
}

TEST_F(EndToEnd, ConcurrentUnauthorizedCallsRefreshOnce)
{
    signIn();
    server.expireAccessTokens();
    std::vector<std::shared_ptr<zktest::Outcome<ZephylWire::CurrentUserResponse>>> outcomes;
    std::vector<QCoro::Task<>> runners;
    for (int i = 0; i < 4; ++i) {
        outcomes.push_back(std::make_shared<zktest::Outcome<ZephylWire::CurrentUserResponse>>());
        runners.push_back(zktest::capture(me(), outcomes.back()));
    }
    ASSERT_TRUE(zktest::spinUntil([&] {
        return std::all_of(outcomes.begin(), outcomes.end(), [](const auto &o) { return o->done; });
    }));
    for (const auto &o : outcomes)
        EXPECT_TRUE(o->value);
    // One refresh for all: a second one with the rotated token would have ended the session.
    EXPECT_EQ(server.count(kRefresh), 1);
    EXPECT_EQ(server.count(QStringLiteral("/api/v1/me")), 8);
    EXPECT_TRUE(zktest::settle(api->currentUser())->value);
}

TEST_F(EndToEnd, ServiceFaultsReachTheCallerTyped)
{
    signIn();
    const QString me = QStringLiteral("/api/v1/me");
    server.addFault({Fault::Kind::serverError, me, 503, std::nullopt, 0, 1});
    EXPECT_EQ(zktest::settle(api->currentUser())->errorAs<APIError>(), APIError::serverRefused(503));
    server.addFault({Fault::Kind::serverError, me, 500, QStringLiteral("db_down"), 0, 1});
    EXPECT_EQ(zktest::settle(api->currentUser())->errorAs<APIError>(), APIError::rejected("db_down"));
    server.addFault({Fault::Kind::malformed, me, 200, std::nullopt, 0, 1});
    EXPECT_TRUE(zktest::settle(api->currentUser())->errorAs<ZephylAPI::DecodingError>());
    server.addFault({Fault::Kind::drop, me, 200, std::nullopt, 0, 1});
    EXPECT_EQ(zktest::settle(api->currentUser())->errorAs<NetworkError>()->code(),
              NetworkError::Code::connectionLost);
    server.addFault({Fault::Kind::unauthorized, me, 401, QStringLiteral("account_locked"), 0, 1});
    EXPECT_EQ(zktest::settle(api->currentUser())->errorAs<APIError>(), APIError::rejected("account_locked"));
    server.addFault({Fault::Kind::slow, me, 200, std::nullopt, 30, 1});
    EXPECT_TRUE(zktest::settle(api->currentUser())->value);

    // A service that never answers: the client's own clock ends the wait.
    server.addFault({Fault::Kind::hang, me, 200, std::nullopt, 0, 1});
    const int asked = server.count(me);
    auto waiting = std::make_shared<zktest::Outcome<ZephylAPI::User>>();
    auto runner = zktest::capture(api->currentUser(), waiting);
    ASSERT_TRUE(zktest::spinUntil([&] { return server.count(me) == asked + 1; }));
    clock.advance(29s);
    zktest::drainEvents();
    EXPECT_FALSE(waiting->done);
    clock.advance(1s);
    ASSERT_TRUE(zktest::spinUntil([&] { return waiting->done; }));
    EXPECT_EQ(waiting->errorAs<NetworkError>()->code(), NetworkError::Code::timedOut);
    server.releaseHeld();
}

TEST_F(EndToEnd, AccountsAtTheProvider)
{
    auto created = zktest::settle(api->createAccountWithEmail(QStringLiteral("new@example.com"),
                                                              QStringLiteral("secret-1"), QStringLiteral(" Tom ")));
    ASSERT_TRUE(created->value);
    EXPECT_EQ(created->value->kind, ZephylAPI::SignUpOutcome::Kind::signedIn);
    EXPECT_EQ(created->value->session->user.displayName, QStringLiteral("Tom"));

    EXPECT_EQ(zktest::settle(api->createAccountWithEmail(kEmail, QStringLiteral("secret-1"), {}))->errorAs<APIError>(),
              APIError::rejected("sign_up_email_taken"));
    EXPECT_EQ(zktest::settle(api->signInWithEmail(kEmail, QStringLiteral("wrong")))->errorAs<APIError>(),
              APIError::rejected("sign_in_wrong_credentials"));
    EXPECT_TRUE(zktest::settle(api->sendPasswordReset(kEmail))->value);

    server.state().autoConfirm = false;
    auto pending = zktest::settle(api->createAccountWithEmail(QStringLiteral("later@example.com"),
                                                              QStringLiteral("secret-2"), {}));
    EXPECT_EQ(pending->value->kind, ZephylAPI::SignUpOutcome::Kind::confirmationSent);

    // A provider address that is neither https nor this machine gets no password.
    server.clearSeen();
    server.setProviderURL(QStringLiteral("http://accounts.example.com"));
    EXPECT_EQ(zktest::settle(api->signInWithEmail(kEmail, kPassword))->errorAs<APIError>(),
              APIError::invalidResponse());
    EXPECT_EQ(server.count(QStringLiteral("/auth/v1/token")), 0);
}

TEST(StandinCommand, StartsOnAFreePortAndWritesIt)
{
    QTemporaryDir dir;
    const QString portFile = dir.filePath(QStringLiteral("port"));
    QProcess standin;
    standin.start(QStringLiteral(ZK_STANDIN_BIN), {QStringLiteral("--port"), QStringLiteral("0"),
                                                   QStringLiteral("--port-file"), portFile});
    ASSERT_TRUE(standin.waitForStarted());
    ASSERT_TRUE(zktest::spinUntil([&] { return QFileInfo(portFile).size() > 0; }));
    QFile file(portFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const int port = file.readAll().toInt();
    ASSERT_GT(port, 0);

    auto keychain = KeychainStore::inMemory();
    ZephylAPI api(ZephylAPI::Setup{QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)), nullptr, nullptr,
                                   keychain.get()});
    const auto project = zktest::settle(api.supabaseProjectURL());
    ASSERT_TRUE(project->value);
    EXPECT_EQ(project->value->port(), port);
    EXPECT_TRUE(zktest::settle(api.signInWithEmail(kEmail, kPassword))->value);

    standin.terminate();
    standin.waitForFinished();
}
