#include <gtest/gtest.h>

#include "base/Bundle.h"
#include "base/DefaultsStore.h"
#include "design/AppLanguage.h"
#include "web/BootScript.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace {
void write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}
} // namespace

TEST(BootScript, DrawnLookGivesEmptyPicturesAndWordsFallBackToEnglish)
{
    // A bundle without looks: the stale choice resolves to the drawn look.
    const QString root = zktest::tempDir();
    Bundle bare(root);
    Bundle::setShared(&bare);
    DefaultsStore store;
    DefaultsStore::setShared(&store);
    store.setString(QStringLiteral("zephyl.mac.companion.variant"), QStringLiteral("no-such-look"));

    const QJsonObject config = BootScript::configuration();
    EXPECT_EQ(config.size(), 9);
    for (const char *key : {"catFace", "catFaceLive", "catPortrait", "catHappy", "catConcerned"})
        EXPECT_EQ(config.value(QLatin1String(key)), QJsonValue(QString())) << key;
    EXPECT_EQ(config.value(QStringLiteral("workspacePath")).toString(), QStringLiteral("/instagram"));
    EXPECT_EQ(config.value(QStringLiteral("signInPath")).toString(), QStringLiteral("/signin?return_to=%2Finstagram"));

    const QJsonObject words = config.value(QStringLiteral("words")).toObject();
    const QJsonObject minutes = words.value(QStringLiteral("minutes")).toObject();
    const QJsonObject focus = words.value(QStringLiteral("focus")).toObject();
    EXPECT_EQ(minutes.size(), AppLanguages::spoken().size());
    EXPECT_EQ(focus.size(), AppLanguages::spoken().size());
    EXPECT_EQ(minutes.value(QStringLiteral("en")).toString(), QStringLiteral("%d min"));
    EXPECT_EQ(focus.value(QStringLiteral("en")).toString(), QStringLiteral("Focus"));
    for (const QString &code : focus.keys())
        EXPECT_FALSE(focus.value(code).toString().isEmpty()) << qPrintable(code);
    DefaultsStore::setShared(nullptr);
    Bundle::setShared(nullptr);
}

TEST(BootScript, ScriptIsConfigurationThenBridgeAndPicturesAreDataURIs)
{
    const QString root = zktest::tempDir();
    QDir().mkpath(root + QStringLiteral("/Web"));
    Bundle bare(root);
    Bundle::setShared(&bare);
    const QString script = BootScript::script();
    ASSERT_TRUE(script.startsWith(QStringLiteral("window.__zephylMacConfig = {")));
    EXPECT_TRUE(script.endsWith(QStringLiteral("};\n"))) << "no bridge script: the configuration alone";
    const QString json = script.mid(27, script.size() - 27 - 2);
    EXPECT_TRUE(QJsonDocument::fromJson(json.toUtf8()).isObject());
    EXPECT_EQ(BootScript::configuration().value(QStringLiteral("css")).toString(), QString());

    write(root + QStringLiteral("/Web/zephyl-mac.js"), "window.__zephylMac = {};");
    write(root + QStringLiteral("/Web/zephyl-mac.css"), ".zk { color: red }");
    EXPECT_TRUE(BootScript::script().endsWith(QStringLiteral(";\nwindow.__zephylMac = {};")));
    EXPECT_EQ(BootScript::configuration().value(QStringLiteral("css")).toString(), QStringLiteral(".zk { color: red }"));
    write(root + QStringLiteral("/Web/zephyl-mac.css"), QByteArray("\xff\xfe bad"));
    EXPECT_EQ(BootScript::resource(QStringLiteral("css")), QString()) << "not UTF-8";
    Bundle::setShared(nullptr);

    write(root + QStringLiteral("/face-live.WEBP"), "abc");
    EXPECT_EQ(BootScript::dataURI(root + QStringLiteral("/face-live.WEBP")), QStringLiteral("data:image/webp;base64,YWJj"));
    write(root + QStringLiteral("/x.png"), "abc");
    EXPECT_EQ(BootScript::dataURI(root + QStringLiteral("/x.png")), QStringLiteral("data:image/png;base64,YWJj"));
    EXPECT_EQ(BootScript::dataURI(root + QStringLiteral("/missing.jpg")), std::nullopt);
    EXPECT_EQ(BootScript::dataURI(std::nullopt), std::nullopt);

    EXPECT_EQ(BootScript::userAgentName(QString()), QStringLiteral("ZephylMac"));
    EXPECT_EQ(BootScript::userAgentName(QStringLiteral("0.1.0")), QStringLiteral("ZephylMac/0.1.0"));
}
