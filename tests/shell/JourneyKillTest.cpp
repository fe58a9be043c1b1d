// The application killed (SIGKILL) at random moments while the user types in
// the ask panel and in the assistant, and started again after each: every
// character it had taken, as its trace counted them, is back, for the account
// that typed them. ZK_KILL_ROUNDS (20 unless told) rounds; ZK_KILL_SEED repeats a run.
// The moment of each kill is a random number of keystrokes into the typing,
// taken as soon as the trace counts them.

#include "StandinServer.h"
#include "app/UnsentTextStore.h"
#include "base/DefaultsStore.h"
#include "base/RecordStore.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

namespace {

struct Application {
    QProcess process;
    QString trace;

    explicit Application(const QString &info)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ZEPHYL_TRACE"), QStringLiteral("1"));
        env.insert(QStringLiteral("ZEPHYL_BUNDLE_INFO"), info);
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process.setProcessEnvironment(env);
        QObject::connect(&process, &QProcess::readyReadStandardError,
                         [this] { trace += QString::fromUtf8(process.readAllStandardError()); });
        process.start(QStringLiteral(ZK_APP_BIN), QStringList());
    }
    ~Application() { kill(); }
    bool saw(const QString &line, qsizetype mark = 0, std::chrono::seconds limit = std::chrono::seconds(60))
    {
        const auto found = [&] { return trace.indexOf(line, mark) >= 0; };
        return zktest::spinUntil([&] { return found() || process.state() == QProcess::NotRunning; }, limit) && found();
    }
    // The last count of unsent characters the application told: (ask, assistant).
    std::optional<std::pair<int, int>> unsent(qsizetype from = 0) const
    {
        static const QRegularExpression line(QStringLiteral("trace: unsent: ask (\\d+), assistant (\\d+)"));
        std::optional<std::pair<int, int>> last;
        for (auto it = line.globalMatch(trace, from); it.hasNext();) {
            const auto m = it.next();
            last = std::pair(m.captured(1).toInt(), m.captured(2).toInt());
        }
        return last;
    }
    bool keyboardIn(const QString &where)
    {
        const QString prefix = QStringLiteral("trace: keyboard: ");
        return zktest::spinUntil([&] {
            const qsizetype at = trace.lastIndexOf(prefix);
            return at >= 0 && trace.mid(at + prefix.size()).section(u'\n', 0, 0) == where;
        }, std::chrono::seconds(30));
    }
    void kill()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.kill(); // SIGKILL: nothing of the application runs after it
        process.waitForFinished(10000);
    }
};

void key(const QString &keys) { zktest::runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}); }

} // namespace

