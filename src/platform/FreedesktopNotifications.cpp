#include "platform/FreedesktopNotifications.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

FreedesktopNotifications::FreedesktopNotifications(QDBusConnection bus, QObject *parent)
    : QObject(parent), m_bus(std::move(bus))
{
}

QString FreedesktopNotifications::plainBody(const QString &body, bool serverReadsMarkup)
{
    return serverReadsMarkup ? body.toHtmlEscaped() : body;
}

void FreedesktopNotifications::post(const QString &title, const QString &body)
{
    if (m_markup) {
        send(title, body);
        return;
    }
    // The first post learns what the server reads; posts made meanwhile wait
    // for that answer, in order.
    m_waiting.append({title, body});
    if (m_asking)
        return;
    m_asking = true;
    const QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                                             QString::fromLatin1(kInterface),
                                                             QStringLiteral("GetCapabilities"));
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QStringList> reply = *w;
        m_asking = false;
        if (reply.isError()) {
            // No server (or a broken one): these posts are lost; the next post asks again.
            m_waiting.clear();
            Q_EMIT postFailed(reply.error().message());
            return;
        }
        m_markup = reply.value().contains(QStringLiteral("body-markup"));
        const auto waiting = std::exchange(m_waiting, {});
        for (const auto &[title, body] : waiting)
            send(title, body);
    });
}

void FreedesktopNotifications::send(const QString &title, const QString &body)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                                       QString::fromLatin1(kInterface), QStringLiteral("Notify"));
    // app_name, replaces_id (0: a new notice), app_icon, summary, body, actions,
    // hints, expire_timeout (-1: the server's default).
    QString app = QCoreApplication::applicationName();
    if (app.isEmpty())
        app = QStringLiteral("Zephyl Kitty");
    const QVariantMap hints{{QStringLiteral("suppress-sound"), true}};
    call << app << uint(0) << QString() << title << plainBody(body, m_markup.value_or(false)) << QStringList()
         << hints << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isError())
            Q_EMIT postFailed(reply.error().message());
    });
}
