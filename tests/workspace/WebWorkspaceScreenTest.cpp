// The web workspace screen on the real engine against the stand-in's web app:
// the scenes of each phase, failure and retry, the one web view moved between
// screens, and the cat perching in the page on the page's scene message.
#include <gtest/gtest.h>

#include "WebApp.h"
#include "base/Clock.h"
#include "base/DefaultsStore.h"
#include "companion/CompanionLibrary.h"
#include "design/AppearanceService.h"
#include "design/ButtonStyles.h"
#include "design/L10n.h"
#include "design/PaletteColors.h"
#include "web/WebWorkspace.h"
#include "support/MarkerLook.h"
#include "support/TestSupport.h"
#include "support/WebEngineSupport.h"
#include "workspace/InWindowCatLayer.h"
#include "workspace/WebWorkspaceScreen.h"

#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QVBoxLayout>
#include <QPointer>
#include <QRasterWindow>
#include <QFile>
#include <QScreen>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <cmath>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

using namespace std::chrono_literals;
using Phase = WebWorkspaceModel::Phase;

namespace {

using zktest::evaluate;

// Set ZK_SCREEN_SHOTS to a folder to keep a picture of each state.
void keep(QWidget *screen, const char *name)
{
    const QString folder = qEnvironmentVariable("ZK_SCREEN_SHOTS");
    if (folder.isEmpty())
        return;
    // A screen that is still moving is shown once it has settled; on virtual
    // time it is shown as it stands.
    if (auto *web = qobject_cast<WebWorkspaceScreen *>(screen); web && dynamic_cast<SystemClock *>(&Clock::shared()))
        zktest::spinUntil([&] { return !web->animating(); });
    QTest::qWait(400);
    // On a display, what the screen shows; offscreen, the widgets' own drawing.
    const QImage shot = QGuiApplication::platformName() == QLatin1String("xcb") ? zktest::onServer(screen)
                                                                                : screen->grab().toImage();
    shot.save(folder + u'/' + QString::fromLatin1(name) + QStringLiteral(".png"));
}

// How many events of one type an object got since this was made.
struct EventCount : QObject {
    EventCount(QObject *watched, QEvent::Type type) : type(type) { watched->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == type;
        return false;
    }
    QEvent::Type type;
    int count = 0;
};

// The frame timers of a scene that are running now.
int runningTimers(const QWidget *scene)
{
    int running = 0;
    for (const QTimer *timer : scene->findChildren<QTimer *>())
        running += timer->isActive();
    return running;
}

class ScreenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(Standin::startSecure(server), 0);
        server.setProviderURL(Standin::secureOrigin(server));
        server.addAccount(QStringLiteral("kitty@example.com"), QStringLiteral("meow-meow-meow"), QStringLiteral("Kitty Cat"));
        static int n = 0;
        WebWorkspace::Options options;
        options.storageName = QStringLiteral("screen-test-%1").arg(++n);
        options.trustedCertificate = Standin::certificate();
        web = std::make_unique<WebWorkspace>(QUrl(Standin::secureOrigin(server)), options);
        // For the pictures: ZK_SCREEN_LOOK=dark or arabic shows the screen so.
        const QString look = qEnvironmentVariable("ZK_SCREEN_LOOK");
        if (look == QLatin1String("dark"))
            AppearanceService::shared().setTheme(AppTheme::dark);
        if (look == QLatin1String("arabic")) {
            L10n::setPreference(AppLanguage::ar);
            QGuiApplication::setLayoutDirection(L10n::layoutDirection());
        }
        // In a window as the workspace window holds it: under the window's menu bar.
        host = std::make_unique<QWidget>();
        auto *column = new QVBoxLayout(host.get());
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        auto *bar = new QMenuBar(host.get());
        bar->addMenu(QStringLiteral("Zephyl Kitty"))->addAction(QStringLiteral("Quit Zephyl Kitty"));
        column->setMenuBar(bar);
        screen = std::make_unique<WebWorkspaceScreen>(web.get());
        column->addWidget(screen.get());
        host->resize(1100, 720 + bar->sizeHint().height());
        host->show();
    }
    void TearDown() override
    {
        screen.reset();
        host.reset();
        web.reset();
    }
    bool waitForPhase(Phase::Kind kind) { return zktest::spinUntil([&] { return web->phase().kind == kind; }); }
    bool pageReady(const char *kind)
    {
        return zktest::spinUntil([&] {
            return evaluate(web->page(), QStringLiteral("!!(window.standin && window.standin.kind === '%1')")
                                             .arg(QString::fromLatin1(kind)))
                .toBool();
        });
    }
    void signIn()
    {
        ASSERT_TRUE(pageReady("signin"));
        evaluate(web->page(), QStringLiteral(
            "var f = document.getElementById('signin'); f.email.value = 'kitty@example.com';"
            "f.password.value = 'meow-meow-meow'; f.requestSubmit(); true"));
        ASSERT_TRUE(waitForPhase(Phase::Kind::workspace));
    }

    Standin::Server server;
    std::unique_ptr<WebWorkspace> web;
    std::unique_ptr<QWidget> host;
    std::unique_ptr<WebWorkspaceScreen> screen;
};

} // namespace

