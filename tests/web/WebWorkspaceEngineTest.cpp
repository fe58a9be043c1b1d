// The web workspace on the real engine against the stand-in web app. One
// executable, so the engine starts once; each case has a profile of its own.

#include <gtest/gtest.h>

#include "WebApp.h"
#include "base/Clock.h"
#include "design/L10n.h"
#include "design/PasteGuard.h"
#include "design/QtWords.h"
#include "services/KeychainStore.h"
#include "services/ChatModels.h"
#include "services/WebTransportError.h"
#include "services/ZephylAPI.h"
#include "web/ProfileCookies.h"
#include "web/WebPopup.h"
#include "web/WebWorkspace.h"
#include "support/FakeFileChooserPortal.h"
#include "support/TestSupport.h"
#include "support/SelectionOwner.h"
#include "support/TextPixels.h"
#include "support/WebEngineSupport.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QApplication>
#include <QSslError>
#include <QTest>
#include <QTimer>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QWheelEvent>
#include <QWidget>

#include <algorithm>
#include <csignal>

using namespace std::chrono_literals;
using Phase = WebWorkspaceModel::Phase;

namespace {

using zktest::evaluate;

// The command lines of the zygotes the engine started from this process.
QByteArrayList engineZygotes()
{
    QByteArrayList zygotes;
    const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid)), cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!stat.open(QIODevice::ReadOnly) || !cmdline.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold spaces.
        const QByteArray text = stat.readAll();
        const QByteArray line = cmdline.readAll().replace('\0', ' ');
        if (text.mid(text.lastIndexOf(')') + 2).split(' ').value(1) == self && line.contains("--type=zygote"))
            zygotes << line;
    }
    return zygotes;
}

// Runs a task to its end and keeps its value or what it threw (QCoro's waitFor
// never returns from a task that throws).
template <typename T>
struct Settled {
    std::optional<T> value;
    std::exception_ptr error;
    bool done = false;
};

template <typename T>
QCoro::Task<> capture(QCoro::Task<T> task, std::shared_ptr<Settled<T>> out)
{
    try {
        out->value = co_await std::move(task);
    } catch (...) {
        out->error = std::current_exception();
    }
    out->done = true;
}

template <typename T>
T settle(QCoro::Task<T> task)
{
    auto out = std::make_shared<Settled<T>>();
    capture(std::move(task), out);
    if (!zktest::spinUntil([&] { return out->done; }, 30s))
        throw std::runtime_error("the task did not finish");
    if (out->error)
        std::rethrow_exception(out->error);
    return std::move(*out->value);
}

// A client of the service over the stand-in's https, trusting its certificate.
class TrustingNetwork : public QNetworkAccessManager {
protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request, QIODevice *data) override
    {
        QNetworkReply *reply = QNetworkAccessManager::createRequest(op, request, data);
        const QSslCertificate trusted = Standin::certificate();
        reply->ignoreSslErrors({QSslError(QSslError::SelfSignedCertificate, trusted),
                                QSslError(QSslError::HostNameMismatch, trusted)});
        connect(reply, &QNetworkReply::sslErrors, reply, [reply, trusted](const QList<QSslError> &errors) {
            for (const QSslError &e : errors) {
                if (e.certificate() != trusted)
                    return;
            }
            reply->ignoreSslErrors();
        });
        return reply;
    }
};

class WebEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(Standin::startSecure(server), 0);
        server.setProviderURL(Standin::secureOrigin(server));
        server.addAccount(QStringLiteral("kitty@example.com"), QStringLiteral("meow-meow-meow"), QStringLiteral("Kitty Cat"));
        web = makeWorkspace(QUrl(Standin::secureOrigin(server)));
    }
    void TearDown() override
    {
        web.reset();
        Clock::setShared(nullptr);
        clock.reset();
        L10n::setPreference(AppLanguage::system);
    }

    // Design timers in virtual time, for a workspace made anew on it.
    void useFakeClock()
    {
        clock = std::make_unique<FakeClock>();
        Clock::setShared(clock.get());
        web = makeWorkspace(QUrl(Standin::secureOrigin(server)));
    }

    std::unique_ptr<WebWorkspace> makeWorkspace(const QUrl &origin)
    {
        static int n = 0;
        WebWorkspace::Options options;
        options.storageName = QStringLiteral("web-test-%1").arg(++n);
        options.trustedCertificate = Standin::certificate();
        auto made = std::make_unique<WebWorkspace>(origin, options);
        made->openExternally = [this](const QUrl &url) { handedOver << url; };
        made->webView()->resize(1000, 800);
        made->webView()->show();
        return made;
    }

    bool waitForPhase(Phase::Kind kind, std::chrono::milliseconds limit = 20s)
    {
        return zktest::spinUntil([&] { return web->phase().kind == kind; }, limit);
    }

    // The engine shows the address of a page it starts loading at a moment of
    // its own choosing: it is given a while to do so.
    void waitForAddressOf(const QString &path)
    {
        zktest::spinUntil([&] { return web->page()->url().path() == path; }, 3s);
    }

    // The stand-in's page script has run in the page now shown, its first
    // messages included (they leave before the script ends).
    bool waitForPageScript(const QString &kind)
    {
        return zktest::spinUntil([&] {
            return evaluate(web->page(), QStringLiteral("!!(window.standin && window.standin.kind === '%1')").arg(kind))
                .toBool();
        });
    }

    void signIn()
    {
        web->start();
        ASSERT_TRUE(waitForPhase(Phase::Kind::signIn));
        ASSERT_TRUE(zktest::spinUntil([&] {
            return evaluate(web->page(), QStringLiteral("!!(window.standin && window.standin.kind === 'signin')")).toBool();
        }));
        evaluate(web->page(), QStringLiteral(
            "var f = document.getElementById('signin'); f.email.value = 'kitty@example.com';"
            "f.password.value = 'meow-meow-meow'; f.requestSubmit(); true"));
        ASSERT_TRUE(waitForPhase(Phase::Kind::workspace));
        ASSERT_TRUE(zktest::spinUntil([&] { return web->account().has_value(); }));
    }

    // The page's session cookie as kept beside the profile; empty when none is.
    QString keptSessionPath() const
    {
        return web->profile()->persistentStoragePath() + QStringLiteral("/Session cookie.json");
    }
    QByteArray keptSession() const
    {
        return QCoro::waitFor(FileSecretBackend(keptSessionPath())
                                  .read(QStringLiteral("app.sorvane.creator.web"), QStringLiteral("session-cookie")))
            .data;
    }
    // Records every account the page reports from here on.
    void recordAccounts()
    {
        web->onAccountChange = [this](const std::optional<WebWorkspaceModel::Account> &a) { reported << a; };
    }

    Standin::Server server;
    QList<std::optional<WebWorkspaceModel::Account>> reported;
    std::unique_ptr<FakeClock> clock;
    std::unique_ptr<WebWorkspace> web;
    QList<QUrl> handedOver;
};

} // namespace

