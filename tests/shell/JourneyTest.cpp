// The application binary as a user meets it, against the stand-in service over
// https, on a desktop with a window manager, a tray and a session bus: it
// starts, signs in to the demo account in its page, the cat lands on a window of
// the test's own, Alt+Space opens the ask panel, "open plan" shows the plan, a
// post is published through the page and the cat says so. Each step is named,
// so a failure says which one broke. What the application does is read from the
// lines it writes with ZEPHYL_TRACE set.

#include "Certificate.h"
#include "StandinServer.h"
#include "WebApp.h"
#include "app/AskValues.h"
#include "app/UnsentTextStore.h"
#include "base/RecordStore.h"
#include "base/DefaultsStore.h"
#include "support/AppSetup.h"
#include "support/TestSupport.h"
#include "support/X11TestSupport.h"

#include <QDir>
#include <cstring>
#include <QFile>
#include <QPoint>
#include <QProcess>
#include <QScreen>
#include <QImage>
#include <QGuiApplication>
#include <QTest>
#include <QWindow>
#include <QWidget>

#include <gtest/gtest.h>

#include <csignal>

namespace {

struct Step {
    explicit Step(const char *name) : scoped(__FILE__, __LINE__, name) {}
    testing::ScopedTrace scoped;
};

// One run of the application, its trace lines collected as they come.
struct Application {
    QProcess process;
    QString trace;

    Application(const QString &info, const QString &certificate, const QStringList &arguments = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ZEPHYL_TRACE"), QStringLiteral("1"));
        env.insert(QStringLiteral("ZEPHYL_BUNDLE_INFO"), info);
        env.insert(QStringLiteral("ZEPHYL_STANDIN_CERTIFICATE"), certificate);
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process.setProcessEnvironment(env);
        QObject::connect(&process, &QProcess::readyReadStandardError,
                         [this] { trace += QString::fromUtf8(process.readAllStandardError()); });
        process.start(QStringLiteral(ZK_APP_BIN), arguments);
    }
    ~Application()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(15000)) {
                process.kill();
                process.waitForFinished(5000);
            }
        }
    }
    // The line was written, after the mark when one is given.
    bool saw(const QString &line, std::chrono::seconds limit = std::chrono::seconds(60), qsizetype mark = 0)
    {
        const auto found = [&] { return trace.indexOf(line, mark) >= 0; };
        return zktest::spinUntil([&] { return found() || process.state() == QProcess::NotRunning; }, limit) && found();
    }
    qsizetype mark() const { return trace.size(); }
    // The application says its keyboard is in that window (the page is in the
    // window "Zephyl"), and the X server has it there: keys typed before the
    // server moves it go to the window that had it, one lost letter turning
    // "open plan" into a question.
    testing::AssertionResult keyboardIn(const QString &where)
    {
        const QString prefix = QStringLiteral("trace: keyboard: ");
        const QString title = where == QStringLiteral("page") ? QStringLiteral("Zephyl") : where;
        const auto last = [&] {
            const qsizetype at = trace.lastIndexOf(prefix);
            return at < 0 ? QString() : trace.mid(at + prefix.size()).section(u'\n', 0, 0);
        };
        zktest::ServerKeyboard server;
        if (zktest::spinUntil([&] {
                server = zktest::serverKeyboard();
                return last() == where && server.in(process.processId(), title);
            }, std::chrono::seconds(30)))
            return testing::AssertionSuccess();
        return testing::AssertionFailure() << "the application has the keyboard with \"" << last().toStdString()
                                           << "\", the X server with \"" << server.title.toStdString() << "\" of process "
                                           << server.pid << " (the application is " << process.processId() << ")";
    }
    void kill()
    {
        process.kill();
        process.waitForFinished(10000);
    }
};

int xdotool(const QStringList &arguments)
{
    return zktest::runTool(QStringLiteral("xdotool"), arguments);
}

void type(const QString &text) { xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("15"), text}); }
void key(const QString &keys) { xdotool({QStringLiteral("key"), keys}); }


struct Service {
    Standin::Server server;
    QString info;
    QString certificate;

