// The updater end to end against the https stand-in: a signed update is kept,
// installed into a test prefix at quit and restarted into; tampered, foreign-
// signed, downgrading and plain-http updates are refused and nothing changes.
#include <gtest/gtest.h>

#include "ArchiveMaker.h"
#include "UpdateFakes.h"
#include "UpdateRoutes.h"
#include "VirtualTime.h"
#include "WebApp.h"
#include "base/DefaultsStore.h"
#include "shell/UpdateEngine.h"
#include "shell/Updates.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void write(const QString &path, const QByteArray &bytes, bool runnable = false)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    f.close();
    if (runnable)
        f.setPermissions(f.permissions() | QFile::ExeOwner);
}

class RecordingDelegate final : public UpdaterDelegate {
public:
    std::optional<QString> feed;
    QList<AppcastItem> ready;
    QList<AppcastItem> offered;
    std::function<void()> installNow;
    QList<std::optional<UpdateError>> finished;
    bool postpone = false;

    std::optional<QString> feedURLString() override { return feed; }
    bool shouldPostponeRelaunch(const AppcastItem &, std::function<void()>) override { return postpone; }
    bool willInstallUpdateOnQuit(const AppcastItem &item, std::function<void()> now) override
    {
        ready << item;
        installNow = std::move(now);
        return true;
    }
    void didFinishUpdateCycle(std::optional<UpdateError> error) override { finished << error; }
    void willHandleShowingUpdate(bool updaterShowsIt, const AppcastItem &item) override
    {
        if (!updaterShowsIt)
            offered << item;
    }
    void didReceiveUserAttention(const AppcastItem &) override {}
    void willFinishUpdateSession() override {}
};

class RecordingDriver final : public UpdateEngine::UserDriver {
public:
    QStringList said;
    void showUpToDate() override { said << "up to date"; }
    void showFailure(UpdateError e) override { said << QStringLiteral("failure %1").arg(int(e)); }
    void showInstalledElsewhere(const AppcastItem &item) override { said << "elsewhere " + item.displayVersionString; }
    void showReady(const AppcastItem &item, std::function<void()>, std::function<void()>) override
    {
        said << "ready " + item.displayVersionString;
    }
};

// The updater under the application's schedule, on virtual time.
struct Scheduled {
    Scheduled(UpdateEngine::Config c, UpdateEngine::UserDriver *driver, DefaultsStore &store, FakeClock &clock)
        : engine(on(std::move(c), store, clock), driver),
          updates(engine, prompt, Updates::Environment{[] { return true; }, [] { return QStringLiteral("1"); }}, &store,
                  &clock)
    {
    }
    static UpdateEngine::Config on(UpdateEngine::Config c, DefaultsStore &store, FakeClock &clock)
    {
        c.clock = &clock;
        c.defaults = &store;
        return c;
    }
    UpdateEngine engine;
    FakePrompt prompt;
    Updates updates;
};

class UpdaterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = zktest::tempDir();
        prefix = root + "/prefix";
        write(prefix + "/bin/zephyl-kitty", "#!/bin/sh\necho old > \"$ZK_MARK\"\n", true);
        write(prefix + "/share/zephyl-kitty/info.json", R"({"version": "1.0", "build": "1"})");
        write(prefix + "/share/zephyl-kitty/Web/zephyl-mac.js", "// page script old\n");
        port = Standin::startSecure(server);
        ASSERT_NE(port, 0);
        // The feed names archives on the server's own https origin.
        Standin::addUpdateRoutes(server, releases, Standin::secureOrigin(server));
    }

    UpdateEngine::Config config()
    {
        UpdateEngine::Config c;
        c.publicKey = keys.publicKey;
        c.feed = QUrl(Standin::secureOrigin(server) + "/updates/appcast.xml");
        c.runningBuild = "1";
        c.prefix = prefix;
        c.stagingFolder = root + "/staging";
        c.extraCertificates = {Standin::certificate()};
        c.quit = [this] { ++quits; };
        c.launch = [this](const QString &program) {
            launched << program;
            return true;
        };
        c.defaults = &store;
        return c;
    }

    void offer(const QString &build, const QString &version, const QByteArray &archive, const QByteArray &signature,
               const QString &notes = "<p>Calmer naps.</p>")
    {
        releases.items = {Standin::Release{build, version, notes, "zephyl-kitty-" + version + ".tar.gz", archive, signature}};
    }

    std::optional<UpdateError> runCycle(UpdateEngine &engine, bool user = false)
    {
        QSignalSpy ended(&engine, &UpdateEngine::cycleEnded);
        user ? engine.checkForUpdates() : engine.checkForUpdatesInBackground();
        EXPECT_TRUE(zktest::spinUntil([&] { return !ended.isEmpty(); }));
        return ended.isEmpty() ? std::optional<UpdateError>(UpdateError::network)
                               : ended.first().first().value<std::optional<UpdateError>>();
    }

    void expectUnchanged()
    {
        EXPECT_EQ(readAll(prefix + "/bin/zephyl-kitty"), QByteArray("#!/bin/sh\necho old > \"$ZK_MARK\"\n"));
        EXPECT_EQ(readAll(prefix + "/share/zephyl-kitty/info.json"), QByteArray(R"({"version": "1.0", "build": "1"})"));
    }

    QString root, prefix;
    Standin::Server server;
    Standin::Releases releases;
    quint16 port = 0;
    DefaultsStore store;
    ArchiveMaker::Keys keys = ArchiveMaker::keys(42);
    RecordingDelegate delegate;
    RecordingDriver driver;
    int quits = 0;
    QStringList launched;
};

} // namespace

TEST_F(UpdaterTest, SignedUpdateIsKeptInstalledAtQuitAndRestartedInto)
{
    const QByteArray archive = ArchiveMaker::tarGz(ArchiveMaker::release("2", "1.1", "new"));
    offer("2", "1.1", archive, ArchiveMaker::sign(archive, keys));
    // Around it, a build between the running one and the newest (1.5 ranks
    // between 1 and 2), listed both before and after it, and an older one.
    const QByteArray between = ArchiveMaker::tarGz(ArchiveMaker::release("1.5", "1.0.5", "between"));
    const QByteArray older = ArchiveMaker::tarGz(ArchiveMaker::release("0", "0.9", "older"));
    const Standin::Release middle{"1.5", "1.0.5", "", "between.tar.gz", between, ArchiveMaker::sign(between, keys)};
    releases.items.prepend(middle);
    releases.items.append(middle);
    releases.items.append({"0", "0.9", "", "older.tar.gz", older, ArchiveMaker::sign(older, keys)});
    UpdateEngine engine(config(), &driver);
    engine.setDelegate(&delegate);
    EXPECT_EQ(engine.kind(), UpdateInstaller::Kind::selfUpdating);
    EXPECT_FALSE(engine.canCheckForUpdates()); // not started
    engine.start();
    ASSERT_TRUE(engine.canCheckForUpdates());

    EXPECT_EQ(runCycle(engine), std::nullopt);
    ASSERT_EQ(delegate.ready.size(), 1);
    EXPECT_EQ(delegate.ready[0].versionString, "2");
    EXPECT_EQ(delegate.ready[0].displayVersionString, "1.1");
    EXPECT_EQ(server.count("/updates/between.tar.gz"), 0);
    EXPECT_EQ(delegate.ready[0].itemDescription, "<p>Calmer naps.</p>");
    EXPECT_TRUE(delegate.finished.isEmpty()); // the cycle stays open while the update waits
    EXPECT_TRUE(engine.lastUpdateCheckDate().has_value());
    expectUnchanged(); // nothing is installed before quitting

    // A second check finds the same build and does not fetch it again.
    const int fetches = server.count("/updates/zephyl-kitty-1.1.tar.gz");
    EXPECT_EQ(runCycle(engine), std::nullopt);
    EXPECT_EQ(server.count("/updates/zephyl-kitty-1.1.tar.gz"), fetches);

    // "Update": nothing holds the restart back, so the application quits ...
    delegate.installNow();
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(engine.relaunchRequested());
    // ... installs at quit, and starts the new copy.
    QString why;
    ASSERT_TRUE(engine.finishOnQuit(&why)) << why.toStdString();
    EXPECT_EQ(readAll(prefix + "/share/zephyl-kitty/info.json"), QByteArray(R"({"version": "1.1", "build": "2"})"));
    EXPECT_EQ(readAll(prefix + "/share/zephyl-kitty/Web/zephyl-mac.js"), QByteArray("// page script new\n"));
    EXPECT_EQ(launched, QStringList{prefix + "/bin/zephyl-kitty"});
    const QString mark = root + "/mark";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZK_MARK", mark);
    QProcess relaunched;
    relaunched.setProcessEnvironment(env);
    relaunched.start(launched.first(), {});
    ASSERT_TRUE(relaunched.waitForFinished(30000));
    EXPECT_EQ(readAll(mark), QByteArray("new\n"));
    EXPECT_FALSE(QFileInfo::exists(root + "/staging/update.archive"));
    // Nothing of the work is left beside the installation.
    EXPECT_EQ(QDir(prefix).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              (QStringList{"bin", "share"}));
}