TEST_F(WebEngineTest, BootScriptRunsFirstAndMessagesMovePhaseAndReportTheAccount)
{
    recordAccounts();
    signIn();
    EXPECT_EQ(evaluate(web->page(), QStringLiteral("document.documentElement.dataset.bridgeAtStart")).toString(),
              QStringLiteral("object:object"))
        << "the bridge and its configuration exist before the page's first script";
    EXPECT_TRUE(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").contains("UseSnappyForParkableStrings"))
        << "the engine started with the application's switches";
    // One zygote, the sandboxed one the renderer comes from; the engine's idle
    // unsandboxed second one is not started.
    const QByteArrayList zygotes = engineZygotes();
    ASSERT_EQ(zygotes.size(), 1);
    EXPECT_FALSE(zygotes.first().contains("--no-zygote-sandbox")) << zygotes.first().constData();
    EXPECT_EQ(web->account()->email, QStringLiteral("kitty@example.com"));
    EXPECT_EQ(web->account()->displayName, QStringLiteral("Kitty Cat"));
    ASSERT_EQ(reported.size(), 1);
    EXPECT_TRUE(zktest::spinUntil([&] { return web->screen() == QStringLiteral("overview"); }));
    EXPECT_TRUE(web->workspaceReady());

    // The page switches screens when asked, and reports it.
    web->show(Surface::plan);
    EXPECT_TRUE(zktest::spinUntil([&] { return web->screen() == QStringLiteral("planner"); }));
    EXPECT_EQ(web->page()->url().path(), QStringLiteral("/instagram")) << "moving inside the page commits nothing";
    EXPECT_EQ(web->phase(), Phase::workspace());

    // A crashed page process reopens the entry page, which the cookie makes the workspace.
    const qint64 renderer = web->page()->renderProcessPid();
    ASSERT_GT(renderer, 0);
    QList<Phase> phases;
    QObject::connect(web.get(), &WebWorkspaceModel::phaseChanged, [&] { phases << web->phase(); });
    ::kill(pid_t(renderer), SIGKILL);
    ASSERT_TRUE(zktest::spinUntil([&] { return phases.size() >= 2 && web->phase().kind == Phase::Kind::workspace; }));
    EXPECT_EQ(phases.first(), Phase::loading()) << "no failure page on the way";
    EXPECT_EQ(web->page()->url().path(), QStringLiteral("/instagram"));
    EXPECT_EQ(reported.size(), 1) << "the same account after the reload";

    // A second start is harmless; the cookie now opens the workspace directly.
    web->start();
    web->openEntry();
    EXPECT_TRUE(waitForPhase(Phase::Kind::loading, 1s) || web->phase().kind == Phase::Kind::workspace);
    EXPECT_TRUE(zktest::spinUntil([&] { return web->page()->url().path() == QStringLiteral("/instagram") &&
                                               web->phase().kind == Phase::Kind::workspace; }));
}

// The session cookie is kept owner-only as soon as the page has it; only the
// page that reported the account signs it out, which drops the kept cookie.
TEST_F(WebEngineTest, OnlyThePageThatReportedTheAccountSignsItOutAndDropsItsKeptCookie)
{
    recordAccounts();
    signIn();
    ASSERT_TRUE(zktest::spinUntil([&] { return keptSession().startsWith("__Host-zephyl_session="); }))
        << keptSession().constData();
    EXPECT_EQ(QFile::permissions(keptSessionPath()) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
    // A page loading anew says nobody for a moment, before it has its account.
    server.addFault({Standin::Fault::Kind::hang, QStringLiteral("/api/v1/me"), 0, std::nullopt, 0, 1});
    evaluate(web->page(), QStringLiteral("window.leaving = true; location.reload(); true"));
    ASSERT_TRUE(zktest::spinUntil([&] {
        return evaluate(web->page(), QStringLiteral("!window.leaving && !!window.standin")).toBool();
    }));
    evaluate(web->page(), QStringLiteral("window.standin.post({type: 'session', signedIn: false, path: '/instagram'}); true"));
    ASSERT_TRUE(zktest::spinUntil([&] { return reported.size() == 2; }));
    EXPECT_FALSE(web->signedOutInPage());
    server.releaseHeld(QStringLiteral("/api/v1/me"));
    ASSERT_TRUE(zktest::spinUntil([&] { return reported.size() == 3 && web->account(); }));

    // Moving inside the page, then its own sign-out.
    evaluate(web->page(), QStringLiteral("location.hash = '#planner'; true"));
    evaluate(web->page(), QStringLiteral("document.getElementById('signout').click(); true"));
    ASSERT_TRUE(zktest::spinUntil([&] { return reported.size() == 4; }));
    EXPECT_FALSE(reported.last().has_value());
    EXPECT_TRUE(web->signedOutInPage());
    EXPECT_TRUE(zktest::spinUntil([&] { return keptSession().isEmpty(); })) << "the page's sign-out drops the kept session";
}

// The service refuses the application's calls while it still takes the page's
// session: sent back to its entry, the page comes straight back with the same
// account. Sent back again, it is signed out on this side and opens at its
// sign-in, where the application, signed out, and the page agree; the account
// signed in there again is told as new.
TEST_F(WebEngineTest, APageThatComesStraightBackWithTheRefusedAccountIsSignedOutHere)
{
    recordAccounts();
    signIn();
    ASSERT_TRUE(zktest::spinUntil([&] { return keptSession().startsWith("__Host-zephyl_session="); }));
    const QByteArray first = keptSession();

    web->returnToSignIn();
    ASSERT_TRUE(zktest::spinUntil([&] { return reported.size() == 2 && web->phase().kind == Phase::Kind::workspace; }))
        << "the page still holds its session";
    EXPECT_EQ(reported.last()->email, QStringLiteral("kitty@example.com"));

    web->returnToSignIn();
    EXPECT_EQ(web->account(), std::nullopt);
    ASSERT_TRUE(waitForPhase(Phase::Kind::signIn));
    ASSERT_TRUE(waitForPageScript(QStringLiteral("signin")));
    EXPECT_EQ(web->page()->url().path(), QStringLiteral("/signin"));
    EXPECT_EQ(reported.size(), 2) << "nobody, already told by the application's own sign-out, is not told again";
    EXPECT_TRUE(keptSession().isEmpty()) << "a restart does not take the session up again";
    evaluate(web->page(), QStringLiteral("fetch('/api/v1/me', {credentials: 'same-origin'})"
                                         ".then(r => window.meStatus = r.status); true"));
    ASSERT_TRUE(zktest::spinUntil(
        [&] { return evaluate(web->page(), QStringLiteral("window.meStatus || 0")).toInt() != 0; }));
    EXPECT_EQ(evaluate(web->page(), QStringLiteral("window.meStatus")).toInt(), 401) << "the page holds no session";
    // The sign-in page stays: nothing opens it again by itself.
    EXPECT_FALSE(zktest::spinUntil([&] { return web->phase().kind != Phase::Kind::signIn; }, 1s));

    evaluate(web->page(), QStringLiteral(
        "var f = document.getElementById('signin'); f.email.value = 'kitty@example.com';"
        "f.password.value = 'meow-meow-meow'; f.requestSubmit(); true"));
    ASSERT_TRUE(zktest::spinUntil([&] { return reported.size() == 3 && web->phase().kind == Phase::Kind::workspace; }));
    EXPECT_EQ(reported.last()->email, QStringLiteral("kitty@example.com"));
    ASSERT_TRUE(zktest::spinUntil([&] { return keptSession().startsWith("__Host-zephyl_session="); }));
    EXPECT_NE(keptSession(), first) << "a new session";
}

TEST_F(WebEngineTest, MessagesPostedJustBeforeThePageLeavesAllArriveInOrder)
{
    signIn();
    QStringList ids;
    web->onPublication = [&](const WebWorkspaceModel::PublicationEvent &e) { ids << e.id; };
    evaluate(web->page(), QStringLiteral(
        "for (var i = 0; i < 10; i++) window.standin.post({type: 'publication', id: 'p' + i, status: 'queued'});"
        "location.assign('/instagram'); true"));
    EXPECT_TRUE(zktest::spinUntil([&] { return ids.size() == 10; }, 5s)) << ids.size() << " arrived";
    QStringList expected;
    for (int i = 0; i < 10; ++i)
        expected << QStringLiteral("p%1").arg(i);
    EXPECT_EQ(ids, expected);
}

TEST_F(WebEngineTest, MessagesOfTheFramedForeignPageAreDropped)
{
    QStringList refused;
    QObject::connect(web.get(), &WebWorkspaceModel::messageRefused, [&](const QString &host) { refused << host; });
    signIn();
    ASSERT_TRUE(zktest::spinUntil([&] { return refused.size() >= 3; }))
        << "the foreign frame posts twice through the handler and once straight to the bridge";
    for (const QString &host : refused)
        EXPECT_EQ(host, QStringLiteral("localhost"));
    EXPECT_EQ(web->account()->email, QStringLiteral("kitty@example.com"));
    EXPECT_NE(web->screen(), QStringLiteral("intruded"));
    EXPECT_FALSE(web->composerOpen());
}

TEST_F(WebEngineTest, FetchThroughThePageCarriesTheCookieAndTheDirectRoadNone)
{
    auto keychain = KeychainStore::inMemory();
    TrustingNetwork network;
    ZephylAPI::Setup setup;
    setup.baseURL = QUrl(Standin::secureOrigin(server));
    setup.network = &network;
    setup.keychain = keychain.get();

    // Before any page of the service: nothing is sent.
    ZephylAPI viaPage(setup);
    viaPage.useWebSession(web.get());
    EXPECT_THROW(settle(viaPage.currentUser()), WebTransportError);

    signIn();
    server.clearSeen();
    const ZephylAPI::User user = settle(viaPage.currentUser());
    EXPECT_EQ(user.email, QStringLiteral("kitty@example.com"));
    ASSERT_EQ(server.seen(QStringLiteral("/api/v1/me")).size(), 1);
    const Standin::Seen page = server.seen(QStringLiteral("/api/v1/me")).last();
    EXPECT_TRUE(page.header("cookie").contains("__Host-zephyl_session=")) << page.header("cookie").constData();
    EXPECT_FALSE(page.has("authorization"));
    EXPECT_TRUE(page.body.isEmpty()) << "no body, not the text null";

    // A refused call comes back as the service's answer, not as a failure of the road.
    const auto missing = settle(web->perform(QStringLiteral("/api/v1/none"), QStringLiteral("POST"),
                                                  QByteArray("{\"a\":1}"), {{QStringLiteral("Content-Type"), QStringLiteral("application/json")}}));
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(server.seen(QStringLiteral("/api/v1/none")).last().body, QByteArray("{\"a\":1}"));

    // The service forgot the page's session: its refusal comes back as its
    // answer, which the ask panel puts into words, not as an unreachable road.
    server.forgetSessions();
    try {
        settle(viaPage.assistant(QStringLiteral("still there?"), {}, ZephylAPI::Persona::kitty(QStringLiteral("Miso"))));
        ADD_FAILURE() << "expected the service's refusal";
    } catch (const ZephylAPI::APIError &e) {
        EXPECT_EQ(e, ZephylAPI::APIError::unauthorized());
    }

    ZephylAPI direct(setup);
    settle(direct.signInWithEmail(QStringLiteral("kitty@example.com"), QStringLiteral("meow-meow-meow")));
    server.clearSeen();
    EXPECT_EQ(settle(direct.currentUser()).email, QStringLiteral("kitty@example.com"));
    const Standin::Seen straight = server.seen(QStringLiteral("/api/v1/me")).last();
    EXPECT_FALSE(straight.has("cookie"));
    EXPECT_TRUE(straight.header("authorization").startsWith("Bearer "));

    // Another host in the view: the road is closed.
    web->page()->setHtml(QStringLiteral("<p>elsewhere</p>"), QUrl(QStringLiteral("https://example.com/")));
    ASSERT_TRUE(zktest::spinUntil([&] { return web->page()->url().host() == QStringLiteral("example.com"); }));
    try {
        settle(web->perform(QStringLiteral("/api/v1/me"), QStringLiteral("GET"), std::nullopt, {}));
        ADD_FAILURE() << "expected notReady";
    } catch (const WebTransportError &e) {
        EXPECT_EQ(e.kind(), WebTransportError::Kind::notReady);
    }
}

TEST_F(WebEngineTest, ConnectPopupOpensCentredAndClosesWithItsPage)
{
    signIn();
    // The workspace's window as the application opens it on a 1280 x 800
    // screen, 124 points down: centred on it, the pop-up would run off the bottom.
    QWidget *workspace = web->webView()->window();
    const auto framed = [](const QWidget *w) { return w->frameGeometry() != w->geometry(); };
    workspace->setGeometry(50, 124, 1180, 636);
    ASSERT_TRUE(zktest::spinUntil([&] { return framed(workspace) && workspace->size() == QSize(1180, 636); }, 20s));
    const QRect area = workspace->screen()->availableGeometry();
    evaluate(web->page(), QStringLiteral("document.getElementById('connect').click(); true"));
    ASSERT_TRUE(zktest::spinUntil([&] { return web->popups().size() == 1; }));
    WebPopup *popup = web->popups().first();
    EXPECT_EQ(popup->window()->windowTitle(), QStringLiteral("Connect Instagram"));
    EXPECT_EQ(popup->window()->size(), QSize(640, 760));
    // The window manager frames the window in its own time, a busy machine later.
    const auto offCentre = [&] {
        return popup->window()->frameGeometry().center() - workspace->frameGeometry().center();
    };
    ASSERT_TRUE(zktest::spinUntil([&] { return framed(popup->window()); }, 20s))
        << "the window manager framed the pop-up";
    const auto inside = [&] { return area.contains(popup->window()->frameGeometry()); };
    zktest::spinUntil([&] { return inside() && std::abs(offCentre().x()) <= 2; }, 5s);
    const QRect frame = popup->window()->frameGeometry();
    EXPECT_TRUE(inside()) << "the framed pop-up runs to " << frame.bottom() << " in a work area " << area.height() << " high";
    EXPECT_LE(std::abs(offCentre().x()), 2) << "centred across the workspace's framed window";
    EXPECT_LE(std::abs(frame.bottom() - area.bottom()), 2) << "as near the middle as the work area lets it";
    EXPECT_EQ(popup->window()->size(), QSize(640, 760)) << "the frame goes around the page, not into it";
    ASSERT_TRUE(zktest::spinUntil([&] { return popup->webView()->page()->url().path() == QStringLiteral("/api/instagram/connect"); }));
    ASSERT_TRUE(zktest::spinUntil([&] {
        return evaluate(popup->webView()->page(), QStringLiteral("!!(window.standin && window.standin.kind === 'connect')")).toBool();
    }));
    evaluate(popup->webView()->page(), QStringLiteral("document.getElementById('allow').click(); true"));
    EXPECT_TRUE(zktest::spinUntil([&] { return web->popups().isEmpty(); })) << "the page's window.close() closes it";

    // Any other window the page opens goes to the browser, and no window opens.
    evaluate(web->page(), QStringLiteral("window.open('https://example.com/other'); true"));
    EXPECT_TRUE(zktest::spinUntil([&] { return !handedOver.isEmpty(); }));
    EXPECT_EQ(handedOver.value(0), QUrl(QStringLiteral("https://example.com/other")));
    EXPECT_TRUE(web->popups().isEmpty());
}

// On a desktop of two monitors that the toolkit sees as one screen, a pop-up
// over a window on the second monitor opens there, centred across the window.
TEST(WebPopupTwoScreens, OpensOnTheMonitorOfTheWindowItIsOver)
{
    if (!qEnvironmentVariableIsSet("ZK_TEST_TWO_SCREENS"))
        GTEST_SKIP() << "needs the two-monitor session";
    const auto framed = [](const QWidget *w) { return w->frameGeometry() != w->geometry(); };
    QWidget window;
    window.setGeometry(1280 + 150, 120, 700, 500);
    window.show();
    ASSERT_TRUE(zktest::spinUntil([&] { return framed(&window) && window.frameGeometry().left() > 1280; }, 20s));
    WebPopup popup(new QWebEnginePage, [] { return QStringLiteral("Connect Instagram"); }, {});
    popup.place(&window);
    const QRect second(1280, 0, 1024, 768);
    const auto frame = [&] { return popup.window()->frameGeometry(); };
    EXPECT_TRUE(zktest::spinUntil([&] {
        return framed(popup.window()) && second.contains(frame()) &&
               std::abs(frame().center().x() - window.frameGeometry().center().x()) <= 2;
    }, 20s)) << "the pop-up at " << frame().x() << "," << frame().y() << " " << frame().width() << "x"
             << frame().height();
}

TEST_F(WebEngineTest, LinksLeaveOnlyWhenTheUserFollowsThem)
{
    signIn();
    ASSERT_TRUE(zktest::spinUntil([&] { return web->workspaceReady(); }));
    // A script following a mail link hands nothing to the desktop. The legal
    // page it opens next does go out, behind the mail links from the same frame.
    evaluate(web->page(), QStringLiteral("document.getElementById('mail-link').click(); true"));
    evaluate(web->page(), QStringLiteral("location.href = 'mailto:x@example.com'; true"));
    evaluate(web->page(), QStringLiteral("document.getElementById('terms-link').click(); true"));
    ASSERT_TRUE(zktest::spinUntil([&] { return !handedOver.isEmpty(); }));
    ASSERT_EQ(handedOver.size(), 1);
    EXPECT_EQ(handedOver.first().path(), QStringLiteral("/terms"));
    handedOver.clear();

    // The user's own click does.
    const QVariantList box = evaluate(web->page(), QStringLiteral(
        "var r = document.getElementById('mail-link').getBoundingClientRect(); [r.left + r.width / 2, r.top + r.height / 2]")).toList();
    ASSERT_EQ(box.size(), 2);
    QWidget *target = web->webView()->focusProxy();
    ASSERT_TRUE(target);
    const QPoint at(int(box[0].toDouble()), int(box[1].toDouble()));
    QTest::mouseMove(target, at);
    QTest::mouseClick(target, Qt::LeftButton, {}, at);
    ASSERT_TRUE(zktest::spinUntil([&] { return !handedOver.isEmpty(); }));
    EXPECT_EQ(handedOver.first().scheme(), QStringLiteral("mailto"));

    // The service's legal pages open in the browser; the window stays.
    handedOver.clear();
    evaluate(web->page(), QStringLiteral("document.getElementById('terms-link').click(); true"));
    ASSERT_TRUE(zktest::spinUntil([&] { return !handedOver.isEmpty(); }));
    EXPECT_EQ(handedOver.first().path(), QStringLiteral("/terms"));
    EXPECT_EQ(web->page()->url().path(), QStringLiteral("/instagram"));
    EXPECT_EQ(web->phase(), Phase::workspace());
}

TEST_F(WebEngineTest, AnHttpStatusIsAPageAndABrokenAnswerAFailure)
{
    signIn();
    QList<Phase> phases;
    QObject::connect(web.get(), &WebWorkspaceModel::phaseChanged, [&] { phases << web->phase(); });

    // The service answers the workspace with an error status: its page shows.
    server.addFault({Standin::Fault::Kind::serverError, QStringLiteral("/instagram"), 500, std::nullopt, 0, 1});
    server.clearSeen();
    bool loaded = false;
    const auto watch = QObject::connect(web->page(), &QWebEnginePage::loadFinished, [&](bool) { loaded = true; });
    web->openEntry();
    EXPECT_TRUE(waitForPhase(Phase::Kind::workspace, 10s));
    // The page reports its session before it has finished loading; the next
    // load starts after this one, as a user's would.
    EXPECT_TRUE(zktest::spinUntil([&] { return loaded; }));
    QObject::disconnect(watch);
    EXPECT_EQ(server.count(QStringLiteral("/instagram")), 1);
    for (const Phase &p : phases)
        EXPECT_NE(p.kind, Phase::Kind::failed) << p.message.toStdString();

    // An answer broken off half-way is a failed load, shown with the failure
    // page and worded for a person in the application's language, not as the
    // engine's error code. (Broken off in its body, the engine may show the
    // first half as the page, before it learns of the break.)
    L10n::setPreference(AppLanguage::de);
    // Every answer breaks: the engine asks again by itself when a kept-alive
    // connection fails early.
    server.addFault({Standin::Fault::Kind::cutHead, QStringLiteral("/instagram"), 500, std::nullopt, 0, -1});
    phases.clear();
    QStringList loads;
    QElapsedTimer since;
    since.start();
    QObject::connect(web->page(), &QWebEnginePage::loadingChanged, [&](const QWebEngineLoadingInfo &info) {
        loads << QStringLiteral("%1ms %2 %3/%4 %5").arg(since.elapsed()).arg(int(info.status())).arg(int(info.errorDomain()))
                     .arg(info.errorCode()).arg(info.url().toString());
    });
    web->openEntry();
    ASSERT_TRUE(waitForPhase(Phase::Kind::failed)) << [&] {
        std::string seen;
        for (const Phase &p : phases)
            seen += std::to_string(int(p.kind)) + " " + p.message.toStdString() + "; ";
        return seen + "asked " + std::to_string(server.count(QStringLiteral("/instagram"))) + " loads " +
               loads.join(QStringLiteral("; ")).toStdString();
    }();
    EXPECT_EQ(web->phase().message, QStringLiteral("Die Seite von sorvane.app konnte nicht geladen werden."));
    L10n::setPreference(AppLanguage::en);

    // The failure page's retry opens the workspace again.
    server.clearFaults();
    web->retry();
    EXPECT_TRUE(waitForPhase(Phase::Kind::workspace));
}

TEST_F(WebEngineTest, AServicePageThatNeverAnswersFailsAtTheLimit)
{
    useFakeClock();
    server.addFault({Standin::Fault::Kind::hang, QStringLiteral("/signin"), 0, std::nullopt, 0, 1});
    web->start();
    ASSERT_TRUE(zktest::spinUntil([&] { return server.count(QStringLiteral("/signin")) == 1; }));
    waitForAddressOf(QStringLiteral("/signin"));
    EXPECT_EQ(web->phase(), Phase::loading());

    clock->advance(59s);
    EXPECT_EQ(web->phase(), Phase::loading());
    clock->advance(1s);
    EXPECT_EQ(web->phase(), Phase::failed(QStringLiteral("sorvane.app took too long to answer.")));
    EXPECT_TRUE(zktest::spinUntil([&] { return !web->page()->isLoading(); })) << "the silent load is stopped";

    // Try again: the page answers this time, and no limit cuts it off later.
    web->retry();
    ASSERT_TRUE(waitForPhase(Phase::Kind::signIn));
    // The page's first message can come before the engine reports the load
    // committed; time moves on only after the load has ended.
    ASSERT_TRUE(zktest::spinUntil([&] { return !web->page()->isLoading(); }));
    clock->advance(2min);
    EXPECT_EQ(web->phase(), Phase::signIn());
}

TEST_F(WebEngineTest, PhaseAndFetchesWaitForTheNewDocumentNotTheLoadStart)
{
    // A sign-in page that answers only when released: the phase stays until its
    // first bytes arrive.
    server.addFault({Standin::Fault::Kind::hang, QStringLiteral("/signin"), 0, std::nullopt, 0, 1});
    web->start();
    ASSERT_TRUE(zktest::spinUntil([&] { return server.count(QStringLiteral("/signin")) == 1; }));
    waitForAddressOf(QStringLiteral("/signin"));
    EXPECT_EQ(web->phase(), Phase::loading());
    server.releaseHeld(QStringLiteral("/signin"));
    ASSERT_TRUE(waitForPhase(Phase::Kind::signIn));
    ASSERT_TRUE(waitForPageScript(QStringLiteral("signin"))) << "and its messages are all in";

    // A page three seconds late: the phase moves no sooner.
    QElapsedTimer asked;
    server.addAdapter([&](Standin::Seen &seen) {
        if (seen.path == QStringLiteral("/signin"))
            asked.start();
    });
    server.addFault({Standin::Fault::Kind::slow, QStringLiteral("/signin"), 0, std::nullopt, 3000, 1});
    web->openEntry();
    ASSERT_TRUE(waitForPhase(Phase::Kind::signIn));
    ASSERT_TRUE(asked.isValid());
    EXPECT_GE(asked.elapsed(), 2800) << "the answer itself took 3 s";
    ASSERT_TRUE(waitForPageScript(QStringLiteral("signin")));

    // Signed in, a fetch of the page is under way when the entry page is asked
    // for again: the old document lives until the new one arrives, so its
    // fetch still gets its answer.
    evaluate(web->page(), QStringLiteral(
        "var f = document.getElementById('signin'); f.email.value = 'kitty@example.com';"
        "f.password.value = 'meow-meow-meow'; f.requestSubmit(); true"));
    ASSERT_TRUE(waitForPhase(Phase::Kind::workspace));
    ASSERT_TRUE(zktest::spinUntil([&] { return web->account() && web->screen() == QStringLiteral("overview"); }))
        << "the page's own first fetch is done";
    server.addFault({Standin::Fault::Kind::hang, QStringLiteral("/api/v1/me"), 0, std::nullopt, 0, 1});
    server.addFault({Standin::Fault::Kind::hang, QStringLiteral("/instagram"), 0, std::nullopt, 0, 1});
    const int asks = server.count(QStringLiteral("/api/v1/me"));
    auto fetched = std::make_shared<Settled<WebTransport::Response>>();
    capture(web->perform(QStringLiteral("/api/v1/me"), QStringLiteral("GET"), std::nullopt, {}), fetched);
    ASSERT_TRUE(zktest::spinUntil([&] { return server.count(QStringLiteral("/api/v1/me")) == asks + 1; }));
    web->openEntry();
    ASSERT_TRUE(zktest::spinUntil([&] {
        return server.count(QStringLiteral("/instagram")) >= 2 && web->page()->isLoading();
    }));
    server.releaseHeld(QStringLiteral("/api/v1/me"));
    ASSERT_TRUE(zktest::spinUntil([&] { return fetched->done; }));
    ASSERT_FALSE(fetched->error) << "failed before the page moved on";
    EXPECT_EQ(fetched->value->status, 200);
    EXPECT_EQ(web->phase(), Phase::loading());
    server.releaseHeld(QStringLiteral("/instagram"));
    EXPECT_TRUE(waitForPhase(Phase::Kind::workspace));
}

TEST_F(WebEngineTest, CtrlWheelNeverMagnifiesThePage)
{
    web->start();
    ASSERT_TRUE(waitForPhase(Phase::Kind::signIn));
    ASSERT_TRUE(zktest::spinUntil([&] { return evaluate(web->page(), QStringLiteral("!!window.standin")).toBool(); }));
    // A turn that reaches the page before it can scroll starts a scroll the
    // engine keeps for every turn that follows closely: wait until the tall page
    // has been drawn on screen.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(web->webView()));
    evaluate(web->page(), QStringLiteral(
        "document.body.style.height = '5000px';"
        "requestAnimationFrame(() => requestAnimationFrame(() => {"
        "  window.zkTall = document.scrollingElement.scrollHeight > window.innerHeight; })); true"));
    ASSERT_TRUE(zktest::spinUntil([&] { return evaluate(web->page(), QStringLiteral("window.zkTall === true")).toBool(); }))
        << "the tall page was never drawn";
    QWidget *target = web->webView()->focusProxy();
    ASSERT_TRUE(target);
    const QPoint at(500, 400);
    QTest::mouseMove(target, at);
    auto wheel = [&](int delta, Qt::KeyboardModifiers modifiers) {
        QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
    };
    for (int i = 0; i < 3; ++i)
        wheel(120, Qt::ControlModifier);
    // A plain turn after them scrolls: the page has taken every event before it.
    wheel(-120, Qt::NoModifier);
    ASSERT_TRUE(zktest::spinUntil([&] { return evaluate(web->page(), QStringLiteral("window.scrollY")).toDouble() > 0; }))
        << "a plain turn never scrolled";
    EXPECT_EQ(web->page()->zoomFactor(), 1.0);
    EXPECT_EQ(evaluate(web->page(), QStringLiteral("window.devicePixelRatio")).toDouble(), 1.0);
}

// A paste in the page (Ctrl+V, Shift+Insert, a middle click) reaches it once
// the clipboard's owner has answered with words: an owner that never answers
// holds nothing up (the engine itself asks it format after format on the main
// thread, five seconds each) and nothing comes in; text comes in as before.
TEST_F(WebEngineTest, APasteWaitsForAnOwnerThatAnswersAndNeverHoldsTheApplicationUp)
{
    signIn();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(web->webView()));
    ASSERT_TRUE(evaluate(web->page(), QStringLiteral(
        "var c = document.getElementById('chat'); c.value = ''; window.zkPastes = 0;"
        "c.addEventListener('paste', () => ++window.zkPastes); c.focus(); document.activeElement === c")).toBool());
    QWidget *target = web->webView()->focusProxy();
    ASSERT_TRUE(target);
    web->webView()->setFocus();
    ASSERT_NE(PasteGuard::instance(), nullptr);
    QSignalSpy settled(PasteGuard::instance(), &PasteGuard::settled);
    const auto chat = [&] { return evaluate(web->page(), QStringLiteral("document.getElementById('chat').value")).toString(); };
    {
        zktest::SelectionOwner silent("CLIPBOARD", {{"UTF8_STRING", QByteArrayLiteral("never")}},
                                      zktest::SelectionOwner::Answers::never);
        ASSERT_TRUE(silent.owns());
        QTest::keyClick(target, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(target, Qt::Key_Insert, Qt::ShiftModifier);
        // The page answers three times over while the owner is asked.
        int answers = 0;
        EXPECT_TRUE(zktest::spinUntil([&] { return evaluate(web->page(), QStringLiteral("true")).toBool() && ++answers == 3; }, 10s))
            << "the application was held up";
        ASSERT_TRUE(zktest::spinUntil([&] { return settled.size() == 2; }));
        EXPECT_EQ(chat(), QString());
        EXPECT_EQ(evaluate(web->page(), QStringLiteral("window.zkPastes")).toInt(), 0);
    }
    zktest::SelectionOwner owner("CLIPBOARD", {{"UTF8_STRING", QByteArrayLiteral("Cat caf\xc3\xa9 \xe2\x98\x95")}});
    zktest::SelectionOwner primary("PRIMARY", {{"UTF8_STRING", QByteArrayLiteral(" #cats")}});
    QTest::keyClick(target, Qt::Key_V, Qt::ControlModifier);
    EXPECT_TRUE(zktest::spinUntil([&] { return chat() == QStringLiteral("Cat café ☕"); })) << chat().toStdString();
    // A middle click at the end of the words puts the primary selection there.
    const QVariantList at = evaluate(web->page(), QStringLiteral(
        "var r = document.getElementById('chat').getBoundingClientRect(); [r.right - 4, r.top + r.height / 2]")).toList();
    ASSERT_EQ(at.size(), 2);
    QTest::mouseClick(target, Qt::MiddleButton, {}, QPoint(at[0].toInt(), at[1].toInt()));
    EXPECT_TRUE(zktest::spinUntil([&] { return chat() == QStringLiteral("Cat café ☕ #cats"); })) << chat().toStdString();
}

// A file field of the page, pressed from the keyboard, opens the chooser over
// the window: in Arabic its buttons show their words whole, and it opens no
// smaller than its contents ask.
TEST_F(WebEngineTest, APageFieldsFileChooserShowsItsButtonsWordsWholeInArabic)
{
    const zktest::NoDesktopChooser qtsChooser;
    ASSERT_TRUE(qtsChooser.held());
    const Qt::LayoutDirection was = QApplication::layoutDirection();
    L10n::setPreference(AppLanguage::ar);
    QtWords::follow(); // as the application does
    QApplication::setLayoutDirection(Qt::RightToLeft);
    web->start();
    ASSERT_TRUE(waitForPhase(Phase::Kind::signIn));
    ASSERT_TRUE(waitForPageScript(QStringLiteral("signin")));
    ASSERT_TRUE(evaluate(web->page(), QStringLiteral("var f = document.createElement('input'); f.type = 'file';"
                                                     "document.body.prepend(f); f.focus(); document.activeElement === f"))
                    .toBool());
    // The chooser runs a loop of its own: it is looked at by a timer that runs in it.
    QStringList words, cut;
    bool seen = false, fitting = false;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (seen || !dialog || !dialog->isVisible())
            return;
        seen = true;
        fitting = dialog->width() >= dialog->sizeHint().width() && dialog->height() >= dialog->sizeHint().height();
        cut = zktest::cutButtonWords(dialog, words);
        dialog->reject();
    });
    look.start(50);
    web->webView()->setFocus();
    QTest::keyClick(web->webView()->focusProxy(), Qt::Key_Space);
    EXPECT_TRUE(zktest::spinUntil([&] { return seen && !QApplication::activeModalWidget(); }, 20s)) << "no chooser";
    EXPECT_EQ(words.size(), 2) << words.join(u' ').toStdString();
    EXPECT_TRUE(cut.isEmpty()) << cut.join(u'\n').toStdString();
    EXPECT_TRUE(fitting);
    L10n::setPreference(AppLanguage::system);
    QtWords::follow();
    QApplication::setLayoutDirection(was);
}