    explicit Service(const QString &email = QStringLiteral("kitty@example.com"))
    {
        server.addAccount(email, QStringLiteral("meow-meow-meow"), QStringLiteral("Kitty"));
        if (Standin::startSecure(server) == 0)
            return;
        server.setProviderURL(Standin::secureOrigin(server));
        const QString dir = zktest::tempDir();
        certificate = dir + QStringLiteral("/standin.pem");
        QFile pem(certificate);
        pem.open(QIODevice::WriteOnly);
        pem.write(Standin::certificate().toPem());
        pem.close();
        info = zktest::writeServiceInfo(Standin::secureOrigin(server));
    }
};

// Pixels of the default look's ginger fur (not the drawn cat's ink, nor its
// amber eyes) the X screen shows within `area`.
int gingerFurOnScreen(const QRect &area)
{
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
    const QRect inside = area.intersected(shot.rect());
    int fur = 0;
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QRgb p = shot.pixel(x, y);
            const int r = qRed(p), g = qGreen(p), b = qBlue(p);
            fur += r >= 150 && r <= 235 && g >= 70 && g <= 130 && b <= 90 && r - g >= 50;
        }
    }
    return fur;
}

void signIn(Application &app, const QString &email = QStringLiteral("kitty@example.com"))
{
    ASSERT_TRUE(app.saw(QStringLiteral("trace: page: signIn"), std::chrono::seconds(90))) << app.trace.toStdString();
    // The sign-in page is shown when committed and takes keys once loaded.
    ASSERT_TRUE(zktest::spinUntil([&] {
        const qsizetype from = std::max<qsizetype>(0, app.trace.lastIndexOf(QStringLiteral("trace: page: loading")));
        return app.trace.indexOf(QStringLiteral("trace: page: signIn"), from) >= 0 &&
               app.trace.indexOf(QStringLiteral("trace: page load: finished"), from) >= 0;
    }, std::chrono::seconds(60))) << app.trace.toStdString();
    // The page's address field has the keyboard once the window holds it.
    ASSERT_TRUE(app.keyboardIn(QStringLiteral("page"))) << app.trace.toStdString();
    const qsizetype typed = app.mark();
    type(email);
    key(QStringLiteral("Tab"));
    type(QStringLiteral("meow-meow-meow"));
    key(QStringLiteral("Return"));
    ASSERT_TRUE(app.saw(QStringLiteral("trace: page account: ") + email, std::chrono::seconds(60), typed))
        << app.trace.toStdString();
    ASSERT_TRUE(app.saw(QStringLiteral("trace: page: workspace"))) << app.trace.toStdString();
}

// Alt+Space, the question typed into the ask panel, Return.
void askTheCat(Application &app, const QString &question)
{
    // Alt+Space puts a panel still open away first; then it comes with the keyboard.
    if (app.trace.lastIndexOf(QStringLiteral("trace: ask panel: shown")) >
        app.trace.lastIndexOf(QStringLiteral("trace: ask panel: hidden"))) {
        const qsizetype before = app.mark();
        key(QStringLiteral("alt+space"));
        ASSERT_TRUE(app.saw(QStringLiteral("trace: ask panel: hidden"), std::chrono::seconds(60), before))
            << app.trace.toStdString();
    }
    const qsizetype mark = app.mark();
    key(QStringLiteral("alt+space"));
    ASSERT_TRUE(app.saw(QStringLiteral("trace: ask panel: shown"), std::chrono::seconds(60), mark))
        << app.trace.toStdString();
    ASSERT_TRUE(app.keyboardIn(QStringLiteral("Ask the cat"))) << app.trace.toStdString();
    type(question);
    key(QStringLiteral("Return"));
}

} // namespace

