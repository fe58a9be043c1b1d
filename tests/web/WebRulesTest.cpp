#include <gtest/gtest.h>

#include "base/Bundle.h"
#include "services/ServiceOrigin.h"
#include "services/ZephylAPI.h"
#include "web/SessionCookieKeep.h"
#include "web/WebRules.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QCoro/QCoroTask>

using namespace WebRules;

namespace {
const QUrl kBase(QStringLiteral("https://www.sorvane.app"));

NavigationVerdict nav(const QString &url, bool mainFrame = true, bool userStarted = false)
{
    return decideNavigation(kBase, NavigationAction{QUrl(url), mainFrame, userStarted});
}

QNetworkCookie cookie(const QByteArray &name, const QString &domain, std::optional<QDateTime> expiry = std::nullopt)
{
    QNetworkCookie c(name, "v");
    c.setDomain(domain);
    if (expiry)
        c.setExpirationDate(*expiry);
    return c;
}
} // namespace

TEST(WebRules, OriginRuleAcceptsTheBaseHostWithAndWithoutWww)
{
    EXPECT_TRUE(isZephyl(kBase, QStringLiteral("www.sorvane.app")));
    EXPECT_TRUE(isZephyl(kBase, QStringLiteral("sorvane.app")));
    EXPECT_FALSE(isZephyl(kBase, QStringLiteral("api.sorvane.app")));
    EXPECT_FALSE(isZephyl(kBase, QStringLiteral("WWW.sorvane.app")));
    EXPECT_FALSE(isZephyl(kBase, QStringLiteral("www.sorvane.app.evil.example")));
    EXPECT_FALSE(isZephyl(kBase, QString()));
    // A bare base host also accepts its "www." form.
    const QUrl bare(QStringLiteral("https://sorvane.app"));
    EXPECT_TRUE(isZephyl(bare, QStringLiteral("www.sorvane.app")));
    EXPECT_FALSE(isZephyl(QUrl(QStringLiteral("file:///x")), QStringLiteral("sorvane.app")));
}

TEST(WebRules, SessionCookieChoosesTheEntryPage)
{
    const QString host = QStringLiteral("www.sorvane.app");
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1'750'000'000, Qt::UTC);
    const QString workspace = QStringLiteral("/instagram");
    const QString signIn = QStringLiteral("/signin?return_to=%2Finstagram");

    EXPECT_EQ(entryPath({}, host, now), signIn);
    EXPECT_EQ(entryPath({cookie(sessionCookieName, host)}, host, now), workspace) << "no expiry: a live session";
    EXPECT_EQ(entryPath({cookie(sessionCookieName, host, now.addSecs(-1))}, host, now), signIn) << "expired";
    EXPECT_EQ(entryPath({cookie(sessionCookieName, host, now)}, host, now), signIn) << "expiring right now";
    EXPECT_EQ(entryPath({cookie(sessionCookieName, host, now.addSecs(60))}, host, now), workspace);
    EXPECT_EQ(entryPath({cookie("other", host)}, host, now), signIn) << "another name";
    EXPECT_EQ(entryPath({cookie(sessionCookieName, QStringLiteral("example.com"))}, host, now), signIn);
    EXPECT_EQ(entryPath({cookie(sessionCookieName, QStringLiteral(".www.sorvane.app"))}, host, now), workspace)
        << "a leading dot counts";
    EXPECT_EQ(entryPath({cookie(sessionCookieName, QStringLiteral("evilwww.sorvane.app"))}, host, now), signIn)
        << "a look-alike domain does not";
    // The first live cookie wins whatever comes before it.
    EXPECT_EQ(entryPath({cookie("x", host), cookie(sessionCookieName, host, now.addSecs(-5)),
                         cookie(sessionCookieName, host)},
                        host, now),
              workspace);
}