// Where the desktop runs a portal with a chooser, a page's file field asks it
// over the window, and the files it answers with become the field's.
TEST_F(WebEngineTest, APageFieldsChooserIsTheDesktopsWhereAPortalRuns)
{
    zktest::FakeFileChooserPortal portal;
    ASSERT_TRUE(portal.begin());
    const QString file = QDir(zktest::tempDir()).filePath(QStringLiteral("cat one.png"));
    QFile picture(file);
    ASSERT_TRUE(picture.open(QIODevice::WriteOnly));
    picture.write("not much of a picture");
    picture.close();
    portal.answerAtOnce({0, {QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded)}});
    web->start();
    ASSERT_TRUE(waitForPhase(Phase::Kind::signIn));
    ASSERT_TRUE(waitForPageScript(QStringLiteral("signin")));
    ASSERT_TRUE(evaluate(web->page(), QStringLiteral("var f = document.createElement('input'); f.type = 'file';"
                                                     "f.multiple = true; document.body.prepend(f); f.focus();"
                                                     "document.activeElement === f"))
                    .toBool());
    // A chooser of Qt's opened instead is closed, leaving the field empty.
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget()))
            dialog->reject();
    });
    look.start(50);
    web->webView()->setFocus();
    QTest::keyClick(web->webView()->focusProxy(), Qt::Key_Space);
    EXPECT_TRUE(zktest::spinUntil([&] {
        return evaluate(web->page(), QStringLiteral("f.files.length === 1 && f.files[0].name === 'cat one.png'"))
            .toBool();
    }, 20s)) << "the portal's file is not the field's";
    ASSERT_EQ(portal.asked().size(), 1);
    const auto asked = portal.asked().at(0);
    EXPECT_EQ(asked.parentWindow, QStringLiteral("x11:") + QString::number(web->webView()->window()->winId(), 16));
    EXPECT_EQ(asked.title, QStringLiteral("Open"));
    EXPECT_EQ(asked.options.value(QStringLiteral("multiple")), QVariant(true));
    EXPECT_TRUE(asked.filters.isEmpty());
}

