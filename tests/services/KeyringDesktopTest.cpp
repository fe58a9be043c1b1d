#include <gtest/gtest.h>

#include "ServiceTestSupport.h"

#include <QFile>
#include <QTemporaryDir>

// Against a real gnome-keyring in this test's own D-Bus session.
TEST(DesktopKeyring, TheSessionLivesInTheSecretServiceAndLeavesNoFile)
{
    QTemporaryDir dir;
    const QString filePath = dir.filePath(QStringLiteral("credentials.json"));
    KeychainStore store(makeQtKeychainBackend(), std::make_unique<FileSecretBackend>(filePath));

    auto keyring = makeQtKeychainBackend();
    auto stale = zktest::settle(
        keyring->write(KeychainStore::service, KeychainStore::refreshTokenAccount, QByteArray("stale")));
    ASSERT_EQ(stale->value->status, SecretBackend::Status::ok) << "the secret service did not answer";

    FakeClock clock;
    ZephylAPI api(ZephylAPI::Setup{QUrl(QStringLiteral("https://service.test")), nullptr, &clock, &store});
    ASSERT_TRUE(zktest::settle(ZephylAPITestAccess::persist(api, zktest::sampleSession("desk")))->done);

    EXPECT_EQ(zktest::settle(store.value(KeychainStore::accessTokenAccount))->value,
              std::optional<QString>(QStringLiteral("access-desk")));
    EXPECT_EQ(zktest::settle(store.value(KeychainStore::refreshTokenAccount))->value,
              std::optional<QString>(QStringLiteral("refresh-desk")));
    auto raw = zktest::settle(keyring->read(KeychainStore::service, KeychainStore::userIdAccount));
    EXPECT_EQ(raw->value->data, "user-1");
    EXPECT_FALSE(QFile::exists(filePath)) << "the file is only for when no secret service answers";

    // Removing the items leaves nothing behind in either place.
    ASSERT_TRUE(zktest::settle(store.remove(KeychainStore::accessTokenAccount))->done);
    EXPECT_EQ(zktest::settle(keyring->read(KeychainStore::service, KeychainStore::accessTokenAccount))->value->status,
              SecretBackend::Status::notFound);
    zktest::settle(store.remove(KeychainStore::refreshTokenAccount));
    zktest::settle(store.remove(KeychainStore::userIdAccount));
    const auto gone = zktest::settle(store.value(KeychainStore::refreshTokenAccount));
    ASSERT_TRUE(gone->value);
    EXPECT_FALSE(*gone->value);
}