TEST_F(ScreenTest, EachPhaseShowsItsSceneOverTheOneWebView)
{
    QWebEngineView *view = web->webView();
    EXPECT_TRUE(screen->isAncestorOf(view)) << "the web workspace's own view, placed here";
    EXPECT_TRUE(screen->isWaiting());
    EXPECT_TRUE(screen->waitingScene()->isVisible());
    EXPECT_GE(screen->minimumWidth(), 960);
    EXPECT_GE(screen->minimumHeight(), 600);
    keep(screen.get(), "waiting");

    screen->setCompanionEnabled(false);
    web->start();
    ASSERT_TRUE(waitForPhase(Phase::Kind::signIn));
    EXPECT_TRUE(screen->showsPage());
    EXPECT_TRUE(zktest::spinUntil([&] { return !screen->waitingScene()->isVisible(); })) << "faded out";
    EXPECT_TRUE(screen->signInCompany()->isVisible()) << "the desktop cat is off: one sits beside the form";
    EXPECT_TRUE(screen->signInCompany()->testAttribute(Qt::WA_TransparentForMouseEvents));
    keep(screen.get(), "sign-in");

    // A filmed cat there is drawn where its corner is in the window: on the X
    // server, its clip's head box (40, 20, 80 of 160 pixels) in the 80-point
    // figure 44 from the trailing edge and 64 from the bottom.
    zktest::MarkerLook marker;
    screen->setVariant(marker.variant());
    const bool rtl = screen->layoutDirection() == Qt::RightToLeft;
    const QRectF figure(rtl ? 44 : screen->width() - 44 - 80, screen->height() - 64 - 80, 80, 80);
    const auto shown = [&] { return zktest::onServer(screen.get()); };
    EXPECT_TRUE(zktest::greenShowsAt(
        shown, zktest::pixels(screen.get(), QRectF(figure.x() + 20, figure.y() + 10, 40, 40)), 1))
        << "the cat beside the sign-in page";
    screen->setVariant(CompanionVariant::drawn());
    screen->setCompanionEnabled(true);
    EXPECT_FALSE(screen->signInCompany()->isVisible());

    signIn();
    if (!web->workspaceReady()) {
        EXPECT_TRUE(screen->isWaiting()) << "the workspace waits for its page to be usable";
    }
    ASSERT_TRUE(zktest::spinUntil([&] { return web->workspaceReady(); }));
    EXPECT_FALSE(screen->isWaiting());
    EXPECT_TRUE(screen->catLayer()->isVisible());
    EXPECT_TRUE(screen->catLayer()->testAttribute(Qt::WA_TransparentForMouseEvents)) << "the page stays usable";
    EXPECT_EQ(screen->catLayer()->geometry(), screen->rect());
    EXPECT_EQ(web->webView(), view) << "never made again";

    // A line of the web workspace's own peeks in from the bottom edge.
    EXPECT_FALSE(screen->peekingCat()->isVisible());
    web->showMoment(QStringLiteral("Welcome back, Kitty."), std::nullopt);
    EXPECT_TRUE(screen->peekingCat()->isVisible());
    EXPECT_TRUE(screen->peekingCat()->testAttribute(Qt::WA_TransparentForMouseEvents));
    ASSERT_TRUE(zktest::spinUntil([&] { return !screen->animating(); })) << "risen into place";
    // Bottom-trailing: the bubble's right edge 96 from the window's, the cat under its middle.
    const QSizeF bubble =
        InWindowCatLayer::bubbleSize(QStringLiteral("Welcome back, Kitty."), screen->layoutDirection());
    const QRect peek = screen->peekingCat()->geometry();
    EXPECT_EQ(peek.bottom(), screen->height() - 1);
    EXPECT_NEAR(peek.center().x() + 0.5 + bubble.width() / 2, screen->width() - 96, 1.5);
    keep(screen.get(), "peeking");

    // A filmed cat peeking in stands under the middle of its bubble, its paw
    // line 2 points below the window's bottom edge: on the X server, its
    // perch clip's block (30 wide, 36 high down to the paw line) is cut by
    // that edge.
    screen->setVariant(marker.variant());
    ASSERT_TRUE(zktest::spinUntil([&] { return !screen->animating(); }));
    const double stack = std::max(60.0, bubble.width());
    const double middle = rtl ? 96 + stack / 2 : screen->width() - 96 - stack / 2;
    EXPECT_TRUE(zktest::greenShowsAt(
        shown, zktest::pixels(screen.get(), QRectF(middle - 15, screen->height() + 2 - 36, 30, 34)), 1))
        << "the cat peeking in";
    screen->setVariant(CompanionVariant::drawn());
}

TEST_F(ScreenTest, TheCatPerchesOnTheComposerWhenThePageSaysSo)
{
    const CompanionVariant ginger = CompanionLibrary::variant(QStringLiteral("ginger"));
    if (ginger.id != QStringLiteral("ginger"))
        GTEST_SKIP() << "the build's filmed looks are not in the bundle";
    web->start();
    ASSERT_TRUE(waitForPhase(Phase::Kind::signIn));
    signIn();
    ASSERT_TRUE(zktest::spinUntil([&] { return web->workspaceReady(); }));
    ASSERT_TRUE(pageReady("workspace"));
    ASSERT_TRUE(zktest::spinUntil([&] { return web->screen() == QStringLiteral("overview"); }));

    // The drawn look cannot be drawn in the page: no scene, and the line goes
    // to the desktop cat.
    screen->setVariant(CompanionVariant::drawn());
    evaluate(web->page(), QStringLiteral("document.getElementById('new-post').click(); true"));
    ASSERT_TRUE(zktest::spinUntil([&] { return web->composerOpen(); }));
    evaluate(web->page(), QStringLiteral("true")); // the click's messages have all left
    EXPECT_FALSE(web->stage().occupied());
    EXPECT_FALSE(web->catInside());
    EXPECT_FALSE(web->say(QStringLiteral("Published."), 6));
    evaluate(web->page(), QStringLiteral("document.querySelector('[data-outcome=\"cancelled\"]').click(); true"));
    ASSERT_TRUE(zktest::spinUntil([&] { return !web->composerOpen(); }));

    // A filmed look: the leap lands on the sheet's top edge.
    screen->setVariant(ginger);
    web->demoing = true; // past the two-minute limit of leaps
    evaluate(web->page(), QStringLiteral("document.getElementById('new-post').click(); true"));
    ASSERT_TRUE(zktest::spinUntil([&] { return web->stage().perched(); }));
    const QRectF sheet = *web->stage().perch();
    const QVariantList box = evaluate(web->page(), QStringLiteral(
        "var r = document.getElementById('sheet').getBoundingClientRect(); [r.left, r.top, r.width, r.height]")).toList();
    ASSERT_EQ(box.size(), 4);
    EXPECT_NEAR(sheet.left(), box[0].toDouble(), 1);
    EXPECT_NEAR(sheet.top(), box[1].toDouble(), 1);
    const auto cat = screen->catLayer()->catFrame();
    ASSERT_TRUE(cat);
    EXPECT_NEAR(cat->bottom(), sheet.top(), 0.5) << "the paws on the sheet's top edge";
    EXPECT_NEAR(cat->center().x(), InWindowCatStage::sittingPoint(sheet).x(), 0.5);
    EXPECT_TRUE(web->catInside());
    // Once it has faded in, the sitting cat is redrawn at its film's pace, not the display's.
    const QTimer &frames = screen->catLayer()->frameClock();
    EXPECT_TRUE(zktest::spinUntil([&] { return frames.isActive() && frames.interval() > 16; }, 10s))
        << "redrawn every " << frames.interval() << " ms";
    EXPECT_TRUE(web->say(QStringLiteral("I'll watch what you write."), 3));
    keep(screen.get(), "perched");

    // Where the cat sits, the mouse reaches the page beneath.
    QWidget *under = screen->childAt(cat->center().toPoint());
    ASSERT_TRUE(under);
    EXPECT_TRUE(web->webView()->isAncestorOf(under) || under == web->webView());

    // On the X server too, below the window's menu bar: the perch clip's
    // block (30 wide, 36 high down to its paw line) stands on the sheet's top
    // edge at the sitting point.
    zktest::MarkerLook marker;
    screen->setVariant(marker.variant());
    ASSERT_TRUE(web->stage().perched());
    const double x = InWindowCatStage::sittingPoint(sheet).x();
    EXPECT_TRUE(zktest::greenShowsAt([&] { return zktest::onServer(screen->catLayer()); },
                                     zktest::pixels(screen.get(), QRectF(x - 15, sheet.top() - 36, 30, 36)), 2))
        << "the paws on the sheet's top edge";
}