TEST(WebRules, TheSessionCookieIsKeptAsTheStoreReportsItAndGoesWithIt)
{
    const QString host = QStringLiteral("www.sorvane.app");
    auto owned = std::make_unique<MemorySecretBackend>();
    MemorySecretBackend &place = *owned;
    SessionCookieKeep keep(std::move(owned), host);
    const auto kept = [&] { return QCoro::waitFor(keep.load()).value_or(QNetworkCookie("none")); };
    QNetworkCookie session = cookie(sessionCookieName, host);
    session.setHttpOnly(true);
    keep.added(cookie("other", host));
    keep.added(cookie(sessionCookieName, QStringLiteral("example.com")));
    EXPECT_TRUE(place.items.isEmpty()) << "only the host's session cookie is kept";

    keep.removed(session); // an overwrite: the old one goes, the new one comes
    keep.added(session);
    // The page dropping any other cookie, of the host or not, leaves the session.
    keep.removed(cookie("other", host));
    keep.removed(cookie(sessionCookieName, QStringLiteral("example.com")));
    EXPECT_TRUE(kept().isHttpOnly() && kept().value() == "v");
    EXPECT_TRUE(kept().domain().isEmpty()) << "a host-only cookie goes back from the host's origin";
    place.refuseWrites = -1;
    session.setValue("newer");
    keep.added(session);
    EXPECT_EQ(kept().name(), "none") << "an older session never outlives a newer one that was not kept";
    place.refuseWrites = 0;
    keep.added(session);
    keep.removed(session);
    EXPECT_EQ(kept().name(), "none") << "the page's sign-out drops it";

    session.setExpirationDate(QDateTime::currentDateTimeUtc().addSecs(-60));
    place.items.insert(QStringLiteral("app.sorvane.creator.web/session-cookie"), session.toRawForm());
    EXPECT_EQ(kept().name(), "none") << "an expired session is not given back";
}

TEST(WebRules, NavigationPolicyInOrder)
{
    using V = NavigationVerdict;
    EXPECT_EQ(nav(QString()), V::allow);
    EXPECT_EQ(nav(QStringLiteral("about:blank")), V::allow);
    EXPECT_EQ(nav(QStringLiteral("blob:https://www.sorvane.app/1")), V::allow);
    EXPECT_EQ(nav(QStringLiteral("data:text/plain,hi")), V::allow);
    EXPECT_EQ(nav(QStringLiteral("sorvane://demo/x"), true, true), V::cancel);
    EXPECT_EQ(nav(QStringLiteral("SORVANE://demo/x"), true, true), V::cancel);

    // Other schemes reach the desktop only from a click in the main page.
    EXPECT_EQ(nav(QStringLiteral("mailto:hi@example.com"), true, true), V::openExternally);
    EXPECT_EQ(nav(QStringLiteral("mailto:hi@example.com"), true, false), V::cancel);
    EXPECT_EQ(nav(QStringLiteral("mailto:hi@example.com"), false, true), V::cancel);
    EXPECT_EQ(nav(QStringLiteral("file:///etc/passwd"), true, true), V::cancel);
    EXPECT_EQ(nav(QStringLiteral("smb://server/share"), true, true), V::cancel);

    // Frames load freely.
    EXPECT_EQ(nav(QStringLiteral("https://elsewhere.example/embed"), false, true), V::allow);

    EXPECT_EQ(nav(QStringLiteral("https://www.sorvane.app")), V::openEntry);
    EXPECT_EQ(nav(QStringLiteral("https://sorvane.app/")), V::openEntry);
    EXPECT_EQ(nav(QStringLiteral("https://www.sorvane.app/terms")), V::openExternally);
    EXPECT_EQ(nav(QStringLiteral("https://www.sorvane.app/terms/cookies")), V::openExternally);
    EXPECT_EQ(nav(QStringLiteral("https://www.sorvane.app/termsandmore")), V::allow);
    EXPECT_EQ(nav(QStringLiteral("https://www.sorvane.app/growth")), V::openExternally);
    EXPECT_EQ(nav(QStringLiteral("https://www.sorvane.app/instagram")), V::allow);

    EXPECT_EQ(nav(QStringLiteral("https://elsewhere.example/"), true, true), V::openExternally);
    EXPECT_EQ(nav(QStringLiteral("https://elsewhere.example/"), true, false), V::allow) << "a redirect stays";
}

