#include <gtest/gtest.h>

#include "ScriptedNetwork.h"
#include "ServiceTestSupport.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include "design/L10n.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace std::chrono_literals;
using zktest::Scripted;
using zktest::Sent;
using APIError = ZephylAPI::APIError;
using Restore = ZephylAPI::RestoreOutcome;

namespace {

const QString kConfig = QStringLiteral("/api/v1/auth/config");
const QString kExchange = QStringLiteral("/api/v1/auth/supabase/exchange");
const QString kRefresh = QStringLiteral("/api/v1/auth/refresh");
const QString kMe = QStringLiteral("/api/v1/me");
const QByteArray kUserBody = R"({"user":{"userId":"user-1","email":"cat@example.com","role":"creator"}})";

// A service and an accounts provider whose answers each test sets.
class Session : public ::testing::Test {
protected:
    FakeClock clock;
    zktest::ScriptedNetwork net;
    std::unique_ptr<KeychainStore> keychain = KeychainStore::inMemory();
    ZephylAPI api{ZephylAPI::Setup{QUrl(QStringLiteral("https://service.test")), &net, &clock, keychain.get()}};

    QString providerURL = QStringLiteral("https://accounts.test");
    // The provider's answer to each of its paths; the service's paths answer as usual.
    std::function<Scripted(const Sent &)> provider = [](const Sent &) { return Scripted::json(200, "{}"); };
    std::function<Scripted(const Sent &)> service = [](const Sent &s) {
        if (s.url.path() == kExchange || s.url.path() == kRefresh)
            return Scripted::json(200, zktest::sessionJson("svc"));
        if (s.url.path() == kMe)
            return Scripted::json(200, kUserBody);
        return Scripted::json(200, "{\"ok\":true}");
    };

    void SetUp() override
    {
        net.setScript([this](const Sent &s) {
            if (s.url.path() == kConfig)
                return Scripted::json(200, QJsonDocument(QJsonObject{{"supabaseUrl", providerURL},
                                                                     {"supabaseAnonKey", "anon"}})
                                               .toJson());
            if (s.url.host() == QLatin1String("service.test"))
                return service(s);
            return provider(s);
        });
    }

    MemorySecretBackend &primary() { return static_cast<MemorySecretBackend &>(keychain->primary()); }
    void put(const QString &account, const QString &value)
    {
        primary().items.insert(KeychainStore::service + QLatin1Char('/') + account, value.toUtf8());
    }
    std::optional<QString> stored(const QString &account) { return primary().text(KeychainStore::service, account); }
    QList<Sent> toProvider() const
    {
        QList<Sent> out;
        for (const Sent &s : net.sent) {
            if (s.url.host() != QLatin1String("service.test"))
                out.push_back(s);
        }
        return out;
    }
    template <typename T>
    auto run(QCoro::Task<T> task)
    {
        return zktest::runVirtual(clock, std::move(task));
    }
    auto run(QCoro::Task<> task) { return zktest::runVirtual(clock, std::move(task)); }
};

} // namespace