// Counts the paint events a widget receives.
class PaintCount final : public QObject {
public:
    explicit PaintCount(QWidget *widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

TEST_F(ScreenTest, TheCatBesideThePageRedrawsOnlyWhileItsFilmPlays)
{
    const CompanionVariant ginger = CompanionLibrary::variant(QStringLiteral("ginger"));
    if (ginger.id != QStringLiteral("ginger"))
        GTEST_SKIP() << "the build's filmed looks are not in the bundle";
    screen->setVariant(CompanionVariant::drawn());
    screen->setCompanionEnabled(false);
    web->start();
    ASSERT_TRUE(waitForPhase(Phase::Kind::signIn));
    QWidget *company = screen->signInCompany();
    ASSERT_TRUE(company->isVisible());
    auto *frames = company->findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_TRUE(frames);
    PaintCount count(company);
    company->update();
    ASSERT_TRUE(zktest::spinUntil([&] { return count.paints > 0; }, 10s));
    EXPECT_FALSE(frames->isActive()) << "a drawn cat holds still: nothing is redrawn while the user reads";

    screen->setVariant(ginger);
    ASSERT_TRUE(zktest::spinUntil([&] { return frames->isActive(); }, 20s)) << "the filmed look plays its clip";
    EXPECT_TRUE(frames->isSingleShot());
    EXPECT_GT(frames->interval(), 0);
    EXPECT_LE(frames->interval(), 1000) << "the next picture of a looping clip";
    const int before = count.paints;
    EXPECT_TRUE(zktest::spinUntil([&] { return count.paints >= before + 3; }, 10s)) << "and redraws as they fall due";

    screen->setCompanionEnabled(true);
    EXPECT_FALSE(company->isVisible());
    EXPECT_FALSE(frames->isActive()) << "hidden, it asks for nothing";

    // Back to the drawn look, the film it no longer shows does not tick on.
    screen->setVariant(CompanionVariant::drawn());
    screen->setCompanionEnabled(false);
    const int shown = count.paints;
    ASSERT_TRUE(zktest::spinUntil([&] { return count.paints > shown; }, 10s));
    EXPECT_FALSE(frames->isActive());
}

TEST_F(ScreenTest, AFailureShowsItsWordsAndTryAgainWaitsThenReloads)
{
    // Broken off in its head: a page broken off in its body may show its first half.
    server.addFault({Standin::Fault::Kind::cutHead, QStringLiteral("/signin"), 0, std::nullopt, 0, -1});
    web->start();
    ASSERT_TRUE(waitForPhase(Phase::Kind::failed));
    EXPECT_TRUE(screen->failureScene()->isVisible());
    EXPECT_FALSE(screen->showsPage());
    EXPECT_EQ(screen->failureMessage()->text(), QStringLiteral("The page from sorvane.app could not be loaded."));
    EXPECT_EQ(screen->failureMessage()->textFormat(), Qt::PlainText);
    EXPECT_TRUE(screen->failureMessage()->isVisible()) << "a message of its own is shown";
    keep(screen.get(), "failed");

    server.clearFaults();
    ASSERT_TRUE(zktest::spinUntil([&] { return !screen->animating(); }));
    const QPoint button = screen->retryButton()->mapTo(screen.get(), screen->retryButton()->rect().center());
    EXPECT_EQ(screen->childAt(button), screen->retryButton());
    QTest::mouseClick(screen->retryButton(), Qt::LeftButton);
    EXPECT_EQ(web->phase(), Phase::loading()) << "waiting at once";
    EXPECT_TRUE(screen->waitingScene()->isVisible());
    // Fading out, the scene still shows its button, but a second click does not reach it.
    EXPECT_TRUE(screen->failureScene()->isVisible());
    EXPECT_NE(screen->childAt(button), screen->retryButton()) << "the page would load twice";
    EXPECT_EQ(screen->failureMessage()->text(), QStringLiteral("The page from sorvane.app could not be loaded."))
        << "it keeps its words while it fades";
    EXPECT_TRUE(zktest::spinUntil([&] { return !screen->failureScene()->isVisible(); })) << "faded out";
    EXPECT_TRUE(waitForPhase(Phase::Kind::signIn));
}

TEST_F(ScreenTest, AFailedConnectionIsSaidOnce)
{
    // Nothing listens on this port: the engine reports a connection failure.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 port = closed.serverPort();
    closed.close();
    WebWorkspace::Options options;
    options.storageName = QStringLiteral("screen-test-refused");
    WebWorkspace refused(QUrl(QStringLiteral("https://127.0.0.1:%1").arg(port)), options);
    WebWorkspaceScreen failing(&refused);
    failing.resize(1000, 700);
    failing.show();
    refused.start();
    ASSERT_TRUE(zktest::spinUntil([&] { return refused.phase().kind == Phase::Kind::failed; }));
    EXPECT_EQ(refused.phase().message, QStringLiteral("No connection to sorvane.app right now."));
    EXPECT_TRUE(failing.failureScene()->isVisible());
    EXPECT_FALSE(failing.failureMessage()->isVisible()) << "the title already says it";
    EXPECT_TRUE(failing.retryButton()->isVisible());
    keep(&failing, "failed-connection");
}

TEST_F(ScreenTest, TheWebViewMovesBetweenScreensAndIsNeverReloaded)
{
    web->start();
    ASSERT_TRUE(waitForPhase(Phase::Kind::signIn));
    ASSERT_TRUE(pageReady("signin"));
    evaluate(web->page(), QStringLiteral("window.kept = 'still here'; true"));
    const int loads = server.count(QStringLiteral("/signin"));
    QWebEngineView *view = web->webView();
    {
        WebWorkspaceScreen second(web.get());
        second.resize(1000, 700);
        second.show();
        EXPECT_TRUE(second.isAncestorOf(view));
        EXPECT_FALSE(screen->isAncestorOf(view));
        EXPECT_EQ(view->size(), QSize(1000, 700));
    }
    EXPECT_EQ(web->webView(), view) << "the view outlives a screen";
    screen->hide();
    screen->show();
    EXPECT_TRUE(screen->isAncestorOf(view));
    EXPECT_EQ(view->size(), screen->size());
    EXPECT_EQ(evaluate(web->page(), QStringLiteral("window.kept")).toString(), QStringLiteral("still here"));
    EXPECT_EQ(server.count(QStringLiteral("/signin")), loads) << "no reload";
}

TEST_F(ScreenTest, AnOldEngineShowsTheOutdatedScene)
{
    DefaultsStore::shared().setBool(QStringLiteral("zephyl.mac.rehearse.oldWebKit"), true);
    int opened = 0;
    screen->openSoftwareUpdate = [&] { ++opened; };
    web->start();
    DefaultsStore::shared().remove(QStringLiteral("zephyl.mac.rehearse.oldWebKit"));
    EXPECT_EQ(web->phase(), Phase::outdated());
    EXPECT_TRUE(screen->outdatedScene()->isVisible());
    EXPECT_FALSE(screen->isWaiting());
    keep(screen.get(), "outdated");
    const auto buttons = screen->outdatedScene()->findChildren<StyledButton *>();
    ASSERT_EQ(buttons.size(), 1);
    QTest::mouseClick(buttons.first(), Qt::LeftButton);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(server.count(QStringLiteral("/signin")), 0) << "nothing loaded";
}

// The button opens the desktop's own updater, and is left out where there is none.
TEST_F(ScreenTest, TheOutdatedSceneOpensTheDesktopsUpdaterOrHasNoButton)
{
    QTemporaryDir bin;
    ASSERT_TRUE(bin.isValid());
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()));
    EXPECT_TRUE(WebWorkspaceScreen::softwareUpdater().isEmpty());
    {
        WebWorkspaceScreen bare(web.get());
        EXPECT_FALSE(bool(bare.openSoftwareUpdate));
    }
    const QString marker = bin.filePath(QStringLiteral("opened"));
    QFile tool(bin.filePath(QStringLiteral("plasma-discover")));
    ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
    tool.write(QStringLiteral("#!/bin/sh\necho \"$@\" > '%1'\n").arg(marker).toUtf8());
    tool.close();
    tool.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(WebWorkspaceScreen::softwareUpdater(), tool.fileName());
    auto withTool = std::make_unique<WebWorkspaceScreen>(web.get());
    qputenv("PATH", path);
    ASSERT_TRUE(bool(withTool->openSoftwareUpdate));
    withTool->openSoftwareUpdate();
    EXPECT_TRUE(zktest::spinUntil([&] { return QFile::exists(marker); }));
    withTool.reset();

