// The shell's headless parts: the tray menu as data, the feed and version
// rules, archive checks, the login item and the single instance.
#include <gtest/gtest.h>

#include "ArchiveMaker.h"
#include "base/DefaultsStore.h"
#include "design/L10n.h"
#include "shell/Appcast.h"
#include "shell/LoginItem.h"
#include "shell/QuitOnSignals.h"
#include "shell/SingleInstance.h"
#include "shell/StatusMenuModel.h"
#include "shell/UpdateArchive.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using StatusMenu::Command;

namespace {

QStringList titles(const std::vector<StatusMenu::Entry> &entries)
{
    QStringList out;
    for (const auto &e : entries)
        out << (e.separator ? QStringLiteral("---") : e.title);
    return out;
}

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

} // namespace

// ---- Tray menu

TEST(StatusMenuData, ItemsPerFocusPhaseAndUpdate)
{
    L10n::setPreference(AppLanguage::en);
    const QStringList tail = {QStringLiteral("New publication"), QStringLiteral("---"), QStringLiteral("Show the companion"),
                              QStringLiteral("Your cat…"), QStringLiteral("Show what the cat does"),
                              QStringLiteral("Check for Updates…"), QStringLiteral("---"), QStringLiteral("Quit Zephyl Kitty")};
    struct Case {
        const char *name;
        FocusSession::Phase phase;
        std::optional<QString> ready;
        QStringList head;
    };
    const std::vector<Case> cases = {
        {"idle", FocusSession::Phase::idle(), std::nullopt,
         {"Ask the cat", "Open Zephyl", "---", "Start focus (40 min)"}},
        {"working", FocusSession::Phase::working(), std::nullopt,
         {"Ask the cat", "Open Zephyl", "---", "End focus session"}},
        {"resting", FocusSession::Phase::resting(), std::nullopt,
         {"Ask the cat", "Open Zephyl", "---", "End focus session"}},
        {"paused", FocusSession::Phase::paused(true), std::nullopt,
         {"Ask the cat", "Open Zephyl", "---", "End focus session"}},
        {"ready update", FocusSession::Phase::idle(), QStringLiteral("2.1"),
         {"Update to 2.1 and restart", "---", "Ask the cat", "Open Zephyl", "---", "Start focus (40 min)"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        StatusMenu::State state;
        state.focus.phase = c.phase;
        state.focus.workMinutes = 40;
        state.readyVersion = c.ready;
        const auto entries = StatusMenu::entries(state);
        EXPECT_EQ(titles(entries), c.head + tail);
        const auto &focusItem = entries[c.head.size() - 1];
        EXPECT_EQ(*focusItem.command,
                  c.phase.kind == FocusSession::Phase::Kind::idle ? Command::startFocus : Command::endFocus);
        if (c.ready) {
            EXPECT_EQ(*entries.front().command, Command::installUpdate);
        }
    }
}

TEST(StatusMenuData, CompanionCheckMarkShortcutsAndCommands)
{
    L10n::setPreference(AppLanguage::en);
    for (const bool enabled : {true, false}) {
        StatusMenu::State state;
        state.companionEnabled = enabled;
        const auto entries = StatusMenu::entries(state);
        std::vector<std::optional<Command>> commands;
        for (const auto &e : entries) {
            commands.push_back(e.command);
            if (e.title == QStringLiteral("Show the companion")) {
                EXPECT_TRUE(e.checkable);
                EXPECT_EQ(e.checked, enabled);
            } else {
                EXPECT_FALSE(e.checkable) << e.title.toStdString();
            }
        }
        const std::vector<std::optional<Command>> expected = {
            Command::askTheCat,  Command::openZephyl,  std::nullopt,  Command::startFocus,
            Command::newPublication, std::nullopt,   Command::toggleCompanion, Command::yourCat,
            Command::showDemo,   Command::checkForUpdates, std::nullopt, Command::quit};
        EXPECT_EQ(commands, expected);
        EXPECT_EQ(entries.front().shortcut, QStringLiteral("Alt+Space"));
        EXPECT_EQ(entries.back().shortcut, QStringLiteral("Ctrl+Q"));
    }
    // Translated titles follow the language.
    L10n::setPreference(AppLanguage::de);
    EXPECT_EQ(StatusMenu::entries({}).front().title, QStringLiteral("Frag die Katze"));
    L10n::setPreference(AppLanguage::en);
}

// ---- Feed and versions

TEST(AppcastRules, NumericVersionComparison)
{
    struct Case {
        const char *a, *b;
        int expected;
    };
    const Case cases[] = {{"10", "9", 1},        {"9", "10", -1},        {"1.10", "1.9", 1}, {"1.2", "1.2", 0},
                          {"1.2.1", "1.2", 1},   {"0", "1", -1},         {"007", "7", 0},    {"2b", "2a", 1},
                          {"100000000000000000000", "99999999999999999999", 1}, {"", "0", -1}};
    for (const Case &c : cases)
        EXPECT_EQ(Appcast::compareVersions(QString::fromLatin1(c.a), QString::fromLatin1(c.b)), c.expected)
            << c.a << " vs " << c.b;

    // Only ASCII digits are numbers; other scripts' digits and letters are
    // characters, and a number meets a character as plain text does.
    const struct {
        QString a, b;
        int expected;
    } wide[] = {
        {QStringLiteral("5"), QStringLiteral("٣"), -1},   // an Arabic-Indic 3 is a character above every ASCII digit
        {QStringLiteral("10"), QStringLiteral("A"), -1},
        {QStringLiteral("A"), QStringLiteral("٢"), -1},
        {QStringLiteral("10"), QStringLiteral("٢"), -1},
        {QStringLiteral("1.٢"), QStringLiteral("1.10"), 1},
        {QStringLiteral("2٣"), QStringLiteral("2٣"), 0},
        {QStringLiteral("1-"), QStringLiteral("10"), -1}, // "-" is below the digits
    };
    for (const auto &c : wide) {
        EXPECT_EQ(Appcast::compareVersions(c.a, c.b), c.expected) << c.a.toStdString() << " vs " << c.b.toStdString();
        EXPECT_EQ(Appcast::compareVersions(c.b, c.a), -c.expected) << c.b.toStdString() << " vs " << c.a.toStdString();
    }
    // Transitive over a mixed set: sorted once, every pair agrees with the order.
    QStringList builds{QStringLiteral("10"), QStringLiteral("A"), QStringLiteral("٢"), QStringLiteral("9"),
                       QStringLiteral("1.2"), QStringLiteral("1.10"), QStringLiteral("a1"), QStringLiteral("٣٤"),
                       QStringLiteral("10a"), QStringLiteral("010"), QStringLiteral("-1"), QStringLiteral("Z9")};
    std::sort(builds.begin(), builds.end(),
              [](const QString &x, const QString &y) { return Appcast::compareVersions(x, y) < 0; });
    for (qsizetype i = 0; i < builds.size(); ++i) {
        for (qsizetype k = i + 1; k < builds.size(); ++k)
            EXPECT_LE(Appcast::compareVersions(builds[i], builds[k]), 0)
                << builds[i].toStdString() << " vs " << builds[k].toStdString();
    }
}

TEST(AppcastRules, ParseKeepsOnlyCompleteHttpsItemsAndPicksTheNewest)
{
    const QByteArray sig = QByteArray(64, 'x').toBase64();
    const QByteArray feed = R"(<?xml version="1.0"?>
<rss version="2.0" xmlns:zk="https://www.sorvane.app/xmlns/zephyl-update"><channel>
 <item><zk:build>9</zk:build><zk:version>0.9</zk:version><description>&lt;p&gt;Old&lt;/p&gt;</description>
  <enclosure url="https://example.org/9.tar.gz" length="10" zk:signature=")" + sig + R"("/></item>
 <item><zk:build>10</zk:build><zk:version>1.0</zk:version>
  <enclosure url="https://example.org/10.tar.gz" length="10" zk:signature=")" + sig + R"("/></item>
 <item><zk:build>11</zk:build><zk:version>1.1</zk:version>
  <enclosure url="http://example.org/11.tar.gz" length="10" zk:signature=")" + sig + R"("/></item>
 <item><zk:build>12</zk:build><zk:version>1.2</zk:version>
  <enclosure url="https://example.org/12.tar.gz" length="10" zk:signature="c2hvcnQ="/></item>
 <item><zk:version>1.3</zk:version>
  <enclosure url="https://example.org/13.tar.gz" length="10" zk:signature=")" + sig + R"("/></item>
 <item><zk:build>14</zk:build>
  <enclosure url="https://example.org/14.tar.gz" length="10" zk:signature=")" + sig + R"("/></item>
 <item><zk:build>15</zk:build><zk:version>1.5</zk:version>
  <enclosure url="https://example.org/15.tar.gz" length="0" zk:signature=")" + sig + R"("/></item>
 <item><zk:build>16</zk:build><zk:version>1.6</zk:version>
  <enclosure url="https://example.org/16.tar.gz" length="ten" zk:signature=")" + sig + R"("/></item>
 <item><zk:build>17</zk:build><zk:version>1.7</zk:version>
  <enclosure url="https://example.org/17.tar.gz" length="10"/></item>
 <item><zk:build>1&#9;8</zk:build><zk:version>1.8</zk:version>
  <enclosure url="https://example.org/18.tar.gz" length="10" zk:signature=")" + sig + R"("/></item>
 <item><zk:build>19</zk:build><zk:version>1.9</zk:version>
  <enclosure url="https:///19.tar.gz" length="10" zk:signature=")" + sig + R"("/></item>
</channel></rss>)";
    const auto items = Appcast::parse(feed);
    // Dropped: an http address, a short signature, no build, no version, a
    // length of nothing or of no number, no signature, a control character in
    // the build, an address without a host.
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].versionString, QStringLiteral("10"));
    EXPECT_EQ(items[0].itemDescription.value_or(QString()), QStringLiteral("<p>Old</p>"));
    EXPECT_EQ(Appcast::newest(items, QStringLiteral("9"))->versionString, QStringLiteral("10"));
    EXPECT_FALSE(Appcast::newest(items, QStringLiteral("10")).has_value());

    // Several newer builds: the newest is offered wherever it stands in the feed,
    // never the first or the least of them; the running build itself is not newer.
    auto build = [&](const QString &number) {
        AppcastItem it = items[0];
        it.versionString = number;
        return it;
    };
    const struct {
        QStringList feed;
        const char *running;
        std::optional<QString> offered;
    } rows[] = {
        {{"10", "11", "12"}, "9", QStringLiteral("12")},
        {{"12", "11", "10"}, "9", QStringLiteral("12")},
        {{"11", "12", "10", "9"}, "9", QStringLiteral("12")},
        {{"10", "12", "11"}, "11", QStringLiteral("12")},
        {{"10", "11", "12"}, "12", std::nullopt},
        {{"1.9", "1.10", "1.2"}, "1.1", QStringLiteral("1.10")},
        {{}, "0", std::nullopt},
    };
    for (const auto &row : rows) {
        std::vector<AppcastItem> feedItems;
        for (const QString &number : row.feed)
            feedItems.push_back(build(number));
        const auto offered = Appcast::newest(feedItems, QString::fromLatin1(row.running));
        EXPECT_EQ(offered ? std::optional<QString>(offered->versionString) : std::nullopt, row.offered)
            << row.feed.join(u',').toStdString() << " running " << row.running;
    }

    // Builds "10", "A" and "٢" in any order: the offer is the one that ranks
    // above both others, whichever comes first in the feed.
    auto item = [&](const QString &build) {
        AppcastItem it = items[0];
        it.versionString = build;
        return it;
    };
    const QStringList mixed{QStringLiteral("10"), QStringLiteral("A"), QStringLiteral("٢")};
    for (int rotation = 0; rotation < 3; ++rotation) {
        std::vector<AppcastItem> feedItems;
        for (int k = 0; k < 3; ++k)
            feedItems.push_back(item(mixed[(rotation + k) % 3]));
        const auto offered = Appcast::newest(feedItems, QStringLiteral("1"));
        ASSERT_TRUE(offered);
        for (const QString &other : mixed)
            EXPECT_GE(Appcast::compareVersions(offered->versionString, other), 0) << other.toStdString();
    }

    // Hostile or broken documents give nothing and never throw.
    const QByteArray hostile[] = {
        "not xml at all",
        "<rss><channel><item><zk:build>1",
        R"(<?xml version="1.0"?><!DOCTYPE r [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;">
           <!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;"><!ENTITY d "&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;">
           <!ENTITY e "&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;"><!ENTITY f "&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;">]>
           <rss><channel><item><description>&f;&f;&f;&f;</description></item></channel></rss>)",
        QByteArray(Appcast::kMaximumFeedBytes + 1, 'a'),
    };
    for (const QByteArray &doc : hostile)
        EXPECT_TRUE(Appcast::parse(doc).empty());
}