TEST_F(Session, SignInSendsTheNormalisedAddressAndStoresTheExchangedSession)
{
    provider = [](const Sent &) { return Scripted::json(200, "{\"access_token\":\"prov-1\"}"); };
    auto signedIn = run(api.signInWithEmail(QStringLiteral("  Cat@Example.COM \n"), QStringLiteral(" pw ")));
    ASSERT_TRUE(signedIn->value);
    EXPECT_EQ(signedIn->value->accessToken, QStringLiteral("access-svc"));

    const auto sent = toProvider();
    ASSERT_EQ(sent.size(), 1);
    const Sent &grant = sent.first();
    EXPECT_EQ(grant.url.toString(), QStringLiteral("https://accounts.test/auth/v1/token?grant_type=password"));
    EXPECT_EQ(grant.headers.keys(), (QList<QByteArray>{"Content-Type", "apikey"}));
    EXPECT_EQ(grant.header("apikey"), "anon");
    EXPECT_EQ(grant.json(), (QJsonObject{{"email", "cat@example.com"}, {"password", " pw "}}));

    const Sent exchange = net.sentTo(kExchange).value(0);
    EXPECT_EQ(exchange.json(), (QJsonObject{{"accessToken", "prov-1"}, {"deviceLabel", "Mac"}}));
    EXPECT_FALSE(exchange.headers.contains("Authorization"));
    EXPECT_EQ(stored(KeychainStore::accessTokenAccount), QStringLiteral("access-svc"));
    EXPECT_EQ(stored(KeychainStore::refreshTokenAccount), QStringLiteral("refresh-svc"));
    EXPECT_EQ(stored(KeychainStore::userIdAccount), QStringLiteral("user-1"));
    EXPECT_EQ(api.accessToken(), QStringLiteral("access-svc"));

    // The provider's settings are asked for again with every sign-in.
    run(api.signInWithEmail(QStringLiteral("cat@example.com"), QStringLiteral("pw")));
    EXPECT_EQ(net.sentTo(kConfig).size(), 2);
}

TEST_F(Session, SignInOutcomes)
{
    struct Case {
        const char *what;
        QString email;
        QString password;
        Scripted answer;
        std::optional<APIError> error;
        int providerRequests;
    };
    const QList<Case> cases{
        {"no @", "cat.example.com", "pw", Scripted::json(200, "{}"), APIError::invalidCredential(), 0},
        {"blank address", "   ", "pw", Scripted::json(200, "{}"), APIError::invalidCredential(), 0},
        {"empty password", "cat@example.com", "", Scripted::json(200, "{}"), APIError::invalidCredential(), 0},
        {"201 is not a session", "cat@example.com", "pw", Scripted::json(201, "{\"access_token\":\"t\"}"),
         APIError::rejected("sign_in_wrong_credentials"), 1},
        {"204", "cat@example.com", "pw", Scripted::json(204, {}), APIError::rejected("sign_in_wrong_credentials"), 1},
        {"400", "cat@example.com", "pw", Scripted::json(400, "{\"error\":\"invalid_grant\"}"),
         APIError::rejected("sign_in_wrong_credentials"), 1},
        {"200 without a token", "cat@example.com", "pw", Scripted::json(200, "{\"token\":\"t\"}"),
         APIError::invalidResponse(), 1},
        {"200 not JSON", "cat@example.com", "pw", Scripted::json(200, "<html>"), APIError::invalidResponse(), 1},
    };
    for (const Case &c : cases) {
        net.sent.clear();
        provider = [&](const Sent &) { return c.answer; };
        auto outcome = run(api.signInWithEmail(c.email, c.password));
        EXPECT_EQ(outcome->errorAs<APIError>(), c.error) << c.what;
        EXPECT_EQ(toProvider().size(), c.providerRequests) << c.what;
        EXPECT_TRUE(net.sentTo(kExchange).isEmpty()) << c.what;
    }
}

TEST_F(Session, ThePasswordOnlyGoesToASecureProviderAddress)
{
    provider = [](const Sent &) { return Scripted::json(200, "{\"access_token\":\"prov-1\"}"); };
    for (const QString &bad : {QStringLiteral("http://accounts.example.com"), QStringLiteral("ftp://accounts.test"),
                               QStringLiteral("accounts.test"), QStringLiteral("http://10.0.0.1:8080")}) {
        net.sent.clear();
        providerURL = bad;
        EXPECT_EQ(run(api.signInWithEmail(QStringLiteral("cat@example.com"), QStringLiteral("pw")))
                      ->errorAs<APIError>(),
                  APIError::invalidResponse())
            << qPrintable(bad);
        EXPECT_EQ(run(api.createAccountWithEmail(QStringLiteral("cat@example.com"), QStringLiteral("pw"), {}))
                      ->errorAs<APIError>(),
                  APIError::invalidResponse())
            << qPrintable(bad);
        EXPECT_EQ(run(api.sendPasswordReset(QStringLiteral("cat@example.com")))->errorAs<APIError>(),
                  APIError::invalidResponse())
            << qPrintable(bad);
        EXPECT_EQ(run(api.supabaseProjectURL())->errorAs<APIError>(), APIError::invalidResponse()) << qPrintable(bad);
        EXPECT_TRUE(toProvider().isEmpty()) << qPrintable(bad);
    }
    // Loopback http is the local stand-in.
    for (const QString &good : {QStringLiteral("http://127.0.0.1:5555"), QStringLiteral("http://localhost:5555"),
                                QStringLiteral("HTTPS://accounts.test")}) {
        net.sent.clear();
        providerURL = good;
        EXPECT_TRUE(run(api.signInWithEmail(QStringLiteral("cat@example.com"), QStringLiteral("pw")))->value)
            << qPrintable(good);
        EXPECT_EQ(toProvider().size(), 1);
    }
}