TEST(Journey, StartSignInCatOnAWindowAskPlanPublishAndTheCatSaysSo)
{
    Service service;
    ASSERT_FALSE(service.info.isEmpty()) << "the stand-in cannot listen";

    // A window of the user's own, wide and below the workspace window's top,
    // for the cat to stand on.
    QWidget own;
    own.setWindowTitle(QStringLiteral("Notes of the test"));
    own.setGeometry(0, 360, 1280, 380);
    own.show();
    ASSERT_TRUE(zktest::spinUntil([&] { return own.isVisible() && own.windowHandle() && own.windowHandle()->isExposed(); }));

    Application app(service.info, service.certificate);
    {
        Step step("the application starts");
        ASSERT_TRUE(app.saw(QStringLiteral("trace: started"))) << app.trace.toStdString();
    }
    {
        Step step("it signs in to the demo account in its page");
        ASSERT_NO_FATAL_FAILURE(signIn(app));
    }
    {
        Step step("the cat lands on a window of the test's own");
        // The workspace window out of the way; the user picks the cat up and
        // drops it above the test's window, where it lands.
        xdotool({QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("^Zephyl$"),
                 QStringLiteral("windowminimize")});
        const QString id = QStringLiteral("trace: cat on: window 0x%1").arg(quint64(own.winId()), 0, 16);
        const auto lastSeenAt = [&] {
            const qsizetype at = app.trace.lastIndexOf(QStringLiteral("trace: cat at: "));
            return at < 0 ? QString() : app.trace.mid(at + 15).section(u'\n', 0, 0);
        };
        for (int attempt = 0; attempt < 8 && !app.trace.contains(id); ++attempt) {
            // A walking cat is caught where it stands still: the place seen last
            // and unchanged for a moment.
            QString at;
            ASSERT_TRUE(zktest::spinUntil([&] {
                const QString now = lastSeenAt();
                if (now.isEmpty() || now != at) {
                    at = now;
                    QTest::qWait(300);
                    return false;
                }
                return true;
            }, std::chrono::seconds(60)));
            const QPoint grip(at.section(u',', 0, 0).toInt(), at.section(u',', 1, 1).toInt());
            // Dropped with its feet a little above the window's top edge (the
            // grip is the body's middle, 31 above the feet), it lands there.
            const QPoint target(640, own.frameGeometry().top() - 20 - 31);
            auto moveTo = [](QPoint p) {
                xdotool({QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y())});
                // Input is paced as a hand moves; the X server takes it in order.
                QTest::qWait(40);
            };
            // The cat takes a press from the moment the pointer is over it.
            moveTo(grip);
            if (qEnvironmentVariableIsSet("ZK_JOURNEY_SHOTS"))
                zktest::runTool(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                                           qEnvironmentVariable("ZK_JOURNEY_SHOTS") +
                                                               QStringLiteral("/drag-%1.png").arg(attempt)});
            xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
            for (int i = 1; i <= 10; ++i)
                moveTo(grip + (target - grip) * i / 10);
            xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
            app.saw(id, std::chrono::seconds(10));
        }
        ASSERT_TRUE(app.trace.contains(id)) << app.trace.toStdString();
    }
    {
        Step step("the default look shows its filmed fur on the screen");
        // Where the cat was told to be last; it may walk on, so the screen is
        // read again until its fur is seen there.
        int fur = 0;
        QString at;
        const bool seen = zktest::spinUntil([&] {
            const qsizetype from = app.trace.lastIndexOf(QStringLiteral("trace: cat at: "));
            at = app.trace.mid(from + 15).section(u'\n', 0, 0);
            const QPoint centre(at.section(u',', 0, 0).toInt(), at.section(u',', 1, 1).toInt());
            fur = gingerFurOnScreen(QRect(centre - QPoint(140, 140), QSize(280, 280)));
            return fur >= 300;
        }, std::chrono::seconds(30));
        EXPECT_TRUE(seen) << fur << " pixels of ginger fur around the cat at " << at.toStdString();
    }
    {
        Step step("Alt+Space opens the ask panel");
        key(QStringLiteral("alt+space"));
        ASSERT_TRUE(app.saw(QStringLiteral("trace: ask panel: shown"))) << app.trace.toStdString();
    }
    {
        Step step("\"open plan\" opens the workspace on the plan and puts the panel away");
        ASSERT_TRUE(app.keyboardIn(QStringLiteral("Ask the cat"))) << app.trace.toStdString();
        const qsizetype asked = app.mark();
        type(QStringLiteral("open plan"));
        key(QStringLiteral("Return"));
        ASSERT_TRUE(app.saw(QStringLiteral("trace: surface: plan"), std::chrono::seconds(60), asked)) << app.trace.toStdString();
        ASSERT_TRUE(app.saw(QStringLiteral("trace: page screen: planner"))) << app.trace.toStdString();
        // The panel would cover the plan it opened, and the window has the keyboard.
        ASSERT_TRUE(app.saw(QStringLiteral("trace: ask panel: hidden"), std::chrono::seconds(60), asked))
            << app.trace.toStdString();
        ASSERT_TRUE(app.keyboardIn(QStringLiteral("page"))) << app.trace.toStdString();
    }
    {
        Step step("a post is published through the page");
        // Alt+Space brings the panel back with the keyboard.
        const qsizetype mark = app.mark();
        key(QStringLiteral("alt+space"));
        ASSERT_TRUE(app.saw(QStringLiteral("trace: ask panel: shown"), std::chrono::seconds(60), mark))
            << app.trace.toStdString();
        ASSERT_TRUE(app.keyboardIn(QStringLiteral("Ask the cat"))) << app.trace.toStdString();
        type(QStringLiteral("new post"));
        key(QStringLiteral("Return"));
        ASSERT_TRUE(app.saw(QStringLiteral("trace: page composer: open"))) << app.trace.toStdString();
        // The caption has the keyboard; the next control is "Publish".
        type(QStringLiteral("A cat on a window"));
        key(QStringLiteral("Tab"));
        key(QStringLiteral("Return"));
    }
    {
        Step step("the cat says so");
        ASSERT_TRUE(app.saw(QStringLiteral("Published. That one is out in the world."))) << app.trace.toStdString();
    }
}