// The background, where no timer of the watcher runs, is the model's test: this
// display cannot take the application out of the front.
TEST_F(WebEngineTest, AHiddenPageRestsAndComesBackForACallAndItsWindow)
{
    signIn();
    ASSERT_TRUE(zktest::spinUntil([&] { return web->workspaceReady(); }));
    ASSERT_TRUE(zktest::spinUntil([&] { return web->screen() == QStringLiteral("overview"); }));
    // The user goes to a screen of the page's own, which its address does not name.
    evaluate(web->page(), QStringLiteral("document.querySelector('[data-navfor=\"studio\"]').click(); true"));
    ASSERT_TRUE(zktest::spinUntil([&] { return web->screen() == QStringLiteral("studio"); }));
    web->setRestDelay(200ms);
    int givenBack = 0;
    web->giveBackMemory = [&] { ++givenBack; };
    // It is frozen, never discarded: it keeps its renderer and document, so
    // that nothing has to start again when it is needed.
    const qint64 renderer = web->page()->renderProcessPid();
    ASSERT_GT(renderer, 0);
    web->webView()->hide();
    ASSERT_TRUE(zktest::spinUntil([&] { return web->resting(); }, 20s)) << "a hidden page rests";
    EXPECT_EQ(web->page()->lifecycleState(), QWebEnginePage::LifecycleState::Frozen);
    EXPECT_EQ(web->page()->renderProcessPid(), renderer);
    EXPECT_TRUE(zktest::spinUntil([&] { return givenBack == 1; })) << "resting hands the spare heap back, once";

    // What the page is told while it rests waits for it: the latest of each
    // kind, however long a focus round's countdown ticks meanwhile.
    web->show(Surface::grid);
    web->show(Surface::plan);
    for (int second = 59; second >= 20; --second)
        web->updateFocus(true, false, QStringLiteral("24:%1").arg(second), 25);
    EXPECT_TRUE(web->resting()) << "telling the page something does not wake it";
    EXPECT_FALSE(web->say(QStringLiteral("Meow."), 3)) << "no line goes into a resting page";

    // A call of the service client brings the page back and is answered by
    // it, in the document it kept: nothing loads again, no renderer starts.
    // It then stays awake for the usual while, long enough to be looked at
    // however slowly this machine runs the checks below.
    web->setRestDelay(60s);
    server.clearSeen();
    const auto me = settle(web->perform(QStringLiteral("/api/v1/me"), QStringLiteral("GET"), std::nullopt, {}));
    EXPECT_EQ(server.count(QStringLiteral("/instagram")), 0) << "the page's document loaded again";
    EXPECT_EQ(web->page()->renderProcessPid(), renderer);
    EXPECT_EQ(me.status, 200);
    EXPECT_TRUE(me.body.contains("kitty@example.com")) << me.body.constData();
    ASSERT_FALSE(server.seen(QStringLiteral("/api/v1/me")).isEmpty());
    EXPECT_TRUE(server.seen(QStringLiteral("/api/v1/me")).last().header("cookie").contains("__Host-zephyl_session="));
    EXPECT_EQ(web->phase(), Phase::workspace());
    EXPECT_TRUE(zktest::spinUntil([&] { return web->screen() == QStringLiteral("planner"); }))
        << "the screen asked for while it rested; now " << web->screen().toStdString();
    EXPECT_TRUE(zktest::spinUntil([&] {
        return evaluate(web->page(), QStringLiteral("window.__zephylMac.state().focus.display")).toString() ==
               QStringLiteral("24:20");
    })) << "the countdown's latest second";
    EXPECT_FALSE(web->resting());
    web->setRestDelay(200ms);
    EXPECT_TRUE(zktest::spinUntil([&] { return web->resting(); }, 20s)) << "once answered, the hidden page rests again";
    EXPECT_EQ(web->page()->lifecycleState(), QWebEnginePage::LifecycleState::Frozen);
    EXPECT_TRUE(zktest::spinUntil([&] { return givenBack == 2; })) << "and hands back again what the call took";

    // Its window shows again: the page is back, usable, on the screen last asked for.
    web->webView()->show();
    ASSERT_TRUE(zktest::spinUntil([&] { return !web->resting() && web->workspaceReady(); }, 30s));
    EXPECT_TRUE(zktest::spinUntil([&] { return web->screen() == QStringLiteral("planner"); }))
        << "the page comes back on the screen it left; now " << web->screen().toStdString();
    EXPECT_EQ(web->page()->url().path(), QStringLiteral("/instagram"));
    // The page's messages and the cat in the window work as before.
    web->show(Surface::assistant);
    EXPECT_TRUE(zktest::spinUntil([&] { return web->screen() == QStringLiteral("assistant"); }));
    // (Every look drawable, as the window's cat layer answers for the figure.)
    web->stage().canDraw = [](InWindowCatStage::Look) { return true; };
    web->peek(InWindowCatStage::Look::happy, 5);
    EXPECT_TRUE(zktest::spinUntil([&] { return web->catInside(); })) << "the in-window cat steps in";
    EXPECT_TRUE(web->say(QStringLiteral("Meow."), 3));
    const auto again = settle(web->perform(QStringLiteral("/api/v1/me"), QStringLiteral("GET"), std::nullopt, {}));
    EXPECT_EQ(again.status, 200);
    // Shown, it never rests.
    QTest::qWait(600);
    EXPECT_FALSE(web->resting());

    // Hidden while a publication it reported is under way, it stays awake to
    // see the outcome, and rests once that is told.
    const auto post = [&](const QString &status) {
        evaluate(web->page(), QStringLiteral("window.webkit.messageHandlers.zephyl.postMessage({type: 'publication', "
                                             "id: 'pub-rest', status: '%1'}); true").arg(status));
    };
    post(QStringLiteral("processing"));
    web->webView()->hide();
    QTest::qWait(1500);
    EXPECT_FALSE(web->resting()) << "a page watching a publication rests";
    post(QStringLiteral("published"));
    EXPECT_TRUE(zktest::spinUntil([&] { return web->resting(); }, 20s));
}

