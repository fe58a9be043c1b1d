// The web workspace screen on the real engine against the stand-in's web app:
// the scenes of each phase, failure and retry, the one web view moved between
// screens, and the cat perching in the page on the page's scene message.
#include <gtest/gtest.h>

#include "WebApp.h"
#include "base/Clock.h"
#include "base/DefaultsStore.h"
#include "companion/CompanionLibrary.h"
#include "design/ButtonStyles.h"
#include "web/WebWorkspace.h"
#include "support/TestSupport.h"
#include "support/WebEngineSupport.h"
#include "workspace/InWindowCatLayer.h"
#include "workspace/WebWorkspaceScreen.h"

#include <QGuiApplication>
#include <QLabel>
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
    QTest::qWait(400);
    // On a display, what the screen shows; offscreen, the widgets' own drawing.
    const QPixmap shot = QGuiApplication::platformName() == QLatin1String("xcb")
                             ? QGuiApplication::primaryScreen()->grabWindow(screen->winId())
                             : screen->grab();
    shot.save(folder + u'/' + QString::fromLatin1(name) + QStringLiteral(".png"));
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
        screen = std::make_unique<WebWorkspaceScreen>(web.get());
        screen->resize(1100, 720);
        screen->show();
    }
    void TearDown() override
    {
        screen.reset();
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
    EXPECT_FALSE(screen->waitingScene()->isVisible());
    EXPECT_TRUE(screen->signInCompany()->isVisible()) << "the desktop cat is off: one sits beside the form";
    EXPECT_TRUE(screen->signInCompany()->testAttribute(Qt::WA_TransparentForMouseEvents));
    keep(screen.get(), "sign-in");
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
    // Bottom-trailing: the bubble's right edge 96 from the window's, the cat under its middle.
    const QSizeF bubble = InWindowCatLayer::bubbleSize(QStringLiteral("Welcome back, Kitty."));
    const QRect peek = screen->peekingCat()->geometry();
    EXPECT_EQ(peek.bottom(), screen->height() - 1);
    EXPECT_NEAR(peek.center().x() + 0.5 + bubble.width() / 2, screen->width() - 96, 1.5);
    keep(screen.get(), "peeking");
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
    QTest::mouseClick(screen->retryButton(), Qt::LeftButton);
    EXPECT_EQ(web->phase(), Phase::loading()) << "waiting at once";
    EXPECT_TRUE(screen->waitingScene()->isVisible());
    EXPECT_FALSE(screen->failureScene()->isVisible());
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

// The words beside the in-window cat leave with the fade they came in with.
TEST(CatLayerCaption, TheWordsFadeOutWhereTheyWere)
{
    const CompanionVariant ginger = CompanionLibrary::variant(QStringLiteral("ginger"));
    if (ginger.id != QStringLiteral("ginger"))
        GTEST_SKIP() << "the build's filmed looks are not in the bundle";
    FakeClock clock;
    Clock::setShared(&clock);
    {
        InWindowCatStage stage;
        InWindowCatLayer layer(&stage);
        layer.setVariant(ginger);
        layer.resize(1000, 700);
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
    Clock::setShared(nullptr);
}

// The cat sitting on the composer fades where it sat when it is taken away.
TEST(CatLayerCaption, TheSittingCatFadesOutWhereItSat)
{
    const CompanionVariant ginger = CompanionLibrary::variant(QStringLiteral("ginger"));
    if (ginger.id != QStringLiteral("ginger"))
        GTEST_SKIP() << "the build's filmed looks are not in the bundle";
    FakeClock clock;
    Clock::setShared(&clock);
    {
        InWindowCatStage stage;
        InWindowCatLayer layer(&stage);
        layer.setVariant(ginger);
        layer.resize(1000, 700);
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
    Clock::setShared(nullptr);
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