TEST(Journey, EveryKindOfLinkFromARealSecondLaunch)
{
    Service service;
    ASSERT_FALSE(service.info.isEmpty()) << "the stand-in cannot listen";
    Application app(service.info, service.certificate);
    auto launch = [&](const QString &link) {
        Application second(service.info, service.certificate, {link});
        EXPECT_TRUE(zktest::spinUntil([&] { return second.process.state() == QProcess::NotRunning; },
                                      std::chrono::seconds(60)));
        EXPECT_EQ(second.process.exitCode(), 0) << link.toStdString();
    };
    {
        Step step("the first copy signs in");
        ASSERT_TRUE(app.saw(QStringLiteral("trace: started"))) << app.trace.toStdString();
        ASSERT_NO_FATAL_FAILURE(signIn(app));
    }
    {
        Step step("a callback nobody asked for changes nothing");
        launch(QStringLiteral("sorvane://auth-google#access_token=forged"));
        launch(QStringLiteral("sorvane://cat/%2e%2e/settings?") + QString(4000, u'x'));
        launch(QStringLiteral("sorvane://INSTAGRAM-CONNECTED"));
        EXPECT_FALSE(app.trace.contains(QStringLiteral("trace: signed out"))) << app.trace.toStdString();
        EXPECT_FALSE(app.trace.contains(QStringLiteral("companion settings: shown")));
    }
    {
        Step step("instagram-connected reloads the profile");
        service.server.clearSeen();
        launch(QStringLiteral("sorvane://instagram-connected?status=success"));
        ASSERT_TRUE(zktest::spinUntil([&] { return service.server.count(QStringLiteral("/api/v1/instagram/session")) > 0; },
                                      std::chrono::seconds(60)));
    }
    {
        Step step("cat/night: the cat says a line");
        launch(QStringLiteral("sorvane://cat/night"));
        ASSERT_TRUE(app.saw(QStringLiteral("It's late. I'd sleep."))) << app.trace.toStdString();
    }
    {
        Step step("cat/ask asks; the plan it opens is not covered by the panel");
        const qsizetype mark = app.mark();
        launch(QStringLiteral("sorvane://cat/ask?q=open%20plan"));
        ASSERT_TRUE(app.saw(QStringLiteral("trace: surface: plan"), std::chrono::seconds(60), mark))
            << app.trace.toStdString();
        ASSERT_TRUE(app.keyboardIn(QStringLiteral("page"))) << app.trace.toStdString();
        EXPECT_FALSE(app.trace.lastIndexOf(QStringLiteral("trace: ask panel: shown")) >
                     app.trace.lastIndexOf(QStringLiteral("trace: ask panel: hidden")))
            << app.trace.toStdString();
        // A question that opens nothing leaves the panel open with the answer.
        const qsizetype asked = app.mark();
        launch(QStringLiteral("sorvane://cat/ask?q=focus%2025"));
        ASSERT_TRUE(app.saw(QStringLiteral("trace: ask panel: shown"), std::chrono::seconds(60), asked))
            << app.trace.toStdString();
    }
    {
        Step step("cat/settings opens the companion settings");
        launch(QStringLiteral("sorvane://cat/settings"));
        ASSERT_TRUE(app.saw(QStringLiteral("trace: companion settings: shown"))) << app.trace.toStdString();
    }
    {
        Step step("demo runs the guided tour");
        launch(QStringLiteral("sorvane://demo"));
        ASSERT_TRUE(app.saw(QStringLiteral("Hi! Let me show you what I can do."))) << app.trace.toStdString();
    }
}