TEST_F(WebEngineTest, TheAttentionWatcherLeavesThePageAloneAtRest)
{
    useFakeClock();
    signIn();
    ASSERT_TRUE(waitForPageScript(QStringLiteral("workspace")));
    ASSERT_TRUE(zktest::spinUntil([] { return QGuiApplication::applicationState() == Qt::ApplicationActive; }, 10s));
    ASSERT_TRUE(zktest::spinUntil(
        [&] { return evaluate(web->page(), QStringLiteral("window.__zephylMac.state().calm")) == QVariant(false); }, 10s));
    EXPECT_TRUE(web->attentionArmed()) << "it waits for the moment the user could be away";
    evaluate(web->page(), QStringLiteral("window.zkCalm = 0; addEventListener('zephylmac:calm', () => zkCalm++); true"));
    // Three minutes of a user reading: the watcher has not touched the page.
    for (int minute = 0; minute < 3; ++minute) {
        clock->advance(60s);
        QTest::qWait(100);
    }
    EXPECT_EQ(evaluate(web->page(), QStringLiteral("zkCalm")).toInt(), 0);
    EXPECT_EQ(evaluate(web->page(), QStringLiteral("window.__zephylMac.state().calm")), QVariant(false));
    EXPECT_TRUE(web->attentionArmed());
}