// What is installed at quit is checked again, from a single reading of the
// file: an archive changed after it was kept is refused, the installation stays.
TEST_F(UpdaterTest, ArchiveChangedAfterItWasKeptIsNotInstalled)
{
    const QByteArray archive = ArchiveMaker::tarGz(ArchiveMaker::release("2", "1.1", "new"));
    offer("2", "1.1", archive, ArchiveMaker::sign(archive, keys));
    UpdateEngine engine(config(), &driver);
    engine.setDelegate(&delegate);
    engine.start();
    ASSERT_EQ(runCycle(engine), std::nullopt);
    ASSERT_TRUE(engine.staged().has_value());
    ASSERT_TRUE(QFileInfo::exists(root + "/staging/update.archive"));

    // A well-formed archive of the same build, not signed, put in its place.
    write(root + "/staging/update.archive", ArchiveMaker::tarGz(ArchiveMaker::release("2", "1.1", "swapped")));
    delegate.installNow();
    QString why;
    EXPECT_FALSE(engine.finishOnQuit(&why));
    EXPECT_FALSE(why.isEmpty());
    expectUnchanged();
    EXPECT_FALSE(QFileInfo::exists(root + "/staging/update.archive"));
    // The restart that was asked for starts the copy that is there.
    EXPECT_EQ(launched, QStringList{prefix + "/bin/zephyl-kitty"});
}

// "Check for Updates…" while a quiet check runs: that check answers the user.
TEST_F(UpdaterTest, CheckAskedForDuringAQuietOneAnswersTheUser)
{
    const QByteArray archive = ArchiveMaker::tarGz(ArchiveMaker::release("2", "1.1", "new"));
    // A feed the server refuses is a failed check, never "up to date".
    const struct {
        bool offered;
        int feedStatus;
        QString said;
    } rows[] = {
        {true, 200, QStringLiteral("ready 1.1")},
        {false, 200, QStringLiteral("up to date")},
        {true, 503, QStringLiteral("failure %1").arg(int(UpdateError::network))},
        {false, 404, QStringLiteral("failure %1").arg(int(UpdateError::network))},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.said.toStdString());
        releases.items.clear();
        server.clearFaults();
        if (row.offered)
            offer("2", "1.1", archive, ArchiveMaker::sign(archive, keys));
        if (row.feedStatus != 200)
            server.addFault({Standin::Fault::Kind::serverError, "/updates/appcast.xml", row.feedStatus, std::nullopt});
        RecordingDelegate d;
        UpdateEngine engine(config(), &driver);
        engine.setDelegate(&d);
        engine.start();
        driver.said.clear();
        QSignalSpy ended(&engine, &UpdateEngine::cycleEnded);
        engine.checkForUpdatesInBackground();
        ASSERT_FALSE(engine.canCheckForUpdates()); // the quiet check is under way
        engine.checkForUpdates();
        ASSERT_TRUE(zktest::spinUntil([&] { return !ended.isEmpty(); }));
        EXPECT_EQ(driver.said, QStringList{row.said});
    }
}