TEST(Journey, ASignInOnThePageOutlivesAKillRightAfterIt)
{
    // The engine writes its cookie file half a minute after a change: the kill comes well before.
    Service service;
    ASSERT_FALSE(service.info.isEmpty()) << "the stand-in cannot listen";
    {
        Application app(service.info, service.certificate);
        ASSERT_NO_FATAL_FAILURE(signIn(app));
        app.kill();
    }
    Application again(service.info, service.certificate);
    const QString account = QStringLiteral("trace: page account: kitty@example.com");
    const QString form = QStringLiteral("trace: page: signIn");
    ASSERT_TRUE(zktest::spinUntil([&] { return again.trace.contains(account) || again.trace.contains(form); },
                                  std::chrono::seconds(90))) << again.trace.toStdString();
    EXPECT_FALSE(again.trace.contains(form)) << "the sign-in was lost\n" << again.trace.toStdString();
}

TEST(Journey, QuittingWhileCallsThroughThePageAreOnTheirWayEndsCleanlyAndActsOnNone)
{
    // By SIGTERM and by the Quit command in turns, each right after a sign-in on
    // the page (the engine's cookie file is then behind), the service holding
    // the application's call for the threads and, every other time, the cat on
    // the composer's sheet. scripts/test runs it under the sanitizers too.
    const int rounds = qEnvironmentVariableIsSet("ZK_QUIT_ROUNDS") ? qEnvironmentVariableIntValue("ZK_QUIT_ROUNDS") : 6;
    Service service;
    ASSERT_FALSE(service.info.isEmpty()) << "the stand-in cannot listen";
    Standin::Fault hang;
    hang.kind = Standin::Fault::Kind::hang;
    hang.path = QStringLiteral("/api/assistant/thread");
    service.server.addFault(hang);
    for (int round = 1; round <= rounds && !HasFailure(); ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round << (round % 2 ? ", SIGTERM" : ", Quit"));
        QDir(qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/zephyl-kitty/QtWebEngine")).removeRecursively();
        Application app(service.info, service.certificate);
        ASSERT_NO_FATAL_FAILURE(signIn(app));
        ASSERT_TRUE(zktest::spinUntil([&] { return !service.server.withheld().isEmpty(); })) << "no call was held";
        if (round % 4 < 2) {
            key(QStringLiteral("alt+space"));
            ASSERT_TRUE(app.keyboardIn(QStringLiteral("Ask the cat")));
            type(QStringLiteral("new post"));
            key(QStringLiteral("Return"));
            ASSERT_TRUE(app.saw(QStringLiteral("trace: page composer: open"))) << app.trace.toStdString();
        }
        const qsizetype quit = app.mark();
        if (round % 2) {
            app.process.terminate();
        } else {
            ASSERT_TRUE(app.keyboardIn(QStringLiteral("page")));
            key(QStringLiteral("ctrl+q"));
        }
        ASSERT_TRUE(zktest::spinUntil([&] { return app.process.state() == QProcess::NotRunning; }));
        EXPECT_TRUE(app.process.exitStatus() == QProcess::NormalExit && app.process.exitCode() == 0) << app.trace.toStdString();
        for (const char *finding : {"ERROR: AddressSanitizer", "runtime error:"})
            EXPECT_FALSE(app.trace.contains(QLatin1String(finding))) << app.trace.toStdString();
        // The unanswered call moves nothing once the quit began.
        for (const char *moved : {"trace: signed out", "trace: notice: ", "trace: plan: "})
            EXPECT_FALSE(app.trace.indexOf(QLatin1String(moved), quit) >= 0) << app.trace.mid(quit).toStdString();
    }
}

