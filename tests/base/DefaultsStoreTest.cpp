#include <gtest/gtest.h>

#include "base/DefaultsStore.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <sys/stat.h>

TEST(DefaultsStore, ValuesSurviveARestartAndReadOnlyAsTheirOwnType)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("nested/defaults.json");
    {
        DefaultsStore store(path);
        store.setBool("zephyl.mac.companion.enabled", false);
        store.setInteger("zephyl.mac.focus.minutes", 25);
        store.setNumber("zephyl.mac.scale", 1.5);
        store.setString("zephyl.mac.language", "de");
        store.setData("zephyl.mac.record", QByteArray("\x00\x01rec", 5));
        EXPECT_TRUE(store.lastWriteSucceeded());
    }
    DefaultsStore store(path);
    EXPECT_EQ(store.boolValue("zephyl.mac.companion.enabled"), false);
    EXPECT_EQ(store.integer("zephyl.mac.focus.minutes"), 25);
    EXPECT_EQ(store.number("zephyl.mac.focus.minutes"), 25.0);
    EXPECT_EQ(store.string("zephyl.mac.language"), QString("de"));
    EXPECT_EQ(store.data("zephyl.mac.record"), QByteArray("\x00\x01rec", 5));

    // A value of another type reads as absent.
    EXPECT_FALSE(store.string("zephyl.mac.focus.minutes"));
    EXPECT_FALSE(store.boolValue("zephyl.mac.language"));
    EXPECT_FALSE(store.integer("zephyl.mac.scale"));
    EXPECT_FALSE(store.integer("zephyl.mac.companion.enabled"));
    EXPECT_FALSE(store.object("zephyl.mac.record"));
    EXPECT_FALSE(store.data("zephyl.mac.language"));
    EXPECT_FALSE(store.boolValue("zephyl.mac.missing"));
}

TEST(DefaultsStore, CorruptFileIsSetAsideAndTheStoreStartsEmpty)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("defaults.json");
    for (const QByteArray &junk : {QByteArray("{\"zephyl.mac.a\": tru"), QByteArray("[1,2]"), QByteArray("\xff\xfe")}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(junk);
        f.close();
        DefaultsStore store(path);
        EXPECT_FALSE(store.contains("zephyl.mac.a"));
        ASSERT_FALSE(store.setAsidePath().isEmpty());
        QFile aside(store.setAsidePath());
        ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
        EXPECT_EQ(aside.readAll(), junk);
        store.setBool("zephyl.mac.a", true);
        DefaultsStore reread(path);
        EXPECT_EQ(reread.boolValue("zephyl.mac.a"), true);
        QFile::remove(path);
    }
    // A pipe in its place is set aside at once, never waited on; a settings
    // file kept elsewhere behind a link is read.
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    DefaultsStore piped(path);
    EXPECT_FALSE(piped.setAsidePath().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(path));
    piped.setBool("zephyl.mac.a", true);
    ASSERT_TRUE(QFile::rename(path, dir.filePath("kept.json")));
    ASSERT_TRUE(QFile::link(dir.filePath("kept.json"), path));
    EXPECT_EQ(DefaultsStore(path).boolValue("zephyl.mac.a"), true);
}

TEST(DefaultsStore, ChangeSignalOnlyOnRealChangeAndRemoveIsPersisted)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("defaults.json");
    DefaultsStore store(path);
    QSignalSpy spy(&store, &DefaultsStore::changed);
    store.setInteger("zephyl.mac.n", 1);
    store.setInteger("zephyl.mac.n", 1);
    store.setInteger("zephyl.mac.n", 2);
    EXPECT_EQ(spy.count(), 2);
    store.remove("zephyl.mac.n");
    store.remove("zephyl.mac.n");
    EXPECT_EQ(spy.count(), 3);
    EXPECT_FALSE(DefaultsStore(path).contains("zephyl.mac.n"));
}

TEST(DefaultsStore, AFailedWriteKeepsTheValueInMemory)
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    // The parent of the file is a plain file, so nothing can be written there.
    DefaultsStore store(dir.filePath("blocker/defaults.json"));
    store.setString("zephyl.mac.language", "fr");
    EXPECT_FALSE(store.lastWriteSucceeded());
    EXPECT_EQ(store.string("zephyl.mac.language"), QString("fr"));
}

TEST(DefaultsStore, AWriteOnAFullDiskSaysWhyAndLeavesTheFileWhole)
{
    zktest::PrivateMount disk(64);
    if (disk.path().isEmpty())
        GTEST_SKIP() << "this machine does not let a test mount a file system of its own";
    const QString folder = disk.path() + QStringLiteral("/zephyl-kitty");
    const QString path = folder + QStringLiteral("/defaults.json");
    DefaultsStore store(path);
    store.setString("zephyl.mac.companion.name", "Miso");
    QSignalSpy told(&store, &DefaultsStore::writeProblemChanged);
    ASSERT_TRUE(disk.fill());
    store.setString("zephyl.mac.companion.name", QString(6000, u'x'));
    EXPECT_FALSE(store.lastWriteSucceeded());
    EXPECT_EQ(store.writeProblem(), FileWriteError(FileWriteError::Reason::diskFull, folder));
    EXPECT_EQ(DefaultsStore(path).string("zephyl.mac.companion.name"), QString("Miso")) << "the file as it was";
    ASSERT_TRUE(disk.unfill());
    store.writeAgain();
    EXPECT_TRUE(store.lastWriteSucceeded());
    EXPECT_EQ(told.count(), 2);
    EXPECT_EQ(DefaultsStore(path).string("zephyl.mac.companion.name"), QString(6000, u'x'));
}