    // No updater: the scene keeps its title and explanation and loses the button.
    screen->openSoftwareUpdate = nullptr;
    DefaultsStore::shared().setBool(QStringLiteral("zephyl.mac.rehearse.oldWebKit"), true);
    web->start();
    DefaultsStore::shared().remove(QStringLiteral("zephyl.mac.rehearse.oldWebKit"));
    ASSERT_EQ(web->phase(), Phase::outdated());
    EXPECT_TRUE(screen->outdatedScene()->isVisible());
    EXPECT_FALSE(screen->updateButton()->isVisible());
}

namespace {

// The screen on virtual time: the page still loads for real, but every timer
// of the web workspace and every animation waits for the test's clock.
class AnimatedScreenTest : public ScreenTest {
protected:
    void SetUp() override
    {
        Clock::setShared(&clock);
        ScreenTest::SetUp();
    }
    void TearDown() override
    {
        ScreenTest::TearDown();
        Clock::setShared(nullptr);
    }
    // How strongly a layer shows: 0 hidden, its fade's opacity while it fades.
    static double opacity(const QWidget *layer)
    {
        if (!layer->isVisible())
            return 0;
        const auto *effect = qobject_cast<QGraphicsOpacityEffect *>(layer->graphicsEffect());
        return effect ? effect->opacity() : 1;
    }
    // Signed in, with the workspace ready and everything settled.
    void reachWorkspace()
    {
        web->start();
        ASSERT_TRUE(waitForPhase(Phase::Kind::signIn));
        signIn();
        settleUntilReady();
        ASSERT_TRUE(web->workspaceReady());
        // The welcome line, if it comes, has come and gone.
        clock.advance(8000ms);
        ASSERT_FALSE(web->moment());
        ASSERT_FALSE(screen->animating());
    }
    // Moves virtual time from one due timer to the next until `done`, so the
    // change that makes it true happens exactly now.
    // The workspace page's commit or its report, which come in real time, make
    // its readiness due; virtual time then brings it. Other timers (the page's
    // own, the greeting) would otherwise carry the clock past a page that has
    // not yet arrived.
    void settleUntilReady()
    {
        ASSERT_TRUE(zktest::spinUntil([&] { return web->workspaceReady() || web->readyDue().has_value(); }));
        settleUntil([&] { return web->workspaceReady(); });
    }
    void settleUntil(const std::function<bool()> &done)
    {
        for (int i = 0; i < 100000 && !done(); ++i) {
            // What sets the next timer may still be on its way from the page.
            if (!zktest::spinUntil([&] { return done() || clock.msUntilNext(); }) || done())
                return;
            clock.advance(std::chrono::milliseconds(*clock.msUntilNext()));
        }
    }

    FakeClock clock;
};

} // namespace