TEST(Journey, NothingTypedIsLostWhenTheApplicationIsKilled)
{
    // The native workspace, over the stand-in on loopback http.
    Standin::Server server;
    server.addAccount(QStringLiteral("kitty@example.com"), QStringLiteral("meow-meow-meow"), QStringLiteral("Kitty"));
    ASSERT_NE(server.start(0), 0) << "the stand-in cannot listen";
    const QString info = zktest::writeServiceInfo(server.origin());
    ASSERT_FALSE(info.isEmpty());
    ASSERT_TRUE(zktest::chooseNativeWorkspace());
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/zephyl-kitty");
    const QString askText = QStringLiteral("half a thought about Friday");
    const QString assistantText = QStringLiteral("a draft for the assistant");
    const QString bothTyped = QStringLiteral("unsent: ask %1, assistant %2").arg(askText.size()).arg(assistantText.size());

    {
        auto app = std::make_unique<Application>(info, QString());
        {
            Step step("it signs in with the form");
            ASSERT_TRUE(app->saw(QStringLiteral("trace: started"))) << app->trace.toStdString();
            ASSERT_TRUE(app->keyboardIn(QStringLiteral("Zephyl"))) << app->trace.toStdString();
            type(QStringLiteral("kitty@example.com"));
            key(QStringLiteral("Tab"));
            type(QStringLiteral("meow-meow-meow"));
            key(QStringLiteral("Return"));
            ASSERT_TRUE(app->saw(QStringLiteral("trace: signed in: kitty@example.com"))) << app->trace.toStdString();
        }
        {
            Step step("the assistant and the ask panel hold typed text");
            // The conversation opens with its field ready for writing.
            type(assistantText);
            const qsizetype mark = app->mark();
            key(QStringLiteral("alt+space"));
            ASSERT_TRUE(app->saw(QStringLiteral("trace: ask panel: shown"), std::chrono::seconds(60), mark))
                << app->trace.toStdString();
            ASSERT_TRUE(app->keyboardIn(QStringLiteral("Ask the cat"))) << app->trace.toStdString();
            type(askText);
            ASSERT_TRUE(app->saw(bothTyped)) << app->trace.toStdString();
            // The line is told as the field changes; the record follows on disk.
            ASSERT_TRUE(zktest::spinUntil([&] {
                DefaultsStore stored(config + QStringLiteral("/defaults.json"));
                return UnsentTextStore(stored).load(QStringLiteral("kitty@example.com")) ==
                       UnsentTextStore::Text{assistantText, askText};
            }));
        }
        {
            Step step("the application is killed");
            app->kill();
        }
    }
    {
        Step step("after a restart the text is back");
        Application again(info, QString());
        ASSERT_TRUE(again.saw(QStringLiteral("trace: signed in: kitty@example.com"), std::chrono::seconds(90)))
            << again.trace.toStdString();
        ASSERT_TRUE(again.saw(bothTyped)) << again.trace.toStdString();
    }
}