TEST_F(Session, SignUpOutcomes)
{
    L10n::setPreferredLanguagesProvider([] { return QStringList{QStringLiteral("pt-BR"), QStringLiteral("en")}; });
    using Outcome = ZephylAPI::SignUpOutcome;
    struct Case {
        const char *what;
        Scripted answer;
        std::optional<APIError> error;
        std::optional<Outcome::Kind> kind;
    };
    const QList<Case> cases{
        {"422", Scripted::json(422, "{}"), APIError::rejected("sign_up_email_taken"), {}},
        {"400 mentions already", Scripted::json(400, "{\"msg\":\"User ALREADY registered\"}"),
         APIError::rejected("sign_up_email_taken"), {}},
        {"500", Scripted::json(500, "{\"msg\":\"boom\"}"), APIError::rejected("sign_up_failed"), {}},
        // A body that is not whole UTF-8 counts as empty, whatever it seems to say.
        {"400 undecodable", Scripted::json(400, QByteArray("already registered\xe2\x82")),
         APIError::rejected("sign_up_failed"), {}},
        {"2xx without a session", Scripted::json(200, "{\"id\":\"u\",\"identities\":[{\"id\":\"u\"}]}"), {},
         Outcome::Kind::confirmationSent},
        {"2xx not JSON", Scripted::json(200, "ok"), {}, Outcome::Kind::confirmationSent},
        {"session, empty identities", Scripted::json(200, "{\"access_token\":\"t\",\"identities\":[]}"), {},
         Outcome::Kind::confirmationSent},
        {"session, identities only in user",
         Scripted::json(200, "{\"access_token\":\"t\",\"user\":{\"identities\":[]}}"), {},
         Outcome::Kind::confirmationSent},
        {"session, top-level identities win",
         Scripted::json(200, "{\"access_token\":\"t\",\"identities\":[{}],\"user\":{\"identities\":[]}}"), {},
         Outcome::Kind::signedIn},
        {"session, no identities", Scripted::json(200, "{\"access_token\":\"t\"}"), {}, Outcome::Kind::signedIn},
    };
    for (const Case &c : cases) {
        net.sent.clear();
        provider = [&](const Sent &) { return c.answer; };
        auto outcome = run(api.createAccountWithEmail(QStringLiteral(" New@Example.com"), QStringLiteral("secret"),
                                                      QStringLiteral("  Tom Cat \n")));
        EXPECT_EQ(outcome->errorAs<APIError>(), c.error) << c.what;
        EXPECT_EQ(outcome->value ? std::optional(outcome->value->kind) : std::nullopt, c.kind) << c.what;
        EXPECT_EQ(net.sentTo(kExchange).size(), c.kind == Outcome::Kind::signedIn ? 1 : 0) << c.what;
        const Sent signup = toProvider().value(0);
        EXPECT_EQ(signup.url.toString(), QStringLiteral("https://accounts.test/auth/v1/signup")) << c.what;
        EXPECT_EQ(signup.json(), (QJsonObject{{"email", "new@example.com"},
                                              {"password", "secret"},
                                              {"data", QJsonObject{{"locale", "pt-BR"}, {"full_name", "Tom Cat"}}}}))
            << c.what;
    }
    L10n::setPreferredLanguagesProvider([] { return QStringList(); });
    run(api.createAccountWithEmail(QStringLiteral("a@b.c"), QStringLiteral("secret"), QString()));
    EXPECT_EQ(toProvider().last().json().value("data").toObject().value("locale").toString(), QStringLiteral("en"));
    // The desktop names languages the POSIX way; the provider is sent a language tag.
    L10n::setPreferredLanguagesProvider([] { return QStringList{QStringLiteral("de_AT"), QStringLiteral("en")}; });
    run(api.createAccountWithEmail(QStringLiteral("a@b.c"), QStringLiteral("secret"), QString()));
    EXPECT_EQ(toProvider().last().json().value("data").toObject().value("locale").toString(), QStringLiteral("de-AT"));
    L10n::setPreferredLanguagesProvider({});
}