// A change of phase fades the scenes over 0.22 s, easing out.
TEST_F(AnimatedScreenTest, APhaseChangeFadesTheScenesOverTwentyTwoHundredths)
{
    ASSERT_TRUE(screen->isWaiting());
    DefaultsStore::shared().setBool(QStringLiteral("zephyl.mac.rehearse.oldWebKit"), true);
    web->start();
    DefaultsStore::shared().remove(QStringLiteral("zephyl.mac.rehearse.oldWebKit"));
    ASSERT_EQ(web->phase(), Phase::outdated());
    QWidget *outdated = screen->outdatedScene();
    QWidget *waiting = screen->waitingScene();
    EXPECT_TRUE(outdated->isVisible());
    EXPECT_EQ(opacity(outdated), 0.0);
    EXPECT_EQ(opacity(waiting), 1.0);
    EXPECT_TRUE(screen->animating());

    // Seven frames of 16 ms in: the frame nearest half-way.
    clock.advance(112ms);
    const double half = zktest::referenceEaseOut(112.0 / 220);
    EXPECT_NEAR(opacity(outdated), half, 0.005);
    EXPECT_NEAR(opacity(waiting), 1 - half, 0.005);
    EXPECT_EQ(screen->pageOpacity(), 0.0) << "the page stays hidden";
    keep(screen.get(), "phase-fade-middle");

    clock.advance(108ms);
    EXPECT_FALSE(screen->animating()) << "done at 0.22 s";
    EXPECT_EQ(opacity(outdated), 1.0);
    EXPECT_FALSE(outdated->graphicsEffect()) << "drawn plainly once in";
    EXPECT_FALSE(waiting->isVisible()) << "gone, so it takes no clicks";
    keep(screen.get(), "phase-fade-end");
}

// The ready workspace fades in over 0.3 s while the waiting scene fades out.
TEST_F(AnimatedScreenTest, TheReadyPageFadesInAsTheWaitFadesOutOverThreeTenths)
{
    // A filmed look whose walk is a green block, to find it on the screen.
    zktest::MarkerLook marker;
    screen->setVariant(marker.variant());
    web->start();
    ASSERT_TRUE(waitForPhase(Phase::Kind::signIn));
    clock.advance(300ms);
    EXPECT_EQ(screen->pageOpacity(), 1.0);
    signIn();
    // Opened again with its session, the workspace page waits to be usable,
    // from the moment the new page is in (virtual time alone would not bring it).
    bool loaded = false;
    const auto watch = QObject::connect(web->page(), &QWebEnginePage::loadFinished, [&](bool) { loaded = true; });
    web->retry();
    ASSERT_TRUE(zktest::spinUntil([&] { return loaded; }));
    QObject::disconnect(watch);
    ASSERT_TRUE(waitForPhase(Phase::Kind::workspace));
    clock.advance(300ms);
    ASSERT_FALSE(web->workspaceReady()) << "its readiness waits on virtual time";
    EXPECT_EQ(screen->pageOpacity(), 0.0) << "hidden behind the waiting scene";
    EXPECT_EQ(opacity(screen->waitingScene()), 1.0);
    EXPECT_FALSE(screen->catLayer()->isVisible());

    // Over the drawn page the walk goes on in a window of its own: the scene
    // around it, and the window the page is composed into, are not drawn
    // again for it; on the screen it is the scene as the scene draws itself.
    const auto walkWindow = [&]() -> QWindow * {
        for (QWindow *window : QGuiApplication::allWindows())
            if (qobject_cast<QRasterWindow *>(window) && window->parent() == screen->window()->windowHandle() &&
                window->isVisible())
                return window;
        return nullptr;
    };
    ASSERT_TRUE(zktest::spinUntil([&] { return walkWindow(); })) << "the walk in a window of its own";
    const auto shown = [&] { return zktest::onServer(screen.get()); };
    const auto drawn = [&] { return screen->waitingScene()->grab().toImage().convertToFormat(QImage::Format_RGB32); };
    ASSERT_TRUE(zktest::spinUntil([&] { return shown() == drawn(); })) << "the scene as it draws itself";
    // Three steps of the walk; drawn in the scene, each would draw it again. A
    // late exposure of the window (a busy machine) may draw it once.
    EventCount sceneDrawn(screen->waitingScene(), QEvent::Paint);
    for (int step = 0; step < 3; ++step) {
        const QImage before = shown();
        clock.advance(100ms);
        EXPECT_TRUE(zktest::spinUntil([&] { return shown() != before; })) << "the cat walks on";
    }
    EXPECT_LE(sceneDrawn.count, 1) << "only the strip is drawn again";
    EXPECT_TRUE(zktest::spinUntil([&] { return shown() == drawn(); })) << "where the scene would draw it";

    settleUntilReady();
    ASSERT_TRUE(web->workspaceReady());
    EXPECT_EQ(screen->pageOpacity(), 0.0);
    EXPECT_EQ(opacity(screen->waitingScene()), 1.0);
    // Nothing on the cat's layer yet: fading it would change no pixel and only
    // redraw the whole window off screen at every frame.
    EXPECT_TRUE(screen->catLayer()->blank());
    EXPECT_FALSE(screen->catLayer()->graphicsEffect());

    // Nine frames of 16 ms in: the frame nearest half-way.
    clock.advance(144ms);
    EXPECT_FALSE(walkWindow()) << "fading, the scene is drawn as one";
    // The walking cat with it, where the scene draws it: the marker's green
    // block on the X server where it is in the scene's own drawing.
    const QRect walking = zktest::greenBox(drawn(), drawn().rect());
    ASSERT_FALSE(walking.isEmpty()) << "the scene draws the walking cat";
    EXPECT_TRUE(zktest::greenShowsAt(shown, walking, 1)) << "the waiting cat fading out";
    const double half = zktest::referenceEaseOut(144.0 / 300);
    EXPECT_NEAR(opacity(screen->waitingScene()), 1 - half, 0.005);
    EXPECT_FALSE(screen->catLayer()->graphicsEffect()) << "an empty layer is not faded";
    EXPECT_NEAR(screen->pageOpacity(), half, 0.005);
    keep(screen.get(), "ready-fade-middle");

    clock.advance(156ms);
    EXPECT_FALSE(screen->animating()) << "done at 0.3 s";
    EXPECT_EQ(screen->pageOpacity(), 1.0);
    EXPECT_FALSE(screen->waitingScene()->isVisible());
    EXPECT_EQ(opacity(screen->catLayer()), 1.0);
    keep(screen.get(), "ready-fade-end");
}