TEST(Journey, TheNativeWorkspaceOverHttpsSignsInWithGoogleConnectsInstagramAndEndsAForgottenSession)
{
    // The native workspace against the https stand-in, as `scripts/run` starts
    // it: the service client and the sign-in window trust its certificate.
    // An account of its own: nothing of the earlier cases' accounts comes back.
    const QString email = QStringLiteral("tabby@example.com");
    Service service(email);
    ASSERT_FALSE(service.info.isEmpty()) << "the stand-in cannot listen";
    Standin::Server &server = service.server;
    ASSERT_TRUE(zktest::chooseNativeWorkspace());
    const QString draft = QStringLiteral("a caption idea for Sunday");
    const QString kept = QStringLiteral("unsent: ask 0, assistant %1").arg(draft.size());
    const auto shot = [](const QString &name) {
        if (qEnvironmentVariableIsSet("ZK_JOURNEY_SHOTS"))
            zktest::runTool(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                                       qEnvironmentVariable("ZK_JOURNEY_SHOTS") + u'/' + name + ".png"});
    };

    Application app(service.info, service.certificate);
    // Tab through the window until the button named has the keyboard.
    const auto focusOn = [&](const QString &label) -> testing::AssertionResult {
        for (int press = 0; press < 40; ++press) {
            const qsizetype mark = app.mark();
            key(QStringLiteral("Tab"));
            if (!app.saw(QStringLiteral("trace: keyboard: "), std::chrono::seconds(5), mark))
                continue;
            if (app.saw(QStringLiteral("trace: focus on: ") + label + u'\n', std::chrono::seconds(1), mark))
                return testing::AssertionSuccess();
        }
        return testing::AssertionFailure() << "no button \"" << label.toStdString() << "\" took the keyboard";
    };
    // The workspace window in front, holding the keyboard.
    const auto toWorkspace = [&] {
        xdotool({QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("^Zephyl$"),
                 QStringLiteral("windowactivate")});
        return app.keyboardIn(QStringLiteral("Zephyl"));
    };
    // "Continue with Google", then the provider's chooser, whose first account has the keyboard.
    const auto signInWithGoogle = [&] {
        const qsizetype mark = app.mark();
        ASSERT_TRUE(focusOn(QStringLiteral("Continue with Google"))) << app.trace.toStdString();
        key(QStringLiteral("space"));
        ASSERT_TRUE(app.keyboardIn(QStringLiteral("Sign in"))) << app.trace.toStdString();
        shot(QStringLiteral("native-google"));
        const QString signedIn = QStringLiteral("trace: signed in: ") + email;
        // Return picks the account once the chooser has loaded; keys go only
        // while the sign-in window has them.
        for (int press = 0; press < 20 && !app.saw(signedIn, std::chrono::seconds(3), mark); ++press) {
            if (app.trace.lastIndexOf(QStringLiteral("trace: keyboard: Sign in")) <
                app.trace.lastIndexOf(QStringLiteral("trace: keyboard: ")))
                continue;
            key(QStringLiteral("Return"));
        }
        ASSERT_TRUE(app.saw(signedIn, std::chrono::seconds(30), mark)) << app.trace.toStdString();
    };
    const auto ask = [&](const QString &command) { askTheCat(app, command); };
    const auto lastUnsent = [&] {
        const qsizetype at = app.trace.lastIndexOf(QStringLiteral("trace: unsent: "));
        return at < 0 ? QString() : app.trace.mid(at + 7).section(u'\n', 0, 0);
    };

    {
        Step step("it starts on the sign-in form, the service reached over https");
        ASSERT_TRUE(app.saw(QStringLiteral("trace: started"))) << app.trace.toStdString();
        ASSERT_TRUE(app.keyboardIn(QStringLiteral("Zephyl"))) << app.trace.toStdString();
        EXPECT_FALSE(app.trace.contains(QStringLiteral("secure connection"))) << app.trace.toStdString();
    }
    {
        Step step("\"Continue with Google\" signs in in the sign-in window");
        ASSERT_NO_FATAL_FAILURE(signInWithGoogle());
        EXPECT_EQ(server.count(QStringLiteral("/api/v1/auth/supabase/exchange")), 1);
        // The workspace opens on the conversation, its field ready for writing.
        ASSERT_TRUE(app.keyboardIn(QStringLiteral("Zephyl"))) << app.trace.toStdString();
        type(draft);
        ASSERT_TRUE(app.saw(kept)) << app.trace.toStdString();
    }
    {
        Step step("\"Connect Instagram\" on the profile connects the account");
        ASSERT_NO_FATAL_FAILURE(ask(QStringLiteral("open settings")));
        ASSERT_TRUE(app.saw(QStringLiteral("trace: surface: profile"))) << app.trace.toStdString();
        ASSERT_TRUE(toWorkspace()) << app.trace.toStdString();
        ASSERT_TRUE(focusOn(QStringLiteral("Connect Instagram"))) << app.trace.toStdString();
        key(QStringLiteral("space"));
        ASSERT_TRUE(app.saw(QStringLiteral("trace: instagram: @kitty.studio"))) << app.trace.toStdString();
        ASSERT_TRUE(app.saw(QStringLiteral("trace: notice: Connected as @kitty.studio"))) << app.trace.toStdString();
        // The feed of the account is loaded last.
        ASSERT_TRUE(zktest::spinUntil([&] { return server.count(QStringLiteral("/api/social/feed")) > 0; }));
        ASSERT_TRUE(app.saw(QStringLiteral("trace: say: @kitty.studio is connected."))) << app.trace.toStdString();
        shot(QStringLiteral("native-profile-connected"));
    }
    {
        Step step("the service forgets its sessions: the next call ends the session, the draft stays");
        server.forgetSessions();
        const qsizetype mark = app.mark();
        ASSERT_NO_FATAL_FAILURE(ask(QStringLiteral("open plan")));
        ASSERT_TRUE(app.saw(QStringLiteral("trace: signed out"), std::chrono::seconds(60), mark)) << app.trace.toStdString();
        ASSERT_TRUE(app.saw(QStringLiteral("trace: notice: Your session has expired. Sign in again."),
                            std::chrono::seconds(60), mark))
            << app.trace.toStdString();
        EXPECT_FALSE(app.trace.indexOf(QStringLiteral("refresh token"), mark) >= 0) << app.trace.toStdString();
        EXPECT_EQ(lastUnsent(), kept) << app.trace.toStdString();
        shot(QStringLiteral("native-expired"));
    }
    {
        Step step("signing in again brings the draft back");
        key(QStringLiteral("Escape"));
        ASSERT_TRUE(toWorkspace()) << app.trace.toStdString();
        const qsizetype mark = app.mark();
        ASSERT_NO_FATAL_FAILURE(signInWithGoogle());
        EXPECT_TRUE(app.saw(QStringLiteral("trace: instagram: @kitty.studio"), std::chrono::seconds(60), mark))
            << app.trace.toStdString();
        EXPECT_EQ(lastUnsent(), kept) << app.trace.toStdString();
    }
}