TEST(WebRules, PopupsOnlyForTheConnectPaths)
{
    using P = PopupVerdict;
    EXPECT_EQ(decidePopup(kBase, QUrl(QStringLiteral("https://www.sorvane.app/api/instagram/connect?fresh=1")), false),
              P::connectWindow);
    EXPECT_EQ(decidePopup(kBase, QUrl(QStringLiteral("https://sorvane.app/api/social/connect/x")), true), P::connectWindow);
    EXPECT_EQ(decidePopup(kBase, QUrl(QStringLiteral("https://www.sorvane.app/instagram")), true), P::openExternally);
    EXPECT_EQ(decidePopup(kBase, QUrl(QStringLiteral("https://evil.example/api/instagram/connect")), true),
              P::openExternally);
    EXPECT_EQ(decidePopup(kBase, QUrl(), true), P::none);
    EXPECT_EQ(decidePopup(kBase, QUrl(QStringLiteral("file:///home")), true), P::none);
    EXPECT_EQ(decidePopup(kBase, QUrl(QStringLiteral("mailto:a@b.c")), false), P::none);
    EXPECT_EQ(decidePopup(kBase, QUrl(QStringLiteral("mailto:a@b.c")), true), P::openExternally);
    EXPECT_EQ(decidePopup(kBase, QUrl(QStringLiteral("smb://server/share")), true), P::none);

    // What may leave for the desktop at all, pop-ups' own pages included.
    EXPECT_TRUE(mayHandOverScheme(QStringLiteral("mailto")));
    EXPECT_TRUE(mayHandOverScheme(QStringLiteral("TEL")));
    for (const char *local : {"file", "FILE", "smb", "sftp", "nfs", "qrc", "javascript", "view-source", "sorvane",
                              "about", "data", "blob", "http", "https", ""})
        EXPECT_FALSE(mayHandOverScheme(QString::fromLatin1(local))) << local;
}

TEST(WebRules, CommitsPermissionsAndFailures)
{
    EXPECT_EQ(commitEffect(kBase, QUrl(QStringLiteral("https://www.sorvane.app/signin?return_to=%2Finstagram"))),
              CommitEffect::signIn);
    EXPECT_EQ(commitEffect(kBase, QUrl(QStringLiteral("https://www.sorvane.app/instagram"))), CommitEffect::workspace);
    EXPECT_EQ(commitEffect(kBase, QUrl(QStringLiteral("https://www.sorvane.app/instagram/plan"))), CommitEffect::nothing);
    EXPECT_EQ(commitEffect(kBase, QUrl(QStringLiteral("https://evil.example/instagram"))), CommitEffect::nothing);

    EXPECT_TRUE(grantsMediaCapture(kBase, QStringLiteral("www.sorvane.app"), true, false));
    EXPECT_FALSE(grantsMediaCapture(kBase, QStringLiteral("www.sorvane.app"), true, true));
    EXPECT_FALSE(grantsMediaCapture(kBase, QStringLiteral("www.sorvane.app"), false, true));
    EXPECT_FALSE(grantsMediaCapture(kBase, QStringLiteral("evil.example"), true, false));

    EXPECT_TRUE(isIgnoredLoadFailure(-3));
    EXPECT_FALSE(isIgnoredLoadFailure(-105));

    EXPECT_EQ(engineMajor(QStringLiteral("102.0.5005.177")), 102);
    EXPECT_EQ(engineMajor(QStringLiteral("1000")), 1000);
    EXPECT_EQ(engineMajor(QString()), std::nullopt);
    EXPECT_EQ(engineMajor(QStringLiteral("v102")), std::nullopt);

    // The engine's switches: the user's own kept, one list of features to enable.
    const std::pair<const char *, const char *> switches[] = {
        {"", "--enable-features=UseSnappyForParkableStrings --no-unsandboxed-zygote"},
        {"  --disable-gpu ", "--disable-gpu --enable-features=UseSnappyForParkableStrings --no-unsandboxed-zygote"},
        {"--enable-features=A,B --x", "--enable-features=A,B,UseSnappyForParkableStrings --x --no-unsandboxed-zygote"},
        {"--enable-features=A --enable-features=B",
         "--enable-features=A --enable-features=B,UseSnappyForParkableStrings --no-unsandboxed-zygote"},
        {"--enable-features=", "--enable-features=UseSnappyForParkableStrings --no-unsandboxed-zygote"},
        {"--disable-features=Foo,UseSnappyForParkableStrings",
         "--disable-features=Foo,UseSnappyForParkableStrings --no-unsandboxed-zygote"},
        {"--enable-features=UseSnappyForParkableStrings",
         "--enable-features=UseSnappyForParkableStrings --no-unsandboxed-zygote"},
        {"--enable-features=UseSnappyForParkableStringsToo",
         "--enable-features=UseSnappyForParkableStringsToo,UseSnappyForParkableStrings --no-unsandboxed-zygote"},
        // The idle second zygote is left out once, whoever asked first.
        {"--no-unsandboxed-zygote --x", "--no-unsandboxed-zygote --x --enable-features=UseSnappyForParkableStrings"},
    };
    for (const auto &[given, want] : switches)
        EXPECT_EQ(engineSwitches(given), QByteArray(want)) << given;
}