TEST_F(WebEngineTest, AnUnreachableServiceIsWordedAsNoConnection)
{
    // A port nobody listens on: the connection is refused.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    web = makeWorkspace(QUrl(QStringLiteral("https://127.0.0.1:%1").arg(port)));
    web->start();
    ASSERT_TRUE(waitForPhase(Phase::Kind::failed));
    EXPECT_EQ(web->phase().message, QStringLiteral("No connection to sorvane.app right now."));
}

TEST(ProfileCookiesTest, ReadsNamesHostsAndExpiryOfTheEnginesCookieFile)
{
    const QString folder = zktest::tempDir() + QStringLiteral("/profile-cookies");
    ASSERT_TRUE(QDir().mkpath(folder));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writer"));
        db.setDatabaseName(folder + QStringLiteral("/Cookies"));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral("CREATE TABLE cookies(host_key TEXT, name TEXT, value TEXT, path TEXT, "
                                          "expires_utc INTEGER, has_expires INTEGER)")));
        // Microseconds since 1601: 2030-01-01T00:00:00Z, and no expiry at all.
        ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO cookies VALUES ('www.sorvane.app', '__Host-zephyl_session', "
                                          "'secret', '/', 13537929600000000, 1)")));
        ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO cookies VALUES ('.sorvane.app', 'pref', 'x', '/a', 0, 0)")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("writer"));

    const QList<QNetworkCookie> cookies = ProfileCookies::read(folder);
    ASSERT_EQ(cookies.size(), 2);
    EXPECT_EQ(cookies[0].name(), QByteArray("__Host-zephyl_session"));
    EXPECT_EQ(cookies[0].domain(), QStringLiteral("www.sorvane.app"));
    EXPECT_EQ(cookies[0].path(), QStringLiteral("/"));
    EXPECT_TRUE(cookies[0].value().isEmpty()) << "values are never read";
    EXPECT_EQ(cookies[0].expirationDate(), QDateTime(QDate(2030, 1, 1), QTime(0, 0), Qt::UTC));
    EXPECT_TRUE(cookies[1].isSessionCookie());
    EXPECT_EQ(cookies[1].domain(), QStringLiteral(".sorvane.app"));

    EXPECT_TRUE(ProfileCookies::read(zktest::tempDir() + QStringLiteral("/no-such-profile")).isEmpty());
}

