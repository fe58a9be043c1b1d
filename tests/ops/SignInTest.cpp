#include "services/auth/GoogleSignInService.h"
#include "services/auth/InstagramConnectionService.h"

#include "OpsTestSupport.h"

#include <gtest/gtest.h>

#include <variant>

namespace {

// Ends every run with a fixed outcome and remembers how it was asked.
class ScriptedSession final : public WebAuthSession {
public:
    using Outcome = std::variant<QUrl, Failure, std::runtime_error>;
    explicit ScriptedSession(Outcome outcome) : m_outcome(std::move(outcome)) {}

    QCoro::Task<QUrl> run(QUrl url, QString callbackScheme, bool ephemeral) override
    {
        runs.push_back({url, callbackScheme, ephemeral});
        if (auto *failure = std::get_if<Failure>(&m_outcome))
            throw *failure;
        if (auto *error = std::get_if<std::runtime_error>(&m_outcome))
            throw *error;
        co_return std::get<QUrl>(m_outcome);
    }

    struct Run {
        QUrl url;
        QString scheme;
        bool ephemeral;
    };
    std::vector<Run> runs;

private:
    Outcome m_outcome;
};

} // namespace

TEST(GoogleSignIn, AuthorizationURLKeepsOriginReplacesPathAndQuery)
{
    const auto url =
        GoogleSignInService::authorizationURL(QUrl(QStringLiteral("https://proj.supabase.co:8443/some/path?x=1")));
    ASSERT_TRUE(url);
    EXPECT_EQ(url->toString(QUrl::FullyEncoded),
              QStringLiteral("https://proj.supabase.co:8443/auth/v1/authorize?provider=google&redirect_to=sorvane://auth-google"));
    EXPECT_FALSE(GoogleSignInService::authorizationURL(QUrl()));
    EXPECT_FALSE(GoogleSignInService::authorizationURL(QUrl(QStringLiteral("relative/only"))));
}

TEST(GoogleSignIn, AccessTokenFromTheCallbackFragment)
{
    auto token = [](const char *url) { return GoogleSignInService::accessToken(QUrl(QString::fromUtf8(url))); };
    EXPECT_EQ(token("sorvane://auth-google#access_token=abc&refresh_token=r"), QStringLiteral("abc"));
    EXPECT_EQ(token("sorvane://auth-google#type=x&&access_token=tok%2B%2F%3D"), QStringLiteral("tok+/="));
    EXPECT_EQ(token("sorvane://auth-google#access_token=a=b"), QStringLiteral("a=b"));
    // A pair that does not decode (not UTF-8) is skipped; the next usable one counts.
    EXPECT_EQ(token("sorvane://auth-google#access_token=%FF%FE&access_token=good"), QStringLiteral("good"));
    EXPECT_FALSE(token("sorvane://auth-google#access_token="));
    EXPECT_FALSE(token("sorvane://auth-google?access_token=abc"));
    EXPECT_FALSE(token("sorvane://auth-google#expires_in=3600"));
    EXPECT_FALSE(token("sorvane://auth-google"));
}

TEST(GoogleSignIn, AuthorizeRunsASharedCookieSessionAndMapsOutcomes)
{
    const QUrl project(QStringLiteral("https://proj.supabase.co"));
    {
        auto session = std::make_unique<ScriptedSession>(QUrl(QStringLiteral("sorvane://auth-google#access_token=T1")));
        auto *raw = session.get();
        GoogleSignInService service(std::move(session));
        EXPECT_EQ(opstest::run(service.authorize(project)), QStringLiteral("T1"));
        ASSERT_EQ(raw->runs.size(), 1u);
        EXPECT_EQ(raw->runs[0].scheme, QStringLiteral("sorvane"));
        EXPECT_FALSE(raw->runs[0].ephemeral);
        EXPECT_EQ(raw->runs[0].url.path(), QStringLiteral("/auth/v1/authorize"));
    }
    using K = GoogleSignInService::SignInError::Kind;
    auto outcome = [&](ScriptedSession::Outcome o, QUrl url = QUrl(QStringLiteral("https://proj.supabase.co"))) {
        GoogleSignInService service(std::make_unique<ScriptedSession>(std::move(o)));
        return opstest::kindThrown<GoogleSignInService::SignInError>([&] { opstest::run(service.authorize(url)); });
    };
    EXPECT_EQ(outcome(WebAuthSession::Failure(WebAuthSession::Failure::Kind::cancelled)), K::cancelled);
    EXPECT_EQ(outcome(QUrl(QStringLiteral("sorvane://auth-google?code=1"))), K::noSession);
    EXPECT_EQ(outcome(QUrl(QStringLiteral("sorvane://auth-google#access_token=")), QUrl()), K::unavailable);
    // Other failures of the session pass through unchanged.
    GoogleSignInService failing(
        std::make_unique<ScriptedSession>(WebAuthSession::Failure(WebAuthSession::Failure::Kind::couldNotStart)));
    EXPECT_EQ(opstest::kindThrown<WebAuthSession::Failure>([&] { opstest::run(failing.authorize(project)); }),
              WebAuthSession::Failure::Kind::couldNotStart);
}

