// The sign-in window on the real web engine, against the local stand-in: the
// page reaches the "sorvane:" callback by script or by an HTTP redirect.

#include "services/auth/GoogleSignInService.h"
#include "services/auth/WebAuthDialog.h"

#include "../ops/OpsTestSupport.h"
#include "StandinServer.h"
#include "WebApp.h"
#include "support/TestSupport.h"

#include "services/ZephylAPI.h"

#include <QNetworkInterface>
#include <QSslServer>
#include <QWebEnginePage>
#include <QFileInfo>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const QString kEmail = QStringLiteral("kitty@example.com");

struct Ended {
    std::optional<QUrl> url;
    std::optional<WebAuthSession::Failure::Kind> failure;
    bool done = false;
};

// Runs a sign-in until it ends, closing its window if it has not ended within
// `limit`, so a callback that is never seen fails the test instead of hanging it.
Ended runSession(WebAuthDialogSession &session, const QUrl &url, bool ephemeral,
                 const std::function<void(WebAuthDialog *)> &act = {})
{
    auto out = std::make_shared<Ended>();
    auto runner = [](WebAuthDialogSession &s, QUrl u, bool e, std::shared_ptr<Ended> o) -> QCoro::Task<> {
        try {
            o->url = co_await s.run(u, QStringLiteral("sorvane"), e);
        } catch (const WebAuthSession::Failure &f) {
            o->failure = f.kind();
        }
        o->done = true;
    };
    auto task = runner(session, url, ephemeral, out);
    if (act && session.dialog())
        act(session.dialog());
    if (!zktest::spinUntil([&] { return out->done; }, 30s)) {
        ADD_FAILURE() << "the sign-in did not end by itself";
        if (session.dialog())
            session.dialog()->close();
        zktest::spinUntil([&] { return out->done; }, 10s);
    }
    return *out;
}

// Clicks the first account link once the chooser has loaded.
void pickFirstAccount(WebAuthDialog *dialog)
{
    QObject::connect(dialog->view()->page(), &QWebEnginePage::loadFinished, dialog, [dialog](bool ok) {
        if (ok && dialog->view()->url().path() == QLatin1String("/auth/v1/authorize"))
            dialog->view()->page()->runJavaScript(QStringLiteral("document.querySelector('#accounts a').click()"));
    });
}

class WebAuthDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(server.start(), 0);
        server.addAccount(kEmail, QStringLiteral("meow-meow-meow"), QStringLiteral("Kitty"));
        // A page that leaves for the callback by script as soon as it loads, with no click.
        server.route("GET", QStringLiteral("/test/script-callback"), [](const Standin::Seen &) {
            return Standin::Answer(200,
                                   "<!doctype html><p>Signing you in</p><script>"
                                   "location.href = 'sorvane://auth-google#access_token=tok%2Bscript&expires_in=3600';"
                                   "</script>",
                                   "text/html");
        });
        // A page that loads a picture from the callback scheme before it leaves for the real callback.
        server.route("GET", QStringLiteral("/test/image-then-callback"), [](const Standin::Seen &) {
            return Standin::Answer(200,
                                   "<!doctype html><img src='sorvane://auth-google#access_token=picture' "
                                   "onerror=\"setTimeout(function () { location.href = "
                                   "'sorvane://auth-google#access_token=navigated'; }, 50)\">",
                                   "text/html");
        });
    }

    QUrl at(const QString &pathAndQuery) const { return QUrl(server.origin() + pathAndQuery); }

    Standin::Server server;
};

} // namespace

TEST_F(WebAuthDialogTest, CallbackByScriptOrByRedirectEndsTheSessionWithItsURL)
{
    {
        WebAuthDialogSession session({});
        const Ended ended = runSession(session, at(QStringLiteral("/test/script-callback")), true);
        ASSERT_TRUE(ended.url) << "failure " << int(ended.failure.value_or(WebAuthSession::Failure::Kind::couldNotStart));
        EXPECT_EQ(*ended.url, QUrl(QStringLiteral("sorvane://auth-google#access_token=tok%2Bscript&expires_in=3600")));
        EXPECT_EQ(GoogleSignInService::accessToken(*ended.url), QStringLiteral("tok+script"));
    }
    {
        // The provider's callback answers 302 to the callback URL.
        WebAuthDialogSession session({});
        const Ended ended = runSession(
            session, at(QStringLiteral("/auth/v1/callback?account=kitty%40example.com&redirect_to=sorvane%3A%2F%2Fauth-google")),
            false);
        ASSERT_TRUE(ended.url);
        EXPECT_EQ(ended.url->scheme(), QStringLiteral("sorvane"));
        EXPECT_EQ(ended.url->host(), QStringLiteral("auth-google"));
        const auto token = GoogleSignInService::accessToken(*ended.url);
        ASSERT_TRUE(token);
        EXPECT_TRUE(server.state().providerTokens.contains(*token));
    }
}