TEST(JourneyKill, KilledAtRandomMomentsWhileTypingNothingTakenIsLost)
{
    const int rounds = qEnvironmentVariableIsSet("ZK_KILL_ROUNDS") ? qEnvironmentVariableIntValue("ZK_KILL_ROUNDS") : 20;
    const quint64 seed = qEnvironmentVariableIsSet("ZK_KILL_SEED") ? qEnvironmentVariable("ZK_KILL_SEED").toULongLong()
                                                                   : std::random_device{}();
    std::printf("journey kill: %d rounds, ZK_KILL_SEED=%llu\n", rounds, static_cast<unsigned long long>(seed));
    std::fflush(stdout);
    std::mt19937_64 random(seed);

    Standin::Server server;
    const QString kitty = QStringLiteral("kitty@example.com");
    server.addAccount(kitty, QStringLiteral("meow-meow-meow"), QStringLiteral("Kitty"));
    ASSERT_NE(server.start(0), 0) << "the stand-in cannot listen";
    const QString dir = zktest::tempDir();
    const QString info = dir + QStringLiteral("/info.json");
    {
        QFile file(info);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("{\"SORVANE_API_BASE_URL\": \"%1\", \"version\": \"dev\"}").arg(server.origin()).toUtf8());
    }
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/zephyl-kitty");
    QDir().mkpath(config);
    {
        QFile defaults(config + QStringLiteral("/defaults.json"));
        ASSERT_TRUE(defaults.open(QIODevice::WriteOnly));
        defaults.write("{\"zephyl.mac.workspace.native\": true}");
    }

    std::pair<int, int> taken{0, 0};
    {
        SCOPED_TRACE("the first start signs in with the form");
        Application app(info);
        ASSERT_TRUE(app.saw(QStringLiteral("trace: started"))) << app.trace.toStdString();
        ASSERT_TRUE(app.keyboardIn(QStringLiteral("Zephyl"))) << app.trace.toStdString();
        zktest::runTool(QStringLiteral("xdotool"), {QStringLiteral("type"), kitty});
        key(QStringLiteral("Tab"));
        zktest::runTool(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("meow-meow-meow")});
        key(QStringLiteral("Return"));
        ASSERT_TRUE(app.saw(QStringLiteral("trace: signed in: ") + kitty)) << app.trace.toStdString();
    }

    for (int round = 1; round <= rounds + 1; ++round) {
        const bool ask = random() % 2 == 0;
        const int keystrokes = 1 + int(random() % 12);
        std::printf("round %d: %s, killed %d keystrokes in\n", round, ask ? "ask panel" : "assistant", keystrokes);
        std::fflush(stdout);
        SCOPED_TRACE(testing::Message() << "round " << round << " of ZK_KILL_SEED=" << seed);
        Application app(info);
        ASSERT_TRUE(app.saw(QStringLiteral("trace: signed in: ") + kitty, 0, std::chrono::seconds(90)))
            << app.trace.toStdString();
        // Every character told as taken before the last kill is back, for this
        // account: at most the keystroke the kill cut off between its write and
        // its trace line comes on top, and nothing that was never typed.
        // (Empty texts restored change nothing, and the trace tells nothing then.)
        const auto told = [&] {
            return app.unsent(app.trace.indexOf(QStringLiteral("trace: signed in"))).value_or(std::pair(0, 0));
        };
        ASSERT_TRUE(zktest::spinUntil([&] { return told().first >= taken.first && told().second >= taken.second; }))
            << "told as taken: ask " << taken.first << ", assistant " << taken.second << "\n" << app.trace.toStdString();
        DefaultsStore settings(config + QStringLiteral("/defaults.json"));
        const UnsentTextStore::Text stored = UnsentTextStore(settings).load(kitty);
        const std::pair<int, int> restored(int(stored.ask.size()), int(stored.assistant.size()));
        EXPECT_EQ(told(), restored);
        EXPECT_LE(restored.first + restored.second, taken.first + taken.second + 1);
        static const QRegularExpression typed(QStringLiteral("^[a-t ]*$"));
        EXPECT_TRUE(typed.match(stored.ask).hasMatch() && typed.match(stored.assistant).hasMatch());
        taken = restored;
        if (round > rounds)
            break;

        if (ask) {
            // A press the window manager took while the window was still arriving is pressed again.
            bool shown = false;
            for (int press = 0; press < 3 && !shown; ++press) {
                const qsizetype mark = app.trace.size();
                key(QStringLiteral("alt+space"));
                shown = app.saw(QStringLiteral("trace: ask panel: shown"), mark, std::chrono::seconds(10));
            }
            ASSERT_TRUE(shown) << app.trace.toStdString();
            ASSERT_TRUE(app.keyboardIn(QStringLiteral("Ask the cat"))) << app.trace.toStdString();
        } else {
            ASSERT_TRUE(app.keyboardIn(QStringLiteral("Zephyl"))) << app.trace.toStdString();
        }
        // Typed as a hand types, in another process, while the application is killed.
        QProcess typing;
        const QString text = QStringLiteral("abcdefghij klmnopqrst").left(keystrokes + 6);
        const qsizetype mark = app.trace.size();
        typing.start(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("25"), text});
        const auto count = [&] {
            const auto now = app.unsent(mark);
            return now ? (ask ? now->first - taken.first : now->second - taken.second) : 0;
        };
        ASSERT_TRUE(zktest::spinUntil([&] { return count() >= keystrokes; }, std::chrono::seconds(30)))
            << "the field took " << count() << " of " << keystrokes << "\n" << app.trace.toStdString();
        app.kill();
        typing.kill();
        typing.waitForFinished(5000);
        // A key the typing was holding when it was stopped is let go.
        zktest::runTool(QStringLiteral("xdotool"), QStringList{QStringLiteral("keyup")} + text.split(QString(), Qt::SkipEmptyParts).replaceInStrings(QStringLiteral(" "), QStringLiteral("space")));
        if (const auto last = app.unsent(mark))
            taken = *last;
    }
    // Nobody else's record was ever written.
    EXPECT_EQ(QDir(config + QStringLiteral("/records")).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
              QStringList{RecordStore::folderName(kitty)});
}