TEST_F(UpdaterTest, RefusedUpdatesInstallNothing)
{
    const QByteArray good = ArchiveMaker::tarGz(ArchiveMaker::release("2", "1.1", "new"));
    QByteArray tampered = good;
    tampered[tampered.size() - 30] = char(tampered[tampered.size() - 30] ^ 0x20);
    const QByteArray older = ArchiveMaker::tarGz(ArchiveMaker::release("1", "1.0", "old-signed"));
    const QByteArray between = ArchiveMaker::tarGz(ArchiveMaker::release("2", "1.1", "between-signed"));
    const QByteArray beyond = ArchiveMaker::tarGz(ArchiveMaker::release("4", "1.3", "beyond-signed"));
    const QByteArray evil = ArchiveMaker::tarGz(
        {{"bin/zephyl-kitty", "#!/bin/sh\n", 0755}, {"share/zephyl-kitty/info.json", R"({"version":"9","build":"9"})"},
         {"share/zephyl-kitty/../../../../escape", "x"}});
    struct Case {
        const char *name;
        QString build;
        QByteArray archive;
        QByteArray signature;
        qint64 announced = -1;
    };
    const std::vector<Case> cases = {
        {"tampered archive", "2", tampered, ArchiveMaker::sign(good, keys)},
        {"signed with another key", "2", good, ArchiveMaker::sign(good, ArchiveMaker::keys(43))},
        {"signed older build offered as newer", "3", older, ArchiveMaker::sign(older, keys)},
        // Newer than the running build, but not the build offered.
        {"signed build between the running and the offered one", "3", between, ArchiveMaker::sign(between, keys)},
        {"signed build above the offered one", "3", beyond, ArchiveMaker::sign(beyond, keys)},
        {"signed archive with a climbing path", "9", evil, ArchiveMaker::sign(evil, keys)},
        {"longer than announced", "2", good, ArchiveMaker::sign(good, keys), good.size() - 10},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        releases.items = {Standin::Release{c.build, "x", "", "a.tar.gz", c.archive, c.signature, c.announced}};
        RecordingDelegate d;
        UpdateEngine engine(config(), &driver);
        engine.setDelegate(&d);
        engine.start();
        const auto error = runCycle(engine);
        EXPECT_TRUE(error == UpdateError::badArchive || error == UpdateError::network) << int(error.value_or(UpdateError::disabled));
        EXPECT_TRUE(d.ready.isEmpty());
        ASSERT_EQ(d.finished.size(), 1);
        EXPECT_FALSE(engine.staged().has_value());
        EXPECT_FALSE(engine.finishOnQuit());
        EXPECT_FALSE(QFileInfo::exists(root + "/staging/incoming.part"));
        expectUnchanged();
    }
    EXPECT_TRUE(launched.isEmpty());

    // At quit the installer checks the build again: a validly signed archive of
    // another build than the one kept is not installed.
    for (const QByteArray &other : {older, between}) {
        const QString kept = root + "/kept.archive";
        write(kept, other);
        QString why;
        EXPECT_FALSE(UpdateInstaller::install(kept, ArchiveMaker::sign(other, keys), keys.publicKey, "3", prefix, &why));
        EXPECT_FALSE(why.isEmpty());
        expectUnchanged();
    }
}