TEST_F(Session, PasswordResetOutcomes)
{
    provider = [](const Sent &) { return Scripted::json(204, {}); };
    EXPECT_TRUE(run(api.sendPasswordReset(QStringLiteral(" Cat@Example.com")))->value);
    EXPECT_EQ(toProvider().value(0).json(), (QJsonObject{{"email", "cat@example.com"}}));

    provider = [](const Sent &) { return Scripted::json(500, "{}"); };
    EXPECT_EQ(run(api.sendPasswordReset(QStringLiteral("cat@example.com")))->errorAs<APIError>(),
              APIError::rejected("password_reset_failed"));
    provider = [](const Sent &) {
        Scripted s;
        s.notHttp = true;
        return s;
    };
    EXPECT_EQ(run(api.sendPasswordReset(QStringLiteral("cat@example.com")))->errorAs<APIError>(),
              APIError::rejected("password_reset_failed"));
    net.sent.clear();
    EXPECT_EQ(run(api.sendPasswordReset(QStringLiteral("nobody")))->errorAs<APIError>(), APIError::invalidCredential());
    EXPECT_TRUE(net.sent.isEmpty());
}

TEST_F(Session, RestoreConfirmsOrRenewsTheStoredSession)
{
    // Confirmed by the lookup, with the stored token and no refresh.
    put(KeychainStore::accessTokenAccount, QStringLiteral("stored"));
    put(KeychainStore::refreshTokenAccount, QStringLiteral("r-stored"));
    auto confirmed = run(api.restoreSession());
    EXPECT_EQ(confirmed->value, Restore::signedIn);
    EXPECT_EQ(net.sentTo(kMe).value(0).header("Authorization"), "Bearer stored");
    EXPECT_TRUE(net.sentTo(kRefresh).isEmpty());

    // Refused, or answered with something unreadable: the refresh decides.
    for (const Scripted &lookup : {Scripted::json(401, {}), Scripted::json(200, "{\"user\":{}}"),
                                   Scripted::json(503, "{\"code\":\"maintenance\"}")}) {
        net.sent.clear();
        put(KeychainStore::accessTokenAccount, QStringLiteral("stored"));
        service = [&](const Sent &s) {
            if (s.url.path() == kRefresh)
                return Scripted::json(200, zktest::sessionJson("renewed"));
            return lookup;
        };
        EXPECT_EQ(run(api.restoreSession())->value, Restore::signedIn);
        EXPECT_EQ(net.sentTo(kRefresh).size(), 1);
        EXPECT_EQ(stored(KeychainStore::accessTokenAccount), QStringLiteral("access-renewed"));
    }

    // Both refused: signed out, and nothing deleted.
    service = [](const Sent &) { return Scripted::json(500, {}); };
    EXPECT_EQ(run(api.restoreSession())->value, Restore::signedOut);
    EXPECT_TRUE(stored(KeychainStore::refreshTokenAccount).has_value());
    // The refresh token refused as unknown (a service that forgot its sessions): signed out.
    service = [](const Sent &s) {
        return s.url.path() == kRefresh ? Scripted::json(401, "{\"code\":\"refresh_token_invalid\"}")
                                        : Scripted::json(401, "{\"code\":\"unauthorized\"}");
    };
    EXPECT_EQ(run(api.restoreSession())->value, Restore::signedOut);
    EXPECT_TRUE(stored(KeychainStore::refreshTokenAccount).has_value());
}