// A moment's cat rises from below the bottom edge on the spring of response
// 0.55 s and damping 0.82, a little past its place and back; the next moment's
// cat rises as the first one sinks away, and a cleared moment sinks on the same spring.
TEST_F(AnimatedScreenTest, AMomentRisesOnItsSpringAndTheNextTakesItsPlace)
{
    reachWorkspace();
    const int height = screen->height();
    web->showMoment(QStringLiteral("Welcome back, Kitty."), std::nullopt);
    QPointer<QWidget> first = screen->peekingCat();
    ASSERT_TRUE(first->isVisible());
    const int rest = height - first->height();
    EXPECT_EQ(first->y(), rest + height) << "starts a screen's height below its place";

    clock.advance(320ms);
    EXPECT_GT(first->y(), rest);
    EXPECT_LT(first->y(), rest + height);
    keep(screen.get(), "moment-rising");

    // The damped spring's first peak: at π / ωd, past the target by e^(−ζπ/√(1−ζ²)).
    const double zeta = 0.82, omega = 2 * M_PI / 0.55;
    const double peak = M_PI / (omega * std::sqrt(1 - zeta * zeta));
    const double overshoot = std::exp(-zeta * M_PI / std::sqrt(1 - zeta * zeta));
    clock.advance(std::chrono::milliseconds(std::lround(peak * 1000)) - 320ms);
    EXPECT_NEAR(first->y(), rest - overshoot * height, 1.5) << "about " << overshoot * height << " points past";

    clock.advance(1000ms);
    EXPECT_FALSE(screen->animating());
    EXPECT_EQ(first->y(), rest);
    keep(screen.get(), "moment-end");

    web->showMoment(QStringLiteral("Another line for you."), std::nullopt);
    QWidget *second = screen->peekingCat();
    EXPECT_NE(second, first.data()) << "a cat of its own";
    clock.advance(200ms);
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_GT(first->y(), rest) << "sinking";
    EXPECT_NEAR((first->y() - rest) + (second->y() - rest), height, 1.5) << "one spring, both ways";
    keep(screen.get(), "moment-replaced");
    clock.advance(1000ms);
    EXPECT_EQ(second->y(), rest);
    EXPECT_FALSE(first && first->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(first) << "the one that left is gone";

    // Cleared five seconds after it came, the line sinks away the same way.
    clock.advance(3700ms);
    ASSERT_TRUE(web->moment());
    clock.advance(100ms);
    ASSERT_FALSE(web->moment());
    QPointer<QWidget> leaving = second;
    EXPECT_FALSE(screen->peekingCat()->isVisible());
    ASSERT_TRUE(leaving && leaving->isVisible());
    clock.advance(std::chrono::milliseconds(std::lround(peak * 1000)));
    EXPECT_NEAR(leaving->y(), rest + height * (1 + overshoot), 1.5);
    clock.advance(1000ms);
    EXPECT_FALSE(leaving && leaving->isVisible());
    EXPECT_FALSE(screen->animating());
}

// A screen at rest costs nothing: the drawn cat beside the sign-in page and
// the drawn cat peeking in hold one pose and are painted once, not thirty
// times a second, and no scene keeps a timer going.
TEST_F(ScreenTest, AtRestNoSceneKeepsATimerGoing)
{
    screen->setCompanionEnabled(false);
    screen->setVariant(CompanionVariant::drawn());
    EXPECT_EQ(runningTimers(screen->waitingScene()), 1) << "the walk is drawn while it waits";
    web->start();
    ASSERT_TRUE(waitForPhase(Phase::Kind::signIn));
    ASSERT_TRUE(zktest::spinUntil([&] { return !screen->animating(); }));
    ASSERT_TRUE(screen->signInCompany()->isVisible());
    for (QWidget *scene : {screen->signInCompany(), screen->waitingScene(), static_cast<QWidget *>(screen->catLayer())})
        EXPECT_EQ(runningTimers(scene), 0) << "the sign-in page at rest";

    signIn();
    ASSERT_TRUE(zktest::spinUntil([&] { return web->workspaceReady(); }));
    web->showMoment(QStringLiteral("Welcome back, Kitty."), std::nullopt);
    ASSERT_TRUE(zktest::spinUntil([&] { return !screen->animating(); }));
    ASSERT_TRUE(screen->peekingCat()->isVisible());
    for (QWidget *scene : {screen->peekingCat(), screen->signInCompany(), screen->waitingScene(),
                           static_cast<QWidget *>(screen->catLayer())})
        EXPECT_EQ(runningTimers(scene), 0) << "the workspace at rest, a cat peeking in";

    // An English line in a right-to-left window keeps its full stop at its end:
    // the rightmost ink of the words is the stop, low on the line, not the
    // arm of the "y" it would otherwise follow.
    QWidget *peek = screen->peekingCat();
    const Qt::LayoutDirection before = QGuiApplication::layoutDirection();
    QGuiApplication::setLayoutDirection(Qt::RightToLeft);
    peek->setLayoutDirection(Qt::RightToLeft);
    const QImage drawn = peek->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    QGuiApplication::setLayoutDirection(before);
    // The bubble is above the 62-point figure and its tail.
    const int rows = int((peek->height() - 62 - 12) * drawn.devicePixelRatio());
    QRect words;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < drawn.width(); ++x)
            if (qAlpha(drawn.pixel(x, y)) > 200 && qGray(drawn.pixel(x, y)) < 100)
                words |= QRect(x, y, 1, 1);
    ASSERT_GT(words.height(), 8) << "the words are drawn";
    int top = words.bottom();
    for (int x = words.right() - 1; x <= words.right(); ++x)
        for (int y = words.top(); y <= words.bottom(); ++y)
            if (qAlpha(drawn.pixel(x, y)) > 200 && qGray(drawn.pixel(x, y)) < 100)
                top = std::min(top, y);
    EXPECT_GT(top - words.top(), 0.5 * words.height()) << "the full stop ends the line";
}

// Changes that come while no one sees the screen move nothing; shown, it is
// where things stand at once, without finishing fades nobody saw begin.
TEST_F(AnimatedScreenTest, AHiddenScreenMovesNothingAndShowsWhereThingsStand)
{
    screen->hide();
    DefaultsStore::shared().setBool(QStringLiteral("zephyl.mac.rehearse.oldWebKit"), true);
    web->start();
    DefaultsStore::shared().remove(QStringLiteral("zephyl.mac.rehearse.oldWebKit"));
    ASSERT_EQ(web->phase(), Phase::outdated());
    EXPECT_FALSE(screen->animating()) << "no timer runs for a hidden screen";

    screen->show();
    EXPECT_FALSE(screen->animating());
    EXPECT_TRUE(screen->outdatedScene()->isVisible());
    EXPECT_FALSE(screen->outdatedScene()->graphicsEffect()) << "fully there";
    EXPECT_FALSE(screen->waitingScene()->isVisible());
    keep(screen.get(), "shown-again");
}