TEST(InstagramConnection, CallbackRecognitionAndStatus)
{
    const QUrl connected(QStringLiteral("sorvane://instagram-connected?status=connected"));
    EXPECT_TRUE(InstagramConnectionService::recognizes(connected));
    EXPECT_EQ(InstagramConnectionService::status(connected), QStringLiteral("connected"));
    EXPECT_TRUE(InstagramConnectionService::recognizes(QUrl(QStringLiteral("SORVANE://instagram-connected"))));
    EXPECT_FALSE(InstagramConnectionService::recognizes(QUrl(QStringLiteral("sorvane://auth-google?status=connected"))));
    EXPECT_FALSE(InstagramConnectionService::recognizes(QUrl(QStringLiteral("https://instagram-connected/"))));
    EXPECT_FALSE(InstagramConnectionService::recognizes(QUrl(QStringLiteral("instagram-connected"))));

    auto status = [](const char *url) { return InstagramConnectionService::status(QUrl(QString::fromUtf8(url))); };
    EXPECT_EQ(status("sorvane://instagram-connected?x=1&status=denied&status=connected"), QStringLiteral("denied"));
    EXPECT_EQ(status("sorvane://instagram-connected?status=token%20expired"), QStringLiteral("token expired"));
    EXPECT_EQ(status("sorvane://instagram-connected?status="), QString(""));
    EXPECT_FALSE(status("sorvane://instagram-connected?status"));
    EXPECT_FALSE(status("sorvane://instagram-connected?statuses=connected"));
    EXPECT_FALSE(status("sorvane://instagram-connected"));
}

TEST(InstagramConnection, AuthorizeChecksTheStartAndTheCallback)
{
    using K = InstagramConnectionService::ConnectionError::Kind;
    auto provider = [](QString url) {
        return [url]() -> QCoro::Task<QUrl> { co_return QUrl(url); };
    };
    {
        auto session = std::make_unique<ScriptedSession>(QUrl(QStringLiteral("sorvane://instagram-connected?status=connected")));
        auto *raw = session.get();
        InstagramConnectionService service(std::move(session), provider(QStringLiteral("HTTPS://service.test/ig/start")));
        EXPECT_EQ(InstagramConnectionService::status(opstest::run(service.authorize(true))), QStringLiteral("connected"));
        ASSERT_EQ(raw->runs.size(), 1u);
        EXPECT_TRUE(raw->runs[0].ephemeral);
        EXPECT_EQ(raw->runs[0].url, QUrl(QStringLiteral("HTTPS://service.test/ig/start")));
    }
    {
        // A plain-http page is refused before any window opens.
        auto session = std::make_unique<ScriptedSession>(QUrl(QStringLiteral("sorvane://instagram-connected")));
        auto *raw = session.get();
        InstagramConnectionService service(std::move(session), provider(QStringLiteral("http://service.test/ig")));
        EXPECT_EQ(opstest::kindThrown<InstagramConnectionService::ConnectionError>([&] { opstest::run(service.authorize(false)); }),
                  K::invalidAuthorizationURL);
        EXPECT_TRUE(raw->runs.empty());
    }
    auto outcome = [&](ScriptedSession::Outcome o) {
        InstagramConnectionService service(std::make_unique<ScriptedSession>(std::move(o)),
                                           provider(QStringLiteral("https://service.test/ig")));
        return opstest::kindThrown<InstagramConnectionService::ConnectionError>([&] { opstest::run(service.authorize(false)); });
    };
    EXPECT_EQ(outcome(WebAuthSession::Failure(WebAuthSession::Failure::Kind::cancelled)), K::cancelled);
    EXPECT_EQ(outcome(QUrl(QStringLiteral("sorvane://auth-google#access_token=x"))), K::invalidCallback);
    EXPECT_THROW(outcome(std::runtime_error("browser crashed")), std::runtime_error);
}