TEST_F(Session, RestoreWithOnlyARefreshTokenRenewsWithoutALookup)
{
    put(KeychainStore::refreshTokenAccount, QStringLiteral("r-stored"));
    EXPECT_EQ(run(api.restoreSession())->value, Restore::signedIn);
    EXPECT_TRUE(net.sentTo(kMe).isEmpty());
    EXPECT_EQ(net.sentTo(kRefresh).value(0).json().value("refreshToken").toString(), QStringLiteral("r-stored"));

    // Nothing stored at all: signed out at once, nothing sent.
    ASSERT_TRUE(run(api.logout())->done);
    net.sent.clear();
    auto empty = run(api.restoreSession());
    EXPECT_EQ(empty->value, Restore::signedOut);
    EXPECT_EQ(empty->virtualElapsed, 0ms);
    EXPECT_TRUE(net.sent.isEmpty());
}

TEST_F(Session, RestoreOfflineGivesUpAfterTwentySeconds)
{
    service = [](const Sent &) { return Scripted::failure(QNetworkReply::HostNotFoundError); };

    put(KeychainStore::accessTokenAccount, QStringLiteral("stored"));
    put(KeychainStore::refreshTokenAccount, QStringLiteral("r-stored"));
    auto offline = run(api.restoreSession());
    EXPECT_EQ(offline->value, Restore::unverified);
    EXPECT_GE(offline->virtualElapsed, 20s);
    EXPECT_LT(offline->virtualElapsed, 21s);
    EXPECT_EQ(api.accessToken(), QStringLiteral("stored"));
    EXPECT_EQ(net.openReplies(), 0);

    // Only a refresh token: the refresh waits for the network just the same, and loses.
    primary().items.remove(KeychainStore::service + QStringLiteral("/access-token"));
    auto refreshOnly = run(api.restoreSession());
    EXPECT_EQ(refreshOnly->value, Restore::signedOut);
    EXPECT_GE(refreshOnly->virtualElapsed, 20s);
    EXPECT_LT(refreshOnly->virtualElapsed, 21s);
    EXPECT_EQ(stored(KeychainStore::refreshTokenAccount), QStringLiteral("r-stored"));

    // A silent service (no answer at all) is the same as none.
    service = [](const Sent &) { return Scripted::silence(); };
    put(KeychainStore::accessTokenAccount, QStringLiteral("stored"));
    EXPECT_EQ(run(api.restoreSession())->value, Restore::unverified);
    EXPECT_EQ(net.openReplies(), 0);

    // A service that cannot be reached at all (the connection refused at once)
    // gave no answer either: unconfirmed without waiting, never signed out;
    // with only a refresh token, signed out.
    service = [](const Sent &) { return Scripted::failure(QNetworkReply::ConnectionRefusedError); };
    auto refused = run(api.restoreSession());
    EXPECT_EQ(refused->value, Restore::unverified);
    EXPECT_LT(refused->virtualElapsed, 1s);
    primary().items.remove(KeychainStore::service + QStringLiteral("/access-token"));
    EXPECT_EQ(run(api.restoreSession())->value, Restore::signedOut);
    EXPECT_EQ(stored(KeychainStore::refreshTokenAccount), QStringLiteral("r-stored"));
}