// The quiet check at start fails (the feed answers 503): the policy's hourly
// check still runs, and keeps and offers the update it then finds.
TEST_F(UpdaterTest, AFailedStartUpCheckIsFollowedByTheHourlyOne)
{
    const QByteArray archive = ArchiveMaker::tarGz(ArchiveMaker::release("2", "1.1", "new"));
    offer("2", "1.1", archive, ArchiveMaker::sign(archive, keys));
    server.addFault({Standin::Fault::Kind::serverError, "/updates/appcast.xml", 503, std::nullopt, 0, 1});
    FakeClock clock;
    Scheduled scheduled(config(), &driver, store, clock);
    UpdateEngine &engine = scheduled.engine;
    Updates &updates = scheduled.updates;
    FakePrompt &prompt = scheduled.prompt;
    QSignalSpy ended(&engine, &UpdateEngine::cycleEnded);
    updates.start();
    ASSERT_TRUE(zktest::spinUntil([&] { return ended.size() == 1; }));
    EXPECT_EQ(ended[0].first().value<std::optional<UpdateError>>(), UpdateError::network);
    EXPECT_EQ(engine.lastUpdateCheckDate(), clock.now());
    EXPECT_TRUE(driver.said.isEmpty()) << "a quiet check tells the user nothing";

    advanceVirtual(clock, 3590); // within the hour: no second check
    EXPECT_EQ(ended.size(), 1);
    EXPECT_EQ(server.count("/updates/appcast.xml"), 1);
    advanceVirtual(clock, 60); // the first minute tick past the hour
    ASSERT_TRUE(zktest::spinUntil([&] { return ended.size() == 2; }));
    EXPECT_EQ(ended[1].first().value<std::optional<UpdateError>>(), std::nullopt);
    EXPECT_EQ(updates.readyVersion(), QStringLiteral("1.1"));
    ASSERT_EQ(prompt.shown.size(), 1);
    EXPECT_EQ(prompt.shown[0].build, QStringLiteral("2"));
}

// A last check dated ahead of the clock (written while it ran fast) lets the
// start-up check through; that check, fetched or refused before any fetch,
// dates itself now, so the minute ticks that follow do not check again.
TEST_F(UpdaterTest, ALastCheckDatedAheadIsFollowedByOneCheckNotOneAMinute)
{
    const qint64 reference = QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    for (const QString &feed : {QString(), QString("http://127.0.0.1:9/updates/appcast.xml")}) {
        SCOPED_TRACE(feed.isEmpty() ? "the built-in feed" : "a plain-http feed in the settings");
        DefaultsStore defaults;
        FakeClock clock;
        defaults.setNumber("zephyl.mac.update.lastCheckedAt",
                           (clock.now().addDays(30).toMSecsSinceEpoch() - reference) / 1000.0);
        if (!feed.isEmpty())
            defaults.setString("zephyl.mac.rehearse.feed", feed);
        Scheduled scheduled(config(), &driver, defaults, clock);
        UpdateEngine &engine = scheduled.engine;
        QSignalSpy ended(&engine, &UpdateEngine::cycleEnded);
        const int fetchedBefore = server.count("/updates/appcast.xml");
        scheduled.updates.start();
        ASSERT_TRUE(zktest::spinUntil([&] { return ended.size() == 1; }));
        EXPECT_EQ(engine.lastUpdateCheckDate(), clock.now()) << "the date ahead is replaced by the check's own";
        advanceVirtual(clock, 600); // ten minute ticks
        EXPECT_EQ(ended.size(), 1);
        EXPECT_EQ(server.count("/updates/appcast.xml") - fetchedBefore, feed.isEmpty() ? 1 : 0);
    }
}