// The page and the client take the configured address by one rule, so they
// can never end on different origins (the page once took "//host", which the
// client refused, and each went its own way).
TEST(WebRules, TheConfiguredBaseAddressIsTakenAlikeByThePageAndTheClient)
{
    const QUrl builtIn(QStringLiteral("https://www.sorvane.app"));
    const std::pair<const char *, const char *> cases[] = {
        {"https://api.example.com", "https://api.example.com"},
        {"HTTPS://api.example.com/base/", "https://api.example.com/base/"},
        {"http://127.0.0.1:8080", "http://127.0.0.1:8080"},
        {"http://localhost:9", "http://localhost:9"},
        {"http://[::1]:8080", "http://[::1]:8080"},
        // No scheme, a scheme of another kind, or tokens in the clear across a network.
        {"//api.example.com", nullptr},
        {"api.example.com", nullptr},
        {"http://api.example.com", nullptr},
        {"ftp://api.example.com", nullptr},
        {"https://", nullptr},
        {"file:///etc/hosts", nullptr},
        {"", nullptr},
    };
    const QString root = zktest::tempDir() + QStringLiteral("/bundle");
    QDir().mkpath(root);
    for (const auto &[configured, expected] : cases) {
        QFile info(root + QStringLiteral("/info.json"));
        ASSERT_TRUE(info.open(QIODevice::WriteOnly | QIODevice::Truncate));
        info.write(QJsonDocument(QJsonObject{{"SORVANE_API_BASE_URL", configured}}).toJson());
        info.close();
        const Bundle bundle(root);
        Bundle::setShared(&bundle);
        const QUrl want = expected ? QUrl(QString::fromUtf8(expected)) : builtIn;
        EXPECT_EQ(ZephylAPI::defaultBaseURL(), want) << configured;
        EXPECT_EQ(resolveBaseURL(std::nullopt), want) << configured;
        EXPECT_EQ(ServiceOrigin::usable(QString::fromUtf8(configured)).has_value(), expected != nullptr) << configured;
        // An address given by the caller is used as it is.
        EXPECT_EQ(resolveBaseURL(QUrl(QStringLiteral("http://10.0.0.2:1"))), QUrl(QStringLiteral("http://10.0.0.2:1")));
        Bundle::setShared(nullptr);
    }
}