TEST_F(Session, CurrentUserAndLogout)
{
    // No token and no page: nothing is sent.
    EXPECT_EQ(run(api.currentUser())->errorAs<APIError>(), APIError::unauthorized());
    EXPECT_TRUE(net.sent.isEmpty());

    // Signing out without a refresh token sends nothing and still forgets everything.
    put(KeychainStore::accessTokenAccount, QStringLiteral("a"));
    put(KeychainStore::userIdAccount, QStringLiteral("u"));
    ASSERT_TRUE(run(api.logout())->done);
    EXPECT_TRUE(net.sent.isEmpty());
    EXPECT_TRUE(primary().items.isEmpty());

    // With a session: the service is told, and a refusal changes nothing locally.
    ASSERT_TRUE(run(ZephylAPITestAccess::persist(api, zktest::sampleSession("s")))->done);
    EXPECT_EQ(run(api.currentUser())->value->email, QStringLiteral("cat@example.com"));
    service = [](const Sent &) { return Scripted::json(500, {}); };
    ASSERT_TRUE(run(api.logout())->done);
    const Sent logout = net.sentTo(QStringLiteral("/api/v1/auth/logout")).value(0);
    EXPECT_EQ(logout.json(), (QJsonObject{{"refreshToken", "refresh-s"}}));
    EXPECT_TRUE(primary().items.isEmpty());
    EXPECT_FALSE(api.accessToken());
}

// ---- Credentials

TEST(Keychain, ReadsTheSecretServiceFirstThenTheFile)
{
    auto store = KeychainStore::inMemory();
    auto &first = static_cast<MemorySecretBackend &>(store->primary());
    auto &second = static_cast<MemorySecretBackend &>(store->fallback());
    const QString key = KeychainStore::service + QStringLiteral("/refresh-token");

    second.items.insert(key, "from-file");
    EXPECT_EQ(zktest::run(store->value(KeychainStore::refreshTokenAccount)), QStringLiteral("from-file"));
    first.items.insert(key, "from-service");
    EXPECT_EQ(zktest::run(store->value(KeychainStore::refreshTokenAccount)), QStringLiteral("from-service"));
    // Unreadable bytes in the first place count as nothing; the file is not asked then.
    first.items.insert(key, QByteArray("\xff\xfe", 2));
    EXPECT_EQ(zktest::run(store->value(KeychainStore::refreshTokenAccount)), std::nullopt);
    // A secret service that does not answer is passed over.
    first.answering = false;
    EXPECT_EQ(zktest::run(store->value(KeychainStore::refreshTokenAccount)), QStringLiteral("from-file"));
}

TEST(Keychain, StoringWritesFirstAndOnlyThenRemovesStaleCopies)
{
    auto store = KeychainStore::inMemory();
    auto &first = static_cast<MemorySecretBackend &>(store->primary());
    auto &second = static_cast<MemorySecretBackend &>(store->fallback());

    second.items.insert(KeychainStore::service + QStringLiteral("/user-id"), "stale");
    zktest::run(store->store(KeychainStore::userIdAccount, QStringLiteral("u-2")));
    EXPECT_EQ(first.text(KeychainStore::service, KeychainStore::userIdAccount), QStringLiteral("u-2"));
    EXPECT_FALSE(second.text(KeychainStore::service, KeychainStore::userIdAccount));

    // No secret service: the file takes it.
    first.answering = false;
    zktest::run(store->store(KeychainStore::userIdAccount, QStringLiteral("u-3")));
    EXPECT_EQ(second.text(KeychainStore::service, KeychainStore::userIdAccount), QStringLiteral("u-3"));

    // A secret service that refuses is an error, not a reason to use the file.
    first.answering = true;
    first.refuseWrites = 1;
    const auto refused = zktest::settle(store->store(KeychainStore::userIdAccount, QStringLiteral("u-4")));
    ASSERT_TRUE(refused->errorAs<KeychainStore::KeychainError>());
    EXPECT_EQ(refused->errorAs<KeychainStore::KeychainError>()->status(), 4);
    EXPECT_EQ(second.text(KeychainStore::service, KeychainStore::userIdAccount), QStringLiteral("u-3"));
}

namespace {
// Passes everything to an in-memory place but refuses to store one item.
struct RefusingBackend final : SecretBackend {
    MemorySecretBackend &inner;
    QString refused;
    RefusingBackend(MemorySecretBackend &i, QString account) : inner(i), refused(std::move(account)) {}
    QCoro::Task<Result> read(QString s, QString a) override { return inner.read(s, a); }
    QCoro::Task<Result> write(QString s, QString a, QByteArray d) override
    {
        if (a == refused)
            co_return Result{Status::failed, 4, {}};
        co_return co_await inner.write(s, a, d);
    }
    QCoro::Task<Result> remove(QString s, QString a) override { return inner.remove(s, a); }
};
} // namespace