TEST_F(WebAuthDialogTest, OverHttpsOnlyTheTrustedStandinCertificateIsAccepted)
{
    Standin::Server secure;
    secure.addAccount(kEmail, QStringLiteral("meow-meow-meow"));
    ASSERT_NE(Standin::startSecure(secure), 0);
    const QUrl callback(Standin::secureOrigin(secure) +
                        QStringLiteral("/auth/v1/callback?account=kitty%40example.com&redirect_to=sorvane%3A%2F%2Fauth-google"));
    {
        // As the application installs it with the stand-in's certificate named.
        WebAuthDialogSession session({}, Standin::certificate());
        const Ended ended = runSession(session, callback, true);
        ASSERT_TRUE(ended.url);
        const auto token = GoogleSignInService::accessToken(*ended.url);
        ASSERT_TRUE(token);
        EXPECT_TRUE(secure.state().providerTokens.contains(*token));
    }
    {
        // Without it the engine refuses the page; the user can only close the window.
        WebAuthDialogSession session({});
        bool refused = false;
        const Ended ended = runSession(session, callback, true, [&refused](WebAuthDialog *dialog) {
            QObject::connect(dialog->view(), &QWebEngineView::loadFinished, dialog, [dialog, &refused](bool ok) {
                refused = !ok;
                dialog->close();
            });
        });
        EXPECT_TRUE(refused);
        EXPECT_FALSE(ended.url);
        EXPECT_EQ(secure.count(QStringLiteral("/auth/v1/callback")), 1) << "only the trusted run reached the page";
    }
    {
        // The same certificate served from an address that is not loopback
        // (this machine's own network address) is refused even when trusted:
        // its key is public, so anywhere else it proves nothing.
        QHostAddress outside;
        for (const QHostAddress &a : QNetworkInterface::allAddresses()) {
            if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback() && !a.isLinkLocal()) {
                outside = a;
                break;
            }
        }
        if (outside.isNull())
            GTEST_SKIP() << "this machine has no address besides loopback";
        QSslServer impostor;
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificate(Standin::certificate());
        tls.setPrivateKey(Standin::certificateKey());
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        impostor.setSslConfiguration(tls);
        int asked = 0;
        QObject::connect(&impostor, &QTcpServer::pendingConnectionAvailable, &impostor, [&] {
            while (QTcpSocket *client = impostor.nextPendingConnection()) {
                QObject::connect(client, &QTcpSocket::readyRead, client, [client, &asked] {
                    if (!client->readAll().contains("\r\n\r\n"))
                        return;
                    ++asked;
                    client->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 15\r\n"
                                  "Connection: close\r\n\r\n<title>x</title>");
                    client->disconnectFromHost();
                });
            }
        });
        ASSERT_TRUE(impostor.listen(outside, 0));
        QUrl elsewhere(QStringLiteral("https://host/auth/v1/callback"));
        elsewhere.setHost(outside.toString());
        elsewhere.setPort(impostor.serverPort());
        WebAuthDialogSession session({}, Standin::certificate());
        std::optional<bool> loaded;
        runSession(session, elsewhere, true, [&loaded](WebAuthDialog *dialog) {
            QObject::connect(dialog->view(), &QWebEngineView::loadFinished, dialog, [dialog, &loaded](bool ok) {
                loaded = ok;
                dialog->close();
            });
        });
        EXPECT_EQ(loaded, false);
        EXPECT_EQ(asked, 0) << "the page was asked for over a connection the engine should have refused";
    }
}

TEST_F(WebAuthDialogTest, OnlyANavigationOfThePageEndsTheSession)
{
    // A resource the page loads from the callback scheme is not where the page went.
    WebAuthDialogSession session({});
    const Ended ended = runSession(session, at(QStringLiteral("/test/image-then-callback")), true);
    ASSERT_TRUE(ended.url);
    EXPECT_EQ(GoogleSignInService::accessToken(*ended.url), QStringLiteral("navigated"));
}

TEST_F(WebAuthDialogTest, GoogleSignInThroughTheWindowGivesATokenTheServiceExchanges)
{
    auto owned = std::make_unique<WebAuthDialogSession>(WebAuthSession::AnchorProvider{});
    WebAuthDialogSession *session = owned.get();
    GoogleSignInService google(std::move(owned));
    std::optional<QString> token;
    auto signIn = [](GoogleSignInService &g, QUrl project, std::optional<QString> &out) -> QCoro::Task<> {
        out = co_await g.authorize(project);
    };
    auto task = signIn(google, QUrl(server.origin() + QStringLiteral("/some/path?x=1")), token);
    ASSERT_TRUE(session->dialog());
    pickFirstAccount(session->dialog());
    ASSERT_TRUE(zktest::spinUntil([&] { return token.has_value(); }, 30s));

    auto keychain = KeychainStore::inMemory();
    ZephylAPI::Setup setup;
    setup.baseURL = QUrl(server.origin());
    setup.keychain = keychain.get();
    ZephylAPI api(setup);
    const auto signedIn = opstest::run(api.adoptSupabaseSession(*token));
    EXPECT_EQ(signedIn.user.email, kEmail);
}

TEST_F(WebAuthDialogTest, ClosingTheWindowEndsAsCancelled)
{
    for (const bool ephemeral : {true, false}) {
        WebAuthDialogSession session({});
        const Ended ended = runSession(session, at(QStringLiteral("/auth/v1/authorize?provider=google&redirect_to=sorvane://auth-google")),
                                       ephemeral, [ephemeral](WebAuthDialog *dialog) {
                                           // An ephemeral sign-in keeps nothing: an off-the-record profile.
                                           EXPECT_EQ(dialog->view()->page()->profile()->isOffTheRecord(), ephemeral);
                                           if (!ephemeral) {
                                               const QFileInfo storage(dialog->view()->page()->profile()->persistentStoragePath());
                                               EXPECT_TRUE(storage.isDir());
                                               EXPECT_EQ(storage.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther | QFile::ExeGroup | QFile::ExeOther), QFile::Permissions())
                                                   << "the kept sign-in profile is the owner's alone";
                                           }
                                           // The user closes the window once the chooser shows, instead of signing in.
                                           QObject::connect(dialog->view(), &QWebEngineView::loadFinished, dialog,
                                                            [dialog] { dialog->close(); });
                                       });
        EXPECT_FALSE(ended.url);
        EXPECT_EQ(ended.failure, WebAuthSession::Failure::Kind::cancelled);
    }
}