TEST_F(WebEngineTest, APopupClosedJustBeforeTheWorkspaceGoesBeforeItsProfile)
{
    signIn();
    evaluate(web->page(), QStringLiteral("document.getElementById('connect').click(); true"));
    ASSERT_TRUE(zktest::spinUntil([&] { return web->popups().size() == 1; }));
    QStringList gone;
    QObject::connect(web->popups().first()->webView()->page(), &QObject::destroyed, [&] { gone << QStringLiteral("page"); });
    QObject::connect(static_cast<QObject *>(web->profile()), &QObject::destroyed, [&] { gone << QStringLiteral("profile"); });
    web->popups().first()->close(); // the user closes it...
    EXPECT_TRUE(web->popups().isEmpty());
    web.reset(); // ...and quits before the event loop runs again
    EXPECT_EQ(gone, (QStringList{QStringLiteral("page"), QStringLiteral("profile")}));
}

TEST_F(WebEngineTest, KeepingTypedTextCompletesWhateverBecomesOfThePage)
{
    int done = 0;
    web->preserveUnsentText([&] { ++done; });
    EXPECT_TRUE(zktest::spinUntil([&] { return done == 1; })) << "no page yet";

    signIn();
    web->preserveUnsentText([&] { ++done; });
    EXPECT_TRUE(zktest::spinUntil([&] { return done == 2; })) << "the page ran it";

    // The page's process dies with the script under way: the caller, which may
    // be waiting to restart the application, still hears back, once.
    ::kill(pid_t(web->page()->renderProcessPid()), SIGKILL);
    web->preserveUnsentText([&] { ++done; });
    EXPECT_TRUE(zktest::spinUntil([&] { return done == 3; }));
    ASSERT_TRUE(waitForPhase(Phase::Kind::workspace));
    // The new page answers a later request; by then the dead one has not answered twice.
    int later = 0;
    web->preserveUnsentText([&] { ++later; });
    EXPECT_TRUE(zktest::spinUntil([&] { return later == 1; }));
    EXPECT_EQ(done, 3);
}