// The feed address in the settings can be written by any program: a plain-http
// one is not even fetched, and an https one is only as good as its signatures.
TEST_F(UpdaterTest, FeedAddressFromTheSettingsMustBeHttps)
{
    Standin::Server plain;
    Standin::Releases plainReleases;
    Standin::addUpdateRoutes(plain, plainReleases, QString());
    ASSERT_NE(plain.start(), 0);
    const QByteArray archive = ArchiveMaker::tarGz(ArchiveMaker::release("2", "1.1", "new"));
    plainReleases.items = {Standin::Release{"2", "1.1", "", "a.tar.gz", archive, ArchiveMaker::sign(archive, keys)}};

    for (const QString &feed : {plain.origin() + "/updates/appcast.xml", QString("file:///etc/passwd"), QString("not a url"),
                                QString("ftp://127.0.0.1/feed")}) {
        SCOPED_TRACE(feed.toStdString());
        RecordingDelegate d;
        d.feed = feed;
        UpdateEngine engine(config(), &driver);
        engine.setDelegate(&d);
        engine.start();
        driver.said.clear();
        EXPECT_EQ(runCycle(engine, true), UpdateError::insecureFeed);
        EXPECT_EQ(driver.said, QStringList{QString("failure %1").arg(int(UpdateError::insecureFeed))});
        EXPECT_TRUE(d.ready.isEmpty());
    }
    EXPECT_EQ(plain.seen().size(), 0);

    // An https feed elsewhere is read, but an archive not signed with the
    // built-in key is refused.
    const auto foreign = ArchiveMaker::keys(99);
    offer("2", "1.1", archive, ArchiveMaker::sign(archive, foreign));
    RecordingDelegate d;
    d.feed = Standin::secureOrigin(server) + "/updates/appcast.xml";
    UpdateEngine engine(config(), &driver);
    engine.setDelegate(&d);
    engine.start();
    EXPECT_EQ(runCycle(engine), UpdateError::badArchive);
    EXPECT_FALSE(engine.finishOnQuit());
    expectUnchanged();
}

TEST_F(UpdaterTest, HostileFeedsAndOtherInstallations)
{
    UpdateEngine engine(config(), &driver);
    engine.setDelegate(&delegate);
    engine.start();
    const QByteArray feeds[] = {
        "<rss><channel><item><zk:build>2</zk:build>",
        QByteArray(2 << 20, '<'),
        "\xff\xfe garbage",
        R"(<?xml version="1.0"?><!DOCTYPE r [<!ENTITY x SYSTEM "file:///etc/passwd">]><rss><channel><item>&x;</item></channel></rss>)",
    };
    for (const QByteArray &feed : feeds) {
        releases.rawFeed = feed;
        const auto error = runCycle(engine);
        EXPECT_TRUE(!error || error == UpdateError::network); // up to date, or refused for its size
        EXPECT_TRUE(delegate.ready.isEmpty());
    }
    releases.rawFeed.reset();

    // A copy the user cannot update only hears of the new version.
    const QByteArray archive = ArchiveMaker::tarGz(ArchiveMaker::release("2", "1.1", "new"));
    offer("2", "1.1", archive, ArchiveMaker::sign(archive, keys));
    auto packaged = config();
    packaged.kind = UpdateInstaller::Kind::packaged;
    RecordingDelegate d;
    UpdateEngine system(packaged, &driver);
    system.setDelegate(&d);
    system.start();
    server.clearSeen();
    EXPECT_EQ(runCycle(system), std::nullopt);
    ASSERT_EQ(d.offered.size(), 1); // the application shows it in its prompt
    driver.said.clear();
    EXPECT_EQ(runCycle(system, true), std::nullopt);
    EXPECT_EQ(driver.said, QStringList{"elsewhere 1.1"});
    EXPECT_EQ(server.count("/updates/zephyl-kitty-1.1.tar.gz"), 0); // never downloaded
    EXPECT_FALSE(system.finishOnQuit());
    expectUnchanged();

    // A build without a key checks nothing.
    auto keyless = config();
    keyless.publicKey.clear();
    UpdateEngine off(keyless, &driver);
    off.start();
    EXPECT_FALSE(off.canCheckForUpdates());
    // A build tree is no installation to update, nor is a prefix without the
    // program or without its folder.
    EXPECT_EQ(UpdateInstaller::kind(QStringLiteral(ZK_BUILD_BUNDLE_DIR "/../..")), UpdateInstaller::Kind::notInstalled);
    EXPECT_EQ(UpdateInstaller::kind(prefix), UpdateInstaller::Kind::selfUpdating);
    QFile::remove(prefix + "/bin/zephyl-kitty");
    EXPECT_EQ(UpdateInstaller::kind(prefix), UpdateInstaller::Kind::notInstalled);
    write(prefix + "/bin/zephyl-kitty", "#!/bin/sh\n", true);
    QDir(prefix + "/share/zephyl-kitty").removeRecursively();
    EXPECT_EQ(UpdateInstaller::kind(prefix), UpdateInstaller::Kind::notInstalled);
}