TEST_F(Session, AFailedWriteKeepsThePreviousRefreshToken)
{
    ASSERT_TRUE(run(ZephylAPITestAccess::persist(api, zktest::sampleSession("one")))->done);
    KeychainStore refusing(std::make_unique<RefusingBackend>(primary(), KeychainStore::refreshTokenAccount),
                           std::make_unique<MemorySecretBackend>());
    ZephylAPI client{ZephylAPI::Setup{QUrl(QStringLiteral("https://service.test")), &net, &clock, &refusing}};
    service = [](const Sent &) { return Scripted::json(200, zktest::sessionJson("two")); };

    auto refreshed = run(client.refreshSession());
    ASSERT_TRUE(refreshed->errorAs<ZephylAPI::KeychainError>());
    EXPECT_EQ(refreshed->errorAs<ZephylAPI::KeychainError>()->status(), 4);
    // The stored refresh token was never deleted ahead of the write.
    EXPECT_EQ(stored(KeychainStore::refreshTokenAccount), QStringLiteral("refresh-one"));
    EXPECT_EQ(stored(KeychainStore::accessTokenAccount), QStringLiteral("access-two"));
    EXPECT_EQ(client.accessToken(), QStringLiteral("access-two"));
}

static int modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

TEST(Keychain, TheFileIsOwnerOnlyAndSurvivesARoundTrip)
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/zephyl-kitty/credentials.json");
    FileSecretBackend file(path);
    auto missing = zktest::run(file.read(KeychainStore::service, KeychainStore::accessTokenAccount));
    EXPECT_EQ(missing.status, SecretBackend::Status::notFound);

    EXPECT_EQ(zktest::run(file.write(KeychainStore::service, KeychainStore::accessTokenAccount, "tok\n\"x")).status,
              SecretBackend::Status::ok);
    EXPECT_EQ(modeOf(path), 0600);
    EXPECT_EQ(modeOf(QFileInfo(path).absolutePath()), 0700);
    EXPECT_EQ(zktest::run(file.read(KeychainStore::service, KeychainStore::accessTokenAccount)).data, "tok\n\"x");

    // Widened by someone else: narrowed again on the next read.
    ::chmod(QFile::encodeName(path).constData(), 0644);
    zktest::run(file.read(KeychainStore::service, KeychainStore::accessTokenAccount));
    EXPECT_EQ(modeOf(path), 0600);

    EXPECT_EQ(zktest::run(file.remove(KeychainStore::service, KeychainStore::accessTokenAccount)).status,
              SecretBackend::Status::ok);
    EXPECT_EQ(zktest::run(file.read(KeychainStore::service, KeychainStore::accessTokenAccount)).status,
              SecretBackend::Status::notFound);

    // A pipe in its place is no stored session, and is never waited on; the
    // permissions of what a link points at are left alone.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    EXPECT_EQ(zktest::run(file.read(KeychainStore::service, KeychainStore::accessTokenAccount)).status,
              SecretBackend::Status::unavailable);
    ASSERT_TRUE(QFile::remove(path));
    const QString target = dir.path() + QStringLiteral("/elsewhere.json");
    zktest::run(FileSecretBackend(target).write(KeychainStore::service, KeychainStore::accessTokenAccount, "t"));
    ::chmod(QFile::encodeName(target).constData(), 0644);
    ASSERT_TRUE(QFile::link(target, path));
    EXPECT_EQ(zktest::run(file.read(KeychainStore::service, KeychainStore::accessTokenAccount)).data, "t");
    EXPECT_EQ(modeOf(target), 0644);

    // The default place is under $XDG_DATA_HOME.
    EXPECT_TRUE(FileSecretBackend::defaultPath().startsWith(qEnvironmentVariable("XDG_DATA_HOME")));
}