// ---- Archives

TEST(UpdateArchiveRules, SignatureAndContentsAreChecked)
{
    using ArchiveMaker::Entry;
    const auto keys = ArchiveMaker::keys(7);
    const auto other = ArchiveMaker::keys(8);
    const QString dir = zktest::tempDir();
    const QByteArray good = ArchiveMaker::tarGz(ArchiveMaker::release("5", "1.5", "new"));
    const QString goodPath = writeFile(dir + "/good.tar.gz", good);

    EXPECT_TRUE(UpdateArchive::verify(goodPath, ArchiveMaker::sign(good, keys), keys.publicKey));
    EXPECT_FALSE(UpdateArchive::verify(goodPath, ArchiveMaker::sign(good, other), keys.publicKey));
    QByteArray tampered = good;
    tampered[tampered.size() / 2] = char(tampered[tampered.size() / 2] ^ 0x01);
    EXPECT_FALSE(UpdateArchive::verify(writeFile(dir + "/tampered.tar.gz", tampered), ArchiveMaker::sign(good, keys),
                                       keys.publicKey));
    EXPECT_FALSE(UpdateArchive::verify(goodPath, QByteArray(64, '\0'), keys.publicKey));
    // A pipe where the archive was kept is refused at once, never waited on.
    const QString piped = dir + "/piped.tar.gz";
    ASSERT_EQ(::mkfifo(QFile::encodeName(piped).constData(), 0600), 0);
    EXPECT_FALSE(UpdateArchive::verify(piped, ArchiveMaker::sign(good, keys), keys.publicKey));

    const auto manifest = UpdateArchive::inspect(goodPath);
    ASSERT_TRUE(manifest.has_value());
    EXPECT_EQ(manifest->build, QStringLiteral("5"));
    EXPECT_EQ(manifest->version, QStringLiteral("1.5"));

    // Each of these is refused whole, before anything is written.
    auto base = ArchiveMaker::release("5", "1.5", "new");
    const std::vector<std::pair<const char *, Entry>> refused = {
        {"symbolic link", {"share/zephyl-kitty/Cats", "/etc", 0777, Entry::Type::symlink}},
        {"hard link", {"share/zephyl-kitty/passwd", "/etc/passwd", 0644, Entry::Type::hardlink}},
        {"climbing path", {"share/zephyl-kitty/../../../evil", "x", 0644, Entry::Type::file}},
        {"absolute path", {"/tmp/evil", "x", 0644, Entry::Type::file}},
        {"another folder", {"share/applications/evil.desktop", "x", 0644, Entry::Type::file}},
        {"another program", {"bin/sh", "x", 0755, Entry::Type::file}},
        {"dot path", {"share/zephyl-kitty/./x", "x", 0644, Entry::Type::file}},
    };
    for (const auto &[name, entry] : refused) {
        SCOPED_TRACE(name);
        auto entries = base;
        entries.push_back(entry);
        const QString path = writeFile(dir + "/refused.tar.gz", ArchiveMaker::tarGz(entries));
        QString why;
        EXPECT_FALSE(UpdateArchive::inspect(path, &why).has_value());
        EXPECT_FALSE(why.isEmpty());
    }
    // Without the executable, or without its own build, it is no update.
    auto noExecutable = base;
    noExecutable.erase(noExecutable.begin() + 1);
    EXPECT_FALSE(UpdateArchive::inspect(writeFile(dir + "/noexe.tar.gz", ArchiveMaker::tarGz(noExecutable))));
    EXPECT_FALSE(UpdateArchive::inspect(writeFile(dir + "/junk.tar.gz", "definitely not an archive")));
    // A path given twice is refused when unpacking rather than overwritten.
    auto twice = base;
    twice.push_back({"share/zephyl-kitty/info.json", "{}", 0644, Entry::Type::file});
    QDir().mkpath(dir + "/out");
    EXPECT_FALSE(UpdateArchive::extract(writeFile(dir + "/twice.tar.gz", ArchiveMaker::tarGz(twice)), dir + "/out"));
}