TEST(Journey, TheWebWorkspaceEndsASessionTheServiceForgotWhenTheCatIsAsked)
{
    // An account of its own: the conversation read back is this case's alone.
    const QString email = QStringLiteral("calico@example.com");
    Service service(email);
    ASSERT_FALSE(service.info.isEmpty()) << "the stand-in cannot listen";
    ASSERT_TRUE(zktest::chooseWorkspace(false));
    const QString question = QStringLiteral("how is my week looking");
    const QString expired = QStringLiteral("Your session has expired. Sign in again.");
    const auto conversation = [&] {
        DefaultsStore stored(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/zephyl-kitty/defaults.json"));
        QStringList lines;
        for (const CatChatLine &line : CatChatLine::load(RecordStore::of(stored), email))
            lines << line.text;
        return lines;
    };
    const auto keptForTheAccount = [&] {
        const QStringList lines = conversation();
        return lines.mid(lines.size() - 2) == QStringList{question, expired};
    };

    Application app(service.info, service.certificate);
    {
        Step step("it signs in on the page");
        ASSERT_TRUE(app.saw(QStringLiteral("trace: started"))) << app.trace.toStdString();
        const qsizetype mark = app.mark();
        ASSERT_NO_FATAL_FAILURE(signIn(app, email));
        // The loads after the sign-in end first: only the question meets the forgotten session.
        ASSERT_TRUE(zktest::spinUntil([&] {
            const qsizetype at = app.trace.lastIndexOf(QStringLiteral("trace: plan: "));
            return at > mark && !app.trace.mid(at).section(u'\n', 0, 0).contains(QStringLiteral("loading"));
        }, std::chrono::seconds(60))) << app.trace.toStdString();
    }
    {
        Step step("the service forgets its sessions; a question in the ask panel ends the session");
        service.server.forgetSessions();
        const qsizetype mark = app.mark();
        ASSERT_NO_FATAL_FAILURE(askTheCat(app, question));
        ASSERT_TRUE(app.saw(QStringLiteral("trace: signed out"), std::chrono::seconds(60), mark)) << app.trace.toStdString();
        EXPECT_TRUE(app.saw(QStringLiteral("trace: notice: ") + expired, std::chrono::seconds(60), mark))
            << app.trace.toStdString();
        EXPECT_TRUE(app.saw(QStringLiteral("trace: page: signIn"), std::chrono::seconds(60), mark))
            << app.trace.toStdString();
        EXPECT_EQ(service.server.count(QStringLiteral("/api/assistant")), 1);
        // What was asked, and the cat's answer, are kept for the account.
        EXPECT_TRUE(zktest::spinUntil(keptForTheAccount)) << conversation().join(u'|').toStdString();
    }
    {
        Step step("signing in again on the page brings the account back");
        key(QStringLiteral("Escape"));
        xdotool({QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("^Zephyl$"),
                 QStringLiteral("windowactivate")});
        const qsizetype mark = app.mark();
        ASSERT_NO_FATAL_FAILURE(signIn(app, email));
        EXPECT_TRUE(app.saw(QStringLiteral("trace: signed in: ") + email, std::chrono::seconds(60), mark))
            << app.trace.toStdString();
    }
}
