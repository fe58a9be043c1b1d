#pragma once

#include "platform/UserNotifications.h"

#include <QDBusConnection>
#include <QObject>

#include <optional>

// Notifications through the session bus's org.freedesktop.Notifications. Each
// post is one asynchronous Notify call that nobody waits for; a bus without a
// notification server, or a server that answers with an error, drops it.
class FreedesktopNotifications final : public QObject, public UserNotifications {
    Q_OBJECT
public:
    explicit FreedesktopNotifications(QDBusConnection bus = QDBusConnection::sessionBus(),
                                      QObject *parent = nullptr);

    void post(const QString &title, const QString &body) override;

    static constexpr const char *kService = "org.freedesktop.Notifications";
    static constexpr const char *kPath = "/org/freedesktop/Notifications";
    static constexpr const char *kInterface = "org.freedesktop.Notifications";

    // A body as the server shows it: a server that reads markup gets the
    // characters that markup would take escaped, so a text is shown as written.
    static QString plainBody(const QString &body, bool serverReadsMarkup);

Q_SIGNALS:
    // A Notify call failed (no server, or the server refused); for diagnostics.
    void postFailed(const QString &error);

private:
    void send(const QString &title, const QString &body, bool markup);

    QDBusConnection m_bus;
    // Whether the server reads markup in bodies; asked once, before the first post.
    std::optional<bool> m_markup;
    bool m_asking = false;
    QList<std::pair<QString, QString>> m_waiting;
};