// ---- Login item

TEST(LoginItemEntry, AutostartEntryInTheConfigFolder)
{
    const QString config = zktest::tempDir();
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    const QString executable = QStringLiteral("/opt/Zephyl Kitty/it's \"$HOME\" 100%/bin/zephyl-kitty");
    LoginItem item(QStringLiteral("zephyl-kitty"), executable);
    EXPECT_EQ(item.entryPath(), config + QStringLiteral("/autostart/zephyl-kitty.desktop"));
    EXPECT_EQ(item.status(), LoginItem::Status::notRegistered);

    ASSERT_TRUE(item.registerItem());
    EXPECT_EQ(item.status(), LoginItem::Status::enabled);
    QFile file(item.entryPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    // Quoted as desktop entries want: \" \$ inside quotes, the backslashes doubled, % doubled.
    EXPECT_TRUE(text.contains(QStringLiteral(R"(Exec="/opt/Zephyl Kitty/it's \\"\\$HOME\\" 100%%/bin/zephyl-kitty")")))
        << text.toStdString();
    EXPECT_TRUE(text.startsWith(QStringLiteral("[Desktop Entry]\nType=Application\n")));

    // The user switched it off in the desktop's settings.
    writeFile(item.entryPath(), QByteArray("[Desktop Entry]\nType=Application\nExec=x\nHidden=true\n"));
    EXPECT_EQ(item.status(), LoginItem::Status::notRegistered);
    // An entry that starts another copy.
    writeFile(item.entryPath(), LoginItem::entryText(QStringLiteral("/usr/bin/zephyl-kitty")));
    EXPECT_EQ(item.status(), LoginItem::Status::notFound);
    // A pipe or a device in its place is none, at once (never waited on, nor read for ever).
    ASSERT_TRUE(QFile::remove(item.entryPath()));
    ASSERT_EQ(::mkfifo(QFile::encodeName(item.entryPath()).constData(), 0600), 0);
    EXPECT_EQ(item.status(), LoginItem::Status::notFound) << "a pipe";
    ASSERT_TRUE(QFile::remove(item.entryPath()) && QFile::link(QStringLiteral("/dev/zero"), item.entryPath()));
    EXPECT_EQ(item.status(), LoginItem::Status::notFound) << "a device";

    ASSERT_TRUE(item.unregisterItem());
    EXPECT_EQ(item.status(), LoginItem::Status::notRegistered);
    EXPECT_TRUE(item.unregisterItem()); // nothing left is success

    // A failed registration still marks start-up as settled, so it is not tried again.
    DefaultsStore store;
    DefaultsStore::setShared(&store);
    QDir(config + QStringLiteral("/autostart")).removeRecursively();
    writeFile(config + QStringLiteral("/autostart"), "a file where the folder should be");
    EXPECT_FALSE(Home::setOpensAtLogin(true, item));
    EXPECT_EQ(store.boolValue(QStringLiteral("zephyl.mac.login.settled")), true);
    DefaultsStore::setShared(nullptr);
    qunsetenv("XDG_CONFIG_HOME");
}

// The entry as a desktop reads it: GLib's launcher (what GNOME and others start
// autostart entries with) starts exactly this executable, whatever its path holds.
TEST(LoginItemEntry, TheDesktopsLauncherStartsThisExecutable)
{
    const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    if (gio.isEmpty())
        GTEST_SKIP() << "gio (libglib2.0-bin) is not installed";
    const QString root = zktest::tempDir();
    const QString executable = root + QStringLiteral("/Zephyl Kitty/it's \"$HOME\" a\\b `id` ;&|/zephyl-kitty");
    writeFile(executable, "#!/bin/sh\nprintf '%s' \"$0\" > \"$ZK_MARK\"\n");
    ASSERT_TRUE(QFile::setPermissions(executable, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString entry = writeFile(root + QStringLiteral("/zephyl-kitty.desktop"), LoginItem::entryText(executable));
    const QString mark = root + QStringLiteral("/ran");
    QProcess launcher;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ZK_MARK"), mark);
    launcher.setProcessEnvironment(environment);
    launcher.start(gio, {QStringLiteral("launch"), entry});
    ASSERT_TRUE(launcher.waitForFinished(60000));
    EXPECT_EQ(launcher.exitCode(), 0) << launcher.readAllStandardError().toStdString();
    const auto ran = [&] {
        QFile file(mark);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    EXPECT_TRUE(zktest::spinUntil([&] { return ran() == QFile::encodeName(executable); }, std::chrono::seconds(60)))
        << ran().toStdString();
}

// ---- Single instance

TEST(SingleInstanceSocket, LinksWorthForwarding)
{
    const QString huge = QStringLiteral("sorvane:cat/ask?q=") + QString(SingleInstance::maximumLinkLength, u'a');
    const QStringList in = {QStringLiteral("--some-flag"), QStringLiteral("sorvane:demo"),
                            QStringLiteral("SORVANE://cat/ask?q=%F0%9F%90%88"), QStringLiteral("https://evil.example/"),
                            huge, QStringLiteral("sorvane:bad link with spaces"), QStringLiteral("sorvane:instagram-connected?status=ok")};
    EXPECT_EQ(SingleInstance::linksFrom(in),
              (QStringList{QStringLiteral("sorvane:demo"), QStringLiteral("SORVANE://cat/ask?q=%F0%9F%90%88"),
                           QStringLiteral("sorvane:instagram-connected?status=ok")}));
    QStringList many;
    for (int i = 0; i < 20; ++i)
        many << QStringLiteral("sorvane:demo");
    EXPECT_EQ(SingleInstance::linksFrom(many).size(), SingleInstance::maximumLinks);
}

TEST(SingleInstanceSocket, SecondClaimForwardsItsLinks)
{
    const QString path = zktest::tempDir() + QStringLiteral("/app.socket");
    SingleInstance first(path);
    ASSERT_EQ(first.claim({}), SingleInstance::Outcome::primary);
    EXPECT_EQ(QFileInfo(path).permissions() & (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup | QFile::WriteGroup),
              QFile::Permissions());
    QSignalSpy activated(&first, &SingleInstance::activated);

    // A second launch runs elsewhere while this instance keeps its loop turning.
    for (const QStringList &links : {QStringList{QStringLiteral("sorvane:demo"), QStringLiteral("sorvane:cat/break")},
                                     QStringList{}}) {
        auto outcome = QtConcurrent::run([path, links] {
            SingleInstance second(path);
            return second.claim(links, std::chrono::seconds(20));
        });
        // The launch ends on the acknowledgement; the links are handled from the loop.
        ASSERT_TRUE(zktest::spinUntil([&] { return outcome.isFinished() && !activated.isEmpty(); }));
        EXPECT_EQ(outcome.result(), SingleInstance::Outcome::forwarded);
        EXPECT_EQ(activated.takeFirst().at(0).toStringList(), links);
    }
}

// The launch ends as soon as its links are here, however long the instance
// then takes to show them (a window opening, a dialog with its own loop).
TEST(SingleInstanceSocket, LaunchIsAnsweredBeforeItsLinksAreHandled)
{
    const QString path = zktest::tempDir() + QStringLiteral("/app.socket");
    SingleInstance first(path);
    ASSERT_EQ(first.claim({}), SingleInstance::Outcome::primary);
    QFuture<SingleInstance::Outcome> outcome;
    bool endedWhileHandling = false;
    QObject::connect(&first, &SingleInstance::activated, [&] {
        endedWhileHandling = zktest::spinUntil([&] { return outcome.isFinished(); });
    });
    outcome = QtConcurrent::run([path] {
        return SingleInstance(path).claim({QStringLiteral("sorvane:demo")}, std::chrono::seconds(20));
    });
    ASSERT_TRUE(zktest::spinUntil([&] { return outcome.isFinished(); }, std::chrono::seconds(60)));
    EXPECT_TRUE(endedWhileHandling);
    EXPECT_EQ(outcome.result(), SingleInstance::Outcome::forwarded);
}

// The socket goes only into a runtime folder that is this user's alone.
TEST(SingleInstanceSocket, RuntimeFolderOthersCanWriteIsNotUsed)
{
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    const QString runtime = zktest::tempDir() + QStringLiteral("/runtime");
    QDir().mkpath(runtime);
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
    const auto owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    ASSERT_TRUE(QFile::setPermissions(runtime, owner));
    EXPECT_EQ(SingleInstance::defaultSocketPath(), runtime + QStringLiteral("/zephyl-kitty.socket"));
    for (const auto shared : {QFile::WriteOther | QFile::ReadOther | QFile::ExeOther, QFile::WriteGroup | QFile::ExeGroup}) {
        ASSERT_TRUE(QFile::setPermissions(runtime, owner | shared));
        const QString path = SingleInstance::defaultSocketPath();
        ASSERT_FALSE(path.isEmpty());
        EXPECT_FALSE(path.startsWith(runtime + u'/')) << path.toStdString();
        // The folder taken instead is private.
        EXPECT_EQ(QFileInfo(QFileInfo(path).absolutePath()).permissions() & ~(owner | QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
                  QFile::Permissions());
    }
    if (saved.isNull())
        qunsetenv("XDG_RUNTIME_DIR");
    else
        qputenv("XDG_RUNTIME_DIR", saved);
}

TEST(SingleInstanceSocket, BusyFirstInstanceTimesOutAndHostilePeersAreDropped)
{
    const QString path = zktest::tempDir() + QStringLiteral("/app.socket");
    SingleInstance first(path);
    ASSERT_EQ(first.claim({}), SingleInstance::Outcome::primary);
    QSignalSpy activated(&first, &SingleInstance::activated);

    // The first instance is busy (its loop does not turn during this call).
    SingleInstance second(path);
    EXPECT_EQ(second.claim({QStringLiteral("sorvane:demo")}, std::chrono::milliseconds(300)),
              SingleInstance::Outcome::unanswered);
    EXPECT_FALSE(second.listening());

    // Peers that claim an enormous frame, or send garbage, change nothing and
    // do not keep a later launch from getting through.
    QLocalSocket huge;
    huge.connectToServer(path);
    ASSERT_TRUE(huge.waitForConnected(5000));
    huge.write(QByteArray::fromHex("7fffffff") + QByteArray(1000, 'x'));
    huge.flush();
    QLocalSocket garbage;
    garbage.connectToServer(path);
    ASSERT_TRUE(garbage.waitForConnected(5000));
    garbage.write(QByteArray::fromHex("00000005") + "{{{{{");
    garbage.flush();
    EXPECT_TRUE(zktest::spinUntil([&] { return huge.state() == QLocalSocket::UnconnectedState; }));
    auto outcome = QtConcurrent::run([path] { return SingleInstance(path).claim({QStringLiteral("sorvane:demo")}); });
    // The garbage frame counted as a plain launch; the busy one's may have arrived later.
    const auto sawDemo = [&] {
        for (const auto &call : activated) {
            if (call.at(0).toStringList() == QStringList{QStringLiteral("sorvane:demo")})
                return true;
        }
        return false;
    };
    ASSERT_TRUE(zktest::spinUntil([&] { return outcome.isFinished() && sawDemo(); }));
    EXPECT_EQ(outcome.result(), SingleInstance::Outcome::forwarded);
}

TEST(SingleInstanceSocket, StaleSocketOfACrashedInstanceIsTakenOver)
{
    const QString path = zktest::tempDir() + QStringLiteral("/app.socket");
    // A socket file with nobody behind it, as a killed process leaves it.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(path);
    ASSERT_LT(native.size(), qsizetype(sizeof address.sun_path));
    std::memcpy(address.sun_path, native.constData(), size_t(native.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_TRUE(QFileInfo::exists(path));

    SingleInstance next(path);
    EXPECT_EQ(next.claim({}, std::chrono::seconds(5)), SingleInstance::Outcome::primary);
    EXPECT_TRUE(next.listening());
    next.release();
    EXPECT_FALSE(QFileInfo::exists(path));
}

// ---- The session's end

TEST(SessionEnd, TerminationSignalsEndTheLoopThenTheDefaultsComeBack)
{
    int quits = 0;
    {
        QuitOnSignals quitOnSignals([&quits] { ++quits; });
        ASSERT_TRUE(quitOnSignals.installed());
        EXPECT_FALSE(QuitOnSignals([] {}).installed()); // one at a time
        for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
            const int before = quits;
            ASSERT_EQ(::raise(signal), 0);
            // The process is still here: the signal reaches the loop instead.
            ASSERT_TRUE(zktest::spinUntil([&] { return quits > before; }));
        }
    }
    struct sigaction now = {};
    ::sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
    // Another can be installed afterwards.
    EXPECT_TRUE(QuitOnSignals([] {}).installed());
}