// ---- A restart: two processes, one profile folder.
//
// The parent serves the stand-in; each child is this executable running one of
// the disabled cases below, as the application would run on two days.

namespace {

const char *const kRestartRole = "ZK_WEB_RESTART_ROLE";
const char *const kRestartOrigin = "ZK_WEB_RESTART_ORIGIN";
const char *const kRestartProfile = "ZK_WEB_RESTART_PROFILE";

std::unique_ptr<WebWorkspace> restartWorkspace()
{
    WebWorkspace::Options options;
    options.storageName = qEnvironmentVariable(kRestartProfile);
    options.trustedCertificate = Standin::certificate();
    auto web = std::make_unique<WebWorkspace>(QUrl(qEnvironmentVariable(kRestartOrigin)), options);
    web->webView()->resize(1000, 800);
    web->webView()->show();
    return web;
}

// The first address the workspace loads: the entry page it chose.
QUrl firstLoad(WebWorkspace &web)
{
    QUrl first;
    QObject::connect(web.page(), &QWebEnginePage::loadingChanged, &web, [&](const QWebEngineLoadingInfo &info) {
        if (first.isEmpty() && info.status() == QWebEngineLoadingInfo::LoadStartedStatus)
            first = info.url();
    });
    web.start();
    zktest::spinUntil([&] { return !first.isEmpty(); }, 60s);
    return first;
}

int runRestartChild(const QString &role, QString *output)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kRestartRole), role);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_also_run_disabled_tests"),
                 QStringLiteral("--gtest_filter=WebEngineRestart.DISABLED_") + role});
    // The parent's event loop keeps serving the stand-in while the child runs.
    zktest::spinUntil([&] { return child.state() == QProcess::NotRunning; }, 90s);
    if (child.state() != QProcess::NotRunning) {
        child.kill();
        child.waitForFinished();
    }
    *output = QString::fromUtf8(child.readAll());
    return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
}

} // namespace

TEST(WebEngineRestart, DISABLED_SignIn)
{
    ASSERT_EQ(qEnvironmentVariable(kRestartRole), QStringLiteral("SignIn"));
    auto web = restartWorkspace();
    EXPECT_EQ(firstLoad(*web).path(), QStringLiteral("/signin"));
    ASSERT_TRUE(zktest::spinUntil([&] {
        return evaluate(web->page(), QStringLiteral("!!(window.standin && window.standin.kind === 'signin')")).toBool();
    }, 60s));
    evaluate(web->page(), QStringLiteral(
        "var f = document.getElementById('signin'); f.email.value = 'kitty@example.com';"
        "f.password.value = 'meow-meow-meow'; f.requestSubmit(); true"));
    ASSERT_TRUE(zktest::spinUntil([&] { return web->account().has_value(); }, 60s));
    // A cookie without an expiry date, as a service may set its session.
    evaluate(web->page(), QStringLiteral("document.cookie = 'probe=1; path=/; secure'; true"));
    // Quit as the application does: the workspace goes, then the process ends.
    web.reset();
    // The process may end right here: the engine's file holds the session already.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
                           QStringLiteral("/QtWebEngine/") + qEnvironmentVariable(kRestartProfile);
    const QList<QNetworkCookie> onDisk = ProfileCookies::read(folder);
    EXPECT_TRUE(std::any_of(onDisk.cbegin(), onDisk.cend(), [](const QNetworkCookie &cookie) {
        return cookie.name() == "__Host-zephyl_session";
    })) << "the session cookie is on disk when the workspace is gone";
}

TEST(WebEngineRestart, DISABLED_Return)
{
    ASSERT_EQ(qEnvironmentVariable(kRestartRole), QStringLiteral("Return"));
    auto web = restartWorkspace();
    EXPECT_EQ(firstLoad(*web).path(), QStringLiteral("/instagram")) << "the entry choice finds the session cookie";
    ASSERT_TRUE(zktest::spinUntil([&] { return web->account().has_value(); }, 60s)) << "signed in without a form";
    EXPECT_EQ(web->phase(), Phase::workspace());
    EXPECT_TRUE(evaluate(web->page(), QStringLiteral("document.cookie")).toString().contains(QStringLiteral("probe=1")))
        << "a cookie without an expiry date outlives the run too";
    web.reset();
}

TEST(WebEngineRestart, SessionCookieOutlivesTheProcess)
{
    Standin::Server server;
    ASSERT_NE(Standin::startSecure(server), 0);
    server.setProviderURL(Standin::secureOrigin(server));
    server.addAccount(QStringLiteral("kitty@example.com"), QStringLiteral("meow-meow-meow"), QStringLiteral("Kitty Cat"));
    qputenv(kRestartOrigin, Standin::secureOrigin(server).toUtf8());
    qputenv(kRestartProfile, QByteArray("restart-") + QByteArray::number(QCoreApplication::applicationPid()));

    QString output;
    ASSERT_EQ(runRestartChild(QStringLiteral("SignIn"), &output), 0) << output.toStdString();
    ASSERT_FALSE(server.seen(QStringLiteral("/web/session")).isEmpty());
    server.clearSeen();
    EXPECT_EQ(runRestartChild(QStringLiteral("Return"), &output), 0) << output.toStdString();
    EXPECT_TRUE(server.seen(QStringLiteral("/signin")).isEmpty()) << "no sign-in page on the second day";
}