// The waiting cat starts its walk from the left each time the screen is
// shown, the window's first showing included, not from when it was made.
TEST_F(AnimatedScreenTest, TheWalkStartsOverEachTimeTheScreenIsShown)
{
    ASSERT_TRUE(screen->isWaiting());
    clock.advance(1600ms);
    EXPECT_NEAR(screen->waitedSeconds(), 1.6, 1e-6);
    screen->hide();
    clock.advance(4000ms);
    screen->show();
    EXPECT_EQ(screen->waitedSeconds(), 0.0) << "not four seconds into a walk no one saw";
    clock.advance(800ms);
    EXPECT_NEAR(screen->waitedSeconds(), 0.8, 1e-6);

    auto fresh = std::make_unique<WebWorkspaceScreen>(web.get());
    clock.advance(3000ms);
    fresh->resize(1100, 720);
    fresh->show();
    EXPECT_TRUE(fresh->waitingScene()->isVisible());
    EXPECT_EQ(fresh->waitedSeconds(), 0.0) << "made three seconds before it was first shown";
}

// The walk slows and never arrives; the prints fade in behind the cat and pale.
TEST(WebWaitWalk, TheCurveAndThePrintsAtTheStartAndAfterTenSeconds)
{
    EXPECT_DOUBLE_EQ(WebWaitWalk::progress(0), 0);
    EXPECT_NEAR(WebWaitWalk::progress(1.6), 0.5942, 1e-4);
    EXPECT_NEAR(WebWaitWalk::progress(3.2), 0.8128, 1e-4);
    EXPECT_NEAR(WebWaitWalk::progress(10), 0.93819, 1e-4);
    EXPECT_LT(WebWaitWalk::progress(30), 0.94);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(WebWaitWalk::printOpacity(i, 0), 0) << "no print at the start, " << i;
    // After 10 s the cat has walked 356.51 points.
    const double walked = WebWaitWalk::progress(10) * 380;
    EXPECT_NEAR(walked, 356.51, 0.01);
    EXPECT_NEAR(WebWaitWalk::printOpacity(0, walked), 0.17867, 1e-4) << "oldest, full and paled";
    EXPECT_NEAR(WebWaitWalk::printOpacity(10, walked), 0.27652, 1e-4) << "fading in";
    EXPECT_EQ(WebWaitWalk::printOpacity(11, walked), 0) << "not yet passed by 26";
    // A print shows only once the walk is 26 points past its centre (15 for the first).
    EXPECT_EQ(WebWaitWalk::printOpacity(0, 41), 0);
    EXPECT_NEAR(WebWaitWalk::printOpacity(0, 57), 0.3 * (1 - 0.45 * 42.0 / 380), 1e-9);
}

// A layer of the filmed ginger look on a stage of a 1000 x 700 page, on virtual time.
class GingerLayer : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (ginger.id != QStringLiteral("ginger"))
            GTEST_SKIP() << "the build's filmed looks are not in the bundle";
        layer.setVariant(ginger);
        layer.resize(1000, 700);
    }
    struct SharedClock {
        FakeClock clock;
        SharedClock() { Clock::setShared(&clock); }
        ~SharedClock() { Clock::setShared(nullptr); }
    };
    const CompanionVariant ginger = CompanionLibrary::variant(QStringLiteral("ginger"));
    SharedClock shared;
    FakeClock &clock = shared.clock;
    InWindowCatStage stage;
    InWindowCatLayer layer{&stage};
};

// The words beside the in-window cat leave with the fade they came in with.
TEST_F(GingerLayer, TheWordsFadeOutWhereTheyWere)
{
    const QSizeF page(1000, 700);
    stage.show(InWindowCatStage::Look::happy, page, 10);
    clock.advance(1000ms);
    // Pixels that differ from the picture without words.
    auto drawn = [&] { return layer.grab().toImage().convertToFormat(QImage::Format_ARGB32); };
    const QImage cat = drawn();
    ASSERT_TRUE(stage.say(QStringLiteral("Nicely done."), 2));
    clock.advance(500ms);
    const QImage full = drawn();
    auto weight = [&](const QImage &image) {
        qint64 sum = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                sum += std::abs(qAlpha(image.pixel(x, y)) - qAlpha(cat.pixel(x, y)));
        return sum;
    };
    ASSERT_GT(weight(full), 20000) << "the bubble shows";
    clock.advance(1500ms); // the caption's time is up
    ASSERT_FALSE(stage.caption());
    clock.advance(100ms);
    const qint64 half = weight(drawn());
    EXPECT_GT(half, weight(full) / 4) << "still fading";
    EXPECT_LT(half, weight(full) * 3 / 4);
    clock.advance(150ms);
    EXPECT_LT(weight(drawn()), weight(full) / 50) << "gone after the fade";
}

// In a right-to-left window the words are broken into lines as they are
// drawn there, from the right, and the bubble holds every one of them: no word
// shows under it. (This Hebrew line with a Latin word breaks into one line more
// laid out from the right than from the left.)
TEST_F(GingerLayer, ARightToLeftBubbleHoldsEveryLineItShows)
{
    layer.setLayoutDirection(Qt::RightToLeft);
    stage.show(InWindowCatStage::Look::happy, QSizeF(1000, 700), 10);
    clock.advance(1000ms);
    ASSERT_TRUE(stage.say(
        QStringLiteral("הפוסטים האחרונים שלי הם כולם Reels. תציע רעיון אחד לקרוסלה שמתאים לפרופיל שלי."), 5));
    clock.advance(500ms);
    const QImage shown = layer.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QRgb surface = PaletteColors::color(ZephylPalette::Color::surface).rgba();
    QRect bubble;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            if (shown.pixel(x, y) == surface)
                bubble |= QRect(x, y, 1, 1);
    ASSERT_FALSE(bubble.isEmpty()) << "the bubble shows";
    int under = 0;
    for (int y = bubble.bottom() + 1; y < std::min(shown.height(), bubble.bottom() + 24); ++y)
        for (int x = bubble.left(); x <= bubble.right(); ++x)
            under += qAlpha(shown.pixel(x, y)) > 200 && qGray(shown.pixel(x, y)) < 128;
    EXPECT_EQ(under, 0) << "words drawn under the bubble at " << bubble.x() << "," << bubble.y() << " "
                        << bubble.width() << "x" << bubble.height();
}

