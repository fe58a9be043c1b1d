// Desktop notifications over the session bus of the test's own X session, to a
// small notification server that the test registers itself.

#include "AppTestSupport.h"
#include "support/TestSupport.h"

#include "platform/FreedesktopNotifications.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusError>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

struct Received {
    QString app;
    uint replaces = 0;
    QString icon;
    QString summary;
    QString body;
    QStringList actions;
    QVariantMap hints;
    int timeout = 0;
};

// Speaks org.freedesktop.Notifications from a connection of its own, as a
// notification daemon would.
class NotificationServer final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    explicit NotificationServer(QStringList capabilities = {QStringLiteral("body")})
        : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("notification-server"))),
          m_capabilities(std::move(capabilities))
    {
        registered = m_bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                          QDBusConnection::ExportAllSlots) &&
                     m_bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    ~NotificationServer() override
    {
        m_bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        m_bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        QDBusConnection::disconnectFromBus(QStringLiteral("notification-server"));
    }

    bool registered = false;
    bool refuse = false;
    bool capabilitiesBroken = false;
    QList<Received> received;

public Q_SLOTS:
    QStringList GetCapabilities()
    {
        if (capabilitiesBroken)
            sendErrorReply(QDBusError::Failed, QStringLiteral("broken"));
        return m_capabilities;
    }
    uint Notify(const QString &app, uint replaces, const QString &icon, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &hints, int timeout)
    {
        if (refuse) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("not now"));
            return 0;
        }
        received.append({app, replaces, icon, summary, body, actions, hints, timeout});
        return uint(received.size());
    }

private:
    QDBusConnection m_bus;
    QStringList m_capabilities;
};

bool serviceGone()
{
    return !QDBusConnection::sessionBus().interface()->isServiceRegistered(
        QStringLiteral("org.freedesktop.Notifications"));
}

} // namespace

TEST(DesktopNotifications, ReachTheServerAsWrittenAndInOrder)
{
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "the test runs inside its own session bus";
    NotificationServer server;
    ASSERT_TRUE(server.registered);
    FreedesktopNotifications notifications;
    notifications.post(QStringLiteral("Round complete"), QStringLiteral("25 minutes of focus done. <Take> 5 & rest."));
    notifications.post(QStringLiteral("Break over"), QStringLiteral("Ready for another round when you are."));
    ASSERT_TRUE(zktest::spinUntil([&] { return server.received.size() == 2; }));

    const Received &first = server.received[0];
    EXPECT_FALSE(first.app.isEmpty());
    EXPECT_EQ(first.replaces, 0u) << "each post is a new notice";
    EXPECT_EQ(first.summary, QStringLiteral("Round complete"));
    EXPECT_EQ(first.body, QStringLiteral("25 minutes of focus done. <Take> 5 & rest."))
        << "a server that reads no markup gets the text as it is";
    EXPECT_TRUE(first.actions.isEmpty());
    EXPECT_EQ(first.hints.value(QStringLiteral("suppress-sound")), QVariant(true));
    EXPECT_EQ(first.hints.value(QStringLiteral("desktop-entry")), QVariant(QCoreApplication::applicationName()));
    EXPECT_EQ(first.timeout, -1);
    EXPECT_EQ(server.received[1].summary, QStringLiteral("Break over"));
}

TEST(DesktopNotifications, AServerThatReadsMarkupGetsTheTextEscaped)
{
    NotificationServer server({QStringLiteral("body"), QStringLiteral("body-markup")});
    ASSERT_TRUE(server.registered);
    FreedesktopNotifications notifications;
    notifications.post(QStringLiteral("The cat is hungry"), QStringLiteral("<b>Since</b> Mar 1 & more"));
    ASSERT_TRUE(zktest::spinUntil([&] { return server.received.size() == 1; }));
    EXPECT_EQ(server.received[0].body, QStringLiteral("&lt;b&gt;Since&lt;/b&gt; Mar 1 &amp; more"));
}

TEST(DesktopNotifications, AServerThatCannotTellItsCapabilitiesStillGetsTheNotice)
{
    NotificationServer server({QStringLiteral("body-markup")});
    server.capabilitiesBroken = true;
    ASSERT_TRUE(server.registered);
    FreedesktopNotifications notifications;
    notifications.post(QStringLiteral("Break over"), QStringLiteral("a & b"));
    ASSERT_TRUE(zktest::spinUntil([&] { return server.received.size() == 1; }));
    EXPECT_EQ(server.received[0].body, QStringLiteral("a & b"));
}

TEST(DesktopNotifications, AnAbsentOrRefusingServerCostsNothingButTheNotice)
{
    ASSERT_TRUE(serviceGone());
    FreedesktopNotifications notifications;
    QSignalSpy failed(&notifications, &FreedesktopNotifications::postFailed);
    notifications.post(QStringLiteral("Break over"), QStringLiteral("lost"));
    ASSERT_TRUE(zktest::spinUntil([&] { return failed.count() == 1; }));

    // A server that comes up later gets the next notice.
    NotificationServer server;
    ASSERT_TRUE(server.registered);
    notifications.post(QStringLiteral("Break over"), QStringLiteral("found"));
    ASSERT_TRUE(zktest::spinUntil([&] { return server.received.size() == 1; }));
    EXPECT_EQ(server.received[0].body, QStringLiteral("found"));

    server.refuse = true;
    notifications.post(QStringLiteral("Round complete"), QStringLiteral("refused"));
    ASSERT_TRUE(zktest::spinUntil([&] { return failed.count() == 2; }));
    server.refuse = false;
    notifications.post(QStringLiteral("Round complete"), QStringLiteral("accepted"));
    ASSERT_TRUE(zktest::spinUntil([&] { return server.received.size() == 2; }));
    EXPECT_EQ(server.received[1].body, QStringLiteral("accepted"));
}

TEST(DesktopNotifications, AFocusRoundPostsOneNoticeAtItsEndAndOneAtTheEndOfTheRest)
{
    apptest::LanguageGuard language;
    NotificationServer server;
    ASSERT_TRUE(server.registered);
    FreedesktopNotifications notifications;

    apptest::Harness h;
    AppModel::Environment env;
    env.defaults = &h.store;
    env.clock = &h.clock;
    env.notifications = &notifications;
    env.windows = &h.windows;
    env.api = &h.service;
    env.selectedVariantID = [] { return QStringLiteral("drawn"); };
    AppModel model(env);
    L10n::setPreference(AppLanguage::en);

    model.startFocus(2);
    h.clock.advance(120s + 300s + 3600s);
    // A last notice of our own marks the end of what the model posted.
    notifications.post(QStringLiteral("end"), QString());
    ASSERT_TRUE(zktest::spinUntil([&] { return !server.received.isEmpty() && server.received.last().summary == "end"; }));
    ASSERT_EQ(server.received.size(), 3);
    EXPECT_EQ(server.received[0].summary, QStringLiteral("Round complete"));
    EXPECT_EQ(server.received[0].body, QStringLiteral("2 minutes of focus done. Take 5 minutes."));
    EXPECT_EQ(server.received[1].summary, QStringLiteral("Break over"));
    EXPECT_EQ(server.received[1].body, QStringLiteral("Ready for another round when you are."));
}

#include "NotificationsTest.moc"