// The cat sitting on the composer fades where it sat when it is taken away.
TEST_F(GingerLayer, TheSittingCatFadesOutWhereItSat)
{
    auto inked = [&] {
        const QImage image = layer.grab().toImage().convertToFormat(QImage::Format_ARGB32);
        qint64 sum = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                sum += qAlpha(image.pixel(x, y));
        return sum;
    };
    stage.composerOpened(std::nullopt, QRectF(100, 200, 600, 400), QSizeF(1000, 700));
    clock.advance(1000ms);
    ASSERT_TRUE(stage.perched());
    // The film shows its first frame when the player has one.
    ASSERT_TRUE(zktest::spinUntil([&] { return inked() > 100000; }));
    const qint64 sitting = inked();
    ASSERT_GT(sitting, 100000) << "the cat sits";
    stage.clear();
    clock.advance(100ms);
    const qint64 half = inked();
    EXPECT_GT(half, sitting / 4) << "still fading";
    EXPECT_LT(half, sitting * 3 / 4);
    clock.advance(150ms);
    EXPECT_EQ(inked(), 0) << "gone after the fade";
}

// The layer draws frames only while something moves, fades or plays: a mood
// pose standing still is a picture, and a hidden layer draws nothing.
TEST_F(GingerLayer, TicksOnlyWhileSomethingMoves)
{
    layer.show();
    EXPECT_EQ(runningTimers(&layer), 0) << "an empty stage";

    stage.show(InWindowCatStage::Look::happy, QSizeF(1000, 700), 5);
    clock.advance(200ms);
    EXPECT_EQ(runningTimers(&layer), 1) << "rising";
    clock.advance(800ms);
    ASSERT_TRUE(stage.actor()) << "the pose holds for five seconds";
    EXPECT_TRUE(zktest::spinUntil([&] { return runningTimers(&layer) == 0; }, 3s)) << "standing still";

    ASSERT_TRUE(stage.say(QStringLiteral("Nicely done."), 2));
    EXPECT_EQ(runningTimers(&layer), 1) << "the words fade in";
    clock.advance(250ms);
    EXPECT_TRUE(zktest::spinUntil([&] { return runningTimers(&layer) == 0; }, 3s)) << "the words are in";
    // Drawn, as a window on screen has them by now: on a busy machine the last
    // frame can stop the ticks before its paint came, and words never drawn
    // have nothing to fade.
    layer.grab();
    clock.advance(1750ms);
    ASSERT_FALSE(stage.caption()) << "their two seconds are up";
    EXPECT_EQ(runningTimers(&layer), 1) << "the words fade out";
    clock.advance(250ms);
    EXPECT_TRUE(zktest::spinUntil([&] { return runningTimers(&layer) == 0; }, 3s)) << "the words are gone";

    stage.clear();
    stage.composerOpened(std::nullopt, QRectF(100, 200, 600, 400), QSizeF(1000, 700));
    clock.advance(1000ms);
    ASSERT_TRUE(stage.perched());
    // Its clip is read in the background: paced by its frames once it shows.
    EXPECT_TRUE(zktest::spinUntil([&] { return runningTimers(&layer) == 1 && layer.frameClock().interval() > 16; }, 10s))
        << "the sitting cat is a film, played at its own pace, not the display's";
    layer.hide();
    EXPECT_EQ(runningTimers(&layer), 0) << "hidden, it plays to no one";
    layer.show();
    EXPECT_EQ(runningTimers(&layer), 1);
}

// The figure's path and the caption's place, with the numbers of the layer.
TEST(CatLayerGeometry, ArcsTiltsAndCaptionSides)
{
    using Actor = InWindowCatStage::Actor;
    const QSizeF size(60, 80);
    const auto foot = [&](const QTransform &t) { return t.map(QPointF(30, 80)); };
    Actor flat{InWindowCatStage::Look::sit, {100, 500}, {300, 500}, 0, 78, 80, 1, false, 1};
    EXPECT_EQ(foot(InWindowCatLayer::arcPlacement(flat, size, 0.5, false)), QPointF(200, 461)) << "half the lift";
    EXPECT_EQ(foot(InWindowCatLayer::arcPlacement(flat, size, 1.3, false)), QPointF(300, 500)) << "clamped";
    EXPECT_EQ(foot(InWindowCatLayer::arcPlacement(flat, size, -0.2, false)), QPointF(100, 500));

    // A leap up and to the right starts nose up (a negative angle here, y down).
    Actor leap{InWindowCatStage::Look::leap, {100, 500}, {300, 300}, 0, 78, 80, 1, false, 1};
    const QTransform start = InWindowCatLayer::arcPlacement(leap, size, 0, true);
    EXPECT_LT(std::atan2(start.m12(), start.m11()), 0);
    // Straight up: dx is taken as 0.001, so the full 0.49 radians.
    Actor up{InWindowCatStage::Look::leap, {100, 500}, {100, 300}, 0, 78, 80, 1, false, 1};
    EXPECT_NEAR(std::atan2(InWindowCatLayer::arcPlacement(up, size, 0, true).m12(),
                           InWindowCatLayer::arcPlacement(up, size, 0, true).m11()),
                -0.49, 1e-9);
    up.facing = -1;
    EXPECT_NEAR(std::atan2(InWindowCatLayer::arcPlacement(up, size, 0, true).m12(),
                           InWindowCatLayer::arcPlacement(up, size, 0, true).m11()),
                0.49, 1e-9);

    const QSizeF page(1200, 800), bubble(200, 60);
    EXPECT_EQ(InWindowCatLayer::captionOrigin(bubble, QRectF(10, 300, 80, 100), page), QPointF(84, 310))
        << "no room on the left: to the right, overlapping the cat by 6";
    EXPECT_EQ(InWindowCatLayer::captionOrigin(bubble, QRectF(900, 300, 80, 100), page), QPointF(706, 310));
    EXPECT_EQ(InWindowCatLayer::captionOrigin(bubble, QRectF(900, 780, 80, 100), page).y(), 800 - 60 - 8)
        << "kept 8 points above the bottom";
}
